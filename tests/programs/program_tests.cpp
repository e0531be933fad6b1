// The four built programs, run as a user would: command line, exit status,
// the exact bytes on the standard error stream, nothing on the standard
// output stream, and which files the working directory holds afterwards.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/bitmap_builder.h"
#include "tests/support/run_program.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct bgr {
  std::uint8_t b, g, r;
};

bool operator==(bgr x, bgr y) { return x.b == y.b && x.g == y.g && x.r == y.r; }

// A source colour and the result bytes 0, 1, 2 it must become.
struct colour_pair {
  bgr in;
  bgr out;
};

// Result bytes (U, Y, V).
const std::vector<colour_pair> yuv_colours = {
    {{0, 0, 0}, {128, 0, 128}},     {{255, 255, 255}, {128, 255, 128}},
    {{0, 0, 255}, {85, 76, 255}},   {{0, 255, 0}, {44, 150, 21}},
    {{255, 0, 0}, {255, 29, 107}},  {{128, 128, 128}, {128, 128, 128}},
    {{0, 255, 255}, {1, 226, 149}}, {{255, 255, 0}, {171, 179, 1}},
    {{4, 12, 0}, {126, 8, 123}},
};

// Result bytes (S, V, H); grey keeps hue 236 at every level but black.
const std::vector<colour_pair> hsv_colours = {
    {{0, 0, 0}, {0, 0, 128}},         {{255, 255, 255}, {0, 255, 236}},
    {{0, 0, 255}, {252, 76, 204}},    {{0, 255, 0}, {255, 150, 37}},
    {{255, 0, 0}, {242, 29, 121}},    {{251, 0, 10}, {233, 32, 123}},
    {{247, 227, 0}, {234, 161, 80}},  {{1, 1, 1}, {0, 1, 236}},
    {{128, 128, 128}, {0, 128, 236}},
};

struct program {
  const char* name;
  const char* path;
  const char* default_file;
  const std::vector<colour_pair>* colours;
  std::vector<std::string> planes;  // in writing order
};

// Which result byte each plane file shows, in the planes' writing order.
constexpr int plane_bytes[3] = {2, 0, 1};

const program tesvar{"tesvar", TESVAR_PATH, "tesvar.bmp", &yuv_colours, {}};
const program morvane{"morvane", MORVANE_PATH, "morvane.bmp", &hsv_colours, {}};
const program tesvarex{"tesvarex",
                       TESVAREX_PATH,
                       "tesvarex.bmp",
                       &yuv_colours,
                       {"bmp_yuv_v.bmp", "bmp_yuv_u.bmp", "bmp_yuv_y.bmp"}};
const program morvanex{"morvanex",
                       MORVANEX_PATH,
                       "morvanex.bmp",
                       &hsv_colours,
                       {"bmp_hsv_h.bmp", "bmp_hsv_s.bmp", "bmp_hsv_v.bmp"}};
const program* const all_programs[] = {&tesvar, &morvane, &tesvarex, &morvanex};

#ifdef CONVERTERS_SANITIZED
constexpr bool built_with_sanitizers = true;
#else
constexpr bool built_with_sanitizers = false;
#endif

#ifdef _WIN32
constexpr bool on_windows = true;
// The file name of the device that swallows what is written to it.
const std::string null_device = "NUL";
#else
constexpr bool on_windows = false;
const std::string null_device = "/dev/null";
#endif

// ---------------------------------------------------------------------------
// Pictures and how files store them

struct picture {
  std::int32_t width = 0;
  std::vector<bgr> pixels;  // bottom row first, left to right

  std::int32_t rows() const {
    return width == 0 ? 0 : static_cast<std::int32_t>(pixels.size()) / width;
  }
};

picture picture_of(std::int32_t width, const std::vector<bgr>& pixels) { return {width, pixels}; }

// The sources of a conversion's colour table as one picture, 3 pixels wide.
picture known_colours(const program& p) {
  picture pic{3, {}};
  for (const colour_pair& c : *p.colours) {
    pic.pixels.push_back(c.in);
  }
  return pic;
}

bgr convert_colour(const program& p, bgr in) {
  for (const colour_pair& c : *p.colours) {
    if (c.in == in) {
      return c.out;
    }
  }
  ADD_FAILURE() << "no expected value for colour " << int{in.b} << "," << int{in.g} << ","
                << int{in.r};
  return {0, 0, 0};
}

picture converted(const program& p, const picture& in) {
  picture out{in.width, {}};
  for (bgr c : in.pixels) {
    out.pixels.push_back(convert_colour(p, c));
  }
  return out;
}

std::uint8_t byte_of(bgr c, int index) { return index == 0 ? c.b : index == 1 ? c.g : c.r; }

// The grey picture a plane file shows for one result byte.
picture plane_of(const picture& result, int byte_index) {
  picture out{result.width, {}};
  for (bgr c : result.pixels) {
    const std::uint8_t v = byte_of(c, byte_index);
    out.pixels.push_back({v, v, v});
  }
  return out;
}

// The picture's rows in the order the file stores them.
std::vector<std::vector<bgr>> stored_rows(const picture& p, bool top_down) {
  std::vector<std::vector<bgr>> rows;
  for (std::int32_t r = 0; r < p.rows(); ++r) {
    const auto start = p.pixels.begin() + static_cast<std::ptrdiff_t>(r) * p.width;
    rows.emplace_back(start, start + p.width);
  }
  if (top_down) {
    std::reverse(rows.begin(), rows.end());
  }
  return rows;
}

test_bitmap bitmap_header_for(const picture& p, bool top_down, std::uint16_t bit_count) {
  test_bitmap b;
  b.width = p.width;
  b.height = top_down ? -p.rows() : p.rows();
  b.bit_count = bit_count;
  return b;
}

// Stored pixels of 24 or 32 bits; the fourth byte of a 32-bit pixel is
// junk that must never reach the result.
test_bitmap encode_direct(const picture& p, bool top_down, std::uint16_t bit_count) {
  std::vector<bytes> rows;
  for (const auto& row : stored_rows(p, top_down)) {
    bytes out;
    for (bgr c : row) {
      out.insert(out.end(), {c.b, c.g, c.r});
      if (bit_count == 32) {
        out.push_back(0xA5);
      }
    }
    rows.push_back(out);
  }
  test_bitmap b = bitmap_header_for(p, top_down, bit_count);
  b.pixels = pad_rows(rows);
  return b;
}

test_bitmap encode_24(const picture& p, bool top_down) { return encode_direct(p, top_down, 24); }
test_bitmap encode_32(const picture& p, bool top_down) { return encode_direct(p, top_down, 32); }

std::vector<bgr> distinct_colours(const picture& p) {
  std::vector<bgr> colours;
  for (bgr c : p.pixels) {
    if (std::find(colours.begin(), colours.end(), c) == colours.end()) {
      colours.push_back(c);
    }
  }
  return colours;
}

std::uint8_t index_of(const std::vector<bgr>& colours, bgr c) {
  return static_cast<std::uint8_t>(std::find(colours.begin(), colours.end(), c) - colours.begin());
}

// Palette entries carry a non-zero reserved byte, which must not reach the
// result either.
std::vector<std::uint8_t> palette_for(const std::vector<bgr>& colours) {
  std::vector<bytes> entries;
  for (bgr c : colours) {
    entries.push_back({c.b, c.g, c.r, 0x5A});
  }
  return palette_of(entries);
}

test_bitmap encode_8(const picture& p, bool top_down) {
  const std::vector<bgr> colours = distinct_colours(p);
  std::vector<bytes> rows;
  for (const auto& row : stored_rows(p, top_down)) {
    bytes out;
    for (bgr c : row) {
      out.push_back(index_of(colours, c));
    }
    rows.push_back(out);
  }
  test_bitmap b = bitmap_header_for(p, top_down, 8);
  b.palette = palette_for(colours);
  b.pixels = pad_rows(rows);
  return b;
}

// For pictures of exactly two colours. Leftmost pixel in the most
// significant bit; the unused low bits of a row's last byte are set so that
// reading them would show.
test_bitmap encode_1(const picture& p, bool top_down) {
  const std::vector<bgr> colours = distinct_colours(p);
  std::vector<bytes> rows;
  for (const auto& row : stored_rows(p, top_down)) {
    bytes out((row.size() + 7) / 8, 0);
    for (std::size_t x = 0; x < out.size() * 8; ++x) {
      if (x >= row.size() || index_of(colours, row[x]) == 1) {
        out[x / 8] = static_cast<std::uint8_t>(out[x / 8] | (0x80u >> (x % 8)));
      }
    }
    rows.push_back(out);
  }
  test_bitmap b = bitmap_header_for(p, top_down, 1);
  b.palette = palette_for(colours);
  b.pixels = pad_rows(rows);
  return b;
}

// A 32-bit bitmap as the programs write it: the 54-byte header, then the
// pixels bottom row first with a fourth byte of 0, no palette, no padding.
bytes expected_bitmap32(const picture& p) {
  test_bitmap b;
  b.width = p.width;
  b.height = p.rows();
  b.bit_count = 32;
  b.size_image = static_cast<std::uint32_t>(p.pixels.size() * 4);
  for (bgr c : p.pixels) {
    b.pixels.insert(b.pixels.end(), {c.b, c.g, c.r, 0});
  }
  bytes file = build_bitmap(b);
  put_u32(file, 38, 0);  // the builder fills in a resolution; the writer leaves it 0
  put_u32(file, 42, 0);
  return file;
}

// ---------------------------------------------------------------------------
// Runs

struct file_entry {
  std::string name;
  bytes content;
};

const bytes stale_plane = {'o', 'l', 'd'};

// Plane files left by some earlier run, for both families of planes.
std::vector<file_entry> stale_planes() {
  std::vector<file_entry> files;
  for (const program* p : {&tesvarex, &morvanex}) {
    for (const std::string& name : p->planes) {
      files.push_back({name, stale_plane});
    }
  }
  return files;
}

std::vector<file_entry> with_stale_planes(std::vector<file_entry> files) {
  for (file_entry& f : stale_planes()) {
    files.push_back(f);
  }
  return files;
}

