#include "PartFile.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "Digest.h"
#include "EvalGroups.h"
#include "EvalRender.h"
#include "Provenance.h"
#include "SettingsTable.h"

namespace tune {

using velmora::evaluation::doubleText;

namespace {

constexpr char kMagicPrefix[] = "velmora-tune part ";

std::string magicLine() { return kMagicPrefix + std::to_string(kPartFormatVersion); }

// Tokens are separated by single spaces; bytes that would break that (and
// '%' itself) are written as %XX, and the empty token as a lone '%'.
std::string escape(const std::string& text) {
  if (text.empty()) {
    return "%";
  }
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == '%' || byte == 0x7f) {
      char buffer[4];
      std::snprintf(buffer, sizeof buffer, "%%%02X", byte);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out;
}

bool unescape(const std::string& token, std::string& text) {
  text.clear();
  if (token == "%") {
    return true;
  }
  for (std::size_t i = 0; i < token.size(); ++i) {
    if (token[i] != '%') {
      text += token[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= token.size()) {
      return false;
    }
    const auto [end, error] =
        std::from_chars(token.data() + i + 1, token.data() + i + 3, value, 16);
    if (error != std::errc() || end != token.data() + i + 3) {
      return false;
    }
    text += static_cast<char>(value);
    i += 2;
  }
  return true;
}

std::string hex(uint64_t value) {
  char buffer[17];
  std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(value));
  return buffer;
}

// Reads what hex() writes.
bool fromHex(const std::string& text, uint64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return text.size() == 16 && error == std::errc() && end == text.data() + text.size();
}

std::string countsText(const OutcomeCounts& c) {
  std::string text;
  for (const int64_t value :
       {c.recordings, c.unreadable, c.truePositives, c.missed, c.earlyAlarms, c.falseAlarms,
        c.trueNegatives, c.dailyLivingSamples, c.dailyLivingAlarms}) {
    text += " " + std::to_string(value);
  }
  return text;
}

std::string commonConfig(const char* kind, uint64_t dataFingerprint, int64_t toleranceSamples,
                         const DetectorSettings& base, const std::vector<Dimension>& space) {
  std::string text = std::string("kind ") + kind + "\n";
  text += "data " + hex(dataFingerprint) + "\n";
  text += "tolerance " + std::to_string(toleranceSamples) + "\n";
  text += "base";
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    text += " " + std::to_string(base.*(field.member));
  }
  text += "\n";
  for (const Dimension& dimension : space) {
    text += std::string("space ") + dimension.name() + " " + std::to_string(dimension.low) + " " +
            std::to_string(dimension.high) + " " + std::to_string(dimension.step) + "\n";
  }
  return text;
}

// A line split at single spaces.
std::vector<std::string> tokens(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= line.size()) {
    const auto space = line.find(' ', start);
    out.push_back(
        line.substr(start, space == std::string::npos ? std::string::npos : space - start));
    if (space == std::string::npos) {
      break;
    }
    start = space + 1;
  }
  return out;
}

