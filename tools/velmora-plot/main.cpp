// velmora-plot: replays a recording as Drovik does and draws the detector's
// per-sample values, its event spans and its detections as an SVG figure
// (and optionally a PNG image of it).
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "DefaultSpace.h"
#include "EvalJudge.h"
#include "EvalRecordings.h"
#include "Explain.h"
#include "ExplainReport.h"
#include "FileOutput.h"
#include "InfoFile.h"
#include "OptionParser.h"
#include "PlotPng.h"
#include "PlotReplay.h"
#include "PlotSvg.h"
#include "RecordingReader.h"
#include "SettingOption.h"
#include "SettingsTable.h"
#include "StandardOutput.h"
#include "Velmora.h"

namespace {

constexpr char kUsage[] =
    "Usage: velmora-plot [options] <data_file> [<info_file>]\n"
    "\n"
    "Replays a recording through the fall detector exactly as Drovik does and\n"
    "draws it as an SVG figure: acceleration and angular-rate magnitudes (raw\n"
    "and smoothed) with the low and impact levels, roll and pitch with the\n"
    "upright band, the detector's warm-up, jump windows and low-acceleration\n"
    "runs, the annotated fall position and a marker for every sample with a\n"
    "fall code. The title states the outcome by velmora-eval's rules: fall\n"
    "detected, fall missed, early alarm, false alarm or no alarm.\n"
    "\n"
    "<data_file> may be '-' for standard input. Without <info_file>, the\n"
    "recording's sibling <name>.info is used when it exists (as velmora-eval\n"
    "does); a recording without one is judged as daily living. The info file's\n"
    "position and flag must be decimal integers that fit in 32 bits.\n"
    "\n"
    "By default the figure shows 3 s before the earlier of the annotated fall\n"
    "and the first detection to 3 s after the later, or the whole recording\n"
    "when it has neither. Long stretches are reduced to the lowest and highest\n"
    "value per pixel column, so any length draws in bounded memory and size.\n"
    "\n"
    "Options:\n"
    "  --set NAME=VALUE       override one detector setting (repeatable); names\n"
    "                         as printed by velmora-eval --print-settings\n"
    "  --settings FILE        settings file: one NAME=VALUE a line, '#' comments\n"
    "  --profile NAME         a shipped settings profile: fa0.25, fa0.5, fa1 or fa2\n"
    "                         (--set, --settings and --profile apply in the order\n"
    "                         given)\n"
    "  -o OUT.svg             write the figure to OUT.svg ('-': standard output,\n"
    "                         the default unless --png is given)\n"
    "  --png OUT.png          also write the figure as a PNG image ('-': standard\n"
    "                         output)\n"
    "  --from SEC, --to SEC   show only this part (seconds: data-line position x 20 ms)\n"
    "  --whole                show the entire recording\n"
    "  --axes                 add panels of the raw acceleration and angular rate\n"
    "                         per axis\n"
    "  --explain              write under the figure what the detector saw near\n"
    "                         the fall (or the alarm) and, for a wrong outcome,\n"
    "                         every single-setting fix of the default space (as\n"
    "                         velmora-tune explain finds them; not for '-')\n"
    "  --early-tolerance SEC  seconds a detection may precede the annotated\n"
    "                         position and still count as detected (default 1)\n"
    "  -h, --help             show this help\n"
    "  --version              show the program's and the detector's version\n"
    "\n"
    "Exit status: 0 figure written, 1 an input cannot be read or an output\n"
    "cannot be written, 2 bad command line or settings.\n"
    "\n"
    "Example:\n"
    "  velmora-plot -o fall.svg examples/recordings/fall_forward.csv\n";

constexpr double kMaxSeconds = 1.0e12;
constexpr double kMaxToleranceSeconds = 86400.0;

std::optional<double> parseSeconds(const std::string& text, double maximum) {
  const std::optional<double> value = parseOptionNumber(text);
  if (!value || *value < 0.0 || *value > maximum) {
    return std::nullopt;
  }
  return value;
}

struct Options {
  DetectorSettings settings{};
  std::string dataPath;
  std::string infoPath;
  std::optional<std::string> svgPath;
  std::optional<std::string> pngPath;
  std::vector<std::string> settingsFiles;
  PlotWindowRequest window;
  bool axes = false;
  bool explain = false;
  double toleranceSeconds = 1.0;
};

// Returns an error message, or "" (with `exitNow` set after --help or
// --version).
std::string parseArguments(int argc, char** argv, Options& options, bool& exitNow) {
  OptionTable table = settingsOptions(options.settings, options.settingsFiles);
  table.push_back(flagOption({"--whole"}, options.window.whole));
  table.push_back(flagOption({"--axes"}, options.axes));
  table.push_back(flagOption({"--explain"}, options.explain));
  for (const char* name : {"-o", "--png"}) {
    std::optional<std::string>& path = name[1] == 'o' ? options.svgPath : options.pngPath;
    table.push_back({{name}, true, [&path](const std::string& as, const std::string& value) {
                       if (value.empty()) {
                         return as + " needs a file name, not an empty one";
                       }
                       path = value;
                       return std::string();
                     }});
  }
  table.push_back(
      {{"--early-tolerance"}, true, [&options](const std::string&, const std::string& value) {
         const std::optional<double> seconds = parseSeconds(value, kMaxToleranceSeconds);
         if (!seconds) {
           return "--early-tolerance: '" + value + "' is not a number of seconds in 0..86400";
         }
         options.toleranceSeconds = *seconds;
         return std::string();
       }});
  for (const char* name : {"--from", "--to"}) {
    std::optional<double>& bound =
        name[2] == 'f' ? options.window.fromSeconds : options.window.toSeconds;
    table.push_back({{name}, true, [&bound](const std::string& as, const std::string& value) {
                       const std::optional<double> seconds = parseSeconds(value, kMaxSeconds);
                       if (!seconds) {
                         return as + ": '" + value + "' is not a number of seconds from 0 on";
                       }
                       bound = *seconds;
                       return std::string();
                     }});
  }
  ParsedCommandLine parsed;
  if (std::string error = parseCommandLine(argc, argv, 1, table, parsed); !error.empty()) {
    return error;
  }
  if (parsed.help || parsed.version) {
    std::fputs(parsed.help ? kUsage : versionText().c_str(), stdout);
    exitNow = true;
    return {};
  }
  const std::vector<std::string>& operands = parsed.operands;
  if (operands.empty()) {
    return "no data file given";
  }
  if (operands.size() > 2) {
    return "at most a data file and an info file may be given";
  }
  options.dataPath = operands[0];
  if (options.dataPath.empty()) {
    return "the data file name is empty";
  }
  if (operands.size() == 2) {
    options.infoPath = operands[1];
    if (options.infoPath.empty() || options.infoPath == "-") {
      return "the info file must be a file name";
    }
  }
  if (options.infoPath.empty() && options.dataPath != "-") {
    // As velmora-eval finds it: the recording's sibling <name>.info.
    std::filesystem::path sibling = options.dataPath;
    sibling.replace_extension(".info");
    std::error_code error;
    if (sibling.string() != options.dataPath && std::filesystem::exists(sibling, error)) {
      options.infoPath = sibling.string();
    }
  }
  if (options.window.whole && (options.window.fromSeconds || options.window.toSeconds)) {
    return "--whole cannot be combined with --from or --to";
  }
  if (options.window.fromSeconds && options.window.toSeconds &&
      *options.window.toSeconds <= *options.window.fromSeconds) {
    return "--to must lie after --from";
  }
  if (!options.svgPath && !options.pngPath) {
    options.svgPath = "-";
  }
  if (options.svgPath == "-" && options.pngPath == "-") {
    return "only one output can go to standard output";
  }
  if (options.pngPath && !pngSupported()) {
    std::string png;
    return "--png: " + renderPng({}, png);
  }
  // An output must never replace an input, nor the other output.
  std::vector<NamedPath> inputs;
  if (options.dataPath != "-") {
    if (std::string problem = namedRecordingProblem(options.dataPath); !problem.empty()) {
      return problem;
    }
    inputs.push_back({"the recording", options.dataPath});
  }
  if (!options.infoPath.empty()) {
    inputs.push_back({"the info file", options.infoPath});
  }
  for (const std::string& file : options.settingsFiles) {
    inputs.push_back({"the settings file", file});
  }
  std::vector<NamedPath> outputs;
  if (options.svgPath) {
    outputs.push_back({"-o", *options.svgPath});
  }
  if (options.pngPath) {
    outputs.push_back({"--png", *options.pngPath});
  }
  if (std::string error = checkOutputPaths(inputs, outputs); !error.empty()) {
    return error;
  }
  return {};
}

// What the detector saw and the single-setting fixes of this one recording.
std::vector<std::string> explainNotes(const Options& options, const PlotSetup& setup) {
  const velmora::evaluation::RecordingEntry entry{options.dataPath, options.infoPath, {}};
  const tune::RecordingCache cache = tune::loadCache({entry}, 1, {});
  const tune::ExplainConfig config{tune::defaultSpace(), options.settings, setup.toleranceSamples,
                                   1};
  const tune::Explanation explanation = tune::explainRecordings(cache, config);
  if (explanation.errors.empty()) {
    return {"The outcome is right under these settings: nothing to explain."};
  }
  const std::string caption = velmora::report::explainCaption(
      explanation, explanation.errors.front(), explanation.errors.front().fixes.size(), false);
  // The first line says what the detector saw; the fixes follow on one line.
  std::vector<std::string> notes;
  std::string fixes;
  std::size_t start = 0;
  for (std::size_t end = caption.find('\n'); start != std::string::npos;
       end = caption.find('\n', start)) {
    const std::string line =
        caption.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (notes.empty()) {
      notes.push_back(line);
    } else {
      fixes += (fixes.empty() ? "" : "; ") + line;
    }
    start = end == std::string::npos ? end : end + 1;
  }
  if (!fixes.empty()) {
    notes.push_back("Single-setting fixes: " + fixes + ".");
  }
  return notes;
}

int plotMain(int argc, char** argv) {
  Options options;
  VelmoraDefaultSettings(&options.settings);
  bool exitNow = false;
  if (const std::string error = parseArguments(argc, argv, options, exitNow); !error.empty()) {
    return usageError(error);
  }
  if (exitNow) {
    return 0;
  }
  if (const std::string error = VelmoraCheckSettings(options.settings); !error.empty()) {
    return usageError(error);
  }

  const bool fromStdin = options.dataPath == "-";
  if (fromStdin && options.explain) {
    return usageError("--explain reads the recording again: name a file, not '-'");
  }

  PlotSetup setup;
  setup.name =
      fromStdin ? "(standard input)" : std::filesystem::path(options.dataPath).filename().string();
  setup.settings = options.settings;
  setup.window = options.window;
  setup.axes = options.axes;
  setup.toleranceSeconds = options.toleranceSeconds;
  setup.toleranceSamples = velmora::evaluation::toleranceSamples(options.toleranceSeconds);
  if (!options.infoPath.empty()) {
    // Read as velmora-eval reads it: a figure judged against a position
    // nobody annotated would be silently wrong.
    const InfoAnnotation annotation = readInfoFileStrict(options.infoPath);
    if (!annotation.problem.empty()) {
      return failure(annotation.problem);
    }
    setup.annotation = FallAnnotation{annotation.fallPosition};
  }

  const PlottedRecording plotted =
      plotRecording(fromStdin ? "/dev/stdin" : options.dataPath, setup);
  if (!plotted.opened) {
    return failure("cannot open '" + options.dataPath + "': missing, unreadable or a directory");
  }
  const RecordingFigure& figure = plotted.figure;
  if (!plotted.shortLineNotice.empty()) {
    std::fprintf(stderr, "velmora-plot: %s: %s\n", options.dataPath.c_str(),
                 plotted.shortLineNotice.c_str());
  }
  if (figure.samples == 0) {
    std::fprintf(stderr, "velmora-plot: %s: no samples after the seven header lines\n",
                 options.dataPath.c_str());
  }
  if (setup.annotation &&
      (setup.annotation->position < 0 || setup.annotation->position >= figure.positions)) {
    return failure("info file '" + options.infoPath + "': the annotated position " +
                   std::to_string(setup.annotation->position) + " lies outside the recording (" +
                   std::to_string(figure.positions) + " samples)");
  }
  if (options.window.fromSeconds && figure.windowStart >= figure.positions) {
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%g", *options.window.fromSeconds);
    return failure(std::string("--from ") + seconds + " s lies beyond the recording's end (" +
                   std::to_string(figure.positions) + " samples)");
  }

  SvgOptions svgOptions;
  if (options.explain) {
    svgOptions.notes = explainNotes(options, setup);
  }
  const std::string svg = renderPlotSvg(figure, svgOptions);
  std::string png;
  if (options.pngPath) {
    if (const std::string error = renderPng(svg, png); !error.empty()) {
      return failure(error);
    }
  }
  std::vector<OutputItem> files;
  const std::string* toStdout = nullptr;
  if (options.svgPath) {
    if (*options.svgPath == "-") {
      toStdout = &svg;
    } else {
      files.push_back({*options.svgPath, svg});
    }
  }
  if (options.pngPath) {
    if (*options.pngPath == "-") {
      toStdout = &png;
    } else {
      files.push_back({*options.pngPath, png});
    }
  }
  // Files first, then standard output.
  if (!files.empty()) {
    if (const std::string error = writeOutputs(files); !error.empty()) {
      return failure(error);
    }
  }
  if (toStdout != nullptr) {
    if (const std::string error = writeStandardOutput(*toStdout); !error.empty()) {
      return failure("error writing standard output: " + error);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return runTool("velmora-plot", argc, argv, plotMain); }
