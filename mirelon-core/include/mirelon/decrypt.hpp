#pragma once
// Inverse data mapping: all parties' data sequences from their mapped
// sequences, the public key and every party's private key.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mirelon/bytes.hpp"

namespace mirelon {

// The restored data sequences, one per party in party order. All failures are
// InternalFailure, checked in order: counts, no sequences, equal lengths, then
// (only when there is at least one position) the public key length (256) and
// the party count (at least two).
std::vector<Bytes> inv_data(ByteView pub_key, std::span<const ByteView> priv_keys,
                            std::span<const ByteView> data_sequences);

// The checks inv_data makes before restoring, in the same order and with the
// same failures; returns the length of every result.
std::size_t inv_data_length(ByteView pub_key, std::span<const ByteView> priv_keys,
                            std::span<const ByteView> data_sequences);

// inv_data writing party j's sequence into out[j]; `out` holds one buffer per
// party of exactly inv_data_length bytes, none overlapping the inputs.
void inv_data_into(ByteView pub_key, std::span<const ByteView> priv_keys,
                   std::span<const ByteView> data_sequences,
                   std::span<const std::span<std::uint8_t>> out);

}  // namespace mirelon
