#include "HtmlReport.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string_view>

#include "EvalIntervals.h"
#include "EvalRender.h"
#include "PlotReplay.h"
#include "PlotSvg.h"
#include "SettingsTable.h"

namespace velmora::report {
namespace {

using evaluation::EvalSummary;
using evaluation::Evaluation;
using evaluation::fixedText;
using evaluation::Outcome;
using evaluation::RecordingResult;

// Budgets of escaped bytes for the texts of a row, which keep every row
// under 2 KB whatever the names: a longer text is shortened in the middle.
constexpr std::size_t kPathBudget = 700;
constexpr std::size_t kProblemBudget = 400;
constexpr std::size_t kGroupBudget = 200;

std::string html(std::string_view text) { return escapeXml(text); }

std::string shortened(std::string_view text, std::size_t budget) {
  std::string escaped = html(text);
  if (escaped.size() <= budget) {
    return escaped;
  }
  // Cut bytes may split a character; escapeXml marks that with '?'.
  for (std::size_t keep = std::min(budget, text.size()) / 2; keep > 0; keep = keep * 3 / 4) {
    escaped = html(text.substr(0, keep)) + "\xe2\x80\xa6" + html(text.substr(text.size() - keep));
    if (escaped.size() <= budget) {
      return escaped;
    }
  }
  return "\xe2\x80\xa6";
}

std::string shownPath(const std::string& path) { return shortened(path, kPathBudget); }

std::string optionalMs(std::optional<int64_t> value) {
  return value ? std::to_string(*value) + " ms" : "n/a";
}

std::string dateText(int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (gmtime_r(&time, &parts) == nullptr) {
    return std::to_string(seconds) + " s since 1970";
  }
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

const char* outcomeWords(Outcome outcome) {
  switch (outcome) {
    case Outcome::TruePositive:
      return "fall detected";
    case Outcome::Missed:
      return "fall missed";
    case Outcome::EarlyAlarm:
      return "early alarm";
    case Outcome::FalseAlarm:
      return "false alarm";
    case Outcome::TrueNegative:
      return "no alarm";
    case Outcome::Unreadable:
      break;
  }
  return "error";
}

bool wantsFigure(const RecordingResult& result) {
  return result.outcome == Outcome::Missed || result.outcome == Outcome::EarlyAlarm ||
         result.outcome == Outcome::FalseAlarm;
}

constexpr char kStyle[] =
    R"(body{font:14px/1.45 "DejaVu Sans",Arial,Helvetica,sans-serif;color:#222;margin:0 auto;max-width:1240px;padding:0 16px 48px}
h1{font-size:24px;margin:24px 0 4px}h2{font-size:19px;margin:32px 0 8px;border-bottom:1px solid #ddd;padding-bottom:4px}h3{font-size:15px;margin:18px 0 6px}
table{border-collapse:collapse;margin:6px 0}th,td{padding:3px 9px;text-align:left;border-bottom:1px solid #eee;vertical-align:top}
th{background:#f4f4f4}td.n,th.n{text-align:right;font-variant-numeric:tabular-nums}
table.sortable th{cursor:pointer}table.sortable th:hover{background:#e8e8e8}
.o-tp,.o-tn{color:#1a7f37}.o-missed,.o-false_alarm,.o-error{color:#c62828;font-weight:bold}.o-early{color:#d9480f;font-weight:bold}
tr.changed td{background:#fff4d6}.muted{color:#666}.key{font-size:22px;font-weight:bold}
p.in-sample{background:#fff4d6;border-left:4px solid #d9480f;padding:6px 10px}
figure{margin:18px 0 30px}figure svg{max-width:100%;height:auto;border:1px solid #ddd}figcaption{margin:4px 0}
tr:target,figure:target figcaption{background:#fff4d6}
#recordings-table td:first-child{word-break:break-all;max-width:560px}
p.saw{margin:2px 0;max-width:1100px}ul.fixes{margin:2px 0 0 0}
)";

constexpr char kScript[] =
    R"(for(const t of document.querySelectorAll('table.sortable')){const hs=t.tHead.rows[0].cells;for(let i=0;i<hs.length;i++){hs[i].addEventListener('click',()=>{const b=t.tBodies[0],d=hs[i].dataset.d=hs[i].dataset.d==='a'?'d':'a',k=r=>{const c=r.cells[i];return c.dataset.v!==undefined?c.dataset.v:c.textContent};const rows=[...b.rows];rows.sort((x,y)=>{const p=k(x),q=k(y),u=parseFloat(p),w=parseFloat(q);const c=(isNaN(u)||isNaN(w))?p.localeCompare(q):u-w;return d==='a'?c:-c});for(const r of rows)b.appendChild(r)})}}
const f=document.getElementById('outcome-filter');if(f){f.addEventListener('change',()=>{for(const r of document.getElementById('recordings-table').tBodies[0].rows){r.hidden=f.value!==''&&r.dataset.outcome!==f.value}})}
)";

// Opened at "#fig-N", the page shows that figure first, at the top: a
// headless browser's screenshot of a page scrolled far down to an anchor
// comes out blank, and a reader sent to one figure sees it at once.
constexpr char kOpenAtFigureScript[] =
    R"(const h=decodeURIComponent(location.hash.slice(1)),g=h.startsWith('fig-')&&document.getElementById(h);if(g){document.body.insertBefore(g,document.body.firstChild);scrollTo(0,0);addEventListener('load',()=>scrollTo(0,0))}
)";

// A histogram of the delays of the detected falls.
std::string delayFigure(const EvalSummary& summary, int64_t toleranceMs) {
  const std::vector<int64_t>& delays = summary.delaysMs;
  if (delays.empty()) {
    return "<p class=\"muted\">No fall was detected, so there are no delays to show.</p>\n";
  }
  // The range covers the annotated fall and some room either side.
  const double low = static_cast<double>(std::min<int64_t>(delays.front(), 0)) - 100;
  const double high = static_cast<double>(std::max<int64_t>(delays.back(), 0)) + 100;
  // Bins of 1, 2 or 5 times a power of ten ms, about 30 of them.
  const double raw = std::max(20.0, (high - low) / 30.0);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double width = 10.0 * power;
  for (const double factor : {1.0, 2.0, 5.0}) {
    if (factor * power >= raw) {
      width = factor * power;
      break;
    }
  }
  const double first = std::floor(low / width) * width;
  const auto bins = static_cast<std::size_t>(std::ceil((high - first) / width));
  std::vector<int64_t> counts(std::max<std::size_t>(bins, 1), 0);
  for (const int64_t delay : delays) {
    const auto bin =
        static_cast<std::size_t>(std::floor((static_cast<double>(delay) - first) / width));
    ++counts[std::min(bin, counts.size() - 1)];
  }
  const int64_t most = *std::max_element(counts.begin(), counts.end());
  constexpr double kW = 900, kH = 240, kLeft = 60, kTop = 16, kPlotW = 820, kPlotH = 170;
  const double barW = kPlotW / static_cast<double>(counts.size());
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"900\" height=\"240\" "
      "viewBox=\"0 0 900 240\" font-size=\"12\" role=\"img\" "
      "aria-label=\"Histogram of detection delays\" id=\"delay-histogram\">\n";
  svg += "<rect x=\"" + fixedText(kLeft, 0) + "\" y=\"" + fixedText(kTop, 0) + "\" width=\"" +
         fixedText(kPlotW, 0) + "\" height=\"" + fixedText(kPlotH, 0) +
         "\" fill=\"#fff\" stroke=\"#bbb\"/>\n";
  const auto xOf = [&](double ms) {
    return kLeft + kPlotW * (ms - first) / (width * static_cast<double>(counts.size()));
  };
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) {
      continue;
    }
    const double h = kPlotH * static_cast<double>(counts[i]) / static_cast<double>(most);
    svg += "<rect x=\"" + fixedText(kLeft + barW * static_cast<double>(i) + 1, 1) + "\" y=\"" +
           fixedText(kTop + kPlotH - h, 1) + "\" width=\"" + fixedText(std::max(barW - 2, 1.0), 1) +
           "\" height=\"" + fixedText(h, 1) + "\" fill=\"#1a7f37\"><title>" +
           fixedText(first + width * static_cast<double>(i), 0) + " to " +
           fixedText(first + width * static_cast<double>(i + 1), 0) +
           " ms: " + std::to_string(counts[i]) + "</title></rect>\n";
  }
  // Axis labels: a handful of bin edges, zero and the median.
  const std::size_t labelEvery = std::max<std::size_t>(1, counts.size() / 8);
  for (std::size_t i = 0; i <= counts.size(); i += labelEvery) {
    const double at = kLeft + barW * static_cast<double>(i);
    svg += "<text x=\"" + fixedText(at, 1) + "\" y=\"" + fixedText(kTop + kPlotH + 16, 0) +
           "\" text-anchor=\"middle\" fill=\"#666\">" +
           fixedText(first + width * static_cast<double>(i), 0) + "</text>\n";
  }
  svg += "<text x=\"" + fixedText(kLeft + kPlotW / 2, 0) + "\" y=\"" + fixedText(kH - 6, 0) +
         "\" text-anchor=\"middle\">delay of the first detection after the annotated fall "
         "(ms)</text>\n";
  svg += "<text x=\"" + fixedText(kLeft - 8, 0) + "\" y=\"" + fixedText(kTop + 10, 0) +
         "\" text-anchor=\"end\" fill=\"#666\">" + std::to_string(most) + "</text>\n";
  svg += "<text x=\"" + fixedText(kLeft - 8, 0) + "\" y=\"" + fixedText(kTop + kPlotH, 0) +
         "\" text-anchor=\"end\" fill=\"#666\">0</text>\n";
  svg += "<text x=\"14\" y=\"" + fixedText(kTop + kPlotH / 2, 0) +
         "\" text-anchor=\"middle\" transform=\"rotate(-90 14 " + fixedText(kTop + kPlotH / 2, 0) +
         ")\">falls</text>\n";
  int markers = 0;
  const auto marker = [&](double ms, const std::string& label, const char* colour) {
    const double at = xOf(ms);
    const double labelY = kTop + 14 + 16 * markers++;
    svg += "<line x1=\"" + fixedText(at, 1) + "\" y1=\"" + fixedText(kTop, 0) + "\" x2=\"" + fixedText(at, 1) +
           "\" y2=\"" + fixedText(kTop + kPlotH, 0) + "\" stroke=\"" + colour +
           "\" stroke-dasharray=\"4,3\"/>\n<text x=\"" + fixedText(at + 4, 1) + "\" y=\"" +
           fixedText(labelY, 0) + "\" fill=\"" + colour +
           "\" stroke=\"#fff\" stroke-width=\"3\" paint-order=\"stroke\">" + html(label) +
           "</text>\n";
  };
  marker(0, "annotated fall", "#111");
  if (const std::optional<int64_t> median = summary.delayPercentileMs(50)) {
    marker(static_cast<double>(*median), "median " + std::to_string(*median) + " ms", "#08519c");
  }
  if (toleranceMs > 0 && -static_cast<double>(toleranceMs) >= first) {
    marker(-static_cast<double>(toleranceMs), "early tolerance", "#d9480f");
  }
  svg += "</svg>\n";
  (void)kW;
  return svg;
}

std::string summaryTable(const EvalSummary& summary) {
  std::string out = "<table class=\"summary\">\n<tbody>\n";
  const auto row = [&out](const std::string& name, const std::string& value,
                          const std::string& note) {
    out += "<tr><th>" + html(name) + "</th><td class=\"n\">" + html(value) +
           "</td><td class=\"muted\">" + html(note) + "</td></tr>\n";
  };
  const auto percentInterval = [](std::optional<evaluation::Interval> interval) {
    return interval ? "95% interval " + fixedText(100.0 * interval->low, 1) + "\xe2\x80\x93" +
                          fixedText(100.0 * interval->high, 1) + "%; "
                    : std::string();
  };
  row("Sensitivity", evaluation::percentText(summary.sensitivity()),
      percentInterval(evaluation::wilsonInterval(summary.truePositives, summary.fallRecordings())) +
          std::to_string(summary.truePositives) + " of " +
          std::to_string(summary.fallRecordings()) + " fall recordings detected");
  row("Specificity", evaluation::percentText(summary.specificity()),
      percentInterval(
          evaluation::wilsonInterval(summary.trueNegatives, summary.dailyLivingRecordings())) +
          std::to_string(summary.trueNegatives) + " of " +
          std::to_string(summary.dailyLivingRecordings()) +
          " daily-living recordings without alarm");
  const std::optional<double> perHour = summary.falseAlarmsPerHour();
  const std::optional<evaluation::Interval> perHourInterval =
      evaluation::poissonRateInterval(summary.dailyLivingAlarms, summary.dailyLivingHours());
  row("False alarms per hour", perHour ? fixedText(*perHour, 2) : "n/a",
      (perHourInterval ? "95% interval " + fixedText(perHourInterval->low, 2) + "\xe2\x80\x93" +
                             fixedText(perHourInterval->high, 2) + "; "
                       : std::string()) +
          std::to_string(summary.dailyLivingAlarms) +
          (summary.dailyLivingAlarms == 1 ? " alarm in " : " alarms in ") +
          fixedText(summary.dailyLivingHours(), 2) + " h of daily living");
  row("Delay, median", optionalMs(summary.delayPercentileMs(50)), "of the detected falls");
  row("Delay, 90th percentile", optionalMs(summary.delayPercentileMs(90)), "");
  row("Delay, maximum", optionalMs(summary.delayPercentileMs(100)), "");
  out += "</tbody>\n</table>\n";

  out +=
      "<h3>Outcomes</h3>\n<table class=\"outcomes\">\n<thead><tr><th>outcome</th><th "
      "class=\"n\">recordings</th></tr></thead>\n<tbody>\n";
  const auto outcomeRow = [&out](const char* name, const char* words, int64_t count) {
    out += std::string("<tr><td class=\"o-") + name + "\">" + words + " (" + name +
           ")</td><td class=\"n\">" + std::to_string(count) + "</td></tr>\n";
  };
  outcomeRow("tp", "fall detected", summary.truePositives);
  outcomeRow("missed", "fall missed", summary.missed);
  outcomeRow("early", "early alarm", summary.earlyAlarms);
  outcomeRow("false_alarm", "false alarm", summary.falseAlarms);
  outcomeRow("tn", "no alarm", summary.trueNegatives);
  outcomeRow("error", "unreadable", summary.unreadable);
  out += "</tbody>\n</table>\n";

  out += "<h3>Codes of first detections</h3>\n";
  if (summary.firstCodes.empty()) {
    out += "<p class=\"muted\">No detections.</p>\n";
  } else {
    out +=
        "<table class=\"codes sortable\">\n<thead><tr><th class=\"n\">code</th><th "
        "class=\"n\">fall recordings</th><th class=\"n\">daily-living "
        "recordings</th></tr></thead>\n<tbody>\n";
    for (const evaluation::CodeCount& code : summary.firstCodes) {
      out += "<tr><td class=\"n\">" + std::to_string(code.code) + "</td><td class=\"n\">" +
             std::to_string(code.fallRecordings) + "</td><td class=\"n\">" +
             std::to_string(code.dailyLivingRecordings) + "</td></tr>\n";
    }
    out += "</tbody>\n</table>\n";
  }
  return out;
}

std::string groupTable(const std::vector<evaluation::GroupSummary>& groups) {
  std::string out =
      "<table class=\"groups sortable\" id=\"groups-table\">\n<thead><tr><th>group</th><th "
      "class=\"n\">recordings</th><th class=\"n\">tp</th><th class=\"n\">missed</th><th "
      "class=\"n\">early</th><th class=\"n\">false alarm</th><th class=\"n\">tn</th><th "
      "class=\"n\">error</th><th class=\"n\">sensitivity</th><th "
      "class=\"n\">specificity</th><th class=\"n\">false alarms/h</th></tr></thead>\n<tbody>\n";
  for (const evaluation::GroupSummary& group : groups) {
    const EvalSummary& s = group.summary;
    const std::optional<double> perHour = s.falseAlarmsPerHour();
    out += "<tr><td>" + html(evaluation::groupLabel(group.group)) + "</td>";
    for (const int64_t count : {s.recordings, s.truePositives, s.missed, s.earlyAlarms,
                                s.falseAlarms, s.trueNegatives, s.unreadable}) {
      out += "<td class=\"n\">" + std::to_string(count) + "</td>";
    }
    out += "<td class=\"n\">" + html(evaluation::percentText(s.sensitivity())) +
           "</td><td class=\"n\">" + html(evaluation::percentText(s.specificity())) +
           "</td><td class=\"n\">" + (perHour ? fixedText(*perHour, 2) : "n/a") + "</td></tr>\n";
  }
  out += "</tbody>\n</table>\n";
  return out;
}

// The changed settings in a line, and all of them in a table that opens
// on demand.
std::string settingsTable(const DetectorSettings& settings) {
  DetectorSettings defaults;
  VelmoraDefaultSettings(&defaults);
  std::string changedList;
  std::size_t changed = 0;
  std::string rows;
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    const int32_t value = settings.*field.member;
    const int32_t standard = defaults.*field.member;
    const bool isChanged = value != standard;
    if (isChanged) {
      changedList += std::string(changed > 0 ? ", " : "") + "<code>" + field.name + "=" +
                     std::to_string(value) + "</code> (default " + std::to_string(standard) + ")";
      ++changed;
    }
    rows += std::string(isChanged ? "<tr class=\"changed\">" : "<tr>") + "<td>" + field.name +
            "</td><td class=\"n\">" + std::to_string(value) + "</td><td class=\"n\">" +
            std::to_string(standard) + "</td><td>" + (isChanged ? "changed" : "") + "</td></tr>\n";
  }
  std::string out = "<p id=\"changed-settings\">" +
                    (changed == 0 ? std::string("Default settings: none changed.")
                                  : "Changed: " + changedList + ".") +
                    "</p>\n<details><summary>All " + std::to_string(VelmoraSettingsTable().size()) +
                    " settings</summary>\n<table class=\"settings sortable\" "
                    "id=\"settings-table\">\n<thead><tr><th>setting</th><th "
                    "class=\"n\">value</th><th class=\"n\">default</th><th></th></tr></thead>\n"
                    "<tbody>\n" +
                    rows + "</tbody>\n</table>\n</details>\n";
  return out;
}

// One row of the recordings table.
std::string recordingRow(const RecordingResult& result, std::size_t index, bool grouped,
                         bool hasFigure) {
  const std::string outcome = evaluation::outcomeName(result.outcome);
  const std::string id = std::to_string(index);
  std::string row = "<tr id=\"row-" + id + "\" data-outcome=\"" + outcome + "\"><td>" +
                    shownPath(result.path) + "</td><td class=\"o-" + outcome + "\">" +
                    outcomeWords(result.outcome) + "</td>";
  const auto number = [&row](const std::string& text) {
    row += "<td class=\"n\">" + text + "</td>";
  };
  const bool readable = result.outcome != Outcome::Unreadable;
  number(readable ? std::to_string(result.samples) : "");
  number(readable ? std::to_string(result.detections) : "");
  number(result.firstIndex ? std::to_string(*result.firstIndex) : "");
  number(result.firstIndex ? std::to_string(result.firstCode) : "");
  number(result.isFall && readable ? std::to_string(result.fallPosition) : "");
  const std::optional<int64_t> delay = evaluation::detectionDelayMs(result);
  number(delay ? std::to_string(*delay) : "");
  if (grouped) {
    row += "<td>" + shortened(evaluation::groupLabel(result.group), kGroupBudget) + "</td>";
  }
  row += "<td>";
  if (hasFigure) {
    row += "<a href=\"#fig-" + id + "\">figure</a>";
  } else if (!readable) {
    row += "<span class=\"muted\">" + shortened(result.problem, kProblemBudget) + "</span>";
  }
  row += "</td></tr>\n";
  return row;
}

}  // namespace

int64_t reportTime() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr) {
    const std::string_view text(epoch);
    int64_t seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (!text.empty() && error == std::errc() && end == text.data() + text.size() && seconds >= 0) {
      return seconds;
    }
  }
  return static_cast<int64_t>(std::time(nullptr));
}

// Missed falls by cause as horizontal bars.
std::string causeChart(const std::vector<ReportExplanation::CauseRow>& causes) {
  constexpr int kLabel = 300;
  constexpr int kBars = 560;
  constexpr int kRow = 24;
  int64_t largest = 1;
  int rows = 0;
  for (const auto& row : causes) {
    largest = std::max(largest, row.missed);
    rows += row.missed > 0 ? 1 : 0;
  }
  const int height = kRow * rows + 8;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(kLabel + kBars + 60) + "\" height=\"" +
                    std::to_string(height) +
                    "\" role=\"img\" aria-label=\"Missed falls by cause\" id=\"cause-chart\" "
                    "font-family=\"DejaVu Sans,Arial,sans-serif\" font-size=\"12\">\n";
  int y = 4;
  for (const auto& row : causes) {
    if (row.missed == 0) {
      continue;
    }
    const double width = static_cast<double>(row.missed) * kBars / static_cast<double>(largest);
    svg += "<text x=\"" + std::to_string(kLabel - 6) + "\" y=\"" + std::to_string(y + 15) +
           "\" text-anchor=\"end\">" + html(row.words) + "</text>\n<rect x=\"" +
           std::to_string(kLabel) + "\" y=\"" + std::to_string(y + 3) + "\" width=\"" +
           fixedText(std::max(width, 1.0), 1) + "\" height=\"" + std::to_string(kRow - 6) +
           "\" fill=\"#c62828\"/>\n<text x=\"" + fixedText(kLabel + width + 5, 1) + "\" y=\"" +
           std::to_string(y + 15) + "\">" + std::to_string(row.missed) + "</text>\n";
    y += kRow;
  }
  return svg + "</svg>\n";
}

std::string causeSection(const ReportExplanation& explanation) {
  std::string out = "<section id=\"causes\">\n<h2>Errors by cause</h2>\n";
  if (!explanation.note.empty()) {
    out += "<p class=\"muted\">" + html(explanation.note) + "</p>\n";
  }
  int64_t missed = 0;
  int64_t alarms = 0;
  for (const auto& row : explanation.causes) {
    missed += row.missed;
    alarms += row.early + row.falseAlarms;
  }
  if (missed > 0) {
    out +=
        "<h3>Missed falls</h3>\n<table id=\"causes-table\">\n<thead><tr><th>cause</th><th "
        "class=\"n\">missed</th><th>settings of the nearest fix</th></tr></thead>\n<tbody>\n";
    for (const auto& row : explanation.causes) {
      if (row.missed > 0) {
        out += "<tr><td>" + html(row.words) + "</td><td class=\"n\">" +
               std::to_string(row.missed) + "</td><td>" + html(row.settings) + "</td></tr>\n";
      }
    }
    out += "</tbody>\n</table>\n" + causeChart(explanation.causes);
  }
  if (alarms > 0) {
    out +=
        "<h3>Early and false alarms</h3>\n<table id=\"alarm-causes-table\">\n<thead><tr><th>"
        "cause</th><th class=\"n\">early</th><th class=\"n\">false alarm</th><th>settings of "
        "the nearest fix</th></tr></thead>\n<tbody>\n";
    for (const auto& row : explanation.causes) {
      if (row.early + row.falseAlarms > 0) {
        out += "<tr><td>" + html(row.alarmWords) + "</td><td class=\"n\">" +
               std::to_string(row.early) + "</td><td class=\"n\">" +
               std::to_string(row.falseAlarms) + "</td><td>" + html(row.settings) +
               "</td></tr>\n";
      }
    }
    out += "</tbody>\n</table>\n";
  }
  if (missed + alarms == 0) {
    out += "<p>No recording was missed or raised a false alarm.</p>\n";
  }
  out += "<h3>Best single fixes</h3>\n<table id=\"fixes-table\">\n<thead><tr>";
  for (std::size_t c = 0; c < explanation.fixHeader.size(); ++c) {
    out += std::string(c == 0 ? "<th>" : "<th class=\"n\">") + html(explanation.fixHeader[c]) +
           "</th>";
  }
  out += "</tr></thead>\n<tbody>\n";
  for (const auto& row : explanation.fixRows) {
    out += "<tr>";
    for (std::size_t c = 0; c < row.size(); ++c) {
      out += std::string(c == 0 ? "<td>" : "<td class=\"n\">") + html(row[c]) + "</td>";
    }
    out += "</tr>\n";
  }
  if (explanation.fixRows.empty()) {
    out += "<tr><td>no single setting change makes any error right</td></tr>\n";
  }
  return out + "</tbody>\n</table>\n</section>\n";
}

// The caption lines of an explained figure: the first says what the
// detector saw, the others are fixes.
std::string explainedCaption(const std::string& caption) {
  if (caption.empty()) {
    return {};
  }
  std::string out;
  std::string_view rest = caption;
  bool first = true;
  bool listOpen = false;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (first) {
      out += "<p class=\"saw\">" + html(line) + "</p>\n";
      first = false;
      continue;
    }
    if (!listOpen) {
      out += "<ul class=\"fixes\">\n";
      listOpen = true;
    }
    out += "<li>" + html(line) + "</li>\n";
  }
  return listOpen ? out + "</ul>\n" : out;
}

std::string renderHtmlReport(const Evaluation& evaluation, const HtmlReportOptions& options) {
  const std::vector<RecordingResult>& results = evaluation.results;
  const EvalSummary& overall = evaluation.overall;

  // The figures: every missed fall, early alarm and false alarm, in the
  // table's order, up to the limit.
  std::vector<std::size_t> wanted;
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (wantsFigure(results[i])) {
      wanted.push_back(i);
    }
  }
  const std::size_t drawn = std::min(wanted.size(), options.maxFigures);
  std::vector<std::string> figures(drawn);
  evaluation::parallelFor(
      drawn, options.jobs,
      [&](std::size_t k) {
        const std::size_t index = wanted[k];
        const RecordingResult& result = results[index];
        PlotSetup setup;
        setup.name = std::filesystem::path(result.path).filename().string();
        setup.settings = evaluation.settings;
        if (result.isFall) {
          setup.annotation = FallAnnotation{result.fallPosition};
        }
        setup.toleranceSamples = evaluation.toleranceSamples;
        setup.toleranceSeconds = evaluation.toleranceSeconds;
        const PlottedRecording plotted = plotRecording(result.path, setup);
        if (!plotted.opened) {
          figures[k] = "<p class=\"muted\">The recording could not be read again.</p>\n";
          return;
        }
        SvgOptions svgOptions;
        svgOptions.idPrefix = "f" + std::to_string(index) + "-";
        svgOptions.xmlDeclaration = false;
        std::string svg = renderPlotSvg(plotted.figure, svgOptions);
        if (svg.size() > kMaxFigureBytes) {
          svg = "<p class=\"muted\">The figure would take " + std::to_string(svg.size() / 1024) +
                " KB; draw it with velmora-plot.</p>\n";
        }
        figures[k] = std::move(svg);
      },
      {});
  std::vector<bool> hasFigure(results.size(), false);
  for (std::size_t k = 0; k < drawn; ++k) {
    hasFigure[wanted[k]] = true;
  }

