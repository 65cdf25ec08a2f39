#include <gtest/gtest.h>

#include <random>
#include <unordered_set>
#include <string>

#include "mirelon/chunk_geometry.hpp"

// The search against a plain set of strings, on packets large enough for the
// workers to share a pass; the Python tests compare small packets with their
// model. Mostly here so that the sanitizer builds run the table and bitmaps.
namespace mirelon {
namespace {

std::uint64_t plain_search(const std::string& packet, std::uint64_t min_size) {
  const std::uint64_t n = packet.size();
  for (std::uint64_t c = min_size; c <= n / 2; ++c) {
    if (n % c != 0) continue;
    std::unordered_set<std::string> seen;
    bool distinct = true;
    for (std::uint64_t at = 0; at < n && distinct; at += c)
      distinct = seen.insert(packet.substr(at, c)).second;
    if (distinct) return c;
  }
  return n;
}

struct Case {
  std::uint64_t chunk;
  std::uint64_t count;
  std::uint64_t repeat_of;  // the last chunk repeats this one, or == count
};

class ChunkSearch : public testing::TestWithParam<Case> {};

TEST_P(ChunkSearch, MatchesThePlainSearch) {
  const Case c = GetParam();
  std::mt19937_64 rng(c.chunk * 1000 + c.count);
  std::string packet(c.chunk * c.count, '\0');
  for (auto& b : packet) b = static_cast<char>(rng());
  if (c.repeat_of < c.count)
    packet.replace(packet.size() - c.chunk, c.chunk, packet, c.repeat_of * c.chunk, c.chunk);
  const ByteView view(reinterpret_cast<const std::uint8_t*>(packet.data()), packet.size());
  for (std::uint64_t min_size : {std::uint64_t{1}, c.chunk})
    EXPECT_EQ(get_chunk_size_min(view, min_size), plain_search(packet, min_size)) << min_size;
}

INSTANTIATE_TEST_SUITE_P(Shapes, ChunkSearch,
                         testing::Values(Case{5, 300000, 300000}, Case{5, 300000, 1},
                                         Case{12, 270000, 264000}, Case{24, 280000, 0},
                                         Case{3, 5000, 4000}, Case{2, 20000, 20000}));

}  // namespace
}  // namespace mirelon
