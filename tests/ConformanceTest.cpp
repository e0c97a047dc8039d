// Runs Drovik and velmora-trace over the independent reference cases and
// compares their output byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "TestSupport.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::runProgram;

namespace {

fs::path casesDir() {
  const fs::path shared = testsupport::sharedDir();
  return shared.empty() ? fs::path{} : shared / "conformance" / "cases";
}

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(casesDir())) {
    if (entry.path().extension() == ".csv") {
      names.push_back(entry.path().stem().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// First differing line, for a readable failure message.
std::string firstDifference(const std::string& expected, const std::string& actual) {
  std::size_t line = 1;
  std::size_t start = 0;
  while (start < expected.size() || start < actual.size()) {
    const std::size_t endExpected = expected.find('\n', start);
    const std::size_t endActual = actual.find('\n', start);
    const std::string a = expected.substr(
        start, endExpected == std::string::npos ? std::string::npos : endExpected - start);
    const std::string b = actual.substr(
        start, endActual == std::string::npos ? std::string::npos : endActual - start);
    if (a != b || endExpected != endActual) {
      return "line " + std::to_string(line) + "\n  expected: " + a + "\n  actual:   " + b;
    }
    start = endExpected + 1;
    ++line;
  }
  return "(lengths differ)";
}

}  // namespace

TEST(Conformance, DrovikOutputMatchesReferences) {
  if (casesDir().empty() || !fs::is_directory(casesDir())) {
    GTEST_SKIP() << "shared conformance cases not found next to the repository";
  }
  int matched = 0;
  const auto names = caseNames();
  for (const std::string& name : names) {
    std::vector<std::string> args = {name + ".csv"};
    if (fs::exists(casesDir() / (name + ".info"))) {
      args.push_back(name + ".info");
    }
    const auto result = runProgram("Drovik", args, casesDir());
    const std::string expected = readFile(casesDir() / (name + ".stdout"));
    const int expectedRc = std::stoi(readFile(casesDir() / (name + ".rc")));
    EXPECT_EQ(result.out, expected) << name;
    EXPECT_EQ(result.exitCode, expectedRc) << name;
    matched += result.out == expected && result.exitCode == expectedRc;
  }
  RecordProperty("matched", matched);
  EXPECT_EQ(matched, static_cast<int>(names.size()));
  EXPECT_GT(names.size(), 0U);
}

TEST(Conformance, TraceMatchesReferences) {
  if (casesDir().empty() || !fs::is_directory(casesDir())) {
    GTEST_SKIP() << "shared conformance cases not found next to the repository";
  }
  int matched = 0;
  const auto names = caseNames();
  for (const std::string& name : names) {
    const auto result = runProgram("velmora-trace", {name + ".csv"}, casesDir());
    const std::string expected = readFile(casesDir() / (name + ".trace"));
    if (result.out == expected) {
      ++matched;
    } else {
      ADD_FAILURE() << name << ": " << firstDifference(expected, result.out);
    }
  }
  RecordProperty("matched", matched);
  EXPECT_EQ(matched, static_cast<int>(names.size()));
}