bool toInt64(const std::string& text, int64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

bool toCount(const std::string& text, int64_t& value) {
  return toInt64(text, value) && value >= 0 && value <= kMaxPartCount;
}

// Whether the token is a whole number, but one out of a count's range.
bool countOutOfRange(const std::string& token) {
  const std::size_t sign = token.rfind('-', 0) == 0 ? 1 : 0;
  int64_t value = 0;
  return token.size() > sign &&
         token.find_first_not_of("0123456789", sign) == std::string::npos &&
         !toCount(token, value);
}

bool readCounts(const std::vector<std::string>& t, std::size_t first, OutcomeCounts& c) {
  if (t.size() != first + 9) {
    return false;
  }
  int64_t* fields[] = {&c.recordings,    &c.unreadable,         &c.truePositives,
                       &c.missed,        &c.earlyAlarms,        &c.falseAlarms,
                       &c.trueNegatives, &c.dailyLivingSamples, &c.dailyLivingAlarms};
  for (std::size_t i = 0; i < 9; ++i) {
    if (!toCount(t[first + i], *fields[i])) {
      return false;
    }
  }
  return true;
}

// `into` += `c`, unless a count would overflow (read counts may be huge).
bool addWithoutOverflow(OutcomeCounts& into, const OutcomeCounts& c) {
  int64_t* to[] = {&into.recordings,    &into.unreadable,         &into.truePositives,
                   &into.missed,        &into.earlyAlarms,        &into.falseAlarms,
                   &into.trueNegatives, &into.dailyLivingSamples, &into.dailyLivingAlarms};
  const int64_t from[] = {c.recordings,    c.unreadable,         c.truePositives,
                          c.missed,        c.earlyAlarms,        c.falseAlarms,
                          c.trueNegatives, c.dailyLivingSamples, c.dailyLivingAlarms};
  for (std::size_t i = 0; i < std::size(from); ++i) {
    if (__builtin_add_overflow(*to[i], from[i], to[i])) {
      return false;
    }
  }
  return true;
}

// The recordings a set of counts covers, in the terms of the run's totals.
RunTotals coverageOf(const OutcomeCounts& c) {
  return RunTotals{c.recordings, c.unreadable, c.fallRecordings(), c.falseAlarms + c.trueNegatives,
                   c.dailyLivingSamples};
}

RunTotals operator+(const RunTotals& a, const RunTotals& b) {
  return RunTotals{a.recordings + b.recordings, a.unreadable + b.unreadable,
                   a.fallRecordings + b.fallRecordings,
                   a.dailyLivingRecordings + b.dailyLivingRecordings,
                   a.dailyLivingSamples + b.dailyLivingSamples};
}

// Whether counts (each within kMaxPartCount, so no sum overflows) can come
// from one evaluation: every recording has one outcome, a daily-living
// recording with a detection has at least one alarm and one without has
// none, and an alarm takes at least one sample.
bool countsCanBe(const OutcomeCounts& c) {
  const RunTotals covered = coverageOf(c);
  return c.recordings == c.unreadable + covered.fallRecordings + covered.dailyLivingRecordings &&
         c.dailyLivingAlarms >= c.falseAlarms && (c.falseAlarms > 0 || c.dailyLivingAlarms == 0) &&
         c.dailyLivingAlarms <= c.dailyLivingSamples;
}

}  // namespace

std::string parseShard(const std::string& text, Shard& shard) {
  const auto slash = text.find('/');
  const std::optional<int32_t> index =
      slash == std::string::npos ? std::nullopt : parseInt32(text.substr(0, slash));
  const std::optional<int32_t> count =
      slash == std::string::npos ? std::nullopt : parseInt32(text.substr(slash + 1));
  if (!index || !count || *count < 1 || *index < 1 || *index > *count) {
    return "--shard: expected K/N with 1 <= K <= N, got '" + text + "'";
  }
  if (*count > kMaxShards) {
    return "--shard: at most " + std::to_string(kMaxShards) + " shards, got '" + text + "'";
  }
  shard = Shard{*index, *count};
  return {};
}

std::string sweepConfig(const SweepResults& results, uint64_t dataFingerprint,
                        int64_t toleranceSamples) {
  return commonConfig("sweep", dataFingerprint, toleranceSamples, results.base, results.space);
}

