// velmora-trace as a user runs it: options, errors and exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "TestSupport.h"
#include "Velmora.h"
#include "VelmoraObservation.h"

using testsupport::runProgram;
using testsupport::TempDir;

namespace {

std::string freeFallRecording() {
  return testsupport::recordingText(std::vector<std::vector<int>>(60, std::vector<int>(6, 0)));
}

int countLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// The free fall with a blank data line after its 30th sample: Drovik counts
// the blank line as a position, the detector never sees it.
std::string freeFallWithBlankLine() {
  std::string text = freeFallRecording();
  std::size_t at = 0;
  for (int line = 0; line < 7 + 30; ++line) {
    at = text.find('\n', at) + 1;
  }
  return text.insert(at, "\n");
}

std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream stream(line);
  for (std::string field; std::getline(stream, field, ',');) {
    fields.push_back(field);
  }
  return fields;
}

// "<sample index>:<code> " for every line of a text trace that reports a code.
std::string tracedCodes(const std::string& trace) {
  std::istringstream lines(trace);
  std::string codes;
  for (std::string line; std::getline(lines, line);) {
    if (const auto arrow = line.find(" -> ("); arrow != std::string::npos) {
      codes += std::to_string(std::stoi(line)) + ":" +
               line.substr(arrow + 5, line.size() - arrow - 6) + " ";
    }
  }
  return codes;
}

}  // namespace

TEST(TraceTool, PrintsOneLinePerSampleAndNothingElse) {
  const TempDir dir;
  dir.write("fall.csv", freeFallRecording());
  const auto result = runProgram("velmora-trace", {"fall.csv"}, dir.path());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(countLines(result.out), 60);
  EXPECT_EQ(result.out.rfind("0000: AG <", 0), 0U);
  EXPECT_NE(result.out.find("0053: "), std::string::npos);
  EXPECT_NE(result.out.find(" -> (1)\n"), std::string::npos);
}

TEST(TraceTool, SetOverridesASettingByName) {
  const TempDir dir;
  dir.write("fall.csv", freeFallRecording());
  const auto defaults = runProgram("velmora-trace", {"fall.csv"}, dir.path());
  // A longer mean window needs a longer low run before code 1.
  const auto longer =
      runProgram("velmora-trace", {"--set", "avgWindow=20", "fall.csv"}, dir.path());
  EXPECT_EQ(longer.exitCode, 0);
  EXPECT_NE(defaults.out, longer.out);
  // Unused settings change nothing.
  const auto spare = runProgram(
      "velmora-trace", {"--set=spare7=-5", "--set", "spare34=99999", "fall.csv"}, dir.path());
  EXPECT_EQ(spare.out, defaults.out);
}

TEST(TraceTool, BadOptionsAreUsageErrors) {
  const TempDir dir;
  dir.write("fall.csv", freeFallRecording());
  dir.write("s.settings", "lowLevel=60\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--set", "noSuchSetting=1", "fall.csv"},
        std::vector<std::string>{"--set", "lowLevel=1.5", "fall.csv"},
        std::vector<std::string>{"--set", "lowLevel=99999999999", "fall.csv"},
        std::vector<std::string>{"--set", "avgWindow=64", "fall.csv"},
        std::vector<std::string>{"--set"}, std::vector<std::string>{},
        std::vector<std::string>{"--frobnicate", "fall.csv"},
        std::vector<std::string>{"fall.csv", "second.csv"},
        std::vector<std::string>{"fall.csv", "--csv"},
        std::vector<std::string>{"--csv", "", "fall.csv"},
        std::vector<std::string>{"--csv", "fall.csv", "fall.csv"},
        std::vector<std::string>{"--csv", "a.csv", "--csv", "b.csv", "fall.csv"},
        std::vector<std::string>{"--settings", "s.settings", "--csv", "s.settings", "fall.csv"},
        std::vector<std::string>{"--settings", "missing.settings", "fall.csv"},
        std::vector<std::string>{"fall.csv", "--settings"}}) {
    const auto result = runProgram("velmora-trace", args, dir.path());
    EXPECT_EQ(result.exitCode, 2) << args.size();
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("velmora-trace: "), std::string::npos);
  }
}

