#include "PlotSvg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string_view>

namespace {

constexpr double kSamplePeriodS = 0.02;  // 50 samples per second

// Page layout in SVG user units (pixels).
constexpr double kWidth = 1200;
constexpr double kLeft = 100;  // room for the axis and lane labels
constexpr double kRight = 28;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kFirstPanelTop = 128;
constexpr double kPanelGap = 36;  // room for the next panel's title row
constexpr double kLaneHeight = 11;
constexpr double kLaneGap = 4;

// Colours: a light shade for the raw value, a dark one for the smoothed.
constexpr char kAccRawColour[] = "#74a9d8";
constexpr char kAccColour[] = "#08519c";
constexpr char kGyroRawColour[] = "#86cc80";
constexpr char kGyroColour[] = "#006d2c";
constexpr char kRollColour[] = "#6a51a3";
constexpr char kPitchColour[] = "#8c510a";
constexpr char kBandColour[] = "#41ab5d";
constexpr char kJumpColour[] = "#fd8d3c";
constexpr char kLowRunColour[] = "#4292c6";
constexpr char kStillRunColour[] = "#807dba";
constexpr char kLowLevelColour[] = "#2171b5";
constexpr char kImpactColour[] = "#e6550d";
constexpr char kDetectionColour[] = "#d62728";
constexpr char kFallColour[] = "#111111";
constexpr char kGridColour[] = "#e3e3e3";
constexpr char kTextColour[] = "#222222";
constexpr char kMutedColour[] = "#666666";

std::string number(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string result = text;
  if (result.size() > 2 && result.compare(result.size() - 2, 2, ".0") == 0) {
    result.resize(result.size() - 2);
  }
  return result == "-0" ? "0" : result;
}

std::string fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Text for XML content and attribute values: markup characters escaped,
// control characters and bytes that are not valid UTF-8 (a file name may
// hold anything) replaced by '?', so the document stays well-formed.
std::string escapeXml(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      switch (byte) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '"':
          out += "&quot;";
          break;
        case '\'':
          out += "&apos;";
          break;
        default:
          out += (byte < 0x20 || byte == 0x7f) ? '?' : static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    // Length of a well-formed UTF-8 sequence, shortest form, below U+110000,
    // no surrogates.
    std::size_t length = 0;
    if (byte >= 0xc2 && byte <= 0xdf) {
      length = 2;
    } else if (byte >= 0xe0 && byte <= 0xef) {
      length = 3;
    } else if (byte >= 0xf0 && byte <= 0xf4) {
      length = 4;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      valid = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
    }
    if (valid && length >= 3) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      valid = !(byte == 0xe0 && second < 0xa0) && !(byte == 0xed && second >= 0xa0) &&
              !(byte == 0xf0 && second < 0x90) && !(byte == 0xf4 && second >= 0x90);
    }
    if (valid) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

// A tick step of 1, 2 or 5 times a power of ten giving about `count` ticks.
double niceStep(double span, int count) {
  const double raw = std::max(span, 1e-9) / count;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double factor : {1.0, 2.0, 5.0}) {
    if (factor * power >= raw) {
      return factor * power;
    }
  }
  return 10.0 * power;
}

// Angles read best in steps of 15, 30, 45 or 90 degrees.
double angleStep(double span) {
  for (const double step : {15.0, 30.0, 45.0, 90.0}) {
    if (span / step <= 6) {
      return step;
    }
  }
  return niceStep(span, 6);
}

struct Axis {
  double low;
  double high;
  double step;
};

// Widens [low, high] to whole steps.
Axis makeAxis(double low, double high, double step) {
  Axis axis{std::floor(low / step) * step, std::ceil(high / step) * step, step};
  if (axis.high <= axis.low) {
    axis.high = axis.low + step;
  }
  return axis;
}