std::string searchConfig(const SearchResults& results, uint64_t dataFingerprint,
                         int64_t toleranceSamples) {
  std::string text = commonConfig("search", dataFingerprint, toleranceSamples, results.config.base,
                                  results.config.space);
  text += "seed " + std::to_string(results.seed) + "\n";
  text += "trials " + std::to_string(results.config.trials) + "\n";
  text += "select " + selectionText(results.config.rule) + "\n";
  text += "max-moved " + std::to_string(results.config.maxMoved) + "\n";
  text += "max-fa " + doubleText(results.config.maxFalseAlarmsPerHour) + "\n";
  text += "folds " + std::to_string(results.folds) + "\n";
  if (results.groupKey.kind == velmora::evaluation::GroupKey::Kind::Column) {
    text +=
        "group-by-column " + escape(results.groupKey.text) + " " + hex(results.groupsDigest) + "\n";
  } else {
    text += "group-by " + escape(results.groupKey.text) + "\n";
  }
  for (std::size_t f = 0; f < results.foldGroups.size(); ++f) {
    text += "fold " + std::to_string(f + 1);
    for (const std::string& group : results.foldGroups[f]) {
      text += " " + escape(group);
    }
    text += "\n";
  }
  return text;
}

uint64_t fingerprintOf(const std::string& config) {
  Digest digest;
  digest.add(config);
  return digest.value();
}

RunTotals runTotals(const RecordingCache& cache) {
  RunTotals totals;
  for (const CachedRecording& recording : cache.recordings) {
    const LoadedRecording& loaded = recording.loaded;
    ++totals.recordings;
    if (!loaded.readable()) {
      ++totals.unreadable;
    } else if (loaded.isFall) {
      ++totals.fallRecordings;
    } else {
      ++totals.dailyLivingRecordings;
      totals.dailyLivingSamples += loaded.dataLines;
    }
  }
  return totals;
}

std::string formatPart(const Part& part) {
  std::string text = magicLine() + "\n";
  text +=
      "shard " + std::to_string(part.shard.index) + " " + std::to_string(part.shard.count) + "\n";
  text += "fingerprint " + hex(part.fingerprint) + "\n";
  text += "command " + escape(part.command) + "\n";
  text += part.config;
  text += "end-config\n";
  const RunTotals& totals = part.totals;
  text += "totals " + std::to_string(totals.recordings) + " " + std::to_string(totals.unreadable) +
          " " + std::to_string(totals.fallRecordings) + " " +
          std::to_string(totals.dailyLivingRecordings) + " " +
          std::to_string(totals.dailyLivingSamples) + "\n";
  for (const RecordingProblem& problem : part.problems) {
    text += std::string("problem ") + (problem.unreadable ? "1" : "0") + " " +
            escape(problem.path) + " " + escape(problem.message) + "\n";
  }
  if (part.kind == RunKind::Sweep) {
    for (const SweepPointResult& point : part.sweep.points) {
      text += "point " + std::to_string(point.index) + countsText(point.counts) + "\n";
    }
    if (part.sweep.baseCounts) {
      text += "base-counts" + countsText(*part.sweep.baseCounts) + "\n";
    }
  } else {
    const SearchResults& search = part.search;
    for (const std::string& fingerprint : search.tunedOn) {
      text += "tuned-on " + fingerprint + "\n";
    }
    for (std::size_t s = 0; s < search.searches.size(); ++s) {
      const auto& run = search.searches[s];
      if (!run) {
        continue;
      }
      const std::string prefix = std::to_string(s);
      text += "search " + prefix + " " + std::to_string(run->outcome.trials.size()) + "\n";
      for (const Trial& trial : run->outcome.trials) {
        text += "trial " + prefix;
        for (const int64_t level : trial.levels) {
          text += " " + std::to_string(level);
        }
        text += countsText(trial.counts) + (trial.feasible ? " 1" : " 0") + "\n";
      }
      if (run->outcome.best) {
        text += "best " + prefix + " " + std::to_string(*run->outcome.best) + "\n";
      }
      if (run->heldOut) {
        text += "held-out " + prefix + countsText(*run->heldOut) + "\n";
      }
      if (run->baseHeldOut) {
        text += "base-held-out " + prefix + countsText(*run->baseHeldOut) + "\n";
      }
      for (std::size_t g = 0; g < run->heldOutGroups.size(); ++g) {
        text += "held-out-group " + prefix + " " + std::to_string(g) +
                countsText(run->heldOutGroups[g]) + "\n";
      }
    }
    if (search.baseCounts) {
      text += "base-counts" + countsText(*search.baseCounts) + "\n";
    }
  }
  text += "end\n";
  return text;
}

