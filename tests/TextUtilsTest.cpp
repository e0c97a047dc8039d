// Info file, text utilities and decimal conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "InfoFile.h"
#include "TestSupport.h"
#include "TextUtils.h"

namespace {

struct InfoResult {
  int32_t status;
  int32_t position;
  int32_t flag;
};

InfoResult readInfo(const std::string& content) {
  const testsupport::TempDir dir;
  const auto path = dir.write("case.info", content);
  InfoResult result{};
  result.position = result.flag = 12345;
  result.status = ReadInfoFile(path.c_str(), &result.position, &result.flag);
  return result;
}

}  // namespace

TEST(SplitCsvFields, EmptyFieldsCountAndQuotesHoldCommas) {
  char line[] = ",250,\"a,b\"x,1,";
  char* fields[5];
  ASSERT_EQ(SplitCsvFields(line, fields, 5), 4);
  EXPECT_STREQ(fields[0], "");
  EXPECT_STREQ(fields[1], "250");
  EXPECT_STREQ(fields[2], "\"a,b\"x");  // text after the closing quote stays
  EXPECT_STREQ(fields[3], "1");         // a trailing comma starts no field
}

TEST(SplitCsvFields, StopsAtMaxFieldsAndLeavesTheRestUnsplit) {
  char line[] = "a,b,c,d";
  char* fields[2];
  ASSERT_EQ(SplitCsvFields(line, fields, 2), 2);
  EXPECT_STREQ(fields[1], "b");
  EXPECT_STREQ(fields[1] + 2, "c,d");
}

TEST(SplitCsvFields, UnclosedQuoteRunsToTheEnd) {
  char line[] = "\"a,b";
  char* fields[3];
  ASSERT_EQ(SplitCsvFields(line, fields, 3), 1);
  EXPECT_STREQ(fields[0], "\"a,b");
}

TEST(CutAtLineEnd, CutsAtTheFirstOfCrOrLf) {
  char crlf[] = "a,b\r\nc";
  EXPECT_EQ(CutAtLineEnd(crlf), 0);
  EXPECT_STREQ(crlf, "a,b");
  char lfFirst[] = "x\ny\r";
  CutAtLineEnd(lfFirst);
  EXPECT_STREQ(lfFirst, "x");
  char none[] = "plain";
  CutAtLineEnd(none);
  EXPECT_STREQ(none, "plain");
}

TEST(ReadTextFile, ReadsAtMostSizeMinusOneBytes) {
  const testsupport::TempDir dir;
  const auto path = dir.write("t.txt", "abcdef");
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(ReadTextFile(path.c_str(), buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "abc");
  const auto empty = dir.write("e.txt", "");
  EXPECT_EQ(ReadTextFile(empty.c_str(), buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  char untouched[4] = {'u', 'u', 'u', '\0'};
  EXPECT_EQ(ReadTextFile((dir.path() / "missing").c_str(), untouched, sizeof untouched), -1);
  EXPECT_STREQ(untouched, "uuu");
}

TEST(ReadInfoFile, ReadsPositionAndFlagFromTheFirstLine) {
  const InfoResult ok = readInfo("A,250,1\nanything else,,,\n");
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.position, 250);
  EXPECT_EQ(ok.flag, 1);

  const InfoResult extra = readInfo("name,-7,3,more,fields");
  EXPECT_EQ(extra.status, 0);
  EXPECT_EQ(extra.position, -7);
  EXPECT_EQ(extra.flag, 3);

  const InfoResult emptyFirst = readInfo(",250,1");
  EXPECT_EQ(emptyFirst.status, 0);
  EXPECT_EQ(emptyFirst.position, 250);

  const InfoResult quoted = readInfo("A,\"250\",1");
  EXPECT_EQ(quoted.status, 0);
  EXPECT_EQ(quoted.position, 0);  // conversion stops at the quote
}

TEST(ReadInfoFile, FailuresLeaveBothValuesZero) {
  for (const char* content : {"A,250", "A,250,", "", "\nA,250,1", "\r\n"}) {
    const InfoResult result = readInfo(content);
    EXPECT_EQ(result.status, -2) << '"' << content << '"';
    EXPECT_EQ(result.position, 0);
    EXPECT_EQ(result.flag, 0);
  }
  int32_t position = 9;
  int32_t flag = 9;
  EXPECT_EQ(ReadInfoFile("/nonexistent/velmora.info", &position, &flag), -1);
  EXPECT_EQ(position, 0);
  EXPECT_EQ(flag, 0);
}

TEST(ReadInfoFile, OnlyTheFirst1023BytesCount) {
  // Field 3 starts beyond byte 1023, so the line holds only two fields.
  const InfoResult cut = readInfo("A,5," + std::string(1100, ' ') + "1");
  EXPECT_EQ(cut.status, 0);
  EXPECT_EQ(cut.flag, 0);  // only blanks of field 3 survive the cut
  const InfoResult tooLong = readInfo(std::string(1030, 'x') + ",5,1");
  EXPECT_EQ(tooLong.status, -2);
}

TEST(ReadInfoFile, HugeValuesKeepTheirLow32Bits) {
  const InfoResult result = readInfo("A,4294967297,99999999999999999999999");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.position, 1);  // 2^32 + 1
  EXPECT_EQ(result.flag, -1);     // saturates at 2^63 - 1, low word all ones
}

TEST(ParseDecimal, BehavesLikeAtoiWithSaturation) {
  EXPECT_EQ(parseDecimal("  \t+42xyz"), 42);
  EXPECT_EQ(parseDecimal("-17"), -17);
  EXPECT_EQ(parseDecimal("12.9"), 12);
  EXPECT_EQ(parseDecimal("abc"), 0);
  EXPECT_EQ(parseDecimal(""), 0);
  EXPECT_EQ(parseDecimal("- 5"), 0);
  EXPECT_EQ(parseDecimal("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(parseDecimal("9223372036854775808"), INT64_MAX);
  EXPECT_EQ(parseDecimal("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(parseDecimal("-99999999999999999999999"), INT64_MIN);
  EXPECT_EQ(parseDecimal("\n\r\v\f 7\n"), 7);
}