TEST(TraceTool, HelpAndUnreadableFiles) {
  const auto help = runProgram("velmora-trace", {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: velmora-trace", 0), 0U);
  const TempDir dir;
  const auto missing = runProgram("velmora-trace", {"missing.csv"}, dir.path());
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("missing.csv"), std::string::npos);
  // A folder is no recording: refused like a FIFO, before any work.
  const auto folder = runProgram("velmora-trace", {"."}, dir.path());
  EXPECT_EQ(folder.exitCode, 2);
  EXPECT_NE(folder.err.find("recording '.' is a folder"), std::string::npos) << folder.err;
}

TEST(TraceTool, CsvRowsCarryDrovikPositionsAndEveryObservedValue) {
  const TempDir dir;
  dir.write("fall.csv", freeFallWithBlankLine());
  const auto text = runProgram("velmora-trace", {"fall.csv"}, dir.path());
  const auto toFile = runProgram("velmora-trace", {"--csv", "trace.csv", "fall.csv"}, dir.path());
  ASSERT_EQ(toFile.exitCode, 0) << toFile.err;
  EXPECT_EQ(toFile.out, "");
  const std::string table = testsupport::readFile(dir.path() / "trace.csv");
  EXPECT_EQ(runProgram("velmora-trace", {"--csv", "-", "fall.csv"}, dir.path()).out, table);

  std::istringstream lines(table);
  std::string header;
  std::getline(lines, header);
  const std::vector<std::string> columns = splitFields(header);
  ASSERT_EQ(columns.size(), 1 + VelmoraObservationFields().size());
  EXPECT_EQ(columns[0], "position");
  const auto column = [&](const std::string& name) {
    return static_cast<std::size_t>(std::find(columns.begin(), columns.end(), name) -
                                    columns.begin());
  };
  int samples = 0;
  std::string codes;
  for (std::string line; std::getline(lines, line); ++samples) {
    const std::vector<std::string> values = splitFields(line);
    ASSERT_EQ(values.size(), columns.size()) << line;
    EXPECT_EQ(values[column("sampleIndex")], std::to_string(samples));
    EXPECT_EQ(values[0], std::to_string(samples < 30 ? samples : samples + 1));
    EXPECT_TRUE(values[column("postureFlag")] == "O" || values[column("postureFlag")] == "X");
    if (values[column("code")] != "0") {
      codes += std::to_string(samples) + ":" + values[column("code")] + " ";
    }
  }
  EXPECT_EQ(samples, 60);
  EXPECT_NE(codes, "");
  EXPECT_EQ(codes, tracedCodes(text.out));
  // The closing notice tells where the trace numbers part from positions.
  EXPECT_NE(text.err.find("+ 1 from trace line 0030"), std::string::npos) << text.err;
}

TEST(TraceTool, ReadsStandardInputSettingsFilesAndNamesAfterDoubleDash) {
  const TempDir dir;
  dir.write("fall.csv", freeFallRecording());
  dir.write("-x.csv", freeFallRecording());
  dir.write("longer.settings", "# a longer mean window\navgWindow=20\n");
  const auto plain = runProgram("velmora-trace", {"fall.csv"}, dir.path());
  const std::string command = "cd '" + dir.path().string() +
                              "' && '" VELMORA_BIN_DIR "/velmora-trace' - <fall.csv >stdin.out";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(testsupport::readFile(dir.path() / "stdin.out"), plain.out);
  EXPECT_EQ(runProgram("velmora-trace", {"--", "-x.csv"}, dir.path()).out, plain.out);
  EXPECT_EQ(
      runProgram("velmora-trace", {"--settings", "longer.settings", "fall.csv"}, dir.path()).out,
      runProgram("velmora-trace", {"--set", "avgWindow=20", "fall.csv"}, dir.path()).out);
  const auto version = runProgram("velmora-trace", {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("velmora-trace ", 0), 0U);
  EXPECT_NE(version.out.find(VelmoraGetVersion()), std::string::npos);
}
