// The least work any conversion run has to do, for comparison with the
// programs: one read of the whole file into one block, two working images,
// a trivial unpack to 4-byte pixels into the source, a copy into the
// destination, then a 54-byte header and the pixels written out. With
// --planes it also writes a zeroed plane image three times before the
// result, as the programs that write channel planes do.
//
//   design_floor [--planes] input.bmp output.bmp
//
// Only bottom-up 24-bit, 32-bit and 256-colour files are understood; it is
// a yardstick, not a converter, and it is deliberately plain about memory.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

std::uint32_t read_u32le(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void store_u32le(std::uint32_t v, std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

int load(const char* path, std::uint8_t** block, std::size_t* size) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    return 1;
  }
  // The file's size in 64 bits on every system (fstat's is 32 bits wide
  // on Windows).
  std::error_code error;
  const std::uintmax_t bytes = std::filesystem::file_size(path, error);
  if (error || bytes <= 54 || bytes > SIZE_MAX) {
    std::fclose(file);
    return 1;
  }
  *size = static_cast<std::size_t>(bytes);
  *block = static_cast<std::uint8_t*>(std::malloc(*size));
  const bool read = *block != nullptr && std::fread(*block, *size, 1, file) == 1;
  std::fclose(file);
  return read ? 0 : 1;
}

int write_image(const char* path, const std::uint8_t* pixels, std::uint32_t width,
                std::uint32_t rows) {
  const std::size_t bytes = std::size_t{width} * rows * 4;
  std::uint8_t header[54] = {'B', 'M'};
  store_u32le(static_cast<std::uint32_t>(bytes + 54), header + 2);
  store_u32le(54, header + 10);
  store_u32le(40, header + 14);
  store_u32le(width, header + 18);
  store_u32le(rows, header + 22);
  header[26] = 1;
  header[28] = 32;
  store_u32le(static_cast<std::uint32_t>(bytes), header + 34);
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    return 1;
  }
  const bool written =
      std::fwrite(header, 54, 1, file) == 1 && std::fwrite(pixels, bytes, 1, file) == 1;
  return std::fclose(file) == 0 && written ? 0 : 1;
}

std::size_t stride_of(std::uint32_t width, std::uint32_t bits) {
  return (std::size_t{width} * (bits / 8) + 3) & ~std::size_t{3};
}

// The plainest unpacking of each depth into 4-byte pixels.
void unpack(const std::uint8_t* block, std::uint32_t offset, std::uint32_t bits, std::uint8_t* out,
            std::uint32_t width, std::uint32_t rows) {
  const std::size_t stride = stride_of(width, bits);
  for (std::uint32_t r = 0; r < rows; ++r) {
    const std::uint8_t* p = block + offset + r * stride;
    if (bits == 32) {
      std::memcpy(out, p, std::size_t{width} * 4);
      out += std::size_t{width} * 4;
      continue;
    }
    for (std::uint32_t x = 0; x < width; ++x, out += 4) {
      if (bits == 24) {
        out[0] = p[3 * x];
        out[1] = p[3 * x + 1];
        out[2] = p[3 * x + 2];
        out[3] = 0;
      } else {
        std::memcpy(out, block + 54 + 4 * p[x], 4);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool planes = argc == 4 && std::strcmp(argv[1], "--planes") == 0;
  if (argc != (planes ? 4 : 3)) {
    std::fputs("usage: design_floor [--planes] input.bmp output.bmp\n", stderr);
    return 2;
  }
  const char* input = argv[planes ? 2 : 1];
  const char* output = argv[planes ? 3 : 2];
  std::uint8_t* block = nullptr;
  std::size_t size = 0;
  if (load(input, &block, &size) != 0) {
    std::fprintf(stderr, "design_floor: cannot read %s\n", input);
    return 1;
  }
  const std::uint32_t width = read_u32le(block + 18);
  const std::uint32_t rows = read_u32le(block + 22);
  const std::uint32_t offset = read_u32le(block + 10);
  const std::uint32_t bits = block[28];
  const bool depth_known = bits == 24 || bits == 32 || (bits == 8 && offset == 54 + 1024);
  if (!depth_known || width == 0 || width > 0xFFFFFF || rows == 0 || rows > 0xFFFFFF ||
      offset > size || stride_of(width, bits) * rows > size - offset) {
    std::fputs("design_floor: wants a bottom-up 24-bit, 32-bit or 256-colour bitmap\n", stderr);
    return 1;
  }
  const std::size_t bytes = std::size_t{width} * rows * 4;
  auto* destination = static_cast<std::uint8_t*>(std::calloc(1, bytes));
  auto* source = static_cast<std::uint8_t*>(std::malloc(bytes));
  if (destination == nullptr || source == nullptr) {
    return 1;
  }
  unpack(block, offset, bits, source, width, rows);
  std::memcpy(destination, source, bytes);
  int result = 0;
  if (planes) {
    auto* plane = static_cast<std::uint8_t*>(std::calloc(1, bytes));
    if (plane == nullptr) {
      return 1;
    }
    // Untouched, calloc's pages would all be the shared zero page; a real
    // plane image is filled, so it is made resident like one. The fill byte
    // is 0 but not known to be so at compile time, so the fill stays.
    std::memset(plane, static_cast<int>(argv[0][0] == '\0'), bytes);
    const char* names[3] = {"floor_plane_1.bmp", "floor_plane_2.bmp", "floor_plane_3.bmp"};
    for (const char* name : names) {
      result |= write_image(name, plane, width, rows);
    }
    std::free(plane);
  }
  result |= write_image(output, destination, width, rows);
  std::free(source);
  std::free(destination);
  std::free(block);
  return result;
}
