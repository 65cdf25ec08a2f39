#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mirelon/failure.hpp"
#include "mirelon/utils/keys.hpp"

// Key derivation against the known answers of the Python model (written by
// mirelon-core-py/tests/test_keys.py --write-vectors, which also checks the
// model against the published ChaCha20 and HKDF vectors); the Python tests
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
