// velmora-trace as a user runs it: options, errors and exit statuses.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"

using testsupport::runProgram;
using testsupport::TempDir;

namespace {

std::string freeFallRecording() {
  return testsupport::recordingText(std::vector<std::vector<int>>(60, std::vector<int>(6, 0)));
}

int countLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
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
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--set", "noSuchSetting=1", "fall.csv"},
        std::vector<std::string>{"--set", "lowLevel=1.5", "fall.csv"},
        std::vector<std::string>{"--set", "lowLevel=99999999999", "fall.csv"},
        std::vector<std::string>{"--set", "avgWindow=64", "fall.csv"},
        std::vector<std::string>{"--set"}, std::vector<std::string>{},
        std::vector<std::string>{"--frobnicate", "fall.csv"},
        std::vector<std::string>{"fall.csv", "second.csv"}}) {
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
  EXPECT_EQ(runProgram("velmora-trace", {"."}, dir.path()).exitCode, 1);
}
