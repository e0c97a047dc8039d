#include "RocPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "EvalSummary.h"
#include "Search.h"

namespace tune {

namespace {

constexpr double kWidth = 640.0;
constexpr double kHeight = 440.0;
constexpr double kLeft = 64.0;
constexpr double kRight = 170.0;  // room for the legend
constexpr double kTop = 40.0;
constexpr double kBottom = 52.0;

std::string number(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", value);
  return buffer;
}

std::string escapeXml(const std::string& text) {
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

// A tick spacing of 1, 2 or 5 times a power of ten giving about five ticks.
double tickStep(double span) {
  const double rough = span / 5.0;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (const double factor : {1.0, 2.0, 5.0}) {
    if (factor * power >= rough) {
      return factor * power;
    }
  }
  return 10.0 * power;
}

std::string tickLabel(double value, double step) {
  char buffer[32];
  const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step)));
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

}  // namespace

std::string rocSvg(const std::vector<RocPoint>& points, const std::optional<RocPoint>& base,
                   const std::string& title) {
  double maxRate = base ? base->falseAlarmsPerHour : 0.0;
  for (const RocPoint& point : points) {
    maxRate = std::max(maxRate, point.falseAlarmsPerHour);
  }
  const double xStep = tickStep(maxRate > 0.0 ? maxRate : 1.0);
  const double xMax = std::max(1.0, std::ceil(maxRate / xStep)) * xStep;
  const double plotWidth = kWidth - kLeft - kRight;
  const double plotHeight = kHeight - kTop - kBottom;
  const auto x = [&](double rate) { return kLeft + rate / xMax * plotWidth; };
  const auto y = [&](double sensitivity) { return kTop + (1.0 - sensitivity) * plotHeight; };

  std::string svg;
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(kWidth) + "\" height=\"" +
         number(kHeight) + "\" viewBox=\"0 0 " + number(kWidth) + " " + number(kHeight) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<text x=\"" + number(kLeft) + "\" y=\"24\" font-size=\"14\">" + escapeXml(title) +
         "</text>\n";
  // Grid and ticks.
  for (int i = 0; i <= static_cast<int>(std::lround(xMax / xStep)); ++i) {
    const double value = i * xStep;
    svg += "<line x1=\"" + number(x(value)) + "\" y1=\"" + number(kTop) + "\" x2=\"" +
           number(x(value)) + "\" y2=\"" + number(kTop + plotHeight) + "\" stroke=\"#e0e0e0\"/>\n";
    svg += "<text x=\"" + number(x(value)) + "\" y=\"" + number(kTop + plotHeight + 16) +
           "\" text-anchor=\"middle\">" + tickLabel(value, xStep) + "</text>\n";
  }
  for (int percent = 0; percent <= 100; percent += 20) {
    const double value = percent / 100.0;
    svg += "<line x1=\"" + number(kLeft) + "\" y1=\"" + number(y(value)) + "\" x2=\"" +
           number(kLeft + plotWidth) + "\" y2=\"" + number(y(value)) + "\" stroke=\"#e0e0e0\"/>\n";
    svg += "<text x=\"" + number(kLeft - 6) + "\" y=\"" + number(y(value) + 4) +
           "\" text-anchor=\"end\">" + std::to_string(percent) + "</text>\n";
  }
  svg += "<rect x=\"" + number(kLeft) + "\" y=\"" + number(kTop) + "\" width=\"" +
         number(plotWidth) + "\" height=\"" + number(plotHeight) +
         "\" fill=\"none\" stroke=\"#404040\"/>\n";
  svg += "<text x=\"" + number(kLeft + plotWidth / 2) + "\" y=\"" + number(kHeight - 12) +
         "\" text-anchor=\"middle\">false alarms per hour of daily living</text>\n";
  svg += "<text transform=\"translate(16 " + number(kTop + plotHeight / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">sensitivity (%)</text>\n";

  // Every point, then the front as a staircase over them.
  svg += "<g fill=\"#9e9e9e\">\n";
  for (const RocPoint& point : points) {
    svg += "<circle cx=\"" + number(x(point.falseAlarmsPerHour)) + "\" cy=\"" +
           number(y(point.sensitivity)) + "\" r=\"2.5\"/>\n";
  }
  svg += "</g>\n";
  const std::vector<std::size_t> front = paretoFront(points);
  if (!front.empty()) {
    std::string path;
    for (std::size_t i = 0; i < front.size(); ++i) {
      const RocPoint& point = points[front[i]];
      if (i == 0) {
        path += "M" + number(x(point.falseAlarmsPerHour)) + " " + number(y(point.sensitivity));
      } else {
        path += " H" + number(x(point.falseAlarmsPerHour)) + " V" + number(y(point.sensitivity));
      }
    }
    svg += "<path d=\"" + path + "\" fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.5\"/>\n";
    svg += "<g fill=\"#1f5fbf\">\n";
    for (const std::size_t index : front) {
      svg += "<circle cx=\"" + number(x(points[index].falseAlarmsPerHour)) + "\" cy=\"" +
             number(y(points[index].sensitivity)) + "\" r=\"4\"/>\n";
    }
    svg += "</g>\n";
  }
  if (base) {
    const double cx = x(base->falseAlarmsPerHour);
    const double cy = y(base->sensitivity);
    svg += "<path d=\"M" + number(cx) + " " + number(cy - 7) + " L" + number(cx + 7) + " " +
           number(cy) + " L" + number(cx) + " " + number(cy + 7) + " L" + number(cx - 7) + " " +
           number(cy) + " Z\" fill=\"#d03030\" stroke=\"white\"/>\n";
  }

  // Legend.
  const double legendX = kLeft + plotWidth + 16;
  svg += "<circle cx=\"" + number(legendX + 6) + "\" cy=\"" + number(kTop + 10) +
         "\" r=\"2.5\" fill=\"#9e9e9e\"/>\n";
  svg += "<text x=\"" + number(legendX + 18) + "\" y=\"" + number(kTop + 14) + "\">" +
         std::to_string(points.size()) + (points.size() == 1 ? " point" : " points") + "</text>\n";
  svg += "<circle cx=\"" + number(legendX + 6) + "\" cy=\"" + number(kTop + 30) +
         "\" r=\"4\" fill=\"#1f5fbf\"/>\n";
  svg += "<text x=\"" + number(legendX + 18) + "\" y=\"" + number(kTop + 34) + "\">front (" +
         std::to_string(front.size()) + ")</text>\n";
  if (base) {
    svg += "<path d=\"M" + number(legendX + 6) + " " + number(kTop + 43) +
           " l7 7 l-7 7 l-7 -7 Z\"" + " fill=\"#d03030\"/>\n";
    svg += "<text x=\"" + number(legendX + 18) + "\" y=\"" + number(kTop + 54) +
           "\">base settings</text>\n";
  }
  svg += "</svg>\n";
  return svg;
}

std::string sweepRocSvg(const SweepResults& results) {
  std::vector<std::size_t> kept;
  const std::vector<RocPoint> points = sweepRocPoints(results, kept);
  std::optional<RocPoint> base;
  if (results.baseCounts) {
    const velmora::evaluation::EvalSummary s = summaryOf(*results.baseCounts);
    if (s.sensitivity() && s.falseAlarmsPerHour()) {
      base = RocPoint{*s.falseAlarmsPerHour(), *s.sensitivity()};
    }
  }
  std::string title = "Sweep of";
  for (std::size_t d = 0; d < results.space.size(); ++d) {
    title += std::string(d == 0 ? " " : ", ") + results.space[d].name();
  }
  return rocSvg(points, base, title);
}

}  // namespace tune
