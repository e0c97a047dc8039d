// velmora-live: runs the fall detector on samples as they arrive (standard
// input, a followed file or a serial device) and reports every alarm the
// moment its first sample has been processed.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CommandLine.h"
#include "CsvImport.h"
#include "CsvOption.h"
#include "CsvStream.h"
#include "LiveDecoder.h"
#include "LiveRun.h"
#include "OptionParser.h"
#include "SettingOption.h"
#include "SettingsTable.h"
#include "StandardOutput.h"
#include "StreamSource.h"
#include "Velmora.h"

namespace {

constexpr char kUsage[] =
    "Usage: velmora-live [options] [SOURCE]\n"
    "       velmora-live [options] --follow FILE\n"
    "       velmora-live [options] --serial DEVICE [--baud N]\n"
    "\n"
    "Runs the fall detector over samples as they arrive and writes one line per\n"
    "alarm (a run of consecutive positive results, reported at its first sample)\n"
    "the moment that sample has been processed. SOURCE '-' or none: standard input.\n"
    "\n"
    "Sources:\n"
    "  --follow FILE      a file another program appends to, followed like tail -F\n"
    "                     from its start (waited for when absent; a truncated file\n"
    "                     is read again from its start, a replaced one is followed)\n"
    "  --serial DEVICE    a serial device, set raw (8N1, no echo, no line editing);\n"
    "                     waited for when absent, reopened when it comes back\n"
    "  --baud N           its speed (default 115200)\n"
    "Formats:\n"
    "  --format recording lines as a recording holds them (default):\n"
    "                     INDEX,AX,AY,AZ,GX,GY,GZ in signed 16-bit counts; lines\n"
    "                     before the first data line are a header and skipped\n"
    "  --format csv       any sensor's delimited text, converted as velmora-import\n"
    "                     csv converts it, with its options:\n"
    "    --acc AX,AY,AZ --gyro GX,GY,GZ   columns by name (required)\n"
    "    --acc-unit g|mps2|counts:PER_G --gyro-unit dps|rads|counts:PER_DPS (required)\n"
    "    --rate HZ        samples per second, or\n"
    "    --time COLUMN    a time column (--time-unit s, ms or us; default s); a\n"
    "                     stamp going back or jumping over 1 s is a gap\n"
    "    --axes MAP, --gyro-axes MAP   output axes from source axes (x=+y,y=-x,z=+z)\n"
    "    --resample mean|linear   default: mean for a --rate that is a whole\n"
    "                     multiple of 50, linear otherwise and with --time\n"
    "    --delimiter C    default: detected from the header row (',' with --columns)\n"
    "    --columns NAMES  the column names when the stream has no header row\n"
    "Output:\n"
    "  --json             one JSON object per alarm: time, position, seconds, code,\n"
    "                     meaning\n"
    "  --exec CMD         run CMD with /bin/sh -c on every alarm (VELMORA_TIME,\n"
    "                     VELMORA_POSITION, VELMORA_SECONDS, VELMORA_CODE and\n"
    "                     VELMORA_MEANING set), at most 4 at once, never waited for\n"
    "  --status SECONDS   a status line on standard error at that interval\n"
    "  --record FILE      also write the accepted samples as a recording (a new\n"
    "                     file, written as it goes: a journal, not replaced atomically)\n"
    "Detector:\n"
    "  --set NAME=VALUE   override one detector setting (repeatable); names as\n"
    "                     printed by velmora-eval --print-settings\n"
    "  --settings FILE    settings file, one NAME=VALUE a line ('#' comments)\n"
    "  --profile NAME     a shipped settings profile: fa0.25, fa0.5, fa1 or fa2\n"
    "                     (--set, --settings and --profile apply in the order given)\n"
    "Other:\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n"
    "  --                 end of options\n"
    "\n"
    "Positions count the samples accepted so far, from 0; a malformed, overlong\n"
    "(over 1024 bytes) or non-UTF-8 line is skipped, counted and warned about (one\n"
    "warning a second at most). The run ends at the end of standard input, or on\n"
    "SIGINT, SIGTERM or SIGHUP, with a summary on standard error and status 0.\n"
    "\n"
    "Example:\n"
    "  velmora-live --serial /dev/ttyACM0 --baud 115200 --status 60 \\\n"
    "      --exec 'notify-send \"Fall detected\" \"$VELMORA_MEANING\"'\n";

enum class SourceKind { StandardInput, Follow, Serial };

struct Options {
  DetectorSettings settings{};
  SourceKind source = SourceKind::StandardInput;
  std::string path;
  bool haveSourceArgument = false;
  int64_t baud = 115200;
  bool json = false;
  std::string exec;
  double statusSeconds = 0.0;
  std::string recordPath;
  bool csv = false;
  CsvOptions csvOptions;
  std::string columns;
  StreamResampling resampling;
};

// ---- options ---------------------------------------------------------------------

// --follow FILE or --serial DEVICE into `path`. '-' is standard input,
// which is read when neither is given, so it names nothing here.
OptionSpec sourceOption(const std::string& name, const std::string& noun, std::string& path,
                        bool& given) {
  const std::string missing = name + " needs a " + noun;
  return {{name},
          true,
          [name, noun, missing, &path, &given](const std::string&, const std::string& value) {
            if (value.empty()) {
              return missing;
            }
            if (value == "-") {
              return missing + ": '-' (standard input) is read without " + name +
                     "; write ./- for a " + noun + " named '-'";
            }
            path = value;
            given = true;
            return std::string();
          },
          false,
          missing};
}

// Parses the command line; returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv, Options& options) {
  VelmoraDefaultSettings(&options.settings);
  bool haveFollow = false;
  bool haveSerial = false;
  bool haveBaud = false;
  std::string format = "recording";
  // A journal is always a new file, so no settings file can be overwritten
  // by it: the names are not needed further.
  std::vector<std::string> settingsFiles;
  OptionTable table = settingsOptions(options.settings, settingsFiles);
  table.push_back(sourceOption("--follow", "file", options.path, haveFollow));
  table.push_back(sourceOption("--serial", "device", options.path, haveSerial));
  table.push_back(
      {{"--baud"}, true, [&options, &haveBaud](const std::string&, const std::string& value) {
         const auto baud = parseInt32(value);
         if (!baud || !baudConstant(*baud)) {
           return "--baud takes a standard rate (9600, 19200, 38400, 57600, 115200, "
                  "230400, 460800, 921600, ...), not '" +
                  value + "'";
         }
         options.baud = *baud;
         haveBaud = true;
         return std::string();
       }});
  table.push_back({{"--format"}, true, [&format](const std::string&, const std::string& value) {
                     if (value != "recording" && value != "csv") {
                       return "--format takes recording or csv, not '" + value + "'";
                     }
                     format = value;
                     return std::string();
                   }});
  // The options of velmora-import csv that a stream takes, and the column
  // names of a stream without a header row; any of them asks for csv.
  OptionTable csvRows = csvConversionOptions(options.csvOptions, CsvConversion::Stream);
  csvRows.push_back({{"--columns"}, true, [&options](const std::string&, const std::string& value) {
                       if (value.empty()) {
                         return std::string("--columns needs the column names");
                       }
                       options.columns = value;
                       return std::string();
                     }});
  for (OptionSpec& row : csvRows) {
    row.apply = [&options, apply = std::move(row.apply)](const std::string& spelled,
                                                         const std::string& value) {
      options.csv = true;
      return apply(spelled, value);
    };
    table.push_back(std::move(row));
  }
  table.push_back(flagOption({"--json"}, options.json));
  table.push_back({{"--exec"},
                   true,
                   [&options](const std::string&, const std::string& value) {
                     if (value.empty()) {
                       return std::string("--exec needs a command");
                     }
                     options.exec = value;
                     return std::string();
                   },
                   false,
                   "--exec needs a command"});
  table.push_back({{"--status"}, true, [&options](const std::string&, const std::string& value) {
                     const auto seconds = parseInt32(value);
                     if (!seconds || *seconds < 1) {
                       return "--status takes a whole number of seconds (1 or more), not '" +
                              value + "'";
                     }
                     options.statusSeconds = *seconds;
                     return std::string();
                   }});
  table.push_back({{"--record"},
                   true,
                   [&options](const std::string&, const std::string& value) {
                     if (value.empty()) {
                       return std::string("--record needs a file");
                     }
                     if (value == "-") {
                       return std::string("--record writes a file, not standard output");
                     }
                     options.recordPath = value;
                     return std::string();
                   },
                   false,
                   "--record needs a file"});

