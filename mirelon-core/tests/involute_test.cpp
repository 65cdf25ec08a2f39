#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/openssl.hpp"
#include "mirelon/failure.hpp"
#include "mirelon/involute.hpp"

// Packets of many chunks, where the histogram, crumbs, sort and copy split over
// the pool and the Python model would be slow; small packets, error texts and
// cycling are compared with the Python model.
namespace mirelon {
namespace {

Bytes random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// The steps written out plainly: a sorted copy, one hash per chunk, a
// sequential sort of the indices.
Bytes reference_involution(const Bytes& packet, ByteView salt, std::size_t c) {
  const PreparedBounds b = prep_condition(-1.0f, 1.0f, salt);
  Bytes sorted = packet;
  sorted.resize(packet.size() + 8);
  store_u64_be(sorted.data() + packet.size(), cond_hash_branch(b.low, b.high, 0.0f, salt));
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

// Chunk sizes below, at and above one hash block, and a whole page.
class InvoluteLarge : public ::testing::TestWithParam<std::size_t> {};

TEST_P(InvoluteLarge, MatchesThePlainStepsAndRestores) {
  const std::size_t c = GetParam();
  const Bytes packet = random_bytes((std::size_t{3} << 20) / c * c, static_cast<std::uint32_t>(c));
  const Bytes salt = random_bytes(16, 1);
  auto once = involute_packet(packet, salt, c);
  ASSERT_TRUE(once);
  EXPECT_EQ(*once, reference_involution(packet, salt, c));
  auto twice = involute_packet(*once, salt, c);
  ASSERT_TRUE(twice);
  EXPECT_EQ(*twice, packet);
}

INSTANTIATE_TEST_SUITE_P(Involute, InvoluteLarge, ::testing::Values(8, 64, 100, 4096));

TEST(Involute, OneRepeatAmongManyChunksIsDuplicateCrumbs) {
  Bytes packet = random_bytes(16 * 100000, 2);
  std::memcpy(packet.data() + 16 * 99999, packet.data() + 16 * 33333, 16);
  for (const Bytes& p : {packet, Bytes(16 * 100000, 0x5a)}) {
    auto out = involute_packet(p, {}, 16);
    ASSERT_FALSE(out);
    EXPECT_EQ(message(out.error()),
              "Duplicate crumbs detected after operations, cannot create a unique pattern");
  }
}

}  // namespace
}  // namespace mirelon
