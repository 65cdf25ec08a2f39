#include "crypto/sha256_multi.hpp"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <random>
#include <vector>

#include "support/crypto_support.hpp"

namespace mirelon::crypto {
namespace {

struct Batch {
  std::vector<Bytes> own;
  Bytes shared;
  std::vector<const std::uint8_t*> pointers;
};

Batch random_batch(std::mt19937_64& rng, std::size_t count, std::size_t own_len,
                   std::size_t shared_len) {
  Batch b;
  for (std::size_t i = 0; i < count; ++i) {
    Bytes m(own_len);
    for (auto& x : m) x = static_cast<std::uint8_t>(rng());
    b.own.push_back(std::move(m));
  }
  b.shared.resize(shared_len);
  for (auto& x : b.shared) x = static_cast<std::uint8_t>(rng());
  for (const Bytes& m : b.own) b.pointers.push_back(m.data());
  return b;
}

Digest openssl_digest(const Bytes& own, const Bytes& shared) {
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  SHA256_Update(&ctx, own.data(), own.size());
  SHA256_Update(&ctx, shared.data(), shared.size());
  Digest d;
  SHA256_Final(d.data(), &ctx);
  return d;
}

// Hashes the batch in two steps, `done` leading blocks first; with a tally,
// the leading blocks are counted into it.
std::vector<Digest> split_digests(const Batch& b, std::size_t done,
                                  kernels::ByteTally* tally = nullptr) {
  const std::size_t own_len = b.own.empty() ? 0 : b.own[0].size();
  std::vector<ShaState> states(b.own.size(), kShaInitial);
  if (tally)
    sha_absorb_counting(states.data(), b.pointers.data(), b.own.size(), 0, done, *tally);
  else
    sha_absorb(states.data(), b.pointers.data(), b.own.size(), 0, done);
  std::vector<Digest> out(b.own.size());
  sha_finish(states.data(), b.pointers.data(), own_len, done, b.shared, b.own.size(), out.data());
  return out;
}

void expect_openssl_digests(const Batch& b, const std::vector<Digest>& got) {
  for (std::size_t i = 0; i < b.own.size(); ++i)
    ASSERT_EQ(got[i], openssl_digest(b.own[i], b.shared)) << "message " << i;
}

// Every total length from 0 to 1100, split between own and shared parts in
// varying ways, in a batch of a full group and a partial one.
TEST(Sha256Multi, EveryLengthUpTo1100MatchesOpenssl) {
  std::mt19937_64 rng(1);
  for (std::size_t len = 0; len <= 1100; ++len) {
    const std::size_t shared_len = (len * 37) % (len + 1);
    const Batch b = random_batch(rng, kShaLanes + 3, len - shared_len, shared_len);
    std::vector<Digest> out(b.own.size());
    sha256_batch(b.pointers.data(), len - shared_len, b.shared, b.own.size(), out.data());
    expect_openssl_digests(b, out);
    SCOPED_TRACE(len);
  }
}

class Sha256MultiSplit : public ::testing::TestWithParam<std::size_t> {};

// Leading blocks hashed first, the rest later: random counts, lengths and
// split points.
TEST_P(Sha256MultiSplit, AbsorbThenFinishMatchesOpenssl) {
  std::mt19937_64 rng(GetParam());
  for (int round = 0; round < 50; ++round) {
    const std::size_t count = rng() % 23;
    const std::size_t own_len = rng() % 700;
    const std::size_t shared_len = rng() % 150;
    const Batch b = random_batch(rng, count, own_len, shared_len);
    const std::size_t done = own_len / kShaBlock == 0 ? 0 : rng() % (own_len / kShaBlock + 1);
    if (round % 2 == 0) {
      expect_openssl_digests(b, split_digests(b, done));
      continue;
    }
    // Counting on the way changes no digest and counts every absorbed byte.
    kernels::ByteTally tally;
    expect_openssl_digests(b, split_digests(b, done, &tally));
    tally.settle();
    std::array<std::uint64_t, 256> expected{};
    for (const Bytes& m : b.own)
      for (std::size_t i = 0; i < done * kShaBlock; ++i) ++expected[m[i]];
    EXPECT_EQ(tally.totals(), expected) << "round " << round;
  }
}
INSTANTIATE_TEST_SUITE_P(Seeds, Sha256MultiSplit, ::testing::Values(2, 3, 4, 5));

}  // namespace
}  // namespace mirelon::crypto
