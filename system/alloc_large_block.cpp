#include "system/alloc_large_block.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if CONVERTERS_HAVE_MADVISE
#include <sys/mman.h>
#endif

namespace {

constexpr std::size_t huge_page_bytes = std::size_t{2} << 20;

#if CONVERTERS_HAVE_MADVISE
// A block aligned to a huge page. Only whole huge pages are advised, since
// a huge page over the tail would hold memory the block never uses; a tail
// of half a huge page or more is rounded up to a whole one, which wastes
// less than it saves in small-page faults.
std::uint8_t* alloc_huge_aligned(std::size_t bytes, bool zeroed) {
  const std::size_t tail = bytes % huge_page_bytes;
  const bool round_up = tail >= huge_page_bytes / 2 && bytes <= SIZE_MAX - huge_page_bytes;
  const std::size_t request = round_up ? bytes + (huge_page_bytes - tail) : bytes;
  void* memory = nullptr;
  if (posix_memalign(&memory, huge_page_bytes, request) != 0) {
    return nullptr;
  }
  auto* block = static_cast<std::uint8_t*>(memory);
  const std::size_t whole = request / huge_page_bytes * huge_page_bytes;
  if (zeroed) {
    // Discarded private pages read as zero when next touched, so this
    // clears without writing, and the kernel's own zeroing of fresh pages
    // is the only pass over them.
    if (madvise(block, whole, MADV_DONTNEED) != 0) {
      std::memset(block, 0, whole);
    }
    std::memset(block + whole, 0, request - whole);
  }
  // Advice only: the block is usable whatever the answer.
  madvise(block, whole, MADV_HUGEPAGE);
  return block;
}
#endif

}  // namespace

std::uint8_t* alloc_large_block(std::size_t bytes, bool zeroed) {
#if CONVERTERS_HAVE_MADVISE
  if (bytes >= 2 * huge_page_bytes) {
    return alloc_huge_aligned(bytes, zeroed);
  }
#endif
  void* block = zeroed ? std::calloc(1, bytes) : std::malloc(bytes);
  return static_cast<std::uint8_t*>(block);
}
