// velmora-plot: replays a recording as Drovik does and draws the detector's
// per-sample values, its event spans and its detections as an SVG figure.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "FileOutput.h"
#include "InfoFile.h"
#include "PlotData.h"
#include "PlotSvg.h"
#include "SettingsTable.h"
#include "Velmora.h"

namespace {

constexpr char kUsage[] =
    "Usage: velmora-plot [--set NAME=VALUE]... [-o OUT.svg] <data_file> [<info_file>]\n"
    "\n"
    "Replays a recording through the fall detector exactly as Drovik does and\n"
    "draws it as an SVG figure: acceleration and angular-rate magnitudes (raw\n"
    "and smoothed) with the low and impact levels, roll and pitch with the\n"
    "upright band, jump windows and low-acceleration runs, the annotated fall\n"
    "position from the info file and a marker for every sample with a fall\n"
    "code. The title gives the file name and the verdict.\n"
    "\n"
    "Options:\n"
    "  --set NAME=VALUE  override one detector setting (repeatable); names as\n"
    "                    printed by velmora-eval --print-settings\n"
    "  -o OUT.svg        write the figure to OUT.svg (default: standard output)\n"
    "  -h, --help        show this help\n"
    "\n"
    "Example:\n"
    "  velmora-plot -o fall.svg examples/recordings/fall_forward.csv \\\n"
    "      examples/recordings/fall_forward.info\n";

int usageError(const std::string& message) {
  std::fprintf(stderr, "velmora-plot: %s\n(run velmora-plot --help for usage)\n", message.c_str());
  return 2;
}

int failure(const std::string& message) {
  std::fprintf(stderr, "velmora-plot: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  const char* dataPath = nullptr;
  const char* infoPath = nullptr;
  const char* outPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::string error; takeSetOption(argc, argv, i, settings, error)) {
      if (!error.empty()) {
        return usageError(error);
      }
    } else if (arg == "-o") {
      if (i + 1 >= argc) {
        return usageError("-o needs an output file name");
      }
      outPath = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option '" + arg + "'");
    } else if (dataPath == nullptr) {
      dataPath = argv[i];
    } else if (infoPath == nullptr) {
      infoPath = argv[i];
    } else {
      return usageError("at most a data file and an info file may be given");
    }
  }
  if (dataPath == nullptr) {
    return usageError("no data file given");
  }
  if (const std::string error = validateSettings(settings); !error.empty()) {
    return usageError(error);
  }

  RecordingPlot plot;
  plot.name = std::filesystem::path(dataPath).filename().string();
  if (infoPath != nullptr) {
    // Read as Drovik reads it; Drovik ignores a bad info file, but a figure
    // without the annotation the user asked for would be silently wrong.
    int32_t fallPosition = 0;
    int32_t fallFlag = 0;
    const int32_t status = ReadInfoFile(infoPath, &fallPosition, &fallFlag);
    if (status == -1) {
      return failure(std::string("cannot read info file '") + infoPath + "'");
    }
    if (status < 0) {
      return failure(std::string("info file '") + infoPath +
                     "': the first line must hold three comma-separated fields "
                     "(name, fall position, flag)");
    }
    plot.annotation = FallAnnotation{fallPosition, fallFlag > 0};
  }

  const CollectResult collected = collectRecordingPlot(dataPath, settings, plot);
  if (!collected.opened) {
    return failure(std::string("cannot open '") + dataPath +
                   "': missing, unreadable or a directory");
  }
  if (!collected.shortLineNotice.empty()) {
    std::fprintf(stderr, "velmora-plot: %s: %s\n", dataPath, collected.shortLineNotice.c_str());
  }
  if (plot.samples.empty()) {
    std::fprintf(stderr, "velmora-plot: %s: no samples after the seven header lines\n", dataPath);
  }

  const std::string svg = renderPlotSvg(plot);
  if (outPath == nullptr || std::strcmp(outPath, "-") == 0) {
    std::fwrite(svg.data(), 1, svg.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
      return failure("error writing standard output");
    }
    return 0;
  }
  if (const std::string error = writeFileAtomically(outPath, svg); !error.empty()) {
    return failure(error);
  }
  return 0;
}