class Panel {
 public:
  Panel(double top, double height, Axis axis, int clipId)
      : top_(top), height_(height), axis_(axis), clipId_(clipId) {}
  // Reference to the panel's clip path, for an attribute value.
  [[nodiscard]] std::string clipUrl() const { return "url(#panel" + std::to_string(clipId_) + ")"; }
  [[nodiscard]] double top() const { return top_; }
  [[nodiscard]] double bottom() const { return top_ + height_; }
  [[nodiscard]] const Axis& axis() const { return axis_; }
  // Values outside the axis are pinned just beyond the panel edge, which
  // the clip path hides, so no coordinate grows without bound.
  [[nodiscard]] double y(double value) const {
    const double fraction = (value - axis_.low) / (axis_.high - axis_.low);
    return top_ + height_ * (1.0 - std::clamp(fraction, -0.05, 1.05));
  }

 private:
  double top_;
  double height_;
  Axis axis_;
  int clipId_;
};

class Figure {
 public:
  explicit Figure(const RecordingPlot& plot)
      : plot_(plot),
        durationS_(std::max<double>(static_cast<double>(plot.positions), 1.0) * kSamplePeriodS) {}

  std::string render();

 private:
  [[nodiscard]] double x(double seconds) const {
    return kLeft + kPlotWidth * std::clamp(seconds / durationS_, 0.0, 1.0);
  }
  [[nodiscard]] double xOfPosition(int64_t position) const {
    return x(static_cast<double>(position) * kSamplePeriodS);
  }

  void line(double x1, double y1, double x2, double y2, std::string_view colour, double width,
            std::string_view extra = {});
  void rect(double left, double top, double right, double bottom, std::string_view colour,
            double opacity, std::string_view extra = {});
  void text(double atX, double atY, std::string_view content, std::string_view attributes);

  void drawHeader();
  void drawLegendRow(double top);
  Panel drawPanel(double top, double height, const Axis& axis, std::string_view title,
                  std::string_view unit);
  void drawPanelLegend(const Panel& panel,
                       const std::vector<std::pair<std::string, std::string>>& entries);
  void shadeSpans(const Panel& panel, const std::vector<PositionSpan>& spans,
                  std::string_view colour, double opacity);
  void drawSeries(const Panel& panel, const std::function<double(const SampleInspection&)>& value,
                  std::string_view colour, double width);
  void drawLevel(const Panel& panel, double value, std::string_view colour, std::string_view label);
  void drawBand(const Panel& panel, double low, double high, std::string_view label);
  double drawLanes(double top);
  void drawTimeAxis(double top);
  void drawMarkers(double top, double bottom);
  void placeLabel(double at, double baseline, std::string_view label, bool leftOfLine,
                  std::string_view attributes);

  const RecordingPlot& plot_;
  double durationS_;
  std::string out_;
  int clipCount_ = 0;
};

void Figure::line(double x1, double y1, double x2, double y2, std::string_view colour, double width,
                  std::string_view extra) {
  out_ += "<line x1=\"" + number(x1) + "\" y1=\"" + number(y1) + "\" x2=\"" + number(x2) +
          "\" y2=\"" + number(y2) + "\" stroke=\"" + std::string(colour) + "\" stroke-width=\"" +
          fixed(width, 1) + "\"";
  if (!extra.empty()) {
    out_ += " ";
    out_ += extra;
  }
  out_ += "/>\n";
}

void Figure::rect(double left, double top, double right, double bottom, std::string_view colour,
                  double opacity, std::string_view extra) {
  out_ += "<rect x=\"" + number(left) + "\" y=\"" + number(top) + "\" width=\"" +
          number(std::max(right - left, 0.5)) + "\" height=\"" +
          number(std::max(bottom - top, 0.0)) + "\" fill=\"" + std::string(colour) + "\"";
  if (opacity < 1.0) {
    out_ += " fill-opacity=\"" + fixed(opacity, 2) + "\"";
  }
  if (!extra.empty()) {
    out_ += " ";
    out_ += extra;
  }
  out_ += "/>\n";
}

