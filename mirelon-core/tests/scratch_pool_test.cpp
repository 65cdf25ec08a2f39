#include "runtime/scratch_pool.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace mirelon {
namespace {

// The pool is shared by the whole process, so the sizes here are ones no
// other test asks for.
TEST(ScratchPool, ReleasedBlocksServeRequestsOfTheirSize) {
  const std::size_t size = std::size_t{37} << 20;
  std::uint8_t* first = nullptr;
  {
    ScratchBlock block(size);
    first = block.data();
    std::memset(block.data(), 7, block.size());
  }
  ScratchBlock again(size - 1000);
  EXPECT_EQ(again.data(), first);
  EXPECT_EQ(again.size(), size - 1000);
  // A far smaller request does not take a block that large.
  { ScratchBlock taken(std::move(again)); }
  ScratchBlock small_one(std::size_t{9} << 20);
  ScratchBlock tiny(100);
  EXPECT_NE(small_one.data(), first);
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
