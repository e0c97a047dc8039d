// Settings defaults, set-up, close and the version text.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <string>

#include "Quaternion.h"
#include "Velmora.h"
#include "VelmoraObservation.h"
#include "VelmoraSettings.h"

using namespace velmora::algebra;

namespace {

DetectorSettings defaults() {
  DetectorSettings settings;
  std::memset(&settings, 0x5a, sizeof settings);
  EXPECT_EQ(VelmoraDefaultSettings(&settings), 0);
  return settings;
}

}  // namespace

TEST(Lifecycle, VersionText) { EXPECT_STREQ(VelmoraGetVersion(), "Q5-Velmora-2.1.0"); }

TEST(Lifecycle, DefaultsInTableOrder) {
  const DetectorSettings s = defaults();
  const int32_t expected[35] = {15, 60,  140, 400, 160, 360,  40, 50, 38,   -70, -90, 35,
                                4,  37,  60,  90,  55,  1600, 5,  3,  1200, 5,   7,   -3,
                                1,  150, 150, 19,  10,  9,    25, 5,  20,   400, 25};
  static_assert(sizeof(DetectorSettings) == sizeof expected);
  EXPECT_EQ(std::memcmp(&s, expected, sizeof expected), 0);
}

TEST(Lifecycle, SetUpGivesTheInitialState) {
  const DetectorSettings s = defaults();
  auto context = std::make_unique<DetectorContext>();
  std::memset(static_cast<void*>(context.get()), 0x77, sizeof *context);
  ASSERT_EQ(VelmoraSet(context.get(), &s), 0);
  EXPECT_EQ(std::memcmp(&context->settings, &s, sizeof s), 0);
  EXPECT_EQ(context->accSum, 1500);
  EXPECT_EQ(context->rawAccSum3, 300);
  EXPECT_EQ(context->gyroSum3, 0);
  EXPECT_EQ(context->gyroSum5, 0);
  EXPECT_EQ(context->jumpStart, -1);
  EXPECT_EQ(context->jumpEnd, 0);
  EXPECT_EQ(context->ringPos, 0);
  EXPECT_EQ(context->sampleIndex, 0);
  EXPECT_EQ(context->uprightCount, 0);
  for (int slot = 0; slot < kVelmoraRingSize; ++slot) {
    EXPECT_EQ(context->accRing[slot], 100);
    EXPECT_EQ(context->rawAccRing[slot], 100);
    EXPECT_EQ(context->gyroRing[slot], 0);
    EXPECT_EQ(context->uprightRing[slot], 0);
  }
  for (const SmoothingFilter& filter : context->smoothing) {
    EXPECT_EQ(filter.out, 0.0f);
    EXPECT_EQ(filter.prevIn, 0.0f);
    EXPECT_EQ(filter.prevOut, 0.0f);
  }
  ASSERT_NE(context->attitude.orientation, nullptr);
  EXPECT_EQ(context->attitude.orientation->get_w(), 1.0);
  EXPECT_EQ(context->attitude.biasCount, 0);
  EXPECT_EQ(VelmoraClose(context.get()), 0);
}

TEST(Lifecycle, AvgWindowSetsTheStartingSumAndMustFitTheRing) {
  DetectorSettings s = defaults();
  auto context = std::make_unique<DetectorContext>();
  s.avgWindow = 20;
  ASSERT_EQ(VelmoraSet(context.get(), &s), 0);
  EXPECT_EQ(context->accSum, 2000);
  VelmoraClose(context.get());
  for (const int32_t bad : {0, -1, 64, 1000, INT32_MIN, INT32_MAX}) {
    s.avgWindow = bad;
    EXPECT_EQ(VelmoraSet(context.get(), &s), -1) << bad;
  }
  for (const int32_t good : {1, 63}) {
    s.avgWindow = good;
    EXPECT_EQ(VelmoraSet(context.get(), &s), 0) << good;
    VelmoraClose(context.get());
  }
}

TEST(Lifecycle, ContextCanBeSetUpAgainAfterClose) {
  const DetectorSettings s = defaults();
  auto first = std::make_unique<DetectorContext>();
  auto second = std::make_unique<DetectorContext>();
  const SampleRecord sample{100, -8000, 300, 50, -60, 70};
  ASSERT_EQ(VelmoraSet(first.get(), &s), 0);
  for (int i = 0; i < 100; ++i) {
    VelmoraProcess(first.get(), &sample);
  }
  VelmoraClose(first.get());
  EXPECT_EQ(first->attitude.orientation, nullptr);
  // Nothing of the previous recording survives a new set-up.
  ASSERT_EQ(VelmoraSet(first.get(), &s), 0);
  ASSERT_EQ(VelmoraSet(second.get(), &s), 0);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(VelmoraProcess(first.get(), &sample), VelmoraProcess(second.get(), &sample));
  }
  EXPECT_EQ(first->sampleIndex, second->sampleIndex);
  EXPECT_EQ(first->accSum, second->accSum);
  VelmoraClose(first.get());
  VelmoraClose(second.get());
}

