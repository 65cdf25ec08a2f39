#include <array>
#include <string>

#include "mirelon/failure.hpp"
#include "mirelon/involute.hpp"
#include "mirelon/parallel.hpp"

namespace mirelon {
namespace {

using Counts = std::array<std::uint64_t, 256>;

Counts byte_counts(ByteView bytes) {
  Counts counts{};
  for (std::uint8_t b : bytes) ++counts[b];
  return counts;
}

// "[1, 2, 3]": the sorted bytes in decimal.
std::string sorted_list(const Counts& counts) {
  std::string text = "[";
  bool first = true;
  for (std::size_t v = 0; v < 256; ++v) {
    const std::string value = std::to_string(v);
    for (std::uint64_t i = 0; i < counts[v]; ++i) {
      if (!first) text += ", ";
      text += value;
      first = false;
    }
  }
  return text + "]";
}

// Bytes substituted per task.
constexpr std::size_t kSubstituteGrain = std::size_t{256} << 10;

}  // namespace

tl::expected<Bytes, InvoluteError> cycle_packet(ByteView packet, ByteView old_salt,
                                                ByteView new_salt, ByteView old_key,
                                                ByteView new_key, std::uint64_t chunk_size) {
  // Equal sorted copies is the same as equal lengths and equal byte counts.
  const Counts old_counts = byte_counts(old_key);
  const Counts new_counts = byte_counts(new_key);
  if (old_key.size() != new_key.size() || old_counts != new_counts)
    fail_assert_eq("Keys must be permutations from the same set", sorted_list(old_counts),
                   sorted_list(new_counts));

  auto y = involute_packet(packet, old_salt, chunk_size);
  if (!y) return y;

  // Later positions overwrite earlier ones for repeated bytes; values absent
  // from old_key map to 0.
  std::array<std::uint8_t, 256> table{};
  for (std::size_t p = 0; p < old_key.size(); ++p) table[old_key[p]] = new_key[p];

  Bytes& z = *y;
  parallel::for_ranges(z.size(), kSubstituteGrain, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) z[i] = table[z[i]];
  });
  return involute_packet(z, new_salt, chunk_size);
}

}  // namespace mirelon
