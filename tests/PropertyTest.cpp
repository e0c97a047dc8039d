// Properties of the detector over random and mutated sample streams with
// random accepted settings (extremes included; the default-settings
// properties are in DetectorTraceTest.cpp): only the 21 codes (or 0) ever
// come out, ringPos follows sampleIndex, and neither the trace, a second
// run, a context with other settings interleaved with it nor a replay from
// file changes any code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "DetectorTestSupport.h"
#include "RecordingReplay.h"
#include "SettingsTable.h"
#include "TestSupport.h"
#include "Velmora.h"
#include "VelmoraObservation.h"

namespace {

using Stream = std::vector<SampleRecord>;
using Codes = std::vector<int32_t>;

constexpr int16_t kOneG = 8192;

int16_t toCount(double value) {
  return static_cast<int16_t>(std::lround(std::clamp(value, -32768.0, 32767.0)));
}

// Upright, a short drop, a rotating impact, then lying still: a fall the
// default settings recognise; `random` varies its timing and strengths.
Stream fallStream(std::mt19937& random) {
  std::uniform_real_distribution<double> jitter(0.7, 1.3);
  std::uniform_int_distribution<int> standLength(45, 160);
  Stream stream(static_cast<std::size_t>(standLength(random)), SampleRecord{0, -kOneG, 0, 0, 0, 0});
  const double strength = jitter(random);
  for (int i = 0; i < 12; ++i) {
    stream.push_back({0, toCount(-kOneG * (0.3 - 0.02 * i)), toCount(kOneG * 0.1 * i / 12), 0,
                      toCount(13107 * strength), 0});
  }
  stream.push_back({4000, toCount(-24000 * strength), 12000, 9000, 26000, 3000});
  stream.push_back({-3000, toCount(-16000 * strength), 20000, -6000, 18000, 0});
  stream.push_back({2000, -6000, 18000, 2000, 6000, -2000});
  stream.push_back({0, -2000, 12000, 0, 1000, 0});
  for (int i = 0; i < 150; ++i) {
    stream.push_back({0, 0, toCount(i < 60 ? 2400 * jitter(random) : kOneG), 0, 0, 0});
  }
  return stream;
}

// A walk over the whole 16-bit range: large steps reach the saturated
// magnitudes and the attitude filter's extremes.
Stream randomWalk(std::mt19937& random, std::size_t length, int stepSize) {
  std::uniform_int_distribution<int> step(-stepSize, stepSize);
  int values[6] = {0, -kOneG, 0, 0, 0, 0};
  Stream stream;
  for (std::size_t i = 0; i < length; ++i) {
    for (int& value : values) {
      value = std::clamp(value + step(random), -32768, 32767);
    }
    stream.push_back({static_cast<int16_t>(values[0]), static_cast<int16_t>(values[1]),
                      static_cast<int16_t>(values[2]), static_cast<int16_t>(values[3]),
                      static_cast<int16_t>(values[4]), static_cast<int16_t>(values[5])});
  }
  return stream;
}

// A fall with random damage: counts replaced by random or extreme values,
// samples dropped and repeated, the way a faulty device garbles a stream.
Stream mutatedFall(std::mt19937& random) {
  Stream stream = fallStream(random);
  std::uniform_int_distribution<std::size_t> position(0, stream.size() - 1);
  std::uniform_int_distribution<int> kind(0, 3);
  std::uniform_int_distribution<int> anyCount(-32768, 32767);
  for (int edit = 0; edit < 12; ++edit) {
    const std::size_t at = position(random);
    int16_t* counts[] = {&stream[at].ax, &stream[at].ay, &stream[at].az,
                         &stream[at].gx, &stream[at].gy, &stream[at].gz};
    switch (kind(random)) {
      case 0:
        *counts[at % 6] = static_cast<int16_t>(anyCount(random));
        break;
      case 1:
        *counts[at % 6] = (edit & 1) != 0 ? std::numeric_limits<int16_t>::min()
                                          : std::numeric_limits<int16_t>::max();
        break;
      case 2:
        stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(at));
        break;
      default:
        stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(at), 5, stream[at]);
        break;
    }
    position = std::uniform_int_distribution<std::size_t>(0, stream.size() - 1);
  }
  return stream;
}

