#pragma once
// Forward data mapping: one party's mapped sequence from the data sequences of
// all parties, the public key A and the party's private key B. Positions are
// independent; byte arithmetic is modulo 256.

#include <cstddef>
#include <cstdint>
#include <span>

#include "mirelon/bytes.hpp"

namespace mirelon {

// The mapped sequence of party `identity`. Checks, in order: at least two
// sequences, identity < count, equal lengths; then maps every position on the
// worker pool. All failures are InternalFailure; a failing table lookup
// reports the lowest failing position.
Bytes map_data(ByteView pub_key, ByteView priv_key, std::uint64_t identity,
               std::span<const ByteView> data_sequences);

// The checks map_data makes before mapping, in the same order and with the
// same failures; returns the length of the result.
std::size_t map_data_length(std::uint64_t identity, std::span<const ByteView> data_sequences);

// map_data writing into `out`, which must hold exactly map_data_length bytes
// and must not overlap the inputs.
void map_data_into(ByteView pub_key, ByteView priv_key, std::uint64_t identity,
                   std::span<const ByteView> data_sequences, std::span<std::uint8_t> out);

}  // namespace mirelon
