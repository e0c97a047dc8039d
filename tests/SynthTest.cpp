// velmora-synth and the bundled example recordings it made.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::readFile;
using testsupport::runProgram;
using testsupport::TempDir;

namespace {

const std::filesystem::path kExamples = VELMORA_SOURCE_DIR "/examples/recordings";

// Verdict fragments of Drovik (CP949): "...에서 추락을 감지했습니다." and
// "...에서 추락이 감지되지 않습니다.".
const std::string kDetected = "\xc3\xdf\xb6\xf4\xc0\xbb \xb0\xa8\xc1\xf6\xc7\xdf";
const std::string kNotDetected = "\xc3\xdf\xb6\xf4\xc0\xcc \xb0\xa8\xc1\xf6\xb5\xc7\xc1\xf6";
// "(추락감지시간 " precedes the delay in milliseconds.
const std::string kDelayLead = "(\xc3\xdf\xb6\xf4\xb0\xa8\xc1\xf6\xbd\xc3\xb0\xa3 ";

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

std::vector<long> parseFields(const std::string& line) {
  std::vector<long> fields;
  std::size_t start = 0;
  while (start <= line.size()) {
    const std::size_t comma = std::min(line.find(',', start), line.size());
    fields.push_back(std::stol(line.substr(start, comma - start)));
    start = comma + 1;
  }
  return fields;
}

std::string synthesize(const TempDir& dir, const std::vector<std::string>& args,
                       const std::string& name) {
  std::vector<std::string> all = args;
  all.push_back((dir.path() / name).string());
  const auto result = runProgram("velmora-synth", all);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  return readFile(dir.path() / name);
}

TEST(SynthOutput, SameSeedGivesSameBytesAndOtherSeedDiffers) {
  const TempDir dir;
  const std::string first = synthesize(dir, {"--seed", "7", "fall-backward"}, "a.csv");
  const std::string second = synthesize(dir, {"--seed", "7", "fall-backward"}, "b.csv");
  const std::string other = synthesize(dir, {"--seed", "8", "fall-backward"}, "c.csv");
  ASSERT_FALSE(first.empty());
  // The header names the seed; the samples must match too.
  EXPECT_EQ(first, second);
  EXPECT_NE(first.substr(first.find("index,")), other.substr(other.find("index,")));
}

TEST(SynthOutput, CommittedExamplesMatchTheGeneratorScript) {
  // The arguments of examples/generate.sh: a changed generator must come
  // with regenerated examples.
  const TempDir dir;
  EXPECT_EQ(synthesize(dir, {"--seed", "1", "--walk", "6", "--rest", "6", "fall-forward"},
                       "fall_forward.csv"),
            readFile(kExamples / "fall_forward.csv"));
  EXPECT_EQ(readFile(dir.path() / "fall_forward.info"), readFile(kExamples / "fall_forward.info"));
  EXPECT_EQ(
      synthesize(dir, {"--seed", "1", "--walk", "12", "--rest", "3", "walking"}, "walking.csv"),
      readFile(kExamples / "walking.csv"));
}

TEST(SynthOutput, RecordingHasHeaderAndWellFormedSamples) {
  const TempDir dir;
  const auto lines =
      splitLines(synthesize(dir, {"--walk", "2", "--rest", "1", "fall-sideways"}, "side.csv"));
  ASSERT_GT(lines.size(), 7U);
  EXPECT_EQ(lines[6], "index,ax,ay,az,gx,gy,gz");
  // 2 s standing + 2 s walking + the fall (under 1 s) + 1 s lying.
  const std::size_t samples = lines.size() - 7;
  EXPECT_GE(samples, 250U);
  EXPECT_LE(samples, 300U);
  for (std::size_t i = 7; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::vector<long> fields = parseFields(line);
    ASSERT_EQ(fields.size(), 7U) << line;
    ASSERT_EQ(fields[0], static_cast<long>(i - 7));
    for (std::size_t f = 1; f < 7; ++f) {
      ASSERT_GE(fields[f], -32768) << line;
      ASSERT_LE(fields[f], 32767) << line;
    }
  }
  // Standing at the start: y near -1 g, the other axes near 0.
  const std::vector<long> standing = parseFields(lines[7 + 50]);
  EXPECT_NEAR(standing[1], 0, 800);
  EXPECT_NEAR(standing[2], -8192, 800);
  EXPECT_NEAR(standing[3], 0, 800);
  // The info file points inside the recording.
  const std::string info = readFile(dir.path() / "side.info");
  ASSERT_EQ(info.rfind("side,", 0), 0U) << info;
  const long impact = std::stol(info.substr(5));
  EXPECT_GT(impact, 150);
  EXPECT_LT(impact, static_cast<long>(samples));
  EXPECT_EQ(info.substr(info.find(',', 5)), ",1\n");
}

TEST(SynthCommandLine, HelpAndErrors) {
  const auto help = runProgram("velmora-synth", {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: velmora-synth"), std::string::npos);
  EXPECT_NE(help.out.find("Example:"), std::string::npos);

  const TempDir dir;
  const std::string out = (dir.path() / "x.csv").string();
  for (const auto& args : std::vector<std::vector<std::string>>{{"no-such-activity", out},
                                                                {"--seed", "-3", "walking", out},
                                                                {"--walk", "0.5", "walking", out},
                                                                {"--rest", "abc", "walking", out},
                                                                {"walking"},
                                                                {"--bogus", "walking", out}}) {
    const auto result = runProgram("velmora-synth", args);
    EXPECT_EQ(result.exitCode, 2) << args[0];
    EXPECT_NE(result.err.find("velmora-synth: "), std::string::npos) << args[0];
  }
  const auto unwritable =
      runProgram("velmora-synth", {"walking", (dir.path() / "missing" / "x.csv").string()});
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// The README's first commands: Drovik on the bundled examples.
TEST(BundledExamples, DrovikDetectsTheFallsNearTheirImpact) {
  for (const std::string name : {"fall_forward", "fall_backward"}) {
    const auto result = runProgram("Drovik", {name + ".csv", name + ".info"}, kExamples);
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_NE(result.out.find(kDetected), std::string::npos) << name;
    const std::size_t lead = result.out.find(kDelayLead);
    ASSERT_NE(lead, std::string::npos) << name;
    const long delayMs = std::stol(result.out.substr(lead + kDelayLead.size()));
    EXPECT_GE(delayMs, -500) << name;
    EXPECT_LE(delayMs, 500) << name;
  }
}

TEST(BundledExamples, DrovikDetectsNoFallInDailyLiving) {
  for (const std::string name : {"walking", "sit_down"}) {
    const auto result = runProgram("Drovik", {name + ".csv"}, kExamples);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find(kNotDetected), std::string::npos) << name;
    EXPECT_EQ(result.out.find(kDetected), std::string::npos) << name;
  }
}

// The examples show the detector's failures too: a slow fall without free
// fall that it misses, and a jump down that raises an alarm.
TEST(BundledExamples, SlowFallIsMissedAndJumpDownRaisesAnAlarm) {
  const auto slow = runProgram("Drovik", {"fall_slow.csv", "fall_slow.info"}, kExamples);
  EXPECT_NE(slow.out.find(kNotDetected), std::string::npos) << slow.out;
  const auto jump = runProgram("Drovik", {"jump_down.csv"}, kExamples);
  EXPECT_NE(jump.out.find(kDetected), std::string::npos) << jump.out;
}

TEST(BundledExamples, FolderStaysSmall) {
  std::uintmax_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kExamples)) {
    total += entry.file_size();
  }
  EXPECT_LT(total, 1024U * 1024U);
}

}  // namespace
