#include "PlotCollector.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "EvalJudge.h"
#include "SettingsTable.h"

namespace {

std::array<float, kSeriesCount> seriesValues(const PlotObservation& observation) {
  const VelmoraObservation& f = observation.features;
  const SampleRecord& raw = observation.raw;
  return {static_cast<float>(f.rawAccMag / 100.0),
          static_cast<float>(f.accMag / 100.0),
          static_cast<float>(f.rawGyroMag),
          static_cast<float>(f.gyroMag),
          static_cast<float>(f.roll),
          static_cast<float>(f.pitch),
          static_cast<float>(raw.ax / kVelmoraCountsPerG),
          static_cast<float>(raw.ay / kVelmoraCountsPerG),
          static_cast<float>(raw.az / kVelmoraCountsPerG),
          static_cast<float>(raw.gx / kVelmoraCountsPerDps),
          static_cast<float>(raw.gy / kVelmoraCountsPerDps),
          static_cast<float>(raw.gz / kVelmoraCountsPerDps)};
}

}  // namespace

void mergeColumns(PlotColumn& column, const PlotColumn& later) {
  if (later.samples == 0) {
    return;
  }
  if (column.samples == 0) {
    column = later;
    return;
  }
  for (int s = 0; s < kSeriesCount; ++s) {
    // Which extreme comes first follows where each one now lies.
    const bool lowFromLater = later.low[s] < column.low[s];
    const bool highFromLater = later.high[s] > column.high[s];
    if (lowFromLater) {
      column.low[s] = later.low[s];
    }
    if (highFromLater) {
      column.high[s] = later.high[s];
    }
    if (lowFromLater && highFromLater) {
      column.lowFirst[s] = later.lowFirst[s];
    } else if (lowFromLater != highFromLater) {
      column.lowFirst[s] = highFromLater;
    }
  }
  for (int k = 0; k < kSpanKinds; ++k) {
    column.spans[k] = column.spans[k] || later.spans[k];
  }
  if (column.detections == 0) {
    column.firstDetection = later.firstDetection;
    column.firstCode = later.firstCode;
  }
  column.detections += later.detections;
  column.samples += later.samples;
}

namespace {

std::vector<std::string> describeChangedSettings(const DetectorSettings& settings) {
  DetectorSettings defaults;
  VelmoraDefaultSettings(&defaults);
  std::vector<std::string> changed;
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    if (settings.*field.member != defaults.*field.member) {
      changed.push_back(std::string(field.name) + "=" + std::to_string(settings.*field.member));
    }
  }
  return changed;
}

// Whole samples at `seconds`, kept within what a position can be.
int64_t positionAt(double seconds) {
  const double samples = std::round(seconds * kPlotSamplesPerSecond);
  return static_cast<int64_t>(std::clamp(samples, 0.0, 9.0e18));
}

}  // namespace

void ColumnSeries::add(const PlotObservation& observation) {
  if (observation.position < start_) {
    return;
  }
  auto index = static_cast<std::size_t>((observation.position - start_) / width_);
  while (index >= kMaxColumns) {
    halve();
    index = static_cast<std::size_t>((observation.position - start_) / width_);
  }
  if (columns_.size() <= index) {
    columns_.resize(index + 1);
  }
  PlotColumn& column = columns_[index];
  const std::array<float, kSeriesCount> values = seriesValues(observation);
  if (column.samples == 0) {
    column.low = values;
    column.high = values;
    column.lowFirst.fill(true);
  } else {
    for (int s = 0; s < kSeriesCount; ++s) {
      if (values[s] < column.low[s]) {
        column.low[s] = values[s];
        column.lowFirst[s] = false;
      }
      if (values[s] > column.high[s]) {
        column.high[s] = values[s];
        column.lowFirst[s] = true;
      }
    }
  }
  ++column.samples;
  column.spans[kSpanWarmUp] = column.spans[kSpanWarmUp] || observation.warmUp;
  column.spans[kSpanJump] = column.spans[kSpanJump] || observation.jumpWindow;
  column.spans[kSpanLowRun] = column.spans[kSpanLowRun] || observation.lowRun;
  column.spans[kSpanStillRun] = column.spans[kSpanStillRun] || observation.stillRun;
  column.spans[kSpanUpright] =
      column.spans[kSpanUpright] || observation.features.postureFlag == 'O';
  if (observation.code > 0) {
    if (column.detections == 0) {
      column.firstDetection = observation.position;
      column.firstCode = observation.code;
    }
    ++column.detections;
  }
}

