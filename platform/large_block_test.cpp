#include "platform/large_block.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <utility>

namespace {

// A block of any size is whole pages of zeros that take writes, before its
// pages are mapped ahead and after; it keeps its memory through a move.
TEST(LargeBlockTest, IsZeroFilledAndWritableThroughoutWhetherMappedAheadOrNot) {
  for (const size_t bytes : {size_t{0}, size_t{1}, size_t{4096 * 3 + 1}, size_t{5} << 20}) {
    for (const bool mappedAhead : {false, true}) {
      platform::LargeBlock block(bytes);
      ASSERT_NE(block.data(), nullptr);
      EXPECT_GE(block.size(), bytes == 0 ? 1 : bytes);
      if (mappedAhead) block.mapEveryPage();
      size_t nonZero = 0;
      for (size_t at = 0; at < block.size(); ++at) nonZero += block.data()[at] != 0;
      EXPECT_EQ(nonZero, 0u) << bytes << " bytes";
      block.data()[0] = 'a';
      block.data()[block.size() - 1] = 'z';
      platform::LargeBlock moved(std::move(block));
      EXPECT_EQ(block.data(), nullptr);
      EXPECT_EQ(moved.data()[0], 'a');
      EXPECT_EQ(moved.data()[moved.size() - 1], 'z');
    }
  }
}

}  // namespace
