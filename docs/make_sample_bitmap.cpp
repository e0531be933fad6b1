// Writes the gallery's sample picture as a 24-bit bitmap:
//   make_sample_bitmap PATH
// Hue runs from left to right. Top band: full saturation, brighter towards
// the bottom; middle band: full brightness, paler towards the bottom;
// bottom band: a grey ramp from black to white. The arithmetic is that of
// Python's colorsys.hsv_to_rgb followed by round(), step for step, each step
// rounded to double, so the pixels are the same wherever the picture is made.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int sample_width = 256;
constexpr int sample_height = 192;
constexpr int header_bytes = 54;

// Rounds a result to double. A processor that evaluates in wider registers
// (the x87 unit's 80 bits) would otherwise carry the extra bits into the next
// step: at x = 98, y = 5 a component that Python makes 25.499999999999996
// came out 25.5 or above and rounded to 26. A store to memory rounds whatever
// the compiler's options.
double as_double(double value) {
  volatile double stored = value;
  return stored;
}

struct rgb {
  double red;
  double green;
  double blue;
};

rgb hsv_to_rgb(double hue, double saturation, double value) {
  if (saturation == 0.0) {
    return {value, value, value};
  }
  const int sector = static_cast<int>(hue * 6.0);
  const double f = hue * 6.0 - sector;
  const double p = as_double(value * as_double(1.0 - saturation));
  const double q = as_double(value * as_double(1.0 - as_double(saturation * f)));
  const double t = as_double(value * as_double(1.0 - as_double(saturation * as_double(1.0 - f))));
  switch (sector % 6) {
    case 0:
      return {value, t, p};
    case 1:
      return {q, value, p};
    case 2:
      return {p, value, t};
    case 3:
      return {p, q, value};
    case 4:
      return {t, p, value};
    default:
      return {value, p, q};
  }
}

rgb sample_colour(int x, int y) {
  const double hue = static_cast<double>(x) / sample_width;
  if (y < 96) {
    return hsv_to_rgb(hue, 1.0, as_double(0.3 + as_double(as_double(0.7 * y) / 95)));
  }
  if (y < 152) {
    return hsv_to_rgb(hue, as_double(1.0 - as_double(as_double(0.85 * (y - 96)) / 55)), 1.0);
  }
  const double grey = static_cast<double>(x) / (sample_width - 1);
  return {grey, grey, grey};
}

// Rounds half to even, as Python's round() does (the default rounding mode).
std::uint8_t to_byte(double component) {
  return static_cast<std::uint8_t>(std::nearbyint(as_double(component * 255)));
}

void put_u32le(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// The sample as a bottom-up 24-bit bitmap with the 40-byte information header.
std::vector<std::uint8_t> sample_bitmap() {
  const std::size_t stride = (sample_width * 3 + 3) / 4 * 4;  // rows padded to 4 bytes
  const std::size_t pixel_bytes = stride * sample_height;
  std::vector<std::uint8_t> file(header_bytes + pixel_bytes, 0);
  file[0] = 'B';
  file[1] = 'M';
  put_u32le(file, 2, static_cast<std::uint32_t>(file.size()));
  put_u32le(file, 10, header_bytes);
  put_u32le(file, 14, 40);
  put_u32le(file, 18, sample_width);
  put_u32le(file, 22, sample_height);
  file[26] = 1;   // planes
  file[28] = 24;  // bits per pixel
  put_u32le(file, 34, static_cast<std::uint32_t>(pixel_bytes));
  for (int y = 0; y < sample_height; ++y) {
    const std::size_t row = header_bytes + stride * static_cast<std::size_t>(sample_height - 1 - y);
    for (int x = 0; x < sample_width; ++x) {
      const rgb colour = sample_colour(x, y);
      const std::size_t at = row + 3 * static_cast<std::size_t>(x);
      file[at] = to_byte(colour.blue);
      file[at + 1] = to_byte(colour.green);
      file[at + 2] = to_byte(colour.red);
    }
  }
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_sample_bitmap PATH\n", stderr);
    return 1;
  }
  const std::vector<std::uint8_t> file = sample_bitmap();
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(file.data(), file.size(), 1, out) == 1;
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
