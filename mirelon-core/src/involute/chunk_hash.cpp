#include "involute/chunk_hash.hpp"

#include <unistd.h>

#include <chrono>

namespace mirelon {
namespace {

ChunkHashKey draw_chunk_hash_key() {
  ChunkHashKey key{};
  if (getentropy(key.k, sizeof key.k) != 0) {
    // No entropy: the table still works, it is only less protected against
    // crafted input.
    const auto now = static_cast<std::uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const auto where = reinterpret_cast<std::uintptr_t>(&key);
    for (int i = 0; i < 4; ++i)
      key.k[i] = chunk_hash::fold_mul(now + i, where ^ 0x9E3779B97F4A7C15ULL) | 1;
  }
  return key;
}

}  // namespace

const ChunkHashKey& chunk_hash_key() {
  static const ChunkHashKey key = draw_chunk_hash_key();
  return key;
}

}  // namespace mirelon