void ColumnSeries::halve() {
  std::vector<PlotColumn> merged((columns_.size() + 1) / 2);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    mergeColumns(merged[i / 2], columns_[i]);
  }
  columns_ = std::move(merged);
  width_ *= 2;
}

PlotCollector::PlotCollector(PlotSetup setup) : setup_(std::move(setup)) {
  figure_.changedSettings = describeChangedSettings(setup_.settings);
  const PlotWindowRequest& window = setup_.window;
  if (window.whole || window.fromSeconds || window.toSeconds) {
    fixed_ = true;
    fixedStart_ = window.fromSeconds ? positionAt(*window.fromSeconds) : 0;
    fixedEnd_ =
        window.toSeconds ? positionAt(*window.toSeconds) : std::numeric_limits<int64_t>::max();
    whole_ = ColumnSeries(fixedStart_);
    return;
  }
  recent_.reserve(kZoomMarginSamples);
}

void PlotCollector::startWindow(int64_t start) {
  zoom_.emplace(start);
  // The ring holds the samples before this one in order of arrival.
  for (std::size_t k = 0; k < recent_.size(); ++k) {
    zoom_->add(recent_[(recentNext_ + k) % recent_.size()]);
  }
}

void PlotCollector::add(const PlotObservation& observation) {
  const int64_t position = observation.position;
  ++figure_.samples;
  const bool firstDetection = observation.code > 0 && !figure_.first;
  if (observation.code > 0) {
    ++figure_.detections;
    if (firstDetection) {
      figure_.first = FirstDetection{position, observation.code};
    }
  }
  if (fixed_) {
    if (position < fixedEnd_) {
      whole_.add(observation);
    }
    return;
  }
  whole_.add(observation);

  // The default window opens kZoomMarginSamples before the earlier of the
  // annotation and the first detection, and closes as long after the later.
  const std::optional<FallAnnotation>& annotation = setup_.annotation;
  if (firstDetection) {
    const int64_t earlier = annotation ? std::min(annotation->position, position) : position;
    const int64_t start = std::max<int64_t>(0, earlier - kZoomMarginSamples);
    if (!zoom_ || start < zoom_->start()) {
      // Everything from `start` on is still in the ring.
      startWindow(start);
    }
    const int64_t later = annotation ? std::max(annotation->position, position) : position;
    zoomEnd_ = later + kZoomMarginSamples + 1;
  } else if (!zoom_ && annotation && position >= annotation->position - kZoomMarginSamples) {
    startWindow(std::max<int64_t>(0, annotation->position - kZoomMarginSamples));
    zoomEnd_ = annotation->position + kZoomMarginSamples + 1;
  }
  if (zoom_ && position < zoomEnd_) {
    zoom_->add(observation);
  }
  if (recent_.size() < static_cast<std::size_t>(kZoomMarginSamples)) {
    recent_.push_back(observation);
  } else {
    recent_[recentNext_] = observation;
    recentNext_ = (recentNext_ + 1) % recent_.size();
  }
}

RecordingFigure PlotCollector::finish(int64_t positions) {
  figure_.setup = setup_;
  figure_.positions = positions;
  if (fixed_) {
    figure_.windowStart = fixedStart_;
    figure_.windowEnd = std::min(fixedEnd_, positions);
    figure_.data = std::move(whole_);
  } else if (zoom_ || setup_.annotation) {
    // An annotation beyond the samples still names the window.
    const int64_t start =
        zoom_ ? zoom_->start()
              : std::max<int64_t>(0, setup_.annotation->position - kZoomMarginSamples);
    figure_.zoomed = true;
    figure_.windowStart = start;
    figure_.windowEnd = std::min(zoomEnd_, positions);
    figure_.data = zoom_ ? std::move(*zoom_) : ColumnSeries(start);
  } else {
    figure_.windowStart = 0;
    figure_.windowEnd = positions;
    figure_.data = std::move(whole_);
  }
  figure_.windowEnd = std::max(figure_.windowEnd, figure_.windowStart);
  figure_.outcome =
      judgeOutcome(setup_.annotation.has_value(), figure_.first,
                   setup_.annotation ? setup_.annotation->position : 0, setup_.toleranceSamples);
  return std::move(figure_);
}

std::string judgeOutcome(bool isFall, const std::optional<FirstDetection>& first,
                         int64_t fallPosition, int64_t toleranceSamples) {
  namespace evaluation = velmora::evaluation;
  const std::optional<int64_t> firstIndex =
      first ? std::optional<int64_t>(first->position) : std::nullopt;
  return evaluation::outcomeName(
      evaluation::classifyOutcome(isFall, firstIndex, fallPosition, toleranceSamples));
}
