// velmora-tune run as a user runs it on copies of the bundled example
// recordings, and its search, front and cache checked directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "EvalRecordings.h"
#include "Evaluation.h"
#include "HeldOut.h"
#include "ParetoFront.h"
#include "PartFile.h"
#include "RecordingCache.h"
#include "RocPlot.h"
#include "Search.h"
#include "SettingsTable.h"
#include "TuneSpace.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::TempDir;

// velmora-tune and velmora-eval need RE2: a build without it leaves them out.
#define SKIP_UNLESS_BUILT(program)                                        \
  if (!fs::exists(fs::path(VELMORA_BIN_DIR) / (program)))                 \
  GTEST_SKIP() << (program)                                               \
               << " was not built (left out at configure time; it needs " \
                  "the Debian package libre2-dev)"

// The example recordings (falls and daily activities) copied
// once per person p1..p3, so that there are groups to keep apart.
void writeExamples(const TempDir& dir) {
  const fs::path examples = fs::path(VELMORA_SOURCE_DIR) / "examples" / "recordings";
  for (const char* person : {"p1", "p2", "p3"}) {
    for (const auto& entry : fs::directory_iterator(examples)) {
      fs::copy_file(entry.path(),
                    dir.path() / (std::string(person) + "_" + entry.path().filename().string()));
    }
  }
}

// The examples for p1..p3, and for p3 also six rough days: daily living
// that sets the detector off as the falls do. Tuned without p3, a search
// keeps settings that p3's days overwhelm.
void writeExamplesWithOneRoughPerson(const TempDir& dir) {
  writeExamples(dir);
  const fs::path examples = fs::path(VELMORA_SOURCE_DIR) / "examples" / "recordings";
  for (const char* day : {"1", "2", "3"}) {
    fs::copy_file(examples / "fall_forward.csv",
                  dir.path() / (std::string("p3_rough_a") + day + ".csv"));
    fs::copy_file(examples / "fall_backward.csv",
                  dir.path() / (std::string("p3_rough_b") + day + ".csv"));
  }
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    result.push_back(line);
  }
  return result;
}

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> result;
  std::istringstream stream(line);
  for (std::string field; std::getline(stream, field, ',');) {
    result.push_back(field);
  }
  return result;
}

TEST(TuneSweep, EveryPointHasTheFiguresOfVelmoraEvalWithItsSettings) {
  SKIP_UNLESS_BUILT("velmora-tune");
  SKIP_UNLESS_BUILT("velmora-eval");
  const TempDir data;
  writeExamples(data);
  const TempDir out;
  const auto csv = out.path() / "sweep.csv";
  const auto sweep = runProgram(
      "velmora-tune", {"sweep", "--vary", "lowLevel=40:100:30", "--vary", "turnRunMin=10:30:20",
                       "--set", "gapMax=25", "--csv", csv.string(), data.path().string()});
  ASSERT_EQ(sweep.exitCode, 0) << sweep.err;
  const std::vector<std::string> rows = lines(readFile(csv));
  ASSERT_EQ(rows.size(), 1u + 3 * 2);
  const std::vector<std::string> header = fields(rows[0]);
  ASSERT_EQ(header[0], "lowLevel");
  ASSERT_EQ(header[1], "turnRunMin");
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const std::vector<std::string> row = fields(rows[r] + ",");
    const auto summary = out.path() / ("eval" + std::to_string(r) + ".csv");
    const auto eval =
        runProgram("velmora-eval", {"--set", "gapMax=25", "--set", "lowLevel=" + row[0], "--set",
                                    "turnRunMin=" + row[1], "--summary-csv", summary.string(),
                                    data.path().string()});
    ASSERT_EQ(eval.exitCode, 0) << eval.err;
    std::map<std::string, std::string> metrics;
    for (const std::string& line : lines(readFile(summary))) {
      const std::vector<std::string> cells = fields(line + ",");
      if (cells.size() >= 3 && cells[0].empty()) {
        metrics[cells[1]] = cells[2];
      }
    }
    for (std::size_t c = 2; c < header.size(); ++c) {
      EXPECT_EQ(row[c], metrics[header[c]]) << header[c] << " at " << rows[r];
    }
  }
}

// Every output of a command, for comparing runs.
std::vector<std::string> outputsOf(const testsupport::RunResult& result,
                                   const std::vector<fs::path>& files) {
  std::vector<std::string> outputs = {std::to_string(result.exitCode), result.out, result.err};
  for (const fs::path& file : files) {
    outputs.push_back(fs::exists(file) ? readFile(file) : "(none)");
  }
  return outputs;
}

struct ShardCase {
  const char* name;
  std::vector<std::string> args;           // command and its options, without paths
  std::vector<std::string> outputOptions;  // e.g. {"--csv", "--roc"}
  int shards;
};

// Rows print as their names in test listings, not as bytes.
void PrintTo(const ShardCase& row, std::ostream* out) { *out << row.name; }

class TuneShards : public ::testing::TestWithParam<ShardCase> {};

