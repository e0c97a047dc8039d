// The option parser every velmora-* program declares its options to, and the
// "did you mean" suggestions for options and settings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClosestName.h"
#include "OptionParser.h"
#include "SettingOption.h"
#include "SettingsTable.h"

namespace {

// Parses `words` against a small table: --out FILE (-o), --quiet (-q),
// --name VALUE (required), and the shared -j.
struct Parse {
  std::vector<std::string> outs;
  std::vector<std::string> spelled;
  bool quiet = false;
  std::string name;
  int jobs = 0;
  ParsedCommandLine parsed;
  std::string error;

  explicit Parse(std::vector<std::string> words, bool nameRequired = false) {
    const OptionTable table = {
        {{"--out", "-o"},
         true,
         [this](const std::string& as, const std::string& value) {
           spelled.push_back(as);
           outs.push_back(value);
           return std::string();
         }},
        {{"--quiet", "-q"}, false, [this](const std::string&, const std::string&) {
           quiet = true;
           return std::string();
         }},
        {{"--name"},
         true,
         [this](const std::string&, const std::string& value) {
           name = value;
           return std::string();
         },
         nameRequired},
        jobsOption(jobs),
    };
    words.insert(words.begin(), "prog");
    std::vector<char*> argv;
    for (std::string& word : words) {
      argv.push_back(word.data());
    }
    error = parseCommandLine(static_cast<int>(argv.size()), argv.data(), 1, table, parsed,
                             " for test");
  }
};

TEST(OptionParser, SpellingsOfValuesAliasesAndRepeats) {
  const Parse p({"--out", "a", "--out=b", "-o", "c", "-od", "-j3", "--jobs=4", "-q", "x"});
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.outs, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(p.spelled, (std::vector<std::string>{"--out", "--out", "-o", "-o"}));
  EXPECT_EQ(p.jobs, 4);
  EXPECT_TRUE(p.quiet);
  EXPECT_EQ(p.parsed.operands, std::vector<std::string>{"x"});
}

TEST(OptionParser, DashIsAnOperandAndDoubleDashEndsOptions) {
  const Parse p({"-", "--out", "-", "--", "--quiet", "-o"});
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.outs, std::vector<std::string>{"-"});
  EXPECT_FALSE(p.quiet);
  EXPECT_EQ(p.parsed.operands, (std::vector<std::string>{"-", "--quiet", "-o"}));
}

TEST(OptionParser, HelpAndVersionStopBeforeLaterMistakes) {
  EXPECT_TRUE(Parse({"-h", "--bogus"}).parsed.help);
  const Parse version({"--version", "--out"}, true);
  EXPECT_TRUE(version.parsed.version);
  EXPECT_EQ(version.error, "");
}

TEST(OptionParser, MistakesAreNamed) {
  EXPECT_EQ(Parse({"--qiuet"}).error, "unknown option '--qiuet' for test; did you mean '--quiet'?");
  EXPECT_EQ(Parse({"--nmae=x"}).error, "unknown option '--nmae=x' for test; did you mean '--name'?");
  EXPECT_EQ(Parse({"--colour"}).error, "unknown option '--colour' for test");
  EXPECT_EQ(Parse({"-qv"}).error, "unknown option '-qv' for test");
  EXPECT_EQ(Parse({"--quiet=yes"}).error, "--quiet takes no value");
  EXPECT_EQ(Parse({"x", "-o"}).error, "-o needs a value");
  EXPECT_EQ(Parse({"-j", "0"}).error, "-j: '0' is not a number of jobs in 1..1024");
}

TEST(OptionParser, EveryMissingRequiredOptionInOneMessage) {
  EXPECT_EQ(Parse({"x"}, true).error, "missing required option for test: --name");
  EXPECT_EQ(Parse({"--name", "n"}, true).error, "");
}

TEST(ClosestName, SuggestsOnlyNamesCloseEnough) {
  const std::vector<std::string_view> names = {"lowLevel", "highLevel", "avgWindow"};
  EXPECT_EQ(closestName("lowlevel", names), "lowLevel");
  EXPECT_EQ(closestName("hihgLevel", names), "highLevel");
  EXPECT_EQ(closestName("window", names), "");
  EXPECT_EQ(closestName("", names), "");
}

TEST(ClosestName, UnknownSettingSuggestsTheTableName) {
  DetectorSettings settings{};
  EXPECT_EQ(applySetting(settings, "lowlevel=70"),
            "unknown setting 'lowlevel'; did you mean 'lowLevel'?");
  EXPECT_EQ(unknownSettingMessage("zzz"), "unknown setting 'zzz'");
}

}  // namespace
