#include "mirelon/involute.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "crypto/openssl.hpp"
#include "crypto/sha256_multi.hpp"
#include "involute/crumb_keys.hpp"
#include "involute/crumbs.hpp"
#include "runtime/byte_order.hpp"
#include "runtime/memory.hpp"
#include "runtime/parallel.hpp"
#include "runtime/scratch_array.hpp"

namespace mirelon {
namespace {

// Bytes counted per task when the packet's byte counts are taken on the pool.
constexpr std::size_t kCountBlock = std::size_t{256} << 10;
// Bytes hashed or copied per task, roughly: enough to outweigh scheduling.
constexpr std::size_t kTaskBytes = std::size_t{64} << 10;

// SHA-256 of the packet bytes and the branch value (big-endian) in ascending
// order, given the packet's byte counts. The order depends only on how often
// each value occurs, so each value's run is fed from a constant buffer instead
// of sorting a copy.
crypto::Digest seed_from_counts(kernels::ByteCounts counts, std::uint64_t branch) {
  std::array<std::uint8_t, 8> branch_bytes;
  runtime::store_u64_be(branch_bytes.data(), branch);
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
runtime::ScratchArray<Index> source_chunks(const CrumbKeys& keys, const KeyLayout& layout,
                                  std::size_t grain) {
  // Far ahead: for a packet larger than the caches each read waits on memory.
  constexpr std::size_t kAhead = 128;
  runtime::ScratchArray<Index> source = runtime::ScratchArray<Index>(keys.size());
  runtime::parallel::for_ranges(keys.size(), grain, [&](std::size_t begin, std::size_t end) {
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
void gather(ByteView packet, const runtime::ScratchArray<Index>& source, std::size_t c, std::size_t begin,
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

// Moves chunk source[j] of `data` to place j for every j, in place. Every
// cycle of the permutation is cut at the places that are multiples of the
// segment length (the starts): the chunks at the starts are saved first, then
// the runs from each start to the next are walked on the pool, each worker
// walking several runs in turn so that their random reads overlap. Cycles
// without a start are walked last, on the calling thread. The saved chunks
// take at most 8 bytes per chunk, kept in `room` when it is large enough;
// `source` is used up (each place is marked done by pointing at itself).
template <std::size_t kSize, class Index>
void walk_runs(std::span<std::uint8_t> data, Index* source, std::size_t c, std::size_t segment,
               const std::uint8_t* saved, std::size_t first_start, std::size_t last_start) {
  // Each lane fills place `at` from place `from`; what the next step of a
  // lane reads was requested a whole round of the lanes before.
  constexpr std::size_t kLanes = 16;
  struct Lane {
    std::uint64_t at;
    std::uint64_t from;
  };
  const std::size_t size = kSize != 0 ? kSize : c;
  std::uint8_t* const base = data.data();
  auto request = [&](std::uint64_t from) {
    __builtin_prefetch(base + from * size);
    __builtin_prefetch(source + from);
  };
  std::array<Lane, kLanes> lanes;
  std::size_t next_start = first_start;
  auto start_run = [&](Lane& lane) {
    if (next_start == last_start) return false;
    lane.at = next_start++ * segment;
    lane.from = source[lane.at];
    request(lane.from);
    return true;
  };
  std::size_t live = 0;
  while (live < kLanes && start_run(lanes[live])) ++live;
  while (live > 0) {
    for (std::size_t l = 0; l < live;) {
      Lane& lane = lanes[l];
      source[lane.at] = static_cast<Index>(lane.at);
      if ((lane.from & (segment - 1)) == 0) {
        std::memcpy(base + lane.at * size, saved + lane.from / segment * size, size);
        // A finished lane takes a new run, or the last live lane's place.
        if (!start_run(lane)) lane = lanes[--live];
        else ++l;
        continue;
      }
      std::memcpy(base + lane.at * size, base + lane.from * size, size);
      lane.at = lane.from;
      lane.from = source[lane.at];
      request(lane.from);
      ++l;
    }
  }
}

template <class Index>
void permute_in_place(std::span<std::uint8_t> data, runtime::ScratchArray<Index>& source, std::size_t c,
                      std::span<std::uint8_t> room) {
  const std::size_t k = source.size();
  const std::size_t segment = std::bit_ceil(std::max<std::size_t>(64, c / 8));
  const std::size_t starts = (k + segment - 1) / segment;
  runtime::ScratchBlock own(room.size() >= starts * c ? 0 : starts * c);
  std::uint8_t* const saved = own.data() != nullptr ? own.data() : room.data();
  runtime::parallel::for_ranges(starts, std::max<std::size_t>(1, kTaskBytes / c),
                       [&](std::size_t begin, std::size_t end) {
                         for (std::size_t s = begin; s < end; ++s)
                           std::memcpy(saved + s * c, data.data() + s * segment * c, c);
                       });
  auto walk = [&](std::size_t begin, std::size_t end) {
    switch (c) {
      case 16: return walk_runs<16>(data, source.data(), 16, segment, saved, begin, end);
      case 32: return walk_runs<32>(data, source.data(), 32, segment, saved, begin, end);
      case 64: return walk_runs<64>(data, source.data(), 64, segment, saved, begin, end);
      default: return walk_runs<0>(data, source.data(), c, segment, saved, begin, end);
    }
  };
  runtime::parallel::for_ranges(starts, std::max<std::size_t>(1, kTaskBytes / (segment * c)), walk);
  std::vector<std::uint8_t> held(c);
  for (std::size_t j = 0; j < k; ++j) {
    if (source[j] == j) continue;
    std::memcpy(held.data(), data.data() + j * c, c);
    std::uint64_t at = j;
    for (;;) {
      const std::uint64_t from = source[at];
      source[at] = static_cast<Index>(at);
      if (from == j) break;
      std::memcpy(data.data() + at * c, data.data() + from * c, c);
      at = from;
    }
    std::memcpy(data.data() + at * c, held.data(), c);
  }
}

// Puts the chunks of `packet` in crumb order into `out`, which may be the
// packet itself; then the keys' memory holds the packet or the saved chunks.
template <class Index>
void place_in_crumb_order(ByteView packet, CrumbKeys keys, const KeyLayout& layout,
                          std::size_t c, bool out_faulted_in, std::span<std::uint8_t> out) {
  const std::size_t grain = std::max<std::size_t>(1, kTaskBytes / c);
  runtime::ScratchArray<Index> source = source_chunks<Index>(keys, layout, grain);
  const std::span<std::uint8_t> room(reinterpret_cast<std::uint8_t*>(keys.data()),
                                     keys.size() * sizeof(std::uint64_t));
  if (packet.data() == out.data() && room.size() < packet.size())
    return permute_in_place(out, source, c, room);
  // Chunks of 8 bytes or less fit in the keys' memory: the packet moves
  // there first, and is gathered back from it.
  if (packet.data() == out.data()) {
    runtime::parallel::for_ranges(packet.size(), kTaskBytes, [&](std::size_t begin, std::size_t end) {
      std::memcpy(room.data() + begin, packet.data() + begin, end - begin);
    });
    packet = ByteView(room.data(), packet.size());
  } else {
    keys = {};
  }
  // Short chunks are copied inline rather than through a library call.
  auto copy = [&](std::size_t begin, std::size_t end) {
    switch (c) {
      case 16: return gather<16>(packet, source, 16, begin, end, out);
      case 32: return gather<32>(packet, source, 32, begin, end, out);
      case 64: return gather<64>(packet, source, 64, begin, end, out);
      default: return gather<0>(packet, source, c, begin, end, out);
    }
  };
  // An output the seed phase has not faulted in is faulted in by the worker
  // about to write it.
  const std::span<std::uint8_t> outputs[] = {out};
  runtime::parallel::for_ranges(source.size(), grain, [&](std::size_t begin, std::size_t end) {
    if (out_faulted_in) return copy(begin, end);
    runtime::fault_in_steps(outputs, c, begin, end, copy);
  });
}

}  // namespace

crypto::Digest compute_crumb(ByteView chunk, ByteView salt, const crypto::Digest& seed) {
  crypto::Digest h = crypto::Sha256().update(chunk).update(salt).update(seed).finish();
  for (std::size_t i = 0; i < h.size(); ++i) h[i] ^= seed[i];
  return h;
}

namespace {

// A task faults in kFaultGrain bytes of the output (one huge page).
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
                    std::span<crypto::ShaState> states, kernels::ByteCounts* counts) {
  runtime::parallel::for_ranges(states.size(), grain, [&](std::size_t begin, std::size_t end) {
    std::fill(states.begin() + static_cast<std::ptrdiff_t>(begin),
              states.begin() + static_cast<std::ptrdiff_t>(end), crypto::kShaInitial);
    kernels::ByteTally tally;
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

// What the seed phase leaves for the crumb phase.
struct SeededWork {
  crypto::Digest seed;
  // Whole 64-byte blocks of every chunk already absorbed into `states`.
  std::size_t lead_blocks = 0;
  // Whether the output's pages were faulted in meanwhile.
  bool out_faulted_in = false;
  runtime::ScratchArray<crypto::ShaState> states;
  CrumbKeys keys;  // one per chunk, not yet written
};

// Phase 1: the seed. It is one long serial hash after the byte counts. With a
// second worker, the other work that does not need the seed runs meanwhile:
// faulting in the output and the crumb keys (fresh memory costs the kernel a
// page clear) and hashing the leading blocks. On one worker, the packet's
// bytes are counted while the leading blocks are hashed (with a single
// leading block, keeping the states costs about what that saves).
SeededWork seed_phase(ByteView packet, std::size_t c, const SeedSource& source,
                      std::size_t crumb_grain, std::span<std::uint8_t> out) {
  const std::size_t k = packet.size() / c;
  // A seed given outright leaves nothing to overlap: every crumb is hashed
  // in one go, and no hash states are kept.
  const bool overlap = runtime::parallel::worker_count() > 1 && !source.known;
  const bool count_while_hashing = !overlap && !source.known && c >= 2 * crypto::kShaBlock;
  SeededWork work;
  work.lead_blocks = overlap || count_while_hashing ? c / crypto::kShaBlock : 0;
  auto seed_from = [&](const kernels::ByteCounts& counts) {
    return source.known ? *source.known : seed_from_counts(counts, source.branch);
  };

  if (count_while_hashing) {
    work.states = runtime::ScratchArray<crypto::ShaState>(k);
    kernels::ByteCounts counts{};
    absorb_leading(packet, c, work.lead_blocks, crumb_grain, work.states, &counts);
    work.seed = seed_from(counts);
    work.keys = CrumbKeys(k);
  } else if (!overlap) {
    work.seed = seed_from(source.known ? kernels::ByteCounts{} : count_bytes_on_pool(packet));
    work.keys = CrumbKeys(k);
  } else {
    // The counts come first, on every worker; only the serial hash of the
    // sorted bytes then runs beside the seed-independent work.
    const kernels::ByteCounts counts = source.known ? kernels::ByteCounts{} : count_bytes_on_pool(packet);
    runtime::parallel::for_each_index(2, 1, [&](std::size_t task) {
      if (task == 0) {
        work.seed = seed_from(counts);
        return;
      }
      // Each in parallel pieces, so that the worker done with the seed can
      // take some.
      runtime::parallel::for_ranges(out.size(), kFaultGrain, [&](std::size_t begin, std::size_t end) {
        runtime::fault_in(out.subspan(begin, end - begin));
      });
      work.out_faulted_in = true;
      work.keys = CrumbKeys(k);
      if (work.lead_blocks == 0) return;
      work.states = runtime::ScratchArray<crypto::ShaState>(k);
      absorb_leading(packet, c, work.lead_blocks, crumb_grain, work.states, nullptr);
    });
  }
  return work;
}

// Phase 2: every chunk's crumb key, from the rest of its crumb's message
// (the blocks holding the chunk's end, then salt || seed).
void crumb_phase(ByteView packet, ByteView salt, std::size_t c, std::size_t crumb_grain,
                 const KeyLayout& layout, SeededWork& work) {
  // salt || seed: the part every crumb's message ends with.
  Bytes shared(salt.size() + work.seed.size());
  if (!salt.empty()) std::memcpy(shared.data(), salt.data(), salt.size());
  std::memcpy(shared.data() + salt.size(), work.seed.data(), work.seed.size());
  const std::uint64_t seed_lead = runtime::load_u64_be(work.seed.data());

  runtime::parallel::for_ranges(work.keys.size(), crumb_grain, [&](std::size_t begin, std::size_t end) {
    std::array<crypto::ShaState, kCrumbBatch> initial;
    initial.fill(crypto::kShaInitial);
    std::array<crypto::Digest, kCrumbBatch> digests;
    chunk_batches(packet, c, begin, end,
                  [&](std::size_t first, const std::uint8_t* const* own, std::size_t count) {
                    const crypto::ShaState* from =
                        work.lead_blocks == 0 ? initial.data() : work.states.data() + first;
                    crypto::sha_finish(from, own, c, work.lead_blocks, shared, count,
                                       digests.data());
                    for (std::size_t j = 0; j < count; ++j)
                      work.keys[first + j] =
                          layout.key(runtime::load_u64_be(digests[j].data()) ^ seed_lead, first + j);
                  });
  });
  work.states = {};
}

// Phase 3: the keys in crumb order. Crumbs are distinct exactly when no run
// of equal leading words holds two equal crumbs. This is decided before any
// output exists, and distinct crumbs have one order, so the unstable sort
// cannot leak into results. False when two crumbs are equal.
bool order_phase(ByteView packet, ByteView salt, std::size_t c, const crypto::Digest& seed,
                 const KeyLayout& layout, CrumbKeys& keys) {
  keys = sort_keys(std::move(keys));
  const std::size_t k = keys.size();
  for (std::size_t r = 0; r + 1 < k;) {
    std::size_t end = r + 1;
    while (end < k && layout.same_lead(keys[end], keys[r])) ++end;
    if (end - r > 1 &&
        !settle_tie(packet, c, salt, seed, layout, std::span(keys).subspan(r, end - r)))
      return false;
    r = end;
  }
  return true;
}

// Involution with the seed from `source`. The whole 64-byte blocks of every
// chunk precede salt and seed in its crumb's message, so they can be hashed
// before the seed is known; only the blocks holding the chunk's end, the salt
// and the seed wait for it. Writes the result to `out` (n bytes).
tl::expected<void, InvoluteError> involute_with(ByteView packet, ByteView salt, std::size_t c,
                                                const SeedSource& source,
                                                std::span<std::uint8_t> out) {
  const std::size_t k = packet.size() / c;
  const std::size_t crumb_grain =
      std::max<std::size_t>(kCrumbBatch, kTaskBytes / (c + salt.size() + 64));
  const KeyLayout layout(k);
  SeededWork work = seed_phase(packet, c, source, crumb_grain, out);
  crumb_phase(packet, salt, c, crumb_grain, layout, work);
  if (!order_phase(packet, salt, c, work.seed, layout, work.keys))
    return tl::unexpected(InvoluteError(DuplicateCrumbs{}));
  // Phase 4: the copy. Four-byte chunk indices halve what the random reads
  // keep in cache.
  if (k <= (std::uint64_t{1} << 32))
    place_in_crumb_order<std::uint32_t>(packet, std::move(work.keys), layout, c,
                                        work.out_faulted_in, out);
  else
    place_in_crumb_order<std::uint64_t>(packet, std::move(work.keys), layout, c,
                                        work.out_faulted_in, out);
  return {};
}

// The checks every involution makes before any work: a chunk size that does
// not divide the length fails, a chunk size of 0 copies, an empty packet is
// done. Returns the result when nothing is left to do.
std::optional<tl::expected<void, InvoluteError>> trivial_involution(ByteView packet,
                                                                    std::uint64_t chunk_size,
                                                                    std::span<std::uint8_t> out) {
  if (auto mismatch = chunk_mismatch(packet.size(), chunk_size)) return tl::unexpected(*mismatch);
  runtime::ready_output(out, packet.size());
  if (chunk_size == 0 && !packet.empty() && out.data() != packet.data())
    std::memcpy(out.data(), packet.data(), packet.size());
  if (chunk_size == 0 || packet.empty()) return tl::expected<void, InvoluteError>{};
  return std::nullopt;
}

}  // namespace

kernels::ByteCounts count_bytes_on_pool(ByteView packet) {
  const std::size_t blocks = (packet.size() + kCountBlock - 1) / kCountBlock;
  std::vector<kernels::ByteCounts> partial(blocks, kernels::ByteCounts{});
  runtime::parallel::for_each_index(blocks, 1, [&](std::size_t b) {
    const std::size_t begin = b * kCountBlock;
    partial[b] = kernels::count_bytes(packet.subspan(begin, std::min(kCountBlock, packet.size() - begin)));
  });
  kernels::ByteCounts total{};
  for (const kernels::ByteCounts& h : partial)
    for (std::size_t v = 0; v < 256; ++v) total[v] += h[v];
  return total;
}

crypto::Digest involution_seed(const kernels::ByteCounts& counts, std::uint64_t branch) {
  return seed_from_counts(counts, branch);
}

std::uint64_t plain_branch(ByteView salt) {
  const PreparedBounds bounds = prep_condition(-1.0f, 1.0f, salt);
  return cond_hash_branch(bounds.low, bounds.high, 0.0f, salt);
}

tl::expected<void, InvoluteError> involute_with_seed(ByteView packet, ByteView salt,
                                                     std::uint64_t chunk_size,
                                                     const crypto::Digest& seed,
                                                     std::span<std::uint8_t> out) {
  if (auto done = trivial_involution(packet, chunk_size, out)) return *done;
  return involute_with(packet, salt, static_cast<std::size_t>(chunk_size), SeedSource{seed, 0},
                       out);
}

tl::expected<void, InvoluteError> cond_involute_packet_into(ByteView packet, ByteView salt,
                                                            std::uint64_t chunk_size,
                                                            std::uint64_t low_bound,
                                                            std::uint64_t high_bound,
                                                            float test_value,
                                                            std::span<std::uint8_t> out) {
  if (auto done = trivial_involution(packet, chunk_size, out)) return *done;
  const std::uint64_t branch = cond_hash_branch(low_bound, high_bound, test_value, salt);
  return involute_with(packet, salt, static_cast<std::size_t>(chunk_size),
                       SeedSource{std::nullopt, branch}, out);
}

tl::expected<void, InvoluteError> involute_packet_into(ByteView packet, ByteView salt,
                                                       std::uint64_t chunk_size,
                                                       std::span<std::uint8_t> out) {
  if (auto done = trivial_involution(packet, chunk_size, out)) return *done;
  return involute_with(packet, salt, static_cast<std::size_t>(chunk_size),
                       SeedSource{std::nullopt, plain_branch(salt)}, out);
}

tl::expected<Bytes, InvoluteError> cond_involute_packet(ByteView packet, ByteView salt,
                                                        std::uint64_t chunk_size,
                                                        std::uint64_t low_bound,
                                                        std::uint64_t high_bound,
                                                        float test_value) {
  if (auto mismatch = chunk_mismatch(packet.size(), chunk_size)) return tl::unexpected(*mismatch);
  Bytes out = runtime::advised_bytes(packet.size());
  auto done = cond_involute_packet_into(packet, salt, chunk_size, low_bound, high_bound,
                                        test_value, out);
  if (!done) return tl::unexpected(done.error());
  return out;
}

tl::expected<Bytes, InvoluteError> involute_packet(ByteView packet, ByteView salt,
                                                   std::uint64_t chunk_size) {
  if (auto mismatch = chunk_mismatch(packet.size(), chunk_size)) return tl::unexpected(*mismatch);
  Bytes out = runtime::advised_bytes(packet.size());
  auto done = involute_packet_into(packet, salt, chunk_size, out);
  if (!done) return tl::unexpected(done.error());
  return out;
}

}  // namespace mirelon
