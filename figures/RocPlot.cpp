#include "RocPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "EvalRender.h"
#include "EvalSummary.h"
#include "Search.h"

namespace tune {

using velmora::evaluation::fixedText;

namespace {

constexpr double kWidth = 780.0;
constexpr double kHeight = 480.0;
constexpr double kLeft = 64.0;
constexpr double kRight = 200.0;  // room for the legend
constexpr double kTop = 44.0;
constexpr double kBottom = 64.0;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;
// Label text: 11 px sans-serif, about this wide per character.
constexpr double kLabelSize = 11.0;
constexpr double kCharWidth = 6.3;

const char* const kFrontColour = "#1f5fbf";
const char* const kBudgetColour = "#c62828";

std::string oneDecimal(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", value);
  return buffer;
}

std::string escapeText(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

// "0", "0.5", "20": no trailing zeros.
std::string tickText(double value) {
  std::string text = fixedText(value, 2);
  while (text.back() == '0') {
    text.pop_back();
  }
  if (text.back() == '.') {
    text.pop_back();
  }
  return text;
}

std::string pointFigures(const RocPoint& point) {
  return fixedText(100.0 * point.sensitivity, 1) + "%, " + fixedText(point.falseAlarmsPerHour, 2) + "/h";
}

std::string hoverText(const RocPoint& point, const std::string& name) {
  return name + ": sensitivity " + fixedText(100.0 * point.sensitivity, 1) + "%, " +
         fixedText(point.falseAlarmsPerHour, 2) + " false alarms per hour";
}

struct Box {
  double left, top, right, bottom;
  [[nodiscard]] bool overlaps(const Box& other) const {
    return left < other.right && other.left < right && top < other.bottom && other.top < bottom;
  }
  [[nodiscard]] bool inside(const Box& area) const {
    return left >= area.left && right <= area.right && top >= area.top && bottom <= area.bottom;
  }
};

// A text label placed beside a point where it covers no earlier label; none
// when every place is taken (the point's hover text still has it all).
std::string placeLabel(double cx, double cy, const std::string& text, std::vector<Box>& taken) {
  const double width = kCharWidth * static_cast<double>(text.size());
  const Box area{kLeft + 2, kTop + 2, kLeft + kPlotWidth - 2, kTop + kPlotHeight - 2};
  struct Place {
    double x, baseline;
    bool anchorEnd;
  };
  // Above left first: the front climbs to the right, so that side is open.
  const Place places[] = {{cx - 6, cy - 7, true},
                          {cx + 7, cy + 15, false},
                          {cx + 7, cy - 7, false},
                          {cx - 8, cy + 15, true}};
  for (const Place& place : places) {
    const double left = place.anchorEnd ? place.x - width : place.x;
    const Box box{left - 1, place.baseline - kLabelSize, left + width + 1, place.baseline + 3};
    if (!box.inside(area) || std::any_of(taken.begin(), taken.end(), [&](const Box& other) {
          return box.overlaps(other);
        })) {
      continue;
    }
    taken.push_back(box);
    return "<text x=\"" + oneDecimal(place.x) + "\" y=\"" + oneDecimal(place.baseline) + "\"" +
           (place.anchorEnd ? " text-anchor=\"end\"" : "") + ">" + escapeText(text) + "</text>\n";
  }
  return {};
}

}  // namespace

std::vector<double> rocAxisTicks(double highestRate) {
  const double reach = std::max(5.0, highestRate);
  std::vector<double> ticks = {0.0, 0.5, 1.0, 2.0, 3.0, 5.0};
  // Then 10, 20, 50, 100, ... until one reaches the highest rate.
  for (double decade = 10.0; ticks.back() < reach && std::isfinite(decade); decade *= 10.0) {
    for (const double factor : {1.0, 2.0, 5.0}) {
      if (ticks.back() < reach) {
        ticks.push_back(factor * decade);
      }
    }
  }
  return ticks;
}

double rocAxisPosition(double falseAlarmsPerHour, double axisMax) {
  return std::log10(1.0 + std::max(0.0, falseAlarmsPerHour)) / std::log10(1.0 + axisMax);
}

std::string rocSvg(const RocFigure& figure) {
  const std::vector<RocPoint>& points = figure.points;
  double highest = figure.base ? figure.base->falseAlarmsPerHour : 0.0;
  for (const RocPoint& point : points) {
    highest = std::max(highest, point.falseAlarmsPerHour);
  }
  if (figure.budget) {
    highest = std::max(highest, *figure.budget);
  }
  const std::vector<double> ticks = rocAxisTicks(highest);
  const double axisMax = ticks.back();
  const auto x = [&](double rate) { return kLeft + rocAxisPosition(rate, axisMax) * kPlotWidth; };
  const auto y = [&](double sensitivity) { return kTop + (1.0 - sensitivity) * kPlotHeight; };

  std::string svg;
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + oneDecimal(kWidth) + "\" height=\"" +
         oneDecimal(kHeight) + "\" viewBox=\"0 0 " + oneDecimal(kWidth) + " " + oneDecimal(kHeight) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<text x=\"" + oneDecimal(kLeft) + "\" y=\"26\" font-size=\"14\">" +
         escapeText(figure.title) + "</text>\n";
  // Grid and ticks.
  for (const double tick : ticks) {
    svg += "<line x1=\"" + oneDecimal(x(tick)) + "\" y1=\"" + oneDecimal(kTop) + "\" x2=\"" +
           oneDecimal(x(tick)) + "\" y2=\"" + oneDecimal(kTop + kPlotHeight) +
           "\" stroke=\"#e0e0e0\"/>\n";
    svg += "<text x=\"" + oneDecimal(x(tick)) + "\" y=\"" + oneDecimal(kTop + kPlotHeight + 16) +
           "\" text-anchor=\"middle\">" + tickText(tick) + "</text>\n";
  }
  for (int percent = 0; percent <= 100; percent += 10) {
    const double value = percent / 100.0;
    svg += "<line x1=\"" + oneDecimal(kLeft) + "\" y1=\"" + oneDecimal(y(value)) + "\" x2=\"" +
           oneDecimal(kLeft + kPlotWidth) + "\" y2=\"" + oneDecimal(y(value)) + "\" stroke=\"" +
           (percent % 20 == 0 ? "#e0e0e0" : "#f2f2f2") + "\"/>\n";
    if (percent % 20 == 0) {
      svg += "<text x=\"" + oneDecimal(kLeft - 6) + "\" y=\"" + oneDecimal(y(value) + 4) +
             "\" text-anchor=\"end\">" + std::to_string(percent) + "</text>\n";
    }
  }
  svg += "<rect x=\"" + oneDecimal(kLeft) + "\" y=\"" + oneDecimal(kTop) + "\" width=\"" +
         oneDecimal(kPlotWidth) + "\" height=\"" + oneDecimal(kPlotHeight) +
         "\" fill=\"none\" stroke=\"#404040\"/>\n";
  svg += "<text x=\"" + oneDecimal(kLeft + kPlotWidth / 2) + "\" y=\"" + oneDecimal(kHeight - 30) +
         "\" text-anchor=\"middle\">false alarms per hour of daily living</text>\n";
  svg += "<text x=\"" + oneDecimal(kLeft + kPlotWidth / 2) + "\" y=\"" + oneDecimal(kHeight - 14) +
         "\" text-anchor=\"middle\" font-size=\"11\" fill=\"#666\">symmetric log scale: "
         "distance from 0 grows as log(1 + rate), linear below 1 per hour</text>\n";
  svg += "<text transform=\"translate(18 " + oneDecimal(kTop + kPlotHeight / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">sensitivity (%)</text>\n";

  std::vector<Box> taken;
  // The budget: a line, and the most sensitive front point within it.
  std::optional<std::size_t> bestWithin;
  const std::vector<std::size_t> front = paretoFront(points);
  if (figure.budget) {
    const double bx = x(*figure.budget);
    svg += "<line x1=\"" + oneDecimal(bx) + "\" y1=\"" + oneDecimal(kTop) + "\" x2=\"" + oneDecimal(bx) +
           "\" y2=\"" + oneDecimal(kTop + kPlotHeight) + "\" stroke=\"" + kBudgetColour +
           "\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"><title>budget: " +
           tickText(*figure.budget) + " false alarms per hour</title></line>\n";
    const std::string text = "budget " + tickText(*figure.budget) + "/h";
    const double width = kCharWidth * static_cast<double>(text.size());
    const bool right = bx + 4 + width <= kLeft + kPlotWidth;
    const double tx = right ? bx + 4 : bx - 4;
    svg += "<text x=\"" + oneDecimal(tx) + "\" y=\"" + oneDecimal(kTop + 14) + "\"" +
           (right ? "" : " text-anchor=\"end\"") + " fill=\"" + kBudgetColour + "\">" + text +
           "</text>\n";
    taken.push_back(Box{right ? tx - 1 : tx - width - 1, kTop + 2, right ? tx + width + 1 : tx + 1,
                        kTop + 18});
    bestWithin = bestWithinBudget(points, front, *figure.budget);
  }

  // Every point, then the front as a staircase over them.
  svg += "<g fill=\"#9e9e9e\">\n";
  for (const RocPoint& point : points) {
    svg += "<circle cx=\"" + oneDecimal(x(point.falseAlarmsPerHour)) + "\" cy=\"" +
           oneDecimal(y(point.sensitivity)) + "\" r=\"2.5\"/>\n";
  }
  svg += "</g>\n";
  if (!front.empty()) {
    std::string path;
    for (std::size_t i = 0; i < front.size(); ++i) {
      const RocPoint& point = points[front[i]];
      path += i == 0 ? "M" + oneDecimal(x(point.falseAlarmsPerHour)) + " " +
                           oneDecimal(y(point.sensitivity))
                     : " H" + oneDecimal(x(point.falseAlarmsPerHour)) + " V" +
                           oneDecimal(y(point.sensitivity));
    }
    svg += "<path d=\"" + path + "\" fill=\"none\" stroke=\"" + kFrontColour +
           "\" stroke-width=\"1.5\"/>\n";
    if (bestWithin) {
      svg += "<circle cx=\"" + oneDecimal(x(points[*bestWithin].falseAlarmsPerHour)) + "\" cy=\"" +
             oneDecimal(y(points[*bestWithin].sensitivity)) + "\" r=\"8\" fill=\"none\" stroke=\"" +
             kBudgetColour + "\" stroke-width=\"2\"/>\n";
    }
    svg += "<g fill=\"" + std::string(kFrontColour) + "\">\n";
    for (const std::size_t index : front) {
      const RocPoint& point = points[index];
      svg += "<circle cx=\"" + oneDecimal(x(point.falseAlarmsPerHour)) + "\" cy=\"" +
             oneDecimal(y(point.sensitivity)) + "\" r=\"4\"><title>" +
             escapeText(hoverText(point, point.settings.empty() ? "point" : point.settings)) +
             "</title></circle>\n";
    }
    svg += "</g>\n";
    // Labels cover no front point nor the base; the best within the budget
    // is placed first, so it always gets one.
    for (const std::size_t index : front) {
      const double cx = x(points[index].falseAlarmsPerHour);
      const double cy = y(points[index].sensitivity);
      taken.push_back(Box{cx - 5, cy - 5, cx + 5, cy + 5});
    }
    if (figure.base) {
      const double cx = x(figure.base->falseAlarmsPerHour);
      const double cy = y(figure.base->sensitivity);
      taken.push_back(Box{cx - 8, cy - 8, cx + 8, cy + 8});
    }
    std::vector<std::size_t> labelOrder = front;
    if (bestWithin) {
      std::stable_partition(labelOrder.begin(), labelOrder.end(),
                            [&](std::size_t index) { return index == *bestWithin; });
    }
    svg += "<g font-size=\"11\" fill=\"#1a3f7a\" stroke=\"white\" stroke-width=\"3\" "
           "paint-order=\"stroke\">\n";
    for (const std::size_t index : labelOrder) {
      const RocPoint& point = points[index];
      svg += placeLabel(x(point.falseAlarmsPerHour), y(point.sensitivity), pointFigures(point),
                        taken);
    }
    svg += "</g>\n";
  }
  if (figure.base) {
    const double cx = x(figure.base->falseAlarmsPerHour);
    const double cy = y(figure.base->sensitivity);
    svg += "<path d=\"M" + oneDecimal(cx) + " " + oneDecimal(cy - 7) + " L" + oneDecimal(cx + 7) + " " +
           oneDecimal(cy) + " L" + oneDecimal(cx) + " " + oneDecimal(cy + 7) + " L" + oneDecimal(cx - 7) + " " +
           oneDecimal(cy) + " Z\" fill=\"#d03030\" stroke=\"white\"><title>" +
           escapeText(hoverText(*figure.base, "base settings")) + "</title></path>\n";
  }

  // Legend.
  const double legendX = kLeft + kPlotWidth + 16;
  double legendY = kTop + 10;
  const auto legendText = [&](const std::string& text) {
    svg += "<text x=\"" + oneDecimal(legendX + 18) + "\" y=\"" + oneDecimal(legendY + 4) + "\">" +
           escapeText(text) + "</text>\n";
    legendY += 20;
  };
  svg += "<circle cx=\"" + oneDecimal(legendX + 6) + "\" cy=\"" + oneDecimal(legendY) +
         "\" r=\"2.5\" fill=\"#9e9e9e\"/>\n";
  legendText(std::to_string(points.size()) + (points.size() == 1 ? " point" : " points"));
  svg += "<circle cx=\"" + oneDecimal(legendX + 6) + "\" cy=\"" + oneDecimal(legendY) + "\" r=\"4\" fill=\"" +
         kFrontColour + "\"/>\n";
  legendText("front (" + std::to_string(front.size()) + ")");
  if (figure.base) {
    svg += "<path d=\"M" + oneDecimal(legendX + 6) + " " + oneDecimal(legendY - 7) +
           " l7 7 l-7 7 l-7 -7 Z\" fill=\"#d03030\"/>\n";
    legendText("base settings");
  }
  if (figure.budget) {
    svg += "<line x1=\"" + oneDecimal(legendX + 6) + "\" y1=\"" + oneDecimal(legendY - 7) + "\" x2=\"" +
           oneDecimal(legendX + 6) + "\" y2=\"" + oneDecimal(legendY + 7) + "\" stroke=\"" +
           kBudgetColour + "\" stroke-width=\"1.5\" stroke-dasharray=\"4 3\"/>\n";
    legendText("false-alarm budget");
    if (bestWithin) {
      svg += "<circle cx=\"" + oneDecimal(legendX + 6) + "\" cy=\"" + oneDecimal(legendY) +
             "\" r=\"6\" fill=\"none\" stroke=\"" + kBudgetColour + "\" stroke-width=\"2\"/>\n";
      legendText("best within it");
    }
  }
  svg += "<text x=\"" + oneDecimal(legendX) + "\" y=\"" + oneDecimal(legendY + 4) +
         "\" font-size=\"11\" fill=\"#666\">front labels: sensitivity,</text>\n";
  svg += "<text x=\"" + oneDecimal(legendX) + "\" y=\"" + oneDecimal(legendY + 18) +
         "\" font-size=\"11\" fill=\"#666\">false alarms per hour;</text>\n";
  svg += "<text x=\"" + oneDecimal(legendX) + "\" y=\"" + oneDecimal(legendY + 32) +
         "\" font-size=\"11\" fill=\"#666\">hover a point for its settings</text>\n";
  svg += "</svg>\n";
  return svg;
}

std::string sweepRocSvg(const SweepResults& results, std::optional<double> budget) {
  RocFigure figure;
  std::vector<std::size_t> kept;
  figure.points = sweepRocPoints(results, kept);
  if (results.baseCounts) {
    const velmora::evaluation::OutcomeCounts& s = *results.baseCounts;
    if (s.sensitivity() && s.falseAlarmsPerHour()) {
      figure.base = RocPoint{*s.falseAlarmsPerHour(), *s.sensitivity()};
    }
  }
  figure.title = "Sweep of";
  for (std::size_t d = 0; d < results.space.size(); ++d) {
    figure.title += std::string(d == 0 ? " " : ", ") + results.space[d].name();
  }
  figure.budget = budget;
  return rocSvg(figure);
}

}  // namespace tune