  const int64_t runTime = options.runTime ? *options.runTime : reportTime();
  std::string out;
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Velmora evaluation report</title>\n<style>\n";
  out += kStyle;
  out += "</style>\n</head>\n<body>\n";
  out += "<h1>Velmora evaluation report</h1>\n<p class=\"muted\">" +
         std::to_string(results.size()) + " recordings \xc2\xb7 detector " +
         html(VelmoraGetVersion()) + " \xc2\xb7 " + dateText(runTime) + "</p>\n";
  const bool explained = options.explanation.has_value();
  if (explained) {
    out +=
        "<nav><a href=\"#run\">Run</a> \xc2\xb7 <a href=\"#summary\">Summary</a> \xc2\xb7 <a "
        "href=\"#causes\">Errors by cause</a> \xc2\xb7 <a href=\"#delays\">Delays</a> \xc2\xb7 <a "
        "href=\"#figures\">Figures</a> \xc2\xb7 <a href=\"#recordings\">Recordings</a></nav>\n";
  } else {
    out +=
        "<nav><a href=\"#run\">Run</a> \xc2\xb7 <a href=\"#summary\">Summary</a> \xc2\xb7 <a "
        "href=\"#delays\">Delays</a> \xc2\xb7 <a href=\"#recordings\">Recordings</a> \xc2\xb7 <a "
        "href=\"#figures\">Figures</a></nav>\n";
  }

