// What the program tests share: the four programs and the colours they
// must make, pictures and the files that store them, runs and what a run
// must leave behind, and the cases of what stands at an output's name.
// Compiled into program_tests, whose build names the programs' paths.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/bitmap_builder.h"
#include "tests/support/run_program.h"

using bytes = std::vector<std::uint8_t>;

struct bgr {
  std::uint8_t b, g, r;
};

bool operator==(bgr x, bgr y);

// A source colour and the result bytes 0, 1, 2 it must become.
struct colour_pair {
  bgr in;
  bgr out;
};

// Result bytes (U, Y, V).
extern const std::vector<colour_pair> yuv_colours;
// Result bytes (S, V, H); grey keeps hue 236 at every level but black.
extern const std::vector<colour_pair> hsv_colours;

struct program {
  const char* name;
  const char* path;
  const char* default_file;
  const std::vector<colour_pair>* colours;
  std::vector<std::string> planes;  // in writing order
};

// Which result byte each plane file shows, in the planes' writing order.
constexpr int plane_bytes[3] = {2, 0, 1};

extern const program tesvar;
extern const program morvane;
extern const program tesvarex;
extern const program morvanex;
extern const program* const all_programs[4];

#ifdef CONVERTERS_SANITIZED
constexpr bool built_with_sanitizers = true;
#else
constexpr bool built_with_sanitizers = false;
#endif

#ifdef _WIN32
constexpr bool on_windows = true;
#else
constexpr bool on_windows = false;
#endif
// The file name of the device that swallows what is written to it.
extern const std::string null_device;

// ---------------------------------------------------------------------------
// Pictures and how files store them

struct picture {
  std::int32_t width = 0;
  std::vector<bgr> pixels;  // bottom row first, left to right

  std::int32_t rows() const {
    return width == 0 ? 0 : static_cast<std::int32_t>(pixels.size()) / width;
  }
};

picture picture_of(std::int32_t width, const std::vector<bgr>& pixels);
// The sources of a conversion's colour table as one picture, 3 pixels wide.
picture known_colours(const program& p);
picture converted(const program& p, const picture& in);
// The grey picture a plane file shows for one result byte.
picture plane_of(const picture& result, int byte_index);
// A picture of many pixels, different for each seed, so that a run takes
// long enough to be caught while writing.
picture large_picture(std::int32_t width, std::int32_t rows, int seed);
std::vector<bgr> distinct_colours(const picture& p);

// The order a file stores a picture's rows in, for the encoders below.
constexpr bool rows_bottom_up = false;
constexpr bool rows_top_down = true;

// Stored pixels of 24 or 32 bits; the fourth byte of a 32-bit pixel is junk
// that must never reach the result.
test_bitmap encode_24(const picture& p, bool top_down);
test_bitmap encode_32(const picture& p, bool top_down);
// Indexes into a palette whose entries carry a non-zero reserved byte.
test_bitmap encode_8(const picture& p, bool top_down);
// For pictures of exactly two colours. Leftmost pixel in the most
// significant bit; the unused low bits of a row's last byte are set so that
// reading them would show.
test_bitmap encode_1(const picture& p, bool top_down);

// A 32-bit bitmap as the programs write it: the 54-byte header, then the
// pixels bottom row first with a fourth byte of 0, no palette, no padding.
bytes expected_bitmap32(const picture& p);
// The known colours of tesvarex as a program converts them, in file form.
bytes result_of(const program& p);

// A 2 x 2 picture of 24 bits: 54 header bytes and 2 rows of 8 stored bytes.
test_bitmap two_by_two_24();
test_bitmap changed(test_bitmap b, const std::function<void(test_bitmap&)>& change);
// Stored pixel bytes cut down to count.
test_bitmap cut(test_bitmap b, std::size_t count);

// ---------------------------------------------------------------------------
// Runs and the files around them

struct file_entry {
  std::string name;
  bytes content;
};

