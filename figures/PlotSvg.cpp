#include "PlotSvg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "EvalRender.h"

using velmora::evaluation::fixedText;

namespace {

// Page layout in SVG user units (pixels).
constexpr double kWidth = 1200;
constexpr double kLeft = 100;  // room for the axis and lane labels
constexpr double kRight = 28;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kFirstPanelTop = 150;
constexpr double kPanelGap = 36;  // room for the next panel's title row
constexpr double kLaneHeight = 11;
constexpr double kLaneGap = 4;
constexpr double kNoteLineHeight = 16;
constexpr std::size_t kNoteLineChars = 150;  // at 12 px, within the width

// The notes broken into lines of at most kNoteLineChars characters, at
// blanks where there are any.
std::vector<std::string> wrapNotes(const std::vector<std::string>& notes) {
  std::vector<std::string> lines;
  for (const std::string& note : notes) {
    std::string_view rest = note;
    while (!rest.empty()) {
      // Characters, not bytes: a UTF-8 sequence counts once.
      std::size_t cut = 0;
      std::size_t characters = 0;
      while (cut < rest.size() && characters < kNoteLineChars) {
        ++cut;
        while (cut < rest.size() && (static_cast<unsigned char>(rest[cut]) & 0xC0) == 0x80) {
          ++cut;
        }
        ++characters;
      }
      if (cut < rest.size()) {
        const std::size_t blank = rest.substr(0, cut).rfind(' ');
        if (blank != std::string_view::npos && blank > 0) {
          cut = blank;
        }
      }
      lines.emplace_back(rest.substr(0, cut));
      rest = rest.substr(cut);
      while (!rest.empty() && rest.front() == ' ') {
        rest.remove_prefix(1);
      }
    }
  }
  return lines;
}

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
constexpr char kWarmUpColour[] = "#969696";
// Per-axis colours: x, y, z.
constexpr const char* kAxisColours[3] = {"#d62728", "#2ca02c", "#1f77b4"};

std::string svgNumber(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string result = text;
  if (result.size() > 2 && result.compare(result.size() - 2, 2, ".0") == 0) {
    result.resize(result.size() - 2);
  }
  return result == "-0" ? "0" : result;
}

}  // namespace

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

namespace {

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
  Panel(double top, double height, Axis axis, int clipId, std::string prefix)
      : top_(top), height_(height), axis_(axis), clipId_(clipId), prefix_(std::move(prefix)) {}
  // Reference to the panel's clip path, for an attribute value.
  [[nodiscard]] std::string clipUrl() const { return "url(#" + clipId() + ")"; }
  [[nodiscard]] std::string clipId() const { return prefix_ + "panel" + std::to_string(clipId_); }
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
  std::string prefix_;
};

