// Converts every 24-bit colour with both conversions, through the programs' entry
// point and through every kernel the processor can run, and compares each byte
// with a reference that evaluates the sums exactly in integers and
// rounds them to single precision by hand, and takes the later steps in the
// widest precision the processor has in hardware.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "convert/arc_tangent.h"
#include "convert/colour_constants.h"
#include "convert/convert_to_hsv.h"
#include "convert/convert_to_yuv.h"
#include "convert/hsv_pixels.h"
#include "convert/pixel_kernels.h"

namespace {

constexpr int units_exponent = 56;  // sums are held in units of 2^-56
constexpr int colour_count = 1 << 24;
constexpr std::int64_t image_side = 4096;  // 4096 x 4096 = every colour once

// A count of units, exactly high * 2^32 + low with low in [0, 2^32). A sum
// of three weighted components reaches 2^66 units, more than 64 bits hold,
// and not every target has a 128-bit integer.
struct units {
  std::int64_t high;
  std::int64_t low;
};

constexpr std::int64_t limb = std::int64_t{1} << 32;

units normalized(std::int64_t high, std::int64_t low) {
  std::int64_t carry = low / limb;
  if (low % limb < 0) {
    --carry;  // rounds the quotient down, so that low ends up in [0, 2^32)
  }
  return {high + carry, low - carry * limb};
}

units times(std::int64_t weight, int component) {
  const units w = normalized(0, weight);
  return normalized(w.high * component, w.low * component);
}

units plus(units a, units b) { return normalized(a.high + b.high, a.low + b.low); }

// coefficient * 2^56 as an exact integer, from its binary significand and
// exponent. Fails the test if the coefficient has bits below 2^-56 or is
// too large for the sums to stay below 2^66 units.
std::int64_t exact_units(double coefficient) {
  int exponent = 0;
  const double fraction = std::frexp(coefficient, &exponent);  // in [0.5, 1)
  const auto significand = static_cast<std::int64_t>(std::ldexp(fraction, 53));
  const int shift = exponent - 53 + units_exponent;
  EXPECT_GE(shift, 0) << "coefficient " << coefficient << " is finer than 2^-56";
  EXPECT_LE(shift, 3) << "coefficient " << coefficient << " is 1 or more";
  return significand * (std::int64_t{1} << shift);
}

// magnitude * 2^exponent rounded to the nearest float, ties to even; sticky
// tells that nonzero bits below magnitude's lowest were dropped, which only
// a magnitude of more than 24 bits may have.
float round_to_float(std::uint64_t magnitude, bool sticky, int exponent) {
  int shift = 0;
  while ((magnitude >> shift) >= (std::uint64_t{1} << 24)) {
    ++shift;
  }
  std::uint64_t kept = magnitude >> shift;
  if (shift > 0) {
    const std::uint64_t rest = magnitude & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (sticky || (kept & 1) != 0))) {
      ++kept;
    }
  }
  return std::ldexp(static_cast<float>(static_cast<std::uint32_t>(kept)), shift + exponent);
}

// u * 2^-56 rounded to the nearest float, ties to even.
float round_units_to_float(units u) {
  const bool negative = u.high < 0;
  if (negative) {
    u = normalized(-u.high, -u.low);
  }
  const auto high = static_cast<std::uint64_t>(u.high);  // below 2^35
  const auto low = static_cast<std::uint64_t>(u.low);
  // At 2^32 units or more, the lowest 3 bits are dropped so that the rest
  // fits 64 bits; a rounding step of at least 2^9 units sees them as sticky.
  const float value =
      high == 0 ? round_to_float(low, false, -units_exponent)
                : round_to_float(high << 29 | low >> 3, (low & 7) != 0, 3 - units_exponent);
  return negative ? -value : value;
}

struct exact_sums {
  float y, cb, cr;
};

struct weights {
  std::int64_t red, green, blue;
};

const weights y_weights{exact_units(colour::y_red), exact_units(colour::y_green),
                        exact_units(colour::y_blue)};