std::string parsePart(const std::string& text, const std::string& origin, Part& part) {
  part = Part{};
  std::istringstream stream(text);
  std::string line;
  int lineNumber = 0;
  const auto fail = [&](const std::string& what) {
    return origin + ":" + std::to_string(lineNumber) + ": " + what;
  };
  const auto next = [&]() {
    ++lineNumber;
    return static_cast<bool>(std::getline(stream, line));
  };
  if (!next() || line.rfind(kMagicPrefix, 0) != 0) {
    return origin + ": not a velmora-tune part file";
  }
  if (line != magicLine()) {
    return origin + ": a part file of format version '" + line.substr(sizeof kMagicPrefix - 1) +
           "'; this velmora-tune reads version " + std::to_string(kPartFormatVersion) +
           " only: write the parts again with it";
  }
  int64_t value = 0;
  // Header.
  std::vector<std::string> t;
  if (!next() || (t = tokens(line)).size() != 3 || t[0] != "shard") {
    return fail("expected the shard line");
  }
  int64_t index = 0;
  int64_t count = 0;
  if (!toInt64(t[1], index) || !toInt64(t[2], count) || count < 1 || index < 1 || index > count ||
      count > kMaxShards) {
    return fail("bad shard numbers");
  }
  part.shard = Shard{static_cast<int>(index), static_cast<int>(count)};
  if (!next() || (t = tokens(line)).size() != 2 || t[0] != "fingerprint") {
    return fail("expected the fingerprint line");
  }
  if (!next() || (t = tokens(line)).size() != 2 || t[0] != "command" ||
      !unescape(t[1], part.command)) {
    return fail("expected the command line");
  }
  // Configuration, kept verbatim and read back.
  bool search = false;
  bool configEnded = false;
  std::set<std::string> seenDimensions;
  while (next()) {
    if (line == "end-config") {
      configEnded = true;
      break;
    }
    part.config += line + "\n";
    t = tokens(line);
    const std::string& key = t[0];
    if (key == "kind" && t.size() == 2 && (t[1] == "sweep" || t[1] == "search")) {
      search = t[1] == "search";
      part.kind = search ? RunKind::Search : RunKind::Sweep;
    } else if ((key == "data" && t.size() == 2) || (key == "tolerance" && t.size() == 2)) {
      // Only compared between parts, through the fingerprint.
    } else if (key == "base" && t.size() == VelmoraSettingsTable().size() + 1) {
      DetectorSettings base{};
      for (std::size_t i = 0; i < VelmoraSettingsTable().size(); ++i) {
        const std::optional<int32_t> setting = parseInt32(t[i + 1]);
        if (!setting) {
          return fail("bad base settings");
        }
        base.*(VelmoraSettingsTable()[i].member) = *setting;
      }
      part.sweep.base = base;
      part.search.config.base = base;
    } else if (key == "space" && t.size() == 5) {
      Dimension dimension;
      if (std::string error = parseVary(t[1] + "=" + t[2] + ":" + t[3] + ":" + t[4], dimension);
          !error.empty() || !seenDimensions.insert(t[1]).second) {
        return fail("bad space line");
      }
      part.sweep.space.push_back(dimension);
      part.search.config.space.push_back(dimension);
    } else if (key == "seed" && t.size() == 2) {
      const auto [end, error] =
          std::from_chars(t[1].data(), t[1].data() + t[1].size(), part.search.seed);
      if (error != std::errc() || end != t[1].data() + t[1].size()) {
        return fail("bad seed");
      }
    } else if (key == "trials" && t.size() == 2 && toInt64(t[1], value) && value > 0) {
      part.search.config.trials = value;
    } else if (key == "select" && t.size() == 2) {
      if (!parseSelection(t[1], part.search.config.rule).empty()) {
        return fail("bad selection rule");
      }
    } else if (key == "max-moved" && t.size() == 2 && toInt64(t[1], value) && value >= 0 &&
               value <= INT32_MAX) {
      part.search.config.maxMoved = static_cast<int>(value);
    } else if (key == "max-fa" && t.size() == 2) {
      double limit = 0.0;
      const auto [end, error] = std::from_chars(t[1].data(), t[1].data() + t[1].size(), limit);
      if (error != std::errc() || end != t[1].data() + t[1].size()) {
        return fail("bad false-alarm limit");
      }
      part.search.config.maxFalseAlarmsPerHour = limit;
    } else if (key == "folds" && t.size() == 2 && toInt64(t[1], value) && value >= 2 &&
               value <= 1'000'000) {
      part.search.folds = static_cast<int>(value);
    } else if (key == "group-by" && t.size() == 2 && unescape(t[1], part.search.groupKey.text)) {
      part.search.groupKey.kind = velmora::evaluation::GroupKey::Kind::Pattern;
    } else if (key == "group-by-column" && t.size() == 3 &&
               unescape(t[1], part.search.groupKey.text) &&
               fromHex(t[2], part.search.groupsDigest)) {
      part.search.groupKey.kind = velmora::evaluation::GroupKey::Kind::Column;
    } else if (key == "fold" && t.size() >= 2 && toInt64(t[1], value) &&
               value == static_cast<int64_t>(part.search.foldGroups.size()) + 1) {
      std::vector<std::string> groups;
      for (std::size_t i = 2; i < t.size(); ++i) {
        std::string group;
        if (!unescape(t[i], group)) {
          return fail("bad group name");
        }
        groups.push_back(group);
      }
      part.search.foldGroups.push_back(groups);
    } else {
      return fail("unexpected configuration line");
    }
  }
  if (!configEnded) {
    return fail("the part ends early");
  }
  part.fingerprint = fingerprintOf(part.config);
  {
    std::string stated;
    std::istringstream header(text);
    std::string magic;
    std::string shardLine;
    std::getline(header, magic);
    std::getline(header, shardLine);
    std::getline(header, stated);
    if (stated != "fingerprint " + hex(part.fingerprint)) {
      return origin + ": the fingerprint does not match the part's configuration";
    }
  }
  if (search) {
    if (part.search.folds < 2 ||
        static_cast<int>(part.search.foldGroups.size()) != part.search.folds) {
      return fail("the folds are incomplete");
    }
    part.search.searches.assign(static_cast<std::size_t>(part.search.folds) + 1, std::nullopt);
  }
  if (!next() || (t = tokens(line)).size() != 6 || t[0] != "totals") {
    return fail("expected the totals line");
  }
  RunTotals& totals = part.totals;
  for (auto [field, i] : {std::pair{&totals.recordings, 1}, {&totals.unreadable, 2},
                          {&totals.fallRecordings, 3}, {&totals.dailyLivingRecordings, 4},
                          {&totals.dailyLivingSamples, 5}}) {
    if (!toCount(t[static_cast<std::size_t>(i)], *field)) {
      return fail("bad totals (each a whole number from 0 to " + std::to_string(kMaxPartCount) +
                  ")");
    }
  }
  if (totals.recordings !=
      totals.unreadable + totals.fallRecordings + totals.dailyLivingRecordings) {
    return fail("the totals do not add up to the recordings");
  }
  const int totalsLine = lineNumber;
  const std::size_t dimensions = part.sweep.space.size();
  const auto searchIndex = [&](const std::string& token) -> std::optional<std::size_t> {
    int64_t s = 0;
    if (!toInt64(token, s) || s < 0 || s >= static_cast<int64_t>(part.search.searches.size()) ||
        !part.search.searches[static_cast<std::size_t>(s)]) {
      return std::nullopt;
    }
    return static_cast<std::size_t>(s);
  };
  const auto searchAt = [&](const std::string& token) -> SearchRunResult* {
    const std::optional<std::size_t> s = searchIndex(token);
    return s ? &*part.search.searches[*s] : nullptr;
  };
  // Per search, the trial count its line states and the recordings its
  // trials and its held-out figures cover: each trial covers the same
  // recordings, the held-out figures the rest of the run's.
  struct SearchCoverage {
    int64_t statedTrials = 0;
    std::optional<RunTotals> trained;
    std::optional<RunTotals> heldOut;
  };
  std::vector<SearchCoverage> coverage(part.search.searches.size());
  // Why counts on this line cannot be part of the run, or "".
  const auto checkCounts = [&](const OutcomeCounts& counts, std::optional<RunTotals>* seen,
                               std::size_t s) -> std::string {
    if (!countsCanBe(counts)) {
      return fail("counts that cannot be: the outcomes do not add up to the recordings, or the "
                  "alarms do not fit the false alarms and samples");
    }
    const RunTotals covered = coverageOf(counts);
    if (seen == nullptr) {
      return covered == totals ? std::string()
                               : fail("counts over other recordings than the run's totals");
    }
    if (*seen && **seen != covered) {
      return fail("counts over other recordings than the search's other counts");
    }
    *seen = covered;
    SearchCoverage& c = coverage[s];
    const bool allData = s + 1 == coverage.size();
    if ((allData && covered != totals) ||
        (c.trained && c.heldOut && *c.trained + *c.heldOut != totals)) {
      return fail("the search's counts and held-out counts do not cover the run's totals");
    }
    return {};
  };
  bool ended = false;
  while (next()) {
    if (line == "end") {
      ended = true;
      break;
    }
    t = tokens(line);
    const std::string& key = t[0];
    OutcomeCounts counts;
    std::string error;
    if (key == "problem" && t.size() == 4 && (t[1] == "0" || t[1] == "1")) {
      RecordingProblem problem;
      problem.unreadable = t[1] == "1";
      if (!unescape(t[2], problem.path) || !unescape(t[3], problem.message)) {
        return fail("bad problem line");
      }
      part.problems.push_back(problem);
    } else if (key == "tuned-on" && search && t.size() == 2) {
      velmora::evaluation::SettingsProvenance read;
      if (!velmora::evaluation::readTunedOn(std::string(velmora::evaluation::kTunedOnPrefix) + t[1],
                                            origin, read)
               .empty()) {
        return fail("bad tuned-on line");
      }
      part.search.tunedOn.push_back(t[1]);
    } else if (key == "point" && !search && t.size() == 11 && toInt64(t[1], value) && value >= 0 &&
               readCounts(t, 2, counts)) {
      error = checkCounts(counts, nullptr, 0);
      part.sweep.points.push_back(SweepPointResult{value, counts});
    } else if (key == "base-counts" && readCounts(t, 1, counts)) {
      error = checkCounts(counts, nullptr, 0);
      (search ? part.search.baseCounts : part.sweep.baseCounts) = counts;
    } else if (key == "search" && search && t.size() == 3 && toInt64(t[1], value) && value >= 0 &&
               value < static_cast<int64_t>(part.search.searches.size()) &&
               !part.search.searches[static_cast<std::size_t>(value)] &&
               toCount(t[2], coverage[static_cast<std::size_t>(value)].statedTrials)) {
      part.search.searches[static_cast<std::size_t>(value)] = SearchRunResult{};
    } else if (key == "trial" && search && t.size() == 2 + dimensions + 9 + 1 && searchAt(t[1]) &&
               readCounts(std::vector<std::string>(t.begin(), t.end() - 1), 2 + dimensions,
                          counts) &&
               (t.back() == "0" || t.back() == "1")) {
      const std::size_t s = *searchIndex(t[1]);
      error = checkCounts(counts, &coverage[s].trained, s);
      Trial trial;
      for (std::size_t d = 0; d < dimensions; ++d) {
        if (!toInt64(t[2 + d], value) || value < 0 || value >= part.sweep.space[d].levels()) {
          return fail("bad trial line");
        }
        trial.levels.push_back(value);
      }
      trial.counts = counts;
      // Some rules judge a trial by figures the part does not keep (per
      // person, or its neighbours'): the search's verdict is written out.
      trial.feasible = t.back() == "1";
      searchAt(t[1])->outcome.trials.push_back(trial);
    } else if (key == "best" && search && t.size() == 3 && searchAt(t[1]) && toInt64(t[2], value) &&
               value >= 0 && value < static_cast<int64_t>(searchAt(t[1])->outcome.trials.size())) {
      searchAt(t[1])->outcome.best = static_cast<std::size_t>(value);
    } else if ((key == "held-out" || key == "base-held-out") && search && searchAt(t[1]) &&
               *searchIndex(t[1]) + 1 < coverage.size() && readCounts(t, 2, counts)) {
      const std::size_t s = *searchIndex(t[1]);
      error = checkCounts(counts, &coverage[s].heldOut, s);
      (key == "held-out" ? searchAt(t[1])->heldOut : searchAt(t[1])->baseHeldOut) = counts;
    } else if (key == "held-out-group" && search && t.size() == 3 + 9 && searchAt(t[1]) &&
               toInt64(t[2], value) &&
               value == static_cast<int64_t>(searchAt(t[1])->heldOutGroups.size()) &&
               readCounts(t, 3, counts)) {
      // One line per group of the fold, in the fold's order.
      if (!countsCanBe(counts)) {
        return fail("counts that cannot be: the outcomes do not add up to the recordings, or the "
                    "alarms do not fit the false alarms and samples");
      }
      searchAt(t[1])->heldOutGroups.push_back(counts);
    } else if (std::any_of(t.begin() + 1, t.end(), countOutOfRange)) {
      return fail("a number out of range (counts lie in 0.." + std::to_string(kMaxPartCount) + ")");
    } else {
      return fail("unexpected line");
    }
    if (!error.empty()) {
      return error;
    }
  }
  if (!ended) {
    return fail("the part ends early (no end line)");
  }
  // A fold's held-out figures come per group, one for each of its groups,
  // and add up to the fold's.
  for (int f = 0; search && f < part.search.folds; ++f) {
    const auto& run = part.search.searches[static_cast<std::size_t>(f)];
    if (!run || !run->heldOut) {
      continue;
    }
    OutcomeCounts sum;
    bool overflow = false;
    for (const OutcomeCounts& c : run->heldOutGroups) {
      overflow = overflow || !addWithoutOverflow(sum, c);
    }
    if (overflow ||
        run->heldOutGroups.size() != part.search.foldGroups[static_cast<std::size_t>(f)].size() ||
        !(sum == *run->heldOut)) {
      return origin + ": the held-out figures of search " + std::to_string(f) +
             " do not match its groups'";
    }
  }
  for (std::size_t s = 0; s < coverage.size(); ++s) {
    if (part.search.searches[s] &&
        static_cast<int64_t>(part.search.searches[s]->outcome.trials.size()) !=
            coverage[s].statedTrials) {
      return origin + ": search " + std::to_string(s) + " states " +
             std::to_string(coverage[s].statedTrials) + " trials but holds " +
             std::to_string(part.search.searches[s]->outcome.trials.size());
    }
  }
  const auto unreadable = std::count_if(part.problems.begin(), part.problems.end(),
                                        [](const RecordingProblem& p) { return p.unreadable; });
  if (unreadable != totals.unreadable) {
    lineNumber = totalsLine;
    return fail("the totals name " + std::to_string(totals.unreadable) +
                " unreadable recordings, the problem lines " + std::to_string(unreadable));
  }
  return {};
}

