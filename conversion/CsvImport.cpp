#include "CsvImport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

#include "ImportText.h"
#include "RecordingWriter.h"

namespace {

namespace sig = importsignal;

// Counts per unit after "counts:", a positive finite number.
std::optional<double> countsPer(std::string_view text) {
  constexpr std::string_view kPrefix = "counts:";
  if (!text.starts_with(kPrefix)) {
    return std::nullopt;
  }
  const auto per = parseNumber(text.substr(kPrefix.size()), 1e12);
  if (!per || !(*per > 0.0)) {
    return std::nullopt;
  }
  return *per;
}

const char* resamplingName(Resampling resampling) {
  switch (resampling) {
    case Resampling::Mean:
      return "mean";
    case Resampling::Linear:
      return "linear";
    case Resampling::Sinc:
      return "sinc";
    case Resampling::Automatic:
      break;
  }
  return "automatic";
}

std::string axesText(const AxisMap& map) {
  static constexpr char kAxis[] = "xyz";
  std::string text = "(";
  for (std::size_t i = 0; i < 3; ++i) {
    text += (i > 0 ? "," : "");
    text += map.sign[i] < 0 ? '-' : '+';
    text += kAxis[map.index[i]];
  }
  return text + ")";
}

}  // namespace

std::string parseAxisMap(std::string_view text, AxisMap& map) {
  AxisMap result;
  result.text = std::string(text);
  std::array<bool, 3> targetSeen{};
  std::array<bool, 3> sourceSeen{};
  std::size_t start = 0;
  int parts = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(',', start), text.size());
    const std::string_view part = text.substr(start, end - start);
    start = end + 1;
    ++parts;
    const auto axisOf = [](char c) { return c >= 'x' && c <= 'z' ? c - 'x' : -1; };
    if (part.size() < 3 || part[1] != '=' || axisOf(part[0]) < 0) {
      return "expected x=SRC,y=SRC,z=SRC (SRC one of +x, -x, +y, -y, +z, -z), found " +
             quotedExcerpt(part);
    }
    std::string_view source = part.substr(2);
    int sign = 1;
    if (source.size() == 2 && (source[0] == '+' || source[0] == '-')) {
      sign = source[0] == '-' ? -1 : 1;
      source.remove_prefix(1);
    }
    if (source.size() != 1 || axisOf(source[0]) < 0) {
      return "the source of " + std::string(1, part[0]) +
             " must be one of +x, -x, +y, -y, +z, -z, found " + quotedExcerpt(part.substr(2));
    }
    const auto target = static_cast<std::size_t>(axisOf(part[0]));
    const auto from = static_cast<std::size_t>(axisOf(source[0]));
    if (targetSeen[target]) {
      return "axis " + std::string(1, part[0]) + " is given twice";
    }
    if (sourceSeen[from]) {
      return "source axis " + std::string(1, source[0]) + " is used twice";
    }
    targetSeen[target] = sourceSeen[from] = true;
    result.index[target] = static_cast<int>(from);
    result.sign[target] = sign;
    if (end == text.size()) {
      break;
    }
  }
  if (parts != 3 || !targetSeen[0] || !targetSeen[1] || !targetSeen[2]) {
    return "expected all three of x=SRC,y=SRC,z=SRC, found " + quotedExcerpt(text);
  }
  map = result;
  return {};
}

int determinant(const AxisMap& map) {
  // A permutation's sign (its inversions) times the signs of the axes.
  int sign = map.sign[0] * map.sign[1] * map.sign[2];
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = i + 1; j < 3; ++j) {
      if (map.index[i] > map.index[j]) {
        sign = -sign;
      }
    }
  }
  return sign;
}

std::optional<double> accUnitFactor(std::string_view text) {
  if (text == "g") {
    return sig::kVelmoraCountsPerG;
  }
  if (text == "mps2") {
    return sig::kVelmoraCountsPerG / sig::kStandardGravity;
  }
  if (const auto per = countsPer(text)) {
    return sig::kVelmoraCountsPerG / *per;
  }
  return std::nullopt;
}