void Figure::text(double atX, double atY, std::string_view content, std::string_view attributes) {
  out_ += "<text x=\"" + number(atX) + "\" y=\"" + number(atY) + "\"";
  if (!attributes.empty()) {
    out_ += " ";
    out_ += attributes;
  }
  out_ += ">" + escapeXml(content) + "</text>\n";
}

void Figure::drawHeader() {
  const bool fell = !plot_.detections.empty();
  text(kLeft, 30, describeVerdict(plot_),
       std::string("id=\"verdict\" font-size=\"18\" font-weight=\"bold\" fill=\"") +
           (fell ? kDetectionColour : kGyroColour) + "\"");

  std::string details = VelmoraGetVersion();
  details += "  \xc2\xb7  " + std::to_string(plot_.positions) + " samples, " +
             fixed(static_cast<double>(plot_.positions) * kSamplePeriodS, 2) + " s at 50 samples/s";
  if (plot_.detections.size() > 1) {
    details +=
        "  \xc2\xb7  " + std::to_string(plot_.detections.size()) + " samples with a fall code";
  }
  if (plot_.annotation) {
    details += "  \xc2\xb7  annotated fall at " +
               fixed(plot_.annotation->position * kSamplePeriodS, 2) + " s (sample " +
               std::to_string(plot_.annotation->position) + ")";
  }
  details += "  \xc2\xb7  ";
  if (plot_.changedSettings.empty()) {
    details += "default settings";
  } else {
    details += "settings:";
    for (const std::string& setting : plot_.changedSettings) {
      details += " " + setting;
    }
  }
  text(kLeft, 52, details, std::string("font-size=\"12\" fill=\"") + kMutedColour + "\"");
}

// Shading and marker keys, shared by all panels.
void Figure::drawLegendRow(double top) {
  double at = kLeft;
  const auto swatch = [&](std::string_view colour, double opacity, std::string_view label) {
    rect(at, top - 9, at + 16, top + 2, colour, opacity);
    text(at + 21, top, label, "font-size=\"12\"");
    at += 34 + 7.0 * static_cast<double>(label.size());
  };
  const auto marker = [&](std::string_view colour, std::string_view dash, std::string_view label) {
    line(at + 8, top - 11, at + 8, top + 4, colour, 2, dash);
    text(at + 15, top, label, "font-size=\"12\"");
    at += 28 + 7.0 * static_cast<double>(label.size());
  };
  swatch(kJumpColour, 0.35, "jump window");
  swatch(kLowRunColour, 0.3, "low-acceleration run (smoothed)");
  swatch(kStillRunColour, 0.45, "low-acceleration run (raw)");
  swatch(kBandColour, 0.25, "upright band");
  marker(kFallColour, "stroke-dasharray=\"5,3\"", "annotated fall");
  marker(kDetectionColour, {}, "sample with a fall code");
}

Panel Figure::drawPanel(double top, double height, const Axis& axis, std::string_view title,
                        std::string_view unit) {
  ++clipCount_;
  const Panel panel(top, height, axis, clipCount_);
  text(kLeft, top - 8, title, "font-size=\"13\" font-weight=\"bold\"");
  rect(kLeft, top, kLeft + kPlotWidth, panel.bottom(), "#ffffff", 1.0,
       std::string("stroke=\"") + "#bdbdbd" + "\"");
  // A bounded number of grid lines whatever the settings make the range.
  const double step = axis.step;
  for (int i = 0; i <= 40; ++i) {
    const double value = axis.low + step * i;
    if (value > axis.high + step * 1e-6) {
      break;
    }
    const double at = panel.y(value);
    if (value > axis.low + step * 1e-6 && value < axis.high - step * 1e-6) {
      line(kLeft, at, kLeft + kPlotWidth, at, kGridColour, 1);
    }
    line(kLeft - 4, at, kLeft, at, kMutedColour, 1);
    text(kLeft - 7, at + 4, number(value),
         std::string("font-size=\"11\" text-anchor=\"end\" fill=\"") + kMutedColour + "\"");
  }
  // Unit label, rotated along the axis.
  const double middle = top + height / 2;
  text(22, middle, unit,
       "font-size=\"12\" text-anchor=\"middle\" transform=\"rotate(-90 22 " + number(middle) +
           ")\"");
  out_ += "<clipPath id=\"panel" + std::to_string(clipCount_) + "\"><rect x=\"" + number(kLeft) +
          "\" y=\"" + number(top) + "\" width=\"" + number(kPlotWidth) + "\" height=\"" +
          number(height) + "\"/></clipPath>\n";
  return panel;
}

