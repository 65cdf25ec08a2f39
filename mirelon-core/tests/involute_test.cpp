#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto.hpp"
#include "mirelon/failure.hpp"
#include "mirelon/involute.hpp"

namespace mirelon {
namespace {

ByteView view(const std::string& s) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

Bytes random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

std::string hex(const Bytes& b) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (std::uint8_t v : b) s += {digits[v >> 4], digits[v & 15]};
  return s;
}

// The steps written out plainly: a sorted copy, one hash per chunk, a
// sequential sort of the indices.
Bytes reference_involution(ByteView packet, ByteView salt, std::size_t c) {
  const PreparedBounds b = prep_condition(-1.0f, 1.0f, salt);
  const std::uint64_t branch = cond_hash_branch(b.low, b.high, 0.0f, salt);
  Bytes sorted(packet.begin(), packet.end());
  sorted.resize(packet.size() + 8);
  store_u64_be(sorted.data() + packet.size(), branch);
  std::sort(sorted.begin(), sorted.end());
  const crypto::Digest seed = crypto::sha256(sorted);
  const std::size_t k = packet.size() / c;
  std::vector<crypto::Digest> crumbs(k);
  for (std::size_t i = 0; i < k; ++i) {
    Bytes input(packet.begin() + i * c, packet.begin() + (i + 1) * c);
    input.insert(input.end(), salt.begin(), salt.end());
    input.insert(input.end(), seed.begin(), seed.end());
    crumbs[i] = crypto::sha256(input);
    for (std::size_t j = 0; j < 32; ++j) crumbs[i][j] ^= seed[j];
  }
  std::vector<std::size_t> order(k);
  for (std::size_t i = 0; i < k; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](auto a, auto b) { return crumbs[a] < crumbs[b]; });
  Bytes out(packet.size());
  for (std::size_t j = 0; j < k; ++j)
    std::memcpy(out.data() + j * c, packet.data() + order[order[j]] * c, c);
  return out;
}

TEST(Involute, MatchesKnownAnswers) {
  Bytes p(48);
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(hex(*involute_packet(p, view("salt"), 4)),
            "0001020314151617040506070c0d0e0f1c1d1e1f2021222328292a2b18191a1b08090a0b24252627"
            "101112132c2d2e2f");
  EXPECT_EQ(hex(*involute_packet(view("the quick brown fox jumps over the lazy dog!"), {}, 4)),
            "6865206c73206f766b20627274686520666f78206f776e20617a7920717569636a756d706572207464"
            "6f6721");
}

// Large enough that the histogram, crumbs, sort and copy all split over the
// pool.
class InvoluteLarge : public ::testing::TestWithParam<std::size_t> {};

TEST_P(InvoluteLarge, MatchesPlainStepsAndRestores) {
  const std::size_t c = GetParam();
  const Bytes packet = random_bytes((std::size_t{3} << 20) / c * c, static_cast<std::uint32_t>(c));
  const std::string salt = "0123456789abcdef";
  auto once = involute_packet(packet, view(salt), c);
  ASSERT_TRUE(once);
  EXPECT_EQ(*once, reference_involution(packet, view(salt), c));
  auto twice = involute_packet(*once, view(salt), c);
  ASSERT_TRUE(twice);
  EXPECT_EQ(*twice, packet);
}

INSTANTIATE_TEST_SUITE_P(Involute, InvoluteLarge, ::testing::Values(8, 16, 64, 4096));

TEST(Involute, RestoresForEveryChunkSizeAndSaltLength) {
  for (std::uint32_t seed = 0; seed < 40; ++seed) {
    const std::size_t c = 1 + seed % 13;
    const Bytes packet = random_bytes(c * (3 + seed * 7 % 50), seed);
    const Bytes salt = random_bytes(seed * 5 % 101, seed + 1000);
    auto once = involute_packet(packet, salt, c);
    if (!once) {  // short chunks of random bytes may repeat
      EXPECT_TRUE(std::holds_alternative<DuplicateCrumbs>(once.error()));
      continue;
    }
    auto twice = involute_packet(*once, salt, c);
    ASSERT_TRUE(twice);
    EXPECT_EQ(*twice, packet) << "seed " << seed;
  }
}

struct Unchanged {
  std::string packet;
  std::uint64_t chunk_size;
};

class InvoluteUnchanged : public ::testing::TestWithParam<Unchanged> {};

TEST_P(InvoluteUnchanged, ReturnsThePacket) {
  const Unchanged& u = GetParam();
  auto out = involute_packet(view(u.packet), view("s"), u.chunk_size);
  ASSERT_TRUE(out);
  EXPECT_EQ(std::string(out->begin(), out->end()), u.packet);
}

INSTANTIATE_TEST_SUITE_P(Involute, InvoluteUnchanged,
                         ::testing::Values(Unchanged{"", 0}, Unchanged{"aaaa", 0},
                                           Unchanged{"", 7}, Unchanged{"abcdefgh", 8},
                                           Unchanged{"abcdefgh", 4}, Unchanged{"abcdefghij", 5}));

TEST(Involute, ChunkSizeZeroChecksNothing) {
  auto out = cond_involute_packet(view("abc"), {}, 0, 0, 0, std::bit_cast<float>(0x7FFFFFFFu));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->size(), 3u);
}

TEST(Involute, ChunkMismatchCarriesLengthAndSize) {
  auto out = involute_packet(view("0123456789"), {}, 4);
  ASSERT_FALSE(out);
  EXPECT_EQ(message(out.error()), "Packet length (10) is not a multiple of chunk size (4).");
  out = involute_packet(view("abc"), {}, 0xFFFFFFFFFFFFFFFFULL);
  ASSERT_FALSE(out);
  EXPECT_EQ(message(out.error()),
            "Packet length (3) is not a multiple of chunk size (18446744073709551615).");
}

// Few and many chunks take different sorting paths; a repeat anywhere, or a
// packet of one repeated chunk, must be caught by both.
class InvoluteDuplicate : public ::testing::TestWithParam<std::size_t> {};

TEST_P(InvoluteDuplicate, EqualChunksAreDuplicateCrumbs) {
  const std::size_t k = GetParam();
  Bytes packet = random_bytes(16 * k, static_cast<std::uint32_t>(k));
  std::memcpy(packet.data() + 16 * (k - 1), packet.data() + 16 * (k / 3), 16);
  auto out = involute_packet(packet, view("x"), 16);
  ASSERT_FALSE(out);
  EXPECT_TRUE(std::holds_alternative<DuplicateCrumbs>(out.error()));
  const Bytes same(16 * k, 0x5a);
  out = involute_packet(same, view("x"), 16);
  ASSERT_FALSE(out);
  EXPECT_TRUE(std::holds_alternative<DuplicateCrumbs>(out.error()));
}

INSTANTIATE_TEST_SUITE_P(Involute, InvoluteDuplicate, ::testing::Values(3, 1000, 100000));

TEST(Involute, OutsideNanFailsOnlyAfterLengthChecks) {
  const float outside = std::bit_cast<float>(0x7FFFFFFFu);
  EXPECT_FALSE(cond_involute_packet(view("abc"), {}, 2, 0, 1, outside));
  EXPECT_TRUE(cond_involute_packet({}, {}, 2, 0, 1, outside));
  try {
    (void)cond_involute_packet(view("abcd"), {}, 2, 0, 1, outside);
    FAIL();
  } catch (const InternalFailure& e) {
    EXPECT_STREQ(e.what(), "called `Option::unwrap()` on a `None` value");
  }
}

}  // namespace
}  // namespace mirelon