std::optional<double> gyroUnitFactor(std::string_view text) {
  if (text == "dps") {
    return sig::kVelmoraCountsPerDps;
  }
  if (text == "rads") {
    return sig::kVelmoraCountsPerDps * 180.0 / std::numbers::pi;
  }
  if (const auto per = countsPer(text)) {
    return sig::kVelmoraCountsPerDps / *per;
  }
  return std::nullopt;
}

std::string CsvRowParser::setColumns(std::string_view names) {
  std::string error = readHeader(names, 0);
  const std::string prefix = "line 0: ";
  if (error.starts_with(prefix)) {
    error = "--columns: " + error.substr(prefix.size());
  }
  return error;
}

std::string CsvRowParser::readHeader(std::string_view line, int64_t lineNumber) {
  const std::string where = "line " + std::to_string(lineNumber) + ": ";
  delimiter_ = options_.delimiter;
  if (delimiter_ == 0) {
    // The most frequent of ',', ';' and tab outside quotes.
    std::array<std::size_t, 3> counts{};
    bool quoted = false;
    for (const char c : line) {
      quoted = c == '"' ? !quoted : quoted;
      if (!quoted) {
        counts[0] += c == ',' ? 1 : 0;
        counts[1] += c == ';' ? 1 : 0;
        counts[2] += c == '\t' ? 1 : 0;
      }
    }
    const auto most = std::max_element(counts.begin(), counts.end()) - counts.begin();
    if (counts[static_cast<std::size_t>(most)] == 0) {
      return where + "the header row holds no ',', ';' or tab; give the delimiter with --delimiter";
    }
    delimiter_ = ",;\t"[most];
  }
  if (!splitFields(line, delimiter_, columnNames_)) {
    return where + "the header row has a double quote that is never closed";
  }
  const auto find = [this, &where](const std::string& name, std::size_t& index) -> std::string {
    const auto count = std::count(columnNames_.begin(), columnNames_.end(), name);
    if (count == 0) {
      std::string known;
      for (std::size_t i = 0; i < columnNames_.size() && i < 12; ++i) {
        known += (i > 0 ? ", " : "") + quotedExcerpt(columnNames_[i]);
      }
      if (columnNames_.size() > 12) {
        known += ", ...";
      }
      return where + "column " + quotedExcerpt(name) +
             ": no such column in the header row (it has " + known + ")";
    }
    if (count > 1) {
      return where + "column " + quotedExcerpt(name) + ": the header row names it more than once";
    }
    index = static_cast<std::size_t>(std::find(columnNames_.begin(), columnNames_.end(), name) -
                                     columnNames_.begin());
    neededFields_ = std::max(neededFields_, index + 1);
    return {};
  };
  for (std::size_t i = 0; i < 6; ++i) {
    const std::string& name = i < 3 ? options_.accColumns[i] : options_.gyroColumns[i - 3];
    if (std::string error = find(name, valueColumns_[i]); !error.empty()) {
      return error;
    }
  }
  if (!options_.timeColumn.empty()) {
    std::size_t index = 0;
    if (std::string error = find(options_.timeColumn, index); !error.empty()) {
      return error;
    }
    timeColumn_ = index;
  }
  if (!options_.labelColumn.empty()) {
    std::size_t index = 0;
    if (std::string error = find(options_.labelColumn, index); !error.empty()) {
      return error;
    }
    labelColumn_ = index;
  }
  haveHeader_ = true;
  return {};
}

