#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <vector>

#include "kernels/byte_blocks.hpp"
#include "mirelon/encrypt.hpp"
#include "runtime/failure.hpp"
#include "runtime/memory.hpp"
#include "runtime/parallel.hpp"

namespace mirelon {
namespace {

using kernels::kBlock;

// The first lookup past the end of a table, if any: the table's length and the
// index used.
struct OutOfBounds {
  std::uint64_t len = 0;
  std::uint64_t index = 0;
};

// One column, walked lookup by lookup in the order the mapping defines. Writes
// the mapped byte, or reports the first lookup that falls outside its table.
bool map_one(ByteView a, ByteView b, std::uint64_t p, const std::uint8_t* c, std::size_t n,
             std::uint8_t& out, OutOfBounds& failure) {
  auto look = [&](ByteView table, std::uint8_t index, std::uint8_t& value) {
    if (index >= table.size()) {
      failure = {table.size(), index};
      return false;
    }
    value = table[index];
    return true;
  };
  // S[1] is the sum of every entry but the first; S[k+1] = S[1] - (c[1] + ... + c[k]).
  std::uint8_t s1 = 0;
  for (std::size_t k = 1; k < n; ++k) s1 = static_cast<std::uint8_t>(s1 + c[k]);
  std::uint8_t t = 0;
  if (!look(a, s1, t)) return false;
  const auto x = static_cast<std::uint8_t>(c[0] - t);
  if (p == 0) return look(b, x, out);
  std::uint8_t prefix = c[1];
  std::uint8_t v = static_cast<std::uint8_t>(c[1] + x - (s1 - prefix));
  if (p == 1) return look(b, v, out);
  std::uint8_t d = 0;
  for (std::uint64_t k = 2; k <= p; ++k) {
    prefix = static_cast<std::uint8_t>(prefix + c[k]);
    if (!look(a, v, t)) return false;
    d = static_cast<std::uint8_t>(x + c[k] - (s1 - prefix) - t);
    v = static_cast<std::uint8_t>(v + d);
  }
  return look(b, d, out);
}

// A copy of a key padded with zeros to 256 entries, so that block lookups of a
// short key stay in memory; whether an index reached past the real end is
// tracked separately.
std::array<std::uint8_t, 256> padded(ByteView key) {
  std::array<std::uint8_t, 256> table{};
  if (!key.empty())
    std::memcpy(table.data(), key.data(), std::min<std::size_t>(key.size(), table.size()));
  return table;
}

// Maps positions [begin, begin + m) for party p. Returns false when a lookup
// went past the end of a table (only possible when kChecked); the output of
// such a block is then meaningless.
template <bool kChecked>
bool map_block(const std::uint8_t* a, std::size_t a_len, const std::uint8_t* b, std::size_t b_len,
               std::uint64_t p, std::span<const ByteView> d, std::size_t begin, std::size_t m,
               std::uint8_t* out, kernels::RunBuffers& s) {
  std::uint8_t* sum = s.buffer(0);
  std::uint8_t* u = s.buffer(1);
  std::uint8_t* v = s.buffer(2);
  std::uint8_t* t = s.buffer(3);
  const std::size_t n = d.size();
  std::uint8_t worst_a = 0;
  std::uint8_t worst_b = 0;

  // sum = S[1], byte-wise over whole sequences.
  std::memcpy(sum, d[1].data() + begin, m);
  for (std::size_t j = 2; j < n; ++j) kernels::add(sum, d[j].data() + begin, m);
  if constexpr (kChecked) worst_a = std::max(worst_a, kernels::max_of(sum, m));
  kernels::lookup(a, sum, t, m);
  // u = x = c[0] - A[S[1]]
  kernels::zip(u, m, [](auto c0, auto ta) { return c0 - ta; }, d[0].data() + begin, t);

  const std::uint8_t* c1 = d[1].data() + begin;
  if (p == 0) {
    if constexpr (kChecked) worst_b = kernels::max_of(u, m);
    kernels::lookup(b, u, out, m);
  } else {
    // u = x - S[1] + c[1], kept so that once c[k] is added, u + c[k] - A[v]
    // is the step value d of step k; v = y = u + c[1].
    kernels::zip(u, m, [](auto x, auto s1, auto c) { return x - s1 + c; }, u, sum, c1);
    kernels::zip(v, m, [](auto uu, auto c) { return uu + c; }, u, c1);
    for (std::uint64_t k = 2; k <= p; ++k) {
      const std::uint8_t* ck = d[k].data() + begin;
      if constexpr (kChecked) worst_a = std::max(worst_a, kernels::max_of(v, m));
      kernels::lookup(a, v, t, m);
      if (k < p) {
        // v += d with d = (u + c[k]) + c[k] - A[v]; then u += c[k].
        kernels::zip(
            v, m, [](auto vv, auto uu, auto c, auto ta) { return vv + uu + c + c - ta; }, v, u, ck,
            t);
        kernels::add(u, ck, m);
      } else {
        // The last step's d itself goes to the private key, not v + d.
        kernels::zip(v, m, [](auto uu, auto c, auto ta) { return uu + c + c - ta; }, u, ck, t);
      }
    }
    if constexpr (kChecked) worst_b = kernels::max_of(v, m);
    kernels::lookup(b, v, out, m);
  }
  if constexpr (kChecked) return m == 0 || (worst_a < a_len && worst_b < b_len);
  (void)a_len;
  (void)b_len;
  return true;
}

}  // namespace

std::size_t map_data_length(std::uint64_t identity, std::span<const ByteView> data_sequences) {
  const std::size_t n = data_sequences.size();
  if (n < 2) throw InternalFailure("At least two parties must be present");
  if (identity >= n) throw InternalFailure("assertion failed: identity < num_funcs");
  const std::size_t len = kernels::common_length(data_sequences);
  return len;
}

void map_data_into(ByteView pub_key, ByteView priv_key, std::uint64_t identity,
                   std::span<const ByteView> data_sequences, std::span<std::uint8_t> out) {
  const std::size_t len = map_data_length(identity, data_sequences);
  runtime::ready_output(out, len);
  const std::size_t n = data_sequences.size();
  if (len == 0) return;

  const std::size_t block_count = (len + kBlock - 1) / kBlock;
  const bool checked = pub_key.size() < 256 || priv_key.size() < 256;

  if (!checked) {
    auto map = [&](std::size_t first, std::size_t last) {
      const std::size_t begin = first * kBlock;
      const std::size_t end = std::min(len, last * kBlock);
      if (kernels::map_positions_wide(pub_key.data(), priv_key.data(), identity, data_sequences,
                                      begin, end, out.data() + begin))
        return;
      kernels::RunBuffers scratch(4, kBlock);
      for (std::size_t blk = first; blk < last; ++blk) {
        const std::size_t begin = blk * kBlock;
        const std::size_t m = std::min(kBlock, len - begin);
        map_block<false>(pub_key.data(), pub_key.size(), priv_key.data(), priv_key.size(),
                         identity, data_sequences, begin, m, out.data() + begin, scratch);
      }
    };
    const std::span<std::uint8_t> outputs[] = {out};
    runtime::parallel::for_ranges(block_count, 1, [&](std::size_t first, std::size_t last) {
      runtime::fault_in_steps(outputs, kBlock, first, last, map);
    });
    return;
  }

  // A key shorter than 256 entries: lookups run on zero-padded copies while
  // each block notes whether an index reached past the real end. A failing
  // block is walked again column by column to find its first failing lookup,
  // and the lowest failing block is reported, so the message does not depend
  // on scheduling.
  const auto a = padded(pub_key);
  const auto b = padded(priv_key);
  constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  std::atomic<std::size_t> lowest_failed{kNone};
  std::vector<OutOfBounds> failures(block_count);
  runtime::parallel::for_ranges(block_count, 1, [&](std::size_t first, std::size_t last) {
    kernels::RunBuffers scratch(4, kBlock);
    std::vector<std::uint8_t> column(n);
    for (std::size_t blk = first; blk < last; ++blk) {
      // A lower block has already failed: this one cannot be the one reported.
      if (blk > lowest_failed.load(std::memory_order_relaxed)) return;
      const std::size_t begin = blk * kBlock;
      const std::size_t m = std::min(kBlock, len - begin);
      if (map_block<true>(a.data(), pub_key.size(), b.data(), priv_key.size(), identity,
                          data_sequences, begin, m, out.data() + begin, scratch)) {
        continue;
      }
      for (std::size_t i = begin; i < begin + m; ++i) {
        for (std::size_t j = 0; j < n; ++j) column[j] = data_sequences[j][i];
        std::uint8_t value = 0;
        if (!map_one(pub_key, priv_key, identity, column.data(), n, value, failures[blk])) break;
      }
      std::size_t seen = lowest_failed.load(std::memory_order_relaxed);
      while (blk < seen && !lowest_failed.compare_exchange_weak(seen, blk)) {
      }
      return;
    }
  });
  if (const std::size_t blk = lowest_failed.load(); blk != kNone) {
    runtime::fail_index_out_of_bounds(failures[blk].len, failures[blk].index);
  }
}

Bytes map_data(ByteView pub_key, ByteView priv_key, std::uint64_t identity,
               std::span<const ByteView> data_sequences) {
  Bytes out = runtime::advised_bytes(map_data_length(identity, data_sequences));
  map_data_into(pub_key, priv_key, identity, data_sequences, out);
  return out;
}

}  // namespace mirelon
