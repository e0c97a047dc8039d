// velmora-import: converts recordings of public fall datasets, or any
// delimited sensor log, into the recording format that Drovik and the
// other tools read; and checks what a recording looks like to the detector.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "CommandLine.h"
#include "CsvImport.h"
#include "CsvOption.h"
#include "FileOutput.h"
#include "ImportIndex.h"
#include "ImportSignal.h"
#include "ImportText.h"
#include "ImportedRecording.h"
#include "OptionParser.h"
#include "RecordingCheck.h"
#include "RecordingReader.h"
#include "SisfallImport.h"
#include "TextUtils.h"
#include "UmafallImport.h"

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] =
    "Usage: velmora-import sisfall [-o OUTDIR] [--force] FILE_OR_FOLDER...\n"
    "       velmora-import umafall [-o OUTDIR] [--force] FILE_OR_FOLDER...\n"
    "       velmora-import csv --acc AX,AY,AZ --gyro GX,GY,GZ --acc-unit U --gyro-unit U\n"
    "                          (--rate HZ | --time COLUMN [--time-unit s|ms|us])\n"
    "                          [options] -o OUTDIR FILE...\n"
    "       velmora-import check FILE...\n"
    "\n"
    "Converts recordings into the form Drovik replays: 50 samples/s, acceleration\n"
    "at 8192 counts per g and angular rate at 65.536 counts per deg/s, rounded and\n"
    "clamped to 16 bits, upright reading y about -1 g. Each recording becomes\n"
    "OUTDIR/<name>.csv, a fall also <name>.info ('<name>,<position>,1'), and every\n"
    "run adds its rows to OUTDIR/index.tsv. Existing files are never replaced\n"
    "without --force; a file that fails leaves nothing behind.\n"
    "\n"
    "  sisfall  SisFall raw files (<ACTIVITY>_<SUBJECT>_<TRIAL>.txt, 200 samples/s):\n"
    "           mean of each 4 samples; the .info marks the largest |acc|.\n"
    "  umafall  UMAFall raw files (UMAFall_Subject_..._<ADL|Fall>_....csv): the waist\n"
    "           sensor, interpolated onto a 20 ms grid; falls get the largest |acc|.\n"
    "  csv      delimited text with a header row (see the options below).\n"
    "  check    reports length, the stillest second's mean acceleration per axis,\n"
    "           clamping, and warnings when orientation, scale or rate look wrong.\n"
    "\n"
    "Options of the importers:\n"
    "  -o OUTDIR            output folder (created if missing; default: the current\n"
    "                       folder for sisfall and umafall; required for csv)\n"
    "  --force              replace existing outputs (and remove a stale .info of a\n"
    "                       recording that now has no annotation)\n"
    "Options of csv:\n"
    "  --acc AX,AY,AZ       accelerometer columns by header name (required)\n"
    "  --gyro GX,GY,GZ      gyroscope columns by header name (required)\n"
    "  --acc-unit U         g | mps2 | counts:PER_G (required)\n"
    "  --gyro-unit U        dps | rads | counts:PER_DPS (required)\n"
    "  --rate HZ            samples per second, or\n"
    "  --time COLUMN        a time column (--time-unit s, ms or us; default s);\n"
    "                       rows are sorted, equal stamps averaged\n"
    "  --axes x=SRC,y=SRC,z=SRC   output axes from source axes (+x, -y, ...), both\n"
    "                       sensors; a mirroring mapping gets a warning\n"
    "  --gyro-axes MAP      the gyroscope's own mapping when mounted differently\n"
    "  --resample M         mean (whole multiples of 50 Hz), linear, or sinc\n"
    "                       (band-limited, libsamplerate); default mean for whole\n"
    "                       multiples, sinc above 50 Hz otherwise, linear below\n"
    "                       and for irregular time stamps\n"
    "  --fall-at SECONDS    annotate a fall at that time from the first sample, or\n"
    "  --fall-at impact     at the sample with the largest |acc|, or\n"
    "  --label COLUMN       at the first row whose label is not zero\n"
    "  --delimiter C        ',', ';', 'tab' or another single character (default:\n"
    "                       the most frequent of ',', ';' and tab in the header)\n"
    "  --dataset, --subject, --activity, --trial TEXT   index.tsv columns\n"
    "Other:\n"
    "  -h, --help           show this help\n"
    "  --version            show the version\n"
    "  --                   end of options\n"
    "\n"
    "Example:\n"
    "  velmora-import csv --acc ax,ay,az --gyro gx,gy,gz --acc-unit mps2 \\\n"
    "      --gyro-unit rads --rate 100 --axes x=+y,y=-x,z=+z --fall-at impact \\\n"
    "      -o imported fall01.csv\n";

