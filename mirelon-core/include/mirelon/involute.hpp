#pragma once
// Packet involution and key cycling: the chunks of a packet are rearranged by
// a permutation derived from their contents, a salt and a branch value, so
// that applying the same operation to the output restores the input.

#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include <tl/expected.hpp>

#include "mirelon/bytes.hpp"
#include "mirelon/range_condition.hpp"

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

// Rearranges the chunks of `packet` under the branch value of
// cond_hash_branch(low_bound, high_bound, test_value, salt). A chunk size of 0
// returns a copy; a chunk size not dividing the length is ChunkMismatch; equal
// chunks give DuplicateCrumbs.
tl::expected<Bytes, InvoluteError> cond_involute_packet(ByteView packet, ByteView salt,
                                                        std::uint64_t chunk_size,
                                                        std::uint64_t low_bound,
                                                        std::uint64_t high_bound,
                                                        float test_value);

// cond_involute_packet with the range -1.0..1.0 prepared under `salt` and the
// test value 0.0.
tl::expected<Bytes, InvoluteError> involute_packet(ByteView packet, ByteView salt,
                                                   std::uint64_t chunk_size);

// Undoes the involution under old_salt, substitutes old_key[p] -> new_key[p]
// byte by byte, and applies the involution under new_salt. Throws
// InternalFailure (the "Keys must be permutations from the same set"
// assertion) when the keys are not rearrangements of each other.
tl::expected<Bytes, InvoluteError> cycle_packet(ByteView packet, ByteView old_salt,
                                                ByteView new_salt, ByteView old_key,
                                                ByteView new_key, std::uint64_t chunk_size);

// The same three operations writing into `out`, which must hold exactly
// packet.size() bytes and must not overlap any input (InternalFailure
// otherwise). On an error value nothing has been written; the vector-returning
// forms above are these with a fresh vector.
tl::expected<void, InvoluteError> cond_involute_packet_into(ByteView packet, ByteView salt,
                                                            std::uint64_t chunk_size,
                                                            std::uint64_t low_bound,
                                                            std::uint64_t high_bound,
                                                            float test_value,
                                                            std::span<std::uint8_t> out);
tl::expected<void, InvoluteError> involute_packet_into(ByteView packet, ByteView salt,
                                                       std::uint64_t chunk_size,
                                                       std::span<std::uint8_t> out);
tl::expected<void, InvoluteError> cycle_packet_into(ByteView packet, ByteView old_salt,
                                                    ByteView new_salt, ByteView old_key,
                                                    ByteView new_key, std::uint64_t chunk_size,
                                                    std::span<std::uint8_t> out);

}  // namespace mirelon
