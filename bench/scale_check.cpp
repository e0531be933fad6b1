// Converts a large 24-bit image with a built program and checks every
// pixel of the result: scale_check PROGRAM DIRECTORY [WIDTH HEIGHT]
// (default 16384 x 16384). Pixel i of the input has colour
// (i * 2654435761) mod 2^24, so every colour appears and neighbours
// differ; each result pixel must equal the library's conversion of its
// colour, which the exhaustive test proves exact. Large sizes show that
// the driver, the unpacker and the writer keep their arithmetic in range.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap/bitmap_header.h"
#include "convert/convert_to_hsv.h"
#include "convert/convert_to_yuv.h"

namespace {

constexpr std::uint64_t colour_count = 1u << 24;

std::uint32_t colour_of(std::uint64_t pixel) {
  return static_cast<std::uint32_t>((pixel * 2654435761u) & (colour_count - 1));
}

bool write_input(const std::string& path, std::int32_t width, std::int32_t height) {
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * 3 + 3) / 4 * 4;
  bitmap_header h{};
  h.bf_type = bitmap_magic;
  h.bf_off_bits = 54;
  h.bi_size = 40;
  h.bi_width = width;
  h.bi_height = height;
  h.bi_planes = 1;
  h.bi_bit_count = 24;
  std::uint8_t header[54];
  store_bitmap_header(h, header);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(header, 54, 1, file) != 1) {
    return false;
  }
  std::vector<std::uint8_t> row(stride, 0);
  for (std::int64_t r = 0; r < height; ++r) {
    for (std::int64_t x = 0; x < width; ++x) {
      const std::uint32_t c = colour_of(static_cast<std::uint64_t>(r * width + x));
      std::memcpy(&row[static_cast<std::size_t>(x) * 3], &c, 3);
    }
    if (std::fwrite(row.data(), row.size(), 1, file) != 1) {
      std::fclose(file);
      return false;
    }
  }
  return std::fclose(file) == 0;
}

int run_in(const std::string& dir, const std::string& program) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) == 0) {
      execl(program.c_str(), program.c_str(), "in.bmp", "out.bmp", static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The converted bytes of every colour, as the library computes them.
std::vector<std::uint8_t> conversion_table(bool hue) {
  std::vector<std::uint8_t> source(colour_count * 4), table(colour_count * 4, 0);
  for (std::uint32_t c = 0; c < colour_count; ++c) {
    std::memcpy(&source[std::size_t{c} * 4], &c, 4);
  }
  const auto convert = hue ? convert_to_hsv : convert_to_yuv;
  if (convert(source.data(), table.data(), 4096, 4096) != 0) {
    std::fputs("conversion of the colour table failed\n", stderr);
    std::exit(1);
  }
  return table;
}

bool check_output(const std::string& path, std::int32_t width, std::int32_t height, bool hue) {
  const std::vector<std::uint8_t> table = conversion_table(hue);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  std::uint8_t header[54];
  if (file == nullptr || std::fread(header, 54, 1, file) != 1) {
    std::fprintf(stderr, "%s: no header\n", path.c_str());
    return false;
  }
  const bitmap_header h = read_bitmap_header(header);
  const std::uint64_t pixel_bytes =
      std::uint64_t{4} * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  const std::uint64_t size_field = pixel_bytes + 54 < (std::uint64_t{1} << 32) ? pixel_bytes : 0;
  if (h.bi_width != width || h.bi_height != height || h.bi_bit_count != 32 ||
      h.bi_size_image != size_field || h.bf_size != (size_field == 0 ? 0 : size_field + 54)) {
    std::fprintf(stderr, "%s: wrong header\n", path.c_str());
    return false;
  }
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
  std::uint64_t wrong = 0;
  for (std::int64_t r = 0; r < height; ++r) {
    if (std::fread(row.data(), row.size(), 1, file) != 1) {
      std::fprintf(stderr, "%s: cut short at row %lld\n", path.c_str(), static_cast<long long>(r));
      return false;
    }
    for (std::int64_t x = 0; x < width; ++x) {
      const std::uint32_t c = colour_of(static_cast<std::uint64_t>(r * width + x));
      const std::uint8_t* got = &row[static_cast<std::size_t>(x) * 4];
      const std::uint8_t* want = &table[std::size_t{c} * 4];
      if (std::memcmp(got, want, 3) != 0 || got[3] != 0) {
        ++wrong;
      }
    }
  }
  const bool at_end = std::fgetc(file) == EOF;
  std::fclose(file);
  std::printf("%s: %lld x %lld pixels checked, %llu wrong%s\n", path.c_str(),
              static_cast<long long>(width), static_cast<long long>(height),
              static_cast<unsigned long long>(wrong), at_end ? "" : ", trailing bytes");
  return wrong == 0 && at_end;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fputs("usage: scale_check PROGRAM DIRECTORY [WIDTH HEIGHT]\n", stderr);
    return 2;
  }
  const std::string program = argv[1];
  const std::string dir = argv[2];
  const auto width = static_cast<std::int32_t>(argc == 5 ? std::atol(argv[3]) : 16384);
  const auto height = static_cast<std::int32_t>(argc == 5 ? std::atol(argv[4]) : 16384);
  const bool hue = program.find("morvane") != std::string::npos;
  if (width <= 0 || height <= 0 || !write_input(dir + "/in.bmp", width, height)) {
    std::fputs("cannot write the input\n", stderr);
    return 1;
  }
  const int status = run_in(dir, program);
  if (status != 0) {
    std::fprintf(stderr, "%s ended with status %d\n", program.c_str(), status);
    return 1;
  }
  return check_output(dir + "/out.bmp", width, height, hue) ? 0 : 1;
}
