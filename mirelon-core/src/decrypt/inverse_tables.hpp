#pragma once
// The inverse mapping over inverse tables of any length. The public functions
// use tables of kKeySize entries; a shorter table is reached only from here,
// so that tests can check how lookups past its end fail.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mirelon/bytes.hpp"

namespace mirelon {

// T[K[t]] = t mod 256 for t ascending (later positions win, unset entries 0).
Bytes invert_key(ByteView key, std::size_t table_len);

// One position: the restored column from the mapped column and the inverse
// tables of all parties. Throws InternalFailure on a count or length mismatch.
Bytes inv_column(ByteView mapped_column, ByteView pub_key, std::span<const Bytes> inverse_tables);

// inv_data, inv_data_length and inv_data_into with tables of `table_len`
// entries. Below kKeySize the positions are restored one at a time, in order,
// so the lowest failing position is the one reported.
std::vector<Bytes> inv_data(ByteView pub_key, std::span<const ByteView> priv_keys,
                            std::span<const ByteView> data_sequences, std::size_t table_len);
std::size_t inv_data_length(ByteView pub_key, std::span<const ByteView> priv_keys,
                            std::span<const ByteView> data_sequences, std::size_t table_len);
void inv_data_into(ByteView pub_key, std::span<const ByteView> priv_keys,
                   std::span<const ByteView> data_sequences,
                   std::span<const std::span<std::uint8_t>> out, std::size_t table_len);

}  // namespace mirelon
