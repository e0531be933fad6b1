// The descriptors a run is handed, run as a user would: the names of the
// standard streams and of descriptors (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N) redirected to files, pipes and sockets, or closed, as
// input and as output; and a stream judged by its header.
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/program_support.h"

namespace {

#ifndef _WIN32
// Descriptor names as output and as input: into redirected files (as the
// tests' user and as an ordinary user), from a file and from a socket, and
// with their descriptors closed.
std::vector<safety_case> descriptor_cases() {
  std::vector<safety_case> cases;
  for (const run_as user : {run_as::tests_user, run_as::ordinary_user}) {
    const std::string who = user == run_as::ordinary_user ? ", as an ordinary user" : "";
    cases.push_back({"/dev/stdout redirected to a file" + who,
                     &tesvar,
                     {"in.bmp", "/dev/stdout"},
                     nothing_planted,
                     as_user(user),
                     exits_with(0),
                     afterwards{[](const scratch_dir& d) {
                       expect_only(d, {"in.bmp", "redirected.bmp"});
                       EXPECT_EQ(read_file(d.file("redirected.bmp")), result_of(tesvar));
                     }},
                     output_to_file(1, "redirected.bmp")});
  }
  for (const std::string name : {"/dev/stderr", "/dev/fd/3", "/proc/self/fd/3"}) {
    const int number = name == "/dev/stderr" ? 2 : 3;
    cases.push_back({name + " redirected to a file",
                     &tesvarex,
                     {"in.bmp", name},
                     nothing_planted,
                     plain_run,
                     exits_with(0),
                     afterwards{[](const scratch_dir& d) {
                       expect_only(d, plus_planes(tesvarex, {"in.bmp", "redirected.bmp"}));
                       EXPECT_EQ(read_file(d.file("redirected.bmp")), result_of(tesvarex));
                     }},
                     output_to_file(number, "redirected.bmp")});
  }
  cases.push_back({"/dev/stdin from a redirected file",
                   &tesvar,
                   {"/dev/stdin", "out.bmp"},
                   nothing_planted,
                   plain_run,
                   exits_with(0),
                   afterwards{[](const scratch_dir& d) {
                     EXPECT_EQ(read_file(d.file("out.bmp")), result_of(tesvar));
                   }},
                   input_from_file(0, "in.bmp")});
  cases.push_back({"/dev/stdin from a socket",
                   &tesvarex,
                   {"/dev/stdin", "out.bmp"},
                   nothing_planted,
                   plain_run,
                   exits_with(0),
                   afterwards{[](const scratch_dir& d) {
                     EXPECT_EQ(read_file(d.file("out.bmp")), result_of(tesvarex));
                   }},
                   input_from_socket});
  cases.push_back({"/dev/stdin as input and output writes the redirected file",
                   &tesvar,
                   {"/dev/stdin", "/dev/stdin"},
                   planted{[](const scratch_dir& d) {
                     ASSERT_TRUE(write_file(d.file("piped.bmp"), safety_input));
                   }},
                   plain_run,
                   exits_with(0),
                   afterwards{[](const scratch_dir& d) {
                     expect_only(d, {"in.bmp", "piped.bmp"});
                     EXPECT_EQ(read_file(d.file("piped.bmp")), result_of(tesvar));
                   }},
                   input_from_file(0, "piped.bmp")});
  // Descriptors the caller left closed: their names lead nowhere, whatever
  // the program has opened since under those numbers.
  const std::pair<int, std::string> closed_names[] = {
      {0, "/dev/stdin"},       {1, "/dev/stdout"},     {2, "/dev/stderr"},
      {3, "/dev/fd/3"},        {3, "/proc/self/fd/3"}, {3, "/proc/thread-self/fd/3"},
      {4, "/dev/fd/4/out.bmp"}};
  for (const auto& [number, name] : closed_names) {
    // With the standard error stream closed, no message reaches the tests.
    const auto said = [number = number](const std::string& text) {
      return number == 2 ? std::string() : text;
    };
    cases.push_back({"descriptor " + std::to_string(number) + " closed, " + name + " as output",
                     &tesvar,
                     {"in.bmp", name},
                     nothing_planted,
                     closed_descriptor(number),
                     exits_with(10, said("File '" + name + "' cannot create.\n")),
                     afterwards{[](const scratch_dir& d) { expect_only(d, {"in.bmp"}); }}});
    cases.push_back({"descriptor " + std::to_string(number) + " closed, " + name + " as input",
                     &tesvar,
                     {name, "out.bmp"},
                     nothing_planted,
                     closed_descriptor(number),
                     exits_with(11, said("'" + name + "' open error.\n")),
                     afterwards{[](const scratch_dir& d) { expect_only(d, {"in.bmp"}); }}});
  }
  // The program's own handles take such numbers meanwhile, directories
  // among them: no path leads through one.
  for (const std::string name :
       {"/dev/fd/5", "/dev/fd/7", "/proc/thread-self/fd/9", "/dev/fd/4/out.bmp"}) {
    cases.push_back({name + " closed while the planes are written",
                     &tesvarex,
                     {"in.bmp", name},
                     nothing_planted,
                     plain_run,
                     exits_with(10, "File '" + name + "' cannot create.\n"),
                     afterwards{[](const scratch_dir& d) {
                       expect_only(d, plus_planes(tesvarex, {"in.bmp"}));
                       const picture result = converted(tesvarex, known_colours(tesvarex));
                       for (std::size_t i = 0; i < tesvarex.planes.size(); ++i) {
                         EXPECT_EQ(read_file(d.file(tesvarex.planes[i])),
                                   expected_bitmap32(plane_of(result, plane_bytes[i])));
                       }
                     }}});
  }
  cases.push_back({"standard error closed while the planes fail",
                   &tesvarex,
                   {"/dev/stdin", "out.bmp"},
                   planted{[](const scratch_dir& d) {
                     for (const std::string& plane : tesvarex.planes) {
                       ASSERT_TRUE(std::filesystem::create_directory(d.file(plane)));
                     }
                   }},
                   closed_descriptor(2),
                   exits_with(10),
                   afterwards{[](const scratch_dir& d) {
                     EXPECT_EQ(read_file(d.file("out.bmp")), result_of(tesvarex));
                   }},
                   input_from_socket});
  run_options bounded;
  bounded.time_limit_seconds = 60;
  // A pipe whose other end the test holds, under descriptor 9: the program
  // would hold the only writer, or the pipe would never end.
  const auto pipe_at = [](int number, bool reading) {
    return handed{[number, reading](const scratch_dir&, run_options* options) {
      int ends[2];
      ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
      options->descriptors.push_back({number, ends[reading ? 0 : 1]});
      options->descriptors.push_back({9, ends[reading ? 1 : 0]});
    }};
  };
  for (const std::string name : {"/dev/stdout", "/dev/stdin"}) {
    const bool as_input = name == "/dev/stdout";
    cases.push_back({name + " named against the pipe behind it", &tesvar,
                     as_input ? std::vector<std::string>{name, "out.bmp"}
                              : std::vector<std::string>{"in.bmp", name},
                     nothing_planted, bounded,
                     as_input ? exits_with(11, "'" + name + "' open error.\n")
                              : exits_with(10, "File '" + name + "' cannot create.\n"),
                     afterwards{[](const scratch_dir& d) { expect_only(d, {"in.bmp"}); }},
                     pipe_at(as_input ? 1 : 0, !as_input)});
  }
  return cases;
}
#endif

// Split from NoLinkFifoOrLimitDestroysOrWritesThroughAFile, whose other
// cases stay with the other safety cases.
TEST(ProgramSafety, NoDescriptorNameDestroysOrWritesThroughAFile) {
  if (on_windows) {
    GTEST_SKIP() << "Windows has no file names for descriptors";
  }
#ifndef _WIN32
  for (const safety_case& c : descriptor_cases()) {
    expect_safe(c);
  }
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
// "{ tesvarex in.bmp /dev/stdout; printf TRAILER; } > f 2>&1" with a plane
// blocked: the result, then the plane's message, then what the caller
// writes next; nothing lands inside the picture.
TEST(ProgramSafety, RedirectedFileIsLeftAtTheEndOfTheResult) {
  const scratch_dir dir;
  put_files(dir, {{"in.bmp", safety_input}});
  ASSERT_TRUE(std::filesystem::create_directory(dir.file(tesvarex.planes[1])));
  const int shared = open(dir.file("f").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(shared, 0);
  run_options options;
  options.descriptors = {{1, shared}, {2, shared}};
  const program_result r = run(tesvarex, dir, {"in.bmp", "/dev/stdout"}, options);
  EXPECT_EQ(write(shared, "TRAILER", 7), 7);
  close(shared);
  expect_status(r, 10, "");
  const std::string message = "File '" + tesvarex.planes[1] + "' cannot create.\nTRAILER";
  bytes want = result_of(tesvarex);
  want.insert(want.end(), message.begin(), message.end());
  EXPECT_EQ(read_file(dir.file("f")), want);
}

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
      // Refused at every length, though which refusal depends on it.
      {"4 bits, image size 4 GiB", with([](test_bitmap& b) {
         b.bit_count = 4;
         b.size_image = UINT32_MAX;
       })},
      {"24 bits at offset 58, image size 4 GiB", with([](test_bitmap& b) {
         b.width = b.height = 1000;
         b.off_bits = 58;
         b.size_image = UINT32_MAX;
       })},
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

// A stream that ends short is refused as the same bytes in a file are, once
// it has ended: nothing under any output name, nothing down the pipe.
TEST(ProgramSafety, PipedStreamEndingShortWritesNothing) {
  const scratch_dir dir;
  bytes cut_short = build_bitmap(encode_24(large_picture(600, 400, 1), false));
  cut_short.resize(cut_short.size() / 2);
  put_files(dir, {{"in.bmp", cut_short}});
  const program_result as_file = run(tesvarex, dir, {"in.bmp", "out.bmp"});
  EXPECT_NE(as_file.exit_status, 0);
  for (const std::string output : {"out.bmp", "/dev/stdout"}) {
    SCOPED_TRACE(output);
    const program_result piped = run_on_pipe(tesvarex, dir, cut_short, {"/dev/stdin", output}, {});
    EXPECT_EQ(piped.exit_status, as_file.exit_status);
    EXPECT_EQ(piped.err, as_file.err);
    EXPECT_EQ(piped.out, "");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.bmp"});
  }
}
#endif

}  // namespace