std::string mergeParts(const std::vector<Part>& parts, const std::vector<std::string>& origins,
                       Part& merged) {
  if (parts.empty()) {
    return "no part files given";
  }
  const Part& first = parts.front();
  std::map<int, std::size_t> byShard;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const Part& part = parts[i];
    if (part.fingerprint != first.fingerprint || part.config != first.config ||
        part.command != first.command) {
      return origins[i] + " belongs to another run than " + origins[0] +
             " (other data, settings, space, seed or options); parts of different runs do not "
             "merge";
    }
    if (part.totals != first.totals) {
      return origins[i] + " states other recording totals than " + origins[0] +
             "; parts of one run cover the same recordings";
    }
    if (part.shard.count != first.shard.count) {
      return origins[i] + " is shard " + std::to_string(part.shard.index) + " of " +
             std::to_string(part.shard.count) + ", " + origins[0] + " one of " +
             std::to_string(first.shard.count);
    }
    if (!byShard.emplace(part.shard.index, i).second) {
      return origins[i] + " repeats shard " + std::to_string(part.shard.index) + " (also in " +
             origins[byShard[part.shard.index]] + ")";
    }
  }
  std::string missing;
  for (int k = 1; k <= first.shard.count; ++k) {
    if (byShard.count(k) == 0) {
      missing += (missing.empty() ? "" : ", ") + std::to_string(k);
    }
  }
  if (!missing.empty()) {
    return "missing shard(s) " + missing + " of " + std::to_string(first.shard.count);
  }
  merged = first;
  merged.shard = Shard{1, 1};
  // Problems are facts about the data, the same in every part.
  if (merged.kind == RunKind::Sweep) {
    merged.sweep.points.clear();
    merged.sweep.baseCounts.reset();
    for (const auto& [index, at] : byShard) {
      const SweepResults& sweep = parts[at].sweep;
      merged.sweep.points.insert(merged.sweep.points.end(), sweep.points.begin(),
                                 sweep.points.end());
      if (sweep.baseCounts) {
        merged.sweep.baseCounts = sweep.baseCounts;
      }
    }
    std::sort(
        merged.sweep.points.begin(), merged.sweep.points.end(),
        [](const SweepPointResult& a, const SweepPointResult& b) { return a.index < b.index; });
    const int64_t expected = gridSize(merged.sweep.space);
    if (static_cast<int64_t>(merged.sweep.points.size()) != expected) {
      return "the parts hold " + std::to_string(merged.sweep.points.size()) + " of the " +
             std::to_string(expected) + " grid points";
    }
    for (int64_t i = 0; i < expected; ++i) {
      if (merged.sweep.points[static_cast<std::size_t>(i)].index != i) {
        return "the parts do not hold grid point " + std::to_string(i) + " exactly once";
      }
    }
    if (!merged.sweep.baseCounts) {
      return "no part holds the figures of the base settings";
    }
  } else {
    SearchResults& search = merged.search;
    for (auto& run : search.searches) {
      run.reset();
    }
    search.baseCounts.reset();
    for (const auto& [index, at] : byShard) {
      const SearchResults& from = parts[at].search;
      for (std::size_t s = 0; s < from.searches.size(); ++s) {
        if (from.searches[s]) {
          if (search.searches[s]) {
            return "search " + std::to_string(s) + " appears in two parts";
          }
          search.searches[s] = from.searches[s];
        }
      }
      if (from.baseCounts) {
        search.baseCounts = from.baseCounts;
      }
    }
    for (std::size_t s = 0; s < search.searches.size(); ++s) {
      if (!search.searches[s]) {
        return "no part holds search " + std::to_string(s);
      }
    }
    if (!search.baseCounts) {
      return "no part holds the figures of the base settings";
    }
  }
  return {};
}

}  // namespace tune
