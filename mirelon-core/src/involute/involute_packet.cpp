#include "mirelon/involute.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <span>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "crypto/openssl.hpp"
#include "involute/crumb_keys.hpp"
#include "involute/crumbs.hpp"
#include "runtime/scratch_array.hpp"
#include "runtime/memory.hpp"
#include "crypto/sha256_multi.hpp"
#include "runtime/parallel.hpp"

namespace mirelon {
namespace {

using Histogram = ByteCounts;

// Bytes counted per task when the histogram is built on the pool.
constexpr std::size_t kHistogramBlock = std::size_t{256} << 10;
// Bytes hashed or copied per task, roughly: enough to outweigh scheduling.
constexpr std::size_t kTaskBytes = std::size_t{64} << 10;

void count_bytes(const std::uint8_t* data, std::size_t size, Histogram& counts) {
  // Four interleaved tables keep consecutive equal bytes from serialising on
  // one counter.
  std::array<std::array<std::uint32_t, 256>, 4> lanes{};
  std::size_t i = 0;
  while (i < size) {
    // Flush before a 32-bit lane could overflow.
    const std::size_t stop = std::min(size, i + (std::size_t{1} << 30));
    for (; i + 4 <= stop; i += 4) {
      ++lanes[0][data[i]];
      ++lanes[1][data[i + 1]];
      ++lanes[2][data[i + 2]];
      ++lanes[3][data[i + 3]];
    }
    for (; i < stop; ++i) ++lanes[0][data[i]];
    for (auto& lane : lanes) {
      for (std::size_t v = 0; v < 256; ++v) counts[v] += lane[v];
      lane.fill(0);
    }
  }
}

Histogram histogram(ByteView packet) {
  const std::size_t blocks = (packet.size() + kHistogramBlock - 1) / kHistogramBlock;
  std::vector<Histogram> partial(blocks, Histogram{});
  parallel::for_each_index(blocks, 1, [&](std::size_t b) {
    const std::size_t begin = b * kHistogramBlock;
    const std::size_t size = std::min(kHistogramBlock, packet.size() - begin);
    count_bytes(packet.data() + begin, size, partial[b]);
  });
  Histogram total{};
  for (const Histogram& h : partial)
    for (std::size_t v = 0; v < 256; ++v) total[v] += h[v];
  return total;
}

// SHA-256 of the packet bytes and the branch value (big-endian) in ascending
// order, given the packet's byte counts. The order depends only on how often
// each value occurs, so each value's run is fed from a constant buffer instead
// of sorting a copy.
crypto::Digest seed_from_counts(Histogram counts, std::uint64_t branch) {
  std::array<std::uint8_t, 8> branch_bytes;
  store_u64_be(branch_bytes.data(), branch);
  for (std::uint8_t b : branch_bytes) ++counts[b];

  std::array<std::uint8_t, 4096> run;
  crypto::Sha256 sha;
  for (std::size_t v = 0; v < 256; ++v) {
    std::uint64_t left = counts[v];
    if (left == 0) continue;
    run.fill(static_cast<std::uint8_t>(v));
    while (left > 0) {
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, run.size()));
      sha.update(run.data(), take);
      left -= take;
    }
  }
  return sha.finish();
}

// Orders a run of keys whose leading bits are equal by their chunks' full
// crumbs. False when two of them are equal.
bool settle_tie(ByteView packet, std::size_t c, ByteView salt, const crypto::Digest& seed,
                const KeyLayout& layout, std::span<std::uint64_t> run) {
  std::vector<std::pair<crypto::Digest, std::uint64_t>> full;
  full.reserve(run.size());
  for (std::uint64_t key : run) {
    const std::uint64_t index = layout.index(key);
    full.emplace_back(compute_crumb(packet.subspan(index * c, c), salt, seed), index);
  }
  std::sort(full.begin(), full.end());
  for (std::size_t i = 1; i < full.size(); ++i)
    if (full[i - 1].first == full[i].first) return false;
  for (std::size_t i = 0; i < run.size(); ++i) run[i] = layout.key(run[i], full[i].second);
  return true;
}

// Output chunk j is input chunk source[j] = order[order[j]], where order[r]
// is the chunk at place r of the crumb order (read from the sorted keys).
// Working out every source first keeps each of the two loops to one random
// read per chunk, which the processor overlaps far better than two dependent
// ones: about half the time of gathering in one loop.
template <class Index>
Scratch<Index> source_chunks(const CrumbKeys& keys, const KeyLayout& layout, std::size_t grain) {
  // Far ahead: for a packet larger than the caches each read waits on memory.
  constexpr std::size_t kAhead = 128;
  Scratch<Index> source = Scratch<Index>(keys.size());
  parallel::for_ranges(keys.size(), grain, [&](std::size_t begin, std::size_t end) {
    for (std::size_t j = begin; j < end; ++j) {
      if (j + kAhead < end) __builtin_prefetch(keys.data() + layout.index(keys[j + kAhead]));
      source[j] = static_cast<Index>(layout.index(keys[layout.index(keys[j])]));
    }
  });
  return source;
}