void put_files(const scratch_dir& dir, const std::vector<file_entry>& files) {
  for (const file_entry& f : files) {
    ASSERT_TRUE(write_file(dir.file(f.name), f.content)) << f.name;
  }
}

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> names_of(const std::vector<file_entry>& files) {
  std::vector<std::string> names;
  for (const file_entry& f : files) {
    names.push_back(f.name);
  }
  return sorted(names);
}

std::vector<std::string> with_program_name(const std::string& argv0,
                                           const std::vector<std::string>& args) {
  std::vector<std::string> argv{argv0};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

program_result run(const program& p, const scratch_dir& dir, const std::vector<std::string>& args,
                   const run_options& options = {}) {
  return run_program(p.path, with_program_name(p.name, args), dir.path(), options);
}

void expect_status(const program_result& r, int status, const std::string& err) {
  EXPECT_TRUE(r.exited) << "ended by signal " << r.signal;
  EXPECT_EQ(r.exit_status, status);
  EXPECT_EQ(r.err, native_line_ends(err));
  EXPECT_EQ(r.out, "");
}

// A run that must end with status and err and write nothing at all.
struct refusal_case {
  std::string what;
  const program* prog;
  std::vector<std::string> args;  // after argument 0
  std::vector<file_entry> files;  // in the working directory beforehand
  int status;
  std::string err;
  std::string argv0 = "";  // empty: the program's plain name
};

void expect_refused(const refusal_case& c) {
  SCOPED_TRACE(std::string(c.prog->name) + ": " + c.what);
  const scratch_dir dir;
  put_files(dir, c.files);
  const std::string argv0 = c.argv0.empty() ? c.prog->name : c.argv0;
  expect_status(run_program(c.prog->path, with_program_name(argv0, c.args), dir.path()), c.status,
                c.err);
  EXPECT_EQ(dir.entries(), names_of(c.files));
  for (const file_entry& f : c.files) {
    EXPECT_EQ(read_file(dir.file(f.name)), f.content) << f.name << " changed";
  }
}

// The result at result_path and every plane but one the result replaced.
void expect_outputs(const program& p, const scratch_dir& dir, const std::string& result_path,
                    const picture& result) {
  EXPECT_EQ(read_file(dir.file(result_path)), expected_bitmap32(result)) << result_path;
  for (std::size_t i = 0; i < p.planes.size(); ++i) {
    if (p.planes[i] != result_path) {
      EXPECT_EQ(read_file(dir.file(p.planes[i])),
                expected_bitmap32(plane_of(result, plane_bytes[i])))
          << p.planes[i];
    }
  }
}

std::vector<std::string> plus_planes(const program& p, std::vector<std::string> names) {
  names.insert(names.end(), p.planes.begin(), p.planes.end());
  return sorted(names);
}

// ---------------------------------------------------------------------------
// Command line

std::string usage_text(const std::string& name) {
  return "\nusage: " + name + "  [input_bmp [output_bmp]]\n\n";
}

TEST(ProgramCommandLine, BadArgumentsPrintUsageAndWriteNothing) {
  const bytes input = build_bitmap(encode_24(known_colours(tesvar), false));
  struct usage_case {
    const program* prog;
    std::vector<std::string> args;
    std::string argv0;
    std::string shown_name;
  };
  const std::vector<usage_case> cases = {
      {&tesvar, {"-h"}, "tesvar", "tesvar"},
      {&morvane, {"-h"}, "morvane", "morvane"},
      {&tesvarex, {"-h"}, "tesvarex", "tesvarex"},
      {&morvanex, {"-h"}, "morvanex", "morvanex"},
      {&tesvar, {"-"}, "tesvar", "tesvar"},
      {&tesvar, {"a.bmp", "-"}, "tesvar", "tesvar"},
      {&tesvar, {"-h", "a.bmp"}, "tesvar", "tesvar"},
      {&tesvar, {"a.bmp", "b.bmp", "c.bmp"}, "tesvar", "tesvar"},
      {&morvanex, {"a.bmp", "b.bmp", "c.bmp"}, "morvanex", "morvanex"},
      {&tesvar, {"-h"}, "C:\\tools\\tesvar.exe", "tesvar.exe"},
      {&tesvar, {"-h"}, "/tesvar", "/tesvar"},
      {&tesvar, {"-h"}, "\\tesvar", "\\tesvar"},
      {&tesvar, {"-h"}, "/usr/bin/tesvar", "tesvar"},
      {&tesvar, {"-h"}, "//tesvar", "tesvar"},
      {&tesvar, {"-h"}, "a\\b/tesvar", "tesvar"},
      {&tesvar, {"-h"}, "a/b\\tesvar", "tesvar"},
      {&tesvar, {"-h"}, "tools/", ""},
  };
  for (const usage_case& c : cases) {
    const std::vector<file_entry> files =
        with_stale_planes({{"a.bmp", input}, {"b.bmp", input}, {c.prog->default_file, input}});
    expect_refused({c.argv0 + " " + ::testing::PrintToString(c.args), c.prog, c.args, files, 1,
                    usage_text(c.shown_name), c.argv0});
  }
}

// ---------------------------------------------------------------------------
// Loading

TEST(ProgramLoading, FailuresPrintTheLoaderMessage) {
  const bytes header_only = [] {
    bytes b = build_bitmap(encode_24(known_colours(tesvar), false));
    b.resize(54);
    return b;
  }();
  const std::vector<refusal_case> cases = {
      {"missing input", &tesvar, {"missing.bmp", "out.bmp"}, {}, 11, "'missing.bmp' open error.\n"},
      {"empty argument is a file name", &tesvar, {""}, {}, 11, "'' open error.\n"},
      {"control bytes in the name are printed as octal escapes",
       &morvane,
       {"a\033[31m\n\x7f.bmp"},
       {},
       11,
       "'a\\033[31m\\012\\177.bmp' open error.\n"},
      {"missing default file", &tesvar, {}, {}, 11, "'tesvar.bmp' open error.\n"},
      {"missing input with a name outside ASCII, printed as UTF-8",
       &tesvarex,
       {"\xE7\x94\xBB\xE5\x83\x8F.bmp"},
       {},
       11,
       "'\xE7\x94\xBB\xE5\x83\x8F.bmp' open error.\n"},
      {"missing default file", &morvanex, {}, {}, 11, "'morvanex.bmp' open error.\n"},
      {"54-byte file",
       &tesvar,
       {"in.bmp", "out.bmp"},
       {{"in.bmp", header_only}},
       13,
       "'in.bmp' file size erro. too small(54 Byte)\n"},
      {"empty file",
       &morvane,
       {"in.bmp", "out.bmp"},
       {{"in.bmp", {}}},
       13,
       "'in.bmp' file size erro. too small(0 Byte)\n"},
      {"10-byte default file",
       &tesvarex,
       {},
       {{"tesvarex.bmp", bytes(10, 'B')}},
       13,
       "'tesvarex.bmp' file size erro. too small(10 Byte)\n"},
  };
  for (const refusal_case& c : cases) {
    expect_refused({c.what, c.prog, c.args, with_stale_planes(c.files), c.status, c.err});
  }
}

// ---------------------------------------------------------------------------
// Header check and the driver's own refusals

test_bitmap two_by_two_24() {
  return encode_24(picture_of(2, {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {0, 255, 255}}), false);
}

test_bitmap changed(test_bitmap b, const std::function<void(test_bitmap&)>& change) {
  change(b);
  return b;
}

// Stored pixel bytes cut down to count.
test_bitmap cut(test_bitmap b, std::size_t count) {
  b.pixels.resize(count);
  return b;
}

struct header_case {
  std::string what;
  bytes input;
  int status;
  std::string err;
};

std::vector<header_case> header_cases() {
  const test_bitmap base = two_by_two_24();  // 2 rows of 8 stored bytes
  const test_bitmap base_32 = encode_32(picture_of(1, {{1, 2, 3}}), false);
  const test_bitmap base_8 = encode_8(picture_of(3, {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}), false);
  std::vector<bgr> two_colours;
  for (std::uint8_t i = 0; i < 18; ++i) {
    two_colours.push_back({static_cast<std::uint8_t>(i % 2 * 200), 9, 9});
  }
  const test_bitmap nine_wide_1 = encode_1(picture_of(9, two_colours), false);
  const std::string not_completed = "Image processing is not completed.\n";
  const std::string no_destination = "Couldn't allocate memory. destination\n";
  // clang-format off
  return {
      {"55 bytes not starting with BM", bytes(55, 'A'), 2, ""},
      {"type not BM", build_bitmap(changed(base, [](test_bitmap& b) { b.type = 0x4D43; })), 2, ""},
      {"reserved1 set",
       build_bitmap(changed(base, [](test_bitmap& b) { b.reserved1 = 1; })), 2, ""},
      {"reserved2 set",
       build_bitmap(changed(base, [](test_bitmap& b) { b.reserved2 = 1; })), 2, ""},
      {"type wrong and planes 2, type decides",
       build_bitmap(changed(base, [](test_bitmap& b) { b.type = 0; b.planes = 2; })), 2, ""},
      {"planes 2", build_bitmap(changed(base, [](test_bitmap& b) { b.planes = 2; })), 3, ""},
      {"bit fields at 32 bits",
       build_bitmap(changed(base_32, [](test_bitmap& b) { b.compression = 3; })), 3, ""},
      {"compressed and size_image too big, compression decides",
       build_bitmap(changed(base, [](test_bitmap& b) { b.compression = 1; b.size_image = 999; })),
       3, ""},
      {"size_image runs past the end of the file",
       build_bitmap(changed(base, [](test_bitmap& b) { b.size_image = 17; })), 4, ""},
      {"size_image below width x rows x bytes per pixel",
       build_bitmap(changed(base, [](test_bitmap& b) { b.size_image = 11; })), 4, ""},
      {"bfOffBits + size_image wraps in 32 bits",
       build_bitmap(changed(base, [](test_bitmap& b) { b.size_image = 0xFFFFFFF0; })), 4, ""},
      {"negative width with size_image",
       build_bitmap(changed(base, [](test_bitmap& b) { b.width = -2; b.size_image = 16; })), 4, ""},
      {"24-bit rows: last row missing", build_bitmap(cut(base, 8)), 4, ""},
      {"24-bit rows: last row one byte short", build_bitmap(cut(base, 13)), 4, ""},
      {"32-bit rows: last pixel short",
       build_bitmap(cut(encode_32(picture_of(1, {{1, 2, 3}, {4, 5, 6}}), false), 7)), 4, ""},
      {"8-bit rows: last row one byte short", build_bitmap(cut(base_8, 2)), 4, ""},
      {"8-bit rows start past the end of the file",
       build_bitmap(changed(base_8, [](test_bitmap& b) { b.off_bits = 54 + 400; })), 4, ""},
      {"1-bit rows: second byte of the last row missing", build_bitmap(cut(nine_wide_1, 5)), 4, ""},
      {"height -2^31 rows are not in the file",
       build_bitmap(changed(base, [](test_bitmap& b) { b.width = 1; b.height = INT32_MIN; })), 4,
       ""},
      {"width 2^31-1 is not in the file",
       build_bitmap(changed(base, [](test_bitmap& b) { b.width = INT32_MAX; b.height = 1; })), 4,
       ""},
      {"32-bit with bfOffBits 58",
       build_bitmap(changed(base_32, [](test_bitmap& b) { b.palette = bytes(4, 0); })), 5, ""},
      {"24-bit with bfOffBits 58",
       build_bitmap(changed(base, [](test_bitmap& b) { b.palette = bytes(4, 0); })), 6, ""},
      {"24-bit with bfOffBits 58 and rows cut short",
       build_bitmap(cut(changed(base, [](test_bitmap& b) { b.palette = bytes(4, 0); }), 9)), 6, ""},
      {"8-bit with 1022 palette bytes",
       build_bitmap(changed(base_8, [](test_bitmap& b) { b.palette = bytes(1022, 0); })), 7,
       "Unexpected lut size. 1076, 255\n"},
      {"8-bit with bfOffBits 52",
       build_bitmap(changed(base_8, [](test_bitmap& b) { b.off_bits = 52; })), 7,
       "Unexpected lut size. 52, 1073741823\n"},
      {"1-bit with four palette entries",
       build_bitmap(changed(nine_wide_1, [](test_bitmap& b) { b.palette = bytes(16, 0); })), 8,
       "Unexpected, requirement is 2, lut size. 70, 4\n"},
      {"1-bit without palette",
       build_bitmap(changed(nine_wide_1, [](test_bitmap& b) { b.palette.clear(); })), 8,
       "Unexpected, requirement is 2, lut size. 54, 0\n"},
      {"16 bits per pixel", build_bitmap(changed(base, [](test_bitmap& b) { b.bit_count = 16; })),
       1, ""},
      {"4 bits per pixel", build_bitmap(changed(base, [](test_bitmap& b) { b.bit_count = 4; })), 1,
       ""},
      {"16 bits per pixel with rows not in the file",
       build_bitmap(changed(base, [](test_bitmap& b) { b.bit_count = 16; b.width = 100; })), 1, ""},
      {"width 0", build_bitmap(changed(base, [](test_bitmap& b) { b.width = 0; })), 1,
       not_completed},
      {"height 0", build_bitmap(changed(base, [](test_bitmap& b) { b.height = 0; })), 1,
       not_completed},
      {"width -2, height 0",
       build_bitmap(changed(base, [](test_bitmap& b) { b.width = -2; b.height = 0; })), 1,
       not_completed},
      {"width -2, height 2", build_bitmap(changed(base, [](test_bitmap& b) { b.width = -2; })), 9,
       no_destination},
      {"width -2, height -2 at 16 bits: the depth is refused before any memory",
       build_bitmap(changed(base, [](test_bitmap& b) {
         b.width = -2;
         b.height = -2;
         b.bit_count = 16;
       })),
       1, ""},
      {"a tiny 16-bit file claiming 2^62 bytes of pixels reserves none",
       build_bitmap(changed(base, [](test_bitmap& b) {
         b.bit_count = 16;
         b.width = INT32_MAX;
         b.height = INT32_MIN;
       })),
       1, ""},
  };
  // clang-format on
}

TEST(ProgramHeaderCheck, RefusedFilesEndWithTheirStatusAndWriteNothing) {
  // The size cases count on 16 stored pixel bytes after a 54-byte header.
  ASSERT_EQ(build_bitmap(two_by_two_24()).size(), 70u);
  for (const header_case& c : header_cases()) {
    for (const program* p : all_programs) {
      expect_refused({c.what,
                      p,
                      {"in.bmp", "out.bmp"},
                      with_stale_planes({{"in.bmp", c.input}}),
                      c.status,
                      c.err});
    }
  }
}

// Each allocation failing in turn is tested with an interposed allocator
// (fault_injection_test); this one needs a real file too large to load.
// A picture is read and written a band at a time, so one far larger than
// the memory the program may take converts: a small picture in a file
// padded past what a 32-bit count holds, and a 2^30-byte image.
TEST(ProgramMemory, PicturesLargerThanTheMemoryCapConvert) {
  if (built_with_sanitizers) {
    GTEST_SKIP() << "the address sanitizer reserves more address space than the cap allows";
  }
  run_options capped;
  capped.address_space_limit = 256ull << 20;
  if (const std::string why = unsupported_options(capped); !why.empty()) {
    GTEST_SKIP() << why;
  }
  const bytes two_by_two_result = expected_bitmap32(
      converted(tesvar, picture_of(2, {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {0, 255, 255}})));
  for (const std::uint64_t size : {1ull << 30, (1ull << 31) + 54, (1ull << 32) + 54}) {
    SCOPED_TRACE(size);
    const scratch_dir dir;
    const std::string path = dir.file("in.bmp");
    ASSERT_TRUE(write_file(path, build_bitmap(two_by_two_24())));
    std::filesystem::resize_file(path, size);  // sparse: takes no disk space
    expect_status(run(tesvar, dir, {"in.bmp", "out.bmp"}, capped), 0, "");
    EXPECT_EQ(read_file(dir.file("out.bmp")), two_by_two_result);
  }
  // 1 bit per pixel in the file, 32 in the image: 2^14 x 2^14 pixels are
  // 2^25 bytes of rows and 2^30 bytes of image.
  test_bitmap square_1;
  square_1.bit_count = 1;
  square_1.width = 1 << 14;
  square_1.height = 1 << 14;
  square_1.palette = bytes(8, 0);
  const scratch_dir dir;
  const std::string path = dir.file("in.bmp");
  ASSERT_TRUE(write_file(path, build_bitmap(square_1)));
  std::filesystem::resize_file(path, 62 + (1ull << 25));
  expect_status(run(morvanex, dir, {"in.bmp", null_device}, capped), 0, "");
  for (const std::string& plane : morvanex.planes) {
    EXPECT_EQ(std::filesystem::file_size(dir.file(plane)), 54 + (1ull << 30)) << plane;
  }
}

// Where size_t has 32 bits, a file of more than SIZE_MAX bytes still
// converts, its size never narrowed (it would wrap to its first 70 bytes).
// A run holds bands, not images, so no image size is narrowed either.
TEST(ProgramMemory, SizesBeyondA32BitSizeConvertUncapped) {
  if (std::numeric_limits<std::size_t>::max() > UINT32_MAX) {
    GTEST_SKIP() << "size_t has 64 bits: PicturesLargerThanTheMemoryCapConvert covers these "
                    "sizes under an address-space cap";
  }
  const scratch_dir dir;
  const std::string path = dir.file("in.bmp");
  ASSERT_TRUE(write_file(path, build_bitmap(two_by_two_24())));
  std::filesystem::resize_file(path, (1ull << 32) + 70);  // sparse: takes no disk space
  expect_status(run(tesvar, dir, {"in.bmp", "out.bmp"}), 0, "");
  EXPECT_EQ(read_file(dir.file("out.bmp")).size(), 70u);
}

// ---------------------------------------------------------------------------
// Writing

struct write_failure_case {
  std::string what;
  const program* prog;
  std::string output;
  std::vector<std::string> blocked_by_directory;  // names taken by a directory
  std::string err;
  std::vector<std::string> written;  // correct files afterwards, besides in.bmp
};

std::vector<write_failure_case> write_failure_cases() {
  return {
      {"output in a missing directory",
       &tesvar,
       "nodir/out.bmp",
       {},
       "File 'nodir/out.bmp' cannot create.\n",
       {}},
      {"output in a missing directory",
       &morvanex,
       "nodir/out.bmp",
       {},
       "File 'nodir/out.bmp' cannot create.\n",
       morvanex.planes},
      {"output on a full device", &morvane, "/dev/full", {}, "File '/dev/full' write error.\n", {}},
      {"output on a full device",
       &tesvarex,
       "/dev/full",
       {},
       "File '/dev/full' write error.\n",
       tesvarex.planes},
      {"second plane blocked",
       &tesvarex,
       "out.bmp",
       {"bmp_yuv_u.bmp"},
       "File 'bmp_yuv_u.bmp' cannot create.\n",
       {"bmp_yuv_v.bmp", "bmp_yuv_y.bmp", "out.bmp"}},
      {"first plane blocked",
       &morvanex,
       "out.bmp",
       {"bmp_hsv_h.bmp"},
       "File 'bmp_hsv_h.bmp' cannot create.\n",
       {"bmp_hsv_s.bmp", "bmp_hsv_v.bmp", "out.bmp"}},
      {"every plane blocked: messages in writing order",
       &tesvarex,
       "out.bmp",
       tesvarex.planes,
       "File 'bmp_yuv_v.bmp' cannot create.\nFile 'bmp_yuv_u.bmp' cannot create.\n"
       "File 'bmp_yuv_y.bmp' cannot create.\n",
       {"out.bmp"}},
      {"every plane blocked: messages in writing order",
       &morvanex,
       "out.bmp",
       morvanex.planes,
       "File 'bmp_hsv_h.bmp' cannot create.\nFile 'bmp_hsv_s.bmp' cannot create.\n"
       "File 'bmp_hsv_v.bmp' cannot create.\n",
       {"out.bmp"}},
      {"a plane and the result",
       &morvanex,
       "/dev/full",
       {"bmp_hsv_v.bmp"},
       "File 'bmp_hsv_v.bmp' cannot create.\nFile '/dev/full' write error.\n",
       {"bmp_hsv_h.bmp", "bmp_hsv_s.bmp"}},
  };
}

bool written_to_full_device(const write_failure_case& c) { return c.output == "/dev/full"; }

void expect_write_failure(const write_failure_case& c) {
  SCOPED_TRACE(std::string(c.prog->name) + ": " + c.what);
  const scratch_dir dir;
  const picture source = known_colours(*c.prog);
  put_files(dir, {{"in.bmp", build_bitmap(encode_24(source, false))}});
  for (const std::string& name : c.blocked_by_directory) {
    ASSERT_TRUE(std::filesystem::create_directory(dir.file(name)));
  }
  expect_status(run(*c.prog, dir, {"in.bmp", c.output}), 10, c.err);

  std::vector<std::string> expected_entries = {"in.bmp"};
  for (const auto* names : {&c.blocked_by_directory, &c.written}) {
    expected_entries.insert(expected_entries.end(), names->begin(), names->end());
  }
  EXPECT_EQ(dir.entries(), sorted(expected_entries));
  const picture result = converted(*c.prog, source);
  for (const std::string& name : c.written) {
    const auto plane = std::find(c.prog->planes.begin(), c.prog->planes.end(), name);
    const picture expected = plane == c.prog->planes.end()
                                 ? result
                                 : plane_of(result, plane_bytes[plane - c.prog->planes.begin()]);
    EXPECT_EQ(read_file(dir.file(name)), expected_bitmap32(expected)) << name;
  }
}

TEST(ProgramWriting, UnwrittenFilesEndWithStatus10) {
  for (const write_failure_case& c : write_failure_cases()) {
    if (!written_to_full_device(c)) {
      expect_write_failure(c);
    }
  }
}

TEST(ProgramWriting, FullDeviceEndsWithStatus10) {
  if (on_windows) {
    GTEST_SKIP() << "Windows has no device that is always full";
  }
  for (const write_failure_case& c : write_failure_cases()) {
    if (written_to_full_device(c)) {
      expect_write_failure(c);
    }
  }
}

// ---------------------------------------------------------------------------
// Conversions

TEST(ProgramConversion, KnownColoursGiveKnownBytes) {
  for (const program* p : all_programs) {
    SCOPED_TRACE(p->name);
    const scratch_dir dir;
    const picture source = known_colours(*p);
    put_files(dir, {{"in.bmp", build_bitmap(encode_24(source, false))}});
    expect_status(run(*p, dir, {"in.bmp", "out.bmp"}), 0, "");
    EXPECT_EQ(dir.entries(), plus_planes(*p, {"in.bmp", "out.bmp"}));
    expect_outputs(*p, dir, "out.bmp", converted(*p, source));
  }
}

TEST(ProgramConversion, GreyKeepsHue236AtEveryLevel) {
  for (const program* p : {&morvane, &morvanex}) {
    SCOPED_TRACE(p->name);
    picture grey{16, {}};
    for (int g = 1; g <= 255; ++g) {
      const auto level = static_cast<std::uint8_t>(g);
      grey.pixels.push_back({level, level, level});
    }
    grey.pixels.push_back({0, 0, 0});  // 256 pixels: a 16 x 16 picture
    const scratch_dir dir;
    put_files(dir, {{"in.bmp", build_bitmap(encode_24(grey, false))}});
    expect_status(run(*p, dir, {"in.bmp", "out.bmp"}), 0, "");
    EXPECT_EQ(dir.entries(), plus_planes(*p, {"in.bmp", "out.bmp"}));
    picture expected{16, {}};
    for (bgr c : grey.pixels) {
      expected.pixels.push_back(c.g == 0 ? bgr{0, 0, 128} : bgr{0, c.g, 236});
    }
    EXPECT_EQ(read_file(dir.file("out.bmp")), expected_bitmap32(expected));
  }
}

struct encoding {
  const char* name;
  test_bitmap (*encode)(const picture&, bool top_down);
  bool top_down;
};

const encoding all_encodings[] = {
    {"24-bit bottom-up", encode_24, false}, {"24-bit top-down", encode_24, true},
    {"32-bit bottom-up", encode_32, false}, {"32-bit top-down", encode_32, true},
    {"8-bit bottom-up", encode_8, false},   {"8-bit top-down", encode_8, true},
    {"1-bit bottom-up", encode_1, false},   {"1-bit top-down", encode_1, true},
};

constexpr std::int32_t wide_width = (1 << 16) + 9;

// Pictures of the known colours; the last two have only two colours so
// that a 1-bit file can hold them too.
std::vector<picture> depth_test_pictures() {
  std::vector<bgr> colours;
  for (const colour_pair& c : yuv_colours) {
    colours.push_back(c.in);
  }
  const bgr red{0, 0, 255};
  const bgr cyan{255, 255, 0};
  std::vector<bgr> five_by_three;
  for (std::size_t i = 0; i < 15; ++i) {
    five_by_three.push_back(colours[(i * 4) % colours.size()]);
  }
  std::vector<picture> pictures = {
      picture_of(3, {colours[0], colours[1], colours[2], colours[3], colours[4], colours[5]}),
      picture_of(5, five_by_three),
      picture_of(9, {red, cyan, cyan, red, red, red, cyan, red, cyan,  //
                     cyan, red, red, cyan, cyan, cyan, red, cyan, red}),
      picture_of(3, {cyan, red, cyan, red, red, cyan, cyan, cyan, red}),
  };
  // A run reads and writes bands of 256 KiB of pixels: 64 rows of 1023.
  // One row, a whole band, one row more and a prime number of rows, each row
  // unlike its neighbours, so that a row read from the wrong place shows.
  for (const std::int32_t rows : {1, 64, 65, 131}) {
    picture band_edges{1023, {}};
    for (std::int32_t y = 0; y < rows; ++y) {
      for (std::int32_t x = 0; x < 1023; ++x) {
        band_edges.pixels.push_back((x * 7 + y * 3) % 5 < 2 ? red : cyan);
      }
    }
    pictures.push_back(band_edges);
  }
  // A row wider than a band (64 Ki pixels) is converted in pieces: a piece
  // boundary inside each row, a last piece of 9 pixels (an odd 1-bit width),
  // and enough pieces for the run to share them among threads.
  picture wide{wide_width, {}};
  for (std::int32_t y = 0; y < 4; ++y) {
    for (std::int32_t x = 0; x < wide_width; ++x) {
      wide.pixels.push_back((x * 7 + y * 3) % 5 < 2 ? red : cyan);
    }
  }
  pictures.push_back(wide);
  return pictures;
}

TEST(ProgramConversion, EveryDepthAndRowOrderGivesTheSameResult) {
  for (const picture& source : depth_test_pictures()) {
    const bytes expected = expected_bitmap32(converted(tesvar, source));
    const bool two_colours = distinct_colours(source).size() == 2;
    for (const encoding& e : all_encodings) {
      if (e.encode == encode_1 && !two_colours) {
        continue;
      }
      SCOPED_TRACE(std::string(e.name) + ", " + std::to_string(source.width) + " x " +
                   std::to_string(source.rows()));
      const scratch_dir dir;
      put_files(dir, {{"in.bmp", build_bitmap(e.encode(source, e.top_down))}});
      // The pieces of the wide picture on one thread and on several.
      const std::vector<std::string> thread_counts = source.width == wide_width
                                                         ? std::vector<std::string>{"1", "3"}
                                                         : std::vector<std::string>{""};
      for (const std::string& threads : thread_counts) {
        SCOPED_TRACE("threads " + threads);
        run_options options;
        if (!threads.empty()) {
          options.environment = {"CONVERTERS_NUM_THREADS=" + threads};
        }
        expect_status(run(tesvar, dir, {"in.bmp", "out.bmp"}, options), 0, "");
        EXPECT_EQ(dir.entries(), sorted({"in.bmp", "out.bmp"}));
        EXPECT_EQ(read_file(dir.file("out.bmp")), expected);
      }
    }
  }
}

struct accepted_case {
  std::string what;
  bytes input;
  picture source;  // what the file must be read as
};

std::vector<accepted_case> accepted_cases() {
  const bgr black{0, 0, 0};
  const bgr red{0, 0, 255};
  const bgr green{0, 255, 0};
  const picture three_by_two = picture_of(3, {red, green, black, green, red, red});
  const test_bitmap full = encode_24(three_by_two, false);  // rows of 9 + 3 padding bytes
  test_bitmap no_palette;
  no_palette.bit_count = 8;
  no_palette.pixels = {0};
  test_bitmap short_palette;
  short_palette.width = 4;
  short_palette.bit_count = 8;
  short_palette.palette = palette_of({{0, 0, 255, 0}, {0, 255, 0, 0}});
  short_palette.pixels = {0, 1, 2, 255};
  // Rows start at byte 50, so the first row is the header's last 4 bytes
  // (all 0); an index read against a palette would meet the bytes after.
  test_bitmap offset_below_54;
  offset_below_54.width = 4;
  offset_below_54.bit_count = 8;
  offset_below_54.off_bits = 50;
  offset_below_54.pixels = {0x40, 0x80, 0xC0, 0xFF};
  return {
      {"55-byte 8-bit file without palette", build_bitmap(no_palette), picture_of(1, {black})},
      {"8-bit indexes at and past the palette's end", build_bitmap(short_palette),
       picture_of(4, {red, green, black, black})},
      {"8-bit with bfOffBits 50 has no palette", build_bitmap(offset_below_54),
       picture_of(4, {black, black, black, black})},
      {"size_image without row padding",
       build_bitmap(changed(full, [](test_bitmap& b) { b.size_image = 18; })), three_by_two},
      {"last row without its padding", build_bitmap(cut(full, 21)), three_by_two},
      {"bfSize and biSize not looked at",
       build_bitmap(changed(full,
                            [](test_bitmap& b) {
                              b.file_size = 7;
                              b.info_size = 124;
                            })),
       three_by_two},
      {"1-bit last row without its padding",
       build_bitmap(cut(encode_1(depth_test_pictures()[2], false), 6)), depth_test_pictures()[2]},
  };
}

TEST(ProgramConversion, FilesTheHeaderRulesAccept) {
  for (const accepted_case& c : accepted_cases()) {
    SCOPED_TRACE(c.what);
    const scratch_dir dir;
    put_files(dir, {{"in.bmp", c.input}});
    expect_status(run(tesvar, dir, {"in.bmp", "out.bmp"}), 0, "");
    EXPECT_EQ(dir.entries(), sorted({"in.bmp", "out.bmp"}));
    EXPECT_EQ(read_file(dir.file("out.bmp")), expected_bitmap32(converted(tesvar, c.source)));
  }
}

// ---------------------------------------------------------------------------
// File names

TEST(ProgramFileNames, DefaultNameIsInputAndOutput) {
  for (const program* p : all_programs) {
    SCOPED_TRACE(p->name);
    const picture source = known_colours(*p);
    const bytes input = build_bitmap(encode_24(source, false));
    {
      SCOPED_TRACE("no arguments: converted in place");
      const scratch_dir dir;
      put_files(dir, {{p->default_file, input}});
      expect_status(run(*p, dir, {}), 0, "");
      EXPECT_EQ(dir.entries(), plus_planes(*p, {p->default_file}));
      expect_outputs(*p, dir, p->default_file, converted(*p, source));
    }
    {
      SCOPED_TRACE("input only: written to the default name");
      const scratch_dir dir;
      put_files(dir, {{"in.bmp", input}});
      expect_status(run(*p, dir, {"in.bmp"}), 0, "");
      EXPECT_EQ(dir.entries(), plus_planes(*p, {"in.bmp", p->default_file}));
      EXPECT_EQ(read_file(dir.file("in.bmp")), input);
      expect_outputs(*p, dir, p->default_file, converted(*p, source));
    }
  }
}

TEST(ProgramFileNames, NamesOutsideAsciiAreUsedAsGiven) {
  const std::string input = "\xE7\x94\xBB\xE5\x83\x8F.bmp";                   // picture
  const std::string output = "r\xC3\xA9sultat \xE7\xB5\x90\xE6\x9E\x9C.bmp";  // with a space
  for (const program* p : {&tesvar, &morvanex}) {
    SCOPED_TRACE(p->name);
    const picture source = known_colours(*p);
    const scratch_dir dir;
    put_files(dir, {{input, build_bitmap(encode_24(source, false))}});
    expect_status(run(*p, dir, {input, output}), 0, "");
    EXPECT_EQ(dir.entries(), plus_planes(*p, {input, output}));
    expect_outputs(*p, dir, output, converted(*p, source));
  }
}

TEST(ProgramFileNames, OutputMayNameTheInput) {
  for (const program* p : all_programs) {
    SCOPED_TRACE(p->name);
    const picture source = known_colours(*p);
    const scratch_dir dir;
    put_files(dir, {{"in.bmp", build_bitmap(encode_24(source, false))}});
    expect_status(run(*p, dir, {"in.bmp", "in.bmp"}), 0, "");
    EXPECT_EQ(dir.entries(), plus_planes(*p, {"in.bmp"}));
    expect_outputs(*p, dir, "in.bmp", converted(*p, source));
  }
}

// ---------------------------------------------------------------------------
// Plane files

TEST(ProgramPlanes, GoToTheCurrentDirectoryWhereverTheResultGoes) {
  for (const program* p : {&tesvarex, &morvanex}) {
    SCOPED_TRACE(p->name);
    const picture source = known_colours(*p);
    const scratch_dir dir;
    put_files(dir, {{"in.bmp", build_bitmap(encode_24(source, false))}});
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("sub")));
    expect_status(run(*p, dir, {"in.bmp", "sub/out.bmp"}), 0, "");
    EXPECT_EQ(dir.entries(), plus_planes(*p, {"in.bmp", "sub"}));
    expect_outputs(*p, dir, "sub/out.bmp", converted(*p, source));
    for (const std::string& plane : p->planes) {
      EXPECT_FALSE(std::filesystem::exists(dir.file("sub/" + plane))) << plane;
    }
  }
}