TEST_P(TuneShards, MergedPartsGiveTheOutputsOfTheUnshardedRunForAnyJobs) {
  SKIP_UNLESS_BUILT("velmora-tune");
  const ShardCase& c = GetParam();
  const TempDir data;
  writeExamples(data);
  const TempDir out;
  const auto withOutputs = [&](const std::string& tag, std::vector<std::string> args,
                               std::vector<fs::path>& files) {
    for (const std::string& option : c.outputOptions) {
      files.push_back(out.path() / (tag + option.substr(option.find_first_not_of('-'))));
      args.insert(args.end(), {option, files.back().string()});
    }
    return args;
  };
  std::vector<fs::path> wholeFiles;
  std::vector<std::string> args = withOutputs("whole", c.args, wholeFiles);
  args.insert(args.end(), {"-j", "1", data.path().string()});
  const auto whole = runProgram("velmora-tune", args);
  ASSERT_LE(whole.exitCode, 1) << whole.err;

  std::vector<std::string> merge = {"merge"};
  for (int k = 1; k <= c.shards; ++k) {
    const auto part = out.path() / ("part" + std::to_string(k));
    std::vector<std::string> shardArgs = c.args;
    shardArgs.insert(shardArgs.end(),
                     {"-j", "2", "--shard", std::to_string(k) + "/" + std::to_string(c.shards),
                      "--part", part.string(), data.path().string()});
    const auto shard = runProgram("velmora-tune", shardArgs);
    ASSERT_EQ(shard.exitCode, 0) << shard.err;
    merge.push_back(part.string());
  }
  std::vector<fs::path> mergedFiles;
  merge = withOutputs("merged", merge, mergedFiles);
  const auto merged = runProgram("velmora-tune", merge);
  EXPECT_EQ(outputsOf(merged, mergedFiles), outputsOf(whole, wholeFiles));
}

