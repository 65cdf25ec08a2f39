#include <array>
#include <cstring>
#include <string>

#include "involute/crumbs.hpp"
#include "kernels/byte_blocks.hpp"
#include "runtime/failure.hpp"
#include "mirelon/involute.hpp"
#include "runtime/memory.hpp"
#include "runtime/parallel.hpp"

namespace mirelon {
namespace {

// "[1, 2, 3]": the sorted bytes in decimal.
std::string sorted_list(const kernels::ByteCounts& counts) {
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

tl::expected<void, InvoluteError> cycle_packet_into(ByteView packet, ByteView old_salt,
                                                    ByteView new_salt, ByteView old_key,
                                                    ByteView new_key, std::uint64_t chunk_size,
                                                    std::span<std::uint8_t> out) {
  // Equal sorted copies is the same as equal lengths and equal byte counts.
  const kernels::ByteCounts old_counts = kernels::count_bytes(old_key);
  const kernels::ByteCounts new_counts = kernels::count_bytes(new_key);
  if (old_key.size() != new_key.size() || old_counts != new_counts)
    runtime::fail_assert_eq("Keys must be permutations from the same set", sorted_list(old_counts),
                   sorted_list(new_counts));

  const std::uint64_t n = packet.size();
  if (auto mismatch = chunk_mismatch(n, chunk_size)) return tl::unexpected(*mismatch);
  runtime::ready_output(out, packet.size());

  // Later positions overwrite earlier ones for repeated bytes; values absent
  // from old_key map to 0.
  std::array<std::uint8_t, 256> table{};
  for (std::size_t p = 0; p < old_key.size(); ++p) table[old_key[p]] = new_key[p];
  auto substitute = [&](std::span<std::uint8_t> z) {
    runtime::parallel::for_ranges(z.size(), kSubstituteGrain, [&](std::size_t begin, std::size_t end) {
      kernels::lookup(table.data(), z.data() + begin, z.data() + begin, end - begin);
    });
  };
  if (chunk_size == 0 || n == 0) {
    if (n != 0) std::memcpy(out.data(), packet.data(), packet.size());
    substitute(out);
    return {};
  }

  // Involution moves whole chunks, so the substituted packet's byte counts
  // follow from the input's: both seeds are known before either involution,
  // and their two long hashes run side by side.
  const kernels::ByteCounts first_counts = count_bytes_on_pool(packet);
  kernels::ByteCounts second_counts{};
  for (std::size_t v = 0; v < 256; ++v) second_counts[table[v]] += first_counts[v];
  const std::uint64_t first_branch = plain_branch(old_salt);
  const std::uint64_t second_branch = plain_branch(new_salt);
  crypto::Digest seeds[2];
  runtime::parallel::for_each_index(2, 1, [&](std::size_t i) {
    seeds[i] = i == 0 ? involution_seed(first_counts, first_branch)
                      : involution_seed(second_counts, second_branch);
  });

  // The second involution rearranges the first one's result in place, so
  // cycling needs no packet-sized buffer besides its result.
  auto first = involute_with_seed(packet, old_salt, chunk_size, seeds[0], out);
  if (!first) return first;
  substitute(out);
  return involute_with_seed(ByteView(out), new_salt, chunk_size, seeds[1], out);
}

tl::expected<Bytes, InvoluteError> cycle_packet(ByteView packet, ByteView old_salt,
                                                ByteView new_salt, ByteView old_key,
                                                ByteView new_key, std::uint64_t chunk_size) {
  Bytes out = runtime::advised_bytes(packet.size());
  auto done =
      cycle_packet_into(packet, old_salt, new_salt, old_key, new_key, chunk_size, out);
  if (!done) return tl::unexpected(done.error());
  return out;
}

}  // namespace mirelon