const weights cb_weights{exact_units(colour::cb_red), exact_units(colour::cb_green),
                         exact_units(colour::cb_blue)};
const weights cr_weights{exact_units(colour::cr_red), exact_units(colour::cr_green),
                         exact_units(colour::cr_blue)};

float exact_sum(const weights& w, int red, int green, int blue) {
  return round_units_to_float(
      plus(plus(times(w.red, red), times(w.green, green)), times(w.blue, blue)));
}

exact_sums reference_sums(int red, int green, int blue) {
  return {exact_sum(y_weights, red, green, blue), exact_sum(cb_weights, red, green, blue),
          exact_sum(cr_weights, red, green, blue)};
}

// The precision of the reference's steps after the sums: the widest the
// processor has in hardware. A 128-bit long double (aarch64, s390x) is
// software and makes the run many times slower under an emulator, so there
// double, in which these steps may be taken, stands in; x86-64 takes them in
// 80-bit extended precision.
using wide_real = std::conditional_t<LDBL_MANT_DIG <= 64, long double, double>;

int reference_byte(wide_real value) {
  if (value > wide_real{255}) return 255;
  if (value < wide_real{0}) return 0;
  return static_cast<int>(std::floor(value + wide_real{0.5}));
}

struct pixel_bytes {
  int b0, b1, b2;
};

pixel_bytes reference_yuv(int red, int green, int blue) {
  const exact_sums s = reference_sums(red, green, blue);
  return {reference_byte(static_cast<wide_real>(s.cb) + wide_real{128}), reference_byte(s.y),
          reference_byte(static_cast<wide_real>(s.cr) + wide_real{128})};
}

struct exact_hsv {
  float hue, saturation;
};

exact_hsv reference_hue_saturation(int red, int green, int blue) {
  const wide_real pi = colour::pi;
  const wide_real two_pi = colour::two_pi;
  const exact_sums s = reference_sums(red, green, blue);
  const wide_real cb = s.cb;
  const wide_real cr = s.cr;
  const auto angle = static_cast<float>(std::atan2(cr, cb));
  const auto hue = static_cast<float>((static_cast<wide_real>(angle) + pi) *
                                      static_cast<wide_real>(colour::hue_scale) / two_pi);
  const auto length = static_cast<float>(std::sqrt(cb * cb + cr * cr));
  const auto saturation =
      static_cast<float>(static_cast<wide_real>(length) * colour::saturation_gain);
  return {hue, saturation};
}