// A path quoted for a message (reportError escapes what needs it).
// (Appended, not "'" + string: GCC 12 warns falsely on that in release builds.)
std::string shown(const fs::path& path) {
  std::string text(1, '\'');
  text += path.string();
  text += '\'';
  return text;
}

// A path for a header line: the tail when it is long.
std::string sourceLabel(const fs::path& path) {
  const std::string text = path.string();
  constexpr std::size_t kKept = 300;
  return text.size() <= kKept ? text : "..." + text.substr(text.size() - kKept);
}

// ---- input -----------------------------------------------------------------

enum class Dataset { Sisfall, Umafall, Csv };

struct Input {
  fs::path path;
  std::string name;  // output stem
  std::optional<SisfallName> sisfall;
  std::optional<UmafallName> umafall;
};

struct OpenFile {
  int fd = -1;
  OpenFile() = default;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};

// Opens an input for reading; refuses folders and anything else that is
// not a regular file (opened without blocking, so a FIFO is not waited on).
std::string openInput(const fs::path& path, OpenFile& file) {
  file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file.fd < 0) {
    return std::string("cannot open: ") + std::strerror(errno);
  }
  struct stat info {};
  if (::fstat(file.fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    return "cannot read: it is a folder";
  }
  if (!S_ISREG(info.st_mode)) {
    return "cannot read: it is not a regular file (a device, FIFO or socket)";
  }
  return {};
}

// True when the file's first byte is '%', as a UMAFall header line starts.
bool startsWithPercent(const fs::path& path) {
  OpenFile file;
  if (!openInput(path, file).empty()) {
    return false;
  }
  char first = 0;
  return ::read(file.fd, &first, 1) == 1 && first == '%';
}

std::optional<Input> datasetInput(Dataset dataset, const fs::path& path) {
  const std::string fileName = path.filename().string();
  Input input{path, {}, {}, {}};
  if (dataset == Dataset::Sisfall) {
    input.sisfall = parseSisfallName(fileName);
    if (!input.sisfall) {
      return std::nullopt;
    }
    input.name = input.sisfall->stem;
  } else if (dataset == Dataset::Umafall) {
    input.umafall = parseUmafallName(fileName);
    if (!input.umafall) {
      return std::nullopt;
    }
    input.name = input.umafall->stem;
  } else {
    input.name = path.stem().string();
  }
  return input;
}