// Accepted settings: avgWindow in 1..63, every other setting either the
// default moved a little, or anywhere in the 32-bit range (the extremes
// included), so thresholds formed from them reach the limits.
DetectorSettings randomSettings(std::mt19937& random) {
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  std::uniform_int_distribution<int> choice(0, 9);
  std::uniform_int_distribution<int32_t> anyValue(std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max());
  std::uniform_int_distribution<int32_t> nudge(-20, 20);
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    int32_t& value = settings.*(field.member);
    const int pick = choice(random);
    if (pick == 0) {
      value = anyValue(random);
    } else if (pick == 1) {
      value = (random() & 1) != 0 ? std::numeric_limits<int32_t>::max()
                                  : std::numeric_limits<int32_t>::min();
    } else if (pick < 5) {
      value += nudge(random);
    }
  }
  settings.avgWindow = std::uniform_int_distribution<int32_t>(1, kVelmoraRingSize - 1)(random);
  return settings;
}

struct Case {
  std::string name;
  DetectorSettings settings;
  Stream stream;
};

// A fixed, seeded mix so a failure names a case that reproduces.
std::vector<Case> randomCases() {
  std::mt19937 random(20240611);
  std::vector<Case> cases;
  DetectorSettings defaults;
  VelmoraDefaultSettings(&defaults);
  for (int i = 0; i < 12; ++i) {
    cases.push_back({"fall-default-" + std::to_string(i), defaults, fallStream(random)});
    cases.push_back(
        {"fall-random-settings-" + std::to_string(i), randomSettings(random), fallStream(random)});
    cases.push_back({"mutated-fall-" + std::to_string(i),
                     i % 2 == 0 ? defaults : randomSettings(random), mutatedFall(random)});
    cases.push_back({"gentle-walk-" + std::to_string(i), randomSettings(random),
                     randomWalk(random, 1000, 600)});
    cases.push_back({"wild-walk-" + std::to_string(i), randomSettings(random),
                     randomWalk(random, 1000, 20000)});
  }
  return cases;
}

bool isResultCode(int32_t code) {
  return code == 0 ||
         std::find(std::begin(kVelmoraFallCodes), std::end(kVelmoraFallCodes), code) != std::end(kVelmoraFallCodes);
}

// Sets traceStream for one scope and clears it again, even on failure.
class TraceTo {
 public:
  explicit TraceTo(std::FILE* stream) { traceStream = stream; }
  ~TraceTo() { traceStream = nullptr; }
  TraceTo(const TraceTo&) = delete;
  TraceTo& operator=(const TraceTo&) = delete;
};

// A set-up context that is closed when it goes away.
class Detector {
 public:
  explicit Detector(const DetectorSettings& settings)
      : context_(std::make_unique<DetectorContext>()) {
    ready_ = VelmoraSet(context_.get(), &settings) == 0;
  }
  ~Detector() {
    if (ready_) {
      VelmoraClose(context_.get());
    }
  }
  Detector(const Detector&) = delete;
  Detector& operator=(const Detector&) = delete;

  [[nodiscard]] bool ready() const { return ready_; }
  int32_t process(const SampleRecord& sample) { return VelmoraProcess(context_.get(), &sample); }
  [[nodiscard]] const DetectorContext& context() const { return *context_; }
  DetectorContext* get() { return context_.get(); }

 private:
  std::unique_ptr<DetectorContext> context_;
  bool ready_ = false;
};

Codes runStream(const DetectorSettings& settings, const Stream& stream) {
  Detector detector(settings);
  EXPECT_TRUE(detector.ready());
  Codes codes;
  for (const SampleRecord& sample : stream) {
    codes.push_back(detector.process(sample));
  }
  return codes;
}

std::size_t falls(const Codes& codes) {
  return static_cast<std::size_t>(
      std::count_if(codes.begin(), codes.end(), [](int32_t c) { return c != 0; }));
}

}  // namespace

TEST(RandomSettingsProperties, EverySampleGivesAKnownCodeAndKeepsRingPosOnSampleIndex) {
  for (const Case& c : randomCases()) {
    SCOPED_TRACE(c.name);
    Detector detector(c.settings);
    ASSERT_TRUE(detector.ready()) << "avgWindow " << c.settings.avgWindow << " must be accepted";
    for (std::size_t i = 0; i < c.stream.size(); ++i) {
      const int32_t code = detector.process(c.stream[i]);
      ASSERT_TRUE(isResultCode(code)) << "sample " << i << " gave code " << code;
      const DetectorContext& context = detector.context();
      ASSERT_EQ(context.ringPos, context.sampleIndex & (kVelmoraRingSize - 1)) << "sample " << i;
      ASSERT_EQ(context.sampleIndex, static_cast<int32_t>(i + 1));
    }
  }
}

TEST(RandomSettingsProperties, TheGeneratedFallsAreRecognisedSoThePropertiesAreNotVacuous) {
  std::size_t fallCases = 0;
  std::size_t recognised = 0;
  for (const Case& c : randomCases()) {
    if (c.name.rfind("fall-default-", 0) == 0) {
      ++fallCases;
      recognised += falls(runStream(c.settings, c.stream)) > 0 ? 1 : 0;
    }
  }
  EXPECT_EQ(recognised, fallCases);
}

