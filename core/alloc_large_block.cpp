#include "core/alloc_large_block.h"

#include <cstdlib>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

constexpr std::size_t huge_page_bytes = std::size_t{2} << 20;

// Asks for huge pages on the whole pages inside the block. Advice only:
// the block is usable whatever the answer, so failure is ignored.
void advise_huge_pages(std::uint8_t* block, std::size_t bytes) {
#ifdef __linux__
  if (bytes < 2 * huge_page_bytes) {
    return;
  }
  const long page = sysconf(_SC_PAGESIZE);
  if (page <= 0) {
    return;
  }
  const auto page_bytes = static_cast<std::uintptr_t>(page);
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + page_bytes - 1) / page_bytes * page_bytes;
  const std::uintptr_t end = (start + bytes) / page_bytes * page_bytes;
  madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace

std::uint8_t* alloc_large_block(std::size_t bytes, bool zeroed) {
  void* block = zeroed ? std::calloc(1, bytes) : std::malloc(bytes);
  if (block != nullptr) {
    advise_huge_pages(static_cast<std::uint8_t*>(block), bytes);
  }
  return static_cast<std::uint8_t*>(block);
}
