// velmora-import's output rules, run as a user would: existing files are
// kept unless --force, failures delete nothing, annotations stay with their
// recordings, names that would break an .info line are refused, inputs are
// read with bounded memory and never written over.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::TempDir;

namespace {

std::string stillLog(int rows) {
  std::string text = "ax,ay,az,gx,gy,gz\n";
  for (int i = 0; i < rows; ++i) {
    text += "0,-1,0,0,0,0\n";
  }
  return text;
}

std::vector<std::string> csvArgs(const fs::path& out, const std::vector<std::string>& tail) {
  std::vector<std::string> args = {"csv",        "--acc", "ax,ay,az",    "--gyro", "gx,gy,gz",
                                   "--acc-unit", "g",     "--gyro-unit", "dps",    "--rate",
                                   "50",         "-o",    out.string()};
  args.insert(args.end(), tail.begin(), tail.end());
  return args;
}

struct Case {
  std::string what;
  // Prepares the folder and returns the arguments.
  std::function<std::vector<std::string>(const fs::path&)> setUp;
  int exitCode;
  std::string message;  // part of standard error, or "" for none expected
  // Checks the folder afterwards.
  std::function<void(const fs::path&)> check;
};

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

TEST(ImportOutput, ExistingFilesFailuresAnnotationsAndNames) {
  const std::vector<Case> cases = {
      {"without --force existing outputs are listed and nothing is written",
       [](const fs::path& d) {
         write(d / "rec.csv", stillLog(60));
         write(d / "other.csv", stillLog(60));
         write(d / "o" / "rec.csv", "mine\n");
         return csvArgs(d / "o",
                        {"--fall-at", "0.5", (d / "other.csv").string(), (d / "rec.csv").string()});
       },
       1, "these outputs exist already; nothing was written",
       [](const fs::path& d) {
         EXPECT_EQ(readFile(d / "o" / "rec.csv"), "mine\n");
         EXPECT_FALSE(fs::exists(d / "o" / "other.csv"));
         EXPECT_FALSE(fs::exists(d / "o" / "index.tsv"));
       }},
      {"--force replaces, and the annotation goes with the recording",
       [](const fs::path& d) {
         write(d / "rec.csv", stillLog(60));
         write(d / "o" / "rec.csv", "mine\n");
         return csvArgs(d / "o", {"--force", "--fall-at", "0.5", (d / "rec.csv").string()});
       },
       0, "",
       [](const fs::path& d) {
         EXPECT_NE(readFile(d / "o" / "rec.csv"), "mine\n");
         EXPECT_EQ(readFile(d / "o" / "rec.info"), "rec,25,1\n");
       }},
      {"a failed import keeps the files that were there",
       [](const fs::path& d) {
         write(d / "rec.csv", stillLog(60) + "1,2,x,4,5,6\n");
         write(d / "o" / "rec.csv", "mine\n");
         write(d / "o" / "rec.info", "rec,3,1\n");
         return csvArgs(d / "o", {"--force", (d / "rec.csv").string()});
       },
       1, "line 62: column 'az': expected a number",
       [](const fs::path& d) {
         EXPECT_EQ(readFile(d / "o" / "rec.csv"), "mine\n");
         EXPECT_EQ(readFile(d / "o" / "rec.info"), "rec,3,1\n");
       }},
      {"a recording without annotation removes a stale .info with --force",
       [](const fs::path& d) {
         write(d / "rec.csv", stillLog(60));
         write(d / "o" / "rec.info", "rec,3,1\n");
         return csvArgs(d / "o", {"--force", (d / "rec.csv").string()});
       },
       0, "",
       [](const fs::path& d) {
         EXPECT_TRUE(fs::exists(d / "o" / "rec.csv"));
         EXPECT_FALSE(fs::exists(d / "o" / "rec.info"));
       }},
      {"a name that would shift the .info fields is refused",
       [](const fs::path& d) {
         write(d / "fall,2.csv", stillLog(60));
         return csvArgs(d / "o", {"--fall-at", "0", (d / "fall,2.csv").string()});
       },
       1, "cannot name a recording 'fall,2': it holds a comma",
       [](const fs::path& d) { EXPECT_FALSE(fs::exists(d / "o" / "fall,2.info")); }},
      {"an endless input without line ends stops after a bounded read",
       [](const fs::path& d) {
         fs::create_symlink("/dev/zero", d / "zero.csv");
         return csvArgs(d / "o", {(d / "zero.csv").string()});
       },
       1, "zero.csv: line 1: longer than 65536 bytes",
       [](const fs::path& d) { EXPECT_FALSE(fs::exists(d / "o" / "zero.csv")); }},
      {"an output folder inside a folder being read is refused",
       [](const fs::path& d) {
         write(d / "raw" / "F01_SA01_R01.txt", " 0, -256, 0, 0, 0, 0, 0, 0, 0;\n");
         return std::vector<std::string>{"sisfall", "-o", (d / "raw" / "out").string(),
                                         (d / "raw").string()};
       },
       2, "lies in the input folder",
       [](const fs::path& d) { EXPECT_FALSE(fs::exists(d / "raw" / "out")); }},
      {"an input that would be its own output is refused, even with --force",
       [](const fs::path& d) {
         write(d / "rec.csv", stillLog(60));
         return csvArgs(d, {"--force", (d / "rec.csv").string()});
       },
       2, "would also be the output",
       [](const fs::path& d) { EXPECT_EQ(readFile(d / "rec.csv"), stillLog(60)); }},
      {"-- ends the options",
       [](const fs::path& d) {
         write(d / "-rec.csv", stillLog(60));
         return csvArgs(d / "o", {"--", "-rec.csv"});
       },
       0, "", [](const fs::path& d) { EXPECT_TRUE(fs::exists(d / "o" / "-rec.csv")); }},
      {"runs add their rows to index.tsv",
       [](const fs::path& d) {
         write(d / "a.csv", stillLog(60));
         write(d / "b.csv", stillLog(60));
         EXPECT_EQ(
             runProgram("velmora-import", csvArgs(d / "o", {(d / "a.csv").string()})).exitCode, 0);
         return csvArgs(d / "o", {"--dataset", "mine", (d / "b.csv").string()});
       },
       0, "",
       [](const fs::path& d) {
         EXPECT_EQ(readFile(d / "o" / "index.tsv"),
                   "file\tdataset\tactivity_code\tactivity_kind\tsubject\ttrial\tsamples\tfall_"
                   "position\na.csv\t\t\tadl\t\t\t60\t\nb.csv\tmine\t\tadl\t\t\t60\t\n");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TempDir dir;
    const auto args = c.setUp(dir.path());
    const auto result = runProgram("velmora-import", args, dir.path());
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    if (!c.message.empty()) {
      EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    c.check(dir.path());
  }
  const auto version = runProgram("velmora-import", {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("velmora-import ", 0), 0U) << version.out;
}

}  // namespace