extern const bytes stale_plane;
// Plane files left by some earlier run, for both families of planes.
std::vector<file_entry> with_stale_planes(std::vector<file_entry> files);
void put_files(const scratch_dir& dir, const std::vector<file_entry>& files);

std::vector<std::string> sorted(std::vector<std::string> names);
std::vector<std::string> names_of(const std::vector<file_entry>& files);
std::vector<std::string> plus_planes(const program& p, std::vector<std::string> names);
// The names in a directory other than a scratch directory, sorted.
std::vector<std::string> files_in(const std::string& directory);
void expect_only(const scratch_dir& dir, std::vector<std::string> names);

std::vector<std::string> with_program_name(const std::string& argv0,
                                           const std::vector<std::string>& args);
program_result run(const program& p, const scratch_dir& dir, const std::vector<std::string>& args,
                   const run_options& options = {});

// How a run must end: exits_with(10, "File 'x' cannot create.\n"),
// exits_with(0), or killed_by(SIGXFSZ).
struct expected_end {
  int signal = 0;  // the signal that must end the run; 0 for an exit
  int status = 0;
  std::string err;  // all of the standard error stream, for an exit
};
expected_end exits_with(int status, std::string err = "");
expected_end killed_by(int signal);

void expect_status(const program_result& r, int status, const std::string& err);
void expect_end(const program_result& r, const expected_end& end);

// The result at result_path and every plane but one the result replaced.
void expect_outputs(const program& p, const scratch_dir& dir, const std::string& result_path,
                    const picture& result);

// A run that must end as said and write nothing at all.
struct refusal_case {
  std::string what;
  const program* prog;
  std::vector<std::string> args;  // after argument 0
  std::vector<file_entry> files;  // in the working directory beforehand
  expected_end end;
  std::string argv0 = "";  // empty: the program's plain name
};
void expect_refused(const refusal_case& c);

// ---------------------------------------------------------------------------
// What stands at an output's name, runs that fail or are interrupted, and
// the descriptors a run is handed

extern const bytes safety_input;  // in.bmp of every safety case
extern const bytes victim;        // a file no run may change

// Puts what stands in the directory before the run, besides in.bmp.
struct planted {
  std::function<void(const scratch_dir&)> put;
};
extern const planted nothing_planted;

// Checks the directory afterwards; in.bmp is checked for every case.
struct afterwards {
  std::function<void(const scratch_dir&)> check;
};

// Hands the program descriptors of the tests, after planting (POSIX only).
struct handed {
  std::function<void(const scratch_dir&, run_options*)> connect;
};
extern const handed no_descriptors;

// Who the program runs as: the tests' own user, or (when the tests run as
// root) an ordinary user whom permission bits bind.
enum class run_as { tests_user, ordinary_user };

// The options of a run that needs nothing special.
extern const run_options plain_run;
run_options as_user(run_as who);

struct safety_case {
  std::string what;
  const program* prog;
  std::vector<std::string> args;  // after argument 0
  planted before;
  run_options options;
  expected_end end;
  afterwards after;
  handed descriptors = no_descriptors;
};
void expect_safe(const safety_case& c);

#ifndef _WIN32
// The program's descriptor number, left closed.
run_options closed_descriptor(int number);
// Gives the program the file name in the directory as its descriptor
// number: for output, an existing file holding stale bytes, its offset past
// them, which the result must replace whole; for input, opened for reading.
handed output_to_file(int number, const std::string& name);
handed input_from_file(int number, const std::string& name);
// The input through a socket, as a launcher that hands its child socket
// pairs gives it: all of it sent, then the sending end closed.
extern const handed input_from_socket;
// Runs p with input fed through a pipe as its standard input, as
// "cat FILE | p ARGS" does.
program_result run_on_pipe(const program& p, const scratch_dir& dir, const bytes& input,
                           const std::vector<std::string>& args, run_options options);
#endif