namespace {

// Every per-sample operation on the context returns 0 (or -1 for
// VelmoraMeasure) and writes nothing, neither to the context nor to the
// records it is given.
void expectLeftAlone(DetectorContext* context) {
  const SampleRecord sample{0, 0, 0, 0, 0, 0};
  const auto before = std::make_unique<DetectorContext>(*context);
  SampleMeasurement measured{};
  measured.accMag = 7;
  VelmoraObservation observed{};
  observed.code = 7;
  EXPECT_EQ(VelmoraProcess(context, &sample), 0);
  EXPECT_EQ(VelmoraProcessObserved(context, &sample, &observed), 0);
  EXPECT_EQ(VelmoraMeasure(context, &sample, &measured), -1);
  EXPECT_EQ(VelmoraDecide(context, &measured), 0);
  EXPECT_EQ(std::memcmp(before.get(), context, sizeof *context), 0);
  EXPECT_EQ(measured.accMag, 7);
  EXPECT_EQ(observed.code, 7);
}

// A context that ran into a fall (free fall: a code soon after the
// warm-up), then was closed.
std::unique_ptr<DetectorContext> closedAfterUse() {
  const DetectorSettings s = defaults();
  auto context = std::make_unique<DetectorContext>();
  EXPECT_EQ(VelmoraSet(context.get(), &s), 0);
  const SampleRecord sample{0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 100; ++i) {
    VelmoraProcess(context.get(), &sample);
  }
  EXPECT_EQ(VelmoraClose(context.get()), 0);
  return context;
}

}  // namespace

TEST(Lifecycle, ZeroInitialisedContextNeverSetUpIsLeftAlone) {
  auto blank = std::make_unique<DetectorContext>();
  std::memset(static_cast<void*>(blank.get()), 0, sizeof *blank);
  expectLeftAlone(blank.get());
}

TEST(Lifecycle, ClosedContextIsLeftAlone) { expectLeftAlone(closedAfterUse().get()); }

TEST(Lifecycle, ClosedOrZeroInitialisedContextCanBeClosedAgain) {
  auto closed = closedAfterUse();
  EXPECT_EQ(VelmoraClose(closed.get()), 0);
  expectLeftAlone(closed.get());
  auto blank = std::make_unique<DetectorContext>();
  std::memset(static_cast<void*>(blank.get()), 0, sizeof *blank);
  EXPECT_EQ(VelmoraClose(blank.get()), 0);
  expectLeftAlone(blank.get());
}

// The settings table describes DetectorSettings member by member, with the
// defaults of VelmoraDefaultSettings, and its limits are what VelmoraSet and
// VelmoraCheckSettings enforce.
TEST(Lifecycle, SettingsTableMatchesTheRecordItsDefaultsAndTheCheck) {
  const DetectorSettings s = defaults();
  const auto table = VelmoraSettingsTable();
  ASSERT_EQ(table.size(), sizeof(DetectorSettings) / sizeof(int32_t));
  std::set<std::string> names;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const VelmoraSetting& setting = table[i];
    SCOPED_TRACE(setting.name);
    EXPECT_TRUE(names.insert(setting.name).second);
    EXPECT_EQ(VelmoraFindSetting(setting.name), &setting);
    const auto* words = reinterpret_cast<const int32_t*>(&s);
    EXPECT_EQ(&(s.*setting.member), &words[i]) << "table order is the record's order";
    EXPECT_EQ(setting.defaultValue, s.*setting.member);
    EXPECT_LE(setting.minimum, setting.tuneMin);
    EXPECT_LE(setting.tuneMin, setting.defaultValue);
    EXPECT_LE(setting.defaultValue, setting.tuneMax);
    EXPECT_LE(setting.tuneMax, setting.maximum);
    EXPECT_GT(setting.tuneStep, 0);
  }
  EXPECT_EQ(VelmoraFindSetting("noSuchSetting"), nullptr);
  EXPECT_EQ(VelmoraCheckSettings(s), "");
  DetectorSettings bad = s;
  for (const int32_t avgWindow : {0, 64, std::numeric_limits<int32_t>::min()}) {
    bad.avgWindow = avgWindow;
    EXPECT_EQ(VelmoraCheckSettings(bad),
              "avgWindow must lie in 1..63, got " + std::to_string(avgWindow));
  }
}

// Code written against the unprefixed names of earlier 2.x headers still
// compiles and sees the same values.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
TEST(PublicHeader, OldConstantNamesStillCompile) {
  static_assert(kRingSize == kVelmoraRingSize && kEventRingSize == kVelmoraEventRingSize);
  static_assert(kSamplePeriodMs == kVelmoraSamplePeriodMs &&
                kSamplesPerSecond == kVelmoraSamplesPerSecond);
  static_assert(kCountsPerG == kVelmoraCountsPerG && kCountsPerDps == kVelmoraCountsPerDps);
  static_assert(std::size(kFallCodes) == std::size(kVelmoraFallCodes));
  EXPECT_EQ(&kFallCodes[0], &kVelmoraFallCodes[0]);
  EXPECT_EQ(kDefaultSettings.avgWindow, kVelmoraDefaultSettings.avgWindow);
}
#pragma GCC diagnostic pop
