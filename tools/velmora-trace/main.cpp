// velmora-trace: replays a recording as Drovik does and prints the
// detector's per-sample trace lines on standard output, or writes the same
// values as a CSV table (one row per sample, one column per observed value).
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "FileOutput.h"
#include "OptionParser.h"
#include "RecordingReader.h"
#include "RecordingReplay.h"
#include "SettingOption.h"
#include "SettingsTable.h"
#include "StandardOutput.h"
#include "Velmora.h"
#include "VelmoraObservation.h"

namespace {

constexpr char kUsage[] =
    "Usage: velmora-trace [options] [--] <data_file>\n"
    "\n"
    "Replays a recording through the fall detector exactly as Drovik does and\n"
    "writes one trace line per sample to standard output: the raw sample, the\n"
    "features, the event state and the result code (\" -> (code)\" on a fall).\n"
    "A <data_file> of '-' reads the recording from standard input.\n"
    "\n"
    "Options:\n"
    "  --csv FILE        write a CSV table instead of the trace: a header, then\n"
    "                    one row per sample with Drovik's data-line position\n"
    "                    and every value the detector observed ('-': standard\n"
    "                    output); the file is replaced only once complete\n"
    "  --set NAME=VALUE  override one detector setting (repeatable); names as\n"
    "                    printed by velmora-eval --print-settings\n"
    "  --settings FILE   settings file, one NAME=VALUE a line ('#' comments)\n"
    "  --profile NAME    a shipped settings profile: fa0.25, fa0.5, fa1 or fa2;\n"
    "                    --set, --settings and --profile apply in the order given\n"
    "  --version         print the program's name and the detector's version\n"
    "  -h, --help        show this help\n"
    "  --                end of options\n"
    "\n"
    "Trace line numbers count the samples the detector processed; data lines\n"
    "with fewer than seven fields are skipped (Drovik still counts them as\n"
    "positions), and a notice on standard error then tells how the two\n"
    "numberings differ. The CSV's position column is Drovik's position.\n"
    "\n"
    "Example:\n"
    "  velmora-trace --set lowLevel=55 examples/recordings/fall_forward.csv\n"
    "  velmora-trace --csv trace.csv examples/recordings/fall_forward.csv\n";

struct Options {
  DetectorSettings settings{};
  std::string dataPath;
  bool haveDataPath = false;
  bool csv = false;
  std::string csvPath;
  std::vector<std::string> settingsFiles;
};

// Where Drovik's numbering and the trace's part: from the trace line
// `traceIndex` on, Drovik's position is the trace number plus `offset`.
struct NumberingShift {
  int64_t traceIndex;
  int64_t offset;
};

std::string describeNumbering(const std::vector<NumberingShift>& shifts, int64_t laterShifts) {
  if (shifts.empty()) {
    return "they come after the last sample, so trace line numbers and Drovik's positions agree";
  }
  std::string text = "they get no trace line, so Drovik's position is the trace line's number";
  char piece[96];
  for (std::size_t k = 0; k < shifts.size(); ++k) {
    std::snprintf(piece, sizeof piece, "%s + %" PRId64 " from %s%04" PRId64 " on",
                  k == 0 ? "" : ",", shifts[k].offset, k == 0 ? "trace line " : "",
                  shifts[k].traceIndex);
    text += piece;
  }
  if (laterShifts > 0) {
    text += ", and more further on";
  }
  return text + " (the --csv column 'position' holds Drovik's position)";
}

// One CSV value of an observed field.
void appendField(std::string& row, const VelmoraObservationField& field,
                 const VelmoraObservation& observation) {
  const int64_t value = field.read(observation);
  if (field.kind == VelmoraFieldKind::character) {
    row += static_cast<char>(value);
  } else {
    char number[24];
    std::snprintf(number, sizeof number, "%" PRId64, value);
    row += number;
  }
}

// Output of --csv, handed on in blocks as it is made: to standard output,
// or to a temporary file put in place over the named file once complete.
class CsvSink {
 public:
  std::string open(const std::string& path) { return output_.open(path); }

  std::string& text() { return text_; }

  // Hands a full block on. Returns false on an error or once the reader of
  // standard output has gone.
  bool flushBlock(std::string& error) {
    if (text_.size() < kBlockBytes) {
      return true;
    }
    return writeBlock(error);
  }

