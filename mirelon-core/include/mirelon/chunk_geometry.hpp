#pragma once
// Chunk geometry: a packet of n bytes is n / c chunks of c bytes, and a usable
// chunk size divides n and gives pairwise distinct chunks.

#include <cstdint>

#include "mirelon/bytes.hpp"

namespace mirelon {

// The smallest usable chunk size of at least `min_size`; n when none up to
// n / 2 is usable; 0 for an empty packet. Throws InternalFailure ("attempt to
// calculate the remainder with a divisor of zero") when min_size is 0 and the
// packet is not empty.
std::uint64_t get_chunk_size_min(ByteView packet, std::uint64_t min_size);

// get_chunk_size_min(packet, 4).
std::uint64_t get_chunk_size(ByteView packet);

}  // namespace mirelon