TEST(RandomSettingsProperties, TracingOnOrOffGivesTheSameCodesStateAndOneLinePerSample) {
  for (const Case& c : randomCases()) {
    SCOPED_TRACE(c.name);
    Detector quiet(c.settings);
    Codes quietCodes;
    for (const SampleRecord& sample : c.stream) {
      quietCodes.push_back(quiet.process(sample));
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(std::tmpfile(), &std::fclose);
    ASSERT_NE(sink, nullptr);
    Detector traced(c.settings);
    Codes tracedCodes;
    {
      const TraceTo trace(sink.get());
      for (const SampleRecord& sample : c.stream) {
        tracedCodes.push_back(traced.process(sample));
      }
    }
    EXPECT_EQ(quietCodes, tracedCodes);
    EXPECT_TRUE(detectortest::sameState(quiet.context(), traced.context()));
    std::rewind(sink.get());
    std::size_t lines = 0;
    std::size_t arrows = 0;
    char line[4096];
    while (std::fgets(line, sizeof line, sink.get()) != nullptr) {
      ++lines;
      arrows += std::strstr(line, " -> (") != nullptr ? 1 : 0;
    }
    EXPECT_EQ(lines, c.stream.size());
    EXPECT_EQ(arrows, falls(quietCodes))
        << "every fall and only a fall ends its line with the code";
  }
}

TEST(RandomSettingsProperties, RunningAStreamAgainOrAfterCloseGivesTheSameCodes) {
  for (const Case& c : randomCases()) {
    SCOPED_TRACE(c.name);
    const Codes first = runStream(c.settings, c.stream);
    EXPECT_EQ(first, runStream(c.settings, c.stream));
    // One context set up again after close: nothing of the first run remains.
    auto context = std::make_unique<DetectorContext>();
    for (int round = 0; round < 2; ++round) {
      ASSERT_EQ(VelmoraSet(context.get(), &c.settings), 0);
      Codes codes;
      for (const SampleRecord& sample : c.stream) {
        codes.push_back(VelmoraProcess(context.get(), &sample));
      }
      VelmoraClose(context.get());
      EXPECT_EQ(first, codes) << "round " << round;
    }
  }
}

TEST(RandomSettingsProperties, InterleavedContextsGiveTheCodesAndStateOfSeparateRuns) {
  const std::vector<Case> cases = randomCases();
  for (std::size_t i = 0; i + 1 < cases.size(); i += 2) {
    const Case& a = cases[i];
    const Case& b = cases[i + 1];
    SCOPED_TRACE(a.name + " with " + b.name);
    Detector first(a.settings);
    Detector second(b.settings);
    Detector aloneFirst(a.settings);
    Detector aloneSecond(b.settings);
    ASSERT_TRUE(first.ready() && second.ready() && aloneFirst.ready() && aloneSecond.ready());
    Codes codesA;
    Codes codesB;
    for (std::size_t k = 0; k < std::max(a.stream.size(), b.stream.size()); ++k) {
      if (k < a.stream.size()) {
        codesA.push_back(first.process(a.stream[k]));
      }
      if (k < b.stream.size()) {
        codesB.push_back(second.process(b.stream[k]));
      }
    }
    Codes expectedA;
    for (const SampleRecord& sample : a.stream) {
      expectedA.push_back(aloneFirst.process(sample));
    }
    Codes expectedB;
    for (const SampleRecord& sample : b.stream) {
      expectedB.push_back(aloneSecond.process(sample));
    }
    EXPECT_EQ(codesA, expectedA);
    EXPECT_EQ(codesB, expectedB);
    EXPECT_TRUE(detectortest::sameState(first.context(), aloneFirst.context()));
    EXPECT_TRUE(detectortest::sameState(second.context(), aloneSecond.context()));
  }
}

// VelmoraProcess is VelmoraMeasure then VelmoraDecide. Measurements taken
// once on one context and decided on a fresh context per settings (the
// tuner's way) give the same codes, and so does the observed process.
TEST(RandomSettingsProperties, TwoStepsCachedMeasurementsAndObservingGiveTheCodesOfProcess) {
  DetectorSettings defaults;
  VelmoraDefaultSettings(&defaults);
  for (const Case& c : randomCases()) {
    SCOPED_TRACE(c.name);
    const Codes expected = runStream(c.settings, c.stream);
    Detector stepwise(c.settings);
    Detector observed(c.settings);
    Detector measuring(defaults);
    ASSERT_TRUE(stepwise.ready() && observed.ready() && measuring.ready());
    std::vector<SampleMeasurement> cached(c.stream.size());
    for (std::size_t i = 0; i < c.stream.size(); ++i) {
      SampleMeasurement measured{};
      ASSERT_EQ(VelmoraMeasure(stepwise.get(), &c.stream[i], &measured), 0);
      ASSERT_EQ(VelmoraDecide(stepwise.get(), &measured), expected[i]) << "sample " << i;
      VelmoraObservation observation{};
      ASSERT_EQ(VelmoraProcessObserved(observed.get(), &c.stream[i], &observation), expected[i]);
      ASSERT_EQ(observation.code, expected[i]);
      ASSERT_EQ(VelmoraMeasure(measuring.get(), &c.stream[i], &cached[i]), 0);
    }
    Detector deciding(c.settings);
    for (std::size_t i = 0; i < cached.size(); ++i) {
      ASSERT_EQ(VelmoraDecide(deciding.get(), &cached[i]), expected[i]) << "sample " << i;
    }
  }
}

TEST(RandomSettingsProperties, ReplayFromAFileGivesTheCodesOfTheStream) {
  const testsupport::TempDir dir;
  for (const Case& c : randomCases()) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<int>> rows;
    for (const SampleRecord& s : c.stream) {
      rows.push_back({s.ax, s.ay, s.az, s.gx, s.gy, s.gz});
    }
    const auto path = dir.write(c.name + ".csv", testsupport::recordingText(rows));
    Codes replayed;
    const ReplaySummary summary =
        replayWithSettings(path.string(), c.settings,
                           [&](const ReplayedSample& sample) { replayed.push_back(sample.code); });
    ASSERT_TRUE(summary.opened);
    EXPECT_EQ(summary.shortLines, 0);
    EXPECT_EQ(replayed, runStream(c.settings, c.stream));
  }
}