// Seconds with as many decimals as the tick step needs.
std::string secondsLabel(double seconds, double step) {
  const int decimals =
      step >= 1.0 ? 0 : std::min(3, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
  return fixedText(seconds, decimals);
}

std::string signedDelayText(int64_t delayMs) {
  return std::string(delayMs > 0 ? "+" : "") + std::to_string(delayMs) + " ms";
}

// A marker drawn for the detections of one pixel or less.
struct Marker {
  double x;
  int64_t position;  // first detection under the marker
  int32_t code;
  int64_t count;
};

struct PanelLayout {
  std::string title;
  std::string unit;
  double height;
  Axis axis;
  std::vector<std::pair<Series, const char*>> lines;        // series and colour, in drawing order
  std::vector<std::pair<std::string, std::string>> legend;  // colour, label
};

class Figure {
 public:
  Figure(const RecordingFigure& figure, const SvgOptions& options)
      : figure_(figure),
        options_(options),
        data_(figure.data),
        windowStart_(figure.windowStart),
        windowLength_(std::max<int64_t>(figure.windowEnd - figure.windowStart, 1)),
        reduced_(static_cast<double>(windowLength_) > kPlotWidth) {}

  std::string render();

 private:
  [[nodiscard]] double xOfPosition(int64_t position) const {
    const double fraction =
        static_cast<double>(position - windowStart_) / static_cast<double>(windowLength_);
    return kLeft + kPlotWidth * std::clamp(fraction, 0.0, 1.0);
  }
  [[nodiscard]] bool inWindow(int64_t position) const {
    return position >= windowStart_ && position <= windowStart_ + windowLength_;
  }
  // Positions [first, end) of column i, cut to the window.
  [[nodiscard]] std::pair<int64_t, int64_t> columnRange(std::size_t i) const {
    const int64_t first = data_.start() + static_cast<int64_t>(i) * data_.width();
    return {first, std::min(first + data_.width(), windowStart_ + windowLength_)};
  }

  void line(double x1, double y1, double x2, double y2, std::string_view colour, double width,
            std::string_view extra = {});
  void rect(double left, double top, double right, double bottom, std::string_view colour,
            double opacity, std::string_view extra = {});
  void text(double atX, double atY, std::string_view content, std::string_view attributes);

  void collectSpans();
  void collectMarkers();
  void drawHeader();
  void drawLegendRow(double top);
  Panel drawPanel(double top, const PanelLayout& layout);
  void drawPanelLegend(const Panel& panel,
                       const std::vector<std::pair<std::string, std::string>>& entries);
  void useSpans(SpanKind kind, double top, double height, std::string_view colour, double opacity,
                std::string_view extra = {});
  void drawSeries(const Panel& panel, Series series, std::string_view colour, double width);
  void drawLevel(const Panel& panel, double value, std::string_view colour, std::string_view label);
  void drawBand(const Panel& panel, double low, double high, std::string_view label);
  double drawLanes(double top);
  void drawTimeAxis(double top);
  void drawMarkers(double top, double bottom);
  void placeLabel(double at, double baseline, std::string_view label, bool leftOfLine,
                  std::string_view attributes);
  [[nodiscard]] std::pair<double, double> seriesRange(Series series) const;

  const RecordingFigure& figure_;
  const SvgOptions& options_;
  const ColumnSeries& data_;
  int64_t windowStart_;
  int64_t windowLength_;
  bool reduced_;
  std::string out_;
  int clipCount_ = 0;
  // Path data of each span kind, in a unit-high strip; empty when none is shown.
  std::array<std::string, kSpanKinds> spanPaths_;
  std::vector<Marker> markers_;
  int64_t mostPerColumn_ = 0;  // samples in the fullest pixel column
};

void Figure::line(double x1, double y1, double x2, double y2, std::string_view colour, double width,
                  std::string_view extra) {
  out_ += "<line x1=\"" + svgNumber(x1) + "\" y1=\"" + svgNumber(y1) + "\" x2=\"" + svgNumber(x2) +
          "\" y2=\"" + svgNumber(y2) + "\" stroke=\"" + std::string(colour) + "\" stroke-width=\"" +
          fixedText(width, 1) + "\"";
  if (!extra.empty()) {
    out_ += " ";
    out_ += extra;
  }
  out_ += "/>\n";
}

void Figure::rect(double left, double top, double right, double bottom, std::string_view colour,
                  double opacity, std::string_view extra) {
  out_ += "<rect x=\"" + svgNumber(left) + "\" y=\"" + svgNumber(top) + "\" width=\"" +
          svgNumber(std::max(right - left, 0.5)) + "\" height=\"" +
          svgNumber(std::max(bottom - top, 0.0)) + "\" fill=\"" + std::string(colour) + "\"";
  if (opacity < 1.0) {
    out_ += " fill-opacity=\"" + fixedText(opacity, 2) + "\"";
  }
  if (!extra.empty()) {
    out_ += " ";
    out_ += extra;
  }
  out_ += "/>\n";
}

void Figure::text(double atX, double atY, std::string_view content, std::string_view attributes) {
  out_ += "<text x=\"" + svgNumber(atX) + "\" y=\"" + svgNumber(atY) + "\"";
  if (!attributes.empty()) {
    out_ += " ";
    out_ += attributes;
  }
  out_ += ">" + escapeXml(content) + "</text>\n";
}

// Spans of each kind as strips; strips less than a pixel apart are merged.
void Figure::collectSpans() {
  for (int kind = 0; kind < kSpanKinds; ++kind) {
    std::string path;
    double left = 0;
    double right = -1e9;
    const auto flush = [&] {
      if (right > left) {
        path += "M" + svgNumber(left) + " 0H" + svgNumber(std::max(right, left + 0.5)) + "V1H" +
                svgNumber(left) + "Z";
      }
    };
    const std::vector<PlotColumn>& columns = data_.columns();
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].samples == 0 || !columns[i].spans[kind]) {
        continue;
      }
      const auto [first, end] = columnRange(i);
      if (end <= first) {
        continue;
      }
      const double from = xOfPosition(first);
      const double to = xOfPosition(end);
      if (from - right < 1.0) {
        right = std::max(right, to);
      } else {
        flush();
        left = from;
        right = to;
      }
    }
    flush();
    spanPaths_[kind] = std::move(path);
  }
}

