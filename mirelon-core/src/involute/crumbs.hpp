#pragma once
// The crumb of a chunk: SHA-256(chunk || salt || seed) XOR seed, 32 bytes.
// Kept as one small function so that a batched hasher can replace it.

#include <cstdint>

#include "crypto.hpp"
#include "mirelon/bytes.hpp"

namespace mirelon {

crypto::Digest compute_crumb(ByteView chunk, ByteView salt, const crypto::Digest& seed);

}  // namespace mirelon
