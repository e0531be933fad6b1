// Fuzz target for the in-memory path of a run: header check, unpacking,
// both conversions and the plane and result writers, on arbitrary bytes.
// Besides crashes and sanitizer reports it treats as findings any status
// outside the documented set and any result that breaks a property every
// conversion must keep.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bitmap/bitmap_header.h"
#include "bitmap/check_bitmap_header.h"
#include "bitmap/image_bytes.h"
#include "bitmap/pixel_rows.h"
#include "bitmap/unpack_bitmap_pixels.h"
#include "bitmap/write_bitmap32.h"
#include "convert/channel_planes.h"
#include "convert/convert_to_hsv.h"
#include "convert/convert_to_yuv.h"
#include "fuzz/fuzz_support.h"

namespace {

// Larger images add nothing the fuzzer can learn from and only slow it.
constexpr std::uint64_t largest_image_bytes = 16u << 20;

struct images {
  std::uint8_t* source;
  std::uint8_t* yuv;
  std::uint8_t* hsv;
};

// Properties every converted pixel has whatever the source: the value of
// the hue conversion is the luma, the fourth byte is left alone, and grey
// has no colour.
void check_converted(const images& im, std::uint64_t pixels) {
  for (std::uint64_t i = 0; i < pixels; ++i) {
    const std::uint8_t* s = im.source + 4 * i;
    const std::uint8_t* y = im.yuv + 4 * i;
    const std::uint8_t* h = im.hsv + 4 * i;
    require(y[1] == h[1], "value differs from luma");
    require(y[3] == 0 && h[3] == 0, "fourth byte written");
    if (s[0] == s[1] && s[1] == s[2]) {
      require(y[0] == 128 && y[2] == 128, "grey has colour differences");
      require(h[0] == 0 && h[2] == (s[0] == 0 ? 128 : 236), "grey has a hue or saturation");
    }
  }
}

void convert_and_write(const images& im, std::int64_t width, std::int64_t rows,
                       std::uint64_t bytes) {
  const int expected = width > 0 && rows > 0 ? 0 : 1;
  require(convert_to_yuv(im.source, im.yuv, width, rows) == expected, "yuv status");
  require(convert_to_hsv(im.source, im.hsv, width, rows) == expected, "hsv status");
  if (expected != 0) {
    return;
  }
  check_converted(im, bytes / 4);
  // The saturation plane, made from the whole image as one band.
  fill_plane_band(im.hsv, im.source, bytes / 4, hsv_planes[1].byte_index);
  require(write_bitmap32(hsv_planes[1].file_name, im.source, width, rows,
                         output_name_kind::chosen) == 0,
          "plane not written");
  require(write_bitmap32("out.bmp", im.yuv, width, rows, output_name_kind::chosen) == 0,
          "result not written");
  const auto written = static_cast<std::uint64_t>(file_size_or_minus_one("out.bmp"));
  require(written == 54 + bytes, "result size");
  require(file_size_or_minus_one("bmp_hsv_s.bmp") == file_size_or_minus_one("out.bmp"),
          "plane size");
}

// Unpacks into fresh images and converts; accepted says whether the header
// check passed, which rules out every refusal but the depth.
void unpack_and_convert(const std::uint8_t* block, std::int64_t size, bool accepted) {
  const bitmap_header h = read_bitmap_header(block);
  const std::int64_t width = h.bi_width;
  const std::int64_t rows = header_rows(h);
  std::uint64_t bytes = 0;
  if (!compute_image_bytes(width, rows, 4, &bytes) || bytes > largest_image_bytes) {
    return;
  }
  const std::size_t request = bytes == 0 ? 1 : static_cast<std::size_t>(bytes);  // <= largest
  images im{static_cast<std::uint8_t*>(std::malloc(request)),
            static_cast<std::uint8_t*>(std::calloc(1, request)),
            static_cast<std::uint8_t*>(std::calloc(1, request))};
  require(im.source != nullptr && im.yuv != nullptr && im.hsv != nullptr, "no memory");
  const int unpacked = unpack_bitmap_pixels(block, size, im.source);
  const bool supported = is_supported_depth(h.bi_bit_count);
  if (accepted) {
    require(unpacked == (supported ? 0 : 1), "unpack status after an accepted header");
  } else {
    require(unpacked == 0 || unpacked == 1 || unpacked == 4, "unpack status");
  }
  if (unpacked == 0 && supported) {
    convert_and_write(im, width, rows, bytes);
  }
  std::free(im.source);
  std::free(im.yuv);
  std::free(im.hsv);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  enter_fuzz_workdir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A block of exactly the file's size, so that any read past its end is
  // caught by the address sanitizer.
  std::uint8_t* block = static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
  require(block != nullptr, "no memory");
  if (size != 0) {
    std::memcpy(block, data, size);
  }
  const auto length = static_cast<std::int64_t>(size);
  const int checked = check_bitmap_header(size == 0 ? nullptr : block, length);
  require(checked >= 0 && checked <= 8, "header check status");
  if (length > bitmap_header_bytes) {
    unpack_and_convert(block, length, checked == 0);
  }
  std::free(block);
  remove_run_outputs();
  return 0;
}
