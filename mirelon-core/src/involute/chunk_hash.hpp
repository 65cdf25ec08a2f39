#pragma once
// A fast keyed hash for byte strings of one fixed length, for tables that
// hold many chunks of the same size. Keyed once per process from the
// operating system, so that nobody without the key can build chunks that
// collide. Equal chunks always get equal hashes; for a fixed length the words
// it reads determine every byte, so distinct chunks differ in its input.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mirelon {

struct ChunkHashKey {
  std::uint64_t k[4];
};

// The process key (drawn on first use).
const ChunkHashKey& chunk_hash_key();

namespace chunk_hash {

inline std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline std::uint64_t load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// The 128-bit product of a and b, folded to 64 bits.
inline std::uint64_t fold_mul(std::uint64_t a, std::uint64_t b) {
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(p) ^ static_cast<std::uint64_t>(p >> 64);
}

inline std::uint64_t finish(const ChunkHashKey& key, std::uint64_t x, std::size_t size) {
  return fold_mul(x ^ key.k[2], key.k[3] ^ size);
}

// Lengths 4 to 8: the first and the last four bytes (they overlap below 8).
struct Short {
  static std::uint64_t hash(const ChunkHashKey& key, const std::uint8_t* p, std::size_t size) {
    return finish(key, fold_mul(load32(p) ^ key.k[0], load32(p + size - 4) ^ key.k[1]), size);
  }
};

// Lengths 9 to 16: the first and the last eight bytes.
struct Medium {
  static std::uint64_t hash(const ChunkHashKey& key, const std::uint8_t* p, std::size_t size) {
    return finish(key, fold_mul(load64(p) ^ key.k[0], load64(p + size - 8) ^ key.k[1]), size);
  }
};

// Longer: 16-byte blocks chained through the state, the last block ending at
// the last byte.
struct Long {
  static std::uint64_t hash(const ChunkHashKey& key, const std::uint8_t* p, std::size_t size) {
    std::uint64_t state = key.k[1];
    std::size_t at = 0;
    for (; at + 16 < size; at += 16)
      state = fold_mul(load64(p + at) ^ key.k[0], load64(p + at + 8) ^ state);
    const std::uint8_t* last = p + size - 16;
    state = fold_mul(load64(last) ^ key.k[0], load64(last + 8) ^ state);
    return finish(key, state, size);
  }
};

}  // namespace chunk_hash
}  // namespace mirelon
