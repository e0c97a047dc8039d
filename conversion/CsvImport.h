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

// One row of delimited text: the six values in the detector's axes (in the
// source's units), its time stamp in ms when there is a time column, and
// its label when there is a label column.
struct CsvRow {
  importsignal::Values values{};
  double timeMs = 0.0;
  std::optional<double> label;
};

// The columns of a header row (or of names given instead of one), and the
// reading of each data row through them: shared by the importer, which
// converts a whole file, and the live runner, which converts a stream.
class CsvRowParser {
 public:
  explicit CsvRowParser(const CsvOptions& options) : options_(options) {}

  // Takes the header row. Returns "" or an error naming the line and the
  // column ("line 1: column 'ax': no such column in the header row ...").
  [[nodiscard]] std::string readHeader(std::string_view line, int64_t lineNumber);
  // Takes the column names from `line` without a line number (a stream
  // without a header row); the delimiter is the option's, else ','.
  [[nodiscard]] std::string setColumns(std::string_view names);
  [[nodiscard]] bool haveHeader() const { return haveHeader_; }

  // Reads one data row (its label only with `readLabel`). Returns "" or an
  // error naming the line and column ("line 12: column 'ax': expected a
  // number, found 'x'").
  [[nodiscard]] std::string readRow(std::string_view line, int64_t lineNumber, CsvRow& row,
                                    bool readLabel = true);

 private:
  const CsvOptions& options_;
  bool haveHeader_ = false;
  char delimiter_ = 0;
  std::vector<std::string> columnNames_;
  std::array<std::size_t, 6> valueColumns_{};
  std::optional<std::size_t> timeColumn_;
  std::optional<std::size_t> labelColumn_;
  std::size_t neededFields_ = 0;
  std::vector<std::string> fields_;
};

// The method a stream is resampled with: mean of groups for a --rate that
// is a whole multiple of 50 (unless linear is asked for), else linear
// interpolation on the 20 ms grid. Sinc needs the whole file.
struct StreamResampling {
  Resampling method = Resampling::Linear;
  std::size_t group = 1;  // rows per output sample, for Mean
};
// Empty error on success.
[[nodiscard]] std::string chooseStreamResampling(const CsvOptions& options,
                                                 StreamResampling& chosen);

// What the rows of a file say about their time stamps, gathered as they
// come: enough to choose the resampling without holding them.
struct StampSummary {
  std::size_t rows = 0;      // data rows read
  std::size_t distinct = 0;  // runs of equal stamps (rows after merging, when ordered)
  bool ordered = true;       // no stamp before the one above it
  double lowestMs = 0.0;     // the earliest stamp
  double firstMs = 0.0;      // the first and last stamps (of the ordered rows)
  double lastMs = 0.0;
  double shortestStepMs = 0.0;  // between consecutive distinct stamps
  double longestStepMs = 0.0;

  void add(double timeMs);
};

// Reads one file line by line and converts it. With --rate and mean or
// linear resampling the rows are converted as they come, and only the
// output samples are held. With a time column the rows must be ordered
// before they are converted: a reader that may read the file twice
// (allowSecondReading) measures the stamps first without holding anything,
// then converts the rows as they come when the stamps never go back, and
// holds them for sorting only otherwise (or for sinc, which needs them all).
class CsvReader {
 public:
  explicit CsvReader(const CsvOptions& options);

  // Room for the rows of a file of `lines` lines, so that what is held is
  // held once, without the slack of a growing array.
  void reserve(std::size_t lines);
  // The file can be read again: call before the first line.
  void allowSecondReading();
  // Returns "" or an error naming the line and column ("line 12: column
  // 'ax': ...").
  [[nodiscard]] std::string addLine(std::string_view line, int64_t lineNumber);
  // After the last line: true when the reader wants the same lines again
  // (through addLine(), then finish()); it is then ready for them.
  [[nodiscard]] bool startSecondReading();

  // The recording, or an error.
  [[nodiscard]] std::variant<ImportedRecording, std::string> finish(const std::string& name,
                                                                    std::string_view source);

 private:
  // How the rows are taken: held for the end, converted as they come, or
  // only measured (a first reading, or a file that ends in an error).
  enum class Mode { Held, Streamed, Measured };
  // The resampling chosen for the rows, or why there is none.
  struct Plan {
    double rate = 0.0;
    bool regular = true;
    std::string timing;
    Resampling method = Resampling::Linear;
    std::size_t group = 1;  // rows per output sample, for Mean
    std::string error;
  };

  [[nodiscard]] Plan plan(const StampSummary& stamps) const;
  void startStreaming(const Plan& chosen);
  void convert(const importsignal::Timed<6>& row);
  void releaseHeld();
  void releaseGridPoints(double lastMs);
  [[nodiscard]] std::variant<ImportedRecording, std::string> finishHeld(const std::string& name,
                                                                        std::string_view source);
  [[nodiscard]] std::variant<ImportedRecording, std::string> build(
      const std::string& name, std::string_view source, const Plan& chosen,
      std::size_t convertedRows, double rawFirstMs, importsignal::CountedSamples counted) const;

  const CsvOptions& options_;
  std::optional<CsvRowParser> parser_;  // made anew for a second reading
  Mode mode_ = Mode::Held;
  bool secondReadingAllowed_ = false;
  bool secondReading_ = false;
  std::size_t reservedLines_ = 0;
  std::size_t inputRows_ = 0;
  StampSummary stamps_;
  std::vector<importsignal::Timed<6>> rows_;  // held: time in ms (row time when from --rate)
  std::optional<double> labelTimeMs_;
  int64_t labelLine_ = 0;
  int64_t firstDataLine_ = 0;
  // Streamed: the chosen resampling, the row of the latest stamp (summed
  // over the rows that repeat it), and the samples so far.
  Plan plan_;
  bool holding_ = false;
  double heldTimeMs_ = 0.0;
  importsignal::Values heldSum_{};
  std::size_t heldCount_ = 0;
  std::size_t streamedRows_ = 0;  // rows converted (after merging)
  bool beyondLimit_ = false;      // the grid would pass the output limit
  StampSummary firstReading_;     // the stamps as the first reading saw them
  importsignal::GroupMean mean_{1};
  importsignal::GridInterpolator grid_;
  std::vector<importsignal::Values> pendingPoints_;  // emitted, not yet known to be on the grid
  importsignal::SampleCounter counter_;
};
