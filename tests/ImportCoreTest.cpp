// The importers' numeric and text cores, called directly: resampling rules,
// axis mappings, units, bounded line reading, index rows, recording names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "CsvImport.h"
#include "ImportIndex.h"
#include "ImportSignal.h"
#include "ImportText.h"
#include "RecordingCheck.h"
#include "RecordingWriter.h"

namespace {

namespace sig = importsignal;

TEST(ImportSignal, EqualTimeStampsBecomeTheirMeanInFileOrder) {
  std::vector<sig::Timed<3>> stream = {
      {20, {1, 0, 0}}, {0, {5, 0, 0}}, {20, {2, 0, 0}}, {10, {7, 0, 0}}, {20, {6, 0, 0}}};
  sig::sortAndMerge(stream);
  ASSERT_EQ(stream.size(), 3U);
  EXPECT_EQ(stream[0].time, 0);
  EXPECT_EQ(stream[1].values[0], 7);
  EXPECT_EQ(stream[2].time, 20);
  EXPECT_EQ(stream[2].values[0], 3.0);  // (1 + 2 + 6) / 3
}

TEST(ImportSignal, LinearInterpolationFollowsTheGridRule) {
  // Stamps at 0, 30, 30.5, 100 ms; grid 10, 30, 50, 70, 90, 110.
  const std::vector<sig::Timed<1>> stream = {{0, {0}}, {30, {300}}, {30.5, {1000}}, {100, {0}}};
  const auto values = sig::interpolateOnGrid(stream, 10.0, 6);
  ASSERT_EQ(values.size(), 6U);
  const double expected[] = {100,
                             300,
                             1000 - (1000.0 * 19.5 / 69.5),
                             1000 - (1000.0 * 39.5 / 69.5),
                             1000 - (1000.0 * 59.5 / 69.5),
                             0};
  for (std::size_t k = 0; k < 6; ++k) {
    EXPECT_NEAR(values[k][0], expected[k], 1e-9) << k;
  }
  // Before the first stamp the first value holds; one sample holds throughout.
  EXPECT_EQ(sig::interpolateOnGrid(stream, -50.0, 1)[0][0], 0);
  const std::vector<sig::Timed<1>> single = {{5, {42}}};
  EXPECT_EQ(sig::interpolateOnGrid(single, 0.0, 3)[2][0], 42);
  EXPECT_EQ(sig::gridLength(111, 14951), 743U);
  EXPECT_EQ(sig::gridLength(0, 19.9), 1U);
}

TEST(ImportSignal, CountsRoundHalfUpClampAndFindTheFirstLargestImpact) {
  const std::vector<sig::Values> values = {
      {0.5, -0.5, -1.5, 0, 0, 0}, {5, 0, 0, 0, 0, -600}, {0, 0, -5, 0, 0, 0}, {1, 0, 0, 0, 0, 0}};
  const auto counted = sig::toCounts(values, 1.0, sig::kVelmoraCountsPerDps);
  EXPECT_TRUE(sameSample(counted.samples[0], SampleRecord{1, 0, -1, 0, 0, 0}));
  const auto loud = sig::toCounts(values, 8192.0, sig::kVelmoraCountsPerDps);
  EXPECT_TRUE(sameSample(loud.samples[1], SampleRecord{32767, 0, 0, 0, 0, -32768}));
  EXPECT_EQ(loud.clampedAccSamples, 2);
  EXPECT_EQ(loud.clampedGyroSamples, 1);
  EXPECT_EQ(loud.impactSample, 1);  // 5 g twice: the first
  EXPECT_EQ(sig::meanOfGroups(values, 3).size(), 1U);
  EXPECT_DOUBLE_EQ(sig::meanOfGroups(values, 3)[0][0], 5.5 / 3);
}

TEST(ImportSignal, SincConversionKeepsTimeAndLevelsAtBothEnds) {
  if (!sig::sincAvailable()) {
    GTEST_SKIP() << "built without libsamplerate (libsamplerate0-dev)";
  }
  // 120 samples/s: gravity on y and a 2 Hz swing on x, well inside the band.
  std::vector<sig::Values> in;
  for (int i = 0; i < 1200; ++i) {
    const double t = i / 120.0;
    in.push_back({0.5 * std::sin(2 * std::numbers::pi * 2 * t), -1.0, 0, 0, 0, 0});
  }
  std::vector<sig::Values> out;
  ASSERT_EQ(sig::resampleSinc(in, 120.0, out), "");
  ASSERT_EQ(out.size(), 500U);
  double worst = 0.0;
  for (std::size_t k = 0; k < out.size(); ++k) {
    worst = std::max(worst, std::fabs(out[k][1] + 1.0));
    if (k > 25 && k + 25 < out.size()) {
      worst = std::max(
          worst, std::fabs(out[k][0] - 0.5 * std::sin(2 * std::numbers::pi * 2 * (k / 50.0))));
    }
  }
  EXPECT_LT(worst, 0.002);  // in g: under 17 counts
}

TEST(ImportAxes, MappingsParseAndMirrorsAreTold) {
  struct Case {
    const char* text;
    const char* error;  // part of the message, or "" for a good mapping
    int determinant;
  };
  const Case cases[] = {
      {"x=+x,y=+y,z=+z", "", 1},
      {"x=+y,y=-x,z=+z", "", 1},   // UMAFall's accelerometer
      {"x=y,y=x,z=-z", "", 1},     // its gyroscope
      {"x=+y,y=+x,z=+z", "", -1},  // a swap alone mirrors
      {"z=-z,x=x,y=y", "", -1},
      {"x=+y,y=+y,z=+z", "source axis y is used twice", 0},
      {"x=+x,x=+y,z=+z", "axis x is given twice", 0},
      {"x=+x,y=+y", "all three", 0},
      {"x=+w,y=+y,z=+z", "must be one of", 0},
      {"up=+x", "expected x=SRC", 0},
  };
  for (const Case& c : cases) {
    AxisMap map;
    const std::string error = parseAxisMap(c.text, map);
    if (*c.error == '\0') {
      EXPECT_EQ(error, "") << c.text;
      EXPECT_EQ(determinant(map), c.determinant) << c.text;
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
    }
  }
}

TEST(ImportUnits, FactorsToCounts) {
  EXPECT_DOUBLE_EQ(*accUnitFactor("g"), 8192.0);
  EXPECT_DOUBLE_EQ(*accUnitFactor("mps2") * 9.80665, 8192.0);
  EXPECT_DOUBLE_EQ(*accUnitFactor("counts:256"), 32.0);
  EXPECT_DOUBLE_EQ(*gyroUnitFactor("counts:16.384"), 4.0);
  EXPECT_NEAR(*gyroUnitFactor("rads"), 65.536 * 57.29577951308232, 1e-9);
  for (const char* bad : {"", "G", "counts:", "counts:0", "counts:-3", "counts:x", "m/s2"}) {
    EXPECT_FALSE(accUnitFactor(bad)) << bad;
    EXPECT_FALSE(gyroUnitFactor(bad)) << bad;
  }
}

TEST(ImportText, FieldsNumbersAndNames) {
  std::vector<std::string> fields;
  ASSERT_TRUE(splitFields(R"( a ;"b;c" ; "say ""hi""";;)", ';', fields));
  EXPECT_EQ(fields, (std::vector<std::string>{"a", "b;c", "say \"hi\"", "", ""}));
  EXPECT_FALSE(splitFields("\"open", ',', fields));
  EXPECT_EQ(parseNumber(" -1.5e2 "), -150.0);
  for (const char* bad : {"", "nan", "inf", "0x10", "1,5", "2 3", "1e999"}) {
    EXPECT_FALSE(parseNumber(bad)) << bad;
  }
  EXPECT_EQ(checkRecordingName("F01_SA01_R01"), "");
  for (const char* bad : {"a,b", "\"q", "line\nbreak", "tab\there", ""}) {
    EXPECT_NE(checkRecordingName(bad), "") << bad;
  }
  EXPECT_LT(headerLine(std::string(5000, 'x')).size(), 1000U);
  EXPECT_EQ(headerLine("a\x1b[2J\xff"), "a\\x1B[2J\\xFF");
  EXPECT_EQ(excerpt("abcdef", 3), "abc...");
}

TEST(ImportText, LineReaderStopsALineWithoutEndAfterItsLimit) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const std::string text = "one\r\ntwo\n" + std::string(LineReader::kMaxLineBytes + 10, 'z');
  // The pipe holds 64 KiB: write from a child so the reader can drain it.
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    const ssize_t ignored = ::write(pipeEnds[1], text.data(), text.size());
    static_cast<void>(ignored);
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  LineReader reader(pipeEnds[0]);
  std::string_view line;
  EXPECT_EQ(reader.next(line), LineReader::Result::Line);
  EXPECT_EQ(line, "one");
  EXPECT_EQ(reader.next(line), LineReader::Result::Line);
  EXPECT_EQ(line, "two");
  EXPECT_EQ(reader.next(line), LineReader::Result::TooLong);
  EXPECT_NE(describeReadFailure(LineReader::Result::TooLong, reader).find("line 3: longer than"),
            std::string::npos);
  ::close(pipeEnds[0]);
}

TEST(ImportIndex, RowsReplaceTheirFileAndOthersAreAppended) {
  const std::string existing = std::string(kIndexHeader) +
                               "\na.csv\tX\tF1\tfall\tS1\t1\t10\t4\n"
                               "b.csv\tX\tD1\tadl\tS1\t1\t20\t\n";
  IndexRow b{"b.csv", "Y", "D2", "adl", "", "", 30, std::nullopt};
  IndexRow c{"c.csv", "Y", "", "fall", "", "", 40, 7};
  EXPECT_EQ(extendIndex(existing, {c, b}), std::string(kIndexHeader) +
                                               "\na.csv\tX\tF1\tfall\tS1\t1\t10\t4\n"
                                               "b.csv\tY\tD2\tadl\t\t\t30\t\n"
                                               "c.csv\tY\t\tfall\t\t\t40\t7\n");
  EXPECT_EQ(checkIndex(""), "");
  EXPECT_NE(checkIndex("name\tsamples\n"), "");
}

// Counts of a recording standing upright, then the same with x and y swapped.
std::vector<SampleRecord> standing(bool swapped) {
  std::vector<SampleRecord> samples;
  for (int i = 0; i < 200; ++i) {
    const auto wobble = static_cast<int16_t>(i % 7 * 40);
    const int16_t x = wobble;
    const int16_t y = -8192;
    samples.push_back({swapped ? y : x, swapped ? x : y, 200, 3, -2, 1});
  }
  return samples;
}

TEST(ImportCheck, UprightLooksRightAndSwappedAxesWarn) {
  const RecordingCheck good = checkRecording(standing(false));
  EXPECT_TRUE(good.warnings.empty());
  const RecordingCheck swapped = checkRecording(standing(true));
  ASSERT_EQ(swapped.warnings.size(), 1U);
  EXPECT_NE(swapped.warnings[0].find("orientation: gravity lies along -x"), std::string::npos)
      << swapped.warnings[0];
  // The proposed --axes mapping is a rotation that puts gravity back on -y,
  // for every axis gravity may lie along.
  for (const auto& [from, sign] : {std::pair{0, -1}, {0, 1}, {1, 1}, {2, -1}, {2, 1}}) {
    auto turned = standing(false);
    for (auto& sample : turned) {
      std::swap(sample.ay, sample.*kSampleFields[from]);
      sample.*kSampleFields[from] = static_cast<int16_t>(-sign * sample.*kSampleFields[from]);
    }
    const RecordingCheck wrong = checkRecording(turned);
    ASSERT_EQ(wrong.warnings.size(), 1U) << from << sign;
    const std::string& warning = wrong.warnings[0];
    const std::size_t at = warning.find("--axes ");
    ASSERT_NE(at, std::string::npos) << warning;
    AxisMap map;
    ASSERT_EQ(parseAxisMap(warning.substr(at + 7, warning.find(' ', at + 7) - at - 7), map), "")
        << warning;
    EXPECT_EQ(determinant(map), 1) << map.text;
    for (auto& sample : turned) {
      const auto source = sample;
      for (int axis = 0; axis < 3; ++axis) {
        sample.*kSampleFields[axis] =
            static_cast<int16_t>(map.sign[axis] * source.*kSampleFields[map.index[axis]]);
      }
    }
    EXPECT_TRUE(checkRecording(turned).warnings.empty()) << map.text;
  }
  // Half the scale: the magnitude gives it away.
  auto half = standing(false);
  for (auto& sample : half) {
    sample.ay = -4096;
  }
  ASSERT_FALSE(checkRecording(half).warnings.empty());
  EXPECT_NE(checkRecording(half).warnings[0].find("scale"), std::string::npos);
}

}  // namespace