  // The run.
  out += "<section id=\"run\">\n<h2>Run</h2>\n<table class=\"run\">\n<tbody>\n";
  out += "<tr><th>date</th><td>" + dateText(runTime) + "</td></tr>\n";
  out += "<tr><th>paths</th><td>";
  for (std::size_t i = 0; i < options.paths.size(); ++i) {
    out += (i > 0 ? "<br>" : "") + shownPath(options.paths[i]);
  }
  out += "</td></tr>\n";
  out += "<tr><th>detector version</th><td>" + html(VelmoraGetVersion()) + "</td></tr>\n";
  out += "<tr><th>early tolerance</th><td>" + evaluation::doubleText(evaluation.toleranceSeconds) +
         " s (" + std::to_string(evaluation.toleranceSamples) + " samples)</td></tr>\n";
  if (evaluation.grouped()) {
    out += "<tr><th>grouped by</th><td>" +
           html(evaluation::describeGroupKeys(evaluation.groupKeys)) + "</td></tr>\n";
  }
  out += "<tr><th>settings files</th><td>";
  for (std::size_t i = 0; i < evaluation.provenance.files.size(); ++i) {
    out += (i > 0 ? "<br>" : "") + shownPath(evaluation.provenance.files[i]);
  }
  if (evaluation.provenance.files.empty()) {
    out += "none";
  }
  out += "</td></tr>\n";
  out += "</tbody>\n</table>\n<h3>Settings</h3>\n";
  out += settingsTable(evaluation.settings);
  out += "</section>\n";

