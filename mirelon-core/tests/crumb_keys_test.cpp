#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "involute/crumb_keys.hpp"

namespace mirelon {
namespace {

TEST(KeyLayout, IndexUsesTheLowBitsTheChunkCountNeeds) {
  struct Case {
    std::size_t chunks;
    std::uint64_t largest_index;
  };
  for (const Case& t : {Case{1, 0}, Case{2, 1}, Case{3, 2}, Case{1024, 1023}, Case{1025, 1024}}) {
    const KeyLayout layout(t.chunks);
    const std::uint64_t lead = 0xfedcba9876543210;
    const std::uint64_t key = layout.key(lead, t.largest_index);
    EXPECT_EQ(layout.index(key), t.largest_index) << t.chunks;
    // The key keeps every lead bit above the index bits.
    const int index_bits = std::bit_width(t.chunks - 1);
    EXPECT_EQ(key >> index_bits, index_bits == 0 ? lead : lead >> index_bits) << t.chunks;
    EXPECT_TRUE(layout.same_lead(key, layout.key(lead, 0)));
    EXPECT_FALSE(layout.same_lead(key, layout.key(lead ^ (std::uint64_t{1} << 63), 0)));
  }
}

// Evenly spread keys; keys crowded into one top byte, into one sub-bucket
// (the top 24 bits equal) and into few values (as many equal chunks give); on
// both sides of the size where distributing starts.
TEST(SortKeys, MatchesAComparisonSort) {
  std::mt19937_64 rng(5);
  for (std::size_t k : {std::size_t{1000}, std::size_t{20000}, std::size_t{300000}}) {
    for (int shape = 0; shape < 4; ++shape) {
      CrumbKeys keys(k);
      for (auto& key : keys) {
        const std::uint64_t r = rng();
        switch (shape) {
          case 0: key = r; break;
          case 1: key = (r >> 8) | (std::uint64_t{0x5a} << 56); break;
          case 2: key = (r >> 24) | (std::uint64_t{0x5a5a5a} << 40); break;
          default: key = (r % 7) << 60;
        }
      }
      std::vector<std::uint64_t> expected(keys.begin(), keys.end());
      std::sort(expected.begin(), expected.end());
      const CrumbKeys sorted = sort_keys(std::move(keys));
      EXPECT_TRUE(std::equal(sorted.begin(), sorted.end(), expected.begin(), expected.end()))
          << k << " " << shape;
    }
  }
}

}  // namespace
}  // namespace mirelon
