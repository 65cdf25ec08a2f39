#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mirelon/failure.hpp"
#include "mirelon/utils/keys.hpp"

// gen_key's entropy source, which the Python tests cannot replace (derive_key's
// known answers are in vectors_test.cpp).
namespace mirelon {
namespace {

ByteView text(std::string_view s) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
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
