#include "bitmap/depth_formats.h"

namespace {

const depth_format depth_formats[] = {
    {32, unpack_row_32, palette_use::none},
    {24, unpack_row_24, palette_use::none},
    {8, unpack_row_8, palette_use::indexed},
    {1, unpack_row_1, palette_use::two_entries},
};

}  // namespace

const depth_format* find_depth_format(std::uint16_t bit_count) {
  for (const depth_format& format : depth_formats) {
    if (format.bits == bit_count) {
      return &format;
    }
  }
  return nullptr;
}
