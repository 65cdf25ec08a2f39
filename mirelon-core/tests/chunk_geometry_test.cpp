#include <gtest/gtest.h>

#include <string>

#include "mirelon/chunk_geometry.hpp"
#include "mirelon/failure.hpp"

namespace mirelon {
namespace {

ByteView view(const std::string& s) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

struct Case {
  std::string packet;
  std::uint64_t min_size;
  std::uint64_t expected;
};

class ChunkSize : public ::testing::TestWithParam<Case> {};

TEST_P(ChunkSize, PicksTheSmallestUsableSize) {
  const Case& c = GetParam();
  EXPECT_EQ(get_chunk_size_min(view(c.packet), c.min_size), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChunkSize,
    ::testing::Values(Case{"", 0, 0}, Case{"", 4, 0}, Case{"abc", 4, 3}, Case{"abcdefg", 4, 7},
                      Case{"abcdabce", 4, 4}, Case{"abcdabcd", 4, 8},
                      Case{"abcdefghijklm", 4, 13},           // prime length
                      Case{"XXXXXXXXYYYY", 4, 6},             // X X Y fails 4, 5 skipped
                      Case{"aaaaaaaaaaaa", 4, 12},            // identical bytes
                      Case{"abcdefgh", 1, 1}, Case{"aabb", 1, 2}, Case{"abcdefgh", 5, 8},
                      Case{"abcdefghi", 9, 9}));

TEST(ChunkSize, DefaultMinimumIsFour) {
  std::string p = "0123456789abcdef0123";
  EXPECT_EQ(get_chunk_size(view(p)), get_chunk_size_min(view(p), 4));
}

TEST(ChunkSize, ZeroMinimumOnANonEmptyPacketIsAnInternalFailure) {
  try {
    get_chunk_size_min(view("ab"), 0);
    FAIL();
  } catch (const InternalFailure& e) {
    EXPECT_STREQ(e.what(), "attempt to calculate the remainder with a divisor of zero");
  }
}

TEST(InvoluteErrorText, MatchesTheDisplayTexts) {
  EXPECT_EQ(message(ChunkMismatch{10, 4}), "Packet length (10) is not a multiple of chunk size (4).");
  EXPECT_EQ(message(DuplicateCrumbs{}),
            "Duplicate crumbs detected after operations, cannot create a unique pattern");
}

}  // namespace
}  // namespace mirelon
