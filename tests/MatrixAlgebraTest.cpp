// Vectors, the shared-storage matrix and the quaternion.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>

#include "MatrixAlgebra"
#include "Quaternion.h"
#include "matrix.h"

using namespace velmora::algebra;

namespace {

constexpr double kPi = 3.141592653589793;

void expectQuaternion(const Quaternion& q, double w, double x, double y, double z,
                      double tolerance = 1e-15) {
  const dVector v = q.get_v();
  ASSERT_EQ(v.size(), 3U);
  EXPECT_NEAR(q.get_w(), w, tolerance);
  EXPECT_NEAR(v[0], x, tolerance);
  EXPECT_NEAR(v[1], y, tolerance);
  EXPECT_NEAR(v[2], z, tolerance);
}

}  // namespace

TEST(MatrixAlgebra, DotCrossNormOnKnownVectors) {
  EXPECT_EQ(Dot(dVector(), dVector()), 0.0);
  EXPECT_EQ(Norm(dVector()), 0.0);
  EXPECT_EQ(Norm(MakeVector3(3, 4, 0)), 5.0);
  const dVector z = Cross(MakeVector3(1, 0, 0), MakeVector3(0, 1, 0));
  EXPECT_EQ(z[0], 0.0);
  EXPECT_EQ(z[1], 0.0);
  EXPECT_EQ(z[2], 1.0);
  const dVector v = MakeVector3(0.25, -7.5, 3.0);
  const dVector u = Cross(v, MakeVector3(0, 0, -1));
  EXPECT_EQ(u[0], 7.5);
  EXPECT_EQ(u[1], 0.25);
  EXPECT_EQ(u[2], 0.0);
}

TEST(MatrixAlgebra, DotSumsFromTheFirstElementOn) {
  // Summing 1e16 + 1 + 1 from the front loses both ones; from the back it
  // would keep them.
  const dVector a = MakeVector3(1e16, 1.0, 1.0);
  const dVector ones = MakeVector3(1.0, 1.0, 1.0);
  EXPECT_EQ(Dot(a, ones), 1e16);
  EXPECT_EQ(Norm(MakeVector3(1e8, 1.0, 1.0)), 1e8);
}

TEST(MatrixAlgebraDeathTest, SizeErrorsStopWithTheirMessages) {
#ifdef NDEBUG
  GTEST_SKIP() << "assertions are compiled out in this build type";
#else
  EXPECT_DEATH((void)Dot(dVector(2), dVector(3)),
               "ERROR: Dot\\(\\): Inconsistent vector size in Inner Product !");
  EXPECT_DEATH((void)Cross(dVector(2), dVector(3)),
               "ERROR: Cross\\(\\): dVector dimension should be 3 in Cross Product !");
  EXPECT_DEATH(Quaternion(1.0, dVector(2)), "Quaternion::Quaternion, size of axis != 3");
  Quaternion q;
  EXPECT_DEATH(q.set_v(dVector(4)), "Quaternion::set_v: input has a wrong size.");
#endif
}

TEST(Matrix, NewMatrixIsZeroAndSubscriptsAreChecked) {
  matrix<double> m(3, 3);
  const matrix<double>& view = m;
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t c = 0; c < 3; ++c) {
      EXPECT_EQ(view(r, c), 0.0);
    }
  }
  EXPECT_NO_THROW(m(2, 2) = 1.0);
  try {
    m(3, 0) = 1.0;
    FAIL() << "row 3 accepted";
  } catch (const std::out_of_range& error) {
    EXPECT_STREQ(error.what(), "matrix<T>::operator(): subscript is out of range!");
  }
  EXPECT_THROW((void)view(0, 3), std::out_of_range);
}

TEST(Matrix, WritingThroughACopyLeavesTheSourceAlone) {
  matrix<double> source(2, 2);
  source(0, 1) = 5.0;
  {
    matrix<double> copy(source);
    copy(0, 1) = 7.0;
    EXPECT_EQ(static_cast<const matrix<double>&>(source)(0, 1), 5.0);
    EXPECT_EQ(static_cast<const matrix<double>&>(copy)(0, 1), 7.0);
  }
  // With one of two sharers gone, the other still holds the block, and a
  // write through the source reaches no one else.
  const matrix<double> sharer(source);
  {
    const matrix<double> second(source);
  }
  source(1, 1) = 2.0;
  EXPECT_EQ(sharer(1, 1), 0.0);
  EXPECT_EQ(sharer(0, 1), 5.0);
  EXPECT_EQ(static_cast<const matrix<double>&>(source)(1, 1), 2.0);
}

