#include "involute/crumb_keys.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "runtime/parallel.hpp"

namespace mirelon {
namespace {

// Bits of the second distribution pass, at most.
constexpr int kSubBits = 12;

// Below this many keys a plain sort is cheaper than distributing.
constexpr std::size_t kDistributeMin = std::size_t{1} << 14;

constexpr std::size_t kBuckets = 256;

std::size_t top_byte(std::uint64_t key) { return static_cast<std::size_t>(key >> 56); }

// Sorts keys[begin, end), which share their top byte, back from `from` into
// `keys`: by as many of the next bits as leave about one key per sub-bucket
// (at most 12, whose counts fit the first-level cache), then the few keys
// sharing those bits by insertion.
void sort_bucket(const std::uint64_t* from, std::uint64_t* keys, std::size_t begin,
                 std::size_t end) {
  if (end - begin < 2) {
    if (end > begin) keys[begin] = from[begin];
    return;
  }
  const int bits = std::clamp(static_cast<int>(std::bit_width(end - begin)), 1, kSubBits);
  const std::size_t width = std::size_t{1} << bits;
  const int shift = 56 - bits;
  const std::uint64_t mask = width - 1;
  std::array<std::uint32_t, (std::size_t{1} << kSubBits) + 1> sub;
  std::fill_n(sub.begin(), width + 1, 0u);
  for (std::size_t i = begin; i < end; ++i) ++sub[((from[i] >> shift) & mask) + 1];
  for (std::size_t u = 0; u < width; ++u) sub[u + 1] += sub[u];
  std::array<std::uint32_t, std::size_t{1} << kSubBits> next;
  std::copy_n(sub.begin(), width, next.begin());
  for (std::size_t i = begin; i < end; ++i)
    keys[begin + next[(from[i] >> shift) & mask]++] = from[i];
  // What is left out of order lies within sub-buckets of a key or two: one
  // insertion pass over the bucket mends it, its branch mostly predictable,
  // where a sort call per sub-bucket would pay a mispredicted branch each.
  // Crowded sub-buckets (never, for hash outputs) are sorted first, so that
  // the pass stays linear whatever the keys.
  for (std::size_t u = 0; u < width; ++u)
    if (sub[u + 1] - sub[u] > 16) std::sort(keys + begin + sub[u], keys + begin + sub[u + 1]);
  std::uint64_t* const run = keys + begin;
  for (std::size_t i = 1; i < end - begin; ++i) {
    const std::uint64_t key = run[i];
    if (run[i - 1] <= key) continue;
    std::size_t j = i;
    for (; j > 0 && run[j - 1] > key; --j) run[j] = run[j - 1];
    run[j] = key;
  }
}

}  // namespace

// The keys' leading bits are hash outputs, evenly spread, so a distribution
// pass on their top byte and one on the next bits of each bucket leave
// sub-buckets of about one key. The first pass writes to only 256 places at a
// time, which the caches absorb; the second stays within one bucket. Uneven
// input (equal chunks) only makes some buckets larger; the result is the same.
CrumbKeys sort_keys(CrumbKeys keys) {
  const std::size_t k = keys.size();
  if (k < kDistributeMin) {
    std::sort(keys.begin(), keys.end());
    return keys;
  }
  const std::size_t blocks = std::clamp<std::size_t>(2 * runtime::parallel::worker_count(), 1, 16);
  auto block_begin = [&](std::size_t b) { return b * k / blocks; };

  // counts[b * kBuckets + v]: keys of block b in bucket v, turned into the
  // position where block b writes its next key of bucket v.
  std::vector<std::uint64_t> counts(blocks * kBuckets, 0);
  // Bounds and pointers are read into locals first: the stores to the counts
  // could otherwise alias them, and each step would recompute a division.
  runtime::parallel::for_each_index(blocks, 1, [&](std::size_t b) {
    std::uint64_t* const mine = counts.data() + b * kBuckets;
    const std::uint64_t* const from = keys.data();
    const std::size_t last = block_begin(b + 1);
    for (std::size_t i = block_begin(b); i < last; ++i) ++mine[top_byte(from[i])];
  });
  std::array<std::uint64_t, kBuckets + 1> bucket_begin;
  std::uint64_t running = 0;
  for (std::size_t v = 0; v < kBuckets; ++v) {
    bucket_begin[v] = running;
    for (std::size_t b = 0; b < blocks; ++b) {
      const std::uint64_t count = counts[b * kBuckets + v];
      counts[b * kBuckets + v] = running;
      running += count;
    }
  }
  bucket_begin[kBuckets] = running;

  CrumbKeys distributed = CrumbKeys(k);
  runtime::parallel::for_each_index(blocks, 1, [&](std::size_t b) {
    std::uint64_t* const next = counts.data() + b * kBuckets;
    const std::uint64_t* const from = keys.data();
    std::uint64_t* const to = distributed.data();
    const std::size_t last = block_begin(b + 1);
    for (std::size_t i = block_begin(b); i < last; ++i) to[next[top_byte(from[i])]++] = from[i];
  });
  runtime::parallel::for_each_index(kBuckets, 4, [&](std::size_t v) {
    sort_bucket(distributed.data(), keys.data(), bucket_begin[v], bucket_begin[v + 1]);
  });
  return keys;
}

}  // namespace mirelon
