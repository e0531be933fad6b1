// Faults a user cannot easily cause on purpose: every allocation of a run
// failing in turn, and every output file failing at creation or part way
// through writing. Each must end with the documented message and status,
// give back every block taken, and leave every other file as a clean run
// writes it. The programs under test are built with an interposed
// allocator (allocation_faults.cpp) and are otherwise the programs.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/bitmap_builder.h"
#include "tests/support/run_program.h"

namespace {

using bytes = std::vector<std::uint8_t>;
using file_map = std::map<std::string, bytes>;

struct program {
  const char* name;
  const char* path;
  std::vector<std::string> planes;  // in writing order
};

const program tesvar{"tesvar", TESVAR_PATH, {}};
const program morvane{"morvane", MORVANE_PATH, {}};
const program tesvarex{
    "tesvarex", TESVAREX_PATH, {"bmp_yuv_v.bmp", "bmp_yuv_u.bmp", "bmp_yuv_y.bmp"}};
const program morvanex{
    "morvanex", MORVANEX_PATH, {"bmp_hsv_h.bmp", "bmp_hsv_s.bmp", "bmp_hsv_v.bmp"}};
const program* const all_programs[] = {&tesvar, &morvane, &tesvarex, &morvanex};

const bytes input = build_bitmap(sample_bitmap_24(5, 3));

// An 8-bit picture goes through working pixels, and so through the
// conversion's row tables; a 24-bit one is converted from its stored rows.
const bytes input_8 = [] {
  test_bitmap b;
  b.width = 5;
  b.height = 3;
  b.bit_count = 8;
  b.palette = palette_of({{10, 20, 30, 0}, {200, 100, 50, 0}, {0, 255, 128, 0}});
  b.pixels = pad_rows({{0, 1, 2, 1, 0}, {2, 2, 1, 0, 1}, {1, 0, 0, 2, 2}});
  return build_bitmap(b);
}();

// The files a run writes, in writing order: the planes, then the result.
std::vector<std::string> outputs_of(const program& p) {
  std::vector<std::string> names = p.planes;
  names.push_back("out.bmp");
  return names;
}

bool is_regular_file(const std::string& path) {
  return std::filesystem::is_regular_file(std::filesystem::symlink_status(path));
}

// Every entry in dir but the input, with its content (none for a directory
// or a link).
file_map written_files(const scratch_dir& dir) {
  file_map files;
  for (const std::string& name : dir.entries()) {
    if (name != "in.bmp") {
      const std::string path = dir.file(name);
      files[name] = is_regular_file(path) ? read_file(path) : bytes{};
    }
  }
  return files;
}

program_result run_on_input(const program& p, const scratch_dir& dir, const run_options& options,
                            const std::string& output = "out.bmp", const bytes& content = input) {
  EXPECT_TRUE(write_file(dir.file("in.bmp"), content));
  return run_program(p.path, {p.name, "in.bmp", output}, dir.path(), options);
}

struct allocation_report {
  long calls = -1;
  long live = -1;
};

allocation_report read_report(const std::string& path) {
  const bytes text = read_file(path);
  allocation_report report;
  if (std::sscanf(std::string(text.begin(), text.end()).c_str(), "calls=%ld live=%ld",
                  &report.calls, &report.live) != 2) {
    ADD_FAILURE() << "no allocation report at " << path;
  }
  return report;
}

// The files of a run with no fault.
file_map clean_outputs(const program& p, const bytes& content = input) {
  const scratch_dir dir;
  const program_result r = run_on_input(p, dir, {}, "out.bmp", content);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  file_map files = written_files(dir);
  EXPECT_EQ(files.size(), outputs_of(p).size());
  return files;
}

// ---------------------------------------------------------------------------
// Allocations

// What a run does when an allocation of one of its steps fails.
struct allocation_outcome {
  std::string step;
  std::string err;
  int status;
  bool result_written;
};

std::vector<allocation_outcome> outcomes_in_step_order(const program& p, bool row_tables) {
  // A file is read a band at a time, so loading it takes no memory of its
  // own; each band buffer is taken once. On Windows the arguments are
  // converted into one block first.
  std::vector<allocation_outcome> outcomes = {
#ifdef _WIN32
      {"arguments", "Couldn't allocate memory.\n", 14, false},
#endif
      {"destination band", "Couldn't allocate memory. destination\n", 9, false},
      {"source band", "Couldn't allocate memory. source\n", 9, false},
  };
  if (row_tables) {
    outcomes.push_back({"conversion row tables", "Image processing is not completed.\n", 1, false});
  }
  if (!p.planes.empty()) {
    outcomes.push_back({"plane band", "Couldn't allocate memory. planes\n", 9, true});
  }
  for (allocation_outcome& outcome : outcomes) {
    outcome.err = native_line_ends(outcome.err);
  }
  return outcomes;
}

std::size_t outcome_index(const std::vector<allocation_outcome>& outcomes,
                          const program_result& r) {
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    if (outcomes[i].err == r.err && outcomes[i].status == r.exit_status) {
      return i;
    }
  }
  return outcomes.size();
}

