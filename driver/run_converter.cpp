#include "driver/run_converter.h"

#include <cstdlib>

#include "core/alloc_large_block.h"
#include "core/bitmap_header.h"
#include "core/check_bitmap_header.h"
#include "core/load_bitmap_file.h"
#include "core/messages.h"
#include "core/pixel_rows.h"
#include "core/row_tables.h"
#include "core/status.h"
#include "core/unpack_bitmap_pixels.h"
#include "core/write_bitmap32.h"
#include "driver/parse_file_args.h"

namespace {

// Everything one run owns, released once at its end.
struct run_state {
  std::uint8_t* block = nullptr;  // the loaded file
  std::int64_t size = 0;
  std::uint8_t* destination = nullptr;
  std::uint8_t* source = nullptr;
  std::int64_t width = 0;
  std::int64_t rows = 0;
};

// A working image of bytes bytes; an empty image still gets a block so that
// "no pixels" and "no memory" stay apart.
std::uint8_t* alloc_working_image(std::uint64_t bytes, bool zeroed) {
  const std::size_t request = bytes == 0 ? 1 : static_cast<std::size_t>(bytes);
  return alloc_large_block(request, zeroed);
}

// The destination, then the source working image, each width x rows pixels
// of 4 bytes. The destination starts zeroed so that the fourth byte of
// every written pixel is 0.
int allocate_working_images(run_state* run) {
  const bitmap_header h = read_bitmap_header(run->block);
  // The unpacker would refuse this depth anyway; refusing it before the
  // working images exist keeps a tiny file that claims gigabytes of pixels
  // from reserving them.
  if (!is_supported_depth(h.bi_bit_count)) {
    return status::unsupported_depth;
  }
  run->width = h.bi_width;
  run->rows = header_rows(h);
  std::uint64_t bytes = 0;
  if (compute_image_bytes(run->width, run->rows, 4, &bytes)) {
    run->destination = alloc_working_image(bytes, true);
  }
  if (run->destination == nullptr) {
    print_message(message_id::no_memory_destination);
    return status::no_memory;
  }
  run->source = alloc_working_image(bytes, false);
  if (run->source == nullptr) {
    print_message(message_id::no_memory_source);
    return status::no_memory;
  }
  return status::ok;
}

// Runs the conversion. A refusal ends the run; a plane file that failed
// (9 or 10) is kept in *planes and the result is still written.
int convert_pixels(conversion_function convert, const run_state& run, int* planes) {
  const int result = convert(run.source, run.destination, run.width, run.rows);
  if (result == status::conversion_refused) {
    print_message(message_id::conversion_not_completed);
    return result;
  }
  *planes = result;
  return status::ok;
}

// Writes the result; the run's status is the planes' failure if there was
// one, else whether the result was written.
int write_result(const file_args& names, const run_state& run, int planes) {
  const output_name_kind kind =
      names.output_typed ? output_name_kind::typed : output_name_kind::chosen;
  const int written = write_bitmap32(names.output, run.destination, run.width, run.rows, kind);
  if (planes != status::ok) {
    return planes;
  }
  return written == status::ok ? status::ok : status::not_written;
}

void release_run(run_state* run) {
  std::free(run->source);
  std::free(run->destination);
  std::free(run->block);
}

}  // namespace

int run_converter(int argc, const char* const* argv, const char* default_name,
                  conversion_function convert) {
  file_args names{};
  if (parse_file_args(argc, argv, default_name, &names) != status::ok) {
    print_usage(argc > 0 ? argv[0] : nullptr);
    return status::usage;
  }
  run_state run;
  int planes = status::ok;
  int result = load_bitmap_file(names.input, &run.block, &run.size);
  if (result == status::ok) result = check_bitmap_header(run.block, run.size);
  if (result == status::ok) result = allocate_working_images(&run);
  if (result == status::ok) result = unpack_bitmap_pixels(run.block, run.size, run.source);
  if (result == status::ok) result = convert_pixels(convert, run, &planes);
  if (result == status::ok) result = write_result(names, run, planes);
  release_run(&run);
  return result;
}
