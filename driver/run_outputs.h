// The outputs of one run: the plane files, then the result. What each
// carries, opening them as the rules decide, handing each band to them (at
// its offsets, or in turn where an output takes its bytes only in order),
// and finishing them. Each output has one failure state, in its
// output_file, which the threads share; the outputs that take their bytes
// only in order share one turn, which passes from band to band.
#pragma once

#include <cstdint>

#include "bitmap/band_reader.h"
#include "convert/channel_planes.h"
#include "driver/parse_file_args.h"
#include "system/worker_threads.h"
#include "system/write_output_file.h"

// The plane files, then the result.
constexpr int most_outputs = channel_plane_count + 1;

// What an output carries: one byte of every converted pixel as a grey
// plane, or the converted pixels themselves.
constexpr int carries_result = -1;

struct run_output {
  output_file file;
  int carries = carries_result;  // a plane's byte index, or carries_result
  bool at_offsets = false;       // takes bands at their offsets; else only in order
};

struct run_outputs {
  run_output list[most_outputs];
  int count = 0;
  bool any_in_order = false;
  band_turn turn;  // the band the outputs in order take next
  bool turn_open = false;
};

// Opens the outputs in the order they are written and reported: the
// planes (when planes is not null), each with the byte it carries, then the
// result, as the rules decide for their names. None is written yet.
void open_run_outputs(const band_reader& reader, const file_args& names,
                      const channel_plane* planes, run_outputs* outputs);

// Whether the input must be read whole before anything is written: an
// output goes straight into the input file, or replaces it where an open
// file cannot be replaced.
bool outputs_overwrite_input(const run_outputs& outputs, const bitmap_input& input);

// Writes every output's header. An output written directly gets nothing
// from a stream until the stream is known whole: its bytes wait in a spool.
void start_run_outputs(const band_reader& reader, run_outputs* outputs);

// Hands the converted band b (converted, its pixels' 4 bytes each) to every
// output that has not failed: the planes made in plane_band. Outputs at
// offsets take it at once, from any thread; the others when b's turn
// comes.
void write_band_to_outputs(const band_reader& reader, const band& b, const std::uint8_t* converted,
                           std::uint8_t* plane_band, run_outputs* outputs);

// Stops the turn of the outputs in order: a thread waiting for it, or
// waiting later, writes nothing. For a run that stops before its last band.
void stop_writing_in_turn(run_outputs* outputs);

// Every output has failed, so the run would convert for nothing.
bool all_outputs_failed(const run_outputs& outputs);

// Leaves an output written directly at offsets (a redirected file) with its
// position at its end, as a writer in order leaves it: what the caller
// writes next, a message on a stream that shares the file included, comes
// after the picture, never inside it.
void leave_positions_at_end(run_outputs* outputs);

// Puts the planes in place, then the result, each reporting its own
// failure in that order. Returns planes_status when it is a failure, else
// status::not_written when a plane or the result failed, else 0.
int finish_run_outputs(int planes_status, run_outputs* outputs);

// Removes every temporary file still open (a run that ended early writes
// none of its files) and closes the turn.
void release_run_outputs(run_outputs* outputs);
