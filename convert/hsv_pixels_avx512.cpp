// The hue kernel of hsv_vector_steps.h, sixteen pixels at a time.
#include "convert/hsv_pixels.h"
#include "convert/hsv_vector_steps.h"
#include "convert/vector_512.h"

void estimate_hue_saturation_avx512(const std::uint8_t* in, float* hue, float* saturation) {
  estimate_hue_saturation_vector<vector_512>(in, hue, saturation);
}

void hsv_pixels_avx512(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  hsv_pixels_vector<vector_512>(in, out, count);
}

void hsv_packed_pixels_avx512(const std::uint8_t* in, std::uint8_t* out, std::int64_t count) {
  hsv_packed_pixels_vector<vector_512>(in, out, count);
}