std::string CsvRowParser::readRow(std::string_view line, int64_t lineNumber, CsvRow& row,
                                  bool readLabel) {
  const std::string where = "line " + std::to_string(lineNumber) + ": ";
  if (!splitFields(line, delimiter_, fields_)) {
    return where + "a double quote is never closed";
  }
  if (fields_.size() < neededFields_) {
    // The first used column the row does not reach.
    std::size_t first = neededFields_ - 1;
    for (const std::size_t column : valueColumns_) {
      first = column >= fields_.size() ? std::min(first, column) : first;
    }
    for (const auto& column : {timeColumn_, labelColumn_}) {
      first = column && *column >= fields_.size() ? std::min(first, *column) : first;
    }
    const std::string missing = columnNames_[first];
    return where + "column " + quotedExcerpt(missing) + ": missing (the row has " +
           std::to_string(fields_.size()) + " fields, the header " +
           std::to_string(columnNames_.size()) + ")";
  }
  const auto number = [this, &where](std::size_t column, double limit,
                                     double& value) -> std::string {
    const std::string& field = fields_[column];
    const auto parsed = parseNumber(field, limit);
    if (!parsed && parseNumber(field, std::numeric_limits<double>::max())) {
      return where + "column " + quotedExcerpt(columnNames_[column]) + ": " + quotedExcerpt(field) +
             " is beyond +-" + formatValue("%g", limit) + ", not a sensor value";
    }
    if (!parsed) {
      return where + "column " + quotedExcerpt(columnNames_[column]) + ": expected a number" +
             (field.empty() ? std::string(", found an empty field")
                            : ", found " + quotedExcerpt(field));
    }
    value = *parsed;
    return {};
  };
  std::array<double, 6> source{};
  for (std::size_t i = 0; i < 6; ++i) {
    if (std::string error = number(valueColumns_[i], 1e9, source[i]); !error.empty()) {
      return error;
    }
  }
  for (std::size_t i = 0; i < 3; ++i) {
    const AxisMap& acc = options_.accAxes;
    const AxisMap& gyro = options_.gyroAxes;
    row.values[i] = acc.sign[i] * source[static_cast<std::size_t>(acc.index[i])];
    row.values[i + 3] = gyro.sign[i] * source[3 + static_cast<std::size_t>(gyro.index[i])];
  }
  if (timeColumn_) {
    double time = 0.0;
    if (std::string error = number(*timeColumn_, 1e18, time); !error.empty()) {
      return error;
    }
    row.timeMs = time * options_.timeUnitMs;
  }
  row.label.reset();
  if (labelColumn_ && readLabel) {
    double label = 0.0;
    if (std::string error = number(*labelColumn_, 1e18, label); !error.empty()) {
      return error;
    }
    row.label = label;
  }
  return {};
}

void StampSummary::add(double timeMs) {
  if (rows == 0) {
    lowestMs = firstMs = lastMs = timeMs;
    distinct = 1;
  } else {
    lowestMs = std::min(lowestMs, timeMs);
    ordered = ordered && timeMs >= lastMs;
    if (timeMs != lastMs) {
      const double step = timeMs - lastMs;
      shortestStepMs = distinct == 1 ? step : std::min(shortestStepMs, step);
      longestStepMs = distinct == 1 ? step : std::max(longestStepMs, step);
      ++distinct;
      lastMs = timeMs;
    }
  }
  ++rows;
}

CsvReader::CsvReader(const CsvOptions& options)
    : options_(options),
      parser_(std::in_place, options),
      counter_(options.accFactor, options.gyroFactor) {
  if (options_.timeColumn.empty()) {
    // With --rate the resampling follows from the options alone: a mistake
    // is reported after the lines' own errors, as when the rows are held.
    const Plan chosen = plan(StampSummary{});
    if (!chosen.error.empty()) {
      mode_ = Mode::Measured;
    } else if (chosen.method != Resampling::Sinc) {
      startStreaming(chosen);
    }
  }
}

void CsvReader::reserve(std::size_t lines) {
  reservedLines_ = std::min(lines, sig::kMaxInputSamples);
  if (mode_ == Mode::Held) {
    rows_.reserve(reservedLines_);
  } else if (mode_ == Mode::Streamed && options_.timeColumn.empty()) {
    // At most this many samples (memory not yet written is not taken).
    const double rows = static_cast<double>(reservedLines_) + 1.0;
    const double samples =
        plan_.method == Resampling::Mean
            ? rows / static_cast<double>(plan_.group)
            : rows * 1000.0 / options_.rate.value_or(1.0) / sig::kOutputPeriodMs + 1.0;
    counter_.reserve(static_cast<std::size_t>(
        std::min(samples, static_cast<double>(sig::kMaxInputSamples) + 1.0)));
  }
}

