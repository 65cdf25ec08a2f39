#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto.hpp"
#include "mirelon/failure.hpp"
#include "mirelon/utils/keys.hpp"
#include "mirelon/utils/permutation.hpp"

namespace mirelon {
namespace {

Bytes from_hex(const std::string& hex) {
  if (hex == "-") return {};
  Bytes out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return out;
}

template <std::size_t N>
std::array<std::uint8_t, N> fixed(const Bytes& b) {
  std::array<std::uint8_t, N> out{};
  std::copy_n(b.begin(), N, out.begin());
  return out;
}

ByteView text(std::string_view s) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

bool is_permutation(Key key) {
  std::sort(key.begin(), key.end());
  for (int i = 0; i < 256; ++i)
    if (key[i] != i) return false;
  return true;
}

TEST(KeyDerivation, HkdfMatchesRfc5869Case3) {
  // No salt, empty info, IKM = 22 bytes of 0x0b.
  const Bytes ikm(22, 0x0b);
  std::array<std::uint8_t, 42> okm;
  crypto::hkdf_sha256(ikm, {}, okm);
  EXPECT_EQ(Bytes(okm.begin(), okm.end()),
            from_hex("8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d"
                     "9d201395faa4b61a96c8"));
}

struct DerivationVector {
  Bytes party_id, purpose;
  std::array<std::uint8_t, kSeedSize> master_seed, entropy, derived;
  Bytes key;
};

std::vector<DerivationVector> load_vectors() {
  std::ifstream in(std::string(MIRELON_TEST_VECTORS) + "/key_derivation.txt");
  std::vector<DerivationVector> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string f[6];
    for (auto& s : f) fields >> s;
    out.push_back({from_hex(f[0]), from_hex(f[1]), fixed<kSeedSize>(from_hex(f[2])),
                   fixed<kSeedSize>(from_hex(f[3])), fixed<kSeedSize>(from_hex(f[4])),
                   from_hex(f[5])});
  }
  return out;
}

// Independent HKDF (Python's hmac) and permutation model; covers empty labels,
// colons, UTF-8 text, and labels on either side of the on-stack buffer size.
TEST(KeyDerivation, MatchesIndependentModel) {
  const auto vectors = load_vectors();
  ASSERT_GE(vectors.size(), 9u);
  for (const auto& v : vectors) {
    Key key = derive_key(v.party_id, v.purpose, v.master_seed, v.entropy);
    EXPECT_EQ(Bytes(key.begin(), key.end()), v.key);
    std::array<std::uint8_t, kSeedSize> derived;
    Bytes label(text("mirelon:").begin(), text("mirelon:").end());
    label.insert(label.end(), v.party_id.begin(), v.party_id.end());
    label.push_back(':');
    label.insert(label.end(), v.purpose.begin(), v.purpose.end());
    label.insert(label.end(), v.entropy.begin(), v.entropy.end());
    crypto::hkdf_sha256(v.master_seed, label, derived);
    EXPECT_EQ(derived, v.derived);
  }
}

TEST(KeyDerivation, ColonsInLabelsAreNotEscaped) {
  const std::array<std::uint8_t, kSeedSize> seed{1, 2, 3}, entropy{4, 5, 6};
  EXPECT_EQ(derive_key(text("a:b"), text("c"), seed, entropy),
            derive_key(text("a"), text("b:c"), seed, entropy));
  EXPECT_NE(derive_key(text("a"), text("bc"), seed, entropy),
            derive_key(text("a"), text("b:c"), seed, entropy));
}

std::array<std::uint8_t, kSeedSize> fixed_block() {
  std::array<std::uint8_t, kSeedSize> block;
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(0xa0 + i);
  return block;
}

TEST(KeyDerivation, GenKeyDerivesFromTheSourcesBlock) {
  const std::array<std::uint8_t, kSeedSize> seed{9};
  EntropySource source = [](EntropyBlock out) {
    auto block = fixed_block();
    std::copy(block.begin(), block.end(), out.begin());
    return true;
  };
  EXPECT_EQ(gen_key(text("p"), text("q"), seed, source),
            derive_key(text("p"), text("q"), seed, fixed_block()));
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

TEST(KeyDerivation, OsEntropyGivesFreshPermutations) {
  const std::array<std::uint8_t, kSeedSize> seed{};
  Key a = gen_key(text("p"), text("q"), seed);
  Key b = gen_key(text("p"), text("q"), seed);
  EXPECT_TRUE(is_permutation(a));
  EXPECT_TRUE(is_permutation(b));
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace mirelon
