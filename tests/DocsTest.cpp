// The reference documents that restate a library table say what the table
// says.
#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Velmora.h"
#include "VelmoraCodes.h"
#include "VelmoraSettings.h"

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
  ASSERT_EQ(VelmoraCodeTable().size(), std::size(kVelmoraFallCodes));
  for (const int32_t code : kVelmoraFallCodes) {
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

// What docs/settings.md states about one setting.
struct DocumentedSetting {
  std::string unit;
  int32_t defaultValue = 0;
  std::string limits;  // "a..b", or "" when the doc names none
  std::string range;   // "a..b", or "" for an unused setting
  std::string stages;
};

std::map<std::string, DocumentedSetting> documentedSettings(const std::string& doc) {
  std::map<std::string, DocumentedSetting> settings;
  // "**`name`**: unit[ (...)|, ...] · default D · [hard limits A..B · ]range X..Y · stages."
  const std::regex entry(
      R"(\*\*`(\w+)`\*\*: ([^·]+?) · default (-?\d+) · (?:hard limits (-?\d+\.\.-?\d+) · )?)"
      R"(range\s+(-?\d+\.\.-?\d+) ·\s+([a-z, ]+)\.)");
  for (std::sregex_iterator it(doc.begin(), doc.end(), entry), end; it != end; ++it) {
    const std::smatch& m = *it;
    std::string unit = m[2].str();
    unit = unit.substr(0, unit.find_first_of(" ,"));
    settings[m[1].str()] = {unit, std::stoi(m[3].str()), m[4].str(), m[5].str(), m[6].str()};
  }
  const std::regex unused(R"(\*\*`(\w+)`\*\* \(default (-?\d+)\))");
  for (std::sregex_iterator it(doc.begin(), doc.end(), unused), end; it != end; ++it) {
    settings[(*it)[1].str()] = {"", std::stoi((*it)[2].str()), "", "", "none"};
  }
  return settings;
}

TEST(SettingsTable, DocsStateEachSettingsUnitDefaultLimitsAndRange) {
  const std::string doc = readDoc("settings.md");
  ASSERT_FALSE(doc.empty()) << "docs/settings.md is missing";
  const auto documented = documentedSettings(doc);
  EXPECT_EQ(documented.size(), VelmoraSettingsTable().size());
  for (const VelmoraSetting& setting : VelmoraSettingsTable()) {
    SCOPED_TRACE(setting.name);
    const auto found = documented.find(setting.name);
    ASSERT_NE(found, documented.end()) << "not documented";
    const DocumentedSetting& stated = found->second;
    EXPECT_EQ(stated.unit, setting.unit);
    EXPECT_EQ(stated.defaultValue, setting.defaultValue);
    EXPECT_EQ(stated.stages, setting.stage);
    const bool limited = setting.minimum != std::numeric_limits<int32_t>::min() ||
                         setting.maximum != std::numeric_limits<int32_t>::max();
    EXPECT_EQ(stated.limits, limited ? std::to_string(setting.minimum) + ".." +
                                        std::to_string(setting.maximum)
                                  : "");
    if (std::string(setting.stage) != "none") {
      EXPECT_EQ(stated.range,
                std::to_string(setting.tuneMin) + ".." + std::to_string(setting.tuneMax));
    }
  }
}

}  // namespace