pixel_bytes reference_hsv(int red, int green, int blue) {
  const exact_hsv x = reference_hue_saturation(red, green, blue);
  return {reference_byte(x.saturation), reference_byte(reference_sums(red, green, blue).y),
          reference_byte(x.hue)};
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
using stored_conversion = int (*)(const std::uint8_t*, std::int64_t, std::uint8_t*, std::int64_t,
                                  std::int64_t);
using reference = pixel_bytes (*)(int, int, int);

// The reference's bytes for every colour, in every_colour_image's order.
std::vector<pixel_bytes> expected_bytes(reference expected) {
  std::vector<pixel_bytes> all(static_cast<std::size_t>(colour_count));
  for (int i = 0; i < colour_count; ++i) {
    all[static_cast<std::size_t>(i)] = expected((i >> 16) & 0xFF, (i >> 8) & 0xFF, i & 0xFF);
  }
  return all;
}

// Compares a converted image with the expected bytes; the fourth byte must
// still hold the destination's fill.
void expect_matches(const std::vector<std::uint8_t>& destination,
                    const std::vector<pixel_bytes>& want_all) {
  int mismatches = 0;
  for (int i = 0; i < colour_count; ++i) {
    const int blue = i & 0xFF, green = (i >> 8) & 0xFF, red = (i >> 16) & 0xFF;
    const pixel_bytes& want = want_all[static_cast<std::size_t>(i)];
    const std::uint8_t* got = &destination[static_cast<std::size_t>(i) * 4];
    if (got[0] != want.b0 || got[1] != want.b1 || got[2] != want.b2 || got[3] != 0xC3) {
      if (++mismatches <= 10) {
        ADD_FAILURE() << "(B,G,R)=(" << blue << "," << green << "," << red << ") gives ("
                      << int{got[0]} << "," << int{got[1]} << "," << int{got[2]} << ","
                      << int{got[3]} << "), want (" << want.b0 << "," << want.b1 << "," << want.b2
                      << ",195)";
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Pixels as 24-bit rows store them: blue, green and red, 3 bytes each.
std::vector<std::uint8_t> packed_form(const std::vector<std::uint8_t>& pixels) {
  std::vector<std::uint8_t> packed;
  packed.reserve(pixels.size() / 4 * 3);
  for (std::size_t i = 0; i < pixels.size(); i += 4) {
    packed.insert(packed.end(), pixels.begin() + static_cast<std::ptrdiff_t>(i),
                  pixels.begin() + static_cast<std::ptrdiff_t>(i + 3));
  }
  return packed;
}

// The conversion as the programs call it, from working pixels and from
// 24-bit stored rows, then every kernel this processor can run in both its
// forms, each over all colours in one run.
void expect_every_colour_exact(conversion convert, stored_conversion convert_stored,
                               const pixel_kernel* kernels, int kernel_count, reference expected) {
  const std::vector<pixel_bytes> want = expected_bytes(expected);
  const std::vector<std::uint8_t> source = every_colour_image();
  const std::vector<std::uint8_t> packed = packed_form(source);
  std::vector<std::uint8_t> input = source;
  std::vector<std::uint8_t> destination(source.size(), 0xC3);
  ASSERT_EQ(convert(input.data(), destination.data(), image_side, image_side), 0);
  EXPECT_EQ(input, source);
  expect_matches(destination, want);
  std::fill(destination.begin(), destination.end(), std::uint8_t{0xC3});
  ASSERT_EQ(
      convert_stored(packed.data(), 3 * image_side, destination.data(), image_side, image_side), 0);
  expect_matches(destination, want);
  ASSERT_GE(kernel_count, 1);
  EXPECT_STREQ(kernels[kernel_count - 1].name, "scalar");
  for (int k = 0; k < kernel_count; ++k) {
    SCOPED_TRACE(kernels[k].name);
    std::fill(destination.begin(), destination.end(), std::uint8_t{0xC3});
    kernels[k].run(source.data(), destination.data(), colour_count);
    expect_matches(destination, want);
    // The vector kernels load 3-byte pixels themselves; the others reach
    // their own 4-byte arithmetic, proven above, through one adapter, which
    // the stored conversion and the runs of every length prove.
    if (std::strncmp(kernels[k].name, "avx", 3) == 0) {
      SCOPED_TRACE("from 3-byte pixels");
      std::fill(destination.begin(), destination.end(), std::uint8_t{0xC3});
      kernels[k].packed(packed.data(), destination.data(), colour_count);
      expect_matches(destination, want);
    }
  }
}

TEST(ExhaustiveColours, ReferenceRoundsTiesToEven) {
  const auto of = [](std::int64_t count) { return normalized(0, count); };
  // 2^24 + 1 units lies halfway between two floats: ties go to the even one.
  const std::int64_t two_24 = std::int64_t{1} << 24;
  EXPECT_EQ(round_units_to_float(of(two_24 + 1)), std::ldexp(1.0f, 24 - 56));
  EXPECT_EQ(round_units_to_float(of(two_24 + 3)), std::ldexp(16777220.0f, -56));
  EXPECT_EQ(round_units_to_float(of(-(two_24 * 2 + 3))), -std::ldexp(33554436.0f, -56));
  // From 2^32 units on, the lowest 3 bits decide only a tie.
  const std::int64_t two_40 = std::int64_t{1} << 40;
  const std::int64_t step = std::int64_t{1} << 17;  // between floats near 2^40
  EXPECT_EQ(round_units_to_float(of(two_40 + step / 2)), std::ldexp(1.0f, -16));
  EXPECT_EQ(round_units_to_float(of(two_40 + step / 2 + 1)), std::ldexp(8388609.0f, 17 - 56));
  EXPECT_EQ(round_units_to_float(of(-(two_40 + step * 3 / 2))), -std::ldexp(8388610.0f, 17 - 56));
  EXPECT_EQ(round_units_to_float(plus(of(INT64_MAX), of(INT64_MAX))), std::ldexp(1.0f, 64 - 56));
  // Grey: the Cb weights add up to -2^-55 and the Cr weights to +2^-56.
  EXPECT_EQ(reference_sums(1, 1, 1).cb, -std::ldexp(1.0f, -55));
  EXPECT_EQ(reference_sums(1, 1, 1).cr, std::ldexp(1.0f, -56));
}

// The exact hue path's arc tangent, against the maths library's, over a
// grid that reaches every quadrant, every reduction interval and both axes.
TEST(ExhaustiveColours, ArcTangentStaysWithinTwoUnitsInTheLastPlace) {
  for (int i = -130; i <= 130; ++i) {
    for (int j = -130; j <= 130; ++j) {
      const double y = i * 0.97, x = j * 1.03;
      if (i == 0 && j <= 0) {
        continue;  // (+0, -0) is outside the domain, (+0, +0) below
      }
      const double want = std::atan2(y, x);
      const double ulp = std::nextafter(std::fabs(want), 4.0) - std::fabs(want);
      EXPECT_LE(std::fabs(arc_tangent(y, x) - want), 2 * ulp) << "y " << y << " x " << x;
    }
  }
  EXPECT_EQ(arc_tangent(0.0, 0.0), 0.0);
  EXPECT_EQ(arc_tangent(0.0, -1.0), colour::pi);
  EXPECT_EQ(arc_tangent(-1.0, 0.0), -colour::pi / 2);
}

TEST(ExhaustiveColours, LumaAndColourDifferences) {
  int count = 0;
  const pixel_kernel* kernels = yuv_kernels(&count);
  expect_every_colour_exact(convert_to_yuv, convert_stored_to_yuv, kernels, count, reference_yuv);
}

TEST(ExhaustiveColours, HueSaturationValue) {
  int count = 0;
  const pixel_kernel* kernels = hsv_kernels(&count);
  expect_every_colour_exact(convert_to_hsv, convert_stored_to_hsv, kernels, count, reference_hsv);
}

// Runs of every length up to a few vector widths, starting at an odd
// address: the vector loops must hand their remainder over whole and
// write nothing outside the run, fourth bytes included.
void expect_short_runs_exact(const pixel_kernel* kernels, int kernel_count, reference expected) {
  constexpr int longest = 40;
  std::vector<std::uint8_t> source(4 * longest + 1);
  for (std::size_t i = 0; i < source.size(); ++i) {
    source[i] = static_cast<std::uint8_t>(i * 97 + 13);
  }
  for (int k = 0; k < kernel_count; ++k) {
    SCOPED_TRACE(kernels[k].name);
    for (int count = 0; count <= longest; ++count) {
      std::vector<std::uint8_t> destination(4 * longest + 2, 0xC3);
      kernels[k].run(source.data() + 1, destination.data() + 1, count);
      for (int i = 0; i < longest; ++i) {
        const std::uint8_t* in = source.data() + 1 + 4 * i;
        const std::uint8_t* got = destination.data() + 1 + 4 * i;
        const pixel_bytes want = expected(in[2], in[1], in[0]);
        const bool inside = i < count;
        EXPECT_EQ(got[0], inside ? want.b0 : 0xC3) << "count " << count << " pixel " << i;
        EXPECT_EQ(got[1], inside ? want.b1 : 0xC3) << "count " << count << " pixel " << i;
        EXPECT_EQ(got[2], inside ? want.b2 : 0xC3) << "count " << count << " pixel " << i;
        EXPECT_EQ(got[3], 0xC3) << "count " << count << " pixel " << i;
      }
      EXPECT_EQ(destination.front(), 0xC3);
      EXPECT_EQ(destination.back(), 0xC3);
      // The 3-byte form, from exactly the bytes of the run: a read past
      // them shows under the address sanitizer.
      const std::vector<std::uint8_t> packed(source.begin() + 1, source.begin() + 1 + 3 * count);
      std::vector<std::uint8_t> from_packed(4 * static_cast<std::size_t>(count), 0xC3);
      kernels[k].packed(packed.data(), from_packed.data(), count);
      for (int i = 0; i < count; ++i) {
        const std::uint8_t* in = packed.data() + 3 * i;
        const pixel_bytes want = expected(in[2], in[1], in[0]);
        const std::uint8_t* got = from_packed.data() + 4 * i;
        EXPECT_TRUE(got[0] == want.b0 && got[1] == want.b1 && got[2] == want.b2 && got[3] == 0xC3)
            << "3-byte pixels, count " << count << " pixel " << i;
      }
    }
  }
}

TEST(ExhaustiveColours, KernelsHandleRunsOfAnyLength) {
  int count = 0;
  const pixel_kernel* kernels = yuv_kernels(&count);
  expect_short_runs_exact(kernels, count, reference_yuv);
  kernels = hsv_kernels(&count);
  expect_short_runs_exact(kernels, count, reference_hsv);
}

struct vector_estimator {
  const char* name;
  bool (*runs_here)();
  int lanes;
  void (*estimate)(const std::uint8_t*, float*, float*);
};

void estimate_portable_16(const std::uint8_t* in, float* hue, float* saturation) {
  estimate_hue_saturation_portable(in, hue, saturation, 16);
}

// The vector kernels round their own hue and saturation estimates unless
// they lie within hsv_rounding_margin of a rounding boundary. That is sound
// when every estimate is closer than the margin to the exact single-precision
// value; measured here over every non-grey colour, with room to spare.
TEST(ExhaustiveColours, VectorHueSaturationEstimatesStayWithinTheMargin) {
  const vector_estimator estimators[] = {
    {"portable", runs_everywhere, 16, estimate_portable_16},
#if CONVERTERS_HAVE_AVX_KERNELS
    {"avx2", cpu_runs_avx2, 8, estimate_hue_saturation_avx2},
    {"avx512", cpu_runs_avx512, 16, estimate_hue_saturation_avx512},
#endif
  };
  const std::vector<std::uint8_t> source = every_colour_image();
  for (const vector_estimator& v : estimators) {
    if (!v.runs_here()) {
      std::printf("%s: not run, the processor lacks it\n", v.name);
      continue;
    }
    SCOPED_TRACE(v.name);
    long double worst_hue = 0, worst_saturation = 0;
    for (int first = 0; first < colour_count; first += v.lanes) {
      float hue[16], saturation[16];
      v.estimate(&source[static_cast<std::size_t>(first) * 4], hue, saturation);
      for (int lane = 0; lane < v.lanes; ++lane) {
        const int i = first + lane;
        const int blue = i & 0xFF, green = (i >> 8) & 0xFF, red = (i >> 16) & 0xFF;
        if (red == green && green == blue) {
          continue;  // the kernels set grey apart before estimating
        }
        const exact_hsv x = reference_hue_saturation(red, green, blue);
        worst_hue = std::max(worst_hue, std::fabs(hue[lane] - static_cast<long double>(x.hue)));
        worst_saturation = std::max(
            worst_saturation, std::fabs(saturation[lane] - static_cast<long double>(x.saturation)));
      }
    }
    std::printf("%s: largest estimate errors: hue %.3Lg, saturation %.3Lg (margin %g)\n", v.name,
                worst_hue, worst_saturation, static_cast<double>(hsv_rounding_margin));
    EXPECT_LT(worst_hue, hsv_rounding_margin / 4);
    EXPECT_LT(worst_saturation, hsv_rounding_margin / 4);
  }
}

}  // namespace
