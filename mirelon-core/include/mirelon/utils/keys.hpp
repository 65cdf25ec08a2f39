#pragma once
// Key derivation: a fresh 256-byte permutation key bound to a master seed, a
// party identifier and a purpose, with 32 bytes of operating-system entropy;
// and the seeded permutation that turns derived bytes into a key.

#include <cstdint>
#include <span>

#include "mirelon/bytes.hpp"

namespace mirelon {

// The permutation of 0..255 that a 32-byte seed determines: a Fisher-Yates
// shuffle driven by the ChaCha20 keystream under the seed (zero nonce, block
// counter from 0). Deterministic.
Key seeded_permutation(SeedView seed);

using EntropyBlock = std::span<std::uint8_t, kSeedSize>;
// Fills the block and returns true, or returns false when no entropy is to be had.
using EntropySource = bool (*)(EntropyBlock out);

// The deterministic step: HKDF-SHA256 (no salt, IKM = master_seed, info =
// "mirelon:" || party_id || ":" || purpose || entropy, 32 bytes) keys
// seeded_permutation. The derived bytes are wiped after use.
Key derive_key(ByteView party_id, ByteView purpose, SeedView master_seed,
               std::span<const std::uint8_t, kSeedSize> entropy);

// derive_key with entropy drawn from `source`, or from the operating system
// (one getentropy request for 32 bytes) without one. Throws InternalFailure
// ("OS RNG unavailable: OsRng") when the source fails.
Key gen_key(ByteView party_id, ByteView purpose, SeedView master_seed);
Key gen_key(ByteView party_id, ByteView purpose, SeedView master_seed, EntropySource source);

}  // namespace mirelon