TEST(ProgramPlanes, ResultIsWrittenAfterThePlanes) {
  for (const program* p : {&tesvarex, &morvanex}) {
    for (const std::string& plane : p->planes) {
      SCOPED_TRACE(std::string(p->name) + " writing its result to " + plane);
      const picture source = known_colours(*p);
      const scratch_dir dir;
      const std::vector<file_entry> files =
          with_stale_planes({{"in.bmp", build_bitmap(encode_24(source, false))}});
      put_files(dir, files);
      expect_status(run(*p, dir, {"in.bmp", plane}), 0, "");
      EXPECT_EQ(dir.entries(), names_of(files));
      expect_outputs(*p, dir, plane, converted(*p, source));
      const program& other = p == &tesvarex ? morvanex : tesvarex;
      for (const std::string& name : other.planes) {
        EXPECT_EQ(read_file(dir.file(name)), stale_plane) << name;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// What stood at an output's name, and runs that fail or are interrupted

// A picture of many pixels, different for each seed, so that a run takes
// long enough to be caught while writing.
picture large_picture(std::int32_t width, std::int32_t rows, int seed) {
  picture pic{width, {}};
  for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(width * rows); ++i) {
    const std::uint32_t v = i * 2654435761u + static_cast<std::uint32_t>(seed);
    pic.pixels.push_back({static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
                          static_cast<std::uint8_t>(v >> 24)});
  }
  return pic;
}

struct safety_case {
  std::string what;
  const program* prog;
  std::vector<std::string> args;
  // Puts what stands in the directory before the run, besides in.bmp.
  std::function<void(const scratch_dir&)> plant;
  run_options options;
  int signal;  // the signal that must end the run, or 0 for an exit
  int status;
  std::string err;
  // Checks the directory afterwards; in.bmp is checked for every case.
  std::function<void(const scratch_dir&)> check;
  // Hands the program descriptors of the tests, after plant (POSIX only).
  std::function<void(const scratch_dir&, run_options*)> connect = nullptr;
};

const bytes safety_input = build_bitmap(encode_24(known_colours(tesvarex), false));
const bytes victim = {'v', 'i', 'c', 't', 'i', 'm'};

void expect_only(const scratch_dir& dir, std::vector<std::string> names) {
  EXPECT_EQ(dir.entries(), sorted(std::move(names)));
}

// Cases every system can set up.
std::vector<safety_case> safety_cases() {
  std::vector<safety_case> cases;
  cases.push_back({"hard link at a plane name",
                   &tesvarex,
                   {"in.bmp", "out.bmp"},
                   [](const scratch_dir& d) {
                     ASSERT_TRUE(write_file(d.file("victim"), victim));
                     std::filesystem::create_hard_link(d.file("victim"), d.file("bmp_yuv_u.bmp"));
                   },
                   {},
                   0,
                   0,
                   "",
                   [](const scratch_dir& d) {
                     EXPECT_EQ(read_file(d.file("victim")), victim);
                     expect_outputs(tesvarex, d, "out.bmp",
                                    converted(tesvarex, known_colours(tesvarex)));
                   }});
  cases.push_back(
      {"a plane named like the input is not written",
       &tesvarex,
       {"bmp_yuv_y.bmp", "result.bmp"},
       [](const scratch_dir& d) {
         ASSERT_EQ(std::rename(d.file("in.bmp").c_str(), d.file("bmp_yuv_y.bmp").c_str()), 0);
       },
       {},
       0,
       10,
       "File 'bmp_yuv_y.bmp' cannot create.\n",
       [](const scratch_dir& d) {
         expect_only(d, {"bmp_yuv_v.bmp", "bmp_yuv_u.bmp", "bmp_yuv_y.bmp", "result.bmp"});
         EXPECT_EQ(read_file(d.file("bmp_yuv_y.bmp")), safety_input);
       }});
  cases.push_back({null_device + " takes the result",
                   &tesvar,
                   {"in.bmp", null_device},
                   {},
                   {},
                   0,
                   0,
                   "",
                   [](const scratch_dir& d) { expect_only(d, {"in.bmp"}); }});
  if (on_windows) {
    cases.push_back(
        {"a file marked read-only is kept",
         &tesvar,
         {"in.bmp", "ro.bmp"},
         [](const scratch_dir& d) {
           ASSERT_TRUE(write_file(d.file("ro.bmp"), victim));
           std::filesystem::permissions(d.file("ro.bmp"), std::filesystem::perms::owner_write,
                                        std::filesystem::perm_options::remove);
         },
         {},
         0,
         10,
         "File 'ro.bmp' cannot create.\n",
         [](const scratch_dir& d) {
           EXPECT_EQ(read_file(d.file("ro.bmp")), victim);
           std::filesystem::permissions(d.file("ro.bmp"), std::filesystem::perms::owner_write,
                                        std::filesystem::perm_options::add);
         }});
  }
  return cases;
}

#ifndef _WIN32
mode_t mode_of(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode;
}

const bytes stale_output(40, 's');

// Gives the program the file name in the directory as its descriptor
// number: for output, an existing file holding stale bytes, its offset
// past them, which the result must replace whole; for input, opened for
// reading.
std::function<void(const scratch_dir&, run_options*)> redirect(int number, std::string name,
                                                               bool for_output) {
  return [number, name, for_output](const scratch_dir& d, run_options* options) {
    const int fd = for_output ? open(d.file(name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)
                              : open(d.file(name).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << name;
    if (for_output) {
      ASSERT_EQ(write(fd, stale_output.data(), stale_output.size()),
                static_cast<ssize_t>(stale_output.size()));
    }
    options->descriptors.push_back({number, fd});
  };
}

// The input through a socket, as a launcher that hands its child socket
// pairs gives it: all of it sent, then the sending end closed.
void socket_input(const scratch_dir&, run_options* options) {
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  ASSERT_EQ(write(ends[0], safety_input.data(), safety_input.size()),
            static_cast<ssize_t>(safety_input.size()));
  close(ends[0]);
  options->descriptors.push_back({0, ends[1]});
}

run_options closed_descriptor(int number) {
  run_options options;
  options.descriptors.push_back({number, -1});
  return options;
}

run_options as_user(bool ordinary) {
  run_options options;
  options.without_root = ordinary;
  return options;
}

// The names of the standard streams are the system's: a run that turned one
// into a file would break every later use of it, so it is put back here
// before the test fails.
void expect_stream_names_intact() {
  const char* const streams[] = {"stdin", "stdout", "stderr"};
  for (int number = 0; number < 3; ++number) {
    const std::string name = std::string("/dev/") + streams[number];
    const std::string target = "/proc/self/fd/" + std::to_string(number);
    std::error_code error;
    if (std::filesystem::is_symlink(name, error) && std::filesystem::read_symlink(name) == target) {
      continue;
    }
    ADD_FAILURE() << name << " is no longer a link to " << target;
    if (geteuid() == 0) {
      unlink(name.c_str());
      EXPECT_EQ(symlink(target.c_str(), name.c_str()), 0) << "could not put back " << name;
    }
  }
}

// The known colours as a program converts them, in file form.
bytes result_of(const program& p) {
  return expected_bitmap32(converted(p, known_colours(tesvarex)));
}

run_options size_limited(bool kills) {
  run_options options;
  options.file_size_limit = 64;
  options.file_size_limit_kills = kills;
  return options;
}

// A user who is neither the test nor the one the programs run as.
constexpr uid_t other_user = 1002;

void plant_as_other_user(const std::string& path, const bytes& content) {
  ASSERT_TRUE(write_file(path, content));
  ASSERT_EQ(chown(path.c_str(), other_user, other_user), 0);
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
}

void expect_planted(const std::string& path, const bytes& content) {
  EXPECT_EQ(read_file(path), content) << path;
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, other_user) << path;
}

// Files another user planted, and the user's own files, at names in a
// directory the user cannot write and in a sticky one everyone may write.
// Needs root to give files away; the programs run as an ordinary user
// unless said.
void add_other_users_cases(std::vector<safety_case>* cases) {
  const std::vector<std::string> chosen = plus_planes(tesvarex, {"tesvarex.bmp"});
  std::string refusals;
  for (const std::string& name : tesvarex.planes) {
    refusals += "File '" + name + "' cannot create.\n";
  }
  refusals += "File 'tesvarex.bmp' cannot create.\n";
  cases->push_back({"another user's files at the chosen names, directory not writable",
                    &tesvarex,
                    {"in.bmp"},
                    [chosen](const scratch_dir& d) {
                      for (const std::string& name : chosen) {
                        plant_as_other_user(d.file(name), {});
                      }
                      ASSERT_EQ(chmod(d.path().c_str(), 0755), 0);
                    },
                    as_user(true),
                    0,
                    10,
                    refusals,
                    [chosen](const scratch_dir& d) {
                      for (const std::string& name : chosen) {
                        expect_planted(d.file(name), {});
                      }
                    }});
  cases->push_back({"the user's own files written in place, but not one with a second name",
                    &tesvarex,
                    {"in.bmp", "/dev/null"},
                    [](const scratch_dir& d) {
                      ASSERT_TRUE(write_file(d.file("victim"), victim));
                      ASSERT_EQ(link(d.file("victim").c_str(), d.file("bmp_yuv_u.bmp").c_str()), 0);
                      for (const std::string name : {"victim", "bmp_yuv_v.bmp", "bmp_yuv_y.bmp"}) {
                        ASSERT_TRUE(name == "victim" || write_file(d.file(name), stale_plane));
                        ASSERT_EQ(chown(d.file(name).c_str(), 65534, 65534), 0);
                      }
                      ASSERT_EQ(chmod(d.path().c_str(), 0755), 0);
                    },
                    as_user(true),
                    0,
                    10,
                    "File 'bmp_yuv_u.bmp' cannot create.\n",
                    [](const scratch_dir& d) {
                      EXPECT_EQ(read_file(d.file("victim")), victim);
                      const picture result = converted(tesvarex, known_colours(tesvarex));
                      for (const std::size_t i : {std::size_t{0}, std::size_t{2}}) {
                        EXPECT_EQ(read_file(d.file(tesvarex.planes[i])),
                                  expected_bitmap32(plane_of(result, plane_bytes[i])));
                      }
                    }});
  for (const bool ordinary : {false, true}) {
    const std::string who = ordinary ? ", as an ordinary user" : ", as root";
    // A temporary file made at all would end the run with SIGKILL.
    run_options options = as_user(ordinary);
    options.signal_on_temporary_file = SIGKILL;
    const auto sticky = [](const scratch_dir& d) { ASSERT_EQ(chmod(d.path().c_str(), 01777), 0); };
    cases->push_back({"another user's file in a sticky directory" + who,
                      &tesvar,
                      {"in.bmp", "out.bmp"},
                      [sticky](const scratch_dir& d) {
                        sticky(d);
                        plant_as_other_user(d.file("out.bmp"), victim);
                      },
                      options,
                      0,
                      10,
                      "File 'out.bmp' cannot create.\n",
                      [](const scratch_dir& d) {
                        expect_only(d, {"in.bmp", "out.bmp"});
                        expect_planted(d.file("out.bmp"), victim);
                      }});
    cases->push_back({"another user's link in a sticky directory" + who,
                      &tesvar,
                      {"in.bmp", "out.bmp"},
                      [sticky](const scratch_dir& d) {
                        sticky(d);
                        plant_as_other_user(d.file("target"), victim);
                        ASSERT_EQ(symlink("target", d.file("out.bmp").c_str()), 0);
                        ASSERT_EQ(lchown(d.file("out.bmp").c_str(), other_user, other_user), 0);
                      },
                      options,
                      0,
                      10,
                      "File 'out.bmp' cannot create.\n",
                      [](const scratch_dir& d) {
                        EXPECT_TRUE(S_ISLNK(mode_of(d.file("out.bmp"))));
                        expect_planted(d.file("out.bmp"), victim);
                      }});
  }
}

// Cases that need a file-size limit, a signal, a symbolic link, a FIFO,
// permission bits or a device that is always full.
std::vector<safety_case> posix_safety_cases() {
  std::vector<safety_case> cases;
  for (const program* p : all_programs) {
    std::string all_failing;
    for (const std::string& name : p->planes) {
      all_failing += "File '" + name + "' write error.\n";
    }
    cases.push_back({"in place under a file-size limit",
                     p,
                     {"in.bmp", "in.bmp"},
                     {},
                     size_limited(false),
                     0,
                     10,
                     all_failing + "File 'in.bmp' write error.\n",
                     [](const scratch_dir& d) { expect_only(d, {"in.bmp"}); }});
    cases.push_back({"default name in place, killed by the file-size signal",
                     p,
                     {},
                     [p](const scratch_dir& d) {
                       ASSERT_EQ(rename(d.file("in.bmp").c_str(), d.file(p->default_file).c_str()),
                                 0);
                     },
                     size_limited(true),
                     SIGXFSZ,
                     0,
                     "",
                     [p](const scratch_dir& d) {
                       expect_only(d, {p->default_file});
                       EXPECT_EQ(read_file(d.file(p->default_file)), safety_input);
                     }});
  }
  cases.push_back({"a failing re-run keeps the earlier result",
                   &tesvar,
                   {"in.bmp", "out.bmp"},
                   [](const scratch_dir& d) { ASSERT_TRUE(write_file(d.file("out.bmp"), victim)); },
                   size_limited(false),
                   0,
                   10,
                   "File 'out.bmp' write error.\n",
                   [](const scratch_dir& d) {
                     expect_only(d, {"in.bmp", "out.bmp"});
                     EXPECT_EQ(read_file(d.file("out.bmp")), victim);
                   }});
  for (const std::string& plane : tesvarex.planes) {
    cases.push_back({"symbolic link planted at " + plane,
                     &tesvarex,
                     {"in.bmp", "out.bmp"},
                     [plane](const scratch_dir& d) {
                       ASSERT_TRUE(write_file(d.file("victim"), victim));
                       ASSERT_EQ(symlink("victim", d.file(plane).c_str()), 0);
                     },
                     {},
                     0,
                     0,
                     "",
                     [](const scratch_dir& d) {
                       EXPECT_EQ(read_file(d.file("victim")), victim);
                       expect_outputs(tesvarex, d, "out.bmp",
                                      converted(tesvarex, known_colours(tesvarex)));
                     }});
  }
  cases.push_back({"symbolic link to a missing name at the default output",
                   &morvane,
                   {"in.bmp"},
                   [](const scratch_dir& d) {
                     ASSERT_EQ(symlink("created", d.file("morvane.bmp").c_str()), 0);
                   },
                   {},
                   0,
                   0,
                   "",
                   [](const scratch_dir& d) {
                     expect_only(d, {"in.bmp", "morvane.bmp"});
                     EXPECT_TRUE(S_ISREG(mode_of(d.file("morvane.bmp"))));
                   }});
  cases.push_back(
      {"FIFO planted at a plane name is replaced, not opened",
       &tesvarex,
       {"in.bmp", "out.bmp"},
       [](const scratch_dir& d) { ASSERT_EQ(mkfifo(d.file("bmp_yuv_u.bmp").c_str(), 0666), 0); },
       {},
       0,
       0,
       "",
       [](const scratch_dir& d) {
         expect_outputs(tesvarex, d, "out.bmp", converted(tesvarex, known_colours(tesvarex)));
       }});
  cases.push_back(
      {"the user's own file keeps its permission bits",
       &tesvar,
       {"in.bmp", "out.bmp"},
       [](const scratch_dir& d) {
         ASSERT_TRUE(write_file(d.file("out.bmp"), victim));
         ASSERT_EQ(chmod(d.file("out.bmp").c_str(), 0640), 0);
       },
       {},
       0,
       0,
       "",
       [](const scratch_dir& d) { EXPECT_EQ(mode_of(d.file("out.bmp")) & 07777, 0640u); }});
  for (const bool ordinary : {false, true}) {
    const std::string who = ordinary ? ", as an ordinary user" : "";
    cases.push_back({"/dev/stdout redirected to a file" + who,
                     &tesvar,
                     {"in.bmp", "/dev/stdout"},
                     {},
                     as_user(ordinary),
                     0,
                     0,
                     "",
                     [](const scratch_dir& d) {
                       expect_only(d, {"in.bmp", "redirected.bmp"});
                       EXPECT_EQ(read_file(d.file("redirected.bmp")), result_of(tesvar));
                     },
                     redirect(1, "redirected.bmp", true)});
  }
  for (const std::string name : {"/dev/stderr", "/dev/fd/3", "/proc/self/fd/3"}) {
    const int number = name == "/dev/stderr" ? 2 : 3;
    cases.push_back({name + " redirected to a file",
                     &tesvarex,
                     {"in.bmp", name},
                     {},
                     {},
                     0,
                     0,
                     "",
                     [](const scratch_dir& d) {
                       expect_only(d, plus_planes(tesvarex, {"in.bmp", "redirected.bmp"}));
                       EXPECT_EQ(read_file(d.file("redirected.bmp")), result_of(tesvarex));
                     },
                     redirect(number, "redirected.bmp", true)});
  }
  cases.push_back(
      {"/dev/stdin from a redirected file",
       &tesvar,
       {"/dev/stdin", "out.bmp"},
       {},
       {},
       0,
       0,
       "",
       [](const scratch_dir& d) { EXPECT_EQ(read_file(d.file("out.bmp")), result_of(tesvar)); },
       redirect(0, "in.bmp", false)});
  cases.push_back(
      {"/dev/stdin from a socket",
       &tesvarex,
       {"/dev/stdin", "out.bmp"},
       {},
       {},
       0,
       0,
       "",
       [](const scratch_dir& d) { EXPECT_EQ(read_file(d.file("out.bmp")), result_of(tesvarex)); },
       socket_input});
  cases.push_back(
      {"/dev/stdin as input and output writes the redirected file",
       &tesvar,
       {"/dev/stdin", "/dev/stdin"},
       [](const scratch_dir& d) { ASSERT_TRUE(write_file(d.file("piped.bmp"), safety_input)); },
       {},
       0,
       0,
       "",
       [](const scratch_dir& d) {
         expect_only(d, {"in.bmp", "piped.bmp"});
         EXPECT_EQ(read_file(d.file("piped.bmp")), result_of(tesvar));
       },
       redirect(0, "piped.bmp", false)});
  const auto plant_own_link = [](const scratch_dir& d) {
    ASSERT_TRUE(std::filesystem::create_directory(d.file("runs")));
    ASSERT_EQ(symlink("runs/42.bmp", d.file("latest.bmp").c_str()), 0);
  };
  cases.push_back({"the user's own link is written through and kept",
                   &tesvar,
                   {"in.bmp", "latest.bmp"},
                   plant_own_link,
                   {},
                   0,
                   0,
                   "",
                   [](const scratch_dir& d) {
                     EXPECT_TRUE(S_ISLNK(mode_of(d.file("latest.bmp"))));
                     EXPECT_EQ(read_file(d.file("runs/42.bmp")), result_of(tesvar));
                   }});
  cases.push_back({"a failing run through the user's own link keeps its target",
                   &tesvar,
                   {"in.bmp", "latest.bmp"},
                   [plant_own_link](const scratch_dir& d) {
                     plant_own_link(d);
                     ASSERT_TRUE(write_file(d.file("runs/42.bmp"), victim));
                   },
                   size_limited(false),
                   0,
                   10,
                   "File 'latest.bmp' write error.\n",
                   [](const scratch_dir& d) {
                     EXPECT_TRUE(S_ISLNK(mode_of(d.file("latest.bmp"))));
                     EXPECT_EQ(read_file(d.file("runs/42.bmp")), victim);
                     std::vector<std::string> left;
                     for (const auto& entry : std::filesystem::directory_iterator(d.file("runs"))) {
                       left.push_back(entry.path().filename().string());
                     }
                     EXPECT_EQ(left, std::vector<std::string>{"42.bmp"})
                         << "nothing left beside it";
                   }});
  cases.push_back({"a file its owner made read-only is kept",
                   &tesvar,
                   {"in.bmp", "ro.bmp"},
                   [](const scratch_dir& d) {
                     ASSERT_TRUE(write_file(d.file("ro.bmp"), victim));
                     ASSERT_EQ(chmod(d.file("ro.bmp").c_str(), 0444), 0);
                     // A directory anyone may write: only the file's own bits refuse.
                     ASSERT_EQ(chmod(d.path().c_str(), 0777), 0);
                   },
                   as_user(true),
                   0,
                   10,
                   "File 'ro.bmp' cannot create.\n",
                   [](const scratch_dir& d) {
                     expect_only(d, {"in.bmp", "ro.bmp"});
                     EXPECT_EQ(read_file(d.file("ro.bmp")), victim);
                   }});
  // Descriptors the caller left closed: their names lead nowhere, whatever
  // the program has opened since under those numbers.
  const std::pair<int, std::string> closed_names[] = {{0, "/dev/stdin"},
                                                      {1, "/dev/stdout"},
                                                      {2, "/dev/stderr"},
                                                      {3, "/dev/fd/3"},
                                                      {3, "/proc/self/fd/3"}};
  for (const auto& [number, name] : closed_names) {
    // With the standard error stream closed, no message reaches the tests.
    const auto said = [number = number](const std::string& text) {
      return number == 2 ? std::string() : text;
    };
    cases.push_back({"descriptor " + std::to_string(number) + " closed, " + name + " as output",
                     &tesvar,
                     {"in.bmp", name},
                     {},
                     closed_descriptor(number),
                     0,
                     10,
                     said("File '" + name + "' cannot create.\n"),
                     [](const scratch_dir& d) { expect_only(d, {"in.bmp"}); }});
    cases.push_back({"descriptor " + std::to_string(number) + " closed, " + name + " as input",
                     &tesvar,
                     {name, "out.bmp"},
                     {},
                     closed_descriptor(number),
                     0,
                     11,
                     said("'" + name + "' open error.\n"),
                     [](const scratch_dir& d) { expect_only(d, {"in.bmp"}); }});
  }
  for (const int number : {5, 7, 9}) {
    const std::string name = "/dev/fd/" + std::to_string(number);
    cases.push_back({name + " closed while the planes are written",
                     &tesvarex,
                     {"in.bmp", name},
                     {},
                     {},
                     0,
                     10,
                     "File '" + name + "' cannot create.\n",
                     [](const scratch_dir& d) {
                       expect_only(d, plus_planes(tesvarex, {"in.bmp"}));
                       const picture result = converted(tesvarex, known_colours(tesvarex));
                       for (std::size_t i = 0; i < tesvarex.planes.size(); ++i) {
                         EXPECT_EQ(read_file(d.file(tesvarex.planes[i])),
                                   expected_bitmap32(plane_of(result, plane_bytes[i])));
                       }
                     }});
  }
  cases.push_back(
      {"standard error closed while the planes fail",
       &tesvarex,
       {"/dev/stdin", "out.bmp"},
       [](const scratch_dir& d) {
         for (const std::string& plane : tesvarex.planes) {
           ASSERT_TRUE(std::filesystem::create_directory(d.file(plane)));
         }
       },
       closed_descriptor(2),
       0,
       10,
       "",
       [](const scratch_dir& d) { EXPECT_EQ(read_file(d.file("out.bmp")), result_of(tesvarex)); },
       socket_input});
  run_options bounded;
  bounded.time_limit_seconds = 60;
  cases.push_back({"/dev/stdin as output while standard input is a pipe",
                   &tesvar,
                   {"in.bmp", "/dev/stdin"},
                   {},
                   bounded,
                   0,
                   10,
                   "File '/dev/stdin' cannot create.\n",
                   [](const scratch_dir& d) { expect_only(d, {"in.bmp"}); },
                   [](const scratch_dir&, run_options* options) {
                     int ends[2];
                     ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
                     // The writing end stays open, so the pipe never ends.
                     options->descriptors.push_back({0, ends[0]});
                     options->descriptors.push_back({9, ends[1]});
                   }});
  if (geteuid() == 0) {
    add_other_users_cases(&cases);
  }
  cases.push_back(
      {"/dev/full still fails",
       &morvanex,
       {"in.bmp", "/dev/full"},
       {},
       {},
       0,
       10,
       "File '/dev/full' write error.\n",
       [](const scratch_dir& d) { expect_only(d, plus_planes(morvanex, {"in.bmp"})); }});
  return cases;
}
#endif

void expect_safe(const safety_case& c) {
  SCOPED_TRACE(std::string(c.prog->name) + ": " + c.what);
  const scratch_dir dir;
  put_files(dir, {{"in.bmp", safety_input}});
  if (c.plant) {
    c.plant(dir);
  }
  run_options options = c.options;
  if (c.connect) {
    c.connect(dir, &options);
  }
  const program_result r = run(*c.prog, dir, c.args, options);
#ifndef _WIN32
  for (const auto& handed : options.descriptors) {
    close(handed.second);
  }
  expect_stream_names_intact();
#endif
  if (c.signal != 0) {
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(r.signal, c.signal);
  } else {
    expect_status(r, c.status, c.err);
  }
  if (std::filesystem::exists(dir.file("in.bmp"))) {
    EXPECT_EQ(read_file(dir.file("in.bmp")), safety_input);
  }
  c.check(dir);
}

TEST(ProgramSafety, NoRunDestroysOrWritesThroughAFile) {
  for (const safety_case& c : safety_cases()) {
    expect_safe(c);
  }
}

TEST(ProgramSafety, NoLinkFifoOrLimitDestroysOrWritesThroughAFile) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file-size limit, no signals, no FIFOs, no permission bits "
                  "and no device that is always full, and its symbolic links need a privilege";
#else
  for (const safety_case& c : posix_safety_cases()) {
    expect_safe(c);
  }
#endif
}

// A file someone else made at a plane name beforehand is replaced by one of
// the user's, with the user's umask, so its maker cannot read the plane.
TEST(ProgramSafety, AnotherUsersFileAtAPlaneNameIsNotKept) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has neither file owners a test can set nor permission bits";
#else
  if (geteuid() != 0) {
    GTEST_SKIP() << "giving a file to another user needs root";
  }
  const scratch_dir dir;
  put_files(dir, {{"in.bmp", safety_input}, {"bmp_yuv_v.bmp", victim}});
  constexpr uid_t nobody = 65534;
  ASSERT_EQ(chown(dir.file("bmp_yuv_v.bmp").c_str(), nobody, nobody), 0);
  ASSERT_EQ(chmod(dir.file("bmp_yuv_v.bmp").c_str(), 0666), 0);
  run_options options;
  options.umask = 077;
  expect_status(run(tesvarex, dir, {"in.bmp", "out.bmp"}, options), 0, "");
  struct stat info {};
  ASSERT_EQ(stat(dir.file("bmp_yuv_v.bmp").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, geteuid());
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(mode_of(dir.file("out.bmp")) & 07777, 0600u);
#endif
}

// The result down the pipes the runner reads the standard output and
// error streams through.
TEST(ProgramSafety, ResultThroughAPipeByTheStreamsNames) {
  if (on_windows) {
    GTEST_SKIP() << "Windows has no file names for the standard streams";
  }
  const scratch_dir dir;
  const picture source = known_colours(tesvar);
  put_files(dir, {{"in.bmp", build_bitmap(encode_24(source, false))}});
  const bytes want = expected_bitmap32(converted(tesvar, source));
  for (const std::string name : {"/dev/stdout", "/dev/stderr"}) {
    SCOPED_TRACE(name);
    const program_result r = run(tesvar, dir, {"in.bmp", name});
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exit_status, 0);
    const std::string& piped = name == "/dev/stdout" ? r.out : r.err;
    EXPECT_EQ(bytes(piped.begin(), piped.end()), want);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.bmp"});
  }
}

#ifndef _WIN32
// The run's outcome on head followed by a stream of zeros that does not end
// (64 MiB offered) through a pipe as /dev/stdin, and how much was fed.
program_result run_on_endless_pipe(const scratch_dir& dir, const bytes& head,
                                   const run_options& base, std::size_t* fed_bytes) {
  int ends[2];
  EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
  constexpr std::size_t offered = std::size_t{64} << 20;
  std::size_t fed = 0;
  std::thread feeder([&] {
    bytes chunk = head;
    chunk.resize(std::size_t{1} << 16, 0);
    while (fed < offered) {
      const ssize_t n = write(ends[1], chunk.data(), chunk.size());
      if (n <= 0) {
        break;  // the program closed its end
      }
      fed += static_cast<std::size_t>(n);
      std::fill(chunk.begin(), chunk.end(), 0);
    }
    close(ends[1]);
  });
  std::signal(SIGPIPE, SIG_IGN);
  run_options options = base;
  options.descriptors.push_back({0, ends[0]});
  const program_result r = run(tesvar, dir, {"/dev/stdin", "out.bmp"}, options);
  close(ends[0]);
  feeder.join();
  *fed_bytes = fed;
  return r;
}

// A stream is judged by its header before it is held: a header the rules
// refuse whatever the length follows gives the status and message the same
// bytes give as a file, while the feeder still has most of its bytes to
// give, and within a memory cap far below what the header claims.
TEST(ProgramSafety, RefusedHeadersEndAPipeAtOnce) {
  run_options capped;
  capped.address_space_limit = built_with_sanitizers ? 0 : 256ull << 20;
  if (!unsupported_options(capped).empty()) {
    capped.address_space_limit = 0;  // the feeder's count still bounds the run
  }
  test_bitmap huge;
  huge.width = INT32_MAX;
  huge.height = INT32_MAX;
  const auto with = [&huge](void (*change)(test_bitmap&)) {
    test_bitmap b = huge;
    change(b);
    return build_bitmap(b);
  };
  const std::pair<std::string, bytes> heads[] = {
      {"no bitmap", bytes(54, 0)},
      {"compressed", with([](test_bitmap& b) { b.compression = 1; })},
      {"two planes", with([](test_bitmap& b) { b.planes = 2; })},
      {"4 bits", with([](test_bitmap& b) { b.bit_count = 4; })},
      {"32 bits at offset 58", with([](test_bitmap& b) {
         b.bit_count = 32;
         b.off_bits = 58;
       })},
      {"8 bits, palette not whole", with([](test_bitmap& b) {
         b.bit_count = 8;
         b.off_bits = 56;
       })},
      {"1 bit, four entries", with([](test_bitmap& b) {
         b.bit_count = 1;
         b.off_bits = 70;
       })},
      {"image size below the pixels", with([](test_bitmap& b) { b.size_image = 1; })},
  };
  for (const auto& [what, head] : heads) {
    SCOPED_TRACE(what);
    const scratch_dir dir;
    bytes file = head;
    file.resize(head.size() + 100, 0);
    put_files(dir, {{"in.bmp", file}});
    const program_result as_file = run(tesvar, dir, {"in.bmp", "out.bmp"});
    EXPECT_NE(as_file.exit_status, 0);
    std::size_t fed = 0;
    const program_result piped = run_on_endless_pipe(dir, head, capped, &fed);
    EXPECT_TRUE(piped.exited);
    EXPECT_EQ(piped.exit_status, as_file.exit_status);
    EXPECT_EQ(piped.err, as_file.err);
    EXPECT_LT(fed, std::size_t{16} << 20) << "the stream was read on after its header";
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.bmp"});
  }
}

// An output path as long as a plain open accepts (4,090 bytes here) is
// written, though the temporary name beside it makes a longer path.
TEST(ProgramSafety, OutputPathAsLongAsTheSystemAllows) {
  const scratch_dir dir;
  put_files(dir, {{"in.bmp", safety_input}});
  std::string path = dir.path();
  const std::string part(200, 'd');
  while (path.size() + 1 + part.size() + 1 + 10 < 4090) {
    path += "/" + part;
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  }
  path += "/" + std::string(4090 - path.size() - 1 - 4, 'o') + ".bmp";
  ASSERT_EQ(path.size(), 4090u);
  expect_status(run(tesvar, dir, {"in.bmp", path}), 0, "");
  EXPECT_EQ(read_file(path), result_of(tesvar));
}

// Another user flips a name between a link to /dev/null and a link to a
// file of the user's while the user converts to that name, in a directory
// anyone may write and in a sticky one: a link of someone else's is never
// followed, so the user's file never changes.
TEST(ProgramSafety, LinksFlippedAtTheNameAreNeverWrittenThrough) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "giving links to another user needs root";
  }
  for (const mode_t shared_mode : {mode_t{0777}, mode_t{01777}}) {
    SCOPED_TRACE(shared_mode);
    const scratch_dir dir;
    put_files(dir, {{"in.bmp", safety_input}, {"mine.bmp", victim}});
    ASSERT_EQ(chmod(dir.path().c_str(), shared_mode), 0);
    constexpr uid_t other = 65534;
    std::atomic<bool> done{false};
    std::thread flipper([&] {
      for (unsigned i = 0; !done; ++i) {
        const std::string next = dir.file(".flip");
        const char* target = i % 2 == 0 ? "/dev/null" : "mine.bmp";
        if (symlink(target, next.c_str()) == 0 && lchown(next.c_str(), other, other) == 0) {
          rename(next.c_str(), dir.file("out.bmp").c_str());
        }
        unlink(next.c_str());
      }
    });
    for (int run_number = 0; run_number < 100; ++run_number) {
      const program_result r = run(tesvar, dir, {"in.bmp", "out.bmp"});
      EXPECT_TRUE(r.exited);
    }
    done = true;
    flipper.join();
    EXPECT_EQ(read_file(dir.file("mine.bmp")), victim);
  }
}
#endif