  ParsedCommandLine parsed;
  if (std::string error = parseCommandLine(argc, argv, 1, table, parsed); !error.empty()) {
    return usageError(error);
  }
  if (parsed.help || parsed.version) {
    std::fputs(parsed.help ? kUsage : versionText().c_str(), stdout);
    return 0;
  }
  if (!parsed.operands.empty()) {
    if (parsed.operands.front() != "-") {
      return usageError("'" + parsed.operands.front() +
                        "': a source other than '-' is given with --follow FILE or --serial "
                        "DEVICE");
    }
    if (parsed.operands.size() > 1) {
      return usageError("only one source may be given");
    }
    options.haveSourceArgument = true;
  }
  if (haveFollow + haveSerial + options.haveSourceArgument > 1) {
    return usageError("give one source: '-', --follow FILE or --serial DEVICE");
  }
  if (options.csv && format != "csv") {
    return usageError("the csv options go with --format csv");
  }
  if (format == "csv") {
    options.csv = true;
    const CsvOptions& csv = options.csvOptions;
    std::vector<std::string> missing;
    if (csv.accColumns[0].empty()) {
      missing.emplace_back("--acc");
    }
    if (csv.gyroColumns[0].empty()) {
      missing.emplace_back("--gyro");
    }
    if (csv.accUnitText.empty()) {
      missing.emplace_back("--acc-unit");
    }
    if (csv.gyroUnitText.empty()) {
      missing.emplace_back("--gyro-unit");
    }
    if (!missing.empty()) {
      return usageError(missingOptionsMessage(missing, " for --format csv"));
    }
    if (csv.rate.has_value() == !csv.timeColumn.empty()) {
      return usageError("--format csv needs either --rate HZ or --time COLUMN");
    }
    StreamResampling resampling;
    if (std::string error = chooseStreamResampling(csv, resampling); !error.empty()) {
      return usageError(error);
    }
    options.resampling = resampling;
    if (!options.columns.empty()) {
      // The names are checked the way a header row would be.
      CsvStream check(csv, options.columns, resampling);
      if (!check.columnsError().empty()) {
        return usageError(check.columnsError());
      }
    }
  }
  if (haveBaud && !haveSerial) {
    return usageError("--baud goes with --serial");
  }
  options.source = haveFollow   ? SourceKind::Follow
                   : haveSerial ? SourceKind::Serial
                                : SourceKind::StandardInput;
  if (std::string error = VelmoraCheckSettings(options.settings); !error.empty()) {
    return usageError(error);
  }
  if (haveSerial) {
    if (std::string problem = serialPathProblem(options.path); !problem.empty()) {
      return usageError(problem);
    }
  }
  return -1;
}

