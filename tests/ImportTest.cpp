// velmora-import as a user runs it: conversion arithmetic, info files,
// error reports, and the shared SisFall files against their converted twins.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::TempDir;

namespace {

// One raw SisFall line: nine integers with the dataset's padding, ';', CR LF.
std::string rawLine(const std::vector<int>& first6) {
  std::string line;
  for (const int value : first6) {
    line += " " + std::to_string(value) + ",";
  }
  return line + " 1, 2, 3;\r\n";
}

std::string repeatLine(const std::vector<int>& first6, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) {
    text += rawLine(first6);
  }
  return text;
}

// Everything after the seven header lines.
std::string sampleLines(const std::string& recording) {
  std::size_t pos = 0;
  for (int i = 0; i < 7 && pos != std::string::npos; ++i) {
    pos = recording.find('\n', pos);
    pos = pos == std::string::npos ? pos : pos + 1;
  }
  return pos == std::string::npos ? std::string{} : recording.substr(pos);
}

std::vector<std::string> filesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ImportConversion, MeansOfFourAreScaledRoundedAndClamped) {
  const TempDir dir;
  std::string text;
  // Group 0: acc means 1, -1, 0.25 raw counts -> 32, -32, 8; gyro means
  // 2.5, -2.5, 1 -> 10, -10, 4.
  text += rawLine({1, -1, 0, 2, -2, 1}) + rawLine({1, -1, 0, 3, -3, 1}) +
          rawLine({1, -1, 1, 2, -2, 1}) + rawLine({1, -1, 0, 3, -3, 1});
  // Group 1: 1100 counts (4.3 g) and -9000 (beyond 500 deg/s) clamp.
  text += repeatLine({1100, -1100, 0, 9000, -9000, 0}, 4);
  // Group 2: larger before clamping than group 1, so it is the impact.
  text += repeatLine({1100, -1100, 300, 0, 0, 0}, 4);
  // Two trailing raw samples: not a whole group, dropped.
  text += repeatLine({5000, 5000, 5000, 0, 0, 0}, 2);
  dir.write("F03_SA02_R04.txt", text);
  const fs::path out = dir.path() / "out";
  const auto result = runProgram("velmora-import", {"sisfall", "-o", out.string(),
                                                    (dir.path() / "F03_SA02_R04.txt").string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::string recording = readFile(out / "F03_SA02_R04.csv");
  EXPECT_EQ(sampleLines(recording),
            "0,32,-32,8,10,-10,4\n"
            "1,32767,-32768,0,32767,-32768,0\n"
            "2,32767,-32768,9600,0,0,0\n");
  EXPECT_NE(recording.find("index,ax,ay,az,gx,gy,gz\n"), std::string::npos);
  EXPECT_NE(recording.find("trailing 2 dropped"), std::string::npos);
  EXPECT_EQ(readFile(out / "F03_SA02_R04.info"), "F03_SA02_R04,2,1\n");
}

TEST(ImportConversion, ImpactIsTheFirstOfEqualPeaksAndDailyLivingHasNoInfo) {
  const TempDir dir;
  const std::string quiet = repeatLine({0, -256, 0, 0, 0, 0}, 4);
  const std::string peak = repeatLine({0, 0, 600, 0, 0, 0}, 4);
  dir.write("F10_SA07_R03.txt", quiet + peak + quiet + peak + quiet);
  dir.write("D01_SA01_R01.txt", quiet + peak + quiet);
  const fs::path out = dir.path() / "out";
  const auto result = runProgram(
      "velmora-import", {"sisfall", "-o", out.string(), (dir.path() / "F10_SA07_R03.txt").string(),
                         (dir.path() / "D01_SA01_R01.txt").string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(readFile(out / "F10_SA07_R03.info"), "F10_SA07_R03,1,1\n");
  EXPECT_EQ(filesIn(out), (std::vector<std::string>{"D01_SA01_R01.csv", "F10_SA07_R03.csv",
                                                    "F10_SA07_R03.info", "index.tsv"}));
  // The recording replays: Drovik reads it without complaint.
  const auto drovik = runProgram("Drovik", {(out / "D01_SA01_R01.csv").string()});
  EXPECT_EQ(drovik.exitCode, 0);
  EXPECT_EQ(drovik.err, "");
}

// Each malformed file is reported with its line and what was expected, and
// leaves nothing in the output folder.
TEST(ImportErrors, MalformedInputNamesTheLineAndLeavesNoOutput) {
  const std::string good = repeatLine({0, -256, 0, 0, 0, 0}, 4);
  struct Case {
    std::string content;
    std::string message;
  };
  const std::vector<Case> cases = {
      {good + " 1, 2, 3, 4, 5, 6, 7, 8, 9\r\n", "line 5: expected ';' after column 9"},
      {good + " 1, 2, 3, 4, 5, 6, 7, 8;\r\n", "line 5: expected ',' after column 8"},
      {" 1, 2, 3, x, 5, 6, 7, 8, 9;\r\n" + good, "line 1: column 4: expected an integer"},
      {good + "\r\n 1, 2, 3, 4, 5, 6, 7, 8, 9; 10\n", "line 6: unexpected text after ';'"},
      {good + " 1, 99999999999, 3, 4, 5, 6, 7, 8, 9;\n", "line 5: column 2: expected a sensor"},
      {rawLine({1, 2, 3, 4, 5, 6}), "expected at least 4 samples"},
      {"", "expected at least 4 samples"},
  };
  for (const Case& c : cases) {
    const TempDir dir;
    dir.write("F01_SA01_R01.txt", c.content);
    const fs::path out = dir.path() / "out";
    const auto result = runProgram("velmora-import", {"sisfall", "-o", out.string(),
                                                      (dir.path() / "F01_SA01_R01.txt").string()});
    EXPECT_EQ(result.exitCode, 1) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("F01_SA01_R01.txt"), std::string::npos) << result.err;
    EXPECT_TRUE(filesIn(out).empty()) << c.message;
  }
}

TEST(ImportErrors, FailedFileDoesNotStopTheOthers) {
  const TempDir dir;
  dir.write("D05_SA01_R01.txt", repeatLine({0, -256, 0, 0, 0, 0}, 8));
  dir.write("F05_SA01_R01.txt", "garbage\n");
  dir.write("README.md", "not a recording\n");
  dir.write("Readme.txt", "not a recording either\n");
  const TempDir outDir;
  const fs::path out = outDir.path() / "out";
  const auto result =
      runProgram("velmora-import", {"sisfall", "-o", out.string(), dir.path().string()});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("F05_SA01_R01.txt: line 1: column 1: expected an integer"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("1 of 2 files failed"), std::string::npos) << result.err;
  EXPECT_EQ(filesIn(out), (std::vector<std::string>{"D05_SA01_R01.csv", "index.tsv"}));
}

TEST(ImportErrors, CommandLineMistakes) {
  const auto help = runProgram("velmora-import", {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: velmora-import sisfall"), std::string::npos);
  EXPECT_NE(help.out.find("Example:"), std::string::npos);

  const TempDir dir;
  dir.write("walk.txt", repeatLine({0, -256, 0, 0, 0, 0}, 4));
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string message;
  } cases[] = {
      {{}, 2, "no command given"},
      {{"mobifall", "x"}, 2, "unknown command 'mobifall'"},
      {{"sisfall"}, 2, "no input file or folder given"},
      {{"sisfall", "-o"}, 2, "-o needs a folder"},
      {{"sisfall", "--fast", "x"}, 2, "unknown option '--fast' for sisfall"},
      {{"sisfall", (dir.path() / "walk.txt").string()}, 1, "<ACTIVITY>_<SUBJECT>_<TRIAL>.txt"},
      {{"sisfall", (dir.path() / "F01_SA01_R09.txt").string()}, 1, "cannot open"},
      {{"sisfall", dir.path().string(), "-o", (dir.path() / "o").string()}, 1, "no SisFall files"},
  };
  for (const auto& c : cases) {
    const auto result = runProgram("velmora-import", c.args, dir.path());
    EXPECT_EQ(result.exitCode, c.exitCode) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
}

// The shared raw files must reproduce the shared converted recordings:
// identical sample lines and info files (the headers are worded by each).
TEST(ImportSharedData, RawFilesReproduceTheConvertedRecordings) {
  const fs::path shared = testsupport::sharedDir();
  if (shared.empty()) {
    GTEST_SKIP() << "the shared data folder (" VELMORA_SHARED_DIR ") is absent";
  }
  const fs::path raw = shared / "data" / "sisfall-raw";
  const fs::path converted = shared / "data" / "recordings";
  if (!fs::is_directory(raw) || !fs::is_directory(converted)) {
    GTEST_SKIP() << "no sisfall-raw/ or recordings/ folder under " << shared / "data";
  }
  const TempDir dir;
  const auto result =
      runProgram("velmora-import", {"sisfall", "-o", dir.path().string(), raw.string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(raw)) {
    if (entry.path().extension() != ".txt") {
      continue;
    }
    const std::string stem = entry.path().stem().string();
    const fs::path twin = converted / (stem + ".csv");
    if (!fs::exists(twin)) {
      continue;
    }
    const std::string ours = readFile(dir.path() / (stem + ".csv"));
    EXPECT_EQ(sampleLines(ours), sampleLines(readFile(twin))) << stem;
    const fs::path twinInfo = converted / (stem + ".info");
    if (fs::exists(twinInfo)) {
      EXPECT_EQ(readFile(dir.path() / (stem + ".info")), readFile(twinInfo)) << stem;
    } else {
      EXPECT_FALSE(fs::exists(dir.path() / (stem + ".info"))) << stem;
    }
    ++compared;
  }
  EXPECT_GT(compared, 0) << "no raw file in " << raw << " has a converted twin";
}

}  // namespace
