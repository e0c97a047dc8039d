// The reference documents that restate a library table say what the table
// says.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Velmora.h"
#include "VelmoraCodes.h"

namespace {

std::string readDoc(const std::string& name) {
  std::ifstream in(std::string(VELMORA_SOURCE_DIR) + "/docs/" + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The cells of the table rows ("| a | b |") between the two markers.
std::vector<std::vector<std::string>> tableRows(const std::string& doc, const std::string& begin,
                                                const std::string& end) {
  std::vector<std::vector<std::string>> rows;
  const auto from = doc.find(begin);
  const auto to = doc.find(end);
  if (from == std::string::npos || to == std::string::npos || to < from) {
    return rows;
  }
  std::istringstream lines(doc.substr(from, to - from));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() < 2 || line.front() != '|' || line.rfind("| ---", 0) == 0) {
      continue;
    }
    std::vector<std::string> cells;
    std::size_t start = 1;
    for (std::size_t bar = line.find('|', start); bar != std::string::npos;
         bar = line.find('|', start)) {
      std::string cell = line.substr(start, bar - start);
      cell.erase(0, cell.find_first_not_of(' '));
      cell.erase(cell.find_last_not_of(' ') + 1);
      cells.push_back(cell);
      start = bar + 1;
    }
    rows.push_back(cells);
  }
  return rows;
}

TEST(CodeTable, DescribesExactlyTheCodesTheDetectorReturns) {
  EXPECT_EQ(VelmoraDescribeCode(0), nullptr);
  EXPECT_EQ(VelmoraDescribeCode(10), nullptr);
  EXPECT_EQ(VelmoraDescribeCode(-1), nullptr);
  ASSERT_EQ(VelmoraCodeTable().size(), std::size(kFallCodes));
  for (const int32_t code : kFallCodes) {
    const VelmoraCodeInfo* info = VelmoraDescribeCode(code);
    ASSERT_NE(info, nullptr) << code;
    EXPECT_EQ(info->code, code);
    EXPECT_GT(std::string(info->meaning).size(), 5u) << code;
    EXPECT_GT(std::string(info->pattern).size(), 5u) << code;
  }
}

TEST(CodeTable, DocsShowTheLibraryTable) {
  const std::string doc = readDoc("codes.md");
  ASSERT_FALSE(doc.empty()) << "docs/codes.md is missing";
  const auto rows = tableRows(doc, "<!-- code table", "<!-- end of code table -->");
  ASSERT_FALSE(rows.empty()) << "docs/codes.md has no code table between its markers";
  EXPECT_EQ(rows.front(), (std::vector<std::string>{"code", "meaning", "pattern"}));
  std::vector<std::vector<std::string>> expected{{"code", "meaning", "pattern"}};
  for (const VelmoraCodeInfo& info : VelmoraCodeTable()) {
    expected.push_back({std::to_string(info.code), info.meaning, info.pattern});
  }
  EXPECT_EQ(rows, expected);
}

}  // namespace
