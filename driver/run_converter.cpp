#include "driver/run_converter.h"

#include <atomic>
#include <cstdlib>

#include "bitmap/bitmap_input.h"
#include "bitmap/check_bitmap_header.h"
#include "bitmap/image_bytes.h"
#include "bitmap/pixel_rows.h"
#include "bitmap/unpack_bitmap_pixels.h"
#include "bitmap/write_bitmap32.h"
#include "driver/band_hook.h"
#include "driver/parse_file_args.h"
#include "driver/thread_count.h"
#include "system/messages.h"
#include "system/status.h"
#include "system/worker_threads.h"
#include "system/write_output_file.h"

namespace {

// The working pixels of one band: enough to share out the cost of each
// read and write, few enough to stay in the processor's cache. A row wider
// than this is converted in pieces of this many pixels (a multiple of 8, so
// that a piece of a 1-bit row starts on a whole byte).
constexpr std::uint64_t band_pixels = std::uint64_t{64} << 10;

// An index is one byte, so no more palette entries can be looked up.
constexpr std::uint32_t most_palette_entries = 256;

// The plane files, then the result.
constexpr int most_outputs = channel_plane_count + 1;

// Bands each thread should have for sharing them to pay for starting it.
constexpr std::uint64_t bands_per_thread = 4;

// Where the bands of the image lie: each is rows_per_band whole rows or,
// when a row is wider than a band, one piece of a row.
struct band_plan {
  std::uint64_t rows_per_band = 0;   // 1 for pieces
  std::uint64_t pieces_per_row = 1;  // 1 for whole rows
  std::uint64_t piece_pixels = 0;    // pixels of each row in a band
  std::uint64_t count = 0;           // bands in the image
};

struct band {
  std::uint64_t index;
  std::uint64_t first_row;
  std::uint64_t rows;
  std::uint64_t first_pixel;  // of each of its rows
  std::uint64_t pixels;       // of each of its rows
};

// The memory one thread converts its bands in.
struct band_buffers {
  std::uint8_t* destination = nullptr;  // converted pixels, fourth bytes 0
  std::uint8_t* source = nullptr;       // working pixels, then the stored rows they come from
  std::uint8_t* stored = nullptr;       // inside source's block
  std::uint8_t* plane = nullptr;        // a plane's pixels, when planes are written
};

// Everything one run owns, released once at its end.
struct run_state {
  bitmap_input input;
  bitmap_layout layout{};
  std::uint8_t palette_entries[4 * most_palette_entries] = {};
  palette_view palette{palette_entries, 0};
  band_plan plan;
  std::uint64_t stored_bytes = 0;  // the most stored bytes of one band
  band_buffers buffers[most_worker_threads];
  int threads = 1;                        // buffers taken
  const channel_plane* planes = nullptr;  // the planes written, or null
  int planes_status = status::ok;
  output_file outputs[most_outputs];
  int output_count = 0;
  bool at_offsets[most_outputs] = {};  // takes bands at their offsets
};

int read_header(run_state* run, bitmap_header* header) {
  std::uint8_t bytes[bitmap_header_bytes];
  const std::uint8_t* found = nullptr;
  if (!read_input_bytes(run->input, 0, bitmap_header_bytes, bytes, &found)) {
    return report_read_error(run->input.path);
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

void free_band_buffers(band_buffers* buffers) {
  std::free(buffers->destination);
  std::free(buffers->source);
  std::free(buffers->plane);
  *buffers = band_buffers{};
}

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

band band_at(const run_state& run, std::uint64_t index) {
  const band_plan& plan = run.plan;
  band b{index, 0, 0, 0, plan.piece_pixels};
  if (plan.pieces_per_row > 1) {
    b.first_row = index / plan.pieces_per_row;
    b.rows = 1;
    b.first_pixel = index % plan.pieces_per_row * plan.piece_pixels;
    const std::uint64_t left = static_cast<std::uint64_t>(run.layout.width) - b.first_pixel;
    b.pixels = left < plan.piece_pixels ? left : plan.piece_pixels;
    return b;
  }
  b.first_row = index * plan.rows_per_band;
  const std::uint64_t left = run.layout.rows - b.first_row;
  b.rows = left < plan.rows_per_band ? left : plan.rows_per_band;
  return b;
}

// Where a band's stored bytes lie in the input.
void locate_stored(const run_state& run, const band& b, std::uint64_t* offset,
                   std::uint64_t* length) {
  if (run.plan.pieces_per_row > 1) {
    locate_piece(run.layout, b.first_row, b.first_pixel, b.pixels, offset, length);
  } else {
    locate_band(run.layout, b.first_row, b.rows, offset, length);
  }
}

std::uint64_t working_bytes(const run_state& run) {
  return run.plan.rows_per_band * run.plan.piece_pixels * 4;
}

// One thread's band buffers: the destination (zeroed, so that the fourth
// byte of every written pixel is 0), then the working band with room for
// the stored rows it is unpacked from. On failure *which names the message:
// no_memory_destination or no_memory_source.
bool take_band_buffers(const run_state& run, band_buffers* buffers, message_id* which) {
  // A negative width with rows makes an image of fewer than no bytes.
  if (run.layout.width < 0 && run.layout.rows > 0) {
    *which = message_id::no_memory_destination;
    return false;
  }
  const std::uint64_t working = working_bytes(run);
  buffers->destination = take_band_buffer(working, true);
  if (buffers->destination == nullptr) {
    *which = message_id::no_memory_destination;
    return false;
  }
  // The stored bytes of a band are at most 4 a pixel and 3 of padding a
  // row more than its working bytes, so the sum stays far below 2^64.
  buffers->source = take_band_buffer(working + run.stored_bytes, false);
  if (buffers->source == nullptr) {
    *which = message_id::no_memory_source;
    return false;
  }
  buffers->stored = buffers->source + working;
  return true;
}

// The calling thread's buffers.
int allocate_first_buffers(run_state* run) {
  // The unpacker would refuse this depth anyway; refusing it before any
  // memory is taken keeps a tiny file that claims gigabytes from reserving
  // it.
  if (run->layout.format == nullptr) {
    return status::unsupported_depth;
  }
  run->plan = plan_bands(run->layout);
  if (run->plan.count > 0) {
    // A band's stored bytes: whole rows, padding and all, or a piece of at
    // most 4 bytes a pixel.
    run->stored_bytes = run->plan.pieces_per_row > 1 ? run->plan.piece_pixels * 4
                                                     : run->plan.rows_per_band * run->layout.stride;
  }
  message_id which = message_id::no_memory_destination;
  if (!take_band_buffers(*run, &run->buffers[0], &which)) {
    print_message(which);
    return status::no_memory;
  }
  return status::ok;
}

// The band of plane pixels, when the program writes planes; without it no
// plane is written, and the run ends with 9 once the result is written.
void allocate_plane_band(run_state* run, const channel_plane* planes) {
  if (planes == nullptr) {
    return;
  }
  run->buffers[0].plane = take_band_buffer(working_bytes(*run), false);
  if (run->buffers[0].plane == nullptr) {
    print_message(message_id::no_memory_planes);
    run->planes_status = status::no_memory;
    return;
  }
  run->planes = planes;
}

// The palette entries the rows may look up, read once.
int read_palette(run_state* run) {
  const palette_location& where = run->layout.palette;
  const std::uint32_t count =
      where.count < most_palette_entries ? where.count : most_palette_entries;
  const std::uint8_t* entries = run->palette_entries;
  if (count > 0 && !read_input_bytes(run->input, where.offset, std::uint64_t{count} * 4,
                                     run->palette_entries, &entries)) {
    return report_read_error(run->input.path);
  }
  run->palette = palette_view{entries, count};
  return status::ok;
}

// 32-bit rows, stored bottom up or as one piece, are working pixels as
// they stand, so the conversion reads them straight from the stored bytes.
bool stored_as_working(const run_state& run, const band& b) {
  return run.layout.format->bits == 32 && (run.layout.bottom_up || b.rows == 1);
}

// 24-bit rows go straight from the stored bytes to the conversion that
// reads them, without being widened first: working row i of the band is
// stored row i of a bottom-up band, and counted from its end in a top-down
// one. A stride is below 2^33, so it fits the signed count.
int convert_stored_24(const run_state& run, stored_conversion convert, const band& b,
                      const std::uint8_t* stored, std::uint8_t* destination) {
  const auto stride = static_cast<std::int64_t>(run.layout.stride);
  const bool reversed = !run.layout.bottom_up && b.rows > 1;
  const std::uint8_t* first_row =
      reversed ? stored + static_cast<std::int64_t>(b.rows - 1) * stride : stored;
  return convert(first_row, reversed ? -stride : stride, destination,
                 static_cast<std::int64_t>(b.pixels), static_cast<std::int64_t>(b.rows));
}

// Reads, unpacks and converts band b into the buffers. Returns 0, or the
// failure's status (its message not yet printed: read_error or
// conversion_refused).
int convert_band(const run_state& run, const conversion& convert, const band& b,
                 band_buffers* buffers) {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  locate_stored(run, b, &offset, &length);
  const std::uint8_t* stored = nullptr;
  if (!read_input_bytes(run.input, offset, length, buffers->stored, &stored)) {
    return status::read_error;
  }
  after_band_read(run.input.path, b.index);
  if (run.layout.format->bits == 24 && convert.from_24_bit != nullptr) {
    return convert_stored_24(run, convert.from_24_bit, b, stored, buffers->destination);
  }
  std::uint8_t* source = buffers->source;
  if (stored == buffers->stored && stored_as_working(run, b)) {
    source = buffers->stored;
  } else if (run.plan.pieces_per_row > 1) {
    run.layout.format->unpack_row(run.palette, stored, source, b.pixels);
  } else {
    unpack_band(run.layout, run.palette, stored, b.rows, source);
  }
  return convert.working(source, buffers->destination, static_cast<std::int64_t>(b.pixels),
                         static_cast<std::int64_t>(b.rows));
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
    output_file* out = &run->outputs[i];
    if (out->file != nullptr) {
      write_output_bytes(out, header, bitmap_header_bytes);
      run->at_offsets[i] = writes_at_offsets(*out);
      if (run->at_offsets[i]) {
        flush_output_bytes(out);
      }
    }
  }
  return status::ok;
}

// The bands of one run shared among threads: each takes the next band,
// converts it and writes it at its offsets; an output that takes its bytes
// only in order gets each band when the one before it has been written.
struct shared_bands {
  run_state* run;
  const conversion* convert;
  std::atomic<std::uint64_t> next{0};
  std::atomic<bool> stop{false};
  std::atomic<int> failure{status::ok};  // the first, whose message is printed
  // The threads learn of an output's failure here only: what
  // write_output_bytes remembers is read by the thread that has the turn.
  std::atomic<bool> failed[most_outputs] = {};
  bool in_order[most_outputs] = {};  // written through write_output_bytes
  bool any_in_order = false;
};

// Every output has failed, so the run would convert for nothing.
bool all_outputs_failed(const shared_bands& shared) {
  for (int i = 0; i < shared.run->output_count; ++i) {
    if (!shared.failed[i]) {
      return false;
    }
  }
  return true;
}

void stop_sharing(shared_bands* shared) {
  shared->stop = true;
  stop_turns();
}

// The first failure stops every thread and prints its message, once.
void fail_run(shared_bands* shared, int why) {
  int none = status::ok;
  if (shared->failure.compare_exchange_strong(none, why)) {
    if (why == status::read_error) {
      report_read_error(shared->run->input.path);
    } else {
      print_message(message_id::conversion_not_completed);
    }
  }
  stop_sharing(shared);
}

// The bytes band b gives output i: a plane's grey pixels (made in the
// plane band) or the converted pixels.
const std::uint8_t* bytes_for(const run_state& run, int i, std::uint64_t pixels,
                              const band_buffers& buffers) {
  const int plane_count = run.planes != nullptr ? channel_plane_count : 0;
  if (i >= plane_count) {
    return buffers.destination;
  }
  fill_plane_band(buffers.destination, buffers.plane, pixels, run.planes[i].byte_index);
  return buffers.plane;
}

// Writes band b to the outputs that take it in order, when its turn comes.
void write_in_turn(shared_bands* shared, const band& b, std::uint64_t pixels,
                   const band_buffers& buffers) {
  if (!wait_for_turn(b.index)) {
    return;
  }
  run_state& run = *shared->run;
  for (int i = 0; i < run.output_count; ++i) {
    if (shared->in_order[i] && !shared->failed[i]) {
      output_file* out = &run.outputs[i];
      write_output_bytes(out, bytes_for(run, i, pixels, buffers), pixels * 4);
      shared->failed[i] = out->failed;
    }
  }
  pass_turn(b.index + 1);
}

// Writes the converted band b to each plane and the result.
void write_band(shared_bands* shared, const band& b, const band_buffers& buffers) {
  run_state& run = *shared->run;
  const std::uint64_t pixels = b.rows * b.pixels;
  const std::uint64_t first = b.first_row * static_cast<std::uint64_t>(run.layout.width);
  const std::uint64_t offset = bitmap_header_bytes + (first + b.first_pixel) * 4;
  for (int i = 0; i < run.output_count; ++i) {
    if (!shared->in_order[i] && !shared->failed[i] &&
        !write_output_at(run.outputs[i], offset, bytes_for(run, i, pixels, buffers), pixels * 4)) {
      shared->failed[i] = true;
    }
  }
  if (shared->any_in_order) {
    write_in_turn(shared, b, pixels, buffers);
  }
}

// One thread's share: bands taken one after another until none is left,
// a failure stops the run or every output has failed. The calling thread
// (index 0) first writes band 0, which it converted before the outputs
// were opened.
void convert_shared_bands(void* context, int index) {
  auto* shared = static_cast<shared_bands*>(context);
  run_state& run = *shared->run;
  band_buffers* buffers = &run.buffers[index];
  if (index == 0) {
    write_band(shared, band_at(run, 0), *buffers);
  }
  while (!shared->stop) {
    if (all_outputs_failed(*shared)) {
      stop_sharing(shared);
      break;
    }
    const std::uint64_t next = shared->next.fetch_add(1);
    if (next >= run.plan.count) {
      break;
    }
    const band b = band_at(run, next);
    const int converted = convert_band(run, *shared->convert, b, buffers);
    if (converted != status::ok) {
      fail_run(shared, converted);
      break;
    }
    write_band(shared, b, *buffers);
  }
}

// The threads the bands are shared among: as many as were asked for, as
// long as each has a few bands, and only as many as buffers could be had
// for (each thread's own, the plane band included).
int take_thread_buffers(run_state* run) {
  const std::uint64_t worth = run->plan.count / bands_per_thread;
  // A small picture asks the system nothing.
  const auto wanted = worth > 1 ? static_cast<std::uint64_t>(converter_threads()) : 1;
  const std::uint64_t threads = wanted < worth ? wanted : (worth > 0 ? worth : 1);
  message_id which = message_id::no_memory_destination;
  int ready = 1;
  while (static_cast<std::uint64_t>(ready) < threads) {
    band_buffers* buffers = &run->buffers[ready];
    const bool taken = take_band_buffers(*run, buffers, &which);
    if (taken && run->planes != nullptr) {
      buffers->plane = take_band_buffer(working_bytes(*run), false);
    }
    if (!taken || (run->planes != nullptr && buffers->plane == nullptr)) {
      free_band_buffers(buffers);
      break;
    }
    ++ready;
  }
  run->threads = ready;
  return ready;
}

// Converts and writes every band, band 0 (converted already) first, on as
// many threads as pay. No thread changes the record of the temporary files
// meanwhile, so an interrupt may run its cleanup on any of them.
int write_bands(run_state* run, const conversion& convert) {
  shared_bands shared;
  shared.run = run;
  shared.convert = &convert;
  shared.next = 1;
  for (int i = 0; i < run->output_count; ++i) {
    const output_file& out = run->outputs[i];
    shared.failed[i] = out.file == nullptr || out.failed;
    shared.in_order[i] = !shared.failed[i] && !run->at_offsets[i];
    shared.any_in_order = shared.any_in_order || shared.in_order[i];
  }
  reset_turns();
  run_on_threads(take_thread_buffers(run), convert_shared_bands, &shared);
  for (int i = 0; i < run->output_count; ++i) {
    if (run->outputs[i].file != nullptr && shared.failed[i]) {
      run->outputs[i].failed = true;
    }
  }
  return shared.failure;
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
  for (band_buffers& buffers : run->buffers) {
    free_band_buffers(&buffers);
  }
}

// Band 0 is converted before any output is opened, so that a conversion
// that refuses the image (none of it, or no memory for its row tables)
// leaves every name as it was.
int convert_first_band(run_state* run, const conversion& convert) {
  band_buffers& buffers = run->buffers[0];
  int converted = status::conversion_refused;
  if (run->plan.count == 0) {
    converted = convert.working(buffers.source, buffers.destination, run->layout.width, 0);
  } else {
    converted = convert_band(*run, convert, band_at(*run, 0), &buffers);
  }
  if (converted == status::read_error) {
    return report_read_error(run->input.path);
  }
  if (converted != status::ok) {
    print_message(message_id::conversion_not_completed);
    return status::conversion_refused;
  }
  return status::ok;
}

int convert_and_write(run_state* run, const file_args& names, const conversion& convert,
                      const channel_plane* planes) {
  bitmap_header header{};
  int result = read_header(run, &header);
  if (result == status::ok) result = check_header_fields(header, run->input.size);
  if (result == status::ok) result = allocate_first_buffers(run);
  if (result == status::ok && run->plan.count > 0) result = read_palette(run);
  if (result == status::ok) result = convert_first_band(run, convert);
  if (result == status::ok) allocate_plane_band(run, planes);
  if (result == status::ok) result = open_outputs(run, names);
  if (result == status::ok) result = write_bands(run, convert);
  if (result == status::ok) result = finish_outputs(run);
  return result;
}

}  // namespace

int run_converter(int argc, const char* const* argv, const char* default_name,
                  const conversion& convert, const channel_plane* planes) {
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
