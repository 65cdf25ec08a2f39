#pragma once
// Inverse data mapping: all parties' data sequences from their mapped
// sequences, the public key and every party's private key.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mirelon/bytes.hpp"

namespace mirelon {

inline constexpr std::size_t kTableLen = 256;

// T[K[t]] = t mod 256 for t ascending (later positions win, unset entries 0).
Bytes invert_key(ByteView key, std::size_t table_len);

// One position: the restored column from the mapped column and the inverse
// tables of all parties. Throws InternalFailure on a count or length mismatch.
Bytes inv_column(ByteView mapped_column, ByteView pub_key, std::span<const Bytes> inverse_tables);

// The restored data sequences, one per party in party order. All failures are
// InternalFailure, checked in order: counts, no sequences, equal lengths, then
// (only when there is at least one position) the public key length and the
// party count.
std::vector<Bytes> inv_data(ByteView pub_key, std::span<const ByteView> priv_keys,
                            std::span<const ByteView> data_sequences,
                            std::size_t table_len = kTableLen);

// The checks inv_data makes before restoring, in the same order and with the
// same failures; returns the length of every result.
std::size_t inv_data_length(ByteView pub_key, std::span<const ByteView> priv_keys,
                            std::span<const ByteView> data_sequences,
                            std::size_t table_len = kTableLen);

// inv_data writing party j's sequence into out[j]; `out` holds one buffer per
// party of exactly inv_data_length bytes, none overlapping the inputs.
void inv_data_into(ByteView pub_key, std::span<const ByteView> priv_keys,
                   std::span<const ByteView> data_sequences,
                   std::span<const std::span<std::uint8_t>> out,
                   std::size_t table_len = kTableLen);

}  // namespace mirelon