// One marker per pixel: detections closer than that share it.
void Figure::collectMarkers() {
  const std::vector<PlotColumn>& columns = data_.columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const PlotColumn& column = columns[i];
    if (column.detections == 0 || !inWindow(column.firstDetection)) {
      continue;
    }
    const double at = xOfPosition(column.firstDetection);
    if (!markers_.empty() && at - markers_.back().x < 1.0) {
      markers_.back().count += column.detections;
    } else {
      markers_.push_back(Marker{at, column.firstDetection, column.firstCode, column.detections});
    }
  }
}

void Figure::drawHeader() {
  const OutcomeStyle style = outcomeStyle(figure_.outcome);
  text(kLeft, 30, describeVerdict(figure_),
       "id=\"" + options_.idPrefix + "verdict\" font-size=\"18\" font-weight=\"bold\" fill=\"" +
           style.colour + "\"");

  const PlotSetup& setup = figure_.setup;
  std::string details = VelmoraGetVersion();
  details += "  \xc2\xb7  " + std::to_string(figure_.positions) + " samples, " +
             fixedText(static_cast<double>(figure_.positions) * kPlotSamplePeriodS, 2) +
             " s at 50 samples/s";
  if (figure_.detections > 1) {
    details += "  \xc2\xb7  " + std::to_string(figure_.detections) + " samples with a fall code";
  }
  if (setup.annotation) {
    details += "  \xc2\xb7  annotated fall at " +
               fixedText(static_cast<double>(setup.annotation->position) * kPlotSamplePeriodS, 2) +
               " s (sample " + std::to_string(setup.annotation->position) + "), early tolerance " +
               svgNumber(setup.toleranceSeconds) + " s";
  }
  text(kLeft, 50, details, std::string("font-size=\"12\" fill=\"") + kMutedColour + "\"");

  std::string view =
      "showing " + fixedText(static_cast<double>(windowStart_) * kPlotSamplePeriodS, 2) + " to " +
      fixedText(static_cast<double>(windowStart_ + windowLength_) * kPlotSamplePeriodS, 2) + " s";
  if (figure_.zoomed) {
    const bool annotated = setup.annotation.has_value();
    view += std::string(" (3 s around ") +
            (annotated && figure_.first ? "the annotated fall and the first detection"
             : annotated                ? "the annotated fall"
                                        : "the first detection") +
            ")";
  }
  if (reduced_) {
    view += "  \xc2\xb7  reduced: lowest and highest value of up to " +
            std::to_string(mostPerColumn_) + " samples per pixel column";
  }
  view += "  \xc2\xb7  ";
  if (figure_.changedSettings.empty()) {
    view += "default settings";
  } else {
    view += "settings:";
    for (const std::string& setting : figure_.changedSettings) {
      view += " " + setting;
    }
  }
  text(kLeft, 68, view,
       std::string(reduced_ ? "class=\"reduced\" " : "") + "font-size=\"12\" fill=\"" +
           kMutedColour + "\"");
}

