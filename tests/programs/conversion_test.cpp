// The conversions, run as a user would: known colours give known bytes
// from every depth and row order the header rules accept.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/program_support.h"

namespace {

TEST(ProgramConversion, KnownColoursGiveKnownBytes) {
  for (const program* p : all_programs) {
    SCOPED_TRACE(p->name);
    const scratch_dir dir;
    const picture source = known_colours(*p);
    put_files(dir, {{"in.bmp", build_bitmap(encode_24(source, rows_bottom_up))}});
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
    put_files(dir, {{"in.bmp", build_bitmap(encode_24(grey, rows_bottom_up))}});
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
    {"24-bit bottom-up", encode_24, rows_bottom_up}, {"24-bit top-down", encode_24, rows_top_down},
    {"32-bit bottom-up", encode_32, rows_bottom_up}, {"32-bit top-down", encode_32, rows_top_down},
    {"8-bit bottom-up", encode_8, rows_bottom_up},   {"8-bit top-down", encode_8, rows_top_down},
    {"1-bit bottom-up", encode_1, rows_bottom_up},   {"1-bit top-down", encode_1, rows_top_down},
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
  // and enough pieces (12) for the run to share them among three threads.
  picture wide{wide_width, {}};
  for (std::int32_t y = 0; y < 6; ++y) {
    for (std::int32_t x = 0; x < wide_width; ++x) {
      wide.pixels.push_back((x * 7 + y * 3) % 5 < 2 ? red : cyan);
    }
  }
  pictures.push_back(wide);
  return pictures;
}

#ifndef _WIN32
// Outputs that take their bytes only in order, written by several threads:
// a FIFO read as the bytes come, and a file the caller opened with ">>".
void expect_in_order_outputs(const scratch_dir& dir, const run_options& options,
                             const bytes& expected) {
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  bytes through_fifo;
  std::thread reader([&] {
    const int fifo = open(dir.file("fifo").c_str(), O_RDONLY | O_CLOEXEC);
    std::uint8_t part[65536];
    for (ssize_t n = 0; fifo >= 0 && (n = read(fifo, part, sizeof part)) > 0;) {
      through_fifo.insert(through_fifo.end(), part, part + n);
    }
    close(fifo);
  });
  expect_status(run(tesvar, dir, {"in.bmp", "fifo"}, options), 0, "");
  reader.join();
  EXPECT_EQ(through_fifo, expected);
  std::remove(dir.file("fifo").c_str());
  const int appended =
      open(dir.file("log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  ASSERT_GE(appended, 0);
  run_options to_appended = options;
  to_appended.descriptors.push_back({1, appended});
  expect_status(run(tesvar, dir, {"in.bmp", "/dev/stdout"}, to_appended), 0, "");
  close(appended);
  EXPECT_EQ(read_file(dir.file("log")), expected);
  std::remove(dir.file("log").c_str());
}
#endif

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
#ifndef _WIN32
        if (threads == "3") {
          expect_in_order_outputs(dir, options, expected);
        }
#endif
      }
#ifndef _WIN32
      // The same file through a pipe, read in order as it comes, into a
      // file and down a pipe.
      const bytes input = read_file(dir.file("in.bmp"));
      for (const std::string threads : {"1", "3"}) {
        SCOPED_TRACE("piped, threads " + threads);
        run_options options;
        options.environment = {"CONVERTERS_NUM_THREADS=" + threads};
        expect_status(run_on_pipe(tesvar, dir, input, {"/dev/stdin", "piped.bmp"}, options), 0, "");
        EXPECT_EQ(read_file(dir.file("piped.bmp")), expected);
        const program_result r =
            run_on_pipe(tesvar, dir, input, {"/dev/stdin", "/dev/stdout"}, options);
        EXPECT_EQ(bytes(r.out.begin(), r.out.end()), expected);
      }
#endif
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
  const test_bitmap full = encode_24(three_by_two, rows_bottom_up);  // rows of 9 + 3 padding bytes
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
       build_bitmap(cut(encode_1(depth_test_pictures()[2], rows_bottom_up), 6)),
       depth_test_pictures()[2]},
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

}  // namespace