int liveMain(int argc, char** argv) {
  Options options;
  if (const int status = parseOptions(argc, argv, options); status >= 0) {
    return status;
  }
  if (!LiveRun::catchSignals()) {
    return failure(std::string("cannot set up signal handling: ") + std::strerror(errno));
  }
  std::unique_ptr<StreamSource> source;
  switch (options.source) {
    case SourceKind::StandardInput:
      source = openStandardInput();
      break;
    case SourceKind::Follow:
      source = followFile(options.path);
      break;
    case SourceKind::Serial:
      source = openSerialDevice(options.path, *baudConstant(options.baud));
      break;
  }
  std::unique_ptr<SampleDecoder> decoder;
  if (options.csv) {
    decoder =
        std::make_unique<CsvLineDecoder>(options.csvOptions, options.columns, options.resampling);
  } else {
    decoder = std::make_unique<RecordingLineDecoder>();
  }
  LiveRun run(
      {options.settings, options.json, options.exec, options.statusSeconds, options.recordPath},
      {[](std::string_view text) { reportError(text); },
       [](std::string_view text) { return writeStandardOutput(text); },
       [] { return standardOutputBroken(); }});
  if (std::string error = run.openJournal(printable(source->name())); !error.empty()) {
    return usageError(error);
  }
  return run.run(std::move(source), std::move(decoder));
}

}  // namespace

int main(int argc, char** argv) { return runTool("velmora-live", argc, argv, liveMain); }
