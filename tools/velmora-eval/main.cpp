// velmora-eval: replays whole datasets of recordings through the fall
// detector, judges every recording against its annotation and summarises
// how well the detector does, optionally with changed settings.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "DefaultSpace.h"
#include "EvalRender.h"
#include "Evaluation.h"
#include "ExplainReport.h"
#include "FileOutput.h"
#include "HtmlReport.h"
#include "OptionParser.h"
#include "ProgressLine.h"
#include "Provenance.h"
#include "SettingOption.h"
#include "SettingsTable.h"
#include "StandardOutput.h"
#include "TextUtils.h"
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
    "  --profile NAME         a shipped settings profile: fa0.25, fa0.5, fa1 or fa2\n"
    "                         (--set, --settings and --profile apply in the order\n"
    "                         given)\n"
    "  --print-settings       print the effective settings and exit\n"
    "  --ext EXT              recording extension in folders (default .csv)\n"
    "  --early-tolerance SEC  seconds a detection may precede the annotated\n"
    "                         position (default 1; rounded to whole samples)\n"
    "  --group-by REGEX       also summarise per group: the first capture group\n"
    "                         of REGEX (RE2 syntax, searched in the file name;\n"
    "                         no back-references or look-around)\n"
    "  --group-by-column NAME group by column NAME of the index.tsv (a 'file'\n"
    "                         column names the recordings) beside them\n"
    "                         (grouping options repeat: groups are then the\n"
    "                         combinations of the keys, in order, as A/B)\n"
    "  --csv FILE             write the per-recording rows as CSV\n"
    "  --summary-csv FILE     write the summary as group,metric,value CSV\n"
    "  --json FILE            write the rows and the summary as JSON\n"
    "  --alarms FILE          write every alarm (run of consecutive positive\n"
    "                         samples) as CSV: recording, position, time_s,\n"
    "                         length, code, not_early\n"
    "  --html FILE            write a self-contained HTML report with a figure of\n"
    "                         every missed fall, early alarm and false alarm\n"
    "  --html-figures N       at most N figures in the report (default 100)\n"
    "  --explain              with --html: caption each figure with what the\n"
    "                         detector saw and the cheapest single-setting fixes,\n"
    "                         add the errors by cause and the best fixes, and put\n"
    "                         the figures before the table (velmora-tune explain\n"
    "                         over the default space)\n"
    "  -j, --jobs N           recordings replayed at once (default: all cores)\n"
    "  -q, --quiet            print the summary without the per-recording table\n"
    "  -v, --verbose          with an output to '-', print the table and summary\n"
    "                         on standard error instead of leaving them out\n"
    "  -h, --help             show this help\n"
    "      --version          print the program and detector version\n"
    "  --                     end of options: later arguments are paths\n"
    "\n"
    "The run is computed first; then the output files are written, each one\n"
    "replaced only once complete (an earlier file survives any failure); then\n"
    "the table is printed. An output path that names an input (a recording,\n"
    "an info file, a settings file, any file found in a searched folder) or\n"
    "another output is refused before any work.\n"
    "\n"
    "Exit status: 0 success, 1 some recording could not be read or an output\n"
    "could not be written, 2 bad command line or settings, an output path\n"
    "refused, or a folder without recordings.\n"
    "\n"
    "Example:\n"
    "  velmora-eval -j 2 --group-by '^([DF][0-9]+)_' --csv eval.csv data/recordings/\n";

constexpr double kMaxToleranceSeconds = 86400.0;

// The files a run can write, each named by its option.
enum class OutputKind { RecordingsCsv, SummaryCsv, Json, Alarms, Html };

struct OutputOption {
  const char* option;
  OutputKind kind;
};
constexpr OutputOption kOutputOptions[] = {
    {"--csv", OutputKind::RecordingsCsv}, {"--summary-csv", OutputKind::SummaryCsv},
    {"--json", OutputKind::Json},         {"--alarms", OutputKind::Alarms},
    {"--html", OutputKind::Html},
};

struct OutputRequest {
  OutputKind kind;
  std::string option;  // names it in messages
  std::string path;
};

struct Options {
  DetectorSettings settings{};
  std::vector<std::string> settingsFiles;  // inputs too: never overwritten
  bool printSettings = false;
  bool quiet = false;
  bool verbose = false;
  bool explain = false;
  std::string extension = ".csv";
  double toleranceSeconds = 1.0;
  std::vector<GroupKey> groupKeys;     // in command-line order
  std::vector<OutputRequest> outputs;  // in command-line order
  std::size_t htmlFigures = 100;
  int jobs = 0;  // 0: one per core
  std::vector<std::string> paths;
};

