// What a figure of one recording shows, gathered in a single pass over the
// detector's per-sample observations with memory bounded for any length.
//
// The samples of the shown time window are kept in at most kMaxColumns
// columns of consecutive positions. When a recording outgrows them, neighbouring
// columns are merged (each then covers twice as many positions), so the length
// need not be known in advance (a recording read from standard input). A column
// keeps the lowest and highest value of every series, whether any of its
// samples lay in a jump window, a low run and so on, and how many detections it
// holds, which is all that a pixel column of the figure can show.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "Velmora.h"
#include "VelmoraObservation.h"

inline constexpr double kPlotSamplePeriodS = kVelmoraSamplePeriodMs / 1000.0;
inline constexpr int64_t kPlotSamplesPerSecond = kVelmoraSamplesPerSecond;
inline constexpr int64_t kWarmUpSampleCount = 40;  // samples the detector only learns from
// Margin of the default window around the annotation and the first detection.
inline constexpr int64_t kZoomMarginSamples = 3 * kPlotSamplesPerSecond;

// One sample as the detector saw it.
struct PlotObservation {
  int64_t position = 0;  // data-line position, the sample index Drovik reports
  SampleRecord raw{};    // the sample's counts
  VelmoraObservation features{};
  bool warmUp = false;      // the detector only learnt from this sample
  bool jumpWindow = false;  // the sample lies inside a jump window
  bool lowRun = false;      // smoothed low-acceleration run under way
  bool stillRun = false;    // raw low-acceleration run under way
  int32_t code = 0;         // result code
};

// The plotted series, in drawing order; the axes only with PlotSetup::axes.
enum Series : int {
  kRawAccMag,
  kAccMag,
  kRawGyroMag,
  kGyroMag,
  kRoll,
  kPitch,
  kAccX,
  kAccY,
  kAccZ,
  kGyroX,
  kGyroY,
  kGyroZ,
  kSeriesCount
};

// Flags a column keeps: set when any of its samples had the property.
enum SpanKind : int {
  kSpanWarmUp,
  kSpanJump,
  kSpanLowRun,
  kSpanStillRun,
  kSpanUpright,
  kSpanKinds
};

struct PlotColumn {
  int64_t samples = 0;  // observations in the column (short lines leave gaps)
  std::array<float, kSeriesCount> low{};
  std::array<float, kSeriesCount> high{};
  std::array<bool, kSeriesCount> lowFirst{};  // the lowest value came before the highest
  std::array<bool, kSpanKinds> spans{};
  int64_t detections = 0;
  int64_t firstDetection = 0;  // position of the column's first detection
  int32_t firstCode = 0;
};

// Folds `later`, the column that follows, into `column`.
void mergeColumns(PlotColumn& column, const PlotColumn& later);

// Consecutive positions in columns of `width` positions each, starting at
// `start`; merges neighbours to stay within kMaxColumns.
class ColumnSeries {
 public:
  static constexpr std::size_t kMaxColumns = 4096;

  explicit ColumnSeries(int64_t start = 0) : start_(start) {}
  void add(const PlotObservation& observation);

  [[nodiscard]] int64_t start() const { return start_; }
  [[nodiscard]] int64_t width() const { return width_; }
  [[nodiscard]] const std::vector<PlotColumn>& columns() const { return columns_; }

 private:
  void halve();

  int64_t start_;
  int64_t width_ = 1;
  std::vector<PlotColumn> columns_;
};

// The annotation of a fall recording.
struct FallAnnotation {
  int64_t position = 0;
};

// Which part of the recording to show.
struct PlotWindowRequest {
  std::optional<double> fromSeconds;
  std::optional<double> toSeconds;
  bool whole = false;  // the entire recording even when a zoom window exists
};

struct PlotSetup {
  std::string name;  // file name shown in the title
  DetectorSettings settings{};
  std::optional<FallAnnotation> annotation;
  PlotWindowRequest window;
  bool axes = false;              // per-axis panels of the raw sample
  int64_t toleranceSamples = 50;  // early tolerance of the outcome rule
  double toleranceSeconds = 1.0;  // the same, as the user gave it
};

struct FirstDetection {
  int64_t position = 0;
  int32_t code = 0;
};

// Everything the figure draws.
struct RecordingFigure {
  PlotSetup setup;
  std::vector<std::string> changedSettings;  // "NAME=VALUE" for non-defaults
  int64_t positions = 0;                     // data lines, short ones included
  int64_t samples = 0;                       // samples that reached the detector
  int64_t detections = 0;                    // samples with a positive result
  std::optional<FirstDetection> first;
  std::string outcome;      // velmora-eval's outcome name: tp, missed, early, false_alarm, tn
  int64_t windowStart = 0;  // shown positions [windowStart, windowEnd)
  int64_t windowEnd = 0;
  bool zoomed = false;  // a window chosen around the annotation and first detection
  ColumnSeries data;    // the shown window's columns
};

class PlotCollector {
 public:
  explicit PlotCollector(PlotSetup setup);
  void add(const PlotObservation& observation);
  // `positions` is the number of data lines, short ones included.
  [[nodiscard]] RecordingFigure finish(int64_t positions);

 private:
  void startWindow(int64_t start);

  PlotSetup setup_;
  RecordingFigure figure_;
  // Fixed window (--from/--to or --whole): [fixedStart_, fixedEnd_).
  bool fixed_ = false;
  int64_t fixedStart_ = 0;
  int64_t fixedEnd_ = std::numeric_limits<int64_t>::max();
  // Default window: the zoom window while it is being found, and the whole
  // recording in case neither an annotation nor a detection turns up.
  std::optional<ColumnSeries> zoom_;
  int64_t zoomEnd_ = std::numeric_limits<int64_t>::max();
  ColumnSeries whole_;
  std::vector<PlotObservation> recent_;  // the last kZoomMarginSamples observations (a ring)
  std::size_t recentNext_ = 0;
};

// Outcome of the recording by velmora-eval's rules.
[[nodiscard]] std::string judgeOutcome(bool isFall, const std::optional<FirstDetection>& first,
                                       int64_t fallPosition, int64_t toleranceSamples);
