#include "bitmap/image_bytes.h"

bool compute_image_bytes(std::int64_t width, std::int64_t rows, std::int64_t element_size,
                         std::uint64_t* bytes) {
  *bytes = 0;
  if (width == 0 || rows == 0 || element_size == 0) {
    return true;  // an empty image, whatever the sign of the other counts
  }
  if (width < 0 || rows < 0 || element_size < 0) {
    return false;
  }
  const auto w = static_cast<std::uint64_t>(width);
  const auto r = static_cast<std::uint64_t>(rows);
  const auto e = static_cast<std::uint64_t>(element_size);
  if (e != 0 && w > max_block_bytes / e) {
    return false;
  }
  if (r != 0 && w * e > max_block_bytes / r) {
    return false;
  }
  *bytes = w * e * r;
  return true;
}
