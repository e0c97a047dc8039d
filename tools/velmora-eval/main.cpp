// velmora-eval: replays whole datasets of recordings through the fall
// detector, judges every recording against its annotation and summarises
// how well the detector does, optionally with changed settings.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "EvalRender.h"
#include "Evaluation.h"
#include "FileOutput.h"
#include "HtmlReport.h"
#include "SettingsTable.h"
#include "Velmora.h"

namespace {

using namespace velmora::evaluation;

constexpr char kUsage[] =
    "Usage: velmora-eval [options] <path>...\n"
    "\n"
    "Replays every recording through the fall detector exactly as Drovik does\n"
    "(a fresh detector per recording) and judges it. Paths are recording files\n"
    "or folders, searched recursively for files ending in the recording\n"
    "extension. A recording with a sibling <name>.info is a fall recording; one\n"
    "without is daily living. The info file is read strictly: its first line's\n"
    "second and third fields (position, flag) must be decimal 32-bit integers\n"
    "and nothing else, and the position must lie inside the recording;\n"
    "otherwise the recording is an error row naming the file and the problem.\n"
    "\n"
    "Outcomes: tp (first detection at or after the annotated position minus the\n"
    "early tolerance), missed (no detection), early (first detection before\n"
    "that: a miss and a false alarm), false_alarm (daily-living recording with a\n"
    "detection), tn (daily-living recording without one), error (unreadable).\n"
    "Sensitivity = tp / fall recordings, specificity = tn / daily-living\n"
    "recordings, accuracy = (tp + tn) / readable recordings; shown as percentages\n"
    "with one decimal, written as fractions 0..1 in the CSV and JSON files.\n"
    "False alarms per hour = alarms (runs of consecutive samples with a positive\n"
    "result) in daily-living recordings / their length at 50 samples per second.\n"
    "Delays (ms) of true positives: median, 90th percentile and maximum, all\n"
    "nearest rank (the value at rank ceil(p/100 * n) of the sorted delays).\n"
    "\n"
    "Options:\n"
    "  --set NAME=VALUE       override one detector setting (repeatable)\n"
    "  --settings FILE        settings file: one NAME=VALUE a line, '#' comments\n"
    "                         (--set and --settings apply in the order given)\n"
    "  --print-settings       print the effective settings and exit\n"
    "  --ext EXT              recording extension in folders (default .csv)\n"
    "  --early-tolerance SEC  seconds a detection may precede the annotated\n"
    "                         position (default 1; rounded to whole samples)\n"
    "  --group-by REGEX       also summarise per group: the first capture group\n"
    "                         of REGEX (RE2 syntax, searched in the file name;\n"
    "                         no back-references or look-around)\n"
    "  --csv FILE             write the per-recording rows as CSV\n"
    "  --summary-csv FILE     write the summary as group,metric,value CSV\n"
    "  --json FILE            write the rows and the summary as JSON\n"
    "  --html FILE            write a self-contained HTML report with a figure of\n"
    "                         every missed fall, early alarm and false alarm\n"
    "  --html-figures N       at most N figures in the report (default 100)\n"
    "  -j, --jobs N           recordings replayed at once (default: all cores)\n"
    "  -h, --help             show this help\n"
    "\n"
    "Exit status: 0 success, 1 some recording or output could not be read or\n"
    "written, 2 bad command line or settings, or a folder without recordings.\n"
    "\n"
    "Example:\n"
    "  velmora-eval -j 2 --group-by '^([DF][0-9]+)_' --csv eval.csv data/recordings/\n";

constexpr int kMaxJobs = 1024;
constexpr double kMaxToleranceSeconds = 86400.0;

struct Options {
  DetectorSettings settings{};
  bool printSettings = false;
  std::string extension = ".csv";
  double toleranceSeconds = 1.0;
  std::string groupPattern;
  std::string csvPath;
  std::string summaryCsvPath;
  std::string jsonPath;
  std::string htmlPath;
  std::size_t htmlFigures = 100;
  int jobs = 0;  // 0: one per core
  std::vector<std::string> paths;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "velmora-eval: %s\n(run velmora-eval --help for usage)\n", message.c_str());
  return 2;
}

