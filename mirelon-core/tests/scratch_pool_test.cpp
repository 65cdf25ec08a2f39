#include "runtime/scratch_pool.hpp"

#include <gtest/gtest.h>

namespace mirelon {
namespace {

// A released block serves a later request of at least half its size and no
// smaller one, which would pin memory it does not need. The pool is shared
// by the whole process, so the sizes here are ones no other test asks for.
TEST(ScratchPool, ReleasedBlocksServeOnlyRequestsOfTheirSize) {
  const std::size_t size = std::size_t{37} << 20;
  std::uint8_t* first = nullptr;
  {
    runtime::ScratchBlock block(size);
    first = block.data();
  }
  {
    runtime::ScratchBlock far_smaller(std::size_t{9} << 20);
    EXPECT_NE(far_smaller.data(), first);
  }
  runtime::ScratchBlock again(size - 1000);
  EXPECT_EQ(again.data(), first);
  EXPECT_EQ(runtime::ScratchBlock(0).data(), nullptr);
}

}  // namespace
}  // namespace mirelon
