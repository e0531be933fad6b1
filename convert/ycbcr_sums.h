// Luma and colour differences of one pixel, each the exact value of its
// sum of products rounded once to single precision (to nearest, ties to
// even):
//   Y  =  0.299 R + 0.587 G + 0.114 B
//   Cb = -0.169 R - 0.331 G + 0.5   B
//   Cr =  0.5   R - 0.419 G - 0.081 B
// with the coefficients taken as double-precision numbers.
#pragma once

#include <cstdint>

struct ycbcr {
  float y;
  float cb;
  float cr;
};

ycbcr compute_ycbcr(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
