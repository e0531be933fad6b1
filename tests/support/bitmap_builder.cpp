#include "tests/support/bitmap_builder.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

void append_le(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out.push_back(static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF));
  }
}

}  // namespace

std::vector<std::uint8_t> build_bitmap(const test_bitmap& s) {
  const std::uint64_t off =
      s.off_bits >= 0 ? static_cast<std::uint64_t>(s.off_bits) : 54 + s.palette.size();
  const std::uint64_t total = 54 + s.palette.size() + s.pixels.size();
  std::vector<std::uint8_t> out;
  append_le(out, s.type, 2);
  append_le(out, s.file_size != 0 ? s.file_size : total, 4);
  append_le(out, s.reserved1, 2);
  append_le(out, s.reserved2, 2);
  append_le(out, off, 4);
  append_le(out, s.info_size, 4);
  append_le(out, static_cast<std::uint32_t>(s.width), 4);
  append_le(out, static_cast<std::uint32_t>(s.height), 4);
  append_le(out, s.planes, 2);
  append_le(out, s.bit_count, 2);
  append_le(out, s.compression, 4);
  append_le(out, s.size_image, 4);
  append_le(out, 2835, 4);  // resolution fields: any value must do
  append_le(out, 2835, 4);
  append_le(out, 0, 4);
  append_le(out, 0, 4);
  out.insert(out.end(), s.palette.begin(), s.palette.end());
  out.insert(out.end(), s.pixels.begin(), s.pixels.end());
  return out;
}

std::vector<std::uint8_t> pad_rows(const std::vector<std::vector<std::uint8_t>>& rows) {
  std::vector<std::uint8_t> out;
  for (const auto& row : rows) {
    out.insert(out.end(), row.begin(), row.end());
    for (std::size_t n = row.size(); n % 4 != 0; ++n) {
      out.push_back(0xEE);  // padding bytes must never be read as pixels
    }
  }
  return out;
}

std::vector<std::uint8_t> palette_of(const std::vector<std::vector<std::uint8_t>>& entries) {
  std::vector<std::uint8_t> out;
  for (const auto& e : entries) {
    out.insert(out.end(), e.begin(), e.end());
  }
  return out;
}

test_bitmap sample_bitmap_24(std::int32_t width, std::int32_t height) {
  std::vector<std::vector<std::uint8_t>> rows;
  for (std::int32_t y = 0; y < height; ++y) {
    std::vector<std::uint8_t> row;
    for (std::int32_t x = 0; x < width; ++x) {
      const auto fx = static_cast<unsigned>(x * 255 / (width > 1 ? width - 1 : 1));
      const auto fy = static_cast<unsigned>(y * 255 / (height > 1 ? height - 1 : 1));
      row.push_back(static_cast<std::uint8_t>(fx));                              // blue
      row.push_back(static_cast<std::uint8_t>(fy));                              // green
      row.push_back(static_cast<std::uint8_t>((fx * 7 + fy * 13 + 31) & 0xFF));  // red
    }
    rows.push_back(row);
  }
  test_bitmap b;
  b.width = width;
  b.height = height;
  b.bit_count = 24;
  b.pixels = pad_rows(rows);
  return b;
}

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

std::uint32_t u32_at(const std::vector<std::uint8_t>& b, std::size_t o) {
  return static_cast<std::uint32_t>(b.at(o)) | static_cast<std::uint32_t>(b.at(o + 1)) << 8 |
         static_cast<std::uint32_t>(b.at(o + 2)) << 16 |
         static_cast<std::uint32_t>(b.at(o + 3)) << 24;
}

std::uint16_t u16_at(const std::vector<std::uint8_t>& b, std::size_t o) {
  return static_cast<std::uint16_t>(b.at(o) | b.at(o + 1) << 8);
}

void put_u32(std::vector<std::uint8_t>& b, std::size_t o, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    b.at(o + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
  }
}