  // The summary.
  out += "<section id=\"summary\">\n<h2>Summary</h2>\n";
  if (overall.inSampleRecordings.value_or(0) > 0) {
    out += "<p class=\"in-sample\" id=\"in-sample\">" +
           html(evaluation::inSampleNote(*overall.inSampleRecordings, overall.recordings)) +
           "</p>\n";
  }
  out += summaryTable(overall);
  if (evaluation.grouped()) {
    out += "<h3>By group</h3>\n" + groupTable(evaluation.groups);
  }
  out += "</section>\n";

  if (explained) {
    out += causeSection(*options.explanation);
  }

  out += "<section id=\"delays\">\n<h2>Delays of the detected falls</h2>\n";
  out += delayFigure(overall, evaluation.toleranceSamples * 20);
  out += "</section>\n";

  // The recordings.
  std::string recordingsPart;
  recordingsPart +=
      "<section id=\"recordings\">\n<h2>Recordings</h2>\n<p><label>Show <select "
      "id=\"outcome-filter\"><option value=\"\">all outcomes</option><option "
      "value=\"tp\">fall detected</option><option value=\"missed\">fall missed</option><option "
      "value=\"early\">early alarm</option><option value=\"false_alarm\">false "
      "alarm</option><option value=\"tn\">no alarm</option><option "
      "value=\"error\">unreadable</option></select></label> <span class=\"muted\">Click a "
      "column's title to sort.</span></p>\n";
  recordingsPart +=
      "<table class=\"sortable\" id=\"recordings-table\">\n<thead><tr><th>recording</th><th>"
      "outcome</th><th class=\"n\">samples</th><th class=\"n\">detections</th><th "
      "class=\"n\">first detection</th><th class=\"n\">code</th><th class=\"n\">fall "
      "position</th><th class=\"n\">delay (ms)</th>";
  if (evaluation.grouped()) {
    recordingsPart += "<th>group</th>";
  }
  recordingsPart += "<th></th></tr></thead>\n<tbody>\n";
  for (std::size_t i = 0; i < results.size(); ++i) {
    recordingsPart += recordingRow(results[i], i, evaluation.grouped(), hasFigure[i]);
  }
  recordingsPart += "</tbody>\n</table>\n</section>\n";

