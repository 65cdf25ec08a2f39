#include <algorithm>
#include <cstring>
#include <string>

#include "kernels/byte_blocks.hpp"
#include "mirelon/decrypt.hpp"
#include "runtime/failure.hpp"
#include "runtime/memory.hpp"
#include "runtime/parallel.hpp"

namespace mirelon {
namespace {

using kernels::kBlock;

// Results this large in all cannot stay in the cache until the call returns,
// so the wide kernels write them past it with streaming stores. Reused memory
// gains from that from 32 MiB on (three results of 16 MiB: 25 % faster on one
// worker, 15 % on two) and, from 64 MiB on, more again with every result
// streamed (sixteen: 9 % faster on one worker and on two; three: 10 % slower
// on two). Fresh pages the kernel has just cleared are still in the cache,
// and overwriting them there is faster until 64 MiB (three results of 16 MiB:
// 10 to 20 % faster than streaming; sixteen: 30 % slower); beyond, streaming
// the rows that are aligned is as fast for them as streaming every result.
constexpr std::size_t kStreamFrom = std::size_t{32} << 20;
constexpr std::size_t kStreamAllFrom = std::size_t{64} << 20;

kernels::InvStores inv_stores(std::size_t total, bool fresh) {
  if (total >= kStreamAllFrom) {
    return fresh ? kernels::InvStores::streamed_aligned : kernels::InvStores::streamed_joined;
  }
  return total >= kStreamFrom && !fresh ? kernels::InvStores::streamed_aligned
                                        : kernels::InvStores::cached;
}

// Restores positions [begin, begin + m) of every party. Each party's unkeyed
// bytes w[j] are written straight into its own output and then overwritten
// by the restored bytes, last party first. n >= 2; the public key and every
// inverse table hold at least 256 entries, so no lookup can fail.
void inv_block(const std::uint8_t* a, std::span<const Bytes> tables,
               std::span<const ByteView> mapped, std::size_t begin, std::size_t m,
               std::span<const std::span<std::uint8_t>> out, kernels::RunBuffers& s) {
  const std::size_t n = mapped.size();
  std::uint8_t* prefix = s.buffer(0);
  std::uint8_t* acc = s.buffer(1);
  std::uint8_t* t = s.buffer(2);
  for (std::size_t j = 0; j < n; ++j) {
    kernels::lookup(tables[j].data(), mapped[j].data() + begin, out[j].data() + begin, m);
  }
  const std::uint8_t* w0 = out[0].data() + begin;
  if (n >= 3) {
    // prefix = w[1] + ... + w[n-2]: the running value of the forward chain
    // before its step n-1.
    std::memcpy(prefix, out[1].data() + begin, m);
    for (std::size_t j = 2; j + 1 < n; ++j) kernels::add(prefix, out[j].data() + begin, m);
    kernels::lookup(a, prefix, t, m);
    std::uint8_t* last = out[n - 1].data() + begin;
    kernels::zip(last, m, [](auto w, auto x, auto ta) { return w - x + ta; }, last, w0, t);
    std::memcpy(acc, last, m);
    for (std::size_t k = n - 2; k >= 2; --k) {
      std::uint8_t* ck = out[k].data() + begin;
      kernels::zip(prefix, m, [](auto pr, auto w) { return pr - w; }, prefix, ck);
      kernels::lookup(a, prefix, t, m);
      kernels::zip(
          ck, m, [](auto w, auto ac, auto x, auto ta) { return w + ac - x + ta; }, ck, acc, w0, t);
      kernels::add(acc, ck, m);
    }
  } else {
    std::memset(acc, 0, m);
  }
  std::uint8_t* c1 = out[1].data() + begin;
  kernels::zip(c1, m, [](auto w, auto ac, auto x) { return w + ac - x; }, c1, acc, w0);
  kernels::add(acc, c1, m);
  kernels::lookup(a, acc, t, m);
  kernels::add(out[0].data() + begin, t, m);
}

// T[K[t]] = t for t ascending: later positions win, unset entries stay 0.
Bytes invert_key(ByteView key) {
  Bytes table(kKeySize, 0);
  for (std::size_t t = 0; t < key.size(); ++t) table[key[t]] = static_cast<std::uint8_t>(t);
  return table;
}

}  // namespace

std::size_t inv_data_length(ByteView pub_key, std::span<const ByteView> priv_keys,
                            std::span<const ByteView> data_sequences) {
  const std::size_t n = data_sequences.size();
  if (n != priv_keys.size()) {
    runtime::fail_assert_eq("There should be the same number of data sequences as private keys", n,
                            priv_keys.size());
  }
  if (n == 0) runtime::fail_index_out_of_bounds(0, 0);
  const std::size_t len = kernels::common_length(data_sequences);
  if (len == 0) return 0;
  // Every position would fail this check the same way, so it runs once.
  if (pub_key.size() != kKeySize) {
    runtime::fail_assert_eq("All private keys should be the same length as the public key",
                            pub_key.size(), kKeySize);
  }
  // A lone party has no second entry to restore.
  if (n == 1) runtime::fail_index_out_of_bounds(1, 1);
  return len;
}

void inv_data_into(ByteView pub_key, std::span<const ByteView> priv_keys,
                   std::span<const ByteView> data_sequences,
                   std::span<const std::span<std::uint8_t>> out) {
  const std::size_t len = inv_data_length(pub_key, priv_keys, data_sequences);
  const std::size_t n = data_sequences.size();
  if (out.size() != n) throw InternalFailure("inv_data_into needs one output per party");
  for (std::span<std::uint8_t> o : out) runtime::ready_output(o, len);
  if (len == 0) return;
  std::vector<Bytes> tables;
  tables.reserve(n);
  for (ByteView key : priv_keys) tables.push_back(invert_key(key));

  const std::size_t block_count = (len + kBlock - 1) / kBlock;
  const kernels::InvStores stores = inv_stores(n * len, runtime::is_fresh(out[0]));
  auto restore = [&](std::size_t first, std::size_t last) {
    if (kernels::inv_positions_wide(pub_key.data(), tables, data_sequences, first * kBlock,
                                    std::min(len, last * kBlock), out, stores))
      return;
    kernels::RunBuffers scratch(3, kBlock);
    for (std::size_t blk = first; blk < last; ++blk) {
      const std::size_t begin = blk * kBlock;
      inv_block(pub_key.data(), tables, data_sequences, begin, std::min(kBlock, len - begin), out,
                scratch);
    }
  };
  runtime::parallel::for_ranges(block_count, 1, [&](std::size_t first, std::size_t last) {
    runtime::fault_in_steps(out, kBlock, first, last, restore);
  });
}

std::vector<Bytes> inv_data(ByteView pub_key, std::span<const ByteView> priv_keys,
                            std::span<const ByteView> data_sequences) {
  const std::size_t len = inv_data_length(pub_key, priv_keys, data_sequences);
  std::vector<Bytes> out(data_sequences.size());
  std::vector<std::span<std::uint8_t>> spans;
  for (Bytes& o : out) {
    o = runtime::advised_bytes(len);
    spans.emplace_back(o);
  }
  inv_data_into(pub_key, priv_keys, data_sequences, spans);
  return out;
}

}  // namespace mirelon
