// Splitting of data lines, the line-piece reading of recordings and the strict
// reading of info files.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "InfoFile.h"
#include "RecordingReader.h"
#include "TestSupport.h"

namespace {

SampleRecord parsed(const std::string& line) {
  SampleRecord sample{-1, -1, -1, -1, -1, -1};
  EXPECT_TRUE(parseSampleLine(line, sample)) << line;
  return sample;
}

void expectSample(const SampleRecord& s, int ax, int ay, int az, int gx, int gy, int gz) {
  EXPECT_EQ(s.ax, ax);
  EXPECT_EQ(s.ay, ay);
  EXPECT_EQ(s.az, az);
  EXPECT_EQ(s.gx, gx);
  EXPECT_EQ(s.gy, gy);
  EXPECT_EQ(s.gz, gz);
}

}  // namespace

TEST(ParseSampleLine, EmptyFieldsVanishAndTheFirstFieldIsSkipped) {
  expectSample(parsed("5,,100,200,300,1,2,3\n"), 100, 200, 300, 1, 2, 3);
  expectSample(parsed(",,,5,100,200,300,1,2,3,extra,fields"), 100, 200, 300, 1, 2, 3);
}

TEST(ParseSampleLine, ValuesKeepTheirLow16Bits) {
  expectSample(parsed("0,40000,70000,-32768,32767,12.9,x"), -25536, 4464, -32768, 32767, 12, 0);
  // Beyond 64 bits the value saturates first: low 16 bits of 2^63 - 1.
  expectSample(parsed("0,99999999999999999999,-99999999999999999999,1,1,1,1"), -1, 0, 1, 1, 1, 1);
}

TEST(ParseSampleLine, FewerThanSevenNonEmptyFieldsIsShort) {
  SampleRecord sample{};
  EXPECT_FALSE(parseSampleLine("\n", sample));
  EXPECT_FALSE(parseSampleLine("", sample));
  EXPECT_FALSE(parseSampleLine("0,1,2,3,4,5", sample));
  EXPECT_FALSE(parseSampleLine("0,1,,2,3,4,5,,", sample));
  // The line end left on the seventh field still makes it a field.
  EXPECT_TRUE(parseSampleLine("0,1,2,3,4,5,\n", sample));
  EXPECT_EQ(sample.gz, 0);
}

TEST(RecordingReader, LongLinesAreReadInPiecesOf1023Bytes) {
  const testsupport::TempDir dir;
  // Header line 1 is 2000 bytes: it uses up two of the seven header reads,
  // so only 5 more header lines precede the data.
  std::string text = std::string(2000, 'h') + "\n";
  for (int i = 0; i < 5; ++i) {
    text += "h\n";
  }
  text += "0,1,2,3,4,5,6\n";
  // A data line of 1023 + 20 bytes: two pieces, two positions.
  std::string longLine = "0,7,7,7,7,7,7,";
  longLine += std::string(1023 - longLine.size(), ',');
  longLine += "1,8,8,8,8,8,8\n";
  text += longLine;
  const auto path = dir.write("long.csv", text);

  RecordingReader reader;
  ASSERT_TRUE(reader.open(path.c_str()));
  reader.skipHeader();
  SampleRecord sample{};
  ASSERT_EQ(reader.next(sample), RecordingReader::Status::Sample);
  EXPECT_EQ(sample.ax, 1);
  ASSERT_EQ(reader.next(sample), RecordingReader::Status::Sample);
  EXPECT_EQ(sample.ax, 7);
  ASSERT_EQ(reader.next(sample), RecordingReader::Status::Sample);
  EXPECT_EQ(sample.ax, 8);
  EXPECT_EQ(reader.next(sample), RecordingReader::Status::End);
}

TEST(RecordingReader, NulEndsTheTextOfItsPiece) {
  const testsupport::TempDir dir;
  std::string text = testsupport::recordingText({});
  text += std::string("0,1,2,3\0,4,5,6\n", 15);
  text += "1,1,2,3,4,5,6\n";
  const auto path = dir.write("nul.csv", text);
  RecordingReader reader;
  ASSERT_TRUE(reader.open(path.c_str()));
  reader.skipHeader();
  SampleRecord sample{};
  EXPECT_EQ(reader.next(sample), RecordingReader::Status::Short);
  EXPECT_EQ(reader.next(sample), RecordingReader::Status::Sample);
  EXPECT_EQ(reader.next(sample), RecordingReader::Status::End);
  EXPECT_EQ(reader.dataLines(), 2);
  EXPECT_EQ(reader.shortLines(), 1);
  ASSERT_EQ(reader.firstShortLineNumbers().size(), 1U);
  EXPECT_EQ(reader.firstShortLineNumbers()[0], 8);
  EXPECT_EQ(describeShortLines(reader),
            "1 data line with fewer than seven fields skipped (line 8)");
}

TEST(RecordingReader, DirectoriesAndMissingFilesDoNotOpen) {
  const testsupport::TempDir dir;
  RecordingReader reader;
  EXPECT_FALSE(reader.open(dir.path().c_str()));
  EXPECT_FALSE(reader.open((dir.path() / "missing.csv").c_str()));
  const auto empty = dir.write("empty.csv", "");
  ASSERT_TRUE(reader.open(empty.c_str()));
  reader.skipHeader();
  SampleRecord sample{};
  EXPECT_EQ(reader.next(sample), RecordingReader::Status::End);
}

// Drovik reads "ff,abc,1" as position 0 and wraps 4294967740 to 444; the
// tools must refuse what cannot be the annotation the user meant.
TEST(InfoFile, IsReadStrictly) {
  const testsupport::TempDir dir;
  const struct {
    const char* content;
    int32_t position;     // when accepted
    const char* problem;  // fragment; "" when accepted
  } cases[] = {
      {"ff,250,1\n", 250, ""},
      {"\"a,b\",250,-1,more\r\n", 250, ""},
      {"ff,abc,1\n", 0, "fall position 'abc' is not a decimal integer"},
      {"ff,,1\n", 0, "fall position is empty"},
      {"ff,\"444\",1\n", 0, "fall position '\"444\"' is not a decimal integer"},
      {"ff, 250,1\n", 0, "fall position ' 250' is not a decimal integer"},
      {"ff,4294967740,1\n", 0, "fall position 4294967740 does not fit in 32 bits"},
      {"ff,-3,1\n", 0, "fall position -3 is negative"},
      {"ff,250,1x\n", 0, "flag '1x' is not a decimal integer"},
      {"ff,250\n,1\n", 0, "does not hold three fields on its first line"},
      {"", 0, "does not hold three fields on its first line"},
  };
  for (const auto& c : cases) {
    const InfoAnnotation annotation = readInfoFileStrict(dir.write("a.info", c.content).string());
    if (*c.problem == '\0') {
      EXPECT_EQ(annotation.problem, "") << c.content;
      EXPECT_EQ(annotation.fallPosition, c.position) << c.content;
    } else {
      EXPECT_NE(annotation.problem.find(c.problem), std::string::npos)
          << c.content << " gave: " << annotation.problem;
      EXPECT_NE(annotation.problem.find("a.info"), std::string::npos);
    }
  }
  const auto fifo = dir.path() / "fifo.info";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_NE(readInfoFileStrict(fifo.string()).problem.find("is not a regular file"),
            std::string::npos);
}
