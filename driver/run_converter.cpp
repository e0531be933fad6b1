#include "driver/run_converter.h"

#include <cstdio>
#include <cstdlib>

#include "core/alloc_large_block.h"
#include "core/bitmap_header.h"
#include "core/check_bitmap_header.h"
#include "core/load_bitmap_file.h"
#include "core/pixel_rows.h"
#include "core/row_tables.h"
#include "core/status.h"
#include "core/unpack_bitmap_pixels.h"
#include "core/write_bitmap32.h"
#include "driver/parse_file_args.h"

namespace {

// A working image of bytes bytes; an empty image still gets a block so that
// "no pixels" and "no memory" stay apart.
std::uint8_t* alloc_working_image(std::uint64_t bytes, bool zeroed) {
  const std::size_t request = bytes == 0 ? 1 : static_cast<std::size_t>(bytes);
  return alloc_large_block(request, zeroed);
}

// The two working images of a run, each width x rows pixels of 4 bytes.
struct working_images {
  std::uint8_t* source;
  std::uint8_t* destination;
  std::int64_t width;
  std::int64_t rows;
};

// Steps after the working images exist: unpack, convert, write the result.
int convert_and_write(const std::uint8_t* block, std::int64_t size, const working_images& images,
                      const char* output, conversion_function convert) {
  int result = unpack_bitmap_pixels(block, size, images.source);
  if (result != status::ok) {
    return result;
  }
  result = convert(images.source, images.destination, images.width, images.rows);
  if (result == status::conversion_refused) {
    std::fputs("Image processing is not completed.\n", stderr);
    return result;
  }
  // A plane that failed keeps its status; the result is written regardless.
  const int written = write_bitmap32(output, images.destination, images.width, images.rows);
  return written != status::ok && result == status::ok ? status::not_written : result;
}

// Allocates the destination, then the source working image, and runs the
// rest of the conversion on them. The destination starts zeroed so that
// the fourth byte of every written pixel is 0.
int convert_loaded_bitmap(const std::uint8_t* block, std::int64_t size, const char* output,
                          conversion_function convert) {
  const bitmap_header h = read_bitmap_header(block);
  // The unpacker would refuse this depth anyway; refusing it before the
  // working images exist keeps a tiny file that claims gigabytes of pixels
  // from reserving them.
  if (!is_supported_depth(h.bi_bit_count)) {
    return status::unsupported_depth;
  }
  working_images images{nullptr, nullptr, h.bi_width, header_rows(h)};
  std::uint64_t bytes = 0;
  if (compute_image_bytes(images.width, images.rows, 4, &bytes)) {
    images.destination = alloc_working_image(bytes, true);
  }
  if (images.destination == nullptr) {
    std::fputs("Couldn't allocate memory. destination\n", stderr);
    return status::no_memory;
  }
  images.source = alloc_working_image(bytes, false);
  if (images.source == nullptr) {
    std::free(images.destination);
    std::fputs("Couldn't allocate memory. source\n", stderr);
    return status::no_memory;
  }
  const int result = convert_and_write(block, size, images, output, convert);
  std::free(images.source);
  std::free(images.destination);
  return result;
}

}  // namespace

int run_converter(int argc, const char* const* argv, const char* default_name,
                  conversion_function convert) {
  file_args names{};
  if (parse_file_args(argc, argv, default_name, &names) != status::ok) {
    print_usage(argc > 0 ? argv[0] : nullptr);
    return status::usage;
  }
  std::uint8_t* block = nullptr;
  std::int64_t size = 0;
  int result = load_bitmap_file(names.input, &block, &size);
  if (result != status::ok) {
    return result;
  }
  result = check_bitmap_header(block, size);
  if (result == status::ok) {
    result = convert_loaded_bitmap(block, size, names.output, convert);
  }
  std::free(block);
  return result;
}