// A signal that ends the program, sent as soon as every temporary file
// exists: the input, converted in place, stays whole, and no temporary file
// is left. A plane may have been completed and renamed into place before
// the signal arrived. Sent with kill, the signals that also report faults
// clean up like the others.
TEST(ProgramSafety, TerminatedInPlaceRunKeepsTheInput) {
  const bytes input = build_bitmap(encode_24(large_picture(2000, 1500, 1), false));
  const int signals[] = {SIGTERM,
#ifndef _WIN32
                         SIGQUIT, SIGUSR1, SIGSEGV, SIGABRT
#endif
  };
  for (const program* p : {&tesvar, &morvanex}) {
    for (const int signal_number : signals) {
      SCOPED_TRACE(std::string(p->name) + ", signal " + std::to_string(signal_number));
      const scratch_dir dir;
      put_files(dir, {{"in.bmp", input}});
      run_options options;
      options.signal_on_temporary_file = signal_number;
      options.temporary_files_before_signal = static_cast<int>(p->planes.size()) + 1;
      if (const std::string why = unsupported_options(options); !why.empty()) {
        GTEST_SKIP() << why;
      }
      const program_result r = run(*p, dir, {"in.bmp", "in.bmp"}, options);
      EXPECT_FALSE(r.exited);
      EXPECT_EQ(r.signal, signal_number);
      EXPECT_EQ(read_file(dir.file("in.bmp")), input);
      for (const std::string& name : dir.entries()) {
        const bool expected = name == "in.bmp" || std::find(p->planes.begin(), p->planes.end(),
                                                            name) != p->planes.end();
        EXPECT_TRUE(expected) << "left behind: " << name;
      }
    }
  }
}

