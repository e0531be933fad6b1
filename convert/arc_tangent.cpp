#include "convert/arc_tangent.h"

#include <cmath>

#include "convert/colour_constants.h"

namespace {

// atan(x) for x >= 0: the argument is moved next to one of four anchors
// whose arc tangent is known as a sum of two doubles (hi + lo), then an odd
// polynomial of degree 23 takes over.
constexpr double anchor_hi[] = {4.63647609000806093515e-01, 7.85398163397448278999e-01,
                                9.82793723247329054082e-01, 1.57079632679489655800e+00};
constexpr double anchor_lo[] = {2.26987774529616870924e-17, 3.06161699786838301793e-17,
                                1.39033110312309984516e-17, 6.12323399573676603587e-17};
constexpr double odd_terms[] = {
    3.33333333333329318027e-01,  -1.99999999998764832476e-01, 1.42857142725034663711e-01,
    -1.11111104054623557880e-01, 9.09088713343650656196e-02,  -7.69187620504482999495e-02,
    6.66107313738753120669e-02,  -5.83357013379057348645e-02, 4.97687799461593236017e-02,
    -3.65315727442169155270e-02, 1.62858201153657823623e-02};

using colour::pi;
constexpr double pi_lo = 1.2246467991473531772e-16;  // pi - the double pi
constexpr double half_pi = pi / 2;

// The polynomial's part beyond x itself, x * (s1 + s2), split in even and
// odd powers of z = x^2 so that the two halves run side by side.
double series_beyond_x(double x) {
  const double z = x * x;
  const double w = z * z;
  const double* t = odd_terms;
  const double s1 = z * (t[0] + w * (t[2] + w * (t[4] + w * (t[6] + w * (t[8] + w * t[10])))));
  const double s2 = w * (t[1] + w * (t[3] + w * (t[5] + w * (t[7] + w * t[9]))));
  return x * (s1 + s2);
}

double arc_tangent_of_ratio(double x) {
  int anchor = 0;
  if (x < 0.4375) {
    return x - series_beyond_x(x);
  }
  if (x < 0.6875) {
    x = (2.0 * x - 1.0) / (2.0 + x);
  } else if (x < 1.1875) {
    anchor = 1;
    x = (x - 1.0) / (x + 1.0);
  } else if (x < 2.4375) {
    anchor = 2;
    x = (x - 1.5) / (1.0 + 1.5 * x);
  } else {
    anchor = 3;
    x = -1.0 / x;
  }
  return anchor_hi[anchor] - ((series_beyond_x(x) - anchor_lo[anchor]) - x);
}

}  // namespace

double arc_tangent(double y, double x) {
  if (y == 0.0) {
    return x < 0.0 ? std::copysign(pi, y) : y;
  }
  if (x == 0.0) {
    return y > 0.0 ? half_pi : -half_pi;
  }
  const double ratio = y / x;
  const double angle = arc_tangent_of_ratio(ratio < 0.0 ? -ratio : ratio);
  if (x > 0.0) {
    return y < 0.0 ? -angle : angle;
  }
  const double from_left = pi - (angle - pi_lo);
  return y < 0.0 ? -from_left : from_left;
}