void CsvReader::allowSecondReading() {
  secondReadingAllowed_ = true;
  // Sinc needs every row, however they are ordered: no use measuring first.
  if (!options_.timeColumn.empty() && options_.resampling != Resampling::Sinc && inputRows_ == 0) {
    mode_ = Mode::Measured;
  }
}

std::string CsvReader::addLine(std::string_view line, int64_t lineNumber) {
  if (std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; })) {
    return {};
  }
  if (!parser_->haveHeader()) {
    return parser_->readHeader(line, lineNumber);
  }
  if (inputRows_ >= sig::kMaxInputSamples) {
    return "line " + std::to_string(lineNumber) + ": more than " +
           std::to_string(sig::kMaxInputSamples) +
           " samples; split the recording into shorter files";
  }
  CsvRow parsed;
  if (std::string error = parser_->readRow(line, lineNumber, parsed, !labelTimeMs_);
      !error.empty()) {
    return error;
  }
  sig::Timed<6> row{};
  row.values = parsed.values;
  row.time = !options_.timeColumn.empty()
                 ? parsed.timeMs
                 : static_cast<double>(inputRows_) * 1000.0 / options_.rate.value_or(1.0);
  if (parsed.label && !labelTimeMs_ && *parsed.label != 0.0) {
    labelTimeMs_ = row.time;
    labelLine_ = lineNumber;
  }
  if (inputRows_ == 0) {
    firstDataLine_ = lineNumber;
  }
  ++inputRows_;
  stamps_.add(row.time);
  if (mode_ == Mode::Held) {
    rows_.push_back(row);
  } else if (mode_ == Mode::Streamed && options_.timeColumn.empty()) {
    convert(row);
    ++streamedRows_;
  } else if (mode_ == Mode::Streamed) {
    // The rows of one stamp are summed in file order and averaged, as
    // sortAndMerge() does.
    if (holding_ && row.time == heldTimeMs_) {
      for (std::size_t axis = 0; axis < 6; ++axis) {
        heldSum_[axis] += row.values[axis];
      }
      ++heldCount_;
      return {};
    }
    if (holding_ && row.time < heldTimeMs_) {
      return "line " + std::to_string(lineNumber) + ": column " +
             quotedExcerpt(options_.timeColumn) +
             ": the time goes back here, and did not when the file was first read (it changed "
             "while it was read)";
    }
    releaseHeld();
    holding_ = true;
    heldTimeMs_ = row.time;
    heldSum_ = {};
    for (std::size_t axis = 0; axis < 6; ++axis) {
      heldSum_[axis] += row.values[axis];
    }
    heldCount_ = 1;
  }
  return {};
}

bool CsvReader::startSecondReading() {
  if (!secondReadingAllowed_ || secondReading_ || mode_ != Mode::Measured ||
      options_.timeColumn.empty() || !parser_->haveHeader() || inputRows_ == 0) {
    return false;
  }
  Plan chosen;
  bool stream = false;
  if (stamps_.ordered) {
    if (stamps_.distinct < 2) {
      return false;  // finish() says why
    }
    chosen = plan(stamps_);
    if (!chosen.error.empty()) {
      return false;
    }
    stream = chosen.method != Resampling::Sinc;
  }
  firstReading_ = stamps_;
  const std::size_t rows = inputRows_;
  parser_.emplace(options_);
  inputRows_ = 0;
  stamps_ = {};
  labelTimeMs_.reset();
  labelLine_ = 0;
  firstDataLine_ = 0;
  secondReading_ = true;
  if (stream) {
    startStreaming(chosen);
    counter_.reserve(chosen.method == Resampling::Mean
                         ? firstReading_.distinct / chosen.group
                         : sig::gridLength(firstReading_.firstMs, firstReading_.lastMs));
  } else {
    mode_ = Mode::Held;
    rows_.reserve(rows);
  }
  return true;
}

