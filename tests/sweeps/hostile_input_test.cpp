// Broken and hostile input files, run through the same driver and
// conversions as the programs: every truncation of valid files of each
// depth and row order, each header field set to extreme values, palettes
// and pixel offsets that point outside the file. Each run must end with a
// documented status and write no file unless the status allows one; the
// sanitizer build adds that nothing outside the file is read.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert/channel_planes.h"
#include "convert/convert_to_hsv.h"
#include "convert/convert_to_yuv.h"
#include "driver/band_hook.h"
#include "driver/run_converter.h"
#include "tests/support/bitmap_builder.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

// What a test does to the input once the run has read its first band:
// nothing when null. Replaces the programs' hook, which does nothing.
void (*change_after_first_band)(const char* input_path) = nullptr;

// Bands read since the count was last set to 0, from every thread of a run.
std::atomic<std::uint64_t> bands_read{0};

void after_band_read(const char* input_path, std::uint64_t band) {
  ++bands_read;
  if (band == 0 && change_after_first_band != nullptr) {
    change_after_first_band(input_path);
  }
}

namespace {

using bytes = std::vector<std::uint8_t>;

struct converter {
  const char* name;
  conversion convert;
  const channel_plane* plane_table;
  std::vector<std::string> planes;
};

// The luma converter and the hue converter with planes: between them
// every conversion and writer the programs have.
const converter converters[] = {
    {"tesvar", {convert_to_yuv, convert_stored_to_yuv}, nullptr, {}},
    {"morvanex",
     {convert_to_hsv, convert_stored_to_hsv},
     hsv_planes,
     {"bmp_hsv_h.bmp", "bmp_hsv_s.bmp", "bmp_hsv_v.bmp"}},
};

struct run_outcome {
  int status = -1;
  std::vector<std::string> files;  // written by the run, sorted
  bytes result;                    // out.bmp, when written
};

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = enter_temp_dir(); }
  void TearDown() override { leave_temp_dir(dir_); }

  // One run of c on file as in.bmp, writing out.bmp; the files it wrote
  // are removed afterwards.
  static run_outcome run(const converter& c, const bytes& file) {
    EXPECT_TRUE(write_file("in.bmp", file));
    const char* const argv[] = {c.name, "in.bmp", "out.bmp", nullptr};
    run_outcome outcome;
    outcome.status = run_converter(3, argv, "unused.bmp", c.convert, c.plane_table);
    std::vector<std::string> candidates = c.planes;
    candidates.push_back("out.bmp");
    for (const std::string& name : candidates) {
      if (std::FILE* f = std::fopen(name.c_str(), "rb")) {
        std::fclose(f);
        outcome.files.push_back(name);
      }
    }
    outcome.result = read_file("out.bmp");
    for (const std::string& name : outcome.files) {
      std::remove(name.c_str());
    }
    return outcome;
  }

  // Runs each converter on file; checks what holds for any input and
  // returns the status, which both must agree on.
  static int run_all(const bytes& file, const std::string& what) {
    int first = -1;
    for (const converter& c : converters) {
      SCOPED_TRACE(std::string(c.name) + ": " + what);
      const run_outcome o = run(c, file);
      EXPECT_GE(o.status, 0);
      EXPECT_LE(o.status, 15);
      if (o.status == 0) {
        std::vector<std::string> all = c.planes;
        all.push_back("out.bmp");
        std::sort(all.begin(), all.end());
        EXPECT_EQ(o.files, all);
      } else if (o.status != 9 && o.status != 10) {
        EXPECT_EQ(o.files, std::vector<std::string>{}) << "status " << o.status;
      }
      if (first == -1) {
        first = o.status;
      }
      EXPECT_EQ(o.status, first) << "the programs disagree";
    }
    return first;
  }

 private:
  scoped_work_dir dir_;
};

