#include "mirelon/range_condition.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <limits>

#include "crypto/openssl.hpp"
#include "involute/order_preserving_map.hpp"
#include "mirelon/failure.hpp"
#include "runtime/byte_order.hpp"

namespace mirelon {
namespace {

constexpr std::uint32_t kOutsideDomain = 0xFFFFFFFFu;

// 2^-64, exact.
constexpr double kTwoToMinus64 = 1.0 / 18446744073709551616.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

// Floor of a non-negative double as u64, saturating at both ends.
std::uint64_t saturating_floor(double v) {
  if (!(v >= 0.0)) return 0;
  if (v >= kTwoTo64) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(std::floor(v));
}

// The key of `value` in the map's domain; the one key past its end is a
// broken precondition of the callers.
std::uint32_t domain_key(float value) {
  const std::uint32_t key = order_key(value);
  if (key == kOutsideDomain) throw InternalFailure("called `Option::unwrap()` on a `None` value");
  return key;
}

}  // namespace

std::uint32_t order_key(float value) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  return (bits & 0x80000000u) ? ~bits : (bits ^ 0x80000000u);
}

// The HMAC key blocks are hashed once per map; every step of a walk then
// costs two compressions.
struct OrderPreservingMap::State {
  explicit State(ByteView salt) : hmac(salt) {}
  crypto::HmacSha256 hmac;
};

OrderPreservingMap::OrderPreservingMap(ByteView salt) : state_(std::make_unique<State>(salt)) {}

OrderPreservingMap::~OrderPreservingMap() = default;

std::uint64_t OrderPreservingMap::map_value(std::uint32_t key) const {
  const std::uint64_t x = key;
  std::uint32_t dlo = 0;
  std::uint32_t dhi = kDomainMax;
  std::uint64_t rlo = 0;
  std::uint64_t rhi = kRangeMax;
  std::uint32_t depth = 0;
  std::array<std::uint8_t, 28> message;
  while (dlo != dhi) {
    runtime::store_u32_be(message.data(), dlo);
    runtime::store_u32_be(message.data() + 4, dhi);
    runtime::store_u64_be(message.data() + 8, rlo);
    runtime::store_u64_be(message.data() + 16, rhi);
    runtime::store_u32_be(message.data() + 24, depth);
    const crypto::Digest mac = state_->hmac.mac(message);

    // u64 -> double rounds to nearest, ties to even; scaling by 2^-64 is exact.
    const double u = static_cast<double>(runtime::load_u64_be(mac.data())) * kTwoToMinus64;
    const double ds = static_cast<double>(std::uint64_t{dhi} - dlo + 1);
    // A range of 2^64 values would wrap to 0 here; the walk starts below that
    // and only shrinks, except through the wrap of rhi described below.
    const double rs = static_cast<double>(rhi - rlo + 1);
    const std::uint64_t dp = std::uint64_t{dlo} + saturating_floor(u * ds);
    const std::uint64_t rp = rlo + saturating_floor(u * rs);

    if (dp > x) {
      dhi = static_cast<std::uint32_t>(dp - 1);
      // When rp equals rlo this wraps below 0; the walk goes on with it.
      rhi = rp - 1;
    } else if (dp < x) {
      dlo = static_cast<std::uint32_t>(dp + 1);
      rlo = rp + 1;
    } else {
      return rp;
    }
    ++depth;
  }
  return rlo;
}

PreparedBounds prep_condition(float low_bound, float high_bound, ByteView salt) {
  const OrderPreservingMap map(salt);
  const std::uint64_t low = map.map_value(domain_key(low_bound));
  const std::uint64_t high = map.map_value(domain_key(high_bound));
  return {low, high};
}

std::uint64_t cond_hash_branch(std::uint64_t low_bound, std::uint64_t high_bound,
                               float test_value, ByteView salt) {
  std::array<std::uint8_t, 16> bounds;
  runtime::store_u64_be(bounds.data(), low_bound);
  runtime::store_u64_be(bounds.data() + 8, high_bound);
  const crypto::Digest digest = crypto::Sha256().update(bounds).update(salt).finish();
  const std::uint64_t h = runtime::load_u64_le(digest.data());

  const std::uint64_t t = OrderPreservingMap(salt).map_value(domain_key(test_value));
  const bool inside = low_bound <= t && t <= high_bound;
  return h ^ (low_bound & high_bound) ^ (inside ? kInRangeMask : 0);
}

}  // namespace mirelon
