// Guards for what the speed work relies on: the replay allocates nothing
// per line, the detector's allocations per sample stay within budget and
// are all returned, the quaternion shortcuts leave every bit of the results
// as the plain formulas give them, and the parsing fast path saturates
// exactly like strtoll.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "BenchStreams.h"
#include "Quaternion.h"
#include "RecordingReader.h"
#include "TextUtils.h"
#include "Velmora.h"

using namespace velmora::algebra;

namespace {

using benchsupport::allocationCount;
using benchsupport::releaseCount;

TEST(ReplayAllocations, ReadingAndSplittingLinesAllocatesNothing) {
  const benchsupport::ScratchDir folder;
  const auto path = folder.path() / "walk.csv";
  benchsupport::writeRecording(path, benchsupport::makeActivityStream(20, 20), 5000);
  RecordingReader reader;
  ASSERT_TRUE(reader.open(path.c_str()));
  reader.skipHeader();
  SampleRecord sample{};
  const uint64_t before = allocationCount();
  int64_t samples = 0;
  while (reader.next(sample) == RecordingReader::Status::Sample) {
    ++samples;
  }
  EXPECT_EQ(allocationCount() - before, 0u);
  EXPECT_EQ(samples, 5000);
}

// Runs the detector over the stream; returns the most allocations one
// sample made, and the allocations minus releases from set-up to close.
struct DetectorAllocationRun {
  uint64_t mostPerSample = 0;
  int64_t notReturned = 0;
};

DetectorAllocationRun runDetectorCounting(const std::vector<SampleRecord>& stream) {
  DetectorAllocationRun run;
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  DetectorContext context;
  const uint64_t allocatedBefore = allocationCount();
  const uint64_t releasedBefore = releaseCount();
  if (VelmoraSet(&context, &settings) != 0) {
    run.notReturned = -1;
    return run;
  }
  for (const SampleRecord& sample : stream) {
    const uint64_t start = allocationCount();
    (void)VelmoraProcess(&context, &sample);
    run.mostPerSample = std::max(run.mostPerSample, allocationCount() - start);
  }
  VelmoraClose(&context);
  run.notReturned = static_cast<int64_t>(allocationCount() - allocatedBefore) -
                    static_cast<int64_t>(releaseCount() - releasedBefore);
  return run;
}

// 16 is what the attitude update needs with every temporary a vector of its
// own; a change that copies or rebuilds vectors again shows up here.
TEST(DetectorAllocations, PerSampleWithinBudgetAndAllReturnedOnClose) {
  constexpr uint64_t kBudgetPerSample = 16;
  const auto stream = benchsupport::makeActivityStream(10, 10);
  // The first update of the process builds the constant gravity reference.
  (void)runDetectorCounting({stream.front()});
  const DetectorAllocationRun run = runDetectorCounting(stream);
  EXPECT_LE(run.mostPerSample, kBudgetPerSample);
  EXPECT_EQ(run.notReturned, 0);
}

TEST(QuaternionParts, ReadingTheVectorPartCopiesNothing) {
  const Quaternion named(0.5, 1.0, 2.0, 3.0);
  const uint64_t before = allocationCount();
  const dVector& part = named.get_v();
  EXPECT_EQ(allocationCount() - before, 0u);
  EXPECT_EQ(&part, &named.get_v());
  EXPECT_EQ(part[2], 3.0);
}

// The Hamilton product written out with plain doubles in the documented
// order: Dot as sum = a[i] * b[i] + sum from 0.0, the scaled vectors added
// before the cross product.
void expectProductBitsOf(const Quaternion& p, const Quaternion& q) {
  const double pw = p.get_w();
  const double qw = q.get_w();
  const dVector pv = p.get_v();
  const dVector qv = q.get_v();
  double dot = 0.0;
  for (int i = 0; i < 3; ++i) {
    dot = pv[i] * qv[i] + dot;
  }
  const double cross[3] = {pv[1] * qv[2] - pv[2] * qv[1], pv[2] * qv[0] - pv[0] * qv[2],
                           pv[0] * qv[1] - pv[1] * qv[0]};
  const Quaternion product = p * q;
  EXPECT_EQ(product.get_w(), pw * qw - dot);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(product.get_v()[i], (pw * qv[i] + qw * pv[i]) + cross[i]) << "element " << i;
  }
}

TEST(QuaternionMoves, ProductsInverseAndAnglesKeepEveryBit) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> component(-1.5, 1.5);
  for (int round = 0; round < 200; ++round) {
    const Quaternion p(component(random), component(random), component(random), component(random));
    const Quaternion q(component(random), component(random), component(random), component(random));
    expectProductBitsOf(p, q);
    expectProductBitsOf(p, p);  // both operands the same object

    // The inverse is the conjugate (-1.0 times the vector) over the norm.
    const Quaternion inverse = p.inverse();
    const double norm = p.norm();
    EXPECT_EQ(inverse.get_w(), p.get_w() / norm);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(inverse.get_v()[i], (-1.0 * p.get_v()[i]) / norm);
    }

    const double ax = component(random);
    const double ay = component(random);
    const double az = component(random);
    const Quaternion fromAngles(ax, ay, az);
    const Quaternion expected = (Quaternion(std::cos(az / 2), 0.0, 0.0, std::sin(az / 2)) *
                                 Quaternion(std::cos(ay / 2), 0.0, std::sin(ay / 2), 0.0)) *
                                Quaternion(std::cos(ax / 2), std::sin(ax / 2), 0.0, 0.0);
    EXPECT_EQ(fromAngles.get_w(), expected.get_w());
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(fromAngles.get_v()[i], expected.get_v()[i]);
    }
  }
}

long long strtollReference(const std::string& text) {
  errno = 0;
  return std::strtoll(text.c_str(), nullptr, 10);
}

TEST(ParseDecimalFastPath, AgreesWithStrtollAroundTheSaturationLimits) {
  const char* const boundaries[] = {
      "922337203685477579",           "922337203685477580",      "9223372036854775799",
      "9223372036854775806",          "9223372036854775807",     "9223372036854775808",
      "9223372036854775809",          "-9223372036854775807",    "-9223372036854775808",
      "-9223372036854775809",         "99999999999999999999",    "-99999999999999999999",
      "0000000000000000000000000012", "+0009223372036854775807", "18446744073709551616x"};
  for (const char* text : boundaries) {
    EXPECT_EQ(parseDecimal(text), strtollReference(text)) << text;
  }
  std::mt19937 random(11);
  for (int round = 0; round < 20000; ++round) {
    std::string text = round % 3 == 0 ? "-" : "";
    const int digits = 1 + static_cast<int>(random() % 24);
    for (int i = 0; i < digits; ++i) {
      text += static_cast<char>('0' + random() % 10);
    }
    EXPECT_EQ(parseDecimal(text), strtollReference(text)) << text;
  }
}

}  // namespace