// A valid file: 5 pixels wide (odd, so rows are padded), 3 rows.
struct valid_file {
  std::string name;
  test_bitmap bitmap;
};

bytes stored_rows(int bits) {
  std::vector<bytes> rows;
  for (int r = 0; r < 3; ++r) {
    bytes row;
    const int row_bytes = bits == 1 ? 1 : 5 * bits / 8;
    for (int i = 0; i < row_bytes; ++i) {
      row.push_back(static_cast<std::uint8_t>(41 * i + 97 * r + 3));
    }
    rows.push_back(row);
  }
  return pad_rows(rows);
}

std::vector<valid_file> valid_files() {
  std::vector<valid_file> files;
  for (const int bits : {1, 8, 24, 32}) {
    for (const bool top_down : {false, true}) {
      test_bitmap b;
      b.width = 5;
      b.height = top_down ? -3 : 3;
      b.bit_count = static_cast<std::uint16_t>(bits);
      if (bits == 1) {
        b.palette = palette_of({{10, 20, 30, 0}, {200, 210, 220, 0}});
      } else if (bits == 8) {
        b.palette = palette_of({{1, 2, 3, 4}, {50, 60, 70, 0}, {90, 80, 70, 0}});
      }
      b.pixels = stored_rows(bits);
      files.push_back({std::to_string(bits) + (top_down ? "-bit top-down" : "-bit bottom-up"), b});
    }
  }
  return files;
}

// The bytes a reader needs: the pixel offset plus every stored row, except
// that the last row needs no padding.
std::size_t bytes_needed(const test_bitmap& b) {
  const std::size_t offset = 54 + b.palette.size();
  const std::size_t row_bytes = b.bit_count == 1 ? 1 : 5u * b.bit_count / 8;
  const std::size_t stride = (row_bytes + 3) / 4 * 4;
  return offset + 2 * stride + row_bytes;
}

TEST_F(HostileInput, EveryTruncationIsRefusedUntilTheRowsAreWhole) {
  for (const valid_file& v : valid_files()) {
    for (const bool size_field : {false, true}) {
      test_bitmap b = v.bitmap;
      if (size_field) {
        b.size_image = static_cast<std::uint32_t>(b.pixels.size());
      }
      const bytes whole = build_bitmap(b);
      // With the image size field set, the file must hold all of it.
      const std::size_t needed = size_field ? whole.size() : bytes_needed(b);
      for (std::size_t length = 0; length <= whole.size(); ++length) {
        const bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        const int expected = length <= 54 ? 13 : length < needed ? 4 : 0;
        EXPECT_EQ(run_all(cut, v.name + (size_field ? " with size field" : "") + ", " +
                                   std::to_string(length) + " bytes"),
                  expected)
            << v.name << " cut to " << length;
      }
    }
  }
}

struct header_field {
  const char* name;
  std::size_t offset;
  int width;       // bytes
  bool looked_at;  // whether any rule or the unpacker reads it
};

const header_field header_fields[] = {
    {"bfType", 0, 2, true},
    {"bfSize", 2, 4, false},
    {"bfReserved1", 6, 2, true},
    {"bfReserved2", 8, 2, true},
    {"bfOffBits", 10, 4, true},
    {"biSize", 14, 4, true},  // 8-bit palettes follow it
    {"biWidth", 18, 4, true},
    {"biHeight", 22, 4, true},
    {"biPlanes", 26, 2, true},
    {"biBitCount", 28, 2, true},
    {"biCompression", 30, 4, true},
    {"biSizeImage", 34, 4, true},
    {"biXPelsPerMeter", 38, 4, false},
    {"biYPelsPerMeter", 42, 4, false},
    {"biClrUsed", 46, 4, false},
    {"biClrImportant", 50, 4, false},
};