// Keys of the shading and the markers, only for what the figure shows.
void Figure::drawLegendRow(double top) {
  double at = kLeft;
  const auto swatch = [&](std::string_view colour, double opacity, std::string_view label) {
    rect(at, top - 9, at + 16, top + 2, colour, opacity);
    text(at + 21, top, label, "font-size=\"12\"");
    at += 34 + 7.6 * static_cast<double>(label.size());
  };
  const auto marker = [&](std::string_view colour, std::string_view dash, std::string_view label) {
    line(at + 8, top - 11, at + 8, top + 4, colour, 2, dash);
    text(at + 15, top, label, "font-size=\"12\"");
    at += 28 + 7.6 * static_cast<double>(label.size());
  };
  out_ += "<g class=\"legend\">\n";
  if (!spanPaths_[kSpanWarmUp].empty()) {
    swatch(kWarmUpColour, 0.3, "warm-up (first 40 samples)");
  }
  if (!spanPaths_[kSpanJump].empty()) {
    swatch(kJumpColour, 0.35, "jump window");
  }
  if (!spanPaths_[kSpanLowRun].empty()) {
    swatch(kLowRunColour, 0.3, "low-acceleration run (smoothed)");
  }
  if (!spanPaths_[kSpanStillRun].empty()) {
    swatch(kStillRunColour, 0.45, "low-acceleration run (raw)");
  }
  if (!data_.columns().empty()) {
    swatch(kBandColour, 0.25, "upright band");
  }
  if (figure_.setup.annotation && inWindow(figure_.setup.annotation->position)) {
    marker(kFallColour, "stroke-dasharray=\"5,3\"", "annotated fall");
  }
  if (!markers_.empty()) {
    marker(kDetectionColour, {}, "sample with a fall code");
  }
  out_ += "</g>\n";
}

Panel Figure::drawPanel(double top, const PanelLayout& layout) {
  ++clipCount_;
  const Axis& axis = layout.axis;
  const Panel panel(top, layout.height, axis, clipCount_, options_.idPrefix);
  text(kLeft, top - 8, layout.title, "font-size=\"13\" font-weight=\"bold\"");
  rect(kLeft, top, kLeft + kPlotWidth, panel.bottom(), "#ffffff", 1.0, "stroke=\"#bdbdbd\"");
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
    text(kLeft - 7, at + 4, svgNumber(value),
         std::string("font-size=\"11\" text-anchor=\"end\" fill=\"") + kMutedColour + "\"");
  }
  // Unit label, rotated along the axis.
  const double middle = top + layout.height / 2;
  text(22, middle, layout.unit,
       "font-size=\"12\" text-anchor=\"middle\" transform=\"rotate(-90 22 " + svgNumber(middle) +
           ")\"");
  out_ += "<clipPath id=\"" + panel.clipId() + "\"><rect x=\"" + svgNumber(kLeft) + "\" y=\"" +
          svgNumber(top) + "\" width=\"" + svgNumber(kPlotWidth) + "\" height=\"" + svgNumber(layout.height) +
          "\"/></clipPath>\n";
  useSpans(kSpanWarmUp, panel.top(), layout.height, kWarmUpColour, 0.2);
  useSpans(kSpanJump, panel.top(), layout.height, kJumpColour, 0.16);
  useSpans(kSpanLowRun, panel.top(), layout.height, kLowRunColour, 0.14);
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

// Draws the strips of one span kind, defined once, scaled to a panel or lane.
void Figure::useSpans(SpanKind kind, double top, double height, std::string_view colour,
                      double opacity, std::string_view extra) {
  if (spanPaths_[kind].empty()) {
    return;
  }
  out_ += "<use xlink:href=\"#" + options_.idPrefix + "spans" + std::to_string(kind) +
          "\" transform=\"matrix(1 0 0 " + svgNumber(height) + " 0 " + svgNumber(top) + ")\" fill=\"" +
          std::string(colour) + "\" fill-opacity=\"" + fixedText(opacity, 2) + "\"";
  if (!extra.empty()) {
    out_ += " ";
    out_ += extra;
  }
  out_ += "/>\n";
}

std::pair<double, double> Figure::seriesRange(Series series) const {
  double low = 0;
  double high = 0;
  bool any = false;
  for (const PlotColumn& column : data_.columns()) {
    if (column.samples == 0) {
      continue;
    }
    low = any ? std::min<double>(low, column.low[series]) : column.low[series];
    high = any ? std::max<double>(high, column.high[series]) : column.high[series];
    any = true;
  }
  return {low, high};
}

