#include "scratch_pool.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace mirelon {
namespace {

TEST(ScratchPool, ReleasedBlocksServeRequestsOfTheirSize) {
  std::uint8_t* first = nullptr;
  {
    ScratchBlock block(std::size_t{3} << 20);
    first = block.data();
    std::memset(block.data(), 7, block.size());
  }
  ScratchBlock again(std::size_t{3} << 20);
  EXPECT_EQ(again.data(), first);
  // Far smaller requests do not take a block that large.
  ScratchBlock small_one(std::size_t{1} << 20);
  ScratchBlock tiny(100);
  EXPECT_NE(small_one.data(), first);
  EXPECT_EQ(small_one.size(), std::size_t{1} << 20);
  EXPECT_EQ(tiny.size(), 100u);
}

TEST(ScratchPool, MovedBlocksAreReleasedOnce) {
  ScratchBlock a(std::size_t{2} << 20);
  std::uint8_t* data = a.data();
  ScratchBlock b(std::move(a));
  EXPECT_EQ(b.data(), data);
  EXPECT_EQ(a.data(), nullptr);
  a = std::move(b);
  EXPECT_EQ(a.data(), data);
  EXPECT_EQ(ScratchBlock(0).data(), nullptr);
}

}  // namespace
}  // namespace mirelon
