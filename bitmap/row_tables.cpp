#include "bitmap/row_tables.h"

#include <cstdlib>

#include "bitmap/image_bytes.h"
#include "system/alloc_large_block.h"

namespace {

constexpr std::uint64_t max_table_rows = max_block_bytes / sizeof(std::uint8_t*);

void fill_row_table(std::uint8_t** table, std::uint8_t* pixels, std::uint64_t row_bytes,
                    std::uint64_t rows) {
  for (std::uint64_t r = 0; r < rows; ++r) {
    table[r] = pixels + r * row_bytes;
  }
}

}  // namespace

std::uint8_t** make_row_table(std::uint8_t* block, std::int64_t width, std::int64_t element_size,
                              std::int64_t rows) {
  std::uint64_t image_bytes = 0;
  if (block == nullptr || width <= 0 || element_size <= 0 || rows <= 0 ||
      !compute_image_bytes(width, rows, element_size, &image_bytes) ||
      static_cast<std::uint64_t>(rows) > max_table_rows) {
    return nullptr;
  }
  const auto count = static_cast<std::uint64_t>(rows);
  auto** table = static_cast<std::uint8_t**>(
      std::malloc(static_cast<std::size_t>(count) * sizeof(std::uint8_t*)));
  if (table != nullptr) {
    fill_row_table(table, block, static_cast<std::uint64_t>(width * element_size), count);
  }
  return table;
}

std::uint8_t** alloc_image2d(std::int64_t element_size, std::int64_t width, std::int64_t rows) {
  std::uint64_t pixel_bytes = 0;
  if (element_size <= 0 || width <= 0 || rows <= 0 ||
      !compute_image_bytes(width, rows, element_size, &pixel_bytes) ||
      static_cast<std::uint64_t>(rows) > max_table_rows) {
    return nullptr;
  }
  const auto count = static_cast<std::uint64_t>(rows);
  const std::uint64_t table_bytes = count * sizeof(std::uint8_t*);
  if (pixel_bytes > max_block_bytes - table_bytes) {
    return nullptr;
  }
  std::uint8_t* block =
      alloc_large_block(static_cast<std::size_t>(table_bytes + pixel_bytes), true);
  if (block == nullptr) {
    return nullptr;
  }
  auto** table = reinterpret_cast<std::uint8_t**>(block);
  std::uint8_t* pixels = block + table_bytes;
  fill_row_table(table, pixels, static_cast<std::uint64_t>(width * element_size), count);
  return table;
}