// Copies output chunks [begin, end). kSize is the chunk size when known at
// compile time, else 0.
template <std::size_t kSize, class Index>
void gather(ByteView packet, const Scratch<Index>& source, std::size_t c, std::size_t begin,
            std::size_t end, std::span<std::uint8_t> out) {
  constexpr std::size_t kAhead = 256;
  const std::size_t size = kSize != 0 ? kSize : c;
  // In locals: the byte copies could otherwise alias the source array's
  // pointer, which would then be read again at every step.
  const Index* const from = source.data();
  const std::uint8_t* const in = packet.data();
  std::uint8_t* const to = out.data();
  for (std::size_t j = begin; j < end; ++j) {
    if (j + kAhead < end) __builtin_prefetch(in + from[j + kAhead] * size);
    std::memcpy(to + j * size, in + from[j] * size, size);
  }
}

template <class Index>
void copy_in_crumb_order(ByteView packet, const CrumbKeys& keys, const KeyLayout& layout,
                         std::size_t c, std::span<std::uint8_t> out) {
  const std::size_t grain = std::max<std::size_t>(1, kTaskBytes / c);
  const Scratch<Index> source = source_chunks<Index>(keys, layout, grain);
  parallel::for_ranges(keys.size(), grain, [&](std::size_t begin, std::size_t end) {
    // Short chunks are copied inline rather than through a library call.
    switch (c) {
      case 16: return gather<16>(packet, source, 16, begin, end, out);
      case 32: return gather<32>(packet, source, 32, begin, end, out);
      case 64: return gather<64>(packet, source, 64, begin, end, out);
      default: return gather<0>(packet, source, c, begin, end, out);
    }
  });
}

}  // namespace

crypto::Digest compute_crumb(ByteView chunk, ByteView salt, const crypto::Digest& seed) {
  crypto::Digest h = crypto::Sha256().update(chunk).update(salt).update(seed).finish();
  for (std::size_t i = 0; i < h.size(); ++i) h[i] ^= seed[i];
  return h;
}