// Files as given, folders searched recursively for the dataset's files.
// Returns false after reporting a mistake; `folders` receives the folders.
bool collectInputs(Dataset dataset, const std::vector<std::string>& operands,
                   std::vector<Input>& inputs, std::vector<fs::path>& folders) {
  for (const std::string& operand : operands) {
    const fs::path path = operand;
    std::error_code statusError;
    if (dataset != Dataset::Csv && fs::is_directory(path, statusError)) {
      folders.push_back(path);
      std::vector<Input> found;
      std::size_t passedOver = 0;
      std::string example;
      std::error_code walkError;
      for (auto it = fs::recursive_directory_iterator(path, walkError);
           !walkError && it != fs::recursive_directory_iterator(); it.increment(walkError)) {
        std::error_code fileError;
        if (it->is_symlink(fileError) && !fs::exists(it->path(), fileError)) {
          reportError("note: " + shown(it->path()) +
                      " is a link to nothing (or a loop); passed over");
          continue;
        }
        if (!it->is_regular_file(fileError)) {
          if (!it->is_directory(fileError) && !notARegularFile(it->path().string()).empty()) {
            reportError("note: " + shown(it->path()) + " " + notARegularFile(it->path().string()) +
                        "; passed over");
          }
          continue;
        }
        auto input = datasetInput(dataset, it->path());
        if (input && dataset == Dataset::Umafall && !startsWithPercent(it->path())) {
          input.reset();
        }
        if (input) {
          found.push_back(std::move(*input));
        } else {
          ++passedOver;
          example = example.empty() ? it->path().string() : example;
        }
      }
      if (walkError) {
        reportError("cannot read folder " + shown(path) + ": " + walkError.message());
        return false;
      }
      if (passedOver > 0) {
        reportError("note: passed over " + std::to_string(passedOver) + " file" +
                    (passedOver > 1 ? "s" : "") + " under " + shown(path) + " that " +
                    (passedOver > 1 ? "are" : "is") + " not " +
                    (dataset == Dataset::Sisfall ? "named like SisFall raw files"
                                                 : "UMAFall raw files (name and '%' header)") +
                    ", such as " + shown(example));
      }
      if (found.empty()) {
        reportError(
            dataset == Dataset::Sisfall
                ? "no SisFall files (<ACTIVITY>_<SUBJECT>_<TRIAL>.txt) in folder " + shown(path)
                : "no UMAFall raw files (UMAFall_Subject_<NN>_<ADL|Fall>_..._<date>_<time>.csv) "
                  "in folder " +
                      shown(path));
        return false;
      }
      std::sort(found.begin(), found.end(),
                [](const Input& a, const Input& b) { return a.path < b.path; });
      std::move(found.begin(), found.end(), std::back_inserter(inputs));
      continue;
    }
    auto input = datasetInput(dataset, path);
    if (!input) {
      reportError(
          shown(path) +
          (dataset == Dataset::Sisfall
               ? ": expected a SisFall file named <ACTIVITY>_<SUBJECT>_<TRIAL>.txt with the "
                 "activity starting with F (fall) or D (daily living)"
               : ": expected a UMAFall raw file named "
                 "UMAFall_Subject_<NN>_<ADL|Fall>_<activity>_<trial>_<date>_<time>.csv"));
      return false;
    }
    inputs.push_back(std::move(*input));
  }
  return true;
}

// ---- reading and converting one input ---------------------------------------

using Outcome = std::variant<ImportedRecording, std::string>;  // recording or error

struct Skipped {
  std::string reason;
};

// Feeds every line of the input to `consume` (which returns an error or
// ""), stopping at the first error.
template <typename Consume>
std::string readLines(const fs::path& path, Consume&& consume) {
  OpenFile file;
  if (std::string error = openInput(path, file); !error.empty()) {
    return error;
  }
  LineReader reader(file.fd);
  std::string_view line;
  for (;;) {
    const LineReader::Result result = reader.next(line);
    if (result == LineReader::Result::End) {
      return {};
    }
    if (result != LineReader::Result::Line) {
      return describeReadFailure(result, reader);
    }
    if (std::string error = consume(line, reader.lineNumber()); !error.empty()) {
      return error;
    }
  }
}

std::variant<ImportedRecording, std::string> importSisfall(const Input& input) {
  std::vector<RawSample> raw;
  const std::string error =
      readLines(input.path, [&raw](std::string_view line, int64_t number) -> std::string {
        RawSample sample{};
        bool blank = false;
        if (std::string problem = parseSisfallLine(line, sample, blank); !problem.empty()) {
          return "line " + std::to_string(number) + ": " + problem;
        }
        if (!blank) {
          if (raw.size() >= importsignal::kMaxInputSamples) {
            return "line " + std::to_string(number) + ": more than " +
                   std::to_string(importsignal::kMaxInputSamples) + " samples";
          }
          raw.push_back(sample);
        }
        return {};
      });
  if (!error.empty()) {
    return error;
  }
  if (raw.size() < 4) {
    return "expected at least 4 samples (one output sample), found " + std::to_string(raw.size());
  }
  return buildSisfallRecording(*input.sisfall, input.path.filename().string(), raw.size(),
                               convertSisfall(raw));
}

std::variant<ImportedRecording, std::string, Skipped> importUmafall(const Input& input) {
  UmafallReader reader;
  const std::string error =
      readLines(input.path, [&reader](std::string_view line, int64_t number) -> std::string {
        reader.addLine(line);
        if (!reader.startsWithHeader()) {
          return "line 1: does not start with a UMAFall header line ('%')";
        }
        if (reader.keptSamples() > importsignal::kMaxInputSamples) {
          return "line " + std::to_string(number) + ": more than " +
                 std::to_string(importsignal::kMaxInputSamples) + " samples";
        }
        return {};
      });
  if (!error.empty()) {
    return error;
  }
  if (!reader.startsWithHeader()) {
    return std::string("empty: no UMAFall header");
  }
  auto outcome = convertUmafall(std::move(reader), *input.umafall, sourceLabel(input.path));
  if (auto* reason = std::get_if<std::string>(&outcome)) {
    return Skipped{*reason};
  }
  return std::get<ImportedRecording>(std::move(outcome));
}