std::optional<double> parseSeconds(const std::string& text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// Parses the command line into `options`; returns an error message, or ""
// (with `helpShown` set when --help was asked for).
std::string parseArguments(int argc, char** argv, Options& options, bool& helpShown) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      options.paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      helpShown = true;
      return {};
    }
    if (arg == "--print-settings") {
      options.printSettings = true;
      continue;
    }
    // Options with a value: "--name VALUE", "--name=VALUE", and "-jN".
    std::string name = arg;
    std::optional<std::string> value;
    if (const auto equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    } else if (arg.rfind("-j", 0) == 0 && arg.size() > 2) {
      name = "-j";
      value = arg.substr(2);
    }
    static const char* const kValued[] = {
        "--set",  "--settings",    "--ext",  "--early-tolerance", "--group-by", "--csv",
        "--json", "--summary-csv", "--html", "--html-figures",    "-j",         "--jobs"};
    if (std::find(std::begin(kValued), std::end(kValued), name) == std::end(kValued)) {
      return "unknown option '" + arg + "'";
    }
    if (!value) {
      if (i + 1 >= argc) {
        return name + " needs a value";
      }
      value = argv[++i];
    }
    if (name == "--set") {
      if (std::string error = applySetting(options.settings, *value); !error.empty()) {
        return error;
      }
    } else if (name == "--settings") {
      if (std::string error = applySettingsFile(options.settings, *value); !error.empty()) {
        return error;
      }
    } else if (name == "--ext") {
      options.extension = normaliseExtension(*value);
      if (options.extension.empty()) {
        return "--ext: '" + *value + "' cannot name recordings";
      }
    } else if (name == "--early-tolerance") {
      const std::optional<double> seconds = parseSeconds(*value);
      if (!seconds || *seconds < 0.0 || *seconds > kMaxToleranceSeconds) {
        return "--early-tolerance: '" + *value + "' is not a number of seconds in 0..86400";
      }
      options.toleranceSeconds = *seconds;
    } else if (name == "--group-by") {
      if (value->empty()) {
        return "--group-by needs a regular expression";
      }
      options.groupPattern = *value;
    } else if (name == "--csv") {
      options.csvPath = *value;
    } else if (name == "--summary-csv") {
      options.summaryCsvPath = *value;
    } else if (name == "--json") {
      options.jsonPath = *value;
    } else if (name == "--html") {
      if (value->empty()) {
        return "--html needs a file name";
      }
      options.htmlPath = *value;
    } else if (name == "--html-figures") {
      const std::optional<int32_t> figures = parseInt32(*value);
      if (!figures || *figures < 0) {
        return "--html-figures: '" + *value + "' is not a number of figures from 0 on";
      }
      options.htmlFigures = static_cast<std::size_t>(*figures);
    } else {
      const std::optional<int32_t> jobs = parseInt32(*value);
      if (!jobs || *jobs < 1 || *jobs > kMaxJobs) {
        return name + ": '" + *value + "' is not a number of jobs in 1.." +
               std::to_string(kMaxJobs);
      }
      options.jobs = *jobs;
    }
  }
  return {};
}

class ProgressLine {
 public:
  ProgressLine(std::size_t total, bool enabled)
      : total_(total), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

