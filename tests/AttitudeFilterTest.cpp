// Gyroscope bias estimate and the attitude update.
#include <gtest/gtest.h>

#include <cmath>

#include "AttitudeFilter.h"
#include "Quaternion.h"

using namespace velmora;
using namespace velmora::algebra;

namespace {

class AttitudeFilterTest : public ::testing::Test {
 protected:
  void SetUp() override { AttitudeFilterInit(&filter); }
  void TearDown() override { AttitudeFilterRelease(&filter); }

  void update(double gx, double gy, double gz, double ax, double ay, double az) {
    const double gyro[3] = {gx, gy, gz};
    const double accel[3] = {ax, ay, az};
    const double aux[3] = {0, 0, 0};
    (void)AttitudeFilterUpdate(&filter, gyro, accel, aux, 0.02);
  }

  void expectOrientation(double w, double x, double y, double z, double tolerance) {
    const dVector v = filter.orientation->get_v();
    EXPECT_NEAR(filter.orientation->get_w(), w, tolerance);
    EXPECT_NEAR(v[0], x, tolerance);
    EXPECT_NEAR(v[1], y, tolerance);
    EXPECT_NEAR(v[2], z, tolerance);
  }

  bool orientationIsFinite() const {
    const dVector v = filter.orientation->get_v();
    return std::isfinite(filter.orientation->get_w()) && std::isfinite(v[0]) &&
           std::isfinite(v[1]) && std::isfinite(v[2]);
  }

  AttitudeFilter filter{};
};

}  // namespace

TEST_F(AttitudeFilterTest, StartsAtIdentityWithNoBias) {
  expectOrientation(1, 0, 0, 0, 0.0);
  EXPECT_EQ(filter.gyroBias[0], 0.0);
  EXPECT_EQ(filter.biasCount, 0);
}

TEST_F(AttitudeFilterTest, FirstReadingBecomesTheBiasAndAddsNoRotation) {
  update(3.0, -4.0, 5.0, 0.0, 0.0, -1.0);
  EXPECT_EQ(filter.gyroBias[0], 3.0);
  EXPECT_EQ(filter.gyroBias[1], -4.0);
  EXPECT_EQ(filter.gyroBias[2], 5.0);
  EXPECT_EQ(filter.biasCount, 1);
  expectOrientation(1, 0, 0, 0, 0.0);
}

TEST_F(AttitudeFilterTest, BiasBandIsStrictAndEveryReadingCounts) {
  double bias[3] = {0, 0, 0};
  filter.biasCount = 1;
  const double edge[3] = {10.0, 0, 0};
  UpdateGyroBias(&filter, bias, edge, 10000, 10.0);
  EXPECT_EQ(bias[0], 0.0);
  EXPECT_EQ(filter.biasCount, 2);
  const double inside[3] = {9.9, 0, 0};
  UpdateGyroBias(&filter, bias, inside, 10000, 10.0);
  EXPECT_EQ(bias[0], (2 * 0.0 + 9.9) / 3);
  EXPECT_EQ(filter.biasCount, 3);
  const double notANumber[3] = {std::nan(""), 0, 0};
  UpdateGyroBias(&filter, bias, notANumber, 10000, 10.0);
  EXPECT_EQ(bias[0], (2 * 0.0 + 9.9) / 3);
  filter.biasCount = 10000;
  UpdateGyroBias(&filter, bias, inside, 10000, 10.0);
  EXPECT_EQ(filter.biasCount, 10000);
}

TEST_F(AttitudeFilterTest, GravityCorrectionTurnsTowardTheMeasuredTilt) {
  update(0, 0, 0, 0.6, 0, -0.8);
  expectOrientation(0.9994824, 0, 0.0321695, 0, 1e-7);
  AttitudeFilterRelease(&filter);
  AttitudeFilterInit(&filter);
  update(0, 0, 0, 0, 0.6, -0.8);
  expectOrientation(0.9994824, -0.0321695, 0, 0, 1e-7);
}

TEST_F(AttitudeFilterTest, CorrectionGainFallsOffAwayFromOneG) {
  // Same tilt (36.87 degrees) at growing magnitudes: the turn angle is
  // gain * asin(0.6), and w = cos(angle / 2).
  const double tilt = std::asin(0.6);
  for (const auto& [scale, gain] :
       {std::pair{1.0, 0.1}, std::pair{1.1, 0.0367879441}, std::pair{1.2, 0.0018315639}}) {
    AttitudeFilterRelease(&filter);
    AttitudeFilterInit(&filter);
    update(0, 0, 0, 0.6 * scale, 0, -0.8 * scale);
    EXPECT_NEAR(filter.orientation->get_w(), std::cos(gain * tilt / 2), 1e-9) << scale;
    EXPECT_NEAR(filter.orientation->get_v()[1], std::sin(gain * tilt / 2), 1e-9) << scale;
  }
}

TEST_F(AttitudeFilterTest, GyroStepIntegratesInTheBodyFrame) {
  update(0, 0, 0, 0, 0, -1);     // learn a zero bias; gravity on the reference
  update(0, 0, 90.0, 0, 0, -1);  // outside the band, so the bias stays
  EXPECT_EQ(filter.gyroBias[2], 0.0);
  expectOrientation(0.9998766, 0, 0, 0.0157073, 1e-7);
}

// From a tilted orientation the body-frame step must multiply from the
// right: q0 (x) dq. The other order gives the opposite sign of y.
TEST_F(AttitudeFilterTest, GyroStepFromATiltedOrientationMultipliesFromTheRight) {
  update(0, 0, 0, 0, 0, 0);  // learn a zero bias; no acceleration, no correction
  const double half = 15.0 * 3.141592653589793 / 180.0;  // a 30 degree tilt about x
  *filter.orientation = Quaternion(std::cos(half), std::sin(half), 0, 0);
  update(0, 0, 90.0, 0, 0, 0);  // pi/100 about the body z axis
  const double c = std::cos(3.141592653589793 / 200);
  const double s = std::sin(3.141592653589793 / 200);
  expectOrientation(std::cos(half) * c, std::sin(half) * c, -std::sin(half) * s, std::cos(half) * s,
                    1e-15);
}

TEST_F(AttitudeFilterTest, ZeroCorrectionAxisKeepsTheOrientationFinite) {
  update(0, 0, 0, 0, 0, 1);  // gravity measured exactly opposite the reference
  EXPECT_TRUE(orientationIsFinite());
  expectOrientation(1, 0, 0, 0, 0.0);
  update(0, 0, 0, 0, 0, 0);  // no acceleration at all
  EXPECT_TRUE(orientationIsFinite());
  update(1, 2, 3, 0.1, 0.2, -0.9);
  EXPECT_TRUE(orientationIsFinite());
}
