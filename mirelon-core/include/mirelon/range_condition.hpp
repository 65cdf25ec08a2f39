#pragma once
// Range conditions: the prepared bounds of a range and the branch value of a
// test. Both go through a salted order-preserving map from float32 values to
// 64-bit values: a <= b for non-NaN floats gives map(a) <= map(b).

#include <cstdint>

#include "mirelon/bytes.hpp"

namespace mirelon {

struct PreparedBounds {
  std::uint64_t low;
  std::uint64_t high;
  friend bool operator==(const PreparedBounds&, const PreparedBounds&) = default;
};

// (map(low), map(high)), low first, under the map keyed by `salt`. Throws
// InternalFailure("called `Option::unwrap()` on a `None` value") for a bound
// outside the map's domain (the NaN 0x7FFFFFFF).
PreparedBounds prep_condition(float low_bound, float high_bound, ByteView salt);

// h XOR (low AND high) XOR (0xDEADBEEFDEADBEEF if low <= map(test) <= high), with h
// the little-endian first 8 bytes of SHA-256(low BE || high BE || salt).
// Throws like prep_condition for a test value outside the domain (the NaN
// 0x7FFFFFFF).
std::uint64_t cond_hash_branch(std::uint64_t low_bound, std::uint64_t high_bound,
                               float test_value, ByteView salt);

}  // namespace mirelon