void Figure::drawPanelLegend(const Panel& panel,
                             const std::vector<std::pair<std::string, std::string>>& entries) {
  // Right-aligned above the panel, in the title row.
  double width = 0;
  for (const auto& entry : entries) {
    width += 30 + 6.4 * static_cast<double>(entry.second.size());
  }
  double at = kLeft + kPlotWidth - width;
  const double baseline = panel.top() - 8;
  for (const auto& [colour, label] : entries) {
    line(at, baseline - 4, at + 18, baseline - 4, colour, 2.5);
    text(at + 23, baseline, label, "font-size=\"12\"");
    at += 30 + 6.4 * static_cast<double>(label.size());
  }
}

void Figure::shadeSpans(const Panel& panel, const std::vector<PositionSpan>& spans,
                        std::string_view colour, double opacity) {
  for (const PositionSpan& span : spans) {
    rect(xOfPosition(span.first), panel.top(), xOfPosition(span.last + 1), panel.bottom(), colour,
         opacity);
  }
}

void Figure::drawSeries(const Panel& panel,
                        const std::function<double(const SampleInspection&)>& value,
                        std::string_view colour, double width) {
  if (plot_.samples.empty()) {
    return;
  }
  // A long recording has many samples per pixel column: keep the lowest and
  // highest of each column (in their order) so no peak is lost.
  const bool thin = plot_.samples.size() > static_cast<std::size_t>(2 * kPlotWidth);
  std::string points;
  const auto add = [&points](double px, double py) {
    points += number(px) + "," + number(py) + " ";
  };
  std::size_t i = 0;
  while (i < plot_.samples.size()) {
    const PlotSample& first = plot_.samples[i];
    const double px = xOfPosition(first.position);
    if (!thin) {
      add(px, panel.y(value(first.features)));
      ++i;
      continue;
    }
    const long column = std::lround(px);
    std::size_t lowest = i;
    std::size_t highest = i;
    std::size_t end = i;
    while (end < plot_.samples.size() &&
           std::lround(xOfPosition(plot_.samples[end].position)) == column) {
      if (value(plot_.samples[end].features) < value(plot_.samples[lowest].features)) {
        lowest = end;
      }
      if (value(plot_.samples[end].features) > value(plot_.samples[highest].features)) {
        highest = end;
      }
      ++end;
    }
    for (const std::size_t k : {std::min(lowest, highest), std::max(lowest, highest)}) {
      add(static_cast<double>(column), panel.y(value(plot_.samples[k].features)));
    }
    i = end;
  }
  points.pop_back();
  out_ += "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"" +
          fixed(width, 1) + "\" stroke-linejoin=\"round\" clip-path=\"" + panel.clipUrl() +
          "\" points=\"" + points + "\"/>\n";
}

void Figure::drawLevel(const Panel& panel, double value, std::string_view colour,
                       std::string_view label) {
  if (value < panel.axis().low || value > panel.axis().high) {
    return;
  }
  const double at = panel.y(value);
  line(kLeft, at, kLeft + kPlotWidth, at, colour, 1.3, "stroke-dasharray=\"7,4\"");
  text(kLeft + kPlotWidth - 4, at - 4, label,
       std::string("font-size=\"11\" text-anchor=\"end\" fill=\"") + std::string(colour) + "\"");
}

