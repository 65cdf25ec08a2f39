#include "utils/permutation.hpp"

#include <openssl/crypto.h>

#include <span>

#include "crypto/openssl.hpp"
#include "runtime/byte_order.hpp"
#include "runtime/failure.hpp"

namespace mirelon {
namespace {

constexpr std::size_t kBufferWords = 64;  // four ChaCha20 blocks
constexpr std::uint64_t kWordLimit = 0xFFFFFFFFull;

// The shuffle divides a 32-bit chunk by every step size 2..256 in a serial
// chain; a hardware division per step would dominate the whole permutation.
// With M = ceil(2^64 / d), the high half of the 64x64-bit product M * n is
// exactly n / d for every 32-bit n (d >= 2).
constexpr std::array<std::uint64_t, kKeySize + 1> kReciprocals = [] {
  std::array<std::uint64_t, kKeySize + 1> r{};
  for (std::uint64_t d = 2; d <= kKeySize; ++d) r[d] = ~std::uint64_t{0} / d + 1;
  return r;
}();

std::uint32_t divide(std::uint32_t n, std::uint32_t d) {
  if (d < 2 || d >= kReciprocals.size()) return n / d;
  return static_cast<std::uint32_t>((static_cast<unsigned __int128>(kReciprocals[d]) * n) >> 64);
}

}  // namespace

PermutationRng::PermutationRng(SeedView seed) {
  std::copy(seed.begin(), seed.end(), key_.begin());
}

// The key and the buffered keystream determine the key that the caller derives;
// neither may linger on the stack.
PermutationRng::~PermutationRng() {
  OPENSSL_cleanse(key_.data(), key_.size());
  OPENSSL_cleanse(buffer_.data(), sizeof buffer_);
}

std::uint32_t PermutationRng::next_word() {
  if (position_ == kBufferWords) {
    std::array<std::uint8_t, kBufferWords * 4> bytes;
    crypto::chacha20_keystream(SeedView(key_), counter_, bytes);
    for (std::size_t i = 0; i < kBufferWords; ++i)
      buffer_[i] = runtime::load_u32_le(bytes.data() + 4 * i);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    counter_ += 4;
    position_ = 0;
  }
  return buffer_[position_++];
}

std::uint32_t PermutationRng::draw_below(std::uint32_t bound) {
  if (bound == 0) throw InternalFailure("cannot sample empty range");
  // Widening multiply: the high half is the draw, the low half decides whether
  // a second word is needed to settle a possible carry into it.
  const std::uint64_t product = std::uint64_t{next_word()} * bound;
  const auto hi = static_cast<std::uint32_t>(product >> 32);
  const auto lo = static_cast<std::uint32_t>(product);
  if (lo <= (std::uint64_t{1} << 32) - bound) return hi;
  const auto hi2 = static_cast<std::uint32_t>((std::uint64_t{next_word()} * bound) >> 32);
  const bool carry = std::uint64_t{lo} + hi2 > kWordLimit;
  return carry ? hi + 1 : hi;
}

std::pair<std::uint32_t, std::uint32_t> run_bound(std::uint32_t m) {
  std::uint64_t product = m;
  std::uint64_t current = std::uint64_t{m} + 1;
  while (product * current <= kWordLimit) {
    product *= current;
    ++current;
  }
  return {static_cast<std::uint32_t>(product), static_cast<std::uint32_t>(current - m)};
}

std::uint32_t IndexChooser::next_index(PermutationRng& rng) {
  const std::uint32_t next = n_ + 1;
  std::uint32_t left;
  if (remaining_ > 0) {
    left = remaining_ - 1u;
  } else {
    const auto [bound, count] = run_bound(next);
    chunk_ = rng.draw_below(bound);
    left = count - 1;
  }
  std::uint32_t result;
  if (left == 0) {
    // The last step of a run takes what is left of the packed draw whole.
    result = chunk_;
  } else {
    const std::uint32_t quotient = divide(chunk_, next);
    result = chunk_ - quotient * next;
    chunk_ = quotient;
  }
  remaining_ = static_cast<std::uint8_t>(left);
  n_ = next;
  return result;
}

Key seeded_permutation(SeedView seed) {
  Key table;
  for (std::size_t i = 0; i < kKeySize; ++i) table[i] = static_cast<std::uint8_t>(i);
  PermutationRng rng(seed);
  IndexChooser chooser;
  for (std::size_t i = 0; i < kKeySize; ++i) {
    const std::uint32_t j = chooser.next_index(rng);
    if (j >= kKeySize) runtime::fail_index_out_of_bounds(kKeySize, j);
    std::swap(table[i], table[j]);
  }
  return table;
}

}  // namespace mirelon
