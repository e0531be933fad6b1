// Converts every 24-bit colour with both conversions and compares each byte
// with a reference that evaluates the sums exactly in 128-bit integers and
// rounds them to single precision by hand, and takes the later steps in
// extended precision.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

#include "convert/convert_to_hsv.h"
#include "convert/convert_to_yuv.h"

namespace {

__extension__ typedef __int128 int128;
__extension__ typedef unsigned __int128 uint128;

constexpr int units_exponent = 56;  // sums are held in units of 2^-56
constexpr int colour_count = 1 << 24;
constexpr std::int64_t image_side = 4096;  // 4096 x 4096 = every colour once

// coefficient * 2^56 as an exact integer, from its binary significand and
// exponent. Fails the test if the coefficient has bits below 2^-56.
int128 exact_units(double coefficient) {
  int exponent = 0;
  const double fraction = std::frexp(coefficient, &exponent);  // in [0.5, 1)
  const auto significand = static_cast<std::int64_t>(std::ldexp(fraction, 53));
  const int shift = exponent - 53 + units_exponent;
  EXPECT_GE(shift, 0) << "coefficient " << coefficient << " is finer than 2^-56";
  return static_cast<int128>(significand) * (static_cast<int128>(1) << shift);
}

// units * 2^-56 rounded to the nearest float, ties to even.
float round_units_to_float(int128 units) {
  const bool negative = units < 0;
  auto magnitude = static_cast<uint128>(negative ? -units : units);
  int shift = 0;
  while ((magnitude >> shift) >= (static_cast<uint128>(1) << 24)) {
    ++shift;
  }
  uint128 kept = magnitude >> shift;
  if (shift > 0) {
    const uint128 rest = magnitude & ((static_cast<uint128>(1) << shift) - 1);
    const uint128 half = static_cast<uint128>(1) << (shift - 1);
    if (rest > half || (rest == half && (kept & 1) != 0)) {
      ++kept;
    }
  }
  const float value = std::ldexp(static_cast<float>(static_cast<std::uint32_t>(kept)),
                                 shift - units_exponent);
  return negative ? -value : value;
}

struct exact_sums {
  float y, cb, cr;
};

struct weights {
  int128 red, green, blue;
};

const weights y_weights{exact_units(0.299), exact_units(0.587), exact_units(0.114)};
const weights cb_weights{exact_units(-0.169), exact_units(-0.331), exact_units(0.5)};
const weights cr_weights{exact_units(0.5), exact_units(-0.419), exact_units(-0.081)};

float exact_sum(const weights& w, int red, int green, int blue) {
  return round_units_to_float(w.red * red + w.green * green + w.blue * blue);
}

exact_sums reference_sums(int red, int green, int blue) {
  return {exact_sum(y_weights, red, green, blue), exact_sum(cb_weights, red, green, blue),
          exact_sum(cr_weights, red, green, blue)};
}

int reference_byte(long double value) {
  if (value > 255.0L) return 255;
  if (value < 0.0L) return 0;
  return static_cast<int>(std::floor(value + 0.5L));
}

struct pixel_bytes {
  int b0, b1, b2;
};

pixel_bytes reference_yuv(int red, int green, int blue) {
  const exact_sums s = reference_sums(red, green, blue);
  return {reference_byte(static_cast<long double>(s.cb) + 128.0L), reference_byte(s.y),
          reference_byte(static_cast<long double>(s.cr) + 128.0L)};
}

pixel_bytes reference_hsv(int red, int green, int blue) {
  const long double pi = 3.141592653589793;
  const long double two_pi = 6.283185307179586;
  const exact_sums s = reference_sums(red, green, blue);
  const long double cb = s.cb;
  const long double cr = s.cr;
  const auto angle = static_cast<float>(std::atan2(cr, cb));
  const auto hue = static_cast<float>((static_cast<long double>(angle) + pi) * 255.0L / two_pi);
  const auto length = static_cast<float>(std::sqrt(cb * cb + cr * cr));
  const auto saturation = static_cast<float>(static_cast<long double>(length) * 1.87);
  return {reference_byte(saturation), reference_byte(s.y), reference_byte(hue)};
}

// Colour i as a working-image pixel: blue in the low byte.
std::vector<std::uint8_t> every_colour_image() {
  std::vector<std::uint8_t> image(static_cast<std::size_t>(colour_count) * 4);
  for (int i = 0; i < colour_count; ++i) {
    const auto at = static_cast<std::size_t>(i) * 4;
    image[at] = static_cast<std::uint8_t>(i & 0xFF);
    image[at + 1] = static_cast<std::uint8_t>((i >> 8) & 0xFF);
    image[at + 2] = static_cast<std::uint8_t>((i >> 16) & 0xFF);
    image[at + 3] = 0x5A;  // must not influence anything
  }
  return image;
}

using conversion = int (*)(std::uint8_t*, std::uint8_t*, std::int64_t, std::int64_t);
using reference = pixel_bytes (*)(int, int, int);

void expect_every_colour_exact(conversion convert, reference expected) {
  std::vector<std::uint8_t> source = every_colour_image();
  std::vector<std::uint8_t> destination(source.size(), 0xC3);
  ASSERT_EQ(convert(source.data(), destination.data(), image_side, image_side), 0);
  int mismatches = 0;
  for (int i = 0; i < colour_count; ++i) {
    const int blue = i & 0xFF, green = (i >> 8) & 0xFF, red = (i >> 16) & 0xFF;
    const pixel_bytes want = expected(red, green, blue);
    const std::uint8_t* got = &destination[static_cast<std::size_t>(i) * 4];
    if (got[0] != want.b0 || got[1] != want.b1 || got[2] != want.b2 || got[3] != 0xC3) {
      if (++mismatches <= 10) {
        ADD_FAILURE() << "(B,G,R)=(" << blue << "," << green << "," << red << ") gives ("
                      << int{got[0]} << "," << int{got[1]} << "," << int{got[2]} << ","
                      << int{got[3]} << "), want (" << want.b0 << "," << want.b1 << ","
                      << want.b2 << ",195)";
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(ExhaustiveColours, ReferenceRoundsTiesToEven) {
  // 2^24 + 1 units lies halfway between two floats: ties go to the even one.
  const int128 two_24 = static_cast<int128>(1) << 24;
  EXPECT_EQ(round_units_to_float(two_24 + 1), std::ldexp(1.0f, 24 - 56));
  EXPECT_EQ(round_units_to_float(two_24 + 3), std::ldexp(16777220.0f, -56));
  EXPECT_EQ(round_units_to_float(-(two_24 * 2 + 3)), -std::ldexp(33554436.0f, -56));
  // Grey: the Cb weights add up to -2^-55 and the Cr weights to +2^-56.
  EXPECT_EQ(reference_sums(1, 1, 1).cb, -std::ldexp(1.0f, -55));
  EXPECT_EQ(reference_sums(1, 1, 1).cr, std::ldexp(1.0f, -56));
}

TEST(ExhaustiveColours, LumaAndColourDifferences) {
  expect_every_colour_exact(convert_to_yuv, reference_yuv);
}

TEST(ExhaustiveColours, HueSaturationValue) {
  expect_every_colour_exact(convert_to_hsv, reference_hsv);
}

}  // namespace
