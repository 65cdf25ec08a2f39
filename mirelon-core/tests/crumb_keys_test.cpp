#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "involute/chunk_table.hpp"
#include "involute/crumb_keys.hpp"

namespace mirelon {
namespace {

// Evenly spread keys; keys crowded into one top byte, into one sub-bucket
// (the top 24 bits equal) and into few values (as many equal chunks give); on
// both sides of the size where distributing starts.
TEST(SortKeys, MatchesAComparisonSort) {
  std::mt19937_64 rng(5);
  for (std::size_t k : {std::size_t{1000}, std::size_t{20001}, std::size_t{300000}}) {
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

// The bitmaps (1 to 4 bytes) and the table (4 bytes and more) against a set,
// on chunks spread over the whole value range: values sharing a bitmap word,
// differing only in their top byte or top bit, the extremes; distinct, and
// with one chunk repeated last.
TEST(ChunkSearch, BitmapsAndTableMatchASetAcrossTheValueRange) {
  std::mt19937_64 rng(9);
  for (std::size_t c = 1; c <= 4; ++c) {
    const std::uint64_t top = (std::uint64_t{1} << (8 * c)) - 1;
    std::vector<std::uint64_t> values = {0, top, top >> 1, (top >> 1) + 1, 63, 64, 65, top - 64};
    while (values.size() < std::min<std::uint64_t>(top + 1, 3000)) values.push_back(rng() & top);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    for (bool repeat : {false, true}) {
      if (repeat) values.push_back(values[values.size() / 2]);
      Bytes packet;
      std::set<Bytes> model;
      for (std::uint64_t v : values) {
        Bytes chunk;
        for (std::size_t i = 0; i < c; ++i) chunk.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        packet.insert(packet.end(), chunk.begin(), chunk.end());
        model.insert(chunk);
      }
      const bool distinct = model.size() == values.size();
      EXPECT_EQ(distinct_by_bitmap(packet, c), distinct) << c << " " << repeat;
      if (c == 4) {
        EXPECT_EQ(ChunkTable().distinct(packet, c), distinct) << repeat;
      }
    }
  }
}

}  // namespace
}  // namespace mirelon