void Figure::drawSeries(const Panel& panel, Series series, std::string_view colour, double width) {
  const std::vector<PlotColumn>& columns = data_.columns();
  std::string points;
  const auto add = [&points](double px, double py) {
    points += svgNumber(px) + "," + svgNumber(py) + " ";
  };
  if (!reduced_) {
    // At least a pixel per sample: every sample where it lies.
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].samples > 0) {
        add(xOfPosition(columnRange(i).first), panel.y(columns[i].low[series]));
      }
    }
  } else {
    // The lowest and highest value of each pixel column, in their order, so
    // no peak is lost.
    PlotColumn pixel;
    long pixelIndex = -1;
    const auto flushPixel = [&] {
      if (pixel.samples == 0) {
        return;
      }
      const double at = kLeft + static_cast<double>(pixelIndex);
      const double low = panel.y(pixel.low[series]);
      const double high = panel.y(pixel.high[series]);
      if (pixel.lowFirst[series]) {
        add(at, low);
        add(at, high);
      } else {
        add(at, high);
        add(at, low);
      }
    };
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].samples == 0) {
        continue;
      }
      const long index = std::lround(std::floor(xOfPosition(columnRange(i).first) - kLeft));
      if (index != pixelIndex) {
        flushPixel();
        pixel = PlotColumn{};
        pixelIndex = index;
      }
      mergeColumns(pixel, columns[i]);
    }
    flushPixel();
  }
  if (points.empty()) {
    return;
  }
  points.pop_back();
  out_ += "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"" +
          fixedText(width, 1) + "\" stroke-linejoin=\"round\" clip-path=\"" + panel.clipUrl() +
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
  const auto lane = [&](std::string_view label, SpanKind kind, std::string_view colour) {
    rect(kLeft, top, kLeft + kPlotWidth, top + kLaneHeight, "#f4f4f4", 1.0);
    useSpans(kind, top, kLaneHeight, colour, 0.8);
    text(kLeft - 7, top + 9, label,
         std::string("font-size=\"11\" text-anchor=\"end\" fill=\"") + kMutedColour + "\"");
    top += kLaneHeight + kLaneGap;
  };
  lane("jump window", kSpanJump, kJumpColour);
  lane("low run", kSpanLowRun, kLowRunColour);
  lane("raw low run", kSpanStillRun, kStillRunColour);
  lane("upright", kSpanUpright, kBandColour);
  return top;
}

void Figure::drawTimeAxis(double top) {
  const double startS = static_cast<double>(windowStart_) * kPlotSamplePeriodS;
  const double spanS = static_cast<double>(windowLength_) * kPlotSamplePeriodS;
  const double step = niceStep(spanS, 12);
  const double firstTick = std::ceil(startS / step - 1e-9) * step;
  for (int i = 0; i <= 40; ++i) {
    const double seconds = firstTick + step * i;
    if (seconds > startS + spanS + step * 1e-6) {
      break;
    }
    const double at = kLeft + kPlotWidth * (seconds - startS) / spanS;
    line(at, top, at, top + 5, kMutedColour, 1);
    text(at, top + 18, secondsLabel(seconds, step),
         std::string("font-size=\"11\" text-anchor=\"middle\" fill=\"") + kMutedColour + "\"");
  }
  text(kLeft + kPlotWidth / 2, top + 36, "time (s)", "font-size=\"12\" text-anchor=\"middle\"");
}