// Declares the options; each applies itself to `options` as it comes.
OptionTable optionTable(Options& options) {
  OptionTable table = settingsOptions(options.settings, options.settingsFiles);
  table.push_back(flagOption({"--print-settings"}, options.printSettings));
  table.push_back(flagOption({"--quiet", "-q"}, options.quiet));
  table.push_back(flagOption({"--verbose", "-v"}, options.verbose));
  table.push_back(flagOption({"--explain"}, options.explain));
  table.push_back({{"--ext"}, true, [&options](const std::string&, const std::string& value) {
                     options.extension = normaliseExtension(value);
                     return options.extension.empty()
                                ? "--ext: '" + value + "' cannot name recordings"
                                : std::string();
                   }});
  table.push_back(
      {{"--early-tolerance"}, true, [&options](const std::string&, const std::string& value) {
         const std::optional<double> seconds = parseOptionNumber(value);
         if (!seconds || *seconds < 0.0 || *seconds > kMaxToleranceSeconds) {
           return "--early-tolerance: '" + value + "' is not a number of seconds in 0..86400";
         }
         options.toleranceSeconds = *seconds;
         return std::string();
       }});
  table.push_back({{"--group-by"}, true, [&options](const std::string&, const std::string& value) {
                     if (value.empty()) {
                       return std::string("--group-by needs a regular expression");
                     }
                     options.groupKeys.push_back({GroupKey::Kind::Pattern, value});
                     return std::string();
                   }});
  table.push_back(
      {{"--group-by-column"}, true, [&options](const std::string&, const std::string& value) {
         if (value.empty()) {
           return std::string("--group-by-column needs a column name");
         }
         options.groupKeys.push_back({GroupKey::Kind::Column, value});
         return std::string();
       }});
  for (const OutputOption& output : kOutputOptions) {
    table.push_back(
        {{output.option},
         true,
         [&options, kind = output.kind](const std::string& name, const std::string& value) {
           // The last one given wins, as for any option.
           std::erase_if(options.outputs,
                         [&](const OutputRequest& request) { return request.kind == kind; });
           options.outputs.push_back({kind, name, value});
           return std::string();
         }});
  }
  table.push_back(
      {{"--html-figures"}, true, [&options](const std::string&, const std::string& value) {
         const std::optional<int32_t> figures = parseInt32(value);
         if (!figures || *figures < 0) {
           return "--html-figures: '" + value + "' is not a number of figures from 0 on";
         }
         options.htmlFigures = static_cast<std::size_t>(*figures);
         return std::string();
       }});
  table.push_back(jobsOption(options.jobs));
  return table;
}

// Everything the run reads, so that no output can overwrite it.
std::vector<NamedPath> inputsOf(const Options& options, const RecordingSearch& search) {
  std::vector<NamedPath> inputs;
  for (const std::string& path : options.settingsFiles) {
    inputs.push_back({"the settings file", path});
  }
  for (const RecordingEntry& entry : search.recordings) {
    inputs.push_back({"recording", entry.path});
    if (!entry.infoPath.empty()) {
      inputs.push_back({"info file", entry.infoPath});
    }
  }
  return inputs;
}

std::string renderOutput(OutputKind kind, const Evaluation& evaluation, const Options& options,
                         const std::optional<velmora::report::ReportExplanation>& explained) {
  switch (kind) {
    case OutputKind::RecordingsCsv:
      return formatRecordingsCsv(evaluation);
    case OutputKind::SummaryCsv:
      return formatSummaryCsv(evaluation);
    case OutputKind::Json:
      return formatJson(evaluation);
    case OutputKind::Alarms:
      return formatAlarmsCsv(evaluation);
    case OutputKind::Html:
      break;
  }
  const velmora::report::HtmlReportOptions report{options.paths, options.htmlFigures, options.jobs,
                                                  std::nullopt, explained};
  return velmora::report::renderHtmlReport(evaluation, report);
}