void CsvReader::startStreaming(const Plan& chosen) {
  mode_ = Mode::Streamed;
  plan_ = chosen;
  mean_ = sig::GroupMean(chosen.group);
}

void CsvReader::convert(const sig::Timed<6>& row) {
  const auto count = [this](const sig::Values& values) { counter_.add(values); };
  if (plan_.method == Resampling::Mean) {
    sig::Values mean{};
    if (mean_.add(row.values, mean)) {
      count(mean);
    }
    return;
  }
  // Past the output limit the rest is only read (finish() refuses it), and
  // a stamp far ahead never runs the grid through its points.
  beyondLimit_ =
      beyondLimit_ || (grid_.started() && (row.time - grid_.firstMs()) / sig::kOutputPeriodMs >=
                                              static_cast<double>(sig::kMaxInputSamples));
  if (!beyondLimit_) {
    grid_.add(row, [this](const sig::Values& values) { pendingPoints_.push_back(values); });
    releaseGridPoints(row.time);
  }
}

void CsvReader::releaseGridPoints(double lastMs) {
  // The grid has gridLength(first, last) points: one that the rounding of
  // its time puts at the last stamp but not within that count waits for a
  // later stamp, and is dropped at the end.
  const std::size_t length = sig::gridLength(grid_.firstMs(), lastMs);
  const std::size_t firstIndex = grid_.emitted() - pendingPoints_.size();
  std::size_t released = 0;
  while (released < pendingPoints_.size() && firstIndex + released < length) {
    counter_.add(pendingPoints_[released++]);
  }
  pendingPoints_.erase(pendingPoints_.begin(),
                       pendingPoints_.begin() + static_cast<std::ptrdiff_t>(released));
}

void CsvReader::releaseHeld() {
  if (!holding_) {
    return;
  }
  sig::Timed<6> merged{heldTimeMs_, {}};
  for (std::size_t axis = 0; axis < 6; ++axis) {
    merged.values[axis] = heldSum_[axis] / static_cast<double>(heldCount_);
  }
  holding_ = false;
  convert(merged);
  ++streamedRows_;
}

namespace {

std::string spanError(double firstMs, double lastMs) {
  const double span = lastMs - firstMs;
  if (span / sig::kOutputPeriodMs >= static_cast<double>(sig::kMaxInputSamples)) {
    return "the samples span " + formatValue("%.6g", span / 1000.0) + " s, more than " +
           std::to_string(sig::kMaxInputSamples) +
           " output samples; check the rate or the time unit, or split the recording";
  }
  return {};
}

}  // namespace