void Figure::drawMarkers(double top, double bottom) {
  const double labelRow = top - 30;
  const std::optional<FirstDetection>& first = figure_.first;
  const std::optional<FallAnnotation>& annotation = figure_.setup.annotation;
  const bool firstShown = first && inWindow(first->position);
  const bool fallShown = annotation && inWindow(annotation->position);
  const double firstX = firstShown ? xOfPosition(first->position) : 0;
  const double fallX = fallShown ? xOfPosition(annotation->position) : 0;
  // The two labels sit on the outer sides of their lines, so that a detection
  // close to the annotated position never writes over its label.
  const bool fallLabelLeft = !firstShown || fallX <= firstX;
  if (fallShown) {
    out_ += std::string("<g class=\"") + kFallPositionClass + "\" data-position=\"" +
            std::to_string(annotation->position) + "\">\n";
    line(fallX, labelRow + 4, fallX, bottom, kFallColour, 1.6, "stroke-dasharray=\"5,3\"");
    placeLabel(fallX, labelRow, "annotated fall", fallLabelLeft,
               std::string("font-size=\"12\" fill=\"") + kFallColour + "\"");
    out_ += "</g>\n";
  }
  for (const Marker& marker : markers_) {
    const bool isFirst = firstShown && marker.position == first->position;
    line(marker.x, isFirst ? labelRow + 4 : top, marker.x, bottom, kDetectionColour, 1.2,
         std::string("class=\"") + kDetectionClass + "\" data-position=\"" +
             std::to_string(marker.position) + "\" data-code=\"" + std::to_string(marker.code) +
             "\" data-count=\"" + std::to_string(marker.count) + "\" stroke-opacity=\"0.85\"");
  }
  if (firstShown) {
    std::string label = "code " + std::to_string(first->code);
    if (annotation) {
      label += ", delay " + signedDelayText((first->position - annotation->position) * 20);
    }
    placeLabel(firstX, labelRow, label, fallShown && !fallLabelLeft,
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
  const DetectorSettings& settings = figure_.setup.settings;
  collectSpans();
  collectMarkers();
  {
    // The fullest pixel column, for the note on the reduction.
    long pixelIndex = -1;
    int64_t inPixel = 0;
    const std::vector<PlotColumn>& columns = data_.columns();
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const long index = std::lround(std::floor(xOfPosition(columnRange(i).first) - kLeft));
      inPixel = index == pixelIndex ? inPixel + columns[i].samples : columns[i].samples;
      pixelIndex = index;
      mostPerColumn_ = std::max(mostPerColumn_, inPixel);
    }
  }

  // Value ranges cover the data and every level drawn, in whole steps.
  const auto [rawAccLow, rawAccHigh] = seriesRange(kRawAccMag);
  const auto [accLow, accHigh] = seriesRange(kAccMag);
  const auto [rawGyroLow, rawGyroHigh] = seriesRange(kRawGyroMag);
  const auto [gyroLow, gyroHigh] = seriesRange(kGyroMag);
  const double accMax =
      std::max({1.5, rawAccHigh, accHigh, settings.impactMin / 100.0, settings.lowLevel / 100.0});
  const double gyroMax = std::max({50.0, rawGyroHigh, gyroHigh});
  const auto [rollLow, rollHigh] = seriesRange(kRoll);
  const auto [pitchLow, pitchHigh] = seriesRange(kPitch);
  const double rollMin = std::min<double>(rollLow, -static_cast<double>(settings.rollLimit));
  const double rollMax = std::max<double>(rollHigh, settings.rollLimit);
  const double pitchMin = std::min<double>(pitchLow, settings.pitchUprightMin);
  const double pitchMax = std::max<double>(pitchHigh, settings.pitchMax);
  (void)rawAccLow;
  (void)accLow;
  (void)rawGyroLow;
  (void)gyroLow;

  std::vector<PanelLayout> panels;
  panels.push_back(PanelLayout{"Acceleration magnitude",
                             "g",
                             180,
                             makeAxis(0, accMax, niceStep(accMax, 5)),
                             {{kRawAccMag, kAccRawColour}, {kAccMag, kAccColour}},
                             {{kAccRawColour, "raw"}, {kAccColour, "smoothed"}}});
  panels.push_back(PanelLayout{"Angular-rate magnitude",
                             "deg/s",
                             120,
                             makeAxis(0, gyroMax, niceStep(gyroMax, 4)),
                             {{kRawGyroMag, kGyroRawColour}, {kGyroMag, kGyroColour}},
                             {{kGyroRawColour, "raw"}, {kGyroColour, "smoothed"}}});
  if (figure_.setup.axes) {
    double low = -1;
    double high = 1;
    for (const Series s : {kAccX, kAccY, kAccZ}) {
      low = std::min(low, seriesRange(s).first);
      high = std::max(high, seriesRange(s).second);
    }
    panels.push_back(
        PanelLayout{"Acceleration by axis (raw)",
                  "g",
                  130,
                  makeAxis(low, high, niceStep(high - low, 5)),
                  {{kAccX, kAxisColours[0]}, {kAccY, kAxisColours[1]}, {kAccZ, kAxisColours[2]}},
                  {{kAxisColours[0], "x"}, {kAxisColours[1], "y"}, {kAxisColours[2], "z"}}});
    low = -50;
    high = 50;
    for (const Series s : {kGyroX, kGyroY, kGyroZ}) {
      low = std::min(low, seriesRange(s).first);
      high = std::max(high, seriesRange(s).second);
    }
    panels.push_back(
        PanelLayout{"Angular rate by axis (raw)",
                  "deg/s",
                  130,
                  makeAxis(low, high, niceStep(high - low, 5)),
                  {{kGyroX, kAxisColours[0]}, {kGyroY, kAxisColours[1]}, {kGyroZ, kAxisColours[2]}},
                  {{kAxisColours[0], "x"}, {kAxisColours[1], "y"}, {kAxisColours[2], "z"}}});
  }
  panels.push_back(PanelLayout{"Roll",
                             "deg",
                             110,
                             makeAxis(rollMin, rollMax, angleStep(rollMax - rollMin)),
                             {{kRoll, kRollColour}},
                             {}});
  panels.push_back(PanelLayout{"Pitch",
                             "deg",
                             110,
                             makeAxis(pitchMin, pitchMax, angleStep(pitchMax - pitchMin)),
                             {{kPitch, kPitchColour}},
                             {}});

  const double lanesHeight = 4 * (kLaneHeight + kLaneGap);
  double height = kFirstPanelTop + lanesHeight + 48 + 12 - kPanelGap;
  for (const PanelLayout& layout : panels) {
    height += layout.height + kPanelGap;
  }
  const std::vector<std::string> noteLines = wrapNotes(options_.notes);
  const double notesTop = height;
  if (!noteLines.empty()) {
    height += kNoteLineHeight * static_cast<double>(noteLines.size()) + 10;
  }

  if (options_.xmlDeclaration) {
    out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  }
  out_ +=
      "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
      "width=\"" +
      svgNumber(kWidth) + "\" height=\"" + svgNumber(height) + "\" viewBox=\"0 0 " + svgNumber(kWidth) +
      " " + svgNumber(height) +
      "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" fill=\"" + kTextColour +
      "\" data-outcome=\"" + escapeXml(figure_.outcome) + "\" data-window-start=\"" +
      std::to_string(windowStart_) + "\" data-window-end=\"" +
      std::to_string(windowStart_ + windowLength_) + "\" data-reduced=\"" +
      (reduced_ ? "true" : "false") + "\">\n";
  out_ += "<title>" + escapeXml(describeVerdict(figure_)) + "</title>\n";
  if (reduced_) {
    out_ +=
        "<desc>Reduced for size: each pixel column shows the lowest and highest value of its "
        "samples; spans and detections less than a pixel apart are merged.</desc>\n";
  }
  out_ += "<defs>\n";
  for (int kind = 0; kind < kSpanKinds; ++kind) {
    if (!spanPaths_[kind].empty()) {
      out_ += "<path id=\"" + options_.idPrefix + "spans" + std::to_string(kind) + "\" d=\"" +
              spanPaths_[kind] + "\"/>\n";
    }
  }
  out_ += "</defs>\n";
  rect(0, 0, kWidth, height, "#ffffff", 1.0);
  drawHeader();
  drawLegendRow(92);

  // Frames, shading and levels first, then the markers, then the data on
  // top, so that a marker never hides a one-sample peak.
  std::vector<Panel> drawn;
  double top = kFirstPanelTop;
  for (const PanelLayout& layout : panels) {
    drawn.push_back(drawPanel(top, layout));
    top = drawn.back().bottom() + kPanelGap;
  }
  const Panel& acc = drawn.front();
  drawLevel(acc, settings.impactMin / 100.0, kImpactColour,
            "impact level " + fixedText(settings.impactMin / 100.0, 2) + " g");
  drawLevel(acc, settings.lowLevel / 100.0, kLowLevelColour,
            "low level " + fixedText(settings.lowLevel / 100.0, 2) + " g");
  const Panel& roll = drawn[drawn.size() - 2];
  const Panel& pitch = drawn.back();
  drawBand(roll, -static_cast<double>(settings.rollLimit), settings.rollLimit,
           "upright: |roll| < " + std::to_string(settings.rollLimit));
  drawBand(pitch, settings.pitchUprightMin, settings.pitchMax,
           "upright: " + std::to_string(settings.pitchUprightMin) + " < pitch < " +
               std::to_string(settings.pitchMax));
  if (!spanPaths_[kSpanWarmUp].empty()) {
    text(std::max(kLeft, xOfPosition(windowStart_)) + 4, acc.bottom() - 6, "warm-up",
         std::string("font-size=\"11\" fill=\"") + kMutedColour + "\"");
  }

  const double lanesBottom = drawLanes(pitch.bottom() + 12);
  drawTimeAxis(lanesBottom);
  drawMarkers(kFirstPanelTop, lanesBottom - kLaneGap);

  for (std::size_t p = 0; p < panels.size(); ++p) {
    const PanelLayout& layout = panels[p];
    for (std::size_t k = 0; k < layout.lines.size(); ++k) {
      // The smoothed value (drawn last) gets the heavier line.
      const bool heavy = layout.lines.size() == 1 || (layout.lines.size() == 2 && k == 1);
      drawSeries(drawn[p], layout.lines[k].first, layout.lines[k].second, heavy ? 1.7 : 1.0);
    }
    if (!layout.legend.empty() && !data_.columns().empty()) {
      drawPanelLegend(drawn[p], layout.legend);
    }
  }
  if (data_.columns().empty()) {
    text(kLeft + kPlotWidth / 2, acc.top() + 90,
         figure_.samples == 0 ? "no samples reached the detector" : "no samples in this window",
         std::string("font-size=\"14\" text-anchor=\"middle\" fill=\"") + kMutedColour + "\"");
  }
  for (std::size_t k = 0; k < noteLines.size(); ++k) {
    text(kLeft, notesTop + kNoteLineHeight * static_cast<double>(k + 1), noteLines[k],
         "font-size=\"12\" class=\"note\"");
  }
  out_ += "</svg>\n";
  return std::move(out_);
}

}  // namespace

