#pragma once
// The fixed-width integer encodings used by the formats.

#include <cstdint>

namespace mirelon::runtime {

// Hash inputs are big-endian; the blob format is little-endian. Never memcpy a
// host integer into a format: these spell the byte order out.
inline void store_u32_be(std::uint8_t* out, std::uint32_t v) {
  for (int i = 3; i >= 0; --i, v >>= 8) out[i] = static_cast<std::uint8_t>(v);
}
inline void store_u64_be(std::uint8_t* out, std::uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) out[i] = static_cast<std::uint8_t>(v);
}
inline void store_u64_le(std::uint8_t* out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i, v >>= 8) out[i] = static_cast<std::uint8_t>(v);
}
inline std::uint64_t load_u64_be(const std::uint8_t* in) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | in[i];
  return v;
}
inline std::uint64_t load_u64_le(const std::uint8_t* in) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | in[i];
  return v;
}
inline std::uint32_t load_u32_le(const std::uint8_t* in) {
  return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
         static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

}  // namespace mirelon::runtime
