// Writing the outputs, run as a user would: pictures larger than the memory
// a run may take, and outputs that cannot be created or written.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/program_support.h"

namespace {

// ---------------------------------------------------------------------------
// Memory

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

// Names a directory takes before the run.
struct directories_at {
  std::vector<std::string> names;
};
const directories_at no_directories{};

// Files correct afterwards, besides in.bmp.
struct whole_afterwards {
  std::vector<std::string> names;
};
const whole_afterwards nothing_whole{};

// A run whose outputs fail in part; it ends with status 10 and err.
struct write_failure_case {
  std::string what;
  const program* prog;
  std::string output;
  directories_at blocked;
  std::string err;
  whole_afterwards written;
};

std::vector<write_failure_case> write_failure_cases() {
  std::vector<write_failure_case> cases = {
      {"output in a missing directory", &tesvar, "nodir/out.bmp", no_directories,
       "File 'nodir/out.bmp' cannot create.\n", nothing_whole},
      {"output in a missing directory", &morvanex, "nodir/out.bmp", no_directories,
       "File 'nodir/out.bmp' cannot create.\n", whole_afterwards{morvanex.planes}},
      {"output on a full device", &morvane, "/dev/full", no_directories,
       "File '/dev/full' write error.\n", nothing_whole},
      {"output on a full device", &tesvarex, "/dev/full", no_directories,
       "File '/dev/full' write error.\n", whole_afterwards{tesvarex.planes}},
      {"second plane blocked", &tesvarex, "out.bmp", directories_at{{"bmp_yuv_u.bmp"}},
       "File 'bmp_yuv_u.bmp' cannot create.\n",
       whole_afterwards{{"bmp_yuv_v.bmp", "bmp_yuv_y.bmp", "out.bmp"}}},
      {"first plane blocked", &morvanex, "out.bmp", directories_at{{"bmp_hsv_h.bmp"}},
       "File 'bmp_hsv_h.bmp' cannot create.\n",
       whole_afterwards{{"bmp_hsv_s.bmp", "bmp_hsv_v.bmp", "out.bmp"}}},
      {"every plane blocked: messages in writing order", &tesvarex, "out.bmp",
       directories_at{tesvarex.planes},
       "File 'bmp_yuv_v.bmp' cannot create.\nFile 'bmp_yuv_u.bmp' cannot create.\n"
       "File 'bmp_yuv_y.bmp' cannot create.\n",
       whole_afterwards{{"out.bmp"}}},
      {"every plane blocked: messages in writing order", &morvanex, "out.bmp",
       directories_at{morvanex.planes},
       "File 'bmp_hsv_h.bmp' cannot create.\nFile 'bmp_hsv_s.bmp' cannot create.\n"
       "File 'bmp_hsv_v.bmp' cannot create.\n",
       whole_afterwards{{"out.bmp"}}},
      {"a plane and the result", &morvanex, "/dev/full", directories_at{{"bmp_hsv_v.bmp"}},
       "File 'bmp_hsv_v.bmp' cannot create.\nFile '/dev/full' write error.\n",
       whole_afterwards{{"bmp_hsv_h.bmp", "bmp_hsv_s.bmp"}}},
  };
  // Names Windows allows but refuses as outputs: one with an unpaired
  // surrogate (never taken for the name with U+FFFD in its place), and a
  // stream of a file.
  if (on_windows) {
    cases.push_back({"an unpaired surrogate in the name", &tesvar, "a\xED\xA0\x80.bmp",
                     no_directories, "File 'a\xEF\xBF\xBD.bmp' cannot create.\n", nothing_whole});
    cases.push_back({"a stream of the input", &tesvar, "in.bmp::$DATA", no_directories,
                     "File 'in.bmp::$DATA' cannot create.\n", nothing_whole});
  }
  return cases;
}

bool written_to_full_device(const write_failure_case& c) { return c.output == "/dev/full"; }

void expect_write_failure(const write_failure_case& c) {
  SCOPED_TRACE(std::string(c.prog->name) + ": " + c.what);
  const scratch_dir dir;
  const picture source = known_colours(*c.prog);
  put_files(dir, {{"in.bmp", build_bitmap(encode_24(source, rows_bottom_up))}});
  for (const std::string& name : c.blocked.names) {
    ASSERT_TRUE(std::filesystem::create_directory(dir.file(name)));
  }
  expect_status(run(*c.prog, dir, {"in.bmp", c.output}), 10, c.err);

  std::vector<std::string> expected_entries = {"in.bmp"};
  for (const auto* names : {&c.blocked.names, &c.written.names}) {
    expected_entries.insert(expected_entries.end(), names->begin(), names->end());
  }
  EXPECT_EQ(dir.entries(), sorted(expected_entries));
  const picture result = converted(*c.prog, source);
  for (const std::string& name : c.written.names) {
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

}  // namespace