// Two runs on different pictures in one directory at once: every plane file
// afterwards is wholly one run's, as that run alone writes it.
TEST(ProgramSafety, ConcurrentRunsNeverTearAFile) {
  const scratch_dir dir;
  std::vector<bytes> alone[2];  // each run's planes when it runs by itself
  for (int i = 0; i < 2; ++i) {
    const std::string input = "in" + std::to_string(i) + ".bmp";
    const bytes content = build_bitmap(encode_24(large_picture(600, 400, i), false));
    const scratch_dir solo;
    put_files(solo, {{input, content}});
    expect_status(run(tesvarex, solo, {input, "out.bmp"}), 0, "");
    for (const std::string& plane : tesvarex.planes) {
      alone[i].push_back(read_file(solo.file(plane)));
    }
    put_files(dir, {{input, content}});
  }
  for (int round = 0; round < 3; ++round) {
    program_result results[2];
    std::thread other([&] { results[1] = run(tesvarex, dir, {"in1.bmp", "out.bmp"}); });
    results[0] = run(tesvarex, dir, {"in0.bmp", "out.bmp"});
    other.join();
    for (const program_result& r : results) {
      expect_status(r, 0, "");
    }
    expect_only(dir, plus_planes(tesvarex, {"in0.bmp", "in1.bmp", "out.bmp"}));
    for (std::size_t i = 0; i < tesvarex.planes.size(); ++i) {
      const bytes got = read_file(dir.file(tesvarex.planes[i]));
      EXPECT_TRUE(got == alone[0][i] || got == alone[1][i])
          << tesvarex.planes[i] << " is wholly neither run's";
    }
  }
}

}  // namespace