namespace {

// Touching one byte per page faults a whole buffer in; a task faults in
// kFaultGrain bytes (one huge page).
constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kFaultGrain = std::size_t{2} << 20;

// Chunks hashed per batch of the multi-message hasher.
constexpr std::size_t kCrumbBatch = 64;
// At most this much of the next batch is prefetched.
constexpr std::size_t kPrefetchBatchBytes = 8192;

// Calls body(first, pointers, count) over [begin, end) in batches of at most
// kCrumbBatch chunks, with the chunks' addresses.
template <class Body>
void chunk_batches(ByteView packet, std::size_t c, std::size_t begin, std::size_t end,
                   Body&& body) {
  std::array<const std::uint8_t*, kCrumbBatch> own;
  for (std::size_t first = begin; first < end; first += kCrumbBatch) {
    const std::size_t count = std::min(kCrumbBatch, end - first);
    for (std::size_t j = 0; j < count; ++j) own[j] = packet.data() + (first + j) * c;
    // The next batch's bytes are requested while this one is hashed.
    const std::uint8_t* const next = packet.data() + (first + count) * c;
    const std::size_t ahead = std::min(kCrumbBatch, end - first - count) * c;
    for (std::size_t b = 0; b < ahead && b < kPrefetchBatchBytes; b += 64)
      __builtin_prefetch(next + b);
    body(first, own.data(), count);
  }
}

// Where an involution's seed comes from: given outright (key cycling works
// out both of its seeds first), or hashed from the packet's byte counts under
// a branch value.
struct SeedSource {
  std::optional<crypto::Digest> known;
  std::uint64_t branch = 0;
};

// Absorbs the leading blocks of every chunk into states[0..k), on the pool.
// With `counts`, the packet's bytes are counted on the way (the rest of each
// chunk on its own), so that the counting mostly hides behind the hashing.
void absorb_leading(ByteView packet, std::size_t c, std::size_t lead_blocks, std::size_t grain,
                    std::span<crypto::ShaState> states, ByteCounts* counts) {
  parallel::for_ranges(states.size(), grain, [&](std::size_t begin, std::size_t end) {
    std::fill(states.begin() + static_cast<std::ptrdiff_t>(begin),
              states.begin() + static_cast<std::ptrdiff_t>(end), crypto::kShaInitial);
    crypto::ByteTally tally;
    chunk_batches(packet, c, begin, end,
                  [&](std::size_t first, const std::uint8_t* const* own, std::size_t count) {
                    if (counts == nullptr)
                      crypto::sha_absorb(states.data() + first, own, count, 0, lead_blocks);
                    else
                      crypto::sha_absorb_counting(states.data() + first, own, count, 0,
                                                  lead_blocks, tally);
                  });
    if (counts == nullptr) return;
    const std::size_t lead = lead_blocks * crypto::kShaBlock;
    for (std::size_t j = begin; j < end; ++j) tally.count(packet.data() + j * c + lead, c - lead);
    tally.settle();
    for (std::size_t v = 0; v < 256; ++v)
      std::atomic_ref<std::uint64_t>((*counts)[v]).fetch_add(tally.totals()[v]);
  });
}

// Involution with the seed from `source`. The whole 64-byte blocks of every
// chunk precede salt and seed in its crumb's message, so they can be hashed
// before the seed is known; only the blocks holding the chunk's end, the salt
// and the seed wait for it. Writes the result to `out` (n bytes).
tl::expected<void, InvoluteError> involute_with(ByteView packet, ByteView salt, std::size_t c,
                                                const SeedSource& source,
                                                std::span<std::uint8_t> out) {
  const std::size_t n = packet.size();
  const std::size_t k = n / c;
  const std::size_t crumb_grain =
      std::max<std::size_t>(kCrumbBatch, kTaskBytes / (c + salt.size() + 64));
  // The seed is one long serial hash after the byte counts. With a second
  // worker, the other work that does not need the seed runs meanwhile:
  // faulting in the output and the crumb keys (fresh memory costs the kernel
  // a page clear) and hashing the leading blocks. On one worker, the packet's
  // bytes are counted while the leading blocks are hashed (with a single
  // leading block, keeping the states costs about what that saves).
  const bool overlap = parallel::worker_count() > 1;
  const bool count_while_hashing = !overlap && !source.known && c >= 2 * crypto::kShaBlock;
  const std::size_t lead_blocks = overlap || count_while_hashing ? c / crypto::kShaBlock : 0;
  auto seed_from = [&](const ByteCounts& counts) {
    return source.known ? *source.known : seed_from_counts(counts, source.branch);
  };

  crypto::Digest seed;
  Scratch<crypto::ShaState> states;
  const KeyLayout layout(k);
  CrumbKeys keys;
  if (count_while_hashing) {
    states = Scratch<crypto::ShaState>(k);
    ByteCounts counts{};
    absorb_leading(packet, c, lead_blocks, crumb_grain, states, &counts);
    seed = seed_from(counts);
    keys = CrumbKeys(k);
  } else if (!overlap) {
    seed = seed_from(source.known ? ByteCounts{} : histogram(packet));
    keys = CrumbKeys(k);
  } else {
    // The counts come first, on every worker; only the serial hash of the
    // sorted bytes then runs beside the seed-independent work.
    const ByteCounts counts = source.known ? ByteCounts{} : histogram(packet);
    parallel::for_each_index(2, 1, [&](std::size_t task) {
      if (task == 0) {
        seed = seed_from(counts);
        return;
      }
      // Each in parallel pieces, so that the worker done with the seed can
      // take some.
      parallel::for_ranges(out.size(), kFaultGrain, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; i += kPageSize) out[i] = 0;
      });
      keys = CrumbKeys(k);
      if (lead_blocks == 0) return;
      states = Scratch<crypto::ShaState>(k);
      absorb_leading(packet, c, lead_blocks, crumb_grain, states, nullptr);
    });
  }

  // salt || seed: the part every crumb's message ends with.
  Bytes shared(salt.size() + seed.size());
  if (!salt.empty()) std::memcpy(shared.data(), salt.data(), salt.size());
  std::memcpy(shared.data() + salt.size(), seed.data(), seed.size());
  const std::uint64_t seed_lead = load_u64_be(seed.data());

  parallel::for_ranges(k, crumb_grain, [&](std::size_t begin, std::size_t end) {
    std::array<crypto::ShaState, kCrumbBatch> initial;
    initial.fill(crypto::kShaInitial);
    std::array<crypto::Digest, kCrumbBatch> digests;
    chunk_batches(packet, c, begin, end,
                  [&](std::size_t first, const std::uint8_t* const* own, std::size_t count) {
                    const crypto::ShaState* from =
                        lead_blocks == 0 ? initial.data() : states.data() + first;
                    crypto::sha_finish(from, own, c, lead_blocks, shared, count, digests.data());
                    for (std::size_t j = 0; j < count; ++j)
                      keys[first + j] =
                          layout.key(load_u64_be(digests[j].data()) ^ seed_lead, first + j);
                  });
  });
  states = {};

  // Crumbs are distinct exactly when no run of equal leading words holds two
  // equal crumbs. This is decided before any output exists, and distinct
  // crumbs have one order, so the unstable sort cannot leak into results.
  keys = sort_keys(std::move(keys));
  for (std::size_t r = 0; r + 1 < k;) {
    std::size_t end = r + 1;
    while (end < k && layout.same_lead(keys[end], keys[r])) ++end;
    if (end - r > 1 &&
        !settle_tie(packet, c, salt, seed, layout, std::span(keys).subspan(r, end - r)))
      return tl::unexpected(InvoluteError(DuplicateCrumbs{}));
    r = end;
  }

  // Four-byte chunk indices halve what the random reads keep in cache.
  if (k <= (std::uint64_t{1} << 32))
    copy_in_crumb_order<std::uint32_t>(packet, keys, layout, c, out);
  else
    copy_in_crumb_order<std::uint64_t>(packet, keys, layout, c, out);
  return {};
}