// The line ends in a file, counted in a first quick pass so that the
// samples can be held without the slack of a growing array; 0 when the
// file cannot be read (the reading pass then says why).
std::size_t countLines(const fs::path& path) {
  OpenFile file;
  if (!openInput(path, file).empty()) {
    return 0;
  }
  std::size_t lines = 0;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return lines;
    }
    lines += static_cast<std::size_t>(std::count(buffer, buffer + got, '\n'));
  }
}

std::variant<ImportedRecording, std::string> importCsv(const Input& input,
                                                       const CsvOptions& options) {
  CsvReader reader(options);
  reader.allowSecondReading();
  reader.reserve(countLines(input.path));
  const auto add = [&reader](std::string_view line, int64_t number) {
    return reader.addLine(line, number);
  };
  if (std::string error = readLines(input.path, add); !error.empty()) {
    return error;
  }
  if (reader.startSecondReading()) {
    if (std::string error = readLines(input.path, add); !error.empty()) {
      return error;
    }
  }
  return reader.finish(input.name, sourceLabel(input.path));
}

// ---- output --------------------------------------------------------------------

// Puts a recording in place: a fall's .info before its .csv, so an
// interrupted run never leaves a fall recording without its annotation;
// a recording without annotation then drops a stale .info of its name,
// which would make evaluation count it as a fall.
std::string writeRecording(const fs::path& dir, const ImportedRecording& recording) {
  const fs::path csv = dir / (recording.name + ".csv");
  const fs::path info = dir / (recording.name + ".info");
  // The recording's text is made as it is written, never held whole.
  const OutputItem text{csv, std::nullopt, recordingProducer(recording)};
  if (recording.fallPosition) {
    return writeOutputs({{info, formatInfo(recording)}, text});
  }
  return writeOutputs({text, {info, std::nullopt}});
}

bool pathExists(const fs::path& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

// Refuses, before any work, an output folder inside a folder being read,
// and an output that is one of the inputs.
bool checkOutputPlaces(const fs::path& outDir, const std::vector<fs::path>& folders,
                       const std::vector<Input>& inputs) {
  std::error_code error;
  const fs::path out = fs::weakly_canonical(fs::absolute(outDir, error), error);
  for (const fs::path& folder : folders) {
    const fs::path in = fs::weakly_canonical(fs::absolute(folder, error), error);
    const auto [inEnd, outAt] = std::mismatch(in.begin(), in.end(), out.begin(), out.end());
    if (inEnd == in.end()) {
      usageError("the output folder " + shown(outDir) + " lies in the input folder " +
                 shown(folder) + ", which is being read; choose an -o outside it");
      return false;
    }
  }
  // Outputs that are inputs (or each other), through the shared check.
  std::vector<NamedPath> in;
  std::vector<NamedPath> outputs;
  for (const Input& input : inputs) {
    in.push_back({"input", input.path.string()});
    outputs.push_back({"output", (outDir / (input.name + ".csv")).string()});
    outputs.push_back({"output", (outDir / (input.name + ".info")).string()});
  }
  outputs.push_back({"the index", (outDir / "index.tsv").string()});
  if (std::string problem = checkOutputPaths(in, outputs); !problem.empty()) {
    usageError(problem);
    return false;
  }
  return true;
}

// Reads an existing index.tsv so runs can extend it; refuses one that is
// not an index (it will not be replaced by a shorter one).
bool readExistingIndex(const fs::path& path, std::string& text) {
  text.clear();
  if (!pathExists(path)) {
    return true;
  }
  constexpr std::size_t kLimit = 64u << 20;
  if (std::string problem = readRegularFile(path.string(), "the index", kLimit, text);
      !problem.empty()) {
    reportError(problem + "; nothing was written");
    return false;
  }
  if (std::string problem = checkIndex(text); !problem.empty()) {
    reportError(shown(path) + ": " + problem + "; nothing was written");
    return false;
  }
  return true;
}

// ---- command lines ---------------------------------------------------------------

struct CommonOptions {
  fs::path outDir = ".";
  bool outGiven = false;
  bool force = false;
  std::vector<std::string> operands;
};

int runCheck(const std::vector<std::string>& files) {
  int failures = 0;
  for (const std::string& file : files) {
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
      reportError(shown(file) + ": not a regular file (missing, a folder or a device)");
      ++failures;
      continue;
    }
    // A first pass counts the lines, so that the samples are held once,
    // without the slack of a growing array.
    SampleRecord sample{};
    std::vector<SampleRecord> samples;
    {
      RecordingReader counter;
      if (counter.open(file.c_str(), true)) {
        counter.skipHeader();
        while (counter.next(sample) != RecordingReader::Status::End &&
               counter.dataLines() <= static_cast<int64_t>(importsignal::kMaxInputSamples)) {
        }
        samples.reserve(static_cast<std::size_t>(counter.dataLines()));
      }
    }
    RecordingReader reader;
    if (!reader.open(file.c_str(), true)) {
      reportError(shown(file) + ": cannot open");
      ++failures;
      continue;
    }
    reader.skipHeader();
    bool tooLong = false;
    for (RecordingReader::Status status;
         (status = reader.next(sample)) != RecordingReader::Status::End;) {
      if (reader.dataLines() > static_cast<int64_t>(importsignal::kMaxInputSamples)) {
        tooLong = true;
        break;
      }
      if (status == RecordingReader::Status::Sample) {
        samples.push_back(sample);
      }
    }
    if (tooLong) {
      reportError(shown(file) + ": more than " + std::to_string(importsignal::kMaxInputSamples) +
                  " lines; not a recording this tool checks");
      ++failures;
      continue;
    }
    const RecordingCheck check = checkRecording(samples);
    std::printf("%s:\n", printable(file).c_str());
    for (const std::string& line : check.lines) {
      std::printf("  %s\n", line.c_str());
    }
    if (reader.shortLines() > 0) {
      std::printf("  warning: %s\n", describeShortLines(reader).c_str());
    }
  }
  return failures > 0 ? 1 : 0;
}

