// Drovik as a user runs it: exact standard output and exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::runProgram;
using testsupport::TempDir;

namespace {

const std::string kBanner = "Q5-Velmora-2.1.0\n\n";
const std::string kUsage = "Usage: Drovik <data_file> [<info_file>]\n\n";

// CP949 verdicts, as the program writes them.
std::string positionMessage(const std::string& path, int position) {
  return "'" + path + "'\xc0\xc7 '" + std::to_string(position) +
         "' \xc0\xa7\xc4\xa1\xbf\xa1\xbc\xad \xc3\xdf\xb6\xf4\xc0\xbb "
         "\xb0\xa8\xc1\xf6\xc7\xdf\xbd\xc0\xb4\xcf\xb4\xd9.\n\n";
}

std::string delayMessage(const std::string& path, int position, long long delay) {
  return "'" + path + "'\xc0\xc7 '" + std::to_string(position) +
         "' \xc0\xa7\xc4\xa1(\xc3\xdf\xb6\xf4\xb0\xa8\xc1\xf6\xbd\xc3\xb0\xa3 " +
         std::to_string(delay) +
         "ms)\xbf\xa1\xbc\xad \xc3\xdf\xb6\xf4\xc0\xbb \xb0\xa8\xc1\xf6\xc7\xdf\xbd\xc0"
         "\xb4\xcf\xb4\xd9.\n\n";
}

std::string noFallMessage(const std::string& path) {
  return "'" + path +
         "'\xbf\xa1\xbc\xad \xc3\xdf\xb6\xf4\xc0\xcc \xb0\xa8\xc1\xf6\xb5\xc7\xc1\xf6 "
         "\xbe\xca\xbd\xc0\xb4\xcf\xb4\xd9.\n\n";
}

// Free fall from the first sample: the detector first reports it at
// position 53 (after the 40-sample warm-up, once the low run is long
// enough) and keeps reporting on later samples.
constexpr int kFreeFallDetection = 53;
std::vector<std::vector<int>> freeFall(int samples) {
  return std::vector<std::vector<int>>(samples, std::vector<int>(6, 0));
}

// Standing still and upright: never a fall.
std::vector<std::vector<int>> standing(int samples) {
  return std::vector<std::vector<int>>(samples, std::vector<int>{0, -8192, 0, 0, 0, 0});
}

}  // namespace

TEST(Drovik, WrongArgumentCountPrintsBannerAndUsage) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"a", "b", "c"}}) {
    const auto result = runProgram("Drovik", args);
    EXPECT_EQ(result.out, kBanner + kUsage);
    EXPECT_EQ(result.exitCode, 1);
  }
}

TEST(Drovik, UnopenableRecordingsAreReportedWithStatusZero) {
  const TempDir dir;
  const auto missing = runProgram("Drovik", {"no-such-file.csv"}, dir.path());
  EXPECT_EQ(missing.out, kBanner + "Drovik : no-such-file.csv, not opened.\n\n");
  EXPECT_EQ(missing.exitCode, 0);
  const auto directory = runProgram("Drovik", {"."}, dir.path());
  EXPECT_EQ(directory.out, kBanner + "Drovik : ., not opened.\n\n");
  EXPECT_EQ(directory.exitCode, 0);
}

TEST(Drovik, ReportsOnlyTheFirstDetection) {
  const TempDir dir;
  dir.write("fall.csv", testsupport::recordingText(freeFall(120)));
  const auto result = runProgram("Drovik", {"fall.csv"}, dir.path());
  EXPECT_EQ(result.out, kBanner + positionMessage("fall.csv", kFreeFallDetection));
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
}

