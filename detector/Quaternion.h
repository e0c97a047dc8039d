// Quaternion (w, x, y, z), scalar part first, in double precision. Every
// operation except the setters returns a new value; angles are in radians.
#pragma once

#include "MatrixAlgebra"
#include "matrix.h"

class Quaternion {
 public:
  // Identity (1, 0, 0, 0).
  Quaternion();
  Quaternion(double w, double x, double y, double z);
  // Rotation by `angle` about `axis`; the axis need not have unit length.
  Quaternion(double angle, const dVector& axis);
  // Rotation by the three angles about the fixed axes x, then y, then z.
  Quaternion(double angleX, double angleY, double angleZ);

  [[nodiscard]] Quaternion operator*(const Quaternion& q) const;
  [[nodiscard]] Quaternion operator/(double s) const;
  [[nodiscard]] Quaternion conjugate() const;
  [[nodiscard]] double norm() const;
  // The conjugate divided by the norm (not by its square): the true inverse
  // only for unit quaternions, which is all the attitude filter keeps.
  [[nodiscard]] Quaternion inverse() const;

  [[nodiscard]] double get_w() const { return w; }
  void set_w(double value) { w = value; }
  [[nodiscard]] dVector get_v() const { return v; }
  void set_v(const dVector& value);

  [[nodiscard]] matrix<double> rotation_matrix() const;

 private:
  double w;
  dVector v;
};
