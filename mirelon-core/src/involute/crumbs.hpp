#pragma once
// The crumb of a chunk: SHA-256(chunk || salt || seed) XOR seed, 32 bytes.
// Kept as one small function so that a batched hasher can replace it.

#include <cstdint>

#include "crypto.hpp"
#include "mirelon/bytes.hpp"

namespace mirelon {

// A chunk index and its crumb. The crumb is held as four big-endian words, so
// that comparing words in order is the unsigned lexicographic order of the
// 32 crumb bytes.
struct CrumbRecord {
  std::uint64_t words[4];
  std::uint64_t index;
};

void compute_crumb(ByteView chunk, ByteView salt, const crypto::Digest& seed,
                   CrumbRecord& record);

}  // namespace mirelon
