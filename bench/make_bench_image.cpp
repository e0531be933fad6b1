// Writes a photo-like test bitmap for the whole-run benchmark: smooth
// colour gradients with a few soft blobs, some grey areas and a little
// noise, so that neighbouring pixels are alike but not equal.
//
//   make_bench_image WIDTH HEIGHT BITS output.bmp [--top-down]   (BITS: 8, 24 or 32)
//
// With --top-down the rows are stored top row first (negative height), with
// the same pixels as the bottom-up file of that size.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void store_u32le(std::uint32_t v, std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

std::uint8_t clamp_byte(double v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5);
}

// A small linear congruential generator: the same picture on every machine.
struct noise {
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  double next() {  // roughly -6 to 6
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<double>((state >> 40) % 13) - 6.0;
  }
};

void colour_at(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h, noise& n,
               std::uint8_t bgr[3]) {
  const double u = static_cast<double>(x) / w;
  const double v = static_cast<double>(y) / h;
  const double blob = std::exp(-((u - 0.3) * (u - 0.3) + (v - 0.6) * (v - 0.6)) * 12.0);
  const double sky = 0.5 + 0.5 * std::sin(6.0 * u + 2.0 * v);
  double r = 200 * v + 55 * blob + 20 * sky;
  double g = 120 + 90 * std::sin(3.0 * u) * (1 - v) + 40 * blob;
  double b = 230 * sky * (1 - 0.6 * blob) + 20 * u;
  if (u > 0.75 && v < 0.35) {  // a grey region, as in shadows and overcast skies
    const double grey = 60 + 150 * v;
    r = g = b = grey;
  }
  const double grain = n.next();
  bgr[0] = clamp_byte(b + grain);
  bgr[1] = clamp_byte(g + grain);
  bgr[2] = clamp_byte(r + grain);
}

// The file and palette headers; sizes too large for their 32-bit fields are
// left 0, which readers take as "implied by the dimensions".
void write_header(std::uint32_t w, std::uint32_t h, std::uint32_t bits, std::size_t stride,
                  bool top_down, std::uint8_t* header) {
  const std::uint32_t palette_bytes = bits == 8 ? 1024 : 0;
  const std::uint64_t pixel_bytes = std::uint64_t{stride} * h;
  const bool sizes_fit = pixel_bytes <= UINT32_MAX - 54 - palette_bytes;
  header[0] = 'B';
  header[1] = 'M';
  store_u32le(sizes_fit ? static_cast<std::uint32_t>(54 + palette_bytes + pixel_bytes) : 0,
              header + 2);
  store_u32le(54 + palette_bytes, header + 10);
  store_u32le(40, header + 14);
  store_u32le(w, header + 18);
  store_u32le(top_down ? 0u - h : h, header + 22);
  header[26] = 1;
  header[28] = static_cast<std::uint8_t>(bits);
  store_u32le(sizes_fit ? static_cast<std::uint32_t>(pixel_bytes) : 0, header + 34);
  if (bits == 8) {  // 6 x 7 x 6 colour cube, then greys
    std::uint8_t* entry = header + 54;
    for (int i = 0; i < 256; ++i, entry += 4) {
      if (i < 252) {
        entry[0] = static_cast<std::uint8_t>(i % 6 * 51);
        entry[1] = static_cast<std::uint8_t>(i / 6 % 7 * 42);
        entry[2] = static_cast<std::uint8_t>(i / 42 * 51);
      } else {
        entry[0] = entry[1] = entry[2] = static_cast<std::uint8_t>((i - 252) * 85);
      }
    }
  }
}

// Row y counted from the bottom, as it is stored in a bottom-up file.
void fill_row(std::uint32_t y, std::uint32_t w, std::uint32_t h, std::uint32_t bits, noise& n,
              std::uint8_t* row) {
  for (std::uint32_t x = 0; x < w; ++x) {
    std::uint8_t bgr[3];
    colour_at(x, y, w, h, n, bgr);
    if (bits == 8) {
      row[x] = static_cast<std::uint8_t>(bgr[0] * 6 / 256 + 6 * (bgr[1] * 7 / 256) +
                                         42 * (bgr[2] * 6 / 256));
    } else {
      std::uint8_t* p = row + std::size_t{x} * (bits / 8);
      p[0] = bgr[0];
      p[1] = bgr[1];
      p[2] = bgr[2];
      if (bits == 32) {
        p[3] = 0;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool top_down = argc == 6 && std::strcmp(argv[5], "--top-down") == 0;
  if (argc != (top_down ? 6 : 5)) {
    std::fputs("usage: make_bench_image WIDTH HEIGHT BITS output.bmp [--top-down]\n", stderr);
    return 2;
  }
  const auto w = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
  const auto h = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const auto bits = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
  if (w == 0 || h == 0 || w > 50000 || h > 50000 || (bits != 8 && bits != 24 && bits != 32)) {
    std::fputs("make_bench_image: width and height 1 to 50000, bits 8, 24 or 32\n", stderr);
    return 2;
  }
  const std::size_t stride = (std::size_t{w} * (bits / 8) + 3) & ~std::size_t{3};
  const std::uint32_t palette_bytes = bits == 8 ? 1024 : 0;
  std::vector<std::uint8_t> head(54 + palette_bytes, 0);
  write_header(w, h, bits, stride, top_down, head.data());
  std::FILE* out = std::fopen(argv[4], "wb");
  bool written = out != nullptr && std::fwrite(head.data(), head.size(), 1, out) == 1;
  // Row by row, so that a picture of a gigabyte or more needs no more
  // memory than a row. The rows are made bottom row first whatever the
  // order on file: a top-down file holds the very pixels of a bottom-up one.
  std::vector<std::uint8_t> row(stride, 0);
  noise n;
  for (std::uint32_t y = 0; y < h && written; ++y) {
    fill_row(y, w, h, bits, n, row.data());
    if (top_down) {
      const std::uint64_t at = head.size() + std::uint64_t{h - 1 - y} * stride;
      written = std::fseek(out, static_cast<long>(at), SEEK_SET) == 0;
    }
    written = written && std::fwrite(row.data(), stride, 1, out) == 1;
  }
  if (!written) {
    std::fprintf(stderr, "make_bench_image: cannot write %s\n", argv[4]);
  }
  return out != nullptr && std::fclose(out) == 0 && written ? 0 : 1;
}