// The checks every involution makes before any work: a chunk size of 0
// copies, one that does not divide the length fails. Returns true when the
// caller is done.
bool trivial_involution(ByteView packet, std::uint64_t chunk_size, std::span<std::uint8_t> out,
                        tl::expected<void, InvoluteError>& result) {
  const std::uint64_t n = packet.size();
  if (chunk_size != 0 && n % chunk_size != 0) {
    result = tl::unexpected(InvoluteError(ChunkMismatch{n, chunk_size}));
    return true;
  }
  require_output_size(out, packet.size());
  if (chunk_size == 0) {
    if (n != 0) std::memcpy(out.data(), packet.data(), packet.size());
    return true;
  }
  return n == 0;
}

}  // namespace

ByteCounts byte_histogram(ByteView packet) { return histogram(packet); }

crypto::Digest involution_seed(const ByteCounts& counts, std::uint64_t branch) {
  return seed_from_counts(counts, branch);
}

tl::expected<void, InvoluteError> involute_with_seed(ByteView packet, ByteView salt,
                                                     std::uint64_t chunk_size,
                                                     const crypto::Digest& seed,
                                                     std::span<std::uint8_t> out) {
  tl::expected<void, InvoluteError> result;
  if (trivial_involution(packet, chunk_size, out, result)) return result;
  return involute_with(packet, salt, static_cast<std::size_t>(chunk_size), SeedSource{seed, 0},
                       out);
}

tl::expected<void, InvoluteError> cond_involute_packet_into(ByteView packet, ByteView salt,
                                                            std::uint64_t chunk_size,
                                                            std::uint64_t low_bound,
                                                            std::uint64_t high_bound,
                                                            float test_value,
                                                            std::span<std::uint8_t> out) {
  tl::expected<void, InvoluteError> result;
  if (trivial_involution(packet, chunk_size, out, result)) return result;
  const std::uint64_t branch = cond_hash_branch(low_bound, high_bound, test_value, salt);
  return involute_with(packet, salt, static_cast<std::size_t>(chunk_size),
                       SeedSource{std::nullopt, branch}, out);
}

tl::expected<void, InvoluteError> involute_packet_into(ByteView packet, ByteView salt,
                                                       std::uint64_t chunk_size,
                                                       std::span<std::uint8_t> out) {
  const PreparedBounds bounds = prep_condition(-1.0f, 1.0f, salt);
  return cond_involute_packet_into(packet, salt, chunk_size, bounds.low, bounds.high, 0.0f, out);
}

tl::expected<Bytes, InvoluteError> cond_involute_packet(ByteView packet, ByteView salt,
                                                        std::uint64_t chunk_size,
                                                        std::uint64_t low_bound,
                                                        std::uint64_t high_bound,
                                                        float test_value) {
  if (chunk_size != 0 && packet.size() % chunk_size != 0)
    return tl::unexpected(InvoluteError(ChunkMismatch{packet.size(), chunk_size}));
  Bytes out = advised_bytes(packet.size());
  auto done = cond_involute_packet_into(packet, salt, chunk_size, low_bound, high_bound,
                                        test_value, out);
  if (!done) return tl::unexpected(done.error());
  return out;
}

tl::expected<Bytes, InvoluteError> involute_packet(ByteView packet, ByteView salt,
                                                   std::uint64_t chunk_size) {
  const PreparedBounds bounds = prep_condition(-1.0f, 1.0f, salt);
  return cond_involute_packet(packet, salt, chunk_size, bounds.low, bounds.high, 0.0f);
}

}  // namespace mirelon
