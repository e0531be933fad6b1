#include "driver/run_converter.h"

#include <atomic>
#include <cstdlib>

#include "bitmap/band_reader.h"
#include "bitmap/image_bytes.h"
#include "driver/band_hook.h"
#include "driver/parse_file_args.h"
#include "driver/run_outputs.h"
#include "driver/thread_count.h"
#include "system/messages.h"
#include "system/status.h"
#include "system/worker_threads.h"

namespace {

// Bands each thread should have for sharing them to pay for starting it.
constexpr std::uint64_t bands_per_thread = 4;

// The memory one thread converts its bands in, and the band it holds
// converted until the outputs have it.
struct band_buffers {
  std::uint8_t* destination = nullptr;  // converted pixels, fourth bytes 0
  std::uint8_t* working = nullptr;      // working pixels, then the stored rows they come from
  std::uint8_t* stored = nullptr;       // inside working's block
  std::uint8_t* plane = nullptr;        // a plane's pixels, when planes are written
  bool holds_band = false;              // destination holds band held, not yet written
  band held{};
};

// Everything one run owns, released once at its end, and what its threads
// share: each takes the next band in read order, converts it and hands it
// to the outputs. A stream's bands are read in turn, so that its bytes are
// taken in order while the threads convert and write the bands they have.
struct run_state {
  band_reader reader;
  const conversion* convert = nullptr;
  band_buffers buffers[most_worker_threads];  // one set a thread
  const channel_plane* planes = nullptr;      // the planes written, or null
  int planes_status = status::ok;
  run_outputs outputs;
  std::atomic<std::uint64_t> next{0};  // the next band to read, in read order
  band_turn reading;                   // the band of a stream read next
  std::atomic<bool> stop{false};
  std::atomic<int> failure{status::ok};  // the first, whose message is printed
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

// What taking a band gives when none is left, or the run was stopped
// meanwhile: no failure of its own.
constexpr int no_band = -2;

// Reads band b, the k-th read: from a stream only when its turn comes.
int read_next_band(run_state* run, const band& b, std::uint64_t k, band_buffers* buffers,
                   band_source* source) {
  const bool stream = run->reader.input.stream;
  if (stream && !wait_for_turn(&run->reading, k)) {
    return no_band;
  }
  const bool read = read_band(run->reader, b, buffers->stored, buffers->working,
                              run->convert->from_24_bit != nullptr, source);
  if (stream) {
    pass_turn(&run->reading, k + 1);
  }
  return read ? status::ok : status::read_error;
}

// Takes the next band in read order, reads it and converts it into the
// buffers, which then hold it. Returns 0, no_band, or the failure's status
// (its message not yet printed: read_error or conversion_refused).
int convert_next_band(run_state* run, band_buffers* buffers) {
  const std::uint64_t k = run->next.fetch_add(1);
  if (k >= run->reader.plan.count) {
    return no_band;
  }
  const band b = band_in_read_order(run->reader, k);
  band_source source;
  const int read = read_next_band(run, b, k, buffers, &source);
  if (read != status::ok) {
    return read;
  }
  after_band_read(run->reader.input.path, b.index);
  const auto width = static_cast<std::int64_t>(b.pixels);
  const auto rows = static_cast<std::int64_t>(b.rows);
  const int converted =
      source.working != nullptr
          ? run->convert->working(source.working, buffers->destination, width, rows)
          : run->convert->from_24_bit(source.first_row, source.stride, buffers->destination, width,
                                      rows);
  buffers->holds_band = converted == status::ok;
  buffers->held = b;
  return converted;
}

// Opens the outputs and writes their headers, the input read whole first
// where an output overwrites it.
int open_outputs(run_state* run, const file_args& names) {
  open_run_outputs(run->reader, names, run->planes, &run->outputs);
  if (outputs_overwrite_input(run->outputs, run->reader.input)) {
    const int held = hold_input_in_memory(&run->reader.input);
    if (held != status::ok) {
      return held;
    }
  }
  start_run_outputs(run->reader, &run->outputs);
  return status::ok;
}

// Stops every thread: none takes another band, and none waits for a turn.
void stop_run(run_state* run) {
  run->stop = true;
  stop_turn(&run->reading);
  stop_writing_in_turn(&run->outputs);
}

// The first failure stops every thread; its message is printed once the
// threads are done (report_band_failure).
void fail_run(run_state* run, int why) {
  int none = status::ok;
  run->failure.compare_exchange_strong(none, why);
  stop_run(run);
}

// The message of the failure that stopped the bands, if any.
int report_band_failure(run_state* run) {
  const int failure = run->failure;
  if (failure == status::read_error) {
    return report_band_read_failure(&run->reader);
  }
  if (failure != status::ok) {
    print_message(message_id::conversion_not_completed);
  }
  return failure;
}

// One thread's share: it hands the band it holds to the outputs, then
// takes, reads and converts the next, until none is left, a failure stops
// the run or every output has failed. The calling thread (index 0) starts
// with the first band, converted before the outputs were opened.
void convert_shared_bands(void* context, int index) {
  auto* run = static_cast<run_state*>(context);
  band_buffers* buffers = &run->buffers[index];
  for (;;) {
    if (buffers->holds_band) {
      write_band_to_outputs(run->reader, buffers->held, buffers->destination, buffers->plane,
                            &run->outputs);
      buffers->holds_band = false;
    }
    if (run->stop) {
      return;
    }
    if (all_outputs_failed(run->outputs)) {
      stop_run(run);
      return;
    }
    const int converted = convert_next_band(run, buffers);
    if (converted == no_band) {
      return;
    }
    if (converted != status::ok) {
      fail_run(run, converted);
      return;
    }
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

// Converts and writes every band, the first (converted already) included,
// on as many threads as pay. No thread changes the record of the temporary
// files meanwhile, so an interrupt may run its cleanup on any of them.
int write_bands(run_state* run) {
  run_on_threads(take_thread_buffers(run), convert_shared_bands, run);
  leave_positions_at_end(&run->outputs);
  const int failure = report_band_failure(run);
  if (failure != status::ok || all_outputs_failed(run->outputs)) {
    return failure;  // with every output failed, the rest of a stream is not read
  }
  // A stream is whole only once its length passes the rules: until then,
  // nothing is put under any output name.
  return finish_band_reader(&run->reader);
}

// Removes every temporary file still open (a run that ended early writes
// none of its files) and frees what the run took.
void release_run(run_state* run) {
  release_run_outputs(&run->outputs);
  close_band_reader(&run->reader);
  for (band_buffers& buffers : run->buffers) {
    free_band_buffers(&buffers);
  }
  close_turn(&run->reading);
}

// The first band is converted before any output is opened, so that a
// conversion that refuses the image (none of it, or no memory for its row
// tables) leaves every name as it was. An image of no bands gives the
// conversion no rows, which it may refuse just the same.
int convert_first_band(run_state* run) {
  band_buffers& buffers = run->buffers[0];
  const int converted =
      run->reader.plan.count == 0
          ? run->convert->working(buffers.working, buffers.destination, run->reader.layout.width, 0)
          : convert_next_band(run, &buffers);
  if (converted == status::read_error) {
    return report_band_read_failure(&run->reader);
  }
  if (converted != status::ok) {
    print_message(message_id::conversion_not_completed);
    return status::conversion_refused;
  }
  return status::ok;
}

// The palette is read as the rows' unpacking reads it, after the memory
// for them is taken: a picture too large for memory says so whatever its
// palette.
int convert_and_write(run_state* run, const file_args& names, const channel_plane* planes) {
  int result = allocate_first_buffers(run);
  if (result == status::ok && run->reader.plan.count > 0) {
    result = read_band_palette(&run->reader);
  }
  if (result == status::ok) result = convert_first_band(run);
  if (result == status::ok) allocate_plane_band(run, planes);
  if (result == status::ok) result = open_outputs(run, names);
  if (result == status::ok) result = write_bands(run);
  if (result == status::ok) result = finish_run_outputs(run->planes_status, &run->outputs);
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
  run.convert = &convert;
  open_turn(&run.reading);
  int result = open_band_reader(names.input, &run.reader);
  if (result == status::ok) {
    result = convert_and_write(&run, names, planes);
  }
  release_run(&run);
  return result;
}