int evalMain(int argc, char** argv) {
  Options options;
  VelmoraDefaultSettings(&options.settings);
  ParsedCommandLine parsed;
  if (const std::string error = parseCommandLine(argc, argv, 1, optionTable(options), parsed);
      !error.empty()) {
    return usageError(error);
  }
  options.paths = parsed.operands;
  if (parsed.help) {
    return writeStandardOutput(kUsage).empty() ? 0 : 1;
  }
  if (parsed.version) {
    return writeStandardOutput(versionText()).empty() ? 0 : 1;
  }
  if (const std::string error = VelmoraCheckSettings(options.settings); !error.empty()) {
    return usageError(error);
  }
  if (options.printSettings) {
    return writeStandardOutput(formatSettings(options.settings)).empty() ? 0 : 1;
  }
  if (options.paths.empty()) {
    return usageError("no recordings or folders given");
  }
  if (options.explain &&
      std::none_of(options.outputs.begin(), options.outputs.end(),
                   [](const OutputRequest& output) { return output.kind == OutputKind::Html; })) {
    return usageError("--explain goes with --html: it explains the report's figures");
  }
  // Recordings are replayed by name (and folders searched), so standard
  // input cannot be one; a file named '-' is given as ./-.
  if (std::find(options.paths.begin(), options.paths.end(), "-") != options.paths.end()) {
    return usageError(
        "'-' (standard input) cannot be a recording: name files or folders; write ./- for a "
        "file named '-'");
  }
  // Checked before the search so that a bad pattern costs no time.
  for (const GroupKey& key : options.groupKeys) {
    std::string error;
    if (key.kind == GroupKey::Kind::Pattern && !GroupPattern::compile(key.text, error)) {
      return usageError(error);
    }
  }
  const RecordingSearch search = findRecordings(options.paths, options.extension);
  if (!search.error.empty()) {
    return usageError(search.error);
  }
  for (const std::string& note : search.notes) {
    reportError(note);
  }
  // The index files a grouping reads are inputs too.
  std::vector<NamedPath> inputs = inputsOf(options, search);
  if (!options.groupKeys.empty()) {
    const GroupNames names = nameGroups(search.recordings, options.groupKeys);
    if (!names.error.empty()) {
      return usageError(names.error);
    }
    for (const std::string& index : names.indexFiles) {
      inputs.push_back({"index file", index});
    }
  }
  std::vector<NamedPath> outputs;
  bool toStandardOutput = false;
  for (const OutputRequest& output : options.outputs) {
    outputs.push_back({output.option, output.path});
    toStandardOutput = toStandardOutput || output.path == "-";
  }
  if (const std::string error = checkOutputPaths(inputs, outputs); !error.empty()) {
    return usageError(error);
  }

  ProgressLine progress;
  const std::size_t total = search.recordings.size();
  const auto start = std::chrono::steady_clock::now();
  EvaluationOptions evaluationOptions;
  evaluationOptions.settings = options.settings;
  evaluationOptions.toleranceSeconds = options.toleranceSeconds;
  evaluationOptions.groupKeys = options.groupKeys;
  evaluationOptions.keepAlarms =
      std::any_of(options.outputs.begin(), options.outputs.end(),
                  [](const OutputRequest& output) { return output.kind == OutputKind::Alarms; });
  evaluationOptions.jobs = options.jobs;
  // Which recordings the settings files were tuned on, to say so beside the
  // figures of those recordings.
  for (const std::string& path : options.settingsFiles) {
    std::string text;
    std::string error = readRegularFile(path, "settings file", kMaxSettingsFileBytes, text);
    if (error.empty()) {
      error = readTunedOn(text, path, evaluationOptions.provenance);
    }
    if (!error.empty()) {
      return usageError(error);
    }
    evaluationOptions.provenance.files.push_back(path);
  }
  evaluationOptions.onProgress = [&](std::size_t done) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char text[160];
    std::snprintf(text, sizeof text, "%zu/%zu recordings, %.1f s, %.1f recordings/s", done, total,
                  elapsed, elapsed > 0.0 ? done / elapsed : 0.0);
    progress.show(text, done >= total);  // the final count is always drawn
  };
  Evaluation evaluation;
  const std::string error = evaluate(search.recordings, evaluationOptions, evaluation);
  progress.clear();
  if (!error.empty()) {
    return usageError(error);
  }

  // The explanation reads the recordings once more, into the tuner's cache.
  std::optional<velmora::report::ReportExplanation> explained;
  if (options.explain) {
    const tune::RecordingCache cache = tune::loadCache(search.recordings, options.jobs, {});
    const tune::ExplainConfig config{tune::defaultSpace(), options.settings,
                                     evaluation.toleranceSamples, options.jobs};
    explained = velmora::report::reportExplanation(tune::explainRecordings(cache, config));
  }

  int status = 0;
  for (const RecordingResult& result : evaluation.results) {
    if (!result.problem.empty()) {
      reportError(result.path + ": " + result.problem);
    }
    if (result.outcome == Outcome::Unreadable) {
      status = 1;
    }
  }

  // Every result file is complete before any is put in place, and before
  // anything goes to standard output.
  std::vector<OutputItem> files;
  for (const OutputRequest& output : options.outputs) {
    files.push_back({output.path, renderOutput(output.kind, evaluation, options, explained)});
  }
  if (const std::string writeError = writeOutputs(files); !writeError.empty()) {
    return failure(writeError);
  }
  // With a result on standard output the table would spoil it: it goes to
  // standard error with --verbose, and nowhere otherwise.
  const std::string table = formatTable(evaluation, !options.quiet);
  if (toStandardOutput) {
    if (options.verbose) {
      std::fputs(table.c_str(), stderr);
    }
  } else if (const std::string writeError = writeStandardOutput(table); !writeError.empty()) {
    return failure("error writing standard output: " + writeError);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) { return runTool("velmora-eval", argc, argv, evalMain); }
