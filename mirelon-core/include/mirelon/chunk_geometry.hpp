#pragma once
// Chunk geometry: a packet of n bytes is n / c chunks of c bytes, and a usable
// chunk size divides n and gives pairwise distinct chunks.

#include <cstdint>
#include <string>
#include <variant>

#include "mirelon/bytes.hpp"

namespace mirelon {

// The failures of the involution operations, returned as values.
struct ChunkMismatch {
  std::uint64_t packet_len;
  std::uint64_t chunk_size;
};
struct DuplicateCrumbs {};
using InvoluteError = std::variant<ChunkMismatch, DuplicateCrumbs>;

// The display text of an involution failure (no prefix).
std::string message(const InvoluteError& error);

// The smallest usable chunk size of at least `min_size`; n when none up to
// n / 2 is usable; 0 for an empty packet. Throws InternalFailure ("attempt to
// calculate the remainder with a divisor of zero") when min_size is 0 and the
// packet is not empty.
std::uint64_t get_chunk_size_min(ByteView packet, std::uint64_t min_size);

// get_chunk_size_min(packet, 4).
std::uint64_t get_chunk_size(ByteView packet);

}  // namespace mirelon
