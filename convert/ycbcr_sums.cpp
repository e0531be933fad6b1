#include "convert/ycbcr_sums.h"
#include "convert/colour_constants.h"

namespace {

// Every coefficient, as a double, is a whole multiple of 2^-56, so a byte
// times a coefficient, and any sum of three such products, is an exact
// integer count of 2^-56 units below 2^64 in magnitude.
constexpr double units_per_one = 72057594037927936.0;    // 2^56
constexpr float one_unit = 1.0f / 72057594037927936.0f;  // 2^-56, exact

constexpr std::int64_t to_units(double coefficient) {
  return static_cast<std::int64_t>(coefficient * units_per_one);
}

constexpr bool is_whole_units(double coefficient) {
  return static_cast<double>(to_units(coefficient)) == coefficient * units_per_one;
}

using namespace colour;

static_assert(is_whole_units(y_red) && is_whole_units(y_green) && is_whole_units(y_blue) &&
                  is_whole_units(cb_red) && is_whole_units(cb_green) && is_whole_units(cb_blue) &&
                  is_whole_units(cr_red) && is_whole_units(cr_green) && is_whole_units(cr_blue),
              "coefficients must be exact multiples of 2^-56");

// Y's coefficients are positive and its sum can pass 2^63: unsigned.
constexpr auto y_units_red = static_cast<std::uint64_t>(to_units(y_red));
constexpr auto y_units_green = static_cast<std::uint64_t>(to_units(y_green));
constexpr auto y_units_blue = static_cast<std::uint64_t>(to_units(y_blue));

// The colour differences stay within +-127.5 * 2^56 < 2^63: signed.
constexpr std::int64_t cb_units_red = to_units(cb_red);
constexpr std::int64_t cb_units_green = to_units(cb_green);
constexpr std::int64_t cb_units_blue = to_units(cb_blue);
constexpr std::int64_t cr_units_red = to_units(cr_red);
constexpr std::int64_t cr_units_green = to_units(cr_green);
constexpr std::int64_t cr_units_blue = to_units(cr_blue);

}  // namespace

ycbcr compute_ycbcr(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const std::uint64_t y = y_units_red * red + y_units_green * green + y_units_blue * blue;
  const std::int64_t cb = cb_units_red * red + cb_units_green * green + cb_units_blue * blue;
  const std::int64_t cr = cr_units_red * red + cr_units_green * green + cr_units_blue * blue;
  // The integer-to-float conversions are the single rounding; scaling by a
  // power of two afterwards is exact.
  return ycbcr{static_cast<float>(y) * one_unit, static_cast<float>(cb) * one_unit,
               static_cast<float>(cr) * one_unit};
}
