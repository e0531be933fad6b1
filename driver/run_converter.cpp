#include "driver/run_converter.h"

#include "bitmap/band_reader.h"
#include "driver/parse_file_args.h"
#include "driver/run_bands.h"
#include "driver/run_outputs.h"
#include "system/messages.h"
#include "system/status.h"

namespace {

// Everything one run owns, released once at its end.
struct run_state {
  band_reader reader;
  run_bands bands;
  run_outputs outputs;
  const channel_plane* planes = nullptr;  // the planes written, or null
  int planes_status = status::ok;
};

// The band of plane pixels, when the program writes planes; without it no
// plane is written, and the run ends with 9 once the result is written.
void take_plane_band(run_state* run, const channel_plane* planes) {
  if (planes == nullptr) {
    return;
  }
  if (!take_first_plane_band(&run->bands)) {
    print_message(message_id::no_memory_planes);
    run->planes_status = status::no_memory;
    return;
  }
  run->planes = planes;
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

// Converts and writes every band, the first (converted already) included,
// on as many threads as pay. No thread changes the record of the temporary
// files meanwhile, so an interrupt may run its cleanup on any of them. A
// failure's message comes after the outputs' positions are left at their
// ends, so that it never lands inside a picture.
int write_bands(run_state* run) {
  share_bands(&run->bands, run->planes != nullptr);
  leave_positions_at_end(&run->outputs);
  const int failure = report_band_failure(&run->bands);
  if (failure != status::ok || all_outputs_failed(run->outputs)) {
    return failure;  // with every output failed, the rest of a stream is not read
  }
  // A stream is whole only once its length passes the rules: until then,
  // nothing is put under any output name.
  return finish_band_reader(&run->reader);
}

// The steps come in the order their messages must: the memory for the
// bands first, so that a picture too large for memory says so whatever its
// palette; the palette, read as the rows' unpacking reads it; the first
// band, whose refusal leaves every name as it was; the plane band, whose
// want stops the planes only; then the outputs.
int convert_and_write(run_state* run, const file_args& names, const channel_plane* planes) {
  int result = take_first_buffers(&run->bands);
  if (result == status::ok && run->reader.plan.count > 0) {
    result = read_band_palette(&run->reader);
  }
  if (result == status::ok) result = convert_first_band(&run->bands);
  if (result == status::ok) take_plane_band(run, planes);
  if (result == status::ok) result = open_outputs(run, names);
  if (result == status::ok) result = write_bands(run);
  if (result == status::ok) result = finish_run_outputs(run->planes_status, &run->outputs);
  return result;
}

// Removes every temporary file still open (a run that ended early writes
// none of its files) and frees what the run took.
void release_run(run_state* run) {
  release_run_outputs(&run->outputs);
  close_band_reader(&run->reader);
  release_run_bands(&run->bands);
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
  open_run_bands(&run.reader, convert, &run.outputs, &run.bands);
  int result = open_band_reader(names.input, &run.reader);
  if (result == status::ok) {
    result = convert_and_write(&run, names, planes);
  }
  release_run(&run);
  return result;
}
