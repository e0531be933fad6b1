// Writes the fuzzers' seed corpus into the directory given as the only
// argument: small valid files of every depth and row order, odd widths,
// palettes of 0, 2 and 256 entries, palettes after larger information
// headers, and headers on the edges of the rules.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/bitmap_builder.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct seed {
  std::string name;
  test_bitmap bitmap;
};

// Stored rows of a width x rows picture at depth bits, with a pattern that
// touches every palette entry the depth can name.
bytes pattern_rows(int width, int rows, int bits) {
  std::vector<bytes> stored;
  for (int r = 0; r < rows; ++r) {
    bytes row;
    if (bits == 1) {
      row.assign(static_cast<std::size_t>((width + 7) / 8), static_cast<std::uint8_t>(0xA5 + r));
    } else {
      for (int x = 0; x < width * bits / 8; ++x) {
        row.push_back(static_cast<std::uint8_t>(37 * x + 101 * r + 5));
      }
    }
    stored.push_back(row);
  }
  return pad_rows(stored);
}

bytes grey_palette(int entries) {
  std::vector<bytes> list;
  for (int i = 0; i < entries; ++i) {
    const auto level = static_cast<std::uint8_t>(entries > 1 ? i * 255 / (entries - 1) : 0);
    list.push_back({level, static_cast<std::uint8_t>(255 - level), level, 0});
  }
  return palette_of(list);
}

test_bitmap picture(int width, int height, int bits, int palette_entries) {
  test_bitmap b;
  b.width = width;
  b.height = height;
  b.bit_count = static_cast<std::uint16_t>(bits);
  b.palette = grey_palette(palette_entries);
  b.pixels = pattern_rows(width, height < 0 ? -height : height, bits);
  return b;
}

std::vector<seed> valid_seeds() {
  std::vector<seed> seeds;
  for (const int bits : {1, 8, 24, 32}) {
    const int entries = bits == 1 ? 2 : bits == 8 ? 16 : 0;
    for (const int width : {1, 3, 5, 9}) {
      for (const int height : {2, -2}) {
        seeds.push_back({std::to_string(bits) + "bit_w" + std::to_string(width) +
                             (height > 0 ? "_bottom_up" : "_top_down"),
                         picture(width, height, bits, entries)});
      }
    }
  }
  seeds.push_back({"8bit_no_palette", picture(4, 2, 8, 0)});
  seeds.push_back({"8bit_256_entries", picture(7, 3, 8, 256)});
  return seeds;
}

std::vector<seed> edge_seeds() {
  std::vector<seed> seeds;
  test_bitmap sized = picture(3, 2, 24, 0);
  sized.size_image = 3 * 2 * 3;  // padding not counted: still accepted
  seeds.push_back({"24bit_size_image_without_padding", sized});
  test_bitmap zero_width = picture(1, 2, 24, 0);
  zero_width.width = 0;
  seeds.push_back({"24bit_width_0", zero_width});
  test_bitmap negative_width = picture(2, 2, 24, 0);
  negative_width.width = -2;
  seeds.push_back({"24bit_width_minus_2", negative_width});
  test_bitmap most_rows = picture(1, 1, 24, 0);
  most_rows.height = INT32_MIN;
  seeds.push_back({"24bit_height_int_min", most_rows});
  test_bitmap sixteen = picture(2, 2, 32, 0);
  sixteen.bit_count = 16;
  seeds.push_back({"16bit_unsupported", sixteen});
  test_bitmap low_offset = picture(4, 2, 8, 0);
  low_offset.off_bits = 50;
  seeds.push_back({"8bit_offset_50", low_offset});
  test_bitmap odd_palette = picture(4, 2, 8, 2);
  odd_palette.off_bits = 54 + 2 * 4 - 2;
  seeds.push_back({"8bit_palette_not_whole", odd_palette});
  for (const std::uint32_t info_size : {108u, 124u}) {
    // The palette follows the larger information header.
    test_bitmap larger_header = picture(5, 2, 8, 16);
    larger_header.info_size = info_size;
    larger_header.palette.insert(larger_header.palette.begin(), info_size - 40, 0x5A);
    seeds.push_back({"8bit_header_" + std::to_string(info_size), larger_header});
  }
  test_bitmap four_entries = picture(8, 1, 1, 4);
  seeds.push_back({"1bit_four_entries", four_entries});
  test_bitmap bit_fields = picture(2, 2, 32, 0);
  bit_fields.compression = 3;
  seeds.push_back({"32bit_bit_fields", bit_fields});
  test_bitmap short_rows = picture(4, 4, 24, 0);
  short_rows.pixels.resize(short_rows.pixels.size() - 5);
  seeds.push_back({"24bit_rows_cut_short", short_rows});
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_seed_corpus DIRECTORY\n", stderr);
    return 1;
  }
  std::vector<seed> seeds = valid_seeds();
  for (const seed& s : edge_seeds()) {
    seeds.push_back(s);
  }
  for (const seed& s : seeds) {
    const std::string path = std::string(argv[1]) + "/" + s.name + ".bmp";
    if (!write_file(path, build_bitmap(s.bitmap))) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
