#pragma once
// A whole multi-message SHA-256 batch in one call, which only tests and
// benchmarks use.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "crypto/sha256_multi.hpp"
#include "mirelon/bytes.hpp"

namespace mirelon::crypto {

// sha_finish from the initial state: out[i] = SHA-256(own[i][0, own_len) || shared).
inline void sha256_batch(const std::uint8_t* const* own, std::size_t own_len, ByteView shared,
                         std::size_t count, Digest* out) {
  std::vector<ShaState> states(count, kShaInitial);
  sha_finish(states.data(), own, own_len, 0, shared, count, out);
}

}  // namespace mirelon::crypto
