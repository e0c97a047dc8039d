// Quaternion (w, x, y, z), scalar part first, in double precision. Every
// operation except the setters returns a new value; angles are in radians.
#pragma once


#include "MatrixAlgebra"
#include "matrix.h"

namespace velmora::algebra {

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
  // The vector part itself; a caller that keeps it copies it.
  [[nodiscard]] const dVector& get_v() const { return v; }
  void set_v(const dVector& value);
  void set_v(dVector&& value);

  [[nodiscard]] matrix<double> rotation_matrix() const;

 private:
  // Takes over an already computed vector part (3 elements) without a copy.
  Quaternion(dVector&& v, double w);

  double w;
  dVector v;
};

}  // namespace velmora::algebra
