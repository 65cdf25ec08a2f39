#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/openssl.hpp"
#include "mirelon/failure.hpp"
#include "mirelon/utils/keys.hpp"
#include "support/crypto_support.hpp"
#include "utils/permutation.hpp"

// Known answers for key derivation: published ChaCha20 and HKDF vectors, the
// bounded draw, and keys from the Python model (written by
// mirelon-core-py/tests/test_keys.py --write-vectors), which the Python tests
// cannot compare with gen_key because gen_key draws fresh entropy.
namespace mirelon {
namespace {

Bytes from_hex(const std::string& hex) {
  Bytes out(hex == "-" ? 0 : hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return out;
}

std::array<std::uint8_t, kSeedSize> seed_of(const std::string& hex) {
  std::array<std::uint8_t, kSeedSize> seed{};
  const Bytes b = from_hex(hex);
  std::copy_n(b.begin(), kSeedSize, seed.begin());
  return seed;
}

ByteView text(std::string_view s) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

const auto kZeroKey = seed_of(std::string(64, '0'));

TEST(ChaCha, WordStreamMatchesPublishedKeystreamAndRefills) {
  // Zero key, block 0 (published), as little-endian words.
  const Bytes block = from_hex(
      "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
      "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586");
  PermutationRng rng(kZeroKey);
  for (std::size_t i = 0; i < 16; ++i)
    ASSERT_EQ(rng.next_word(), load_u32_le(block.data() + 4 * i)) << "word " << i;
  // Words 64, 65 and 127 come from the second refill (blocks 4 to 7).
  std::vector<std::uint32_t> words(128);
  for (std::size_t i = 16; i < words.size(); ++i) words[i] = rng.next_word();
  EXPECT_EQ(words[64], 0x7488a6e5u);
  EXPECT_EQ(words[65], 0xadc5472bu);
  EXPECT_EQ(words[127], 0xdb841716u);
}

// Zero-key words 0, 1 and 2 are 0xade0b876, 0x903df1a0, 0xe56a5d40.
struct DrawCase {
  std::uint32_t bound, expected;
  std::size_t words_used;
};

class DrawBelow : public ::testing::TestWithParam<DrawCase> {};

TEST_P(DrawBelow, MatchesTheModelAndConsumesTheRightWords) {
  const DrawCase& c = GetParam();
  PermutationRng rng(kZeroKey);
  EXPECT_EQ(rng.draw_below(c.bound), c.expected);
  const std::uint32_t following[] = {0x903df1a0, 0xe56a5d40};
  EXPECT_EQ(rng.next_word(), following[c.words_used - 1]);
}

INSTANTIATE_TEST_SUITE_P(
    Permutation, DrawBelow,
    ::testing::Values(DrawCase{1, 0, 1}, DrawCase{2, 1, 1}, DrawCase{16974336, 11529142, 1},
                      DrawCase{479001600, 325342779, 2},     // second word carries
                      DrawCase{32819, 22291, 2},             // second word carries
                      DrawCase{0xfffffffe, 2917185653, 2},   // carry at the top bound
                      DrawCase{0xffffffff, 2917185653, 2}));  // second word, no carry

TEST(RunBound, KnownProducts) {
  using P = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_EQ(run_bound(2), (P{479001600u, 11u}));
  EXPECT_EQ(run_bound(13), (P{13u * 14 * 15 * 16 * 17 * 18 * 19, 7u}));
  EXPECT_EQ(run_bound(256), (P{256u * 257 * 258, 3u}));
  EXPECT_EQ(run_bound(65535), (P{65535u * 65536u, 2u}));
  EXPECT_EQ(run_bound(65536), (P{65536u, 1u}));
}

TEST(KeyDerivation, HkdfMatchesRfc5869Case3) {
  std::array<std::uint8_t, 42> okm;
  crypto::hkdf_sha256(Bytes(22, 0x0b), {}, okm);
  EXPECT_EQ(Bytes(okm.begin(), okm.end()),
            from_hex("8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d"
                     "9d201395faa4b61a96c8"));
}

// Empty labels, colons, UTF-8 text, labels on either side of the on-stack
// buffer size.
TEST(KeyDerivation, DeriveKeyMatchesTheModelsVectors) {
  std::ifstream in(std::string(MIRELON_TEST_VECTORS) + "/key_derivation.txt");
  int count = 0;
  for (std::string line; std::getline(in, line); ++count) {
    if (line[0] == '#') continue;
    std::istringstream fields(line);
    std::string f[6];  // party purpose master entropy derived key
    for (auto& field : f) fields >> field;
    const Key key = derive_key(from_hex(f[0]), from_hex(f[1]), seed_of(f[2]), seed_of(f[3]));
    EXPECT_EQ(Bytes(key.begin(), key.end()), from_hex(f[5])) << line;
  }
  EXPECT_GE(count, 10);
}

TEST(KeyDerivation, TheSourcesBlockIsTheEntropy) {
  const std::array<std::uint8_t, kSeedSize> seed{7};
  const Key fixed = gen_key(text("p"), text("q"), seed, [](EntropyBlock out) {
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(3 * i);
    return true;
  });
  std::array<std::uint8_t, kSeedSize> entropy;
  for (std::size_t i = 0; i < entropy.size(); ++i) entropy[i] = static_cast<std::uint8_t>(3 * i);
  EXPECT_EQ(fixed, derive_key(text("p"), text("q"), seed, entropy));
}

TEST(KeyDerivation, FailingSourceIsAnInternalFailure) {
  const std::array<std::uint8_t, kSeedSize> seed{};
  try {
    gen_key(text("p"), text("q"), seed, [](EntropyBlock) { return false; });
    FAIL();
  } catch (const InternalFailure& e) {
    EXPECT_STREQ(e.what(), "OS RNG unavailable: OsRng");
  }
}

}  // namespace
}  // namespace mirelon
