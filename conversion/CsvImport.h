// The general importer: delimited text with a header row, columns chosen
// by name, any units, axes and rate, resampled to the detector's 50
// samples per second.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ImportSignal.h"
#include "ImportedRecording.h"

// Where each output axis comes from: output[i] = sign[i] x source[index[i]].
struct AxisMap {
  std::array<int, 3> index{0, 1, 2};
  std::array<int, 3> sign{1, 1, 1};
  std::string text = "x=+x,y=+y,z=+z";
};

// "x=SRC,y=SRC,z=SRC", SRC one of +x -x +y -y +z -z (a bare x means +x),
// each source axis used once. Empty error on success.
[[nodiscard]] std::string parseAxisMap(std::string_view text, AxisMap& map);
// +1 for a rotation, -1 for a mapping that mirrors the frame.
[[nodiscard]] int determinant(const AxisMap& map);

// Source units to counts: "g" | "mps2" | "counts:PER_G", and "dps" |
// "rads" | "counts:PER_DPS". Empty when the text does not parse.
[[nodiscard]] std::optional<double> accUnitFactor(std::string_view text);
[[nodiscard]] std::optional<double> gyroUnitFactor(std::string_view text);

enum class Resampling { Automatic, Mean, Linear, Sinc };

struct CsvOptions {
  std::array<std::string, 3> accColumns;
  std::array<std::string, 3> gyroColumns;
  std::optional<double> rate;  // samples/s, when given
  std::string timeColumn;      // when the rate comes from time stamps
  double timeUnitMs = 1000.0;  // ms per unit of the time column
  std::string timeUnitText = "s";
  double accFactor = 0.0;  // source unit -> counts
  double gyroFactor = 0.0;
  std::string accUnitText;
  std::string gyroUnitText;
  AxisMap accAxes;
  AxisMap gyroAxes;
  Resampling resampling = Resampling::Automatic;
  std::optional<double> fallAtSeconds;
  bool fallAtImpact = false;
  std::string labelColumn;
  char delimiter = 0;  // 0: detect ',', ';' or tab from the header row
  std::string dataset;
  std::string subject;
  std::string activity;
  std::string trial;
};

// Reads one file line by line and converts it at the end.
class CsvReader {
 public:
  explicit CsvReader(const CsvOptions& options) : options_(options) {}

  // Room for the rows of a file of `lines` lines, so that the samples are
  // held once, without the slack of a growing array.
  void reserve(std::size_t lines);
  // Returns "" or an error naming the line and column ("line 12: column
  // 'ax': ...").
  [[nodiscard]] std::string addLine(std::string_view line, int64_t lineNumber);

  // The recording, or an error.
  [[nodiscard]] std::variant<ImportedRecording, std::string> finish(const std::string& name,
                                                                    std::string_view source);

 private:
  std::string readHeader(std::string_view line, int64_t lineNumber);

  const CsvOptions& options_;
  bool haveHeader_ = false;
  char delimiter_ = 0;
  std::vector<std::string> columnNames_;
  std::array<std::size_t, 6> valueColumns_{};
  std::optional<std::size_t> timeColumn_;
  std::optional<std::size_t> labelColumn_;
  std::size_t neededFields_ = 0;
  std::vector<std::string> fields_;
  std::vector<importsignal::Timed<6>> rows_;  // time in ms (row time when from --rate)
  std::optional<double> labelTimeMs_;
  int64_t labelLine_ = 0;
  int64_t firstDataLine_ = 0;
};
