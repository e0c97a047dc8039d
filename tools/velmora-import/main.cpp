// velmora-import: converts recordings of public fall datasets into the
// recording format that Drovik and the other tools read.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "FileOutput.h"
#include "SisfallImport.h"

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] =
    "Usage: velmora-import sisfall [-o OUTDIR] <file or folder>...\n"
    "\n"
    "Converts SisFall raw recordings (<ACTIVITY>_<SUBJECT>_<TRIAL>.txt, 200\n"
    "samples/s) into recordings for Drovik: seven header lines, then\n"
    "index,ax,ay,az,gx,gy,gz lines at 50 samples/s. Each output sample is the\n"
    "mean of four raw samples scaled to 8192 counts per g and 65.536 counts\n"
    "per deg/s, rounded to nearest and clamped to the signed 16-bit range.\n"
    "A fall (activity starting with F) also gets <name>.info holding\n"
    "'<name>,<position>,1', the position being the first sample with the\n"
    "largest acceleration magnitude before clamping: an impact estimate, not\n"
    "a hand annotation. Folders are searched recursively for such files;\n"
    "other files in them are skipped. A file that fails leaves no output.\n"
    "\n"
    "Options:\n"
    "  -o OUTDIR    folder for the converted files (created if missing;\n"
    "               default: the current folder)\n"
    "  -h, --help   show this help\n"
    "\n"
    "Example:\n"
    "  velmora-import sisfall -o imported SisFall_dataset/SA01\n";

int usageError(const std::string& message) {
  std::fprintf(stderr, "velmora-import: %s\n(run velmora-import --help for usage)\n",
               message.c_str());
  return 2;
}

bool readWholeFile(const fs::path& path, std::string& text) {
  std::error_code error;
  if (fs::is_directory(path, error)) {
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    return false;
  }
  text = std::move(content).str();
  return true;
}

struct Input {
  fs::path path;
  SisfallName name;
};

// Collects the inputs: files as given (their names must follow the
// pattern), folders searched recursively for files that follow it.
bool collectInputs(const std::vector<std::string>& operands, std::vector<Input>& inputs,
                   std::string& error) {
  for (const std::string& operand : operands) {
    const fs::path path = operand;
    std::error_code statusError;
    if (fs::is_directory(path, statusError)) {
      std::vector<Input> found;
      std::error_code walkError;
      for (auto it = fs::recursive_directory_iterator(path, walkError);
           !walkError && it != fs::recursive_directory_iterator(); it.increment(walkError)) {
        std::error_code fileError;
        if (!it->is_regular_file(fileError)) {
          continue;
        }
        if (auto name = parseSisfallName(it->path().filename().string())) {
          found.push_back({it->path(), std::move(*name)});
        }
      }
      if (walkError) {
        error = "cannot read folder '" + operand + "': " + walkError.message();
        return false;
      }
      if (found.empty()) {
        error = "no SisFall files (<ACTIVITY>_<SUBJECT>_<TRIAL>.txt) in folder '" + operand + "'";
        return false;
      }
      std::sort(found.begin(), found.end(),
                [](const Input& a, const Input& b) { return a.path < b.path; });
      std::move(found.begin(), found.end(), std::back_inserter(inputs));
      continue;
    }
    auto name = parseSisfallName(path.filename().string());
    if (!name) {
      error = "'" + operand +
              "': expected a SisFall file named <ACTIVITY>_<SUBJECT>_<TRIAL>.txt with the "
              "activity starting with F (fall) or D (daily living)";
      return false;
    }
    inputs.push_back({path, std::move(*name)});
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc < 2) {
    return usageError("no dataset given (supported: sisfall)");
  }
  if (std::string(argv[1]) != "sisfall") {
    return usageError("unknown dataset '" + std::string(argv[1]) + "' (supported: sisfall)");
  }
  fs::path outDir = ".";
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsEnded && (arg == "-h" || arg == "--help")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg == "-o") {
      if (i + 1 >= argc || std::string(argv[i + 1]).empty()) {
        return usageError("-o needs a folder");
      }
      outDir = argv[++i];
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option '" + arg + "'");
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.empty()) {
    return usageError("no input file or folder given");
  }

  std::vector<Input> inputs;
  std::string error;
  if (!collectInputs(operands, inputs, error)) {
    std::fprintf(stderr, "velmora-import: %s\n", error.c_str());
    return 1;
  }
  std::set<std::string> stems;
  for (const Input& input : inputs) {
    if (!stems.insert(input.name.stem).second) {
      std::fprintf(stderr, "velmora-import: two inputs are named '%s'; each needs its own output\n",
                   input.name.stem.c_str());
      return 1;
    }
  }
  std::error_code dirError;
  fs::create_directories(outDir, dirError);
  if (dirError || !fs::is_directory(outDir, dirError)) {
    std::fprintf(stderr, "velmora-import: cannot create output folder '%s'\n",
                 outDir.string().c_str());
    return 1;
  }

  int failures = 0;
  for (const Input& input : inputs) {
    const std::string where = input.path.string();
    std::string text;
    if (!readWholeFile(input.path, text)) {
      std::fprintf(stderr, "velmora-import: %s: cannot read (missing, unreadable or a folder)\n",
                   where.c_str());
      ++failures;
      continue;
    }
    const RawParseResult raw = parseSisfallText(text);
    if (!raw.error.empty()) {
      std::fprintf(stderr, "velmora-import: %s: %s\n", where.c_str(), raw.error.c_str());
      ++failures;
      continue;
    }
    if (raw.samples.size() < 4) {
      std::fprintf(stderr,
                   "velmora-import: %s: expected at least 4 samples (one output sample), found "
                   "%zu\n",
                   where.c_str(), raw.samples.size());
      ++failures;
      continue;
    }
    const ConvertedRecording recording = convertSisfall(raw.samples);
    std::vector<std::pair<fs::path, std::string>> files;
    const fs::path csvPath = outDir / (input.name.stem + ".csv");
    files.emplace_back(csvPath, formatRecording(input.name, input.path.filename().string(),
                                                raw.samples.size(), recording));
    if (input.name.fall) {
      files.emplace_back(outDir / (input.name.stem + ".info"), formatInfo(input.name, recording));
    }
    if (error = writeFilesAtomically(files); !error.empty()) {
      std::fprintf(stderr, "velmora-import: %s: %s\n", where.c_str(), error.c_str());
      ++failures;
      continue;
    }
    if (input.name.fall) {
      std::printf("%s -> %s (%zu samples, impact estimate at sample %lld)\n", where.c_str(),
                  csvPath.string().c_str(), recording.samples.size(),
                  static_cast<long long>(recording.impactSample));
    } else {
      std::printf("%s -> %s (%zu samples)\n", where.c_str(), csvPath.string().c_str(),
                  recording.samples.size());
    }
  }
  if (failures > 0) {
    std::fprintf(stderr, "velmora-import: %d of %zu files failed\n", failures, inputs.size());
    return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
