#include "driver/run_converter.h"

#include <atomic>
#include <cstdlib>

#include "bitmap/band_reader.h"
#include "bitmap/image_bytes.h"
#include "bitmap/write_bitmap32.h"
#include "driver/band_hook.h"
#include "driver/parse_file_args.h"
#include "driver/thread_count.h"
#include "system/messages.h"
#include "system/status.h"
#include "system/worker_threads.h"
#include "system/write_output_file.h"

namespace {

// The plane files, then the result.
constexpr int most_outputs = channel_plane_count + 1;

// Bands each thread should have for sharing them to pay for starting it.
constexpr std::uint64_t bands_per_thread = 4;

// What an output carries: one byte of every converted pixel as a grey
// plane, or the converted pixels themselves.
constexpr int carries_result = -1;

// One output of the run.
struct output {
  output_file file;
  int carries = carries_result;  // a plane's byte index, or carries_result
  bool at_offsets = false;       // takes bands at their offsets
};

// The memory one thread converts its bands in.
struct band_buffers {
  std::uint8_t* destination = nullptr;  // converted pixels, fourth bytes 0
  std::uint8_t* working = nullptr;      // working pixels, then the stored rows they come from
  std::uint8_t* stored = nullptr;       // inside working's block
  std::uint8_t* plane = nullptr;        // a plane's pixels, when planes are written
};

// Everything one run owns, released once at its end.
struct run_state {
  band_reader reader;
  band_buffers buffers[most_worker_threads];
  const channel_plane* planes = nullptr;  // the planes written, or null
  int planes_status = status::ok;
  output outputs[most_outputs];
  int output_count = 0;
};

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
  std::free(buffers->working);
  std::free(buffers->plane);
  *buffers = band_buffers{};
}

// One thread's band buffers: the destination (zeroed, so that the fourth
// byte of every written pixel is 0), then the working band with room for
// the stored rows it is unpacked from. On failure *which names the message:
// no_memory_destination or no_memory_source.
bool take_band_buffers(const band_reader& reader, band_buffers* buffers, message_id* which) {
  // A negative width with rows makes an image of fewer than no bytes.
  if (reader.layout.width < 0 && reader.layout.rows > 0) {
    *which = message_id::no_memory_destination;
    return false;
  }
  buffers->destination = take_band_buffer(reader.working_bytes, true);
  if (buffers->destination == nullptr) {
    *which = message_id::no_memory_destination;
    return false;
  }
  // The stored bytes of a band are at most 4 a pixel and 3 of padding a
  // row more than its working bytes, so the sum stays far below 2^64.
  buffers->working = take_band_buffer(reader.working_bytes + reader.stored_bytes, false);
  if (buffers->working == nullptr) {
    *which = message_id::no_memory_source;
    return false;
  }
  buffers->stored = buffers->working + reader.working_bytes;
  return true;
}

