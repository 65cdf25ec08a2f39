#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "involute/crumb_keys.hpp"

namespace mirelon {
namespace {

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
