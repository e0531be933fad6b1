// The bands of one run and the threads they are shared among: the memory
// each thread converts in, and the loop each runs, which takes the next
// band in read order, reads it, converts it and hands it to the outputs
// (run_outputs.h). A stream's bands are read in turn, so that its bytes are
// taken in order while the threads convert and write the bands they have.
#pragma once

#include <atomic>
#include <cstdint>

#include "bitmap/band_reader.h"
#include "driver/conversion.h"
#include "driver/run_outputs.h"
#include "system/status.h"
#include "system/worker_threads.h"

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

// What the threads of one run share.
struct run_bands {
  band_reader* reader = nullptr;
  const conversion* convert = nullptr;
  run_outputs* outputs = nullptr;
  band_buffers buffers[most_worker_threads];  // one set a thread
  std::atomic<std::uint64_t> next{0};         // the next band to read, in read order
  band_turn reading;                          // the band of a stream read next
  std::atomic<bool> stop{false};
  std::atomic<int> failure{status::ok};  // the first, whose message is printed
};

// Readies the bands of the run that reads with reader, converts with
// convert and writes to outputs. Each opened is released once.
void open_run_bands(band_reader* reader, const conversion& convert, run_outputs* outputs,
                    run_bands* bands);

// Takes the calling thread's buffers. Returns 0, or status::no_memory after
// its message.
int take_first_buffers(run_bands* bands);

// Takes the calling thread's band of plane pixels; false when there is no
// memory for it.
bool take_first_plane_band(run_bands* bands);

// Converts the first band, which the calling thread then holds, before any
// output is opened. Returns 0, or the status of a read failure or a refused
// conversion after its message.
int convert_first_band(run_bands* bands);

// Shares the bands among as many threads as pay and as buffers can be had
// for (with a plane band each when with_planes), each converting bands and
// handing them to the outputs until none is left, one fails or every
// output has failed. The first failure's message waits for
// report_band_failure.
void share_bands(run_bands* bands, bool with_planes);

// Prints the message of the failure that stopped the bands, if any, and
// returns its status; 0 when none did.
int report_band_failure(run_bands* bands);

// Frees every thread's buffers and closes the turn.
void release_run_bands(run_bands* bands);
