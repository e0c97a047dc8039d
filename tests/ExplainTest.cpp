// velmora-tune explain: its fixes checked against velmora-eval, its
// shortcut for threshold settings against running every value.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "DefaultSpace.h"
#include "EvalRecordings.h"
#include "Explain.h"
#include "ExplainOutput.h"
#include "RecordingCache.h"
#include "SettingsTable.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::TempDir;

#define SKIP_UNLESS_BUILT(program)                                        \
  if (!fs::exists(fs::path(VELMORA_BIN_DIR) / (program)))                 \
  GTEST_SKIP() << (program)                                               \
               << " was not built (left out at configure time; it needs " \
                  "the Debian package libre2-dev)"

// Base settings of the runs (one changed, so that the base is not simply
// the defaults).
const std::vector<std::string> kBase = {"--set", "gapMax=21"};

// Every scenario of the synthesiser under three seeds: with the defaults
// some falls are missed, for several reasons, and some jumps alarm.
void writeRecordings(const TempDir& dir) {
  for (const char* scenario : {"walking", "sit-down", "fall-forward", "fall-backward",
                               "fall-sideways", "fall-slow", "jump-down"}) {
    for (const char* seed : {"1", "2", "3"}) {
      const auto made = runProgram(
          "velmora-synth", {"--seed", seed, "--walk", "4", "--rest", "3", scenario,
                            (dir.path() / (std::string(scenario) + "_" + seed + ".csv")).string()});
      ASSERT_EQ(made.exitCode, 0) << made.err;
    }
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
  std::istringstream stream(line + ",");
  for (std::string field; std::getline(stream, field, ',');) {
    result.push_back(field);
  }
  return result;
}

struct EvalRun {
  std::map<std::string, std::string> outcomes;  // recording -> outcome
  std::map<std::string, std::string> metrics;
};

EvalRun evaluate(const TempDir& data, const TempDir& out, std::vector<std::string> sets) {
  std::vector<std::string> args = kBase;
  for (const std::string& set : sets) {
    args.insert(args.end(), {"--set", set});
  }
  const fs::path csv = out.path() / "eval.csv";
  const fs::path summary = out.path() / "summary.csv";
  args.insert(args.end(),
              {"--csv", csv.string(), "--summary-csv", summary.string(), data.path().string()});
  const auto run = runProgram("velmora-eval", args);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EvalRun result;
  for (const std::string& line : lines(readFile(csv))) {
    const std::vector<std::string> cells = fields(line);
    if (cells.size() >= 8) {
      result.outcomes[cells[0]] = cells[7];
    }
  }
  for (const std::string& line : lines(readFile(summary))) {
    const std::vector<std::string> cells = fields(line);
    if (cells.size() >= 3 && cells[0].empty()) {
      result.metrics[cells[1]] = cells[2];
    }
  }
  return result;
}

TEST(TuneExplain, SampledFixesAreTheNearestRightValuesAndCostWhatVelmoraEvalSays) {
  SKIP_UNLESS_BUILT("velmora-tune");
  SKIP_UNLESS_BUILT("velmora-eval");
  SKIP_UNLESS_BUILT("velmora-synth");
  const TempDir data;
  writeRecordings(data);
  const TempDir out;
  std::vector<std::vector<std::string>> outputs;
  for (const char* jobs : {"1", "2"}) {
    const fs::path csv = out.path() / (std::string("fixes") + jobs + ".csv");
    const fs::path json = out.path() / (std::string("fixes") + jobs + ".json");
    std::vector<std::string> args = {"explain",    "-j",     jobs,         "--csv",
                                     csv.string(), "--json", json.string()};
    args.insert(args.end(), kBase.begin(), kBase.end());
    args.push_back(data.path().string());
    const auto run = runProgram("velmora-tune", args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    outputs.push_back({run.out, readFile(csv), readFile(json)});
  }
  EXPECT_EQ(outputs[0], outputs[1]) << "the output depends on -j";

  const std::vector<std::string> rows = lines(outputs[0][1]);
  ASSERT_GT(rows.size(), 8u) << outputs[0][1];
  const std::vector<std::string> header = fields(rows[0]);
  const std::vector<std::string> expected = tune::explainCsvColumns();
  ASSERT_GE(header.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(header.begin(), header.begin() + 12), expected);
  bool sawMissed = false;
  bool sawFalseAlarm = false;
  // Every few rows, so that each kind of setting and both sides come up.
  for (std::size_t r = 1; r < rows.size(); r += 2) {
    const std::vector<std::string> row = fields(rows[r]);
    const std::string& recording = row[0];
    const std::string& setting = row[2];
    const int64_t baseValue = std::stoll(row[4]);
    const int64_t fixValue = std::stoll(row[5]);
    sawMissed = sawMissed || row[1] == "missed";
    sawFalseAlarm = sawFalseAlarm || row[1] == "false_alarm";
    const bool fall = row[1] != "false_alarm";
    const EvalRun fixed = evaluate(data, out, {setting + "=" + row[5]});
    EXPECT_EQ(fixed.outcomes.at(recording), fall ? "tp" : "tn") << rows[r];
    EXPECT_EQ(fixed.metrics.at("sensitivity"), row[10]) << rows[r];
    EXPECT_EQ(fixed.metrics.at("false_alarms_per_hour"), row[11]) << rows[r];
    const EvalRun base = evaluate(data, out, {});
    EXPECT_EQ(std::stoll(fixed.metrics.at("daily_living_alarms")) -
                  std::stoll(base.metrics.at("daily_living_alarms")),
              std::stoll(row[8]) - std::stoll(row[9]))
        << rows[r];
    // The value one nearer the base does not make it right.
    const int64_t nearer = fixValue + (fixValue > baseValue ? -1 : 1);
    if (nearer != baseValue) {
      const EvalRun closer = evaluate(data, out, {setting + "=" + std::to_string(nearer)});
      EXPECT_NE(closer.outcomes.at(recording), fall ? "tp" : "tn") << rows[r];
    }
  }
  EXPECT_TRUE(sawMissed && sawFalseAlarm);
}

TEST(TuneExplain, ExplainedReportCaptionsTheFiguresAndPutsThemBeforeTheTable) {
  SKIP_UNLESS_BUILT("velmora-eval");
  SKIP_UNLESS_BUILT("velmora-synth");
  const TempDir data;
  writeRecordings(data);
  const TempDir out;
  const fs::path plain = out.path() / "plain.html";
  const fs::path explained = out.path() / "explained.html";
  ASSERT_EQ(runProgram("velmora-eval", {"--html", plain.string(), data.path().string()}).exitCode,
            0);
  const auto run =
      runProgram("velmora-eval", {"--explain", "--html", explained.string(), data.path().string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string page = readFile(explained);
  EXPECT_NE(page.find("<section id=\"causes\">"), std::string::npos);
  EXPECT_NE(page.find("id=\"cause-chart\""), std::string::npos);
  EXPECT_NE(page.find("<li>caught with "), std::string::npos);
  EXPECT_NE(page.find("<li>silenced with "), std::string::npos);
  EXPECT_LT(page.find("<section id=\"figures\">"), page.find("<section id=\"recordings\">"));
  EXPECT_NE(page.find("startsWith('fig-')"), std::string::npos);
  const std::string before = readFile(plain);
  EXPECT_GT(before.find("<section id=\"figures\">"), before.find("<section id=\"recordings\">"));
  EXPECT_EQ(before.find("id=\"causes\""), std::string::npos);
  EXPECT_EQ(runProgram("velmora-eval", {"--explain", data.path().string()}).exitCode, 2);
}

TEST(TuneExplain, ThresholdSettingsGiveTheFixesAndCostsOfRunningEveryValue) {
  SKIP_UNLESS_BUILT("velmora-synth");
  const TempDir data;
  writeRecordings(data);
  const auto found = velmora::evaluation::findRecordings({data.path().string()}, ".csv");
  const tune::RecordingCache cache = tune::loadCache(found.recordings, 2, {});
  tune::ExplainConfig config;
  VelmoraDefaultSettings(&config.base);
  // The threshold settings over wide ranges, the base outside some of them.
  for (const auto& [name, low, high] :
       std::vector<std::tuple<const char*, int32_t, int32_t>>{{"impactMin", 100, 260},
                                                              {"rollLimit", 10, 80},
                                                              {"pitchMax", -10, 60},
                                                              {"pitchUprightMin", -90, -40},
                                                              {"stillExitLevel", 95, 140},
                                                              {"turnGyroLevel", 50, 300},
                                                              {"burstHigh", 900, 2200},
                                                              {"burstLow", 600, 1150},
                                                              {"postPeakMin", 0, 600},
                                                              {"gyroAvgHigh", 100, 500}}) {
    config.space.push_back(tune::Dimension{VelmoraFindSetting(name), low, high, 1});
  }
  // Every value of a class gives the codes of the value that stands for it.
  std::size_t distinct = 0;
  for (std::size_t d = 0; d < config.space.size(); ++d) {
    const tune::Dimension& dimension = config.space[d];
    for (const tune::CachedRecording& recording : cache.recordings) {
      const std::vector<int32_t> keys = tune::behaviourClasses(recording, config, d);
      std::map<int32_t, std::vector<int32_t>> codesOf;
      for (int32_t v = dimension.low; v <= dimension.high; ++v) {
        const int32_t key = keys[static_cast<std::size_t>(v - dimension.low)];
        DetectorSettings settings = config.base;
        settings.*dimension.field->member = v;
        const std::vector<int32_t> codes = tune::replayCachedCodes(recording, settings);
        const auto [known, added] = codesOf.emplace(key, codes);
        ASSERT_EQ(codes, known->second)
            << dimension.name() << "=" << v << " against " << key << " on " << recording.name;
        distinct += added ? 1 : 0;
      }
    }
  }
  EXPECT_GT(distinct, 10 * config.space.size());
  const tune::Explanation classes = tune::explainRecordings(cache, config);
  config.everyValue = true;
  const tune::Explanation every = tune::explainRecordings(cache, config);
  ASSERT_EQ(classes.errors.size(), every.errors.size());
  ASSERT_FALSE(classes.errors.empty());
  std::size_t fixes = 0;
  for (std::size_t e = 0; e < classes.errors.size(); ++e) {
    ASSERT_EQ(classes.errors[e].fixes.size(), every.errors[e].fixes.size());
    for (std::size_t f = 0; f < classes.errors[e].fixes.size(); ++f) {
      EXPECT_EQ(classes.errors[e].fixes[f].value, every.errors[e].fixes[f].value);
      EXPECT_EQ(classes.errors[e].fixes[f].side, every.errors[e].fixes[f].side);
      ++fixes;
    }
  }
  EXPECT_GT(fixes, 3u);
  EXPECT_EQ(tune::explainCsv(classes), tune::explainCsv(every));
  EXPECT_LT(classes.candidateSamples, every.candidateSamples);
}

}  // namespace