TEST(Drovik, InfoFileSelectsTheDelayMessage) {
  const TempDir dir;
  dir.write("fall.csv", testsupport::recordingText(freeFall(120)));
  dir.write("late.info", "fall," + std::to_string(kFreeFallDetection + 2) + ",1\n");
  EXPECT_EQ(runProgram("Drovik", {"fall.csv", "late.info"}, dir.path()).out,
            kBanner + delayMessage("fall.csv", kFreeFallDetection, -40));
  // A flag of 0 or below asks for the plain position.
  dir.write("off.info", "fall,10,0\n");
  EXPECT_EQ(runProgram("Drovik", {"fall.csv", "off.info"}, dir.path()).out,
            kBanner + positionMessage("fall.csv", kFreeFallDetection));
  // A huge annotated position no longer overflows the delay.
  dir.write("huge.info", "fall,-2147483648,1\n");
  EXPECT_EQ(runProgram("Drovik", {"fall.csv", "huge.info"}, dir.path()).out,
            kBanner + delayMessage("fall.csv", kFreeFallDetection,
                                   (kFreeFallDetection + 2147483648LL) * 20));
  // A missing info file gives the same output as none.
  EXPECT_EQ(runProgram("Drovik", {"fall.csv", "missing.info"}, dir.path()).out,
            runProgram("Drovik", {"fall.csv"}, dir.path()).out);
}

TEST(Drovik, NoFallMessageForQuietOrEmptyRecordings) {
  const TempDir dir;
  dir.write("still.csv", testsupport::recordingText(standing(300)));
  EXPECT_EQ(runProgram("Drovik", {"still.csv"}, dir.path()).out,
            kBanner + noFallMessage("still.csv"));
  // Seven lines or fewer: no sample reaches the detector.
  dir.write("header.csv", "1\n2\n3\n4\n5\n6\n7\n");
  EXPECT_EQ(runProgram("Drovik", {"header.csv"}, dir.path()).out,
            kBanner + noFallMessage("header.csv"));
  dir.write("empty.csv", "");
  EXPECT_EQ(runProgram("Drovik", {"empty.csv"}, dir.path()).out,
            kBanner + noFallMessage("empty.csv"));
}

TEST(Drovik, ShortLinesAreSkippedButStillCountAsPositions) {
  const TempDir dir;
  std::string text = testsupport::recordingText({});
  text += "\n\n0,1,2\n";  // three short lines first, at file lines 8 to 10
  for (int i = 0; i < 120; ++i) {
    text += std::to_string(i) + ",0,0,0,0,0,0\n";
  }
  dir.write("gaps.csv", text);
  const auto result = runProgram("Drovik", {"gaps.csv"}, dir.path());
  EXPECT_EQ(result.out, kBanner + positionMessage("gaps.csv", kFreeFallDetection + 3));
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(
      result.err,
      "Drovik: gaps.csv: 3 data lines with fewer than seven fields skipped (lines 8, 9, 10)\n");
}

TEST(Drovik, MalformedInputRunsToAVerdict) {
  const TempDir dir;
  std::string text = testsupport::recordingText({});
  text += std::string("0,1,\0,3\n", 8);
  text += "1,40000,99999999999999999999999,-8192,0,0,0\r\n";
  text += std::string(5000, ',') + "\n";
  text += "\xff\xfe binary \x01\x02\n";
  dir.write("nasty.csv", text);
  const auto result = runProgram("Drovik", {"nasty.csv"}, dir.path());
  EXPECT_EQ(result.out, kBanner + noFallMessage("nasty.csv"));
  EXPECT_EQ(result.exitCode, 0);
  // The long line of commas is five pieces, each short.
  EXPECT_EQ(result.err,
            "Drovik: nasty.csv: 7 data lines with fewer than seven fields skipped "
            "(lines 8, 10, 11, 12, 13, ...)\n");

  dir.write("few-headers.csv", "only\ntwo header lines\n0,0,0,0,0,0,0\n");
  EXPECT_EQ(runProgram("Drovik", {"few-headers.csv"}, dir.path()).out,
            kBanner + noFallMessage("few-headers.csv"));
}
