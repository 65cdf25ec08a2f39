#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto.hpp"
#include "mirelon/failure.hpp"
#include "mirelon/utils/permutation.hpp"

namespace mirelon {
namespace {

Bytes from_hex(const std::string& hex) {
  Bytes out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return out;
}

std::array<std::uint8_t, kSeedSize> seed_from_hex(const std::string& hex) {
  Bytes b = from_hex(hex);
  std::array<std::uint8_t, kSeedSize> seed{};
  std::copy(b.begin(), b.end(), seed.begin());
  return seed;
}

// The keystream words 0..count-1 as little-endian 32-bit words, read back
// from published byte strings.
std::vector<std::uint32_t> words_of(const std::string& hex) {
  Bytes b = from_hex(hex);
  std::vector<std::uint32_t> words;
  for (std::size_t i = 0; i + 4 <= b.size(); i += 4) words.push_back(load_u32_le(b.data() + i));
  return words;
}

std::vector<std::uint32_t> draw_words(PermutationRng& rng, std::size_t count) {
  std::vector<std::uint32_t> words(count);
  for (auto& w : words) w = rng.next_word();
  return words;
}

const auto kZeroKey = seed_from_hex(std::string(64, '0'));
const auto kOneKey = seed_from_hex(std::string(63, '0') + "1");

// Published ChaCha20 keystream blocks (zero nonce): key 0, blocks 0 and 1;
// key 00..01, blocks 0 and 1.
const char* kZeroKeyBlocks01 =
    "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
    "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586"
    "9f07e7be5551387a98ba977c732d080dcb0f29a048e3656912c6533e32ee7aed"
    "29b721769ce64e43d57133b074d839d531ed1f28510afb45ace10a1f4b794d6f";
const char* kOneKeyBlocks01 =
    "4540f05a9f1fb296d7736e7b208e3c96eb4fe1834688d2604f450952ed432d41"
    "bbe2a0b6ea7566d2a5d1e7e20d42af2c53d792b1c43fea817e9ad275ae546963"
    "3aeb5224ecf849929b9d828db1ced4dd832025e8018b8160b82284f3c949aa5a"
    "8eca00bbb4a73bdad192b5c42f73f2fd4e273644c8b36125a64addeb006c13a0";

TEST(ChaCha, WordStreamMatchesPublishedKeystream) {
  for (auto [key, hex] : {std::pair{kZeroKey, kZeroKeyBlocks01}, {kOneKey, kOneKeyBlocks01}}) {
    PermutationRng rng(key);
    EXPECT_EQ(draw_words(rng, 32), words_of(hex));
  }
}

TEST(ChaCha, SecondRefillContinuesWithBlocksFourToSeven) {
  // Words 64, 65 and 127 (blocks 4 and 7) from an independent model of the
  // block function.
  struct Case {
    std::array<std::uint8_t, kSeedSize> key;
    std::uint32_t w64, w65, w127;
  };
  for (const Case& c : {Case{kZeroKey, 0x7488a6e5, 0xadc5472b, 0xdb841716},
                        Case{kOneKey, 0xeae04e18, 0xe4ab509c, 0x1b23b40a}}) {
    PermutationRng rng(c.key);
    std::vector<std::uint32_t> words = draw_words(rng, 128);
    EXPECT_EQ(words[64], c.w64);
    EXPECT_EQ(words[65], c.w65);
    EXPECT_EQ(words[127], c.w127);
    std::array<std::uint8_t, 512> bytes;
    crypto::chacha20_keystream(c.key, 0, bytes);
    for (std::size_t i = 0; i < words.size(); ++i)
      ASSERT_EQ(words[i], load_u32_le(bytes.data() + 4 * i)) << "word " << i;
  }
}

TEST(ChaCha, KeystreamStartsAtTheGivenCounter) {
  std::array<std::uint8_t, 64> block1;
  crypto::chacha20_keystream(kZeroKey, 1, block1);
  EXPECT_EQ(Bytes(block1.begin(), block1.end()), from_hex(std::string(kZeroKeyBlocks01).substr(128)));
}

// Zero-key words 0, 1 and 2 are 0xade0b876, 0x903df1a0, 0xe56a5d40.
struct DrawCase {
  std::uint32_t bound;
  std::uint32_t expected;
  std::size_t words_used;
};

class PermutationDrawBelow : public ::testing::TestWithParam<DrawCase> {};

TEST_P(PermutationDrawBelow, MatchesModelAndConsumesTheRightWords) {
  const DrawCase& c = GetParam();
  PermutationRng rng(kZeroKey);
  EXPECT_EQ(rng.draw_below(c.bound), c.expected);
  const std::uint32_t following[] = {0x903df1a0, 0xe56a5d40};
  EXPECT_EQ(rng.next_word(), following[c.words_used - 1]);
}

INSTANTIATE_TEST_SUITE_P(
    Permutation, PermutationDrawBelow,
    ::testing::Values(DrawCase{1, 0, 1}, DrawCase{2, 1, 1}, DrawCase{16974336, 11529142, 1},
                      DrawCase{479001600, 325342779, 2},     // second word carries
                      DrawCase{32819, 22291, 2},             // second word carries
                      DrawCase{0xfffffffe, 2917185653, 2},   // carry at the top bound
                      DrawCase{0xffffffff, 2917185653, 2}));  // second word, no carry

TEST(PermutationDrawBelow, EmptyRangeIsAnInternalFailure) {
  PermutationRng rng(kZeroKey);
  try {
    rng.draw_below(0);
    FAIL();
  } catch (const InternalFailure& e) {
    EXPECT_STREQ(e.what(), "cannot sample empty range");
  }
}

TEST(PermutationRunBound, KnownProducts) {
  using P = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_EQ(run_bound(2), (P{479001600u, 11u}));
  EXPECT_EQ(run_bound(13), (P{13u * 14 * 15 * 16 * 17 * 18 * 19, 7u}));
  EXPECT_EQ(run_bound(256), (P{256u * 257 * 258, 3u}));
  EXPECT_EQ(run_bound(65535), (P{65535u * 65536u, 2u}));
  EXPECT_EQ(run_bound(65536), (P{65536u, 1u}));
  EXPECT_EQ(run_bound(0xffffffffu), (P{0xffffffffu, 1u}));
}

TEST(PermutationRunBound, FiftyEightPackedDrawsCoverTheTable) {
  int draws = 0;
  std::uint32_t m = 2;
  std::uint32_t last_count = 0;
  for (; m <= 256; m += last_count, ++draws) last_count = run_bound(m).second;
  EXPECT_EQ(draws, 58);
  EXPECT_EQ(m, 259u);  // the last run starts at 256 and covers 256..258
  EXPECT_EQ(last_count, 3u);
}

TEST(PermutationChooser, FirstStepReadsNothing) {
  PermutationRng rng(kZeroKey);
  IndexChooser chooser;
  EXPECT_EQ(chooser.next_index(rng), 0u);
  EXPECT_EQ(rng.next_word(), 0xade0b876u);
}

struct PermutationVector {
  std::array<std::uint8_t, kSeedSize> seed;
  std::size_t words_read;
  Bytes table;
};

std::vector<PermutationVector> load_vectors() {
  std::ifstream in(std::string(MIRELON_TEST_VECTORS) + "/seeded_permutation.txt");
  std::vector<PermutationVector> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string seed, table;
    std::size_t words = 0, draws = 0;
    fields >> seed >> words >> draws >> table;
    out.push_back({seed_from_hex(seed), words, from_hex(table)});
  }
  return out;
}

TEST(PermutationVectors, MatchIndependentModel) {
  const auto vectors = load_vectors();
  ASSERT_GE(vectors.size(), 10u);
  for (const auto& v : vectors) {
    Key key = seeded_permutation(v.seed);
    EXPECT_EQ(Bytes(key.begin(), key.end()), v.table);
  }
}

TEST(PermutationVectors, ShuffleReadsExactlyTheModelsWordCount) {
  // After the 256 steps, the next word must be keystream word `words_read`,
  // which lies in the second refill for every stored seed.
  for (const auto& v : load_vectors()) {
    ASSERT_GT(v.words_read, 64u);
    ASSERT_LE(v.words_read, 116u);
    PermutationRng rng(v.seed);
    IndexChooser chooser;
    for (int i = 0; i < 256; ++i) chooser.next_index(rng);
    std::array<std::uint8_t, 512> bytes;
    crypto::chacha20_keystream(v.seed, 0, bytes);
    EXPECT_EQ(rng.next_word(), load_u32_le(bytes.data() + 4 * v.words_read));
  }
}

TEST(PermutationVectors, EverySeedGivesAPermutation) {
  std::array<std::uint8_t, kSeedSize> seed{};
  for (int s = 0; s < 500; ++s) {
    store_u32_be(seed.data(), static_cast<std::uint32_t>(s) * 2654435761u);
    seed[31] = static_cast<std::uint8_t>(s);
    Key key = seeded_permutation(seed);
    std::sort(key.begin(), key.end());
    for (int i = 0; i < 256; ++i) ASSERT_EQ(key[i], i);
  }
}

}  // namespace
}  // namespace mirelon
