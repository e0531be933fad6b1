// Exit statuses of a run. Every function returns one of these (or 0), and
// the driver ends the process with the first failure it meets.
#pragma once

namespace status {

constexpr int ok = 0;

// 1: bad command line, unsupported depth, conversion refused, or the header
// check found no usable block.
constexpr int usage = 1;
constexpr int unsupported_depth = 1;
constexpr int conversion_refused = 1;
constexpr int header_too_short = 1;

// 2 to 8: header check refusals.
constexpr int header_not_bitmap = 2;
constexpr int header_planes_or_compression = 3;
constexpr int header_sizes_inconsistent = 4;
constexpr int header_32bit_offset = 5;
constexpr int header_24bit_offset = 6;
constexpr int header_8bit_palette = 7;
constexpr int header_1bit_palette = 8;

// 9 and 10: the run went on but did not produce everything it should have.
constexpr int no_memory = 9;
constexpr int not_written = 10;

// 11 to 15: loading the input file failed.
constexpr int open_error = 11;
constexpr int stat_error = 12;
constexpr int file_too_small = 13;
constexpr int load_no_memory = 14;
constexpr int read_error = 15;

// The writers (write_bitmap32, write_output_file and the output_file steps)
// return this instead of a run status.
constexpr int write_failed = -1;

}  // namespace status