CsvReader::Plan CsvReader::plan(const StampSummary& stamps) const {
  // The rate, and whether the samples are evenly spaced.
  Plan chosen;
  chosen.rate = options_.rate.value_or(0.0);
  const bool timed = !options_.timeColumn.empty();
  if (timed) {
    // Every step within 1 % of the mean interval: the shortest and the
    // longest are.
    const double span = stamps.lastMs - stamps.firstMs;
    const double interval = span / static_cast<double>(stamps.distinct - 1);
    chosen.regular = std::fabs(stamps.shortestStepMs - interval) <= 0.01 * interval &&
                     std::fabs(stamps.longestStepMs - interval) <= 0.01 * interval;
    chosen.rate = 1000.0 / interval;
    chosen.timing = "time column " + quotedExcerpt(options_.timeColumn) + " in " +
                    options_.timeUnitText + ", " + formatValue("%.4g", chosen.rate) +
                    " samples/s on average" +
                    (chosen.regular ? ", regular within 1 %" : ", irregular");
    if (stamps.distinct < stamps.rows) {
      chosen.timing +=
          ", " + std::to_string(stamps.rows - stamps.distinct) + " repeated time stamps merged";
    }
  } else {
    chosen.timing = formatValue("%.6g", chosen.rate) + " samples/s (--rate)";
  }
  const double rate = chosen.rate;
  const bool regular = chosen.regular;
  // An integer multiple of 50: exactly for a given rate, within 1 % for
  // time stamps (their average interval is never exact).
  const double ratio = rate / sig::kOutputRate;
  const double group = std::round(ratio);
  const bool multiple =
      group >= 1.0 && std::fabs(ratio - group) <= (timed ? 0.01 * ratio : 1e-9 * ratio);
  Resampling method = options_.resampling;
  if (method == Resampling::Automatic) {
    method = !regular                  ? Resampling::Linear
             : multiple                ? Resampling::Mean
             : rate > sig::kOutputRate ? Resampling::Sinc
                                       : Resampling::Linear;
  }
  chosen.method = method;
  if ((method == Resampling::Mean || method == Resampling::Sinc) && !regular) {
    chosen.error = std::string("--resample ") + resamplingName(method) +
                   " needs evenly spaced samples, and the time stamps vary by more than 1 %; use "
                   "--resample linear";
  } else if (method == Resampling::Mean && !multiple) {
    chosen.error =
        "--resample mean needs a source rate that is a whole multiple of 50 samples/s, not " +
        formatValue("%.6g", rate) + "; use --resample sinc or linear";
  } else if (method == Resampling::Sinc && !sig::sincAvailable()) {
    chosen.error = "the source rate " + formatValue("%.6g", rate) +
                   " samples/s needs --resample sinc, which this build left out (it needs "
                   "libsamplerate0-dev); --resample linear interpolates without anti-aliasing";
  } else if (method == Resampling::Linear) {
    chosen.error = spanError(stamps.firstMs, stamps.lastMs);
  }
  if (method == Resampling::Mean && chosen.error.empty()) {
    chosen.group = static_cast<std::size_t>(group);
  }
  return chosen;
}

std::variant<ImportedRecording, std::string> CsvReader::finish(const std::string& name,
                                                               std::string_view source) {
  if (!parser_->haveHeader()) {
    return std::string("no header row (the file is empty)");
  }
  if (inputRows_ == 0) {
    return std::string("no data rows after the header row");
  }
  const bool timed = !options_.timeColumn.empty();
  const auto neverIncreases = [this](double timeMs) {
    return "line " + std::to_string(firstDataLine_) + ": column " +
           quotedExcerpt(options_.timeColumn) + ": the time never increases (every row has " +
           formatValue("%.17g", timeMs / options_.timeUnitMs) + ")";
  };
  if (mode_ == Mode::Held) {
    return finishHeld(name, source);
  }
  if (mode_ == Mode::Measured) {
    if (timed && stamps_.ordered && stamps_.distinct < 2) {
      return neverIncreases(stamps_.firstMs);
    }
    if (timed && !stamps_.ordered) {
      return std::string("the rows are out of time order and were not held to be sorted");
    }
    const Plan chosen = plan(stamps_);
    return chosen.error.empty() ? std::string("the rows were measured, not converted")
                                : chosen.error;
  }
  releaseHeld();
  if (secondReading_ &&
      (stamps_.rows != firstReading_.rows || stamps_.distinct != firstReading_.distinct ||
       stamps_.firstMs != firstReading_.firstMs || stamps_.lastMs != firstReading_.lastMs)) {
    return std::string("the file changed while it was read; nothing was converted");
  }
  if (beyondLimit_) {
    return spanError(stamps_.firstMs, stamps_.lastMs);
  }
  if (plan_.method == Resampling::Linear) {
    pendingPoints_.clear();
    grid_.finishTo([this](const sig::Values& values) { counter_.add(values); });
  }
  if (counter_.size() == 0) {
    return "too short: " + std::to_string(inputRows_) +
           " samples give no output sample at 50 samples/s";
  }
  return build(name, source, plan_, streamedRows_, stamps_.lowestMs, counter_.take());
}