// The calling thread's buffers.
int allocate_first_buffers(run_state* run) {
  message_id which = message_id::no_memory_destination;
  if (!take_band_buffers(run->reader, &run->buffers[0], &which)) {
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
  run->buffers[0].plane = take_band_buffer(run->reader.working_bytes, false);
  if (run->buffers[0].plane == nullptr) {
    print_message(message_id::no_memory_planes);
    run->planes_status = status::no_memory;
    return;
  }
  run->planes = planes;
}

// What reading a band gives when the turns were stopped meanwhile: no
// failure of its own.
constexpr int band_stopped = -2;

// Reads band b, the k-th read: from a stream only when its turn comes
// (in_turn), so that its bytes are taken in order while the threads
// convert and write the bands they have.
int read_next_band(const band_reader& reader, const band& b, std::uint64_t k, bool in_turn,
                   bool from_24_bit, band_buffers* buffers, band_source* source) {
  const bool ordered = in_turn && reader.input.stream;
  if (ordered && !wait_for_turn(k)) {
    return band_stopped;
  }
  const bool read = read_band(reader, b, buffers->stored, buffers->working, from_24_bit, source);
  if (ordered) {
    pass_turn(k + 1);
  }
  return read ? status::ok : status::read_error;
}

// Reads and converts band b, the k-th read, into the buffers. Returns 0,
// band_stopped, or the failure's status (its message not yet printed:
// read_error or conversion_refused).
int convert_band(const band_reader& reader, const conversion& convert, const band& b,
                 std::uint64_t k, bool in_turn, band_buffers* buffers) {
  band_source source;
  const int read =
      read_next_band(reader, b, k, in_turn, convert.from_24_bit != nullptr, buffers, &source);
  if (read != status::ok) {
    return read;
  }
  after_band_read(reader.input.path, b.index);
  const auto width = static_cast<std::int64_t>(b.pixels);
  const auto rows = static_cast<std::int64_t>(b.rows);
  return source.working != nullptr
             ? convert.working(source.working, buffers->destination, width, rows)
             : convert.from_24_bit(source.first_row, source.stride, buffers->destination, width,
                                   rows);
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

// Opens the next output, as the rules decide for its name.
void open_next_output(run_state* run, const char* path, output_name_kind kind, int carries,
                      bool header_fits) {
  output* out = &run->outputs[run->output_count++];
  out->carries = carries;
  output_request request;
  request.kind = kind;
  request.plane = carries != carries_result;
  request.input = &run->reader.input.identity;
  if (header_fits) {
    open_output_file(path, request, &out->file);
  } else {
    out->file.path = path;
    out->file.failed = true;
    out->file.failure = message_id::write_error;
  }
}

// Whether the input must be read whole before anything is written: an
// output goes straight into the input file, or replaces it where an open
// file cannot be replaced.
bool must_hold_input(const run_state& run) {
  const name_info& input = run.reader.input.identity;
  if (run.reader.input.stream) {
    return false;  // no output can be the stream itself
  }
  for (int i = 0; i < run.output_count; ++i) {
    const output_file& out = run.outputs[i].file;
    if (writes_directly_over(out, input) ||
        (!open_files_can_be_replaced() && out.file != nullptr && name_leads_to(out.path, input))) {
      return true;
    }
  }
  return false;
}

// The outputs, in the order they are written and reported: the planes,
// each with the byte it carries, then the result. Opens them and writes
// their headers.
int open_outputs(run_state* run, const file_args& names) {
  std::uint8_t header[bitmap_header_bytes];
  const bool header_fits = make_output_header(run->reader.layout, header);
  const int plane_count = run->planes != nullptr ? channel_plane_count : 0;
  for (int i = 0; i < plane_count; ++i) {
    open_next_output(run, run->planes[i].file_name, output_name_kind::chosen,
                     run->planes[i].byte_index, header_fits);
  }
  open_next_output(run, names.output,
                   names.output_typed ? output_name_kind::typed : output_name_kind::chosen,
                   carries_result, header_fits);
  if (must_hold_input(*run)) {
    const int held = hold_input_in_memory(&run->reader.input);
    if (held != status::ok) {
      return held;
    }
  }
  for (int i = 0; i < run->output_count; ++i) {
    output* out = &run->outputs[i];
    // An output written directly gets nothing from a stream until the
    // stream is known whole: its bands wait in a spool.
    if (out->file.file != nullptr && run->reader.input.stream && out->file.slot < 0 &&
        !spool_output_file(&out->file)) {
      continue;
    }
    if (out->file.file != nullptr) {
      write_output_bytes(&out->file, header, bitmap_header_bytes);
      out->at_offsets = writes_at_offsets(out->file);
      if (out->at_offsets) {
        flush_output_bytes(&out->file);
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

// The first failure stops every thread; its message is printed once the
// threads are done (report_band_failure).
void fail_run(shared_bands* shared, int why) {
  int none = status::ok;
  shared->failure.compare_exchange_strong(none, why);
  stop_sharing(shared);
}

// The message of the failure that stopped the bands, if any.
int report_band_failure(run_state* run, int failure) {
  if (failure == status::read_error) {
    return report_band_read_failure(&run->reader);
  }
  if (failure != status::ok) {
    print_message(message_id::conversion_not_completed);
  }
  return failure;
}

// An output written directly at offsets (a redirected file) is left with
// its position at its end, as a writer in order leaves it: what the caller
// writes next, a message on a stream that shares the file included, comes
// after the picture, never inside it.
void leave_positions_at_end(run_state* run) {
  for (int i = 0; i < run->output_count; ++i) {
    output_file& file = run->outputs[i].file;
    if (run->outputs[i].at_offsets && file.slot < 0 && file.spool == nullptr &&
        file.file != nullptr && !move_to_end(file.file)) {
      file.failed = true;
    }
  }
}

// The bytes band b gives an output: a plane's grey pixels (made in the
// plane band) or the converted pixels.
const std::uint8_t* bytes_for(const output& out, std::uint64_t pixels,
                              const band_buffers& buffers) {
  if (out.carries == carries_result) {
    return buffers.destination;
  }
  fill_plane_band(buffers.destination, buffers.plane, pixels, out.carries);
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
      output& out = run.outputs[i];
      write_output_bytes(&out.file, bytes_for(out, pixels, buffers), pixels * 4);
      shared->failed[i] = out.file.failed;
    }
  }
  pass_turn(b.index + 1);
}

// Writes the converted band b to each plane and the result.
void write_band(shared_bands* shared, const band& b, const band_buffers& buffers) {
  run_state& run = *shared->run;
  const std::uint64_t pixels = b.rows * b.pixels;
  const std::uint64_t offset = bitmap_header_bytes + band_first_pixel(run.reader, b) * 4;
  for (int i = 0; i < run.output_count; ++i) {
    const output& out = run.outputs[i];
    if (!shared->in_order[i] && !shared->failed[i] &&
        !write_output_at(out.file, offset, bytes_for(out, pixels, buffers), pixels * 4)) {
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
    write_band(shared, band_in_read_order(run.reader, 0), *buffers);
  }
  while (!shared->stop) {
    if (all_outputs_failed(*shared)) {
      stop_sharing(shared);
      break;
    }
    const std::uint64_t next = shared->next.fetch_add(1);
    if (next >= run.reader.plan.count) {
      break;
    }
    const band b = band_in_read_order(run.reader, next);
    const int converted = convert_band(run.reader, *shared->convert, b, next, true, buffers);
    if (converted == band_stopped) {
      break;
    }
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
  const std::uint64_t worth = run->reader.plan.count / bands_per_thread;
  // A small picture asks the system nothing.
  const auto wanted = worth > 1 ? static_cast<std::uint64_t>(converter_threads()) : 1;
  const std::uint64_t threads = wanted < worth ? wanted : (worth > 0 ? worth : 1);
  message_id which = message_id::no_memory_destination;
  int ready = 1;
  while (static_cast<std::uint64_t>(ready) < threads) {
    band_buffers* buffers = &run->buffers[ready];
    const bool taken = take_band_buffers(run->reader, buffers, &which);
    if (taken && run->planes != nullptr) {
      buffers->plane = take_band_buffer(run->reader.working_bytes, false);
    }
    if (!taken || (run->planes != nullptr && buffers->plane == nullptr)) {
      free_band_buffers(buffers);
      break;
    }
    ++ready;
  }
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
    const output& out = run->outputs[i];
    shared.failed[i] = out.file.file == nullptr || out.file.failed;
    shared.in_order[i] = !shared.failed[i] && !out.at_offsets;
    shared.any_in_order = shared.any_in_order || shared.in_order[i];
  }
  reset_turns();
  if (run->reader.input.stream) {
    pass_turn(1);  // the turns order the reading: band 0 of the stream is read
  }
  run_on_threads(take_thread_buffers(run), convert_shared_bands, &shared);
  for (int i = 0; i < run->output_count; ++i) {
    if (run->outputs[i].file.file != nullptr && shared.failed[i]) {
      run->outputs[i].file.failed = true;
    }
  }
  leave_positions_at_end(run);
  const int failure = report_band_failure(run, shared.failure);
  // A stream is whole only once its length passes the rules: until then,
  // nothing is put under any output name.
  return failure != status::ok ? failure : finish_band_reader(&run->reader);
}

// Puts the planes in place, then the result, each reporting its own
// failure in that order. The status is the planes' failure if there was
// one, else whether the result was written.
int finish_outputs(run_state* run) {
  bool result_failed = false;
  for (int i = 0; i < run->output_count; ++i) {
    output& out = run->outputs[i];
    close_output_file(&out.file);
    report_output_failure(out.file);
    if (out.file.failed && out.carries != carries_result) {
      run->planes_status = status::not_written;
    }
    result_failed = result_failed || (out.file.failed && out.carries == carries_result);
  }
  if (run->planes_status != status::ok) {
    return run->planes_status;
  }
  return result_failed ? status::not_written : status::ok;
}

// Removes every temporary file still open (a run that ended early writes
// none of its files) and frees what the run took.
void release_run(run_state* run) {
  for (int i = 0; i < run->output_count; ++i) {
    abandon_output_file(&run->outputs[i].file);
  }
  close_band_reader(&run->reader);
  for (band_buffers& buffers : run->buffers) {
    free_band_buffers(&buffers);
  }
}

// Band 0 is converted before any output is opened, so that a conversion
// that refuses the image (none of it, or no memory for its row tables)
// leaves every name as it was.
int convert_first_band(run_state* run, const conversion& convert) {
  band_buffers& buffers = run->buffers[0];
  const int converted =
      run->reader.plan.count == 0
          ? convert.working(buffers.working, buffers.destination, run->reader.layout.width, 0)
          : convert_band(run->reader, convert, band_in_read_order(run->reader, 0), 0, false,
                         &buffers);
  if (converted == status::read_error) {
    return report_band_read_failure(&run->reader);
  }
  if (converted != status::ok) {
    print_message(message_id::conversion_not_completed);
    return status::conversion_refused;
  }
  return status::ok;
}

int convert_and_write(run_state* run, const file_args& names, const conversion& convert,
                      const channel_plane* planes) {
  int result = allocate_first_buffers(run);
  if (result == status::ok && run->reader.plan.count > 0) {
    result = read_band_palette(&run->reader);
  }
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
  int result = open_band_reader(names.input, &run.reader);
  if (result == status::ok) {
    result = convert_and_write(&run, names, convert, planes);
  }
  release_run(&run);
  return result;
}