TEST(Quaternion, ConstructionsGiveTheExpectedRotations) {
  expectQuaternion(Quaternion(), 1, 0, 0, 0);
  expectQuaternion(Quaternion(0.0, 0.0, 0.0), 1, 0, 0, 0);
  expectQuaternion(Quaternion(0.0, 0.0, kPi / 2), std::cos(kPi / 4), 0, 0, std::sin(kPi / 4));
  // The axis length is divided out.
  expectQuaternion(Quaternion(kPi, MakeVector3(0, 0, 2)), std::cos(kPi / 2), 0, 0, 1);
}

TEST(Quaternion, ProductIsTheHamiltonProduct) {
  const Quaternion i(0, 1, 0, 0);
  const Quaternion j(0, 0, 1, 0);
  expectQuaternion(i * j, 0, 0, 0, 1);
  expectQuaternion(j * i, 0, 0, 0, -1);
  const Quaternion q(0.5, -0.25, 0.75, 0.125);
  expectQuaternion(Quaternion() * q, 0.5, -0.25, 0.75, 0.125, 0.0);
  expectQuaternion(q * Quaternion(), 0.5, -0.25, 0.75, 0.125, 0.0);
}

TEST(Quaternion, ConjugateNormInverseAndDivision) {
  const Quaternion conjugate = Quaternion().conjugate();
  const dVector v = conjugate.get_v();
  EXPECT_EQ(conjugate.get_w(), 1.0);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(v[k], 0.0);
    EXPECT_TRUE(std::signbit(v[k])) << "component " << k << " should be -0.0";
  }
  EXPECT_EQ(Quaternion(1, 2, 2, 4).norm(), 5.0);
  // Divided by the norm, not by its square.
  expectQuaternion(Quaternion(2, 0, 0, 0).inverse(), 1, 0, 0, 0, 0.0);
  expectQuaternion(Quaternion(2, 4, -6, 8) / 2.0, 1, 2, -3, 4, 0.0);
  Quaternion q;
  q.set_w(0.5);
  q.set_v(MakeVector3(1, 2, 3));
  expectQuaternion(q, 0.5, 1, 2, 3, 0.0);
}

TEST(Quaternion, RotationMatrixRotatesLikeTheQuaternion) {
  const matrix<double> identity = Quaternion().rotation_matrix();
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t c = 0; c < 3; ++c) {
      EXPECT_EQ(identity(r, c), r == c ? 1.0 : 0.0);
    }
  }
  // A quarter turn about z maps x to y.
  const matrix<double> quarter =
      Quaternion(std::cos(kPi / 4), 0, 0, std::sin(kPi / 4)).rotation_matrix();
  EXPECT_NEAR(quarter(0, 0), 0.0, 1e-15);
  EXPECT_NEAR(quarter(1, 0), 1.0, 1e-15);
  EXPECT_NEAR(quarter(2, 0), 0.0, 1e-15);
}

// The matrix is what the filter hands back as its rotation: on any unit
// quaternion it must rotate a vector exactly as q (0, v) q^-1 does.
TEST(Quaternion, RotationMatrixMatchesTheSandwichProductOnRandomRotations) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> component(-1.0, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    const Quaternion raw(component(random), component(random), component(random),
                         component(random));
    const Quaternion q = raw / raw.norm();
    const double x = component(random);
    const double y = component(random);
    const double z = component(random);
    const dVector rotated = ((q * Quaternion(0.0, x, y, z)) * q.inverse()).get_v();
    const matrix<double> m = q.rotation_matrix();
    for (uint32_t row = 0; row < 3; ++row) {
      const double product = m(row, 0) * x + m(row, 1) * y + m(row, 2) * z;
      EXPECT_NEAR(product, rotated[row], 1e-12) << "trial " << trial << ", row " << row;
    }
  }
}