INSTANTIATE_TEST_SUITE_P(Runs, TuneShards,
                         ::testing::Values(ShardCase{"Sweep",
                                                     {"sweep", "--vary", "lowLevel=40:100:20",
                                                      "--vary", "impactMin=120:180:60"},
                                                     {"--csv", "--roc"},
                                                     3},
                                           ShardCase{"Search",
                                                     {"search", "--group-by", "^(p[0-9])_",
                                                      "--folds", "2", "--max-fa-per-hour", "200",
                                                      "--trials", "12", "--seed", "7"},
                                                     {"--csv", "-o"},
                                                     2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TuneSweep, ABudgetIsDrawnAndItsBestPointMarkedLeavingEveryOtherFigureAsItWas) {
  SKIP_UNLESS_BUILT("velmora-tune");
  const TempDir data;
  writeExamples(data);
  const TempDir out;
  const std::vector<std::string> sweep = {"sweep", "--vary", "lowLevel=40:90:10", "--vary",
                                          "impactMin=100:200:100"};
  const auto run = [&](const std::string& tag, std::vector<std::string> args) {
    args.insert(args.end(), {"--csv", (out.path() / (tag + ".csv")).string(), "--roc",
                             (out.path() / (tag + ".svg")).string()});
    return runProgram("velmora-tune", args);
  };
  auto args = sweep;
  args.push_back(data.path().string());
  const auto plain = run("plain", args);
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  args.insert(args.end() - 1, {"--max-fa-per-hour", "100"});
  const auto budget = run("budget", args);
  ASSERT_EQ(budget.exitCode, 0) << budget.err;

  // Each row is the row without a budget plus within_limit and best; the
  // best row keeps the budget and no row within it finds more falls or
  // finds as many with fewer alarms.
  const std::vector<std::string> before = lines(readFile(out.path() / "plain.csv"));
  const std::vector<std::string> after = lines(readFile(out.path() / "budget.csv"));
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after[0], before[0] + ",within_limit,best");
  const std::vector<std::string> header = fields(after[0]);
  const auto column = [&](const std::string& name) {
    return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  const std::size_t sens = column("sensitivity");
  const std::size_t rate = column("false_alarms_per_hour");
  std::vector<std::vector<std::string>> within;
  std::vector<std::string> best;
  for (std::size_t r = 1; r < after.size(); ++r) {
    ASSERT_EQ(after[r].substr(0, before[r].size() + 1), before[r] + ",");
    const std::vector<std::string> row = fields(after[r]);
    EXPECT_EQ(row[column("within_limit")] == "1", std::stod(row[rate]) <= 100.0) << after[r];
    if (row[column("within_limit")] == "1") {
      within.push_back(row);
    }
    if (row.back() == "1") {
      EXPECT_TRUE(best.empty()) << "two best rows";
      best = row;
    }
  }
  ASSERT_FALSE(best.empty());
  ASSERT_LT(within.size(), after.size() - 1) << "the budget should leave some points out";
  for (const std::vector<std::string>& row : within) {
    EXPECT_TRUE(std::stod(row[sens]) < std::stod(best[sens]) ||
                (row[sens] == best[sens] && std::stod(row[rate]) >= std::stod(best[rate])))
        << best[0] << "," << best[1] << " is beaten by " << row[0] << "," << row[1];
  }
  // The table: the same but for the mark and the line that names it.
  std::string table = budget.out;
  const auto mark = table.find("  * best\n");
  ASSERT_NE(mark, std::string::npos) << table;
  table.erase(mark + 3, 5);
  table.erase(table.rfind("Budget: at most 100 false alarms per hour; best within it"));
  EXPECT_EQ(table, plain.out);
  EXPECT_NE(readFile(out.path() / "budget.svg").find(">budget 100/h</text>"), std::string::npos);
  EXPECT_EQ(readFile(out.path() / "plain.svg").find("budget"), std::string::npos);

  // A shard writes no outputs to mark, so the budget goes to the merge.
  const auto part = out.path() / "sweep.tune";
  auto shardArgs = sweep;
  shardArgs.insert(shardArgs.end(),
                   {"--shard", "1/1", "--part", part.string(), data.path().string()});
  auto refused = shardArgs;
  refused.insert(refused.end() - 1, {"--max-fa-per-hour", "100"});
  EXPECT_EQ(runProgram("velmora-tune", refused).exitCode, 2);
  ASSERT_EQ(runProgram("velmora-tune", shardArgs).exitCode, 0);
  const auto merged = run("merged", {"merge", "--max-fa-per-hour", "100", part.string()});
  EXPECT_EQ(merged.out, budget.out);
  EXPECT_EQ(readFile(out.path() / "merged.csv"), readFile(out.path() / "budget.csv"));
  EXPECT_EQ(readFile(out.path() / "merged.svg"), readFile(out.path() / "budget.svg"));
}

TEST(TuneShards, PartsOfDifferentRunsOrIncompleteSetsRefuseToMerge) {
  SKIP_UNLESS_BUILT("velmora-tune");
  const TempDir data;
  writeExamples(data);
  const TempDir out;
  const auto part = [&](const std::string& name, const std::string& shard,
                        const std::string& seed) {
    const auto path = out.path() / name;
    const auto result = runProgram(
        "velmora-tune",
        {"search", "--group-by", "^(p[0-9])_", "--folds", "2", "--max-fa-per-hour", "1", "--trials",
         "3", "--seed", seed, "--shard", shard, "--part", path.string(), data.path().string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return path.string();
  };
  const std::string first = part("a1", "1/2", "1");
  const std::string second = part("a2", "2/2", "1");
  const std::string otherSeed = part("b2", "2/2", "2");
  const auto mixed = runProgram("velmora-tune", {"merge", first, otherSeed});
  EXPECT_EQ(mixed.exitCode, 2);
  EXPECT_NE(mixed.err.find("belongs to another run"), std::string::npos) << mixed.err;
  const auto missing = runProgram("velmora-tune", {"merge", second});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("missing shard(s) 1 of 2"), std::string::npos) << missing.err;
  const auto twice = runProgram("velmora-tune", {"merge", first, first, second});
  EXPECT_EQ(twice.exitCode, 2);
  EXPECT_NE(twice.err.find("repeats shard 1"), std::string::npos) << twice.err;
}

// A sharded sweep's single part, with the line that starts with `prefix`
// replaced by `line`.
std::string editedPart(const TempDir& data, const TempDir& out, const std::string& prefix,
                       const std::string& line) {
  const auto path = out.path() / "p.tune";
  const auto sweep =
      runProgram("velmora-tune", {"sweep", "--vary", "lowLevel=40:100:60", "--shard", "1/1",
                                  "--part", path.string(), data.path().string()});
  EXPECT_EQ(sweep.exitCode, 0) << sweep.err;
  std::string text = "\n" + readFile(path);
  const auto at = text.find("\n" + prefix);
  EXPECT_NE(at, std::string::npos) << text;
  if (at != std::string::npos) {
    text.replace(at + 1, text.find('\n', at + 1) - at - 1, line);
  }
  return text.substr(1);
}

TEST(TuneShards, PartsWithCountsThatCannotBeAreRefusedNamingTheLine) {
  SKIP_UNLESS_BUILT("velmora-tune");
  const TempDir data;
  writeExamples(data);
  const TempDir out;
  // 18 recordings, 9 of them falls: no point finds 9999, and no count may
  // come near the 64-bit limit that sums of counts would pass.
  std::string huge = "point 1";
  for (int i = 0; i < 9; ++i) {
    huge += " 9223372036854775807";
  }
  for (const std::string& line : {std::string("point 1 18 0 9999 0 0 0 9 1000 0"), huge}) {
    const auto edited = out.path() / "edited.tune";
    std::ofstream(edited, std::ios::binary) << editedPart(data, out, "point 1 ", line);
    const auto merged = runProgram("velmora-tune", {"merge", edited.string()});
    EXPECT_EQ(merged.exitCode, 2) << line;
    EXPECT_NE(merged.err.find(edited.string() + ":"), std::string::npos) << merged.err;
    EXPECT_EQ(merged.out, "") << line;
  }
}

TEST(TuneShards, PartsOfAnotherFormatVersionAreRefusedSayingSo) {
  SKIP_UNLESS_BUILT("velmora-tune");
  const TempDir data;
  writeExamples(data);
  const TempDir out;
  const auto old = out.path() / "old.tune";
  std::ofstream(old, std::ios::binary)
      << editedPart(data, out, "velmora-tune part ", "velmora-tune part 1");
  const auto merged = runProgram("velmora-tune", {"merge", old.string()});
  EXPECT_EQ(merged.exitCode, 2);
  EXPECT_NE(merged.err.find("format version '1'; this velmora-tune reads version " +
                            std::to_string(tune::kPartFormatVersion)),
            std::string::npos)
      << merged.err;
}

TEST(TuneSearch, ABrokenLineInTheGroupPatternStaysInItsComment) {
  SKIP_UNLESS_BUILT("velmora-tune");
  SKIP_UNLESS_BUILT("velmora-eval");
  const TempDir data;
  writeExamples(data);
  const TempDir out;
  const auto settings = out.path() / "found.settings";
  const auto found = runProgram(
      "velmora-tune", {"search", "--group-by", "^(p[0-9])_|\nimpactMin=9999\n", "--folds", "3",
                       "--trials", "4", "--max-fa-per-hour", "1000", "-o", settings.string(),
                       data.path().string()});
  ASSERT_EQ(found.exitCode, 0) << found.err;
  EXPECT_EQ(readFile(settings).find("\nimpactMin=9999"), std::string::npos);
  const auto eval = runProgram("velmora-eval", {"--settings", settings.string(), "--print-settings"});
  EXPECT_EQ(eval.exitCode, 0) << eval.err;
}

// The lines of a settings file but those that name the command and the key.
std::vector<std::string> withoutKeyLines(const std::string& text) {
  std::vector<std::string> kept;
  for (const std::string& line : lines(text)) {
    if (line.rfind("# Command:", 0) != 0 && line.rfind("# Cross-validated", 0) != 0) {
      kept.push_back(line);
    }
  }
  return kept;
}

TEST(TuneSearch, AnIndexColumnGivesThePatternsFoldsAndResultsAndItsPartsMerge) {
  SKIP_UNLESS_BUILT("velmora-tune");
  const TempDir data;
  writeExamples(data);
  {
    std::ofstream index(data.path() / "index.tsv");
    index << "file\tsubject\n";
    for (const auto& entry : fs::directory_iterator(data.path())) {
      const std::string name = entry.path().filename().string();
      if (entry.path().extension() == ".csv") {
        index << name << "\t" << name.substr(0, 2) << "\n";
      }
    }
  }
  const TempDir out;
  const auto run = [&](const std::string& tag, std::vector<std::string> args) {
    args.insert(args.begin(), {"search", "--folds", "3", "--trials", "6", "--max-fa-per-hour",
                               "1000", "--csv", (out.path() / (tag + ".csv")).string(), "-o",
                               (out.path() / (tag + ".settings")).string()});
    args.push_back(data.path().string());
    return runProgram("velmora-tune", args);
  };
  const auto byPattern = run("pattern", {"--group-by", "^(p[0-9])_"});
  ASSERT_EQ(byPattern.exitCode, 0) << byPattern.err;
  const auto byColumn = run("column", {"--group-by-column", "subject"});
  ASSERT_EQ(byColumn.exitCode, 0) << byColumn.err;
  EXPECT_EQ(readFile(out.path() / "column.csv"), readFile(out.path() / "pattern.csv"));
  const std::string settings = readFile(out.path() / "column.settings");
  EXPECT_NE(settings.find("# Cross-validated over 3 folds by column 'subject', pooled"),
            std::string::npos)
      << settings;
  EXPECT_EQ(withoutKeyLines(settings), withoutKeyLines(readFile(out.path() / "pattern.settings")));

  std::vector<std::string> merge = {"merge", "--csv", (out.path() / "merged.csv").string(), "-o",
                                    (out.path() / "merged.settings").string()};
  for (const char* shard : {"1/2", "2/2"}) {
    merge.push_back((out.path() / ("part" + std::string(shard, 1))).string());
    const auto part =
        runProgram("velmora-tune", {"search", "--folds", "3", "--trials", "6", "--max-fa-per-hour",
                                    "1000", "--group-by-column", "subject", "--shard", shard,
                                    "--part", merge.back(), data.path().string()});
    ASSERT_EQ(part.exitCode, 0) << part.err;
  }
  const auto merged = runProgram("velmora-tune", merge);
  EXPECT_EQ(merged.out, byColumn.out);
  EXPECT_EQ(readFile(out.path() / "merged.csv"), readFile(out.path() / "column.csv"));
  EXPECT_EQ(readFile(out.path() / "merged.settings"), settings);

  // The index file is an input: no output may replace it.
  const auto overwrite =
      runProgram("velmora-tune",
                 {"search", "--group-by-column", "subject", "--folds", "3", "--max-fa-per-hour",
                  "1", "-o", (data.path() / "index.tsv").string(), data.path().string()});
  EXPECT_EQ(overwrite.exitCode, 2);
  EXPECT_NE(overwrite.err.find("index file"), std::string::npos) << overwrite.err;
}

TEST(TuneSearch, ResultIsASettingsFileTheToolsAcceptAndNoResultWritesNone) {
  SKIP_UNLESS_BUILT("velmora-tune");
  SKIP_UNLESS_BUILT("velmora-eval");
  const TempDir data;
  writeExamples(data);
  const TempDir out;
  const auto settings = out.path() / "best.settings";
  const std::vector<std::string> common = {"search",  "--group-by", "^(p[0-9])_",
                                           "--folds", "3",          "--trials",
                                           "10",      "-o",         settings.string()};
  auto args = common;
  args.insert(args.end(), {"--max-fa-per-hour", "100", data.path().string()});
  const auto found = runProgram("velmora-tune", args);
  ASSERT_EQ(found.exitCode, 0) << found.err;
  const std::string text = readFile(settings);
  EXPECT_NE(text.find("# Command: velmora-tune search --group-by '^(p[0-9])_' --folds 3"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("# Seed 1,"), std::string::npos);
  EXPECT_NE(text.find("pooled held-out figures"), std::string::npos);
  // The three people's copies of the six examples are six distinct files.
  const std::vector<std::string> settingsLines = lines(text);
  EXPECT_EQ(std::count_if(settingsLines.begin(), settingsLines.end(),
                          [](const std::string& line) { return line.rfind("# tuned-on ", 0) == 0; }),
            6)
      << text;
  const auto eval =
      runProgram("velmora-eval", {"--settings", settings.string(), data.path().string()});
  EXPECT_EQ(eval.exitCode, 0) << eval.err;
  EXPECT_NE(eval.out.find("in-sample: 18 of 18 recordings were used to tune these settings"),
            std::string::npos)
      << eval.out;

  // Searching only a setting at which every daily activity alarms finds
  // nothing within no false alarms at all.
  fs::remove(settings);
  const auto space = out.path() / "space.txt";
  std::ofstream(space) << "lowLevel 100 110 5\n";
  args = common;
  args.insert(args.end(),
              {"--max-fa-per-hour", "0", "--space", space.string(), data.path().string()});
  const auto none = runProgram("velmora-tune", args);
  EXPECT_EQ(none.exitCode, 1) << none.err;
  EXPECT_NE(none.out.find("No candidate kept the false alarms"), std::string::npos) << none.out;
  EXPECT_FALSE(fs::exists(settings));
}

TEST(TuneSearch, OverTheBudgetHeldOutWarnsExitsThreeAndStillWritesTheSettingsAsMergeDoes) {
  SKIP_UNLESS_BUILT("velmora-tune");
  const TempDir data;
  writeExamplesWithOneRoughPerson(data);
  const TempDir out;
  const auto space = out.path() / "space.txt";
  std::ofstream(space) << "lowLevel 40 70 10\n";
  const std::vector<std::string> search = {"search", "--group-by",        "^(p[0-9])_",  "--folds",
                                           "2",      "--max-fa-per-hour", "80",          "--trials",
                                           "10",     "--space",           space.string()};
  auto args = search;
  const auto whole = out.path() / "whole.settings";
  args.insert(args.end(), {"-o", whole.string(), data.path().string()});
  const auto run = runProgram("velmora-tune", args);
  ASSERT_EQ(run.exitCode, 3) << run.err;
  EXPECT_NE(run.out.find("WARNING: these settings are unlikely to hold the budget of 80"),
            std::string::npos)
      << run.out;
  // The fold tuned on p1 alone keeps settings that give p3 7 alarms.
  EXPECT_NE(run.out.find("The budget held in 1 of 2 folds. Worst person: p3 (fold 1), 187.36"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("by person 0.00 to 187.36"), std::string::npos) << run.out;
  const std::string settings = readFile(whole);
  EXPECT_NE(settings.find("\n# WARNING: these settings are unlikely"), std::string::npos)
      << settings;

  std::vector<std::string> merge = {"merge"};
  for (const char* shard : {"1/2", "2/2"}) {
    const auto part = out.path() / (std::string("part") + shard[0]);
    args = search;
    args.insert(args.end(), {"--shard", shard, "--part", part.string(), data.path().string()});
    ASSERT_EQ(runProgram("velmora-tune", args).exitCode, 0);
    merge.push_back(part.string());
  }
  const auto merged = out.path() / "merged.settings";
  merge.insert(merge.end(), {"-o", merged.string()});
  const auto combined = runProgram("velmora-tune", merge);
  EXPECT_EQ(combined.exitCode, 3) << combined.err;
  EXPECT_EQ(combined.out, run.out);
  EXPECT_EQ(readFile(merged), settings);
}

TEST(TuneHeldOut, BootstrapOverPeopleWidensWhenAlarmsClusterAndRepeatsForItsSeed) {
  // Ten people of one hour each, ten alarms in all.
  std::vector<std::pair<int64_t, double>> even(10, {1, 1.0});
  std::vector<std::pair<int64_t, double>> clustered(10, {0, 1.0});
  clustered[3].first = 10;
  const auto evenInterval = tune::bootstrapRate(even, 5, 2000);
  const auto clusteredInterval = tune::bootstrapRate(clustered, 5, 2000);
  ASSERT_TRUE(evenInterval && clusteredInterval);
  EXPECT_EQ(evenInterval->low, 1.0);
  EXPECT_EQ(evenInterval->high, 1.0);
  EXPECT_EQ(clusteredInterval->low, 0.0);
  EXPECT_GE(clusteredInterval->high, 2.0);
  const auto again = tune::bootstrapRate(clustered, 5, 2000);
  EXPECT_EQ(again->high, clusteredInterval->high);
  EXPECT_FALSE(tune::bootstrapRate({{0, 0.0}}, 5, 10));
}

TEST(TuneSelection, RulesJudgeTrainingFiguresAsDocumented) {
  // The exact one-sided 95 % bound for no event in one hour is -ln(0.05).
  EXPECT_NEAR(tune::poissonUpperBound(0, 1.0, 0.95), 2.995732, 1e-5);
  EXPECT_NEAR(tune::poissonUpperBound(3, 2.0, 0.95), 7.753652 / 2.0, 1e-5);
  const auto person = [](int64_t alarms) {
    tune::OutcomeCounts c;
    c.truePositives = 1;
    c.dailyLivingSamples = 180000;  // one hour
    c.dailyLivingAlarms = alarms;
    return c;
  };
  // Five people, one hour each, two alarms in one of them: 0.4 per hour.
  const std::vector<tune::OutcomeCounts> people = {person(2), person(0), person(0), person(0), person(0)};
  tune::OutcomeCounts total;
  for (const tune::OutcomeCounts& c : people) {
    total += c;
  }
  tune::SearchConfig config;
  config.maxFalseAlarmsPerHour = 0.5;
  EXPECT_TRUE(tune::withinBudget(config, total, people));
  ASSERT_EQ(tune::parseSelection("people:0.2", config.rule), "");
  EXPECT_TRUE(tune::withinBudget(config, total, people));  // one of five above
  ASSERT_EQ(tune::parseSelection("people:0.1", config.rule), "");
  EXPECT_FALSE(tune::withinBudget(config, total, people));
  ASSERT_EQ(tune::parseSelection("bound:0.5", config.rule), "");
  EXPECT_FALSE(tune::withinBudget(config, total, people));  // median bound of 2 in 5 h: 0.53
  config.maxFalseAlarmsPerHour = 0.6;
  EXPECT_TRUE(tune::withinBudget(config, total, people));
  EXPECT_EQ(tune::selectionText(config.rule), "bound:0.5");
  EXPECT_NE(tune::parseSelection("bound:1", config.rule), "");
  EXPECT_NE(tune::parseSelection("people:-0.1", config.rule), "");
  EXPECT_NE(tune::parseSelection("flat:2", config.rule), "");
}

TEST(TuneCompare, ListsExactlyTheRecordingsWhoseOutcomeChangedAsVelmoraEvalJudgesThem) {
  SKIP_UNLESS_BUILT("velmora-tune");
  SKIP_UNLESS_BUILT("velmora-eval");
  const TempDir data;
  writeExamples(data);
  const TempDir out;
  // name -> "outcome,first_index,first_code" under each side, from velmora-eval.
  std::map<std::string, std::string> expected[2];
  const char* const sides[2] = {"lowLevel=60", "lowLevel=90"};
  for (int side = 0; side < 2; ++side) {
    const auto csv = out.path() / ("eval" + std::to_string(side) + ".csv");
    ASSERT_EQ(runProgram("velmora-eval",
                         {"--set", sides[side], "--csv", csv.string(), data.path().string()})
                  .exitCode,
              0);
    const std::vector<std::string> rows = lines(readFile(csv));
    for (std::size_t r = 1; r < rows.size(); ++r) {
      const std::vector<std::string> cells = fields(rows[r] + ",");
      expected[side][cells[0]] = cells[7] + "," + cells[3] + "," + cells[4];
    }
  }
  const auto changed = out.path() / "changed.csv";
  const auto compare =
      runProgram("velmora-tune", {"compare", "--a-set", sides[0], "--b-set", sides[1], "--csv",
                                  changed.string(), data.path().string()});
  ASSERT_EQ(compare.exitCode, 0) << compare.err;
  std::map<std::string, std::string> listed;
  const std::vector<std::string> rows = lines(readFile(changed));
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0],
            "recording,a_outcome,a_first_index,a_first_code,b_outcome,b_first_index,b_first_code");
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const std::string name = rows[r].substr(0, rows[r].find(','));
    listed[name] = rows[r].substr(name.size() + 1);
  }
  std::size_t differing = 0;
  for (const auto& [name, a] : expected[0]) {
    const std::string& b = expected[1][name];
    if (a != b) {
      ++differing;
      EXPECT_EQ(listed[name], a + "," + b) << name;
    }
  }
  EXPECT_EQ(listed.size(), differing);
  EXPECT_GT(differing, 0u);
}

struct UsageCase {
  const char* name;
  std::vector<std::string> args;  // the data folder is appended
  const char* message;
};

void PrintTo(const UsageCase& row, std::ostream* out) { *out << row.name; }

class TuneUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(TuneUsage, BadInputIsRefusedWithStatusTwoBeforeAnyWork) {
  SKIP_UNLESS_BUILT("velmora-tune");
  const TempDir data;
  writeExamples(data);
  std::vector<std::string> args = GetParam().args;
  args.push_back(data.path().string());
  const auto result = runProgram("velmora-tune", args);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
}

const std::vector<std::string> kSearch = {"search", "--group-by", "^(p[0-9])_", "--folds", "2"};

std::vector<std::string> search(std::vector<std::string> more) {
  std::vector<std::string> args = kSearch;
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TuneUsage,
    ::testing::Values(
        UsageCase{"UnknownSetting", {"sweep", "--vary", "lowLvl=1:2"}, "unknown setting 'lowLvl'"},
        UsageCase{"LowAboveHigh", {"sweep", "--vary", "lowLevel=90:50"}, "lies above the high end"},
        UsageCase{"StepZero", {"sweep", "--vary", "lowLevel=50:90:0"}, "step must be a positive"},
        UsageCase{"RefusedValue", {"sweep", "--vary", "avgWindow=0:70"}, "avgWindow=0 is refused"},
        UsageCase{"TooManyPoints",
                  {"sweep", "--vary", "lowLevel=1:1001", "--vary", "impactMin=1:1000"},
                  "more than --max-points 1000000"},
        UsageCase{"FourSettings",
                  {"sweep", "--vary", "lowLevel=1:2", "--vary", "impactMin=1:2", "--vary",
                   "gapMin=1:2", "--vary", "gapMax=1:2"},
                  "at most three settings"},
        UsageCase{"MoreFoldsThanGroups",
                  {"search", "--group-by", "^(p[0-9])_", "--folds", "4", "--max-fa-per-hour", "1"},
                  "more than the 3 groups"},
        UsageCase{"GroupMatchesNothing",
                  {"search", "--group-by", "^(q[0-9])_", "--folds", "2", "--max-fa-per-hour", "1"},
                  "names no group"},
        UsageCase{"PatternAndColumnTogether",
                  search({"--max-fa-per-hour", "1", "--group-by-column", "subject"}),
                  "--group-by and --group-by-column cannot be combined"},
        UsageCase{"NegativeLimit", search({"--max-fa-per-hour", "-1"}), "not a non-negative"},
        UsageCase{"LimitNotANumber", search({"--max-fa-per-hour", "few"}), "not a non-negative"},
        UsageCase{"SpaceFromADevice", search({"--max-fa-per-hour", "1", "--space", "/dev/null"}),
                  "is not a regular file"},
        UsageCase{"TooManyShards",
                  search({"--max-fa-per-hour", "1", "--shard", "4/4", "--part", "p"}),
                  "only 3 searches"},
        UsageCase{"EmptyCsvPath",
                  {"sweep", "--vary", "lowLevel=50:60", "--csv", ""},
                  "--csv needs a file name"},
        UsageCase{"StandardInputAsRecording",
                  {"sweep", "--vary", "lowLevel=50:60", "-"},
                  "cannot read standard input"},
        UsageCase{"MoreShardsThanAPartMayName",
                  {"sweep", "--vary", "lowLevel=50:60", "--shard", "1/2147483647", "--part", "p"},
                  "at most 1000000 shards"},
        UsageCase{"MaxPointsBeyondTheLimit",
                  {"sweep", "--vary", "lowLevel=50:60", "--max-points", "9223372036854775807"},
                  "is too large (at most 2147483647)"},
        UsageCase{"ExplainSpaceFromADevice",
                  {"explain", "--space", "/dev/null"},
                  "is not a regular file"},
        UsageCase{"ExplainRefusedSetting",
                  {"explain", "--set", "avgWindow=0"},
                  "avgWindow must lie in 1..63"},
        UsageCase{"ExplainEmptyJsonPath", {"explain", "--json", ""}, "--json needs a file name"},
        UsageCase{"MergeTwoOutputsToStandardOutput",
                  {"merge", "--csv", "-", "--roc", "-", "a.part"},
                  "cannot both write standard output"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TuneUsage, ASettingNamedTwiceInASpaceFileNamesTheFileAndBothLines) {
  std::vector<tune::Dimension> space;
  EXPECT_EQ(tune::parseSpaceText("lowLevel 40 60\n# gap\nlowLevel 50 70\n", "s.txt", space),
            "s.txt:3: lowLevel is varied twice (also on line 1)");
}

TEST(TuneUsage, HelpAndVersionAnswerWithStatusZero) {
  SKIP_UNLESS_BUILT("velmora-tune");
  const auto help = runProgram("velmora-tune", {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: velmora-tune sweep", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("Example:"), std::string::npos);
  const auto version = runProgram("velmora-tune", {"search", "--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.out.find(VelmoraGetVersion()), std::string::npos) << version.out;
  EXPECT_EQ(runProgram("velmora-tune", {}).exitCode, 2);
}

TEST(TuneSearch, RankingIsSensitivityThenFewerAlarmsThenGenerationOrder) {
  tune::OutcomeCounts better;
  better.truePositives = 5;
  better.dailyLivingAlarms = 3;
  tune::OutcomeCounts fewerAlarms = better;
  fewerAlarms.dailyLivingAlarms = 2;
  tune::OutcomeCounts moreFound = better;
  moreFound.truePositives = 6;
  EXPECT_TRUE(tune::ranksBefore(moreFound, 9, better, 0));
  EXPECT_TRUE(tune::ranksBefore(fewerAlarms, 9, better, 0));
  EXPECT_TRUE(tune::ranksBefore(better, 1, better, 2));
  EXPECT_FALSE(tune::ranksBefore(better, 2, better, 1));
}

TEST(TuneSearch, SameSeedSameTrialsAndTheBudgetIsKept) {
  tune::SearchConfig config;
  VelmoraDefaultSettings(&config.base);
  std::string error;
  tune::Dimension low;
  ASSERT_EQ(tune::parseVary("lowLevel=40:100:2", low), "");
  tune::Dimension turn;
  ASSERT_EQ(tune::parseVary("turnRunMin=5:40", turn), "");
  config.space = {low, turn};
  config.trials = 40;
  config.maxFalseAlarmsPerHour = 1.0;
  // A made-up evaluator: more found with a higher lowLevel, alarms beyond 80.
  const tune::BatchEvaluator evaluate = [](const std::vector<DetectorSettings>& batch) {
    std::vector<std::vector<tune::OutcomeCounts>> counts;
    for (const DetectorSettings& s : batch) {
      tune::OutcomeCounts c;
      c.recordings = 100;
      c.truePositives = s.lowLevel + s.turnRunMin % 3;
      c.missed = 200 - c.truePositives;
      c.trueNegatives = 10;
      c.dailyLivingSamples = 180000;  // one hour
      c.dailyLivingAlarms = s.lowLevel > 80 ? 5 : 0;
      counts.push_back({c});
    }
    return counts;
  };
  const tune::SearchOutcome first = tune::runSearch(config, 11, evaluate);
  const tune::SearchOutcome again = tune::runSearch(config, 11, evaluate);
  ASSERT_EQ(first.trials.size(), 40u);
  ASSERT_TRUE(first.best.has_value());
  ASSERT_EQ(again.best, first.best);
  for (std::size_t i = 0; i < first.trials.size(); ++i) {
    EXPECT_EQ(again.trials[i].levels, first.trials[i].levels);
  }
  // The best within the limit: lowLevel 80, turnRunMin leaving 2 mod 3.
  const DetectorSettings best =
      tune::applyLevels(config.space, first.trials[*first.best].levels, config.base);
  EXPECT_EQ(best.lowLevel, 80);
  EXPECT_EQ(best.turnRunMin % 3, 2);
  // With one setting allowed to move, no candidate moves two.
  config.maxMoved = 1;
  const tune::SearchOutcome sparse = tune::runSearch(config, 11, evaluate);
  const tune::Levels base = sparse.trials.front().levels;
  for (const tune::Trial& trial : sparse.trials) {
    EXPECT_LE((trial.levels[0] != base[0]) + (trial.levels[1] != base[1]), 1);
  }
}

TEST(TuneFront, HoldsExactlyThePointsNoOtherPointBeats) {
  // (false alarms per hour, sensitivity)
  const std::vector<tune::RocPoint> points = {{0.0, 0.10}, {0.0, 0.20}, {1.0, 0.20}, {1.0, 0.50},
                                              {3.0, 0.40}, {4.0, 0.90}, {4.0, 0.90}};
  EXPECT_EQ(tune::paretoFront(points), (std::vector<std::size_t>{1, 3, 5}));
}

TEST(TuneRoc, ZeroToFivePerHourStaysWideAndTheFrontCarriesItsFiguresAndSettings) {
  EXPECT_EQ(tune::rocAxisTicks(150.0),
            (std::vector<double>{0, 0.5, 1, 2, 3, 5, 10, 20, 50, 100, 200}));
  EXPECT_EQ(tune::rocAxisTicks(0.2).back(), 5.0);
  EXPECT_EQ(tune::rocAxisPosition(0.0, 200.0), 0.0);
  // With points at 150 per hour, 0 to 5 still takes a third of the width.
  EXPECT_GT(tune::rocAxisPosition(5.0, 200.0), 0.33);

  tune::RocFigure figure;
  figure.points = {{0.0, 0.20, "lowLevel=60"}, {0.44, 0.424, "lowLevel=70"},
                   {3.0, 0.30, "lowLevel=80"}, {12.0, 0.61, "lowLevel=90"}};
  figure.budget = 1.0;
  const std::string svg = tune::rocSvg(figure);
  EXPECT_NE(svg.find("<title>lowLevel=70: sensitivity 42.4%, 0.44 false alarms per hour</title>"),
            std::string::npos)
      << svg;
  EXPECT_NE(svg.find(">42.4%, 0.44/h</text>"), std::string::npos);
  EXPECT_NE(svg.find(">budget 1/h</text>"), std::string::npos);
  EXPECT_EQ(svg.find("lowLevel=80"), std::string::npos);  // behind the front: no title
  EXPECT_NE(svg.find("best within it"), std::string::npos);
}

// Settings drawn mostly from the tuning ranges, sometimes far outside them
// and now and then anywhere the detector accepts.
DetectorSettings randomSettings(std::mt19937& random) {
  DetectorSettings settings{};
  VelmoraDefaultSettings(&settings);
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    const int64_t span = std::max<int64_t>(1, int64_t{field.tuneMax} - field.tuneMin);
    int64_t low = field.tuneMin;
    int64_t high = field.tuneMax;
    const int kind = std::uniform_int_distribution<int>(0, 9)(random);
    if (kind >= 9) {
      low = field.minimum;
      high = field.maximum;
    } else if (kind >= 7) {
      low = std::max<int64_t>(field.minimum, int64_t{field.defaultValue} - 3 * span);
      high = std::min<int64_t>(field.maximum, int64_t{field.defaultValue} + 3 * span);
    }
    settings.*(field.member) =
        static_cast<int32_t>(std::uniform_int_distribution<int64_t>(low, high)(random));
  }
  return settings;
}

TEST(TuneCache, MeasuredOnceAndDecidedPerCandidateEqualsFullReplayUnderRandomSettings) {
  const fs::path cases = testsupport::sharedDir() / "conformance" / "cases";
  if (testsupport::sharedDir().empty() || !fs::is_directory(cases)) {
    GTEST_SKIP() << "shared conformance cases not found next to the repository";
  }
  const auto found = velmora::evaluation::findRecordings({cases.string()}, ".csv");
  ASSERT_EQ(found.error, "");
  ASSERT_EQ(found.recordings.size(), 128u);
  const tune::RecordingCache cache = tune::loadCache(found.recordings, 2, {});
  std::vector<velmora::evaluation::LoadedRecording> loaded;
  for (const auto& entry : found.recordings) {
    loaded.push_back(velmora::evaluation::loadRecording(entry));
  }
  std::mt19937 random(20261208);
  for (int trial = 0; trial < 16; ++trial) {
    const DetectorSettings settings = randomSettings(random);
    ASSERT_EQ(VelmoraCheckSettings(settings), "");
    for (std::size_t r = 0; r < loaded.size(); ++r) {
      std::vector<int32_t> expected;
      if (loaded[r].readable()) {
        const auto context = std::make_unique<DetectorContext>();
        ASSERT_EQ(VelmoraSet(context.get(), &settings), 0);
        for (const SampleRecord& sample : loaded[r].samples) {
          expected.push_back(VelmoraProcess(context.get(), &sample));
        }
        VelmoraClose(context.get());
      }
      ASSERT_EQ(tune::replayCachedCodes(cache.recordings[r], settings), expected)
          << loaded[r].path << " with\n"
          << formatSettings(settings);
    }
  }
}

}  // namespace
