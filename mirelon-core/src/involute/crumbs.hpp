#pragma once
// Pieces of the involution shared with key cycling. The crumb of a chunk is
// SHA-256(chunk || salt || seed) XOR seed, 32 bytes; the seed is SHA-256 of
// the packet's bytes and the branch value (big-endian) in ascending order.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include <tl/expected.hpp>

#include "crypto/openssl.hpp"
#include "kernels/byte_counts.hpp"
#include "mirelon/bytes.hpp"
#include "mirelon/involute.hpp"

namespace mirelon {

// ChunkMismatch when a chunk size other than 0 does not divide the length.
inline std::optional<InvoluteError> chunk_mismatch(std::uint64_t packet_len,
                                                   std::uint64_t chunk_size) {
  if (chunk_size != 0 && packet_len % chunk_size != 0)
    return InvoluteError(ChunkMismatch{packet_len, chunk_size});
  return std::nullopt;
}

// The branch value under which involute_packet works: the range -1.0..1.0
// prepared under `salt`, tested with 0.0.
std::uint64_t plain_branch(ByteView salt);

// One crumb, hashed on its own (the batched hashers give the same bytes).
crypto::Digest compute_crumb(ByteView chunk, ByteView salt, const crypto::Digest& seed);

// How often each byte value occurs in `packet` (counted on the pool).
kernels::ByteCounts count_bytes_on_pool(ByteView packet);

// The seed of a packet with these byte counts under `branch`.
crypto::Digest involution_seed(const kernels::ByteCounts& counts, std::uint64_t branch);

// The involution under a seed computed beforehand; `out` holds packet.size()
// bytes and may be the packet itself, whose chunks are then moved in place.
tl::expected<void, InvoluteError> involute_with_seed(ByteView packet, ByteView salt,
                                                     std::uint64_t chunk_size,
                                                     const crypto::Digest& seed,
                                                     std::span<std::uint8_t> out);

}  // namespace mirelon