std::variant<ImportedRecording, std::string> CsvReader::finishHeld(const std::string& name,
                                                                   std::string_view source) {
  const double rawFirstMs = std::min_element(rows_.begin(), rows_.end(), [](auto& a, auto& b) {
                              return a.time < b.time;
                            })->time;
  StampSummary stamps = stamps_;
  if (!options_.timeColumn.empty()) {
    sig::sortAndMerge(rows_);
    if (rows_.size() < 2) {
      return "line " + std::to_string(firstDataLine_) + ": column " +
             quotedExcerpt(options_.timeColumn) + ": the time never increases (every row has " +
             formatValue("%.17g", rows_.front().time / options_.timeUnitMs) + ")";
    }
    stamps = {};
    for (const sig::Timed<6>& row : rows_) {
      stamps.add(row.time);
    }
    stamps.rows = inputRows_;
  }
  const Plan chosen = plan(stamps);
  if (!chosen.error.empty()) {
    return chosen.error;
  }
  const std::size_t convertedRows = rows_.size();
  sig::SampleCounter counter(options_.accFactor, options_.gyroFactor);
  if (chosen.method == Resampling::Mean) {
    // Each group's mean goes into the rows in place (group k is read before
    // row k is written), as meanOfGroups computes it: no second copy.
    const std::size_t size = chosen.group;
    const std::size_t groups = rows_.size() / size;
    for (std::size_t g = 0; g < groups; ++g) {
      sig::Values sum{};
      for (std::size_t i = 0; i < size; ++i) {
        for (std::size_t axis = 0; axis < sum.size(); ++axis) {
          sum[axis] += rows_[g * size + i].values[axis];
        }
      }
      for (double& value : sum) {
        value /= static_cast<double>(size);
      }
      rows_[g].values = sum;
    }
    rows_.resize(groups);
    counter.reserve(groups);
    for (const sig::Timed<6>& row : rows_) {
      counter.add(row.values);
    }
  } else if (chosen.method == Resampling::Sinc) {
    std::vector<sig::Values> resampled;
    if (std::string error = sig::resampleSinc(
            rows_.size(), [this](std::size_t k) -> const sig::Values& { return rows_[k].values; },
            chosen.rate, resampled);
        !error.empty()) {
      return error;
    }
    rows_.clear();
    rows_.shrink_to_fit();
    counter.reserve(resampled.size());
    for (const sig::Values& values : resampled) {
      counter.add(values);
    }
  } else {
    // The interpolation a stream gets, run over the sorted, merged rows,
    // straight into counts.
    const std::size_t length = sig::gridLength(rows_.front().time, rows_.back().time);
    counter.reserve(length);
    sig::GridInterpolator grid;
    const auto keep = [&counter, length](const sig::Values& values) {
      if (counter.size() < length) {
        counter.add(values);
      }
    };
    for (const sig::Timed<6>& row : rows_) {
      grid.add(row, keep);
    }
    grid.finishTo(keep);
  }
  rows_.clear();
  rows_.shrink_to_fit();
  if (counter.size() == 0) {
    return "too short: " + std::to_string(inputRows_) +
           " samples give no output sample at 50 samples/s";
  }
  sig::CountedSamples counted = counter.take();
  return build(name, source, chosen, convertedRows, rawFirstMs, std::move(counted));
}