void put_field(bytes& file, const header_field& f, std::uint32_t value) {
  for (int i = 0; i < f.width; ++i) {
    file[f.offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

TEST_F(HostileInput, ExtremeHeaderFieldsGiveADocumentedStatus) {
  for (const valid_file& v : valid_files()) {
    const bytes original = build_bitmap(v.bitmap);
    const auto size = static_cast<std::uint32_t>(original.size());
    const run_outcome reference = run(converters[0], original);
    ASSERT_EQ(reference.status, 0) << v.name;
    for (const header_field& f : header_fields) {
      for (const std::uint32_t value : {0u, 1u, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFu,
                                        0x8000u, size - 1, size, size + 1}) {
        bytes file = original;
        put_field(file, f, value);
        const std::string what = v.name + ", " + f.name + " = " + std::to_string(value);
        const int status = run_all(file, what);
        if (!f.looked_at) {
          // Fields no rule reads change nothing at all.
          EXPECT_EQ(status, 0) << what;
          EXPECT_EQ(run(converters[0], file).result, reference.result) << what;
        }
      }
    }
  }
}

test_bitmap eight_bit_with_offset(std::int64_t off_bits) {
  test_bitmap b = valid_files()[2].bitmap;  // 8-bit bottom-up
  b.off_bits = off_bits;
  return b;
}

// The 8-bit file with a larger information header in front of its palette.
test_bitmap eight_bit_after_header(std::uint32_t info_size, std::int64_t off_bits) {
  test_bitmap b = valid_files()[2].bitmap;
  b.info_size = info_size;
  b.palette.insert(b.palette.begin(), info_size - 40, 0x5A);
  b.off_bits = off_bits;
  return b;
}

TEST_F(HostileInput, PalettesAndPixelOffsetsOutsideTheFile) {
  const test_bitmap one_bit = valid_files()[0].bitmap;
  test_bitmap one_bit_cut_palette = one_bit;
  one_bit_cut_palette.off_bits = 62;
  one_bit_cut_palette.palette.resize(5);  // the file ends inside the second entry
  one_bit_cut_palette.pixels.clear();
  test_bitmap palette_past_end = eight_bit_with_offset(54 + 4 * 1000);
  struct offset_case {
    std::string what;
    test_bitmap bitmap;
    int status;
  } cases[] = {
      {"8-bit, pixels at byte 50 (inside the header)", eight_bit_with_offset(50), 0},
      {"8-bit, pixels at byte 2", eight_bit_with_offset(2), 0},
      {"8-bit, pixels at byte 0 (palette not whole entries)", eight_bit_with_offset(0), 7},
      {"8-bit, palette of 1000 entries past the end", palette_past_end, 4},
      {"8-bit, pixels at 4294967294", eight_bit_with_offset(4294967294), 4},
      {"8-bit, palette after a 124-byte header", eight_bit_after_header(124, -1), 0},
      {"8-bit, 108-byte header, pixels past the end", eight_bit_after_header(108, 122 + 4000), 4},
      {"8-bit, 124-byte header, pixels at 4294967294", eight_bit_after_header(124, 4294967294), 4},
      {"1-bit, second palette entry cut off", one_bit_cut_palette, 4},
      {"24-bit, pixels at byte 50",
       [] {
         test_bitmap b = valid_files()[4].bitmap;
         b.off_bits = 50;
         return b;
       }(),
       6},
      {"32-bit, pixels at byte 0",
       [] {
         test_bitmap b = valid_files()[6].bitmap;
         b.off_bits = 0;
         return b;
       }(),
       5},
      {"1-bit, pixels at byte 54 (no palette)",
       [] {
         test_bitmap b = valid_files()[0].bitmap;
         b.off_bits = 54;
         return b;
       }(),
       8},
  };
  for (const offset_case& c : cases) {
    EXPECT_EQ(run_all(build_bitmap(c.bitmap), c.what), c.status) << c.what;
  }
}

// A file changed while a run reads it, between its first band and the
// next: one cut short ends with a read error and leaves no file at all
// (the four temporary files of morvanex removed), one grown converts as it
// was, and one whose run is interrupted there leaves nothing behind.
struct band_change {
  const char* what;
  void (*change)(const char* input_path);
  int status;  // -1: the run is ended by SIGTERM
};

void cut_to_a_few_rows(const char* path) { std::filesystem::resize_file(path, 54 + 3000 * 10); }

void grow(const char* path) {
  std::FILE* file = std::fopen(path, "ab");
  const bytes more(1 << 16, 0xAB);
  std::fwrite(more.data(), 1, more.size(), file);
  std::fclose(file);
}

#ifndef _WIN32
void interrupt(const char*) { std::raise(SIGTERM); }
#endif

TEST_F(HostileInput, InputChangedBetweenBands) {
  // 1000 pixels wide: bands of 65 rows, so 200 rows make four of them.
  test_bitmap b;
  b.width = 1000;
  b.height = 200;
  for (int i = 0; i < 1000 * 200 * 3; ++i) {
    b.pixels.push_back(static_cast<std::uint8_t>(i * 7 + i / 3000));
  }
  const bytes file = build_bitmap(b);
  const band_change changes[] = {
      {"cut short", cut_to_a_few_rows, 15},
      {"grown", grow, 0},
#ifndef _WIN32
      {"interrupted", interrupt, -1},
#endif
  };
  for (const converter& c : converters) {
    const run_outcome clean = run(c, file);
    ASSERT_EQ(clean.status, 0);
    for (const band_change& change : changes) {
      SCOPED_TRACE(std::string(c.name) + ", input " + change.what);
      ASSERT_TRUE(write_file("in.bmp", file));
      const char* const argv[] = {c.name, "in.bmp", "out.bmp", nullptr};
      change_after_first_band = change.change;
#ifndef _WIN32
      // Each run is made in a child, which the signal may end.
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        _exit(run_converter(3, argv, "unused.bmp", c.convert, c.plane_table));
      }
      int wait_status = 0;
      ASSERT_EQ(waitpid(child, &wait_status, 0), child);
      const int status = WIFEXITED(wait_status)             ? WEXITSTATUS(wait_status)
                         : WTERMSIG(wait_status) == SIGTERM ? -1
                                                            : -2;
#else
      const int status = run_converter(3, argv, "unused.bmp", c.convert, c.plane_table);
#endif
      change_after_first_band = nullptr;
      EXPECT_EQ(status, change.status);
      std::vector<std::string> left;
      for (const auto& entry : std::filesystem::directory_iterator(".")) {
        left.push_back(entry.path().filename().string());
      }
      std::sort(left.begin(), left.end());
      if (change.status == 0) {
        EXPECT_EQ(read_file("out.bmp"), clean.result);
      } else {
        EXPECT_EQ(left, std::vector<std::string>{"in.bmp"}) << "files left behind";
      }
      for (const std::string& name : left) {
        std::remove(name.c_str());
      }
    }
  }
}

#ifndef _WIN32
// Once every output has failed nothing is left to convert for: a run whose
// only output is the always-full device stops after its first bands (one a
// thread under way) instead of reading all 32.
TEST_F(HostileInput, ReadingStopsWhenEveryOutputHasFailed) {
  test_bitmap b;
  b.width = 1024;  // bands of 64 rows
  b.height = 2048;
  b.pixels.assign(1024 * 2048 * 3, 0x5a);
  ASSERT_TRUE(write_file("in.bmp", build_bitmap(b)));
  const char* const argv[] = {"tesvar", "in.bmp", "/dev/full", nullptr};
  bands_read = 0;
  EXPECT_EQ(run_converter(3, argv, "unused.bmp", {convert_to_yuv, convert_stored_to_yuv}, nullptr),
            10);
  EXPECT_LE(bands_read, 5u) << "bands read for an output that had failed";
  std::remove("in.bmp");
}
#endif

}  // namespace
