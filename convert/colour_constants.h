// The numbers that define both conversions, and the single-precision
// forms the fast kernels estimate with. Every kernel reads them from here.
#pragma once

namespace colour {

// Y, Cb and Cr as weighted sums of red, green and blue, the weights taken
// as double-precision numbers.
constexpr double y_red = 0.299, y_green = 0.587, y_blue = 0.114;
constexpr double cb_red = -0.169, cb_green = -0.331, cb_blue = 0.5;
constexpr double cr_red = 0.5, cr_green = -0.419, cr_blue = -0.081;

// The same weights in thousandths, for the kernels that work on whole
// numbers: sum * 1000 of every pixel is exact in 32-bit arithmetic.
constexpr int y_red_k = 299, y_green_k = 587, y_blue_k = 114;
constexpr int cb_red_k = -169, cb_green_k = -331, cb_blue_k = 500;
constexpr int cr_red_k = 500, cr_green_k = -419, cr_blue_k = -81;

// A weight in thousandths, rounded to the nearest.
constexpr int in_thousandths(double weight) {
  return weight < 0 ? -static_cast<int>(-weight * 1000 + 0.5)
                    : static_cast<int>(weight * 1000 + 0.5);
}
static_assert(y_red_k == in_thousandths(y_red) && y_green_k == in_thousandths(y_green) &&
                  y_blue_k == in_thousandths(y_blue) && cb_red_k == in_thousandths(cb_red) &&
                  cb_green_k == in_thousandths(cb_green) && cb_blue_k == in_thousandths(cb_blue) &&
                  cr_red_k == in_thousandths(cr_red) && cr_green_k == in_thousandths(cr_green) &&
                  cr_blue_k == in_thousandths(cr_blue),
              "the weights in thousandths must be the double weights");

// Added to Cb and Cr before they become bytes; in thousandths with the
// half that rounds (floor((sum + half_k) / 1000) rounds sum / 1000).
constexpr int colour_difference_offset = 128;
constexpr int half_k = 500;
constexpr int offset_and_half_k = 1000 * colour_difference_offset + half_k;

// Hue maps the angle of (Cb, Cr) from [-pi, pi] onto [0, 255]; saturation
// is the length of (Cb, Cr) times the gain.
constexpr double pi = 3.141592653589793;
constexpr double two_pi = 2 * pi;
constexpr double hue_scale = 255.0;
constexpr double saturation_gain = 1.87;

// Every grey but black has the hue byte of the direction (-2, 1) in
// (Cb, Cr) (its weights do not quite cancel); black's Cb and Cr are 0
// and its hue byte that of angle 0. Both have saturation byte 0.
constexpr int grey_hue_byte = 236;
constexpr int black_hue_byte = 128;

// Single-precision forms for the estimating kernels.
constexpr float pi_f = static_cast<float>(pi);
constexpr float half_pi_f = static_cast<float>(pi / 2);
constexpr float quarter_pi_f = static_cast<float>(pi / 4);
constexpr float hue_per_radian_f = static_cast<float>(hue_scale / two_pi);
constexpr float hue_of_angle_0_f = 127.5f;
constexpr float saturation_gain_f = 1.87f;

// The classic single-precision arc tangent (relative error near 2e-7): for
// x = n / d above tan(pi/8) the argument becomes (n - d) / (n + d) and pi/4
// is added; then atan(x) = x + x z (c3 + z (c5 + z (c7 + z c9))), z = x^2,
// evaluated from c9 outwards.
constexpr float tan_eighth_pi_f = 0.41421356f;
constexpr float arctan_c9 = 8.05374449538e-2f;
constexpr float arctan_c7 = -1.38776856032e-1f;
constexpr float arctan_c5 = 1.99777106478e-1f;
constexpr float arctan_c3 = -3.33329491539e-1f;

}  // namespace colour
