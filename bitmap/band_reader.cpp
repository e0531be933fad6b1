#include "bitmap/band_reader.h"

#include <cstdio>

#include "bitmap/check_bitmap_header.h"
#include "bitmap/unpack_bitmap_pixels.h"
#include "system/status.h"

namespace {

// Whole rows as many as fill a band, and at least one; pieces of rows
// wider than a band; no band for an empty image.
band_plan plan_bands(const bitmap_layout& layout) {
  band_plan plan;
  if (layout.width <= 0 || layout.rows == 0) {
    return plan;
  }
  const auto width = static_cast<std::uint64_t>(layout.width);
  if (width > band_pixels) {
    plan.rows_per_band = 1;
    plan.piece_pixels = band_pixels;
    plan.pieces_per_row = (width + band_pixels - 1) / band_pixels;
    plan.count = layout.rows * plan.pieces_per_row;  // below 2^31 * 2^16
    return plan;
  }
  const std::uint64_t fitting = band_pixels / width;
  plan.rows_per_band = fitting < layout.rows ? fitting : layout.rows;
  plan.piece_pixels = width;
  plan.count = (layout.rows + plan.rows_per_band - 1) / plan.rows_per_band;
  return plan;
}

// Where a band's stored bytes lie in the input.
void locate_stored(const band_reader& reader, const band& b, std::uint64_t* offset,
                   std::uint64_t* length) {
  if (reader.plan.pieces_per_row > 1) {
    locate_piece(reader.layout, b.first_row, b.first_pixel, b.pixels, offset, length);
  } else {
    locate_band(reader.layout, b.first_row, b.rows, offset, length);
  }
}

// 32-bit rows, stored bottom up or as one piece, are working pixels as
// they stand.
bool stored_as_working(const bitmap_layout& layout, const band& b) {
  return layout.format->bits == 32 && (layout.bottom_up || b.rows == 1);
}

// 24-bit rows as they are stored: working row i of the band is stored row i
// of a bottom-up band, and counted from its end in a top-down one. A stride
// is below 2^33, so it fits the signed count.
band_source stored_24_bit_rows(const bitmap_layout& layout, const band& b,
                               const std::uint8_t* stored) {
  const auto stride = static_cast<std::int64_t>(layout.stride);
  const bool reversed = !layout.bottom_up && b.rows > 1;
  band_source source;
  source.first_row = reversed ? stored + static_cast<std::int64_t>(b.rows - 1) * stride : stored;
  source.stride = reversed ? -stride : stride;
  return source;
}

}  // namespace

int open_band_reader(const char* path, band_reader* reader) {
  int result = open_bitmap_input(path, &reader->input);
  std::uint8_t bytes[bitmap_header_bytes];
  const std::uint8_t* found = nullptr;
  if (result == status::ok &&
      !read_input_bytes(reader->input, 0, bitmap_header_bytes, bytes, &found)) {
    result = report_read_error(path);
  }
  bitmap_header& header = reader->header;
  if (result == status::ok) {
    header = read_bitmap_header(found);
    reader->layout = describe_layout(header);
    const bool refused = !reader->input.stream || refused_at_every_length(header);
    result = refused ? check_header_fields(header, reader->input.size) : status::ok;
  }
  // The unpacker would refuse this depth anyway; refusing it before any
  // memory is taken keeps a tiny file that claims gigabytes from reserving
  // it.
  if (result == status::ok && reader->layout.format == nullptr) {
    result = status::unsupported_depth;
  }
  if (result == status::ok) {
    reader->plan = plan_bands(reader->layout);
    const band_plan& plan = reader->plan;
    reader->working_bytes = plan.rows_per_band * plan.piece_pixels * 4;
    // A band's stored bytes: whole rows, padding and all, or a piece of at
    // most 4 bytes a pixel.
    reader->stored_bytes = plan.pieces_per_row > 1 ? plan.piece_pixels * 4
                                                   : plan.rows_per_band * reader->layout.stride;
  }
  return result;
}

int read_band_palette(band_reader* reader) {
  const palette_location& where = reader->layout.palette;
  const std::uint32_t count =
      where.count < most_palette_entries ? where.count : most_palette_entries;
  const std::uint8_t* entries = reader->palette_entries;
  if (count > 0 && !read_input_bytes(reader->input, where.offset, std::uint64_t{count} * 4,
                                     reader->palette_entries, &entries)) {
    return report_band_read_failure(reader);
  }
  reader->palette = palette_view{entries, count};
  return status::ok;
}

int finish_band_reader(band_reader* reader) {
  if (!reader->input.stream) {
    return status::ok;
  }
  const int counted = count_stream_end(&reader->input, bitmap_bytes_used(reader->header));
  return counted != status::ok ? counted : check_header_fields(reader->header, reader->input.size);
}

int report_band_read_failure(band_reader* reader) {
  const bitmap_input& input = reader->input;
  if (input.stream && input.ended && std::ferror(input.file) == 0) {
    const int refusal = finish_band_reader(reader);
    if (refusal != status::ok) {
      return refusal;
    }
  }
  return report_read_error(reader->input.path);
}

band band_in_read_order(const band_reader& reader, std::uint64_t k) {
  const band_plan& plan = reader.plan;
  if (!reader.input.stream || reader.layout.bottom_up) {
    return band_at(reader, k);
  }
  if (plan.pieces_per_row == 1) {
    return band_at(reader, plan.count - 1 - k);
  }
  const std::uint64_t row = reader.layout.rows - 1 - k / plan.pieces_per_row;
  return band_at(reader, row * plan.pieces_per_row + k % plan.pieces_per_row);
}

band band_at(const band_reader& reader, std::uint64_t index) {
  const band_plan& plan = reader.plan;
  band b{index, 0, 0, 0, plan.piece_pixels};
  if (plan.pieces_per_row > 1) {
    b.first_row = index / plan.pieces_per_row;
    b.rows = 1;
    b.first_pixel = index % plan.pieces_per_row * plan.piece_pixels;
    const std::uint64_t left = static_cast<std::uint64_t>(reader.layout.width) - b.first_pixel;
    b.pixels = left < plan.piece_pixels ? left : plan.piece_pixels;
    return b;
  }
  b.first_row = index * plan.rows_per_band;
  const std::uint64_t left = reader.layout.rows - b.first_row;
  b.rows = left < plan.rows_per_band ? left : plan.rows_per_band;
  return b;
}

std::uint64_t band_first_pixel(const band_reader& reader, const band& b) {
  return b.first_row * static_cast<std::uint64_t>(reader.layout.width) + b.first_pixel;
}

bool read_band(const band_reader& reader, const band& b, std::uint8_t* stored,
               std::uint8_t* working, bool from_24_bit, band_source* source) {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  locate_stored(reader, b, &offset, &length);
  const std::uint8_t* bytes = nullptr;
  if (!read_input_bytes(reader.input, offset, length, stored, &bytes)) {
    return false;
  }
  const bitmap_layout& layout = reader.layout;
  *source = band_source{};
  if (from_24_bit && layout.format->bits == 24) {
    *source = stored_24_bit_rows(layout, b, bytes);
  } else if (bytes == stored && stored_as_working(layout, b)) {
    source->working = stored;
  } else if (reader.plan.pieces_per_row > 1) {
    layout.format->unpack_row(reader.palette, bytes, working, b.pixels);
    source->working = working;
  } else {
    unpack_band(layout, reader.palette, bytes, b.rows, working);
    source->working = working;
  }
  return true;
}

void close_band_reader(band_reader* reader) { close_bitmap_input(&reader->input); }
