#include "core/base/block_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace ril {
namespace {

bool allZero(const BlockBuffer& b) {
  return std::all_of(b.data(), b.data() + b.size(), [](unsigned char c) { return c == 0; });
}

// Small buffers, buffers of whole huge pages and buffers between them; each
// is written over and given back before the next of its size.
TEST(BlockBufferTest, StartsAtZeroEvenOnPagesAnEarlierBufferWroteOver) {
  BlockBuffer::dropKept();
  for (std::size_t bytes : {std::size_t{1}, std::size_t{4096}, std::size_t{1} << 20,
                            (std::size_t{3} << 20) + 5, std::size_t{4} << 20}) {
    SCOPED_TRACE(bytes);
    const unsigned char* first = nullptr;
    for (int round = 0; round < 2; ++round) {
      BlockBuffer b(bytes);
      ASSERT_EQ(b.size(), bytes);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.data()) % 16, 0u);
      EXPECT_TRUE(allZero(b));
      if (round == 1 && bytes >= (std::size_t{1} << 20)) {
        EXPECT_EQ(b.data(), first) << "the second buffer should take the first one's pages";
      }
      first = b.data();
      std::memset(b.data(), 0xA5, bytes);
    }
  }
  // A smaller buffer than the kept pages, and one again once they are dropped.
  BlockBuffer b(std::size_t{5} << 20);
  std::memset(b.data(), 0x5A, b.size());
  b.resize(std::size_t{3} << 20);
  EXPECT_TRUE(allZero(b));
  std::memset(b.data(), 0x5A, b.size());
  b = BlockBuffer{};
  BlockBuffer::dropKept();
  b.resize(std::size_t{3} << 20);
  EXPECT_TRUE(allZero(b));
}

TEST(BlockBufferTest, MovingHandsThePagesOverAndEmptiesTheSource) {
  BlockBuffer a(std::size_t{2} << 20);
  a.data()[7] = 42;
  const unsigned char* pages = a.data();
  BlockBuffer b(std::move(a));
  EXPECT_EQ(a.data(), nullptr);
  EXPECT_EQ(a.size(), 0u);
  EXPECT_EQ(b.data(), pages);
  EXPECT_EQ(b.data()[7], 42);
  BlockBuffer c(100);
  c = std::move(b);
  EXPECT_EQ(c.data(), pages);
  EXPECT_EQ(c.size(), std::size_t{2} << 20);
  c.resize(0);
  EXPECT_EQ(c.data(), nullptr);
  EXPECT_EQ(c.size(), 0u);
}

}  // namespace
}  // namespace ril
