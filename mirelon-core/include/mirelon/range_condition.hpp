#pragma once
// Range conditions: a salted order-preserving map from float32 order keys to
// 64-bit values, the prepared bounds of a range and the branch value of a test.

#include <cstdint>

#include "mirelon/bytes.hpp"

namespace mirelon {

inline constexpr std::uint64_t kInRangeMask = 0xDEADBEEFDEADBEEFULL;
inline constexpr std::uint32_t kDomainMax = 0xFFFFFFFEu;
inline constexpr std::uint64_t kRangeMax = 0xFFFFFFFFFFFFFFFEULL;

// Keys of non-NaN floats sort like the floats; -0.0 -> 0x7FFFFFFF,
// +0.0 -> 0x80000000. Only the NaN 0x7FFFFFFF has the key 0xFFFFFFFF, which
// lies outside the map's domain.
std::uint32_t order_key(float value);

// Maps keys 0..kDomainMax strictly increasingly into 0..kRangeMax, keyed by
// the salt through HMAC-SHA256 pivots.
class OrderPreservingMap {
 public:
  explicit OrderPreservingMap(ByteView salt);
  ~OrderPreservingMap();
  OrderPreservingMap(const OrderPreservingMap&) = delete;
  OrderPreservingMap& operator=(const OrderPreservingMap&) = delete;

  // key must be at most kDomainMax.
  std::uint64_t map_value(std::uint32_t key) const;

 private:
  struct State;
  State* state_;
};

struct PreparedBounds {
  std::uint64_t low;
  std::uint64_t high;
  friend bool operator==(const PreparedBounds&, const PreparedBounds&) = default;
};

// (map(order_key(low)), map(order_key(high))), low first. Throws
// InternalFailure("called `Option::unwrap()` on a `None` value") for a bound
// whose key is outside the domain.
PreparedBounds prep_condition(float low_bound, float high_bound, ByteView salt);

// h XOR (low AND high) XOR (kInRangeMask if low <= map(test) <= high), with h
// the little-endian first 8 bytes of SHA-256(low BE || high BE || salt).
// Throws like prep_condition for a test value outside the domain.
std::uint64_t cond_hash_branch(std::uint64_t low_bound, std::uint64_t high_bound,
                               float test_value, ByteView salt);

}  // namespace mirelon