TEST(AllocationFaults, EachAllocationFailingInTurnEndsItsStepCleanly) {
  for (const bool eight_bits : {false, true}) {
    const bytes& content = eight_bits ? input_8 : input;
    for (const program* p : all_programs) {
      SCOPED_TRACE(std::string(p->name) + (eight_bits ? ", 8-bit input" : ", 24-bit input"));
      const file_map clean = clean_outputs(*p, content);
      const std::vector<allocation_outcome> outcomes = outcomes_in_step_order(*p, eight_bits);
      std::vector<bool> seen(outcomes.size(), false);
      std::size_t last_step = 0;
      for (long n = 1;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        const scratch_dir dir;
        run_options options;
        options.environment = {"CONVERTERS_FAIL_ALLOCATION=" + std::to_string(n),
                               "CONVERTERS_ALLOCATION_REPORT=" + dir.file("report")};
        const program_result r = run_on_input(*p, dir, options, "out.bmp", content);
        ASSERT_TRUE(r.exited) << "signal " << r.signal;
        const allocation_report report = read_report(dir.file("report"));
        std::remove(dir.file("report").c_str());
        EXPECT_EQ(report.live, 0) << "blocks not given back";
        if (report.calls < n) {  // no allocation left to fail: a clean run
          EXPECT_EQ(r.exit_status, 0);
          EXPECT_EQ(written_files(dir), clean);
          break;
        }
        const std::size_t step = outcome_index(outcomes, r);
        ASSERT_LT(step, outcomes.size()) << "status " << r.exit_status << ", " << r.err;
        EXPECT_GE(step, last_step) << "steps out of order";
        last_step = step;
        seen[step] = true;
        EXPECT_EQ(r.out, "");
        const file_map expected =
            outcomes[step].result_written ? file_map{{"out.bmp", clean.at("out.bmp")}} : file_map{};
        EXPECT_EQ(written_files(dir), expected) << outcomes[step].step;
      }
      for (std::size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_TRUE(seen[i]) << "no allocation failed in the step: " << outcomes[i].step;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Writes

enum class blocker { directory, full_device };

struct write_fault_case {
  const program* prog;
  std::string file;  // the one output that fails
  blocker kind;
};

std::vector<write_fault_case> single_file_faults() {
  std::vector<write_fault_case> cases;
  for (const program* p : all_programs) {
    for (const std::string& name : outputs_of(*p)) {
      cases.push_back({p, name, blocker::directory});
      cases.push_back({p, name, blocker::full_device});
    }
  }
  return cases;
}

void expect_one_file_failing(const write_fault_case& c) {
  const bool created = c.kind == blocker::full_device;
  SCOPED_TRACE(std::string(c.prog->name) + ": " + c.file +
               (created ? " on a full device" : " blocked by a directory"));
  const file_map clean = clean_outputs(*c.prog);
  const scratch_dir dir;
  if (created) {
    std::filesystem::create_symlink("/dev/full", dir.file(c.file));
  } else {
    ASSERT_TRUE(std::filesystem::create_directory(dir.file(c.file)));
  }
  const program_result r = run_on_input(*c.prog, dir, {});
  EXPECT_TRUE(r.exited);
  file_map expected = clean;
  if (created && c.file != "out.bmp") {
    // A name the program chose itself is replaced, whatever stands there.
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_EQ(r.exit_status, 10);
    EXPECT_EQ(r.err, native_line_ends("File '" + c.file +
                                      (created ? "' write error.\n" : "' cannot create.\n")));
    expected[c.file] = {};  // a directory or the device: nothing to read back
  }
  EXPECT_EQ(written_files(dir), expected);
}

TEST(WriteFaults, OneFileFailingLeavesTheOthersWritten) {
  for (const write_fault_case& c : single_file_faults()) {
    if (c.kind == blocker::directory) {
      expect_one_file_failing(c);
    }
  }
}

TEST(WriteFaults, OneFileOnAFullDeviceLeavesTheOthersWritten) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no device that is always full";
#endif
  for (const write_fault_case& c : single_file_faults()) {
    if (c.kind == blocker::full_device) {
      expect_one_file_failing(c);
    }
  }
}

// The messages of a run in which every output fails the same way.
std::string every_output_failing(const program& p, const std::string& how) {
  std::string err;
  for (const std::string& name : outputs_of(p)) {
    err += "File '" + name + "' " + how + "\n";
  }
  return native_line_ends(err);
}

void set_permissions(const std::string& path, unsigned bits) {
  std::filesystem::permissions(path, static_cast<std::filesystem::perms>(bits));
}

run_options without_root() {
  run_options options;
  options.without_root = true;
  return options;
}

TEST(WriteFaults, ReadOnlyDirectoryCreatesNothing) {
  const run_options options = without_root();
  if (const std::string why = unsupported_options(options); !why.empty()) {
    GTEST_SKIP() << why;
  }
  for (const program* p : all_programs) {
    SCOPED_TRACE(p->name);
    const scratch_dir dir;
    ASSERT_TRUE(write_file(dir.file("in.bmp"), input));
    set_permissions(dir.path(), 0555);
    const program_result r =
        run_program(p->path, {p->name, "in.bmp", "out.bmp"}, dir.path(), options);
    set_permissions(dir.path(), 0755);
    EXPECT_EQ(r.exit_status, 10);
    EXPECT_EQ(r.err, every_output_failing(*p, "cannot create."));
    EXPECT_EQ(written_files(dir), file_map{});
  }
}

// With no new file possible, an existing file the user may write is the
// one way left: it is written in place. When that file is the input
// itself, the input is read whole before its first byte is overwritten.
TEST(WriteFaults, ReadOnlyDirectoryWritesAnExistingFileInPlace) {
  const run_options options = without_root();
  if (const std::string why = unsupported_options(options); !why.empty()) {
    GTEST_SKIP() << why;
  }
  // 1000 pixels wide: bands of 65 rows, three of them.
  const bytes three_bands = build_bitmap(sample_bitmap_24(1000, 150));
  bytes clean;
  {
    const scratch_dir dir;
    ASSERT_TRUE(write_file(dir.file("in.bmp"), three_bands));
    EXPECT_EQ(run_program(tesvar.path, {"tesvar", "in.bmp", "out.bmp"}, dir.path()).exit_status, 0);
    clean = read_file(dir.file("out.bmp"));
  }
  for (const std::string output : {"out.bmp", "in.bmp"}) {
    SCOPED_TRACE(output);
    const scratch_dir dir;
    ASSERT_TRUE(write_file(dir.file("in.bmp"), three_bands));
    if (output != "in.bmp") {
      ASSERT_TRUE(write_file(dir.file(output), bytes(5000, 1)));
    }
    set_permissions(dir.file(output), 0666);
    set_permissions(dir.path(), 0555);
    const program_result r =
        run_program(tesvar.path, {"tesvar", "in.bmp", output}, dir.path(), options);
    set_permissions(dir.path(), 0755);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir.file(output)), clean);
  }
}

// Every write stops part way; no partial file is left, under the output's
// name or beside it.
TEST(WriteFaults, FileSizeLimitStopsEveryWritePartWay) {
  constexpr std::uint64_t limit = 54 + 10;  // the header and part of the pixels
  for (const program* p : all_programs) {
    SCOPED_TRACE(p->name);
    const scratch_dir dir;
    run_options options;
    options.file_size_limit = limit;
    if (const std::string why = unsupported_options(options); !why.empty()) {
      GTEST_SKIP() << why;
    }
    const program_result r = run_on_input(*p, dir, options);
    EXPECT_TRUE(r.exited) << "signal " << r.signal;
    EXPECT_EQ(r.exit_status, 10);
    EXPECT_EQ(r.err, every_output_failing(*p, "write error."));
    EXPECT_EQ(written_files(dir), file_map{});
  }
}

// A write that fails part way through a run, in the second band of the
// second plane: tesvarex writes the four headers, then each band to its
// three planes and its result in turn, so that is the tenth write. That
// plane is reported and keeps its old name free; the others finish.
TEST(WriteFaults, AWriteFailingInTheSecondBandSparesTheOtherFiles) {
  // 1000 pixels wide: bands of 65 rows, three of them.
  const bytes three_bands = build_bitmap(sample_bitmap_24(1000, 150));
  file_map clean = clean_outputs(tesvarex, three_bands);
  const scratch_dir dir;
  ASSERT_TRUE(write_file(dir.file("in.bmp"), three_bands));
  run_options options;
  options.environment = {"CONVERTERS_FAIL_WRITE=10"};
  const program_result r =
      run_program(tesvarex.path, {"tesvarex", "in.bmp", "out.bmp"}, dir.path(), options);
  EXPECT_EQ(r.exit_status, 10);
  EXPECT_EQ(r.err, native_line_ends("File 'bmp_yuv_u.bmp' write error.\n"));
  clean.erase("bmp_yuv_u.bmp");
  EXPECT_EQ(written_files(dir), clean);
}

// The same with the bands shared among threads: whichever output the
// failing write belonged to is reported once and left out; the threads
// still under way finish the others, and no temporary file is left.
TEST(WriteFaults, AWriteFailingInOneThreadsBandSparesTheOtherFiles) {
  // 1000 pixels wide: bands of 65 rows, twenty of them.
  const bytes twenty_bands = build_bitmap(sample_bitmap_24(1000, 1300));
  file_map clean = clean_outputs(tesvarex, twenty_bands);
  for (const int failing : {9, 40, 77}) {
    SCOPED_TRACE("write " + std::to_string(failing));
    const scratch_dir dir;
    ASSERT_TRUE(write_file(dir.file("in.bmp"), twenty_bands));
    run_options options;
    options.environment = {"CONVERTERS_FAIL_WRITE=" + std::to_string(failing),
                           "CONVERTERS_NUM_THREADS=2"};
    const program_result r =
        run_program(tesvarex.path, {"tesvarex", "in.bmp", "out.bmp"}, dir.path(), options);
    EXPECT_EQ(r.exit_status, 10);
    file_map expected = clean;
    std::string failed;
    for (const auto& [name, content] : clean) {
      if (r.err == native_line_ends("File '" + name + "' write error.\n")) {
        failed = name;
      }
    }
    EXPECT_NE(failed, "") << "not one output's message: " << r.err;
    expected.erase(failed);
    EXPECT_EQ(written_files(dir), expected);
  }
}

TEST(WriteFaults, ResultBelowARegularFileCannotBeCreated) {
  for (const program* p : all_programs) {
    SCOPED_TRACE(p->name);
    file_map expected = clean_outputs(*p);
    expected.erase("out.bmp");
    const scratch_dir dir;
    const program_result r = run_on_input(*p, dir, {}, "in.bmp/out.bmp");
    EXPECT_EQ(r.exit_status, 10);
    EXPECT_EQ(r.err, native_line_ends("File 'in.bmp/out.bmp' cannot create.\n"));
    EXPECT_EQ(written_files(dir), expected);
    EXPECT_EQ(read_file(dir.file("in.bmp")), input);
  }
}

}  // namespace
