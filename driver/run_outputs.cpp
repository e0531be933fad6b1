#include "driver/run_outputs.h"

#include "bitmap/image_bytes.h"
#include "bitmap/write_bitmap32.h"
#include "system/status.h"
#include "system/worker_threads.h"

namespace {

// Whether the output header can describe the image: no more rows than its
// field holds. Where it cannot, no output is opened.
bool header_fits(const bitmap_layout& layout) { return layout.rows <= INT32_MAX; }

// Opens the next output, as the rules decide for its name.
void open_next_output(const band_reader& reader, const char* path, output_name_kind kind,
                      int carries, run_outputs* outputs) {
  run_output* out = &outputs->list[outputs->count++];
  out->carries = carries;
  output_request request;
  request.kind = kind;
  request.plane = carries != carries_result;
  request.input = &reader.input.identity;
  if (header_fits(reader.layout)) {
    open_output_file(path, request, &out->file);
  } else {
    out->file.path = path;
    out->file.failed = true;
    out->file.failure = message_id::write_error;
  }
}

// The bytes band b gives an output: a plane's grey pixels (made in the
// plane band) or the converted pixels.
const std::uint8_t* bytes_for(const run_output& out, std::uint64_t pixels,
                              const std::uint8_t* converted, std::uint8_t* plane_band) {
  if (out.carries == carries_result) {
    return converted;
  }
  fill_plane_band(converted, plane_band, pixels, out.carries);
  return plane_band;
}

// Writes band b to the outputs that take it in order, when its turn comes.
void write_in_turn(const band& b, std::uint64_t pixels, const std::uint8_t* converted,
                   std::uint8_t* plane_band, run_outputs* outputs) {
  if (!wait_for_turn(&outputs->turn, b.index)) {
    return;
  }
  for (int i = 0; i < outputs->count; ++i) {
    run_output& out = outputs->list[i];
    if (!out.at_offsets && !out.file.failed) {
      write_output_bytes(&out.file, bytes_for(out, pixels, converted, plane_band), pixels * 4);
    }
  }
  pass_turn(&outputs->turn, b.index + 1);
}

}  // namespace

void open_run_outputs(const band_reader& reader, const file_args& names,
                      const channel_plane* planes, run_outputs* outputs) {
  open_turn(&outputs->turn);
  outputs->turn_open = true;
  const int plane_count = planes != nullptr ? channel_plane_count : 0;
  for (int i = 0; i < plane_count; ++i) {
    open_next_output(reader, planes[i].file_name, output_name_kind::chosen, planes[i].byte_index,
                     outputs);
  }
  open_next_output(reader, names.output,
                   names.output_typed ? output_name_kind::typed : output_name_kind::chosen,
                   carries_result, outputs);
}

bool outputs_overwrite_input(const run_outputs& outputs, const bitmap_input& input) {
  if (input.stream) {
    return false;  // no output can be the stream itself
  }
  for (int i = 0; i < outputs.count; ++i) {
    const output_file& out = outputs.list[i].file;
    if (writes_directly_over(out, input.identity) ||
        (!open_files_can_be_replaced() && out.file != nullptr &&
         name_leads_to(out.path, input.identity))) {
      return true;
    }
  }
  return false;
}

void start_run_outputs(const band_reader& reader, run_outputs* outputs) {
  std::uint8_t header[bitmap_header_bytes];
  if (header_fits(reader.layout)) {
    make_bitmap32_header(reader.layout.width, static_cast<std::int32_t>(reader.layout.rows),
                         header);
  }
  for (int i = 0; i < outputs->count; ++i) {
    run_output* out = &outputs->list[i];
    if (out->file.file == nullptr ||
        (reader.input.stream && out->file.slot < 0 && !spool_output_file(&out->file))) {
      continue;
    }
    write_output_bytes(&out->file, header, bitmap_header_bytes);
    out->at_offsets = writes_at_offsets(out->file);
    if (out->at_offsets) {
      flush_output_bytes(&out->file);
    }
    outputs->any_in_order = outputs->any_in_order || !out->at_offsets;
  }
}

void write_band_to_outputs(const band_reader& reader, const band& b, const std::uint8_t* converted,
                           std::uint8_t* plane_band, run_outputs* outputs) {
  const std::uint64_t pixels = b.rows * b.pixels;
  const std::uint64_t offset = bitmap_header_bytes + band_first_pixel(reader, b) * 4;
  for (int i = 0; i < outputs->count; ++i) {
    run_output& out = outputs->list[i];
    if (out.at_offsets && !out.file.failed &&
        !write_output_at(out.file, offset, bytes_for(out, pixels, converted, plane_band),
                         pixels * 4)) {
      out.file.failed = true;
    }
  }
  if (outputs->any_in_order) {
    write_in_turn(b, pixels, converted, plane_band, outputs);
  }
}

void stop_writing_in_turn(run_outputs* outputs) {
  if (outputs->turn_open) {
    stop_turn(&outputs->turn);
  }
}

bool all_outputs_failed(const run_outputs& outputs) {
  for (int i = 0; i < outputs.count; ++i) {
    if (!outputs.list[i].file.failed) {
      return false;
    }
  }
  return true;
}

void leave_positions_at_end(run_outputs* outputs) {
  for (int i = 0; i < outputs->count; ++i) {
    output_file& file = outputs->list[i].file;
    if (outputs->list[i].at_offsets && file.slot < 0 && file.spool == nullptr &&
        file.file != nullptr && !move_to_end(file.file)) {
      file.failed = true;
    }
  }
}

int finish_run_outputs(int planes_status, run_outputs* outputs) {
  bool any_failed = false;
  for (int i = 0; i < outputs->count; ++i) {
    output_file& file = outputs->list[i].file;
    close_output_file(&file);
    report_output_failure(file);
    any_failed = any_failed || file.failed;
  }
  if (planes_status != status::ok) {
    return planes_status;
  }
  return any_failed ? status::not_written : status::ok;
}

void release_run_outputs(run_outputs* outputs) {
  for (int i = 0; i < outputs->count; ++i) {
    abandon_output_file(&outputs->list[i].file);
  }
  if (outputs->turn_open) {
    close_turn(&outputs->turn);
    outputs->turn_open = false;
  }
}