  // The figures; with an explanation they come before the long table.
  if (!explained) {
    out += recordingsPart;
  }
  out +=
      "<section id=\"figures\">\n<h2>Figures</h2>\n<p class=\"muted\">Every missed fall, "
      "early alarm and false alarm, zoomed on the annotated fall and the first detection "
      "(3 s either side), as velmora-plot draws it.</p>\n";
  if (wanted.empty()) {
    out += "<p>No recording was missed or raised a false alarm.</p>\n";
  }
  for (std::size_t k = 0; k < drawn; ++k) {
    const std::size_t index = wanted[k];
    const RecordingResult& result = results[index];
    const std::string id = std::to_string(index);
    out += "<figure id=\"fig-" + id + "\" class=\"recording-figure\" data-outcome=\"" +
           evaluation::outcomeName(result.outcome) + "\">\n<figcaption><span class=\"o-" +
           evaluation::outcomeName(result.outcome) + "\">" + outcomeWords(result.outcome) +
           "</span>: " + shownPath(result.path) + " \xc2\xb7 <a href=\"#row-" + id +
           "\">back to its row</a></figcaption>\n";
    if (explained && index < options.explanation->captions.size()) {
      out += explainedCaption(options.explanation->captions[index]);
    }
    out += figures[k];
    out += "</figure>\n";
  }
  if (drawn < wanted.size()) {
    out += "<h3>Not drawn</h3>\n<p>The figures stop at " + std::to_string(options.maxFigures) +
           " (<code>--html-figures</code>); these " + std::to_string(wanted.size() - drawn) +
           " were not drawn:</p>\n<ul id=\"not-drawn\">\n";
    for (std::size_t k = drawn; k < wanted.size(); ++k) {
      const std::size_t index = wanted[k];
      out += "<li><a href=\"#row-" + std::to_string(index) + "\">" +
             shownPath(results[index].path) + "</a> (" + outcomeWords(results[index].outcome) +
             ")</li>\n";
    }
    out += "</ul>\n";
  }
  out += "</section>\n";
  if (explained) {
    out += recordingsPart;
  }
  out += "<script>\n";
  out += kScript;
  if (explained) {
    out += kOpenAtFigureScript;
  }
  out += "</script>\n</body>\n</html>\n";
  return out;
}

}  // namespace velmora::report