  void show(std::size_t done) {
    if (!enabled_) {
      return;
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    // Redrawn at most ten times a second, and once more at the end.
    if (done < total_ && shown_ > 0 && elapsed - lastShown_ < 0.1) {
      return;
    }
    lastShown_ = elapsed;
    char line[160];
    const int length = std::snprintf(line, sizeof line,
                                     "velmora-eval: %zu/%zu recordings, %.1f s, %.1f recordings/s",
                                     done, total_, elapsed, elapsed > 0.0 ? done / elapsed : 0.0);
    const int padding = std::max(0, shown_ - length);
    std::fprintf(stderr, "\r%s%*s", line, padding, "");
    std::fflush(stderr);
    shown_ = std::max(shown_, length);
  }

  // Wipes the line so that messages and the table start on a clean line.
  void clear() {
    if (enabled_ && shown_ > 0) {
      std::fprintf(stderr, "\r%*s\r", shown_, "");
      std::fflush(stderr);
    }
  }

 private:
  std::size_t total_;
  bool enabled_;
  std::chrono::steady_clock::time_point start_;
  int shown_ = 0;           // width of the line on screen
  double lastShown_ = 0.0;  // seconds since the start at the last redraw
};

bool isSameFile(const std::string& recording, const std::string& output) {
  std::error_code error;
  return !output.empty() && std::filesystem::equivalent(recording, output, error);
}

struct OutputFile {
  std::string path;
  std::unique_ptr<std::ofstream> stream;
};

// Writes `text` to the file opened before the run; returns false on failure.
bool finishOutput(OutputFile& output, const std::string& text) {
  if (!output.stream) {
    return true;
  }
  *output.stream << text;
  output.stream->close();
  if (!*output.stream) {
    std::fprintf(stderr, "velmora-eval: error writing '%s'\n", output.path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  VelmoraDefaultSettings(&options.settings);
  bool helpShown = false;
  if (const std::string error = parseArguments(argc, argv, options, helpShown); !error.empty()) {
    return usageError(error);
  }
  if (helpShown) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (const std::string error = validateSettings(options.settings); !error.empty()) {
    return usageError(error);
  }
  if (options.printSettings) {
    std::fputs(formatSettings(options.settings).c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (options.paths.empty()) {
    return usageError("no recordings or folders given");
  }
  // Checked before the search so that a bad pattern costs no time.
  if (!options.groupPattern.empty()) {
    std::string error;
    if (!GroupPattern::compile(options.groupPattern, error)) {
      return usageError(error);
    }
  }
  RecordingSearch search = findRecordings(options.paths, options.extension);
  if (!search.error.empty()) {
    return usageError(search.error);
  }
  for (const std::string& note : search.notes) {
    std::fprintf(stderr, "velmora-eval: %s\n", note.c_str());
  }
  // An output file of an earlier run may lie among the recordings; this run
  // is about to overwrite it, so it is not one of them.
  std::erase_if(search.recordings, [&](const RecordingEntry& entry) {
    return isSameFile(entry.path, options.csvPath) ||
           isSameFile(entry.path, options.summaryCsvPath) ||
           isSameFile(entry.path, options.jsonPath) || isSameFile(entry.path, options.htmlPath);
  });
  if (search.recordings.empty()) {
    return usageError("no recordings left once the output files are set aside");
  }

  // Open the outputs first: a path we cannot write should not cost a run.
  std::vector<OutputFile> outputs;
  for (const std::string* path : {&options.csvPath, &options.summaryCsvPath, &options.jsonPath}) {
    OutputFile output{*path, nullptr};
    if (!path->empty()) {
      output.stream = std::make_unique<std::ofstream>(*path, std::ios::binary | std::ios::trunc);
      if (!*output.stream) {
        return usageError("cannot write '" + *path + "'");
      }
    }
    outputs.push_back(std::move(output));
  }

  ProgressLine progress(search.recordings.size(), isatty(STDERR_FILENO) == 1);
  EvaluationOptions evaluationOptions;
  evaluationOptions.settings = options.settings;
  evaluationOptions.toleranceSeconds = options.toleranceSeconds;
  evaluationOptions.groupPattern = options.groupPattern;
  evaluationOptions.jobs = options.jobs;
  evaluationOptions.onProgress = [&](std::size_t done) { progress.show(done); };
  Evaluation evaluation;
  const std::string error = evaluate(search.recordings, evaluationOptions, evaluation);
  progress.clear();
  if (!error.empty()) {
    return usageError(error);
  }

  int status = 0;
  for (const RecordingResult& result : evaluation.results) {
    if (result.outcome == Outcome::Unreadable) {
      std::fprintf(stderr, "velmora-eval: %s: %s\n", result.path.c_str(), result.problem.c_str());
      status = 1;
    } else if (!result.problem.empty()) {
      std::fprintf(stderr, "velmora-eval: %s: %s\n", result.path.c_str(), result.problem.c_str());
    }
  }

  if (!options.htmlPath.empty()) {
    const velmora::report::HtmlReportOptions report{options.paths, options.htmlFigures,
                                                    options.jobs, std::nullopt};
    if (const std::string error = writeFileAtomically(
            options.htmlPath, velmora::report::renderHtmlReport(evaluation, report));
        !error.empty()) {
      std::fprintf(stderr, "velmora-eval: %s\n", error.c_str());
      status = 1;
    }
  }
  std::fputs(formatTable(evaluation).c_str(), stdout);
  if (!finishOutput(outputs[0], formatRecordingsCsv(evaluation)) ||
      !finishOutput(outputs[1], formatSummaryCsv(evaluation)) ||
      !finishOutput(outputs[2], formatJson(evaluation))) {
    status = 1;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "velmora-eval: error writing standard output\n");
    status = 1;
  }
  return status;
}
