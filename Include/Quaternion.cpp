#include "Quaternion.h"

#include <cassert>
#include <cmath>
#include <utility>

namespace velmora::algebra {

namespace {

// (qz * qy) * qx for the three half-angle rotations, the left product first.
Quaternion composeAngles(double angleX, double angleY, double angleZ) {
  const Quaternion qx(std::cos(angleX / 2), std::sin(angleX / 2), 0.0, 0.0);
  const Quaternion qy(std::cos(angleY / 2), 0.0, std::sin(angleY / 2), 0.0);
  const Quaternion qz(std::cos(angleZ / 2), 0.0, 0.0, std::sin(angleZ / 2));
  return (qz * qy) * qx;
}

}  // namespace

Quaternion::Quaternion() : w(1.0), v(0.0, 3) {}

Quaternion::Quaternion(double w_, double x, double y, double z) : w(w_), v(MakeVector3(x, y, z)) {}

Quaternion::Quaternion(dVector&& v_, double w_) : w(w_), v(std::move(v_)) {}

Quaternion::Quaternion(double angle, const dVector& axis) : w(0.0), v() {
  if (axis.size() != 3) {
    assert(0 && "Quaternion::Quaternion, size of axis != 3");
  }
  const double n = Norm(axis);
  const double s = std::sin(angle / 2);
  // Scale first, then divide out the axis length, element by element.
  v = (s * axis) / n;
  w = std::cos(angle / 2);
}

// The product is moved in whole; nothing of a zero start value would survive.
Quaternion::Quaternion(double angleX, double angleY, double angleZ)
    : Quaternion(composeAngles(angleX, angleY, angleZ)) {}

Quaternion Quaternion::operator*(const Quaternion& q) const {
  const double scalar = w * q.w - Dot(v, q.v);
  // The two scaled vectors are added first, then the cross product. The sum
  // goes into the cross product's own vector, element by element (element i
  // reads only element i of it), so a product needs one vector, not two.
  dVector vector = Cross(v, q.v);
  for (std::size_t i = 0; i < vector.size(); ++i) {
    vector[i] = (w * q.v[i] + q.w * v[i]) + vector[i];
  }
  return Quaternion(std::move(vector), scalar);
}

Quaternion Quaternion::operator/(double s) const {
  // Starts with an empty vector part, which needs no storage of its own.
  Quaternion result(dVector(), w / s);
  result.set_v(dVector(v / s));
  return result;
}

Quaternion Quaternion::conjugate() const {
  // Scalar times vector, so a zero component becomes -0.0.
  return Quaternion(dVector((-1.0) * v), w);
}

double Quaternion::norm() const { return std::sqrt(w * w + Dot(v, v)); }

Quaternion Quaternion::inverse() const { return conjugate() / norm(); }

void Quaternion::set_v(const dVector& value) {
  if (value.size() != 3) {
    assert(0 && "Quaternion::set_v: input has a wrong size.");
    return;
  }
  v = value;
}

void Quaternion::set_v(dVector&& value) {
  if (value.size() != 3) {
    assert(0 && "Quaternion::set_v: input has a wrong size.");
    return;
  }
  v = std::move(value);
}

matrix<double> Quaternion::rotation_matrix() const {
  const double x = v[0];
  const double y = v[1];
  const double z = v[2];
  matrix<double> m(3, 3);
  m(0, 0) = (w * w + x * x) * 2 - 1;
  m(0, 1) = (x * y - w * z) * 2;
  m(0, 2) = (x * z + w * y) * 2;
  m(1, 0) = (x * y + w * z) * 2;
  m(1, 1) = (w * w + y * y) * 2 - 1;
  m(1, 2) = (y * z - w * x) * 2;
  m(2, 0) = (x * z - w * y) * 2;
  m(2, 1) = (y * z + w * x) * 2;
  m(2, 2) = (w * w + z * z) * 2 - 1;
  return m;
}

}  // namespace velmora::algebra
