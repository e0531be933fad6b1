#include <cmath>

#include "convert/arc_tangent.h"
#include "convert/colour_constants.h"
#include "convert/hsv_pixels.h"
#include "convert/packed_pixels.h"
#include "convert/quantize_channel.h"
#include "convert/ycbcr_sums.h"

// Hue is the angle of the (Cb, Cr) vector mapped from [-pi, pi] onto
// [0, 255]; saturation its length times the gain. Each step is rounded to
// single precision where the result is held.
void hsv_pixel_exact(const std::uint8_t* in, std::uint8_t* out) {
  using namespace colour;
  const ycbcr c = compute_ycbcr(in[2], in[1], in[0]);
  const double cb = c.cb;
  const double cr = c.cr;
  const auto angle = static_cast<float>(arc_tangent(cr, cb));
  const auto hue = static_cast<float>((static_cast<double>(angle) + pi) * hue_scale / two_pi);
  const auto length = static_cast<float>(std::sqrt(cb * cb + cr * cr));
  const auto saturation = static_cast<float>(static_cast<double>(length) * saturation_gain);
  out[0] = quantize_channel(saturation);
  out[1] = quantize_channel(c.y);
  out[2] = quantize_channel(hue);
}

void hsv_pixels_scalar(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i, in += 4, out += 4) {
    hsv_pixel_exact(in, out);
  }
}

void redo_exact_lanes(unsigned lanes, const std::uint8_t* in, int pixel_bytes, std::uint8_t* out) {
  for (int lane = 0; lanes != 0; ++lane, lanes >>= 1) {
    if ((lanes & 1u) != 0) {
      hsv_pixel_exact(in + pixel_bytes * lane, out + 4 * lane);
    }
  }
}

void hsv_packed_pixels_scalar(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  run_on_packed_pixels(hsv_pixels_scalar, in, out, count);
}
