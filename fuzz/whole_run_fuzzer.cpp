// Fuzz target for whole runs: the bytes become the input file of a run of
// the luma converter and of the hue converter with planes, each through
// the same driver the programs use. A status outside the documented set,
// a result file left by a refused run, or a result of the wrong size is a
// finding, as is any crash or sanitizer report.
#include <cstdint>
#include <cstdio>

#include "bitmap/bitmap_header.h"
#include "convert/channel_planes.h"
#include "convert/convert_to_hsv.h"
#include "convert/convert_to_yuv.h"
#include "driver/run_converter.h"
#include "fuzz/fuzz_support.h"

namespace {

// The size a written result must have: the header's width times its rows.
std::int64_t result_size(const std::uint8_t* data, std::size_t size) {
  if (size < static_cast<std::size_t>(bitmap_header_bytes)) {
    return -1;
  }
  // Only asked after a run succeeded, when the pixels fitted in memory.
  const bitmap_header h = read_bitmap_header(data);
  return 54 + static_cast<std::int64_t>(h.bi_width) * header_rows(h) * 4;
}

void write_input(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen("in.bmp", "wb");
  require(file != nullptr, "cannot create the input file");
  const bool complete = size == 0 || std::fwrite(data, size, 1, file) == 1;
  require(std::fclose(file) == 0 && complete, "cannot write the input file");
}

void run_once(const std::uint8_t* data, std::size_t size, const conversion& convert,
              const channel_plane* planes) {
  const char* plane = planes != nullptr ? planes[1].file_name : nullptr;
  remove_run_outputs();
  write_input(data, size);
  const char* const argv[] = {"converter", "in.bmp", "out.bmp", nullptr};
  const int status = run_converter(3, argv, "converter.bmp", convert, planes);
  require(status >= 0 && status <= 15, "status outside the documented set");
  const std::int64_t written = file_size_or_minus_one("out.bmp");
  if (status == 0) {
    require(written == result_size(data, size), "result missing or of the wrong size");
  } else if (status != 9 && status != 10) {
    require(written == -1, "a refused run wrote a result");
  }
  if (plane != nullptr) {
    const std::int64_t plane_size = file_size_or_minus_one(plane);
    if (status == 0) {
      require(plane_size == written, "plane missing or of the wrong size");
    } else if (status != 10) {
      require(plane_size == -1, "a plane written by a run that stopped before the planes");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  enter_fuzz_workdir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  run_once(data, size, {convert_to_yuv, convert_stored_to_yuv}, nullptr);
  run_once(data, size, {convert_to_hsv, convert_stored_to_hsv}, hsv_planes);
  remove_run_outputs();
  return 0;
}