TEST(RandomSettingsProperties, RefusedAvgWindowLeavesTheContextAloneAndValidationAgrees) {
  std::mt19937 random(7);
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  std::vector<int32_t> windows = {
      0, -1, 64, 65, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
  for (int i = 0; i < 20; ++i) {
    const int32_t value = std::uniform_int_distribution<int32_t>()(random);
    if (value < 1 || value > 63) {
      windows.push_back(value);
    }
  }
  for (const int32_t window : windows) {
    settings.avgWindow = window;
    auto context = std::make_unique<DetectorContext>();
    std::memset(static_cast<void*>(context.get()), 0x3C, sizeof(DetectorContext));
    auto before = std::make_unique<DetectorContext>();
    std::memcpy(static_cast<void*>(before.get()), context.get(), sizeof(DetectorContext));
    EXPECT_EQ(VelmoraSet(context.get(), &settings), -1) << "avgWindow " << window;
    EXPECT_EQ(std::memcmp(context.get(), before.get(), sizeof(DetectorContext)), 0)
        << "avgWindow " << window;
    EXPECT_FALSE(VelmoraCheckSettings(settings).empty()) << "avgWindow " << window;
  }
  for (const int32_t window : {1, 2, 62, 63}) {
    settings.avgWindow = window;
    EXPECT_TRUE(VelmoraCheckSettings(settings).empty());
    Detector detector(settings);
    EXPECT_TRUE(detector.ready()) << "avgWindow " << window;
  }
}

// A recording of about 500 days: sampleIndex runs past the 32-bit limit and
// wraps. Started a few samples before the wrap (ringPos kept in step), the
// fall stream must run without undefined behaviour and keep the properties
// (a burst that starts on the first sample after the wrap has impactStart
// INT32_MIN; the sanitizer build reports any overflow).
TEST(RandomSettingsProperties, SampleIndexWrapsOnVeryLongRecordings) {
  std::mt19937 random(99);
  DetectorSettings defaults;
  VelmoraDefaultSettings(&defaults);
  const Stream stream = fallStream(random);
  // Every wrap point across the fall, so the wrap meets every stage.
  for (int32_t before = 1; before <= static_cast<int32_t>(stream.size()); ++before) {
    SCOPED_TRACE("samples before the wrap: " + std::to_string(before));
    Detector detector(defaults);
    ASSERT_TRUE(detector.ready());
    auto& context = const_cast<DetectorContext&>(detector.context());
    context.sampleIndex = std::numeric_limits<int32_t>::max() - before + 1;
    context.ringPos = context.sampleIndex & (kVelmoraRingSize - 1);
    for (const SampleRecord& sample : stream) {
      ASSERT_TRUE(isResultCode(detector.process(sample)));
      ASSERT_EQ(context.ringPos, context.sampleIndex & (kVelmoraRingSize - 1));
    }
  }
}
