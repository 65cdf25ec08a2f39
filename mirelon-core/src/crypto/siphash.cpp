#include "crypto/siphash.hpp"

#include <unistd.h>

#include <array>
#include <bit>

namespace mirelon {
namespace {

struct SipKey {
  std::uint64_t k0;
  std::uint64_t k1;
};

SipKey draw_process_key() {
  std::array<std::uint8_t, 16> bytes{};
  if (getentropy(bytes.data(), bytes.size()) != 0) {
    // No entropy: fall back to addresses and time-independent noise; the
    // table still works, it is only less protected against crafted input.
    auto a = reinterpret_cast<std::uintptr_t>(&bytes);
    store_u64_le(bytes.data(), a * 0x9E3779B97F4A7C15ULL);
  }
  return {load_u64_le(bytes.data()), load_u64_le(bytes.data() + 8)};
}

const SipKey& process_key() {
  static const SipKey key = draw_process_key();
  return key;
}

struct SipState {
  std::uint64_t v0, v1, v2, v3;
  void round() {
    v0 += v1; v1 = std::rotl(v1, 13); v1 ^= v0; v0 = std::rotl(v0, 32);
    v2 += v3; v3 = std::rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = std::rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = std::rotl(v1, 17); v1 ^= v2; v2 = std::rotl(v2, 32);
  }
  void absorb(std::uint64_t m) {
    v3 ^= m;
    round();
    v0 ^= m;
  }
};

}  // namespace

std::uint64_t process_keyed_hash(ByteView data) {
  const SipKey& key = process_key();
  SipState s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL,
             key.k0 ^ 0x6c7967656e657261ULL, key.k1 ^ 0x7465646279746573ULL};
  const std::size_t whole = data.size() & ~std::size_t{7};
  for (std::size_t i = 0; i < whole; i += 8) s.absorb(load_u64_le(data.data() + i));
  std::uint64_t last = static_cast<std::uint64_t>(data.size()) << 56;
  for (std::size_t i = whole; i < data.size(); ++i)
    last |= static_cast<std::uint64_t>(data[i]) << (8 * (i - whole));
  s.absorb(last);
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace mirelon
