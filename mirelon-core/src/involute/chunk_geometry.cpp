#include "mirelon/chunk_geometry.hpp"

#include <string>
#include <string_view>
#include <unordered_set>

#include "crypto/siphash.hpp"
#include "mirelon/failure.hpp"

namespace mirelon {
namespace {

struct ChunkHash {
  std::size_t operator()(std::string_view chunk) const {
    return process_keyed_hash(
        ByteView(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()));
  }
};

// True when the n / c chunks are pairwise distinct. Stops at the first repeat.
bool chunks_distinct(ByteView packet, std::uint64_t c) {
  const std::uint64_t count = packet.size() / c;
  std::unordered_set<std::string_view, ChunkHash> seen;
  seen.reserve(count);
  const char* base = reinterpret_cast<const char*>(packet.data());
  for (std::uint64_t k = 0; k < count; ++k)
    if (!seen.emplace(base + k * c, c).second) return false;
  return true;
}

}  // namespace

std::string message(const InvoluteError& error) {
  if (const auto* m = std::get_if<ChunkMismatch>(&error))
    return "Packet length (" + std::to_string(m->packet_len) +
           ") is not a multiple of chunk size (" + std::to_string(m->chunk_size) + ").";
  return "Duplicate crumbs detected after operations, cannot create a unique pattern";
}

std::uint64_t get_chunk_size_min(ByteView packet, std::uint64_t min_size) {
  const std::uint64_t n = packet.size();
  if (n == 0) return 0;
  const std::uint64_t half = n / 2;
  for (std::uint64_t c = min_size; c <= half; ++c) {
    if (c == 0) throw InternalFailure("attempt to calculate the remainder with a divisor of zero");
    if (n % c == 0 && chunks_distinct(packet, c)) return c;
  }
  return n;
}

std::uint64_t get_chunk_size(ByteView packet) { return get_chunk_size_min(packet, 4); }

}  // namespace mirelon
