#include "involute/crumb_keys.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <span>
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

// Sorts the keys of parts a and b, which share their top byte, into
// run[0, a.size() + b.size()): by as many of the next bits as leave about one
// key per sub-bucket (at most 12, whose counts fit the first-level cache),
// then the few keys sharing those bits by insertion. `run` overlaps neither
// part.
void sort_bucket(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b,
                 std::uint64_t* run) {
  const std::size_t n = a.size() + b.size();
  if (n < 2) {
    if (!a.empty()) run[0] = a[0];
    if (!b.empty()) run[0] = b[0];
    return;
  }
  const int bits = std::clamp(static_cast<int>(std::bit_width(n)), 1, kSubBits);
  const std::size_t width = std::size_t{1} << bits;
  const int shift = 56 - bits;
  const std::uint64_t mask = width - 1;
  std::array<std::uint32_t, (std::size_t{1} << kSubBits) + 1> sub;
  std::fill_n(sub.begin(), width + 1, 0u);
  for (std::uint64_t key : a) ++sub[((key >> shift) & mask) + 1];
  for (std::uint64_t key : b) ++sub[((key >> shift) & mask) + 1];
  for (std::size_t u = 0; u < width; ++u) sub[u + 1] += sub[u];
  std::array<std::uint32_t, std::size_t{1} << kSubBits> next;
  std::copy_n(sub.begin(), width, next.begin());
  for (std::uint64_t key : a) run[next[(key >> shift) & mask]++] = key;
  for (std::uint64_t key : b) run[next[(key >> shift) & mask]++] = key;
  // What is left out of order lies within sub-buckets of a key or two: one
  // insertion pass over the bucket mends it, its branch mostly predictable,
  // where a sort call per sub-bucket would pay a mispredicted branch each.
  // Crowded sub-buckets (never, for hash outputs) are sorted first, so that
  // the pass stays linear whatever the keys.
  for (std::size_t u = 0; u < width; ++u)
    if (sub[u + 1] - sub[u] > 16) std::sort(run + sub[u], run + sub[u + 1]);
  for (std::size_t i = 1; i < n; ++i) {
    const std::uint64_t key = run[i];
    if (run[i - 1] <= key) continue;
    std::size_t j = i;
    for (; j > 0 && run[j - 1] > key; --j) run[j] = run[j - 1];
    run[j] = key;
  }
}

using BucketStarts = std::array<std::uint64_t, kBuckets + 1>;

// Distributes from[0, n) into to[0, n) by top byte, on the pool; returns
// where each bucket starts in `to`. The two ranges do not overlap.
BucketStarts distribute(const std::uint64_t* from, std::size_t n, std::uint64_t* to) {
  const std::size_t blocks = std::clamp<std::size_t>(2 * runtime::parallel::worker_count(), 1, 16);
  auto block_begin = [&](std::size_t b) { return b * n / blocks; };

  // counts[b * kBuckets + v]: keys of block b in bucket v, turned into the
  // position where block b writes its next key of bucket v.
  std::vector<std::uint64_t> counts(blocks * kBuckets, 0);
  // Bounds and pointers are read into locals first: the stores to the counts
  // could otherwise alias them, and each step would recompute a division.
  runtime::parallel::for_each_index(blocks, 1, [&](std::size_t b) {
    std::uint64_t* const mine = counts.data() + b * kBuckets;
    const std::size_t last = block_begin(b + 1);
    for (std::size_t i = block_begin(b); i < last; ++i) ++mine[top_byte(from[i])];
  });
  BucketStarts starts;
  std::uint64_t running = 0;
  for (std::size_t v = 0; v < kBuckets; ++v) {
    starts[v] = running;
    for (std::size_t b = 0; b < blocks; ++b) {
      const std::uint64_t count = counts[b * kBuckets + v];
      counts[b * kBuckets + v] = running;
      running += count;
    }
  }
  starts[kBuckets] = running;
  runtime::parallel::for_each_index(blocks, 1, [&](std::size_t b) {
    std::uint64_t* const next = counts.data() + b * kBuckets;
    const std::size_t last = block_begin(b + 1);
    for (std::size_t i = block_begin(b); i < last; ++i) to[next[top_byte(from[i])]++] = from[i];
  });
  return starts;
}

}  // namespace

// The keys' leading bits are hash outputs, evenly spread, so a distribution
// pass on their top byte and one on the next bits of each bucket leave
// sub-buckets of about one key. The first pass writes to only 256 places at a
// time, which the caches absorb; the second stays within one bucket. Uneven
// input (equal chunks) only makes some buckets larger; the result is the same.
//
// The first pass needs room for half the keys only: the second half is
// distributed into a spare array (part B), then the first half into the
// keys' second half (part A, from h2 on). Bucket v of the result, at
// [P(v), P(v + 1)) with P(v) = A(v) + B(v), then never reaches A's buckets
// after v, since B(v + 1) <= h2; so the buckets are sorted into place in
// rounds, each round the buckets whose results end before the first unread
// bucket of A begins, and a bucket that reaches its own part of A alone with
// that part copied out first.
CrumbKeys sort_keys(CrumbKeys keys) {
  const std::size_t k = keys.size();
  if (k < kDistributeMin) {
    std::sort(keys.begin(), keys.end());
    return keys;
  }
  const std::size_t h1 = k / 2, h2 = k - h1;
  std::uint64_t* const all = keys.data();
  CrumbKeys spare(h2);
  const BucketStarts b_start = distribute(all + h1, h2, spare.data());
  const BucketStarts a_start = distribute(all, h1, all + h2);
  auto part_a = [&](std::size_t v) {
    return std::span<const std::uint64_t>(all + h2 + a_start[v], a_start[v + 1] - a_start[v]);
  };
  auto part_b = [&](std::size_t v) {
    return std::span<const std::uint64_t>(spare.data() + b_start[v], b_start[v + 1] - b_start[v]);
  };
  auto result_start = [&](std::size_t v) { return a_start[v] + b_start[v]; };
  for (std::size_t lo = 0; lo < kBuckets;) {
    const std::uint64_t a_unread = h2 + a_start[lo];
    std::size_t hi = lo;
    while (hi < kBuckets && result_start(hi + 1) <= a_unread) ++hi;
    if (hi == lo) {
      const std::span<const std::uint64_t> a = part_a(lo);
      CrumbKeys copy(a.size());
      std::copy(a.begin(), a.end(), copy.begin());
      sort_bucket(std::span<const std::uint64_t>(copy.data(), copy.size()), part_b(lo),
                  all + result_start(lo));
      ++lo;
      continue;
    }
    runtime::parallel::for_each_index(hi - lo, 4, [&](std::size_t i) {
      const std::size_t v = lo + i;
      sort_bucket(part_a(v), part_b(v), all + result_start(v));
    });
    lo = hi;
  }
  return keys;
}

}  // namespace mirelon