  std::string finish() {
    std::string error;
    if (writeBlock(error) || output_.readerGone()) {
      error = output_.commit();
    }
    return error;
  }

 private:
  static constexpr size_t kBlockBytes = 1 << 16;

  bool writeBlock(std::string& error) {
    error = output_.write(text_);
    text_.clear();
    return error.empty() && !output_.readerGone();
  }

  StreamedOutput output_;
  std::string text_;
};

int trace(int argc, char** argv) {
  Options options;
  VelmoraDefaultSettings(&options.settings);
  OptionTable table = settingsOptions(options.settings, options.settingsFiles);
  table.push_back({{"--csv"},
                   true,
                   [&options](const std::string&, const std::string& value) {
                     if (options.csv) {
                       return std::string("--csv may be given once");
                     }
                     options.csv = true;
                     options.csvPath = value;
                     return std::string();
                   },
                   false,
                   "--csv needs a file ('-' for standard output)"});
  ParsedCommandLine parsed;
  if (const std::string error = parseCommandLine(argc, argv, 1, table, parsed); !error.empty()) {
    return usageError(error);
  }
  if (const std::optional<int> status = answerHelpOrVersion(parsed, kUsage)) {
    return *status;
  }
  if (parsed.operands.size() > 1) {
    return usageError("only one data file may be given");
  }
  if (!parsed.operands.empty()) {
    options.dataPath = parsed.operands.front();
    options.haveDataPath = true;
  }
  if (!options.haveDataPath) {
    return usageError("no data file given");
  }
  if (const std::string error = VelmoraCheckSettings(options.settings); !error.empty()) {
    return usageError(error);
  }
  const bool fromStdin = options.dataPath == "-";
  if (std::string problem = fromStdin ? "" : namedRecordingProblem(options.dataPath);
      !problem.empty()) {
    return usageError(problem);
  }
  if (options.csv) {
    std::vector<NamedPath> inputs;
    if (!fromStdin) {
      inputs.push_back({"recording", options.dataPath});
    }
    for (const std::string& file : options.settingsFiles) {
      inputs.push_back({"the settings file", file});
    }
    if (const std::string error = checkOutputPaths(inputs, {{"--csv", options.csvPath}});
        !error.empty()) {
      return usageError(error);
    }
  }
  const std::string shownPath = fromStdin ? "standard input" : options.dataPath;
  const std::string readPath = fromStdin ? "/dev/stdin" : options.dataPath;

  const auto fields = VelmoraObservationFields();
  CsvSink csv;
  if (options.csv) {
    if (const std::string error = csv.open(options.csvPath); !error.empty()) {
      return failure(error);
    }
    csv.text() = "position";
    for (const VelmoraObservationField& field : fields) {
      csv.text() += ',';
      csv.text() += field.name;
    }
    csv.text() += '\n';
  }
  std::vector<NumberingShift> shifts;
  int64_t laterShifts = 0;
  int64_t replayed = 0;
  int64_t offset = 0;
  bool readerGone = false;
  std::string writeError;
  traceStream = options.csv ? nullptr : stdout;
  const ReplaySummary summary =
      replayWithSettings(readPath, options.settings, [&](const ReplayedSample& sample) {
        if (const int64_t skipped = sample.position - replayed; skipped != offset) {
          offset = skipped;
          if (shifts.size() < 5) {
            shifts.push_back({replayed, offset});
          } else {
            ++laterShifts;
          }
        }
        ++replayed;
        if (!options.csv || readerGone) {
          return;
        }
        std::string& row = csv.text();
        char number[24];
        std::snprintf(number, sizeof number, "%" PRId64, sample.position);
        row += number;
        for (const VelmoraObservationField& field : fields) {
          row += ',';
          appendField(row, field, *sample.observation);
        }
        row += '\n';
        readerGone = !csv.flushBlock(writeError);
      });
  traceStream = nullptr;
  if (!summary.opened) {
    return failure("cannot open '" + shownPath + "': missing, unreadable or a directory");
  }
  if (options.csv && writeError.empty() && !readerGone) {
    writeError = csv.finish();
  }
  if (!writeError.empty()) {
    return failure(writeError);
  }
  if (!summary.shortLineNotice.empty()) {
    std::fflush(stdout);
    reportError(shownPath + ": " + summary.shortLineNotice + "; " +
                describeNumbering(shifts, laterShifts));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return runTool("velmora-trace", argc, argv, trace); }
