#include "mirelon/involute.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "crypto.hpp"
#include "involute/crumbs.hpp"
#include "mirelon/parallel.hpp"

namespace mirelon {
namespace {

using Histogram = std::array<std::uint64_t, 256>;

// Bytes counted per task when the histogram is built on the pool.
constexpr std::size_t kHistogramBlock = std::size_t{1} << 20;
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
// order. The order depends only on how often each value occurs, so each
// value's run is fed from a constant buffer instead of sorting a copy.
crypto::Digest seed_digest(ByteView packet, std::uint64_t branch) {
  Histogram counts = histogram(packet);
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

bool crumb_less(const CrumbRecord& a, const CrumbRecord& b) {
  for (std::size_t w = 0; w < 4; ++w)
    if (a.words[w] != b.words[w]) return a.words[w] < b.words[w];
  return false;
}

bool crumb_equal(const CrumbRecord& a, const CrumbRecord& b) {
  return a.words[0] == b.words[0] && a.words[1] == b.words[1] && a.words[2] == b.words[2] &&
         a.words[3] == b.words[3];
}

// Index records and their compacted form share one allocation: after sorting,
// the chunk index of sorted record r is written as the r-th u64 of the
// records' storage. Record r's own index sits at byte 40r + 32, which the
// writes for positions up to r never reach, so one forward pass is safe.
class OrderArray {
 public:
  explicit OrderArray(std::vector<CrumbRecord>& records)
      : bytes_(reinterpret_cast<unsigned char*>(records.data())) {
    for (std::size_t r = 0; r < records.size(); ++r) {
      const std::uint64_t index = records[r].index;
      std::memcpy(bytes_ + r * sizeof index, &index, sizeof index);
    }
  }
  std::uint64_t operator[](std::size_t r) const {
    std::uint64_t index;
    std::memcpy(&index, bytes_ + r * sizeof index, sizeof index);
    return index;
  }

 private:
  unsigned char* bytes_;
};

}  // namespace

void compute_crumb(ByteView chunk, ByteView salt, const crypto::Digest& seed,
                   CrumbRecord& record) {
  crypto::Digest h = crypto::Sha256().update(chunk).update(salt).update(seed).finish();
  for (std::size_t i = 0; i < h.size(); ++i) h[i] ^= seed[i];
  for (std::size_t w = 0; w < 4; ++w) record.words[w] = load_u64_be(h.data() + 8 * w);
}

tl::expected<Bytes, InvoluteError> cond_involute_packet(ByteView packet, ByteView salt,
                                                        std::uint64_t chunk_size,
                                                        std::uint64_t low_bound,
                                                        std::uint64_t high_bound,
                                                        float test_value) {
  const std::uint64_t n = packet.size();
  if (chunk_size == 0) return Bytes(packet.begin(), packet.end());
  if (n % chunk_size != 0) return tl::unexpected(InvoluteError(ChunkMismatch{n, chunk_size}));
  if (n == 0) return Bytes();

  const std::uint64_t branch = cond_hash_branch(low_bound, high_bound, test_value, salt);
  const crypto::Digest seed = seed_digest(packet, branch);

  const std::size_t c = static_cast<std::size_t>(chunk_size);
  const std::size_t k = static_cast<std::size_t>(n / chunk_size);
  std::vector<CrumbRecord> records(k);
  const std::size_t crumb_grain = std::max<std::size_t>(1, kTaskBytes / (c + salt.size() + 64));
  parallel::for_ranges(k, crumb_grain, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      records[i].index = i;
      compute_crumb(packet.subspan(i * c, c), salt, seed, records[i]);
    }
  });

  // The crumbs are distinct exactly when no two neighbours are equal after
  // sorting; this is decided before any output exists, and the order of
  // distinct crumbs is unique, so the unstable sort cannot leak into results.
  parallel::sort(records.begin(), records.end(), crumb_less);
  for (std::size_t r = 1; r < k; ++r)
    if (crumb_equal(records[r - 1], records[r])) return tl::unexpected(InvoluteError(DuplicateCrumbs{}));

  const OrderArray order(records);
  Bytes out(n);
  const std::size_t copy_grain = std::max<std::size_t>(1, kTaskBytes / c);
  parallel::for_each_index(k, copy_grain, [&](std::size_t j) {
    const std::size_t source = static_cast<std::size_t>(order[static_cast<std::size_t>(order[j])]);
    std::memcpy(out.data() + j * c, packet.data() + source * c, c);
  });
  return out;
}

tl::expected<Bytes, InvoluteError> involute_packet(ByteView packet, ByteView salt,
                                                   std::uint64_t chunk_size) {
  const PreparedBounds bounds = prep_condition(-1.0f, 1.0f, salt);
  return cond_involute_packet(packet, salt, chunk_size, bounds.low, bounds.high, 0.0f);
}

}  // namespace mirelon