void Figure::drawBand(const Panel& panel, double low, double high, std::string_view label) {
  if (high <= low) {
    return;
  }
  const double top = panel.y(high);
  const double bottom = panel.y(low);
  rect(kLeft, top, kLeft + kPlotWidth, bottom, kBandColour, 0.13,
       "clip-path=\"" + panel.clipUrl() + "\"");
  text(kLeft + 5, std::clamp(top + 13, panel.top() + 13, panel.bottom() - 4), label,
       std::string("font-size=\"11\" fill=\"") + kGyroColour + "\"");
}

// One thin lane per kind of span, and one for the upright posture.
double Figure::drawLanes(double top) {
  const auto lane = [&](std::string_view label, const std::vector<PositionSpan>& spans,
                        std::string_view colour, double opacity) {
    rect(kLeft, top, kLeft + kPlotWidth, top + kLaneHeight, "#f4f4f4", 1.0);
    for (const PositionSpan& span : spans) {
      rect(xOfPosition(span.first), top, xOfPosition(span.last + 1), top + kLaneHeight, colour,
           opacity);
    }
    text(kLeft - 7, top + 9, label,
         std::string("font-size=\"11\" text-anchor=\"end\" fill=\"") + kMutedColour + "\"");
    top += kLaneHeight + kLaneGap;
  };
  std::vector<PositionSpan> upright;
  for (const PlotSample& sample : plot_.samples) {
    if (sample.features.postureFlag == 'O') {
      if (!upright.empty() && upright.back().last + 1 == sample.position) {
        upright.back().last = sample.position;
      } else {
        upright.push_back(PositionSpan{sample.position, sample.position});
      }
    }
  }
  lane("jump window", plot_.jumpWindows, kJumpColour, 0.8);
  lane("low run", plot_.lowRuns, kLowRunColour, 0.8);
  lane("raw low run", plot_.stillRuns, kStillRunColour, 0.8);
  lane("upright", upright, kBandColour, 0.8);
  return top;
}

void Figure::drawTimeAxis(double top) {
  const double step = niceStep(durationS_, 15);
  for (int i = 0; i <= 40; ++i) {
    const double seconds = step * i;
    if (seconds > durationS_ + step * 1e-6) {
      break;
    }
    const double at = x(seconds);
    line(at, top, at, top + 5, kMutedColour, 1);
    text(at, top + 18, number(seconds),
         std::string("font-size=\"11\" text-anchor=\"middle\" fill=\"") + kMutedColour + "\"");
  }
  text(kLeft + kPlotWidth / 2, top + 36, "time (s)", "font-size=\"12\" text-anchor=\"middle\"");
}

void Figure::drawMarkers(double top, double bottom) {
  const double labelRow = top - 30;
  const bool hasFirst = !plot_.detections.empty();
  const double firstX = hasFirst ? xOfPosition(plot_.detections.front().position) : 0;
  const double fallX = plot_.annotation ? xOfPosition(plot_.annotation->position) : 0;
  // The two labels sit on the outer sides of their lines, so that a detection
  // close to the annotated position never writes over its label.
  const bool fallLabelLeft = !hasFirst || fallX <= firstX;
  if (plot_.annotation) {
    out_ += std::string("<g class=\"") + kFallPositionClass + "\" data-position=\"" +
            std::to_string(plot_.annotation->position) + "\">\n";
    line(fallX, labelRow + 4, fallX, bottom, kFallColour, 1.6, "stroke-dasharray=\"5,3\"");
    placeLabel(fallX, labelRow, "annotated fall", fallLabelLeft,
               std::string("font-size=\"12\" fill=\"") + kFallColour + "\"");
    out_ += "</g>\n";
  }
  for (std::size_t i = 0; i < plot_.detections.size(); ++i) {
    const Detection& detection = plot_.detections[i];
    const double at = xOfPosition(detection.position);
    line(at, i == 0 ? labelRow + 4 : top, at, bottom, kDetectionColour, 1.2,
         std::string("class=\"") + kDetectionClass + "\" data-position=\"" +
             std::to_string(detection.position) + "\" data-code=\"" +
             std::to_string(detection.code) + "\" stroke-opacity=\"0.85\"");
  }
  if (hasFirst) {
    const Detection& first = plot_.detections.front();
    std::string label = "code " + std::to_string(first.code);
    if (plot_.annotation && plot_.annotation->showDelay) {
      const int64_t delay = detectionDelayMs(first.position, plot_.annotation->position);
      label += ", delay " + std::string(delay > 0 ? "+" : "") + std::to_string(delay) + " ms";
    }
    placeLabel(firstX, labelRow, label, plot_.annotation.has_value() && !fallLabelLeft,
               std::string("class=\"") + kFirstDetectionLabelClass +
                   "\" font-size=\"12\" font-weight=\"bold\" fill=\"" + kDetectionColour + "\"");
  }
}

