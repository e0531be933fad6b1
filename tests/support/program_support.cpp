#include "tests/support/program_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

bool operator==(bgr x, bgr y) { return x.b == y.b && x.g == y.g && x.r == y.r; }

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
const program* const all_programs[4] = {&tesvar, &morvane, &tesvarex, &morvanex};

#ifdef _WIN32
const std::string null_device = "NUL";
#else
const std::string null_device = "/dev/null";
#endif

// ---------------------------------------------------------------------------
// Pictures and how files store them

picture picture_of(std::int32_t width, const std::vector<bgr>& pixels) { return {width, pixels}; }

// The sources of a conversion's colour table as one picture, 3 pixels wide.
picture known_colours(const program& p) {
  picture pic{3, {}};
  for (const colour_pair& c : *p.colours) {
    pic.pixels.push_back(c.in);
  }
  return pic;
}

namespace {

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

std::uint8_t byte_of(bgr c, int index) { return index == 0 ? c.b : index == 1 ? c.g : c.r; }

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

}  // namespace

picture converted(const program& p, const picture& in) {
  picture out{in.width, {}};
  for (bgr c : in.pixels) {
    out.pixels.push_back(convert_colour(p, c));
  }
  return out;
}

// The grey picture a plane file shows for one result byte.
picture plane_of(const picture& result, int byte_index) {
  picture out{result.width, {}};
  for (bgr c : result.pixels) {
    const std::uint8_t v = byte_of(c, byte_index);
    out.pixels.push_back({v, v, v});
  }
  return out;
}

picture large_picture(std::int32_t width, std::int32_t rows, int seed) {
  picture pic{width, {}};
  for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(width * rows); ++i) {
    const std::uint32_t v = i * 2654435761u + static_cast<std::uint32_t>(seed);
    pic.pixels.push_back({static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
                          static_cast<std::uint8_t>(v >> 24)});
  }
  return pic;
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

bytes result_of(const program& p) {
  return expected_bitmap32(converted(p, known_colours(tesvarex)));
}

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

// ---------------------------------------------------------------------------
// Runs and the files around them

const bytes stale_plane = {'o', 'l', 'd'};

std::vector<file_entry> with_stale_planes(std::vector<file_entry> files) {
  for (const program* p : {&tesvarex, &morvanex}) {
    for (const std::string& name : p->planes) {
      files.push_back({name, stale_plane});
    }
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

std::vector<std::string> plus_planes(const program& p, std::vector<std::string> names) {
  names.insert(names.end(), p.planes.begin(), p.planes.end());
  return sorted(names);
}

std::vector<std::string> files_in(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  return sorted(names);
}

void expect_only(const scratch_dir& dir, std::vector<std::string> names) {
  EXPECT_EQ(dir.entries(), sorted(std::move(names)));
}

std::vector<std::string> with_program_name(const std::string& argv0,
                                           const std::vector<std::string>& args) {
  std::vector<std::string> argv{argv0};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

program_result run(const program& p, const scratch_dir& dir, const std::vector<std::string>& args,
                   const run_options& options) {
  return run_program(p.path, with_program_name(p.name, args), dir.path(), options);
}

expected_end exits_with(int status, std::string err) { return {0, status, std::move(err)}; }

expected_end killed_by(int signal) { return {signal, 0, ""}; }

void expect_status(const program_result& r, int status, const std::string& err) {
  EXPECT_TRUE(r.exited) << "ended by signal " << r.signal;
  EXPECT_EQ(r.exit_status, status);
  EXPECT_EQ(r.err, native_line_ends(err));
  EXPECT_EQ(r.out, "");
}

void expect_end(const program_result& r, const expected_end& end) {
  if (end.signal != 0) {
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(r.signal, end.signal);
  } else {
    expect_status(r, end.status, end.err);
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

void expect_refused(const refusal_case& c) {
  SCOPED_TRACE(std::string(c.prog->name) + ": " + c.what);
  const scratch_dir dir;
  put_files(dir, c.files);
  const std::string argv0 = c.argv0.empty() ? c.prog->name : c.argv0;
  ASSERT_EQ(c.end.signal, 0) << "a refusal is an exit";
  expect_end(run_program(c.prog->path, with_program_name(argv0, c.args), dir.path()), c.end);
  EXPECT_EQ(dir.entries(), names_of(c.files));
  for (const file_entry& f : c.files) {
    EXPECT_EQ(read_file(dir.file(f.name)), f.content) << f.name << " changed";
  }
}

// ---------------------------------------------------------------------------
// What stands at an output's name

const bytes safety_input = build_bitmap(encode_24(known_colours(tesvarex), rows_bottom_up));
const bytes victim = {'v', 'i', 'c', 't', 'i', 'm'};

const planted nothing_planted{};
const handed no_descriptors{};
const run_options plain_run{};

run_options as_user(run_as who) {
  run_options options;
  options.without_root = who == run_as::ordinary_user;
  return options;
}

#ifndef _WIN32
namespace {

const bytes stale_output(40, 's');

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

handed handed_file(int number, const std::string& name, bool for_output) {
  return {[number, name, for_output](const scratch_dir& d, run_options* options) {
    const int fd = for_output ? open(d.file(name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)
                              : open(d.file(name).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << name;
    if (for_output) {
      ASSERT_EQ(write(fd, stale_output.data(), stale_output.size()),
                static_cast<ssize_t>(stale_output.size()));
    }
    options->descriptors.push_back({number, fd});
  }};
}

}  // namespace

run_options closed_descriptor(int number) {
  run_options options;
  options.descriptors.push_back({number, -1});
  return options;
}

program_result run_on_pipe(const program& p, const scratch_dir& dir, const bytes& input,
                           const std::vector<std::string>& args, run_options options) {
  int ends[2];
  EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
  std::signal(SIGPIPE, SIG_IGN);
  std::thread feeder([&input, writing = ends[1]] {
    for (std::size_t done = 0; done < input.size();) {
      const ssize_t n = write(writing, input.data() + done, input.size() - done);
      if (n <= 0) {
        break;  // the program closed its end
      }
      done += static_cast<std::size_t>(n);
    }
    close(writing);
  });
  options.descriptors.push_back({0, ends[0]});
  const program_result r = run(p, dir, args, options);
  close(ends[0]);
  feeder.join();
  return r;
}

handed output_to_file(int number, const std::string& name) {
  return handed_file(number, name, true);
}

handed input_from_file(int number, const std::string& name) {
  return handed_file(number, name, false);
}

const handed input_from_socket{[](const scratch_dir&, run_options* options) {
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  ASSERT_EQ(write(ends[0], safety_input.data(), safety_input.size()),
            static_cast<ssize_t>(safety_input.size()));
  close(ends[0]);
  options->descriptors.push_back({0, ends[1]});
}};
#endif

void expect_safe(const safety_case& c) {
  SCOPED_TRACE(std::string(c.prog->name) + ": " + c.what);
  const scratch_dir dir;
  put_files(dir, {{"in.bmp", safety_input}});
  if (c.before.put) {
    c.before.put(dir);
  }
  run_options options = c.options;
  if (c.descriptors.connect) {
    c.descriptors.connect(dir, &options);
  }
  const program_result r = run(*c.prog, dir, c.args, options);
#ifndef _WIN32
  for (const auto& handed_descriptor : options.descriptors) {
    close(handed_descriptor.second);
  }
  expect_stream_names_intact();
#endif
  expect_end(r, c.end);
  if (std::filesystem::exists(dir.file("in.bmp"))) {
    EXPECT_EQ(read_file(dir.file("in.bmp")), safety_input);
  }
  c.after.check(dir);
}
