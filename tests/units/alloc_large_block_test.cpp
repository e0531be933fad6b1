#include "system/alloc_large_block.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

namespace {

constexpr std::size_t mib = std::size_t{1} << 20;

// A zeroed block must read as zero even where the allocator hands back
// memory that an earlier block dirtied, so a larger malloc block is dirtied and
// freed before each zeroed one (after the first round the allocator keeps
// such blocks in its heap and reuses them). Sizes: small, whole huge pages
// only, and whole huge pages with a short and with a long tail.
TEST(AllocLargeBlock, ZeroedBlocksAreZeroEvenOnReusedMemory) {
  for (const std::size_t bytes : {std::size_t{100}, 4 * mib, 4 * mib + 100, 5 * mib + 123}) {
    SCOPED_TRACE(bytes);
    for (int round = 0; round < 3; ++round) {
      auto* dirty = static_cast<std::uint8_t*>(std::malloc(bytes + 8 * mib));
      ASSERT_NE(dirty, nullptr);
      std::memset(dirty, 0xAB, bytes + 8 * mib);
      std::free(dirty);
      std::uint8_t* clean = alloc_large_block(bytes, true);
      ASSERT_NE(clean, nullptr);
      EXPECT_TRUE(std::all_of(clean, clean + bytes, [](std::uint8_t b) { return b == 0; }));
      std::free(clean);
    }
  }
}

TEST(AllocLargeBlock, BlocksHoldWhatIsWritten) {
  std::uint8_t* block = alloc_large_block(6 * mib + 5, false);
  ASSERT_NE(block, nullptr);
  for (std::size_t i = 0; i < 6 * mib + 5; ++i) {
    block[i] = static_cast<std::uint8_t>(i * 31 + 7);
  }
  bool intact = true;
  for (std::size_t i = 0; i < 6 * mib + 5; ++i) {
    intact = intact && block[i] == static_cast<std::uint8_t>(i * 31 + 7);
  }
  EXPECT_TRUE(intact);
  std::free(block);
}

}  // namespace