int importMain(int argc, char** argv) {
  if (argc >= 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc >= 2 && std::string(argv[1]) == "--version") {
    std::fputs(versionText().c_str(), stdout);
    return 0;
  }
  if (argc < 2) {
    return usageError("no command given (sisfall, umafall, csv or check)");
  }
  const std::string command = argv[1];
  Dataset dataset = Dataset::Csv;
  if (command == "sisfall") {
    dataset = Dataset::Sisfall;
  } else if (command == "umafall") {
    dataset = Dataset::Umafall;
  } else if (command != "csv" && command != "check") {
    return usageError("unknown command '" + command + "' (sisfall, umafall, csv or check)");
  }

  CommonOptions common;
  CsvOptions csv;
  OptionTable table;
  if (command != "check") {
    table.push_back({{"-o"},
                     true,
                     [&common](const std::string&, const std::string& value) {
                       if (value.empty()) {
                         return std::string("-o needs a folder");
                       }
                       if (value == "-") {
                         return std::string(
                             "-o needs a folder: the importer writes files into it, so '-' "
                             "(standard output) cannot take them; write ./- for a folder named "
                             "'-'");
                       }
                       common.outDir = value;
                       common.outGiven = true;
                       return std::string();
                     },
                     command == "csv",
                     "-o needs a folder"});
    table.push_back(flagOption({"--force"}, common.force));
  }
  if (command == "csv") {
    for (OptionSpec& row : csvConversionOptions(csv, CsvConversion::File)) {
      table.push_back(std::move(row));
    }
  }
  ParsedCommandLine parsed;
  if (const std::string error = parseCommandLine(argc, argv, 2, table, parsed, " for " + command);
      !error.empty()) {
    return usageError(error);
  }
  if (const std::optional<int> status = answerHelpOrVersion(parsed, kUsage)) {
    return *status;
  }
  common.operands = parsed.operands;
  if (common.operands.empty()) {
    return usageError("no input file" +
                      std::string(command == "csv" || command == "check" ? "" : " or folder") +
                      " given");
  }
  // Every input is read by name (and a folder searched), never from
  // standard input; a file named '-' is given as ./-.
  if (std::find(common.operands.begin(), common.operands.end(), "-") != common.operands.end()) {
    return usageError("'-' (standard input) cannot be an input: " + command +
                      " reads files by name; write ./- for a file named '-'");
  }
  if (command == "check") {
    return runCheck(common.operands);
  }
  if (dataset == Dataset::Csv) {
    if (csv.rate.has_value() == !csv.timeColumn.empty()) {
      return usageError("csv needs exactly one of --rate HZ and --time COLUMN");
    }
    if ((csv.fallAtImpact || csv.fallAtSeconds) && !csv.labelColumn.empty()) {
      return usageError("give either --fall-at or --label, not both");
    }
  }

  for (const std::string& operand : common.operands) {
    std::error_code error;
    const std::string reason = notARegularFile(operand);
    if (!reason.empty() && (dataset == Dataset::Csv || !fs::is_directory(operand, error))) {
      return usageError("input " + shown(operand) + " " + reason);
    }
  }
  std::vector<Input> inputs;
  std::vector<fs::path> folders;
  if (!collectInputs(dataset, common.operands, inputs, folders)) {
    return 1;
  }
  // Names that would shift the fields of an .info line or an index row.
  int failures = 0;
  std::vector<Input> usable;
  std::set<std::string> names;
  for (Input& input : inputs) {
    if (std::string why = checkRecordingName(input.name); !why.empty()) {
      reportError(shown(input.path) + ": cannot name a recording '" + input.name + "': " + why +
                  ", which would move the fields of its .info line; rename the file");
      ++failures;
      continue;
    }
    if (!names.insert(input.name).second) {
      reportError("two inputs are named '" + input.name +
                  "'; each needs its own output; nothing was written");
      return 1;
    }
    usable.push_back(std::move(input));
  }
  if (!checkOutputPlaces(common.outDir, folders, usable)) {
    return 2;
  }
  if (!common.force) {
    std::vector<fs::path> existing;
    for (const Input& input : usable) {
      for (const char* suffix : {".csv", ".info"}) {
        if (const fs::path target = common.outDir / (input.name + suffix); pathExists(target)) {
          existing.push_back(target);
        }
      }
    }
    if (!existing.empty()) {
      reportError("these outputs exist already; nothing was written (--force replaces them):");
      for (const fs::path& path : existing) {
        std::fprintf(stderr, "  %s\n", printable(path.string()).c_str());
      }
      return 1;
    }
  }
  const fs::path indexPath = common.outDir / "index.tsv";
  std::string index;
  if (!readExistingIndex(indexPath, index)) {
    return 1;
  }
  std::error_code dirError;
  fs::create_directories(common.outDir, dirError);
  if (!fs::is_directory(common.outDir, dirError)) {
    reportError("cannot create output folder " + shown(common.outDir));
    return 1;
  }

  std::vector<IndexRow> rows;
  for (const Input& input : usable) {
    const std::string where = input.path.string();
    std::variant<ImportedRecording, std::string, Skipped> outcome = std::string();
    if (dataset == Dataset::Sisfall) {
      std::visit([&outcome](auto&& value) { outcome = std::move(value); }, importSisfall(input));
    } else if (dataset == Dataset::Umafall) {
      outcome = importUmafall(input);
    } else {
      std::visit([&outcome](auto&& value) { outcome = std::move(value); }, importCsv(input, csv));
    }
    if (const auto* skipped = std::get_if<Skipped>(&outcome)) {
      reportError("note: " + where + ": no recording: " + skipped->reason);
      continue;
    }
    if (const auto* error = std::get_if<std::string>(&outcome)) {
      reportError(where + ": " + *error);
      ++failures;
      continue;
    }
    const auto& recording = std::get<ImportedRecording>(outcome);
    if (std::string error = writeRecording(common.outDir, recording); !error.empty()) {
      reportError(where + ": " + error);
      ++failures;
      continue;
    }
    rows.push_back(recording.row);
    std::printf("%s -> %s (%s)\n", printable(where).c_str(),
                printable((common.outDir / (recording.name + ".csv")).string()).c_str(),
                recording.note.c_str());
  }
  if (!rows.empty()) {
    if (std::string error = writeOutput(indexPath, extendIndex(index, rows)); !error.empty()) {
      reportError(error);
      ++failures;
    }
  }
  if (failures > 0) {
    reportError(std::to_string(failures) + " of " + std::to_string(inputs.size()) +
                " files failed");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return runTool("velmora-import", argc, argv, importMain); }
