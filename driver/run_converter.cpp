#include "driver/run_converter.h"

#include <cstdlib>

#include "bitmap/bitmap_input.h"
#include "bitmap/check_bitmap_header.h"
#include "bitmap/image_bytes.h"
#include "bitmap/pixel_rows.h"
#include "bitmap/unpack_bitmap_pixels.h"
#include "bitmap/write_bitmap32.h"
#include "driver/band_hook.h"
#include "driver/parse_file_args.h"
#include "system/messages.h"
#include "system/status.h"
#include "system/write_output_file.h"

namespace {

// The working pixels of one band: enough rows to share out the cost of
// each read and write, few enough to stay in the processor's cache.
constexpr std::uint64_t band_bytes = std::uint64_t{256} << 10;

// An index is one byte, so no more palette entries can be looked up.
constexpr std::uint32_t most_palette_entries = 256;

// The plane files, then the result.
constexpr int most_outputs = channel_plane_count + 1;

// Everything one run owns, released once at its end.
struct run_state {
  bitmap_input input;
  bitmap_layout layout{};
  std::uint8_t palette_entries[4 * most_palette_entries] = {};
  palette_view palette{palette_entries, 0};
  std::uint64_t band_rows = 0;
  std::uint64_t band_working_bytes = 0;
  std::uint8_t* destination = nullptr;  // one band of converted pixels, fourth bytes 0
  std::uint8_t* source = nullptr;       // one band of working pixels, then its stored rows
  std::uint8_t* stored = nullptr;
  std::uint8_t* plane = nullptr;          // one band of a plane image
  const channel_plane* planes = nullptr;  // the planes written, or null
  int planes_status = status::ok;
  output_file outputs[most_outputs];
  int output_count = 0;
};

int report_read_error(const run_state& run) {
  print_name_message(message_id::read_error, run.input.path);
  return status::read_error;
}

int read_header(run_state* run, bitmap_header* header) {
  std::uint8_t bytes[bitmap_header_bytes];
  const std::uint8_t* found = nullptr;
  if (!read_input_bytes(run->input, 0, bitmap_header_bytes, bytes, &found)) {
    return report_read_error(*run);
  }
  *header = read_bitmap_header(found);
  run->layout = describe_layout(*header);
  return status::ok;
}

// A band buffer of bytes bytes (at least one, so that "no pixels" and "no
// memory" stay apart); null when there is no memory for it or the count is
// beyond any block of memory, which a 32-bit size_t cannot count.
std::uint8_t* take_band_buffer(std::uint64_t bytes, bool zeroed) {
  if (bytes > max_block_bytes) {
    return nullptr;
  }
  const std::size_t request = bytes > 0 ? static_cast<std::size_t>(bytes) : 1;
  return static_cast<std::uint8_t*>(zeroed ? std::calloc(1, request) : std::malloc(request));
}

// As many rows as fill a band, and at least one; none for an empty image.
std::uint64_t band_rows_for(std::int32_t width, std::uint64_t rows) {
  const std::uint64_t row_bytes = width > 0 ? static_cast<std::uint64_t>(width) * 4 : 1;
  const std::uint64_t fitting = band_bytes / row_bytes > 0 ? band_bytes / row_bytes : 1;
  return fitting < rows ? fitting : rows;
}

// The destination band (zeroed, so that the fourth byte of every written
// pixel is 0), then the source band with room for the stored rows it is
// unpacked from.
int allocate_bands(run_state* run) {
  const bitmap_layout& layout = run->layout;
  // The unpacker would refuse this depth anyway; refusing it before any
  // memory is taken keeps a tiny file that claims gigabytes from reserving
  // it.
  if (layout.format == nullptr) {
    return status::unsupported_depth;
  }
  run->band_rows = band_rows_for(layout.width, layout.rows);
  std::uint64_t working = 0;
  if (compute_image_bytes(layout.width, static_cast<std::int64_t>(run->band_rows), 4, &working)) {
    run->destination = take_band_buffer(working, true);
  }
  if (run->destination == nullptr) {
    print_message(message_id::no_memory_destination);
    return status::no_memory;
  }
  run->band_working_bytes = working;
  // A stored row is at most 3 bytes longer than its working row, so the
  // product and the sum stay far below 2^64.
  const std::uint64_t stored = run->band_rows * layout.stride;
  run->source = take_band_buffer(working + stored, false);
  if (run->source == nullptr) {
    print_message(message_id::no_memory_source);
    return status::no_memory;
  }
  run->stored = run->source + working;
  return status::ok;
}

// The palette entries the rows may look up, read once.
int read_palette(run_state* run) {
  const palette_location& where = run->layout.palette;
  const std::uint32_t count =
      where.count < most_palette_entries ? where.count : most_palette_entries;
  const std::uint8_t* entries = run->palette_entries;
  if (count > 0 && !read_input_bytes(run->input, where.offset, std::uint64_t{count} * 4,
                                     run->palette_entries, &entries)) {
    return report_read_error(*run);
  }
  run->palette = palette_view{entries, count};
  return status::ok;
}

// Reads, unpacks and converts the band of count working rows from first.
int convert_band(run_state* run, conversion_function convert, std::uint64_t band,
                 std::uint64_t first, std::uint64_t count) {
  const bitmap_layout& layout = run->layout;
  if (count > 0 && layout.width > 0) {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    locate_band(layout, first, count, &offset, &length);
    const std::uint8_t* stored = nullptr;
    if (!read_input_bytes(run->input, offset, length, run->stored, &stored)) {
      return report_read_error(*run);
    }
    after_band_read(run->input.path, band);
    unpack_band(layout, run->palette, stored, count, run->source);
  }
  if (convert(run->source, run->destination, layout.width, static_cast<std::int64_t>(count)) !=
      status::ok) {
    print_message(message_id::conversion_not_completed);
    return status::conversion_refused;
  }
  return status::ok;
}

// The band of plane pixels, when the program writes planes; without it no
// plane is written, and the run ends with 9 once the result is written.
void allocate_plane_band(run_state* run, const channel_plane* planes) {
  if (planes == nullptr) {
    return;
  }
  run->plane = take_band_buffer(run->band_working_bytes, false);
  if (run->plane == nullptr) {
    print_message(message_id::no_memory_planes);
    run->planes_status = status::no_memory;
    return;
  }
  run->planes = planes;
}

// Every output starts with this header; false when the image has more rows
// than the format can describe.
bool make_output_header(const bitmap_layout& layout, std::uint8_t* header) {
  if (layout.rows > INT32_MAX) {
    return false;
  }
  make_bitmap32_header(layout.width, static_cast<std::int32_t>(layout.rows), header);
  return true;
}

void fail_output(output_file* out, const char* path, message_id why) {
  out->path = path;
  out->failed = true;
  out->failure = why;
}

// Opens the next output, as the rules decide for its name.
void open_next_output(run_state* run, const char* path, output_name_kind kind, bool header_fits) {
  const int index = run->output_count++;
  output_file* out = &run->outputs[index];
  output_request request;
  request.kind = kind;
  request.plane = run->planes != nullptr && index < channel_plane_count;
  request.input = &run->input.identity;
  if (!header_fits) {
    fail_output(out, path, message_id::write_error);
  } else {
    open_output_file(path, request, out);
  }
}

// Whether the input must be read whole before anything is written: an
// output goes straight into the input file, or replaces it where an open
// file cannot be replaced.
bool must_hold_input(const run_state& run) {
  for (int i = 0; i < run.output_count; ++i) {
    const output_file& out = run.outputs[i];
    if (writes_directly_over(out, run.input.identity) ||
        (!open_files_can_be_replaced() && out.file != nullptr &&
         name_leads_to(out.path, run.input.identity))) {
      return true;
    }
  }
  return false;
}

// Opens the planes (in order) and the result and writes their headers.
int open_outputs(run_state* run, const file_args& names) {
  std::uint8_t header[bitmap_header_bytes];
  const bool header_fits = make_output_header(run->layout, header);
  const int plane_count = run->planes != nullptr ? channel_plane_count : 0;
  for (int i = 0; i < plane_count; ++i) {
    open_next_output(run, run->planes[i].file_name, output_name_kind::chosen, header_fits);
  }
  open_next_output(run, names.output,
                   names.output_typed ? output_name_kind::typed : output_name_kind::chosen,
                   header_fits);
  if (must_hold_input(*run)) {
    const int held = hold_input_in_memory(&run->input);
    if (held != status::ok) {
      return held;
    }
  }
  for (int i = 0; i < run->output_count; ++i) {
    if (run->outputs[i].file != nullptr) {
      write_output_bytes(&run->outputs[i], header, bitmap_header_bytes);
    }
  }
  return status::ok;
}

bool any_output_open(const run_state& run) {
  for (int i = 0; i < run.output_count; ++i) {
    if (run.outputs[i].file != nullptr) {
      return true;
    }
  }
  return false;
}

// Writes the converted band of count rows to each plane and the result.
void write_band(run_state* run, std::uint64_t count) {
  const std::uint64_t pixels = static_cast<std::uint64_t>(run->layout.width) * count;
  const int plane_count = run->planes != nullptr ? channel_plane_count : 0;
  for (int i = 0; i < plane_count; ++i) {
    if (run->outputs[i].file != nullptr) {
      fill_plane_band(run->destination, run->plane, pixels, run->planes[i].byte_index);
      write_output_bytes(&run->outputs[i], run->plane, pixels * 4);
    }
  }
  output_file* result = &run->outputs[run->output_count - 1];
  if (result->file != nullptr) {
    write_output_bytes(result, run->destination, pixels * 4);
  }
}

// The first band is converted already; the others follow, each written as
// soon as it is converted.
int write_bands(run_state* run, conversion_function convert) {
  const std::uint64_t rows = run->layout.rows;
  std::uint64_t band = 0;
  for (std::uint64_t first = 0; first < rows && any_output_open(*run);
       first += run->band_rows, ++band) {
    const std::uint64_t left = rows - first;
    const std::uint64_t count = left < run->band_rows ? left : run->band_rows;
    if (band > 0) {
      const int converted = convert_band(run, convert, band, first, count);
      if (converted != status::ok) {
        return converted;
      }
    }
    write_band(run, count);
  }
  return status::ok;
}

// Puts the planes in place, then the result, each reporting its own
// failure in that order. The status is the planes' failure if there was
// one, else whether the result was written.
int finish_outputs(run_state* run) {
  const int plane_count = run->planes != nullptr ? channel_plane_count : 0;
  for (int i = 0; i < run->output_count; ++i) {
    close_output_file(&run->outputs[i]);
    report_output_failure(run->outputs[i]);
    if (i < plane_count && run->outputs[i].failed) {
      run->planes_status = status::not_written;
    }
  }
  if (run->planes_status != status::ok) {
    return run->planes_status;
  }
  return run->outputs[run->output_count - 1].failed ? status::not_written : status::ok;
}

// Removes every temporary file still open (a run that ended early writes
// none of its files) and frees what the run took.
void release_run(run_state* run) {
  for (int i = 0; i < run->output_count; ++i) {
    abandon_output_file(&run->outputs[i]);
  }
  close_bitmap_input(&run->input);
  std::free(run->plane);
  std::free(run->source);
  std::free(run->destination);
}

int convert_and_write(run_state* run, const file_args& names, conversion_function convert,
                      const channel_plane* planes) {
  bitmap_header header{};
  int result = read_header(run, &header);
  if (result == status::ok) result = check_header_fields(header, run->input.size);
  if (result == status::ok) result = allocate_bands(run);
  if (result == status::ok && run->band_rows > 0 && run->layout.width > 0) {
    result = read_palette(run);
  }
  if (result == status::ok) result = convert_band(run, convert, 0, 0, run->band_rows);
  if (result == status::ok) allocate_plane_band(run, planes);
  if (result == status::ok) result = open_outputs(run, names);
  if (result == status::ok) result = write_bands(run, convert);
  if (result == status::ok) result = finish_outputs(run);
  return result;
}

}  // namespace

int run_converter(int argc, const char* const* argv, const char* default_name,
                  conversion_function convert, const channel_plane* planes) {
  file_args names{};
  if (parse_file_args(argc, argv, default_name, &names) != status::ok) {
    print_usage(argc > 0 ? argv[0] : nullptr);
    return status::usage;
  }
  run_state run;
  int result = open_bitmap_input(names.input, &run.input);
  if (result == status::ok) {
    result = convert_and_write(&run, names, convert, planes);
  }
  release_run(&run);
  return result;
}