std::variant<ImportedRecording, std::string> CsvReader::build(
    const std::string& name, std::string_view source, const Plan& chosen, std::size_t convertedRows,
    double rawFirstMs, sig::CountedSamples counted) const {
  const Resampling method = chosen.method;
  const std::string& timing = chosen.timing;
  const std::string methodText =
      method == Resampling::Mean
          ? "mean of each " + std::to_string(chosen.group) + " consecutive samples (trailing " +
                std::to_string(convertedRows % chosen.group) + " dropped)"
      : method == Resampling::Sinc ? "band-limited sinc conversion (libsamplerate, best quality)"
                                   : "linear interpolation to a 20 ms grid";
  const std::size_t inputRows = inputRows_;
  const auto count = static_cast<int64_t>(counted.samples.size());

  ImportedRecording recording;
  recording.name = name;
  std::string annotation = "none";
  const auto atTime = [&](double ms, const std::string& what) -> std::string {
    const double position = std::floor((ms - rawFirstMs) / sig::kOutputPeriodMs + 0.5);
    if (!(position >= 0.0 && position < static_cast<double>(count))) {
      return what + " lies at " + formatValue("%.3f", (ms - rawFirstMs) / 1000.0) +
             " s, outside the recording (0 to " +
             formatValue("%.3f", static_cast<double>(count - 1) * 0.02) + " s)";
    }
    recording.fallPosition = static_cast<int64_t>(position);
    return {};
  };
  if (options_.fallAtImpact) {
    recording.fallPosition = counted.impactSample;
    annotation = "fall at sample " + std::to_string(counted.impactSample) +
                 ", the largest |acc| before rounding (" + formatValue("%.2f", counted.impactG) +
                 " g): an impact estimate, not a hand annotation";
  } else if (options_.fallAtSeconds) {
    if (std::string error = atTime(rawFirstMs + *options_.fallAtSeconds * 1000.0,
                                   "--fall-at " + formatValue("%g", *options_.fallAtSeconds));
        !error.empty()) {
      return error;
    }
    annotation = "fall at sample " + std::to_string(*recording.fallPosition) + " (--fall-at " +
                 formatValue("%g", *options_.fallAtSeconds) + " s)";
  } else if (!options_.labelColumn.empty()) {
    if (labelTimeMs_) {
      if (std::string error =
              atTime(*labelTimeMs_, "the first label (line " + std::to_string(labelLine_) + ")");
          !error.empty()) {
        return error;
      }
      annotation = "fall at sample " + std::to_string(*recording.fallPosition) +
                   " (first non-zero " + quotedExcerpt(options_.labelColumn) + " at line " +
                   std::to_string(labelLine_) + ")";
    } else {
      annotation = "none (no non-zero " + quotedExcerpt(options_.labelColumn) + ")";
    }
  }
  const bool fall = recording.fallPosition.has_value();
  recording.header[0] = "Recording imported by velmora-import csv | source: " + std::string(source);
  recording.header[1] = "dataset: " + options_.dataset + " | activity: " + options_.activity +
                        (fall ? " (fall)" : " (adl)") + " | subject: " + options_.subject +
                        " | trial: " + options_.trial;
  recording.header[2] = "original: " + std::to_string(inputRows) + " samples, " + timing +
                        "; acc in " + options_.accUnitText + ", gyro in " + options_.gyroUnitText;
  recording.header[3] = "conversion: " + methodText +
                        " to 50 samples/s; axes acc (x,y,z) = " + axesText(options_.accAxes) +
                        ", gyro (x,y,z) = " + axesText(options_.gyroAxes) + "; acc x" +
                        formatValue("%.6g", options_.accFactor) + ", gyro x" +
                        formatValue("%.6g", options_.gyroFactor) +
                        ", rounded half up, clamped to int16 (acc " +
                        std::to_string(counted.clampedAccSamples) + ", gyro " +
                        std::to_string(counted.clampedGyroSamples) + " samples)";
  recording.header[4] = recordingFormatText(count) + "; upright should read y about -1 g";
  recording.header[5] = "annotation: " + annotation;
  for (std::string& line : recording.header) {
    line = headerLine(line);
  }
  recording.row = {name + ".csv",
                   options_.dataset,
                   options_.activity,
                   fall ? "fall" : "adl",
                   options_.subject,
                   options_.trial,
                   count,
                   recording.fallPosition};
  recording.note = std::to_string(count) + " samples by " + resamplingName(method);
  if (fall) {
    recording.note += ", fall at sample " + std::to_string(*recording.fallPosition);
  }
  // Values beyond 16 bits that the conversion clamped (a wrong unit, or a
  // sensor with a wider range); `check` reports values at full scale.
  recording.note += ", clamped by the conversion: acc " +
                    std::to_string(counted.clampedAccSamples) + ", gyro " +
                    std::to_string(counted.clampedGyroSamples) + " samples";
  recording.samples = std::move(counted.samples);
  return recording;
}
