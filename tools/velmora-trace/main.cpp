// velmora-trace: replays a recording as Drovik does and prints the
// detector's per-sample trace lines on standard output.
#include <cstdio>
#include <cstring>
#include <string>

#include "SettingsTable.h"
#include "ToolSupport.h"
#include "Velmora.h"

namespace {

constexpr char kUsage[] =
    "Usage: velmora-trace [--set NAME=VALUE]... <data_file>\n"
    "\n"
    "Replays a recording through the fall detector exactly as Drovik does and\n"
    "writes one trace line per sample to standard output: the raw sample, the\n"
    "features, the event state and the result code (\" -> (code)\" on a fall).\n"
    "\n"
    "Options:\n"
    "  --set NAME=VALUE  override one detector setting (repeatable); names as\n"
    "                    printed by velmora-eval --print-settings\n"
    "  -h, --help        show this help\n"
    "\n"
    "Example:\n"
    "  velmora-trace --set lowLevel=55 examples/recordings/fall_forward.csv\n";

int usageError(const std::string& message) {
  std::fprintf(stderr, "velmora-trace: %s\n(run velmora-trace --help for usage)\n",
               message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  const char* path = nullptr;
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
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option '" + arg + "'");
    } else if (path == nullptr) {
      path = argv[i];
    } else {
      return usageError("only one data file may be given");
    }
  }
  if (path == nullptr) {
    return usageError("no data file given");
  }
  if (const std::string error = validateSettings(settings); !error.empty()) {
    return usageError(error);
  }
  traceStream = stdout;
  const ReplaySummary summary = replayWithSettings(path, settings, {});
  traceStream = nullptr;
  if (!summary.opened) {
    std::fprintf(stderr, "velmora-trace: cannot open '%s': %s\n", path,
                 "missing, unreadable or a directory");
    return 1;
  }
  if (!summary.shortLineNotice.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "velmora-trace: %s: %s\n", path, summary.shortLineNotice.c_str());
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "velmora-trace: error writing standard output\n");
    return 1;
  }
  return 0;
}
