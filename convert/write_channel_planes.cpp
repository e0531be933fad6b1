#include "convert/write_channel_planes.h"

#include <cstdlib>
#include <cstring>

#include "core/load_bitmap_file.h"
#include "core/memory_word.h"
#include "core/messages.h"
#include "core/row_tables.h"
#include "core/status.h"
#include "core/write_bitmap32.h"

const channel_plane yuv_planes[channel_plane_count] = {
    {2, "bmp_yuv_v.bmp"}, {0, "bmp_yuv_u.bmp"}, {1, "bmp_yuv_y.bmp"}};

const channel_plane hsv_planes[channel_plane_count] = {
    {2, "bmp_hsv_h.bmp"}, {0, "bmp_hsv_s.bmp"}, {1, "bmp_hsv_v.bmp"}};

namespace {

void fill_plane(std::uint8_t* const* converted_rows, std::uint8_t* const* plane_rows,
                std::int64_t width, std::int64_t rows, int byte_index) {
  // Times a byte c, the word whose bytes are 1, 1, 1, 0 is the grey pixel
  // c, c, c, 0.
  const std::uint32_t unit = word_of_bytes(1, 1, 1, 0);
  for (std::int64_t r = 0; r < rows; ++r) {
    const std::uint8_t* in = converted_rows[r] + byte_index;
    std::uint8_t* out = plane_rows[r];
    // Whole words, so that the compiler can fill many pixels at a time.
    for (std::int64_t x = 0; x < width; ++x) {
      const std::uint32_t grey = in[4 * x] * unit;
      std::memcpy(out + 4 * x, &grey, 4);
    }
  }
}

}  // namespace

int write_channel_planes(std::uint8_t* destination, std::int64_t width, std::int64_t rows,
                         const channel_plane* planes) {
  std::uint8_t** converted_rows = make_row_table(destination, width, 4, rows);
  std::uint8_t** plane_rows = alloc_image2d(4, width, rows);
  if (converted_rows == nullptr || plane_rows == nullptr) {
    std::free(converted_rows);
    std::free(plane_rows);
    print_message(message_id::no_memory_planes);
    return status::no_memory;
  }
  // A plane never replaces the picture it was made from; which names lead
  // to the input is settled before any file is written.
  bool is_input[channel_plane_count];
  for (int i = 0; i < channel_plane_count; ++i) {
    is_input[i] = names_loaded_file(planes[i].file_name);
  }
  int result = status::ok;
  for (int i = 0; i < channel_plane_count; ++i) {
    if (is_input[i]) {
      print_name_message(message_id::cannot_create, planes[i].file_name);
      result = status::not_written;
      continue;
    }
    fill_plane(converted_rows, plane_rows, width, rows, planes[i].byte_index);
    if (write_bitmap32(planes[i].file_name, plane_rows[0], width, rows, output_name_kind::chosen) !=
        status::ok) {
      result = status::not_written;
    }
  }
  std::free(converted_rows);
  std::free(plane_rows);
  return result;
}