OutcomeStyle outcomeStyle(std::string_view outcome) {
  if (outcome == "tp") {
    return {"fall detected", "#1a7f37"};
  }
  if (outcome == "missed") {
    return {"fall missed", "#c62828"};
  }
  if (outcome == "early") {
    return {"early alarm", "#d9480f"};
  }
  if (outcome == "false_alarm") {
    return {"false alarm", "#c62828"};
  }
  return {"no alarm", "#1a7f37"};
}

std::string describeVerdict(const RecordingFigure& figure) {
  std::string verdict = figure.setup.name + ": " + outcomeStyle(figure.outcome).words;
  const std::optional<FallAnnotation>& annotation = figure.setup.annotation;
  if (figure.first) {
    const FirstDetection& first = *figure.first;
    verdict += " at " + fixedText(static_cast<double>(first.position) * kPlotSamplePeriodS, 2) +
               " s (sample " + std::to_string(first.position) + "), code " +
               std::to_string(first.code);
    if (annotation) {
      verdict += ", delay " + signedDelayText((first.position - annotation->position) * 20);
    }
  } else if (annotation) {
    verdict += ": no detection, annotated fall at " +
               fixedText(static_cast<double>(annotation->position) * kPlotSamplePeriodS, 2) +
               " s (sample " + std::to_string(annotation->position) + ")";
  }
  return verdict;
}

std::string renderPlotSvg(const RecordingFigure& figure, const SvgOptions& options) {
  return Figure(figure, options).render();
}
