#pragma once
// The building blocks of seeded_permutation (declared with the keys): a
// ChaCha20 word stream, an unbiased bounded draw and a Fisher-Yates shuffle
// that packs several index draws into one 32-bit draw.

#include <array>
#include <cstdint>
#include <utility>

#include "mirelon/bytes.hpp"
#include "mirelon/utils/keys.hpp"

namespace mirelon {

// The ChaCha20 keystream (key = seed, zero nonce, block counter from 0) as
// little-endian 32-bit words, refilled four blocks at a time.
class PermutationRng {
 public:
  explicit PermutationRng(SeedView seed);
  ~PermutationRng();
  PermutationRng(const PermutationRng&) = delete;
  PermutationRng& operator=(const PermutationRng&) = delete;

  std::uint32_t next_word();
  // Uniform in 0..bound-1 for 1 <= bound < 2^32. Throws InternalFailure
  // ("cannot sample empty range") for bound 0.
  std::uint32_t draw_below(std::uint32_t bound);

 private:
  std::array<std::uint8_t, kSeedSize> key_;
  std::uint64_t counter_ = 0;
  std::array<std::uint32_t, 64> buffer_{};
  std::size_t position_ = 64;
};

// (product m * (m+1) * ... below 2^32, count of factors), for m >= 2.
std::pair<std::uint32_t, std::uint32_t> run_bound(std::uint32_t m);

// The shuffle's dice: serves index draws for consecutive steps from packed
// 32-bit draws.
class IndexChooser {
 public:
  explicit IndexChooser(std::uint32_t n = 0) : n_(n), remaining_(n == 0 ? 1 : 0) {}
  // A value in 0..n (n being the previous step's n + 1).
  std::uint32_t next_index(PermutationRng& rng);

 private:
  std::uint32_t n_;
  std::uint32_t chunk_ = 0;
  std::uint8_t remaining_;
};

}  // namespace mirelon
