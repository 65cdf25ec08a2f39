#pragma once
// The salted order-preserving map behind the range conditions: float32 values
// become order keys, and the keys map strictly increasingly into 64-bit values.

#include <cstdint>
#include <memory>

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
  std::unique_ptr<const State> state_;
};

}  // namespace mirelon