void Figure::placeLabel(double at, double baseline, std::string_view label, bool leftOfLine,
                        std::string_view attributes) {
  // About 7 units per character at 12 units; enough to keep it on the page.
  const double width = 7.2 * static_cast<double>(label.size());
  if (leftOfLine && at - 4 - width < 0) {
    leftOfLine = false;
  } else if (!leftOfLine && at + 4 + width > kWidth) {
    leftOfLine = true;
  }
  text(leftOfLine ? at - 4 : at + 4, baseline, label,
       std::string(attributes) + (leftOfLine ? " text-anchor=\"end\"" : ""));
}

std::string Figure::render() {
  const DetectorSettings& settings = plot_.settings;
  const double accPanelHeight = 180;
  const double gyroPanelHeight = 120;
  const double anglePanelHeight = 110;
  const double lanesHeight = 4 * (kLaneHeight + kLaneGap);
  const double height = kFirstPanelTop + accPanelHeight + gyroPanelHeight + 2 * anglePanelHeight +
                        4 * kPanelGap + lanesHeight + 48;

  out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(kWidth) + "\" height=\"" +
          number(height) + "\" viewBox=\"0 0 " + number(kWidth) + " " + number(height) +
          "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" fill=\"" + kTextColour +
          "\">\n";
  out_ += "<title>" + escapeXml(describeVerdict(plot_)) + "</title>\n";
  rect(0, 0, kWidth, height, "#ffffff", 1.0);
  drawHeader();
  drawLegendRow(80);

  // Value ranges cover the data and every level drawn, in whole steps.
  double accMax = 1.5;
  double gyroMax = 50;
  double rollMin = -static_cast<double>(settings.rollLimit);
  double rollMax = settings.rollLimit;
  double pitchMin = settings.pitchUprightMin;
  double pitchMax = settings.pitchMax;
  for (const PlotSample& sample : plot_.samples) {
    const SampleInspection& f = sample.features;
    accMax = std::max({accMax, f.rawAccMag / 100.0, f.accMag / 100.0});
    gyroMax =
        std::max({gyroMax, static_cast<double>(f.rawGyroMag), static_cast<double>(f.gyroMag)});
    rollMin = std::min<double>(rollMin, f.roll);
    rollMax = std::max<double>(rollMax, f.roll);
    pitchMin = std::min<double>(pitchMin, f.pitch);
    pitchMax = std::max<double>(pitchMax, f.pitch);
  }
  accMax = std::max({accMax, settings.impactMin / 100.0, settings.lowLevel / 100.0});

  double top = kFirstPanelTop;
  const auto shadeEvents = [this](const Panel& panel) {
    shadeSpans(panel, plot_.jumpWindows, kJumpColour, 0.16);
    shadeSpans(panel, plot_.lowRuns, kLowRunColour, 0.14);
  };

  // Frames, shading and levels first, then the markers, then the data on
  // top, so that a marker never hides a one-sample peak.
  const Axis accAxis = makeAxis(0, accMax, niceStep(accMax, 5));
  const Panel acc = drawPanel(top, accPanelHeight, accAxis, "Acceleration magnitude", "g");
  shadeEvents(acc);
  drawLevel(acc, settings.impactMin / 100.0, kImpactColour,
            "impact level " + fixed(settings.impactMin / 100.0, 2) + " g");
  drawLevel(acc, settings.lowLevel / 100.0, kLowLevelColour,
            "low level " + fixed(settings.lowLevel / 100.0, 2) + " g");
  top = acc.bottom() + kPanelGap;

  const Axis gyroAxis = makeAxis(0, gyroMax, niceStep(gyroMax, 4));
  const Panel gyro = drawPanel(top, gyroPanelHeight, gyroAxis, "Angular-rate magnitude", "deg/s");
  shadeEvents(gyro);
  top = gyro.bottom() + kPanelGap;

  const Axis rollAxis = makeAxis(rollMin, rollMax, angleStep(rollMax - rollMin));
  const Panel roll = drawPanel(top, anglePanelHeight, rollAxis, "Roll", "deg");
  shadeEvents(roll);
  drawBand(roll, -static_cast<double>(settings.rollLimit), settings.rollLimit,
           "upright: |roll| < " + std::to_string(settings.rollLimit));
  top = roll.bottom() + kPanelGap;

  const Axis pitchAxis = makeAxis(pitchMin, pitchMax, angleStep(pitchMax - pitchMin));
  const Panel pitch = drawPanel(top, anglePanelHeight, pitchAxis, "Pitch", "deg");
  shadeEvents(pitch);
  drawBand(pitch, settings.pitchUprightMin, settings.pitchMax,
           "upright: " + std::to_string(settings.pitchUprightMin) + " < pitch < " +
               std::to_string(settings.pitchMax));
  top = pitch.bottom() + 12;

  const double lanesBottom = drawLanes(top);
  drawTimeAxis(lanesBottom);
  drawMarkers(kFirstPanelTop, lanesBottom - kLaneGap);

  drawSeries(
      acc, [](const SampleInspection& f) { return f.rawAccMag / 100.0; }, kAccRawColour, 1.0);
  drawSeries(
      acc, [](const SampleInspection& f) { return f.accMag / 100.0; }, kAccColour, 1.7);
  drawPanelLegend(acc, {{kAccRawColour, "raw"}, {kAccColour, "smoothed"}});
  drawSeries(
      gyro, [](const SampleInspection& f) { return static_cast<double>(f.rawGyroMag); },
      kGyroRawColour, 1.0);
  drawSeries(
      gyro, [](const SampleInspection& f) { return static_cast<double>(f.gyroMag); }, kGyroColour,
      1.7);
  drawPanelLegend(gyro, {{kGyroRawColour, "raw"}, {kGyroColour, "smoothed"}});
  drawSeries(
      roll, [](const SampleInspection& f) { return static_cast<double>(f.roll); }, kRollColour,
      1.6);
  drawSeries(
      pitch, [](const SampleInspection& f) { return static_cast<double>(f.pitch); }, kPitchColour,
      1.6);
  if (plot_.samples.empty()) {
    text(kLeft + kPlotWidth / 2, acc.top() + accPanelHeight / 2, "no samples reached the detector",
         std::string("font-size=\"14\" text-anchor=\"middle\" fill=\"") + kMutedColour + "\"");
  }
  out_ += "</svg>\n";
  return std::move(out_);
}

}  // namespace

std::string describeVerdict(const RecordingPlot& plot) {
  if (plot.detections.empty()) {
    return plot.name + ": no fall detected";
  }
  const Detection& first = plot.detections.front();
  std::string verdict = plot.name + ": fall detected at " +
                        fixed(static_cast<double>(first.position) * kSamplePeriodS, 2) +
                        " s (sample " + std::to_string(first.position) + "), code " +
                        std::to_string(first.code);
  if (plot.annotation && plot.annotation->showDelay) {
    const int64_t delay = detectionDelayMs(first.position, plot.annotation->position);
    verdict += ", delay " + std::string(delay > 0 ? "+" : "") + std::to_string(delay) + " ms";
  }
  return verdict;
}

std::string renderPlotSvg(const RecordingPlot& plot) { return Figure(plot).render(); }
