// The angle of (x, y) in double precision without the maths library: the
// programs that compute hues then load nothing but the C library, and
// every platform gets the same bits. Accurate to about one unit in the last
// place; the exhaustive colour test holds the bytes it leads to to a
// wider reference over every colour.
#pragma once

// atan2(y, x) in [-pi, pi] for finite x and y, x not -0; (+0, +0) gives 0.
double arc_tangent(double y, double x);
