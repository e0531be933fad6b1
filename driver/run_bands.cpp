#include "driver/run_bands.h"

#include <cstdlib>

#include "bitmap/image_bytes.h"
#include "driver/band_hook.h"
#include "driver/thread_count.h"
#include "system/messages.h"

namespace {

// Bands each thread should have for sharing them to pay for starting it.
constexpr std::uint64_t bands_per_thread = 4;

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

// What taking a band gives when none is left, or the run was stopped
// meanwhile: no failure of its own.
constexpr int no_band = -2;

// Reads band b, the k-th read: from a stream only when its turn comes.
int read_next_band(run_bands* bands, const band& b, std::uint64_t k, band_buffers* buffers,
                   band_source* source) {
  const bool stream = bands->reader->input.stream;
  if (stream && !wait_for_turn(&bands->reading, k)) {
    return no_band;
  }
  const bool read = read_band(*bands->reader, b, buffers->stored, buffers->working,
                              bands->convert->from_24_bit != nullptr, source);
  if (stream) {
    pass_turn(&bands->reading, k + 1);
  }
  return read ? status::ok : status::read_error;
}

// Takes the next band in read order, reads it and converts it into the
// buffers, which then hold it. Returns 0, no_band, or the failure's status
// (its message not yet printed: read_error or conversion_refused).
int convert_next_band(run_bands* bands, band_buffers* buffers) {
  const std::uint64_t k = bands->next.fetch_add(1);
  if (k >= bands->reader->plan.count) {
    return no_band;
  }
  const band b = band_in_read_order(*bands->reader, k);
  band_source source;
  const int read = read_next_band(bands, b, k, buffers, &source);
  if (read != status::ok) {
    return read;
  }
  after_band_read(bands->reader->input.path, b.index);
  const auto width = static_cast<std::int64_t>(b.pixels);
  const auto rows = static_cast<std::int64_t>(b.rows);
  const int converted =
      source.working != nullptr
          ? bands->convert->working(source.working, buffers->destination, width, rows)
          : bands->convert->from_24_bit(source.first_row, source.stride, buffers->destination,
                                        width, rows);
  buffers->holds_band = converted == status::ok;
  buffers->held = b;
  return converted;
}

// Stops every thread: none takes another band, and none waits for a turn.
void stop_bands(run_bands* bands) {
  bands->stop = true;
  stop_turn(&bands->reading);
  stop_writing_in_turn(bands->outputs);
}

// The first failure stops every thread; its message is printed once the
// threads are done (report_band_failure).
void fail_bands(run_bands* bands, int why) {
  int none = status::ok;
  bands->failure.compare_exchange_strong(none, why);
  stop_bands(bands);
}

// One thread's share: it hands the band it holds to the outputs, then
// takes, reads and converts the next, until none is left, a failure stops
// the run or every output has failed. The calling thread (index 0) starts
// with the first band, converted before the outputs were opened.
void convert_shared_bands(void* context, int index) {
  auto* bands = static_cast<run_bands*>(context);
  band_buffers* buffers = &bands->buffers[index];
  for (;;) {
    if (buffers->holds_band) {
      write_band_to_outputs(*bands->reader, buffers->held, buffers->destination, buffers->plane,
                            bands->outputs);
      buffers->holds_band = false;
    }
    if (bands->stop) {
      return;
    }
    if (all_outputs_failed(*bands->outputs)) {
      stop_bands(bands);
      return;
    }
    const int converted = convert_next_band(bands, buffers);
    if (converted == no_band) {
      return;
    }
    if (converted != status::ok) {
      fail_bands(bands, converted);
      return;
    }
  }
}

// The threads the bands are shared among: as many as were asked for, as
// long as each has a few bands, and only as many as buffers could be had
// for (each thread's own, the plane band included).
int take_thread_buffers(run_bands* bands, bool with_planes) {
  const std::uint64_t worth = bands->reader->plan.count / bands_per_thread;
  // A small picture asks the system nothing.
  const auto wanted = worth > 1 ? static_cast<std::uint64_t>(converter_threads()) : 1;
  const std::uint64_t threads = wanted < worth ? wanted : (worth > 0 ? worth : 1);
  message_id which = message_id::no_memory_destination;
  int ready = 1;
  while (static_cast<std::uint64_t>(ready) < threads) {
    band_buffers* buffers = &bands->buffers[ready];
    const bool taken = take_band_buffers(*bands->reader, buffers, &which);
    if (taken && with_planes) {
      buffers->plane = take_band_buffer(bands->reader->working_bytes, false);
    }
    if (!taken || (with_planes && buffers->plane == nullptr)) {
      free_band_buffers(buffers);
      break;
    }
    ++ready;
  }
  return ready;
}

}  // namespace

void open_run_bands(band_reader* reader, const conversion& convert, run_outputs* outputs,
                    run_bands* bands) {
  bands->reader = reader;
  bands->convert = &convert;
  bands->outputs = outputs;
  open_turn(&bands->reading);
}

int take_first_buffers(run_bands* bands) {
  message_id which = message_id::no_memory_destination;
  if (!take_band_buffers(*bands->reader, &bands->buffers[0], &which)) {
    print_message(which);
    return status::no_memory;
  }
  return status::ok;
}

bool take_first_plane_band(run_bands* bands) {
  bands->buffers[0].plane = take_band_buffer(bands->reader->working_bytes, false);
  return bands->buffers[0].plane != nullptr;
}

// The first band is converted before any output is opened, so that a
// conversion that refuses the image (none of it, or no memory for its row
// tables) leaves every name as it was. An image of no bands gives the
// conversion no rows, which it may refuse just the same.
int convert_first_band(run_bands* bands) {
  band_buffers& buffers = bands->buffers[0];
  const int converted = bands->reader->plan.count == 0
                            ? bands->convert->working(buffers.working, buffers.destination,
                                                      bands->reader->layout.width, 0)
                            : convert_next_band(bands, &buffers);
  if (converted == status::read_error) {
    return report_band_read_failure(bands->reader);
  }
  if (converted != status::ok) {
    print_message(message_id::conversion_not_completed);
    return status::conversion_refused;
  }
  return status::ok;
}

void share_bands(run_bands* bands, bool with_planes) {
  run_on_threads(take_thread_buffers(bands, with_planes), convert_shared_bands, bands);
}

int report_band_failure(run_bands* bands) {
  const int failure = bands->failure;
  if (failure == status::read_error) {
    return report_band_read_failure(bands->reader);
  }
  if (failure != status::ok) {
    print_message(message_id::conversion_not_completed);
  }
  return failure;
}

void release_run_bands(run_bands* bands) {
  for (band_buffers& buffers : bands->buffers) {
    free_band_buffers(&buffers);
  }
  close_turn(&bands->reading);
}
