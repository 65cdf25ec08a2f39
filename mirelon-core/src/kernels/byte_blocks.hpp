#pragma once
// Byte-wise kernels of the data mapping, run over a block of positions at a
// time: the additions work on 16 bytes at once and the table lookups run in
// one tight loop over contiguous bytes. All arithmetic wraps modulo 256.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "mirelon/bytes.hpp"

namespace mirelon::kernels {

// Positions per block: the mapping and its inverse hand the pool whole blocks,
// and a block's per-run buffers stay in the first-level cache.
inline constexpr std::size_t kBlock = 4096;

// The length shared by every sequence (the list is not empty). The first
// sequence whose length differs from the first one's is an internal failure.
std::size_t common_length(std::span<const ByteView> sequences);

// Per-run scratch space: `count` buffers of `size` bytes each.
class RunBuffers {
 public:
  RunBuffers(std::size_t count, std::size_t size) : size_(size), bytes_(count * size) {}
  std::uint8_t* buffer(std::size_t k) { return bytes_.data() + k * size_; }

 private:
  std::size_t size_;
  std::vector<std::uint8_t> bytes_;
};

// 16 bytes (one SSE2 or NEON register) with element-wise wrapping arithmetic.
using Vec = std::uint8_t __attribute__((vector_size(16)));
inline constexpr std::size_t kWidth = sizeof(Vec);

inline Vec load(const std::uint8_t* p) {
  Vec v;
  std::memcpy(&v, p, kWidth);
  return v;
}
inline void store(std::uint8_t* p, Vec v) { std::memcpy(p, &v, kWidth); }

// out[i] = op(in[i]...) for i < m. `op` is called with Vec values for whole
// groups of 16 bytes and with single bytes for the tail, so it must be written
// with operators that mean the same on both (+, -). `out` may be one of the
// inputs.
template <class Op, class... In>
inline void zip(std::uint8_t* out, std::size_t m, Op op, const In*... in) {
  std::size_t i = 0;
  for (; i + kWidth <= m; i += kWidth) store(out + i, op(load(in + i)...));
  for (; i < m; ++i) out[i] = static_cast<std::uint8_t>(op(in[i]...));
}

// acc[i] += x[i]
inline void add(std::uint8_t* acc, const std::uint8_t* x, std::size_t m) {
  zip(acc, m, [](auto a, auto b) { return a + b; }, acc, x);
}

// The largest of x[0..m), 0 when m is 0.
inline std::uint8_t max_of(const std::uint8_t* x, std::size_t m) {
  Vec top{};
  std::size_t i = 0;
  for (; i + kWidth <= m; i += kWidth) {
    const Vec v = load(x + i);
    top = v > top ? v : top;
  }
  std::uint8_t best = 0;
  for (std::size_t k = 0; k < kWidth; ++k) best = top[k] > best ? top[k] : best;
  for (; i < m; ++i) best = x[i] > best ? x[i] : best;
  return best;
}

// out[i] = table[index[i]]; the table must hold 256 entries. `out` may be
// `index`.
void lookup(const std::uint8_t* table, const std::uint8_t* index, std::uint8_t* out,
            std::size_t m);

// Kernels for processors with 64-byte byte permutes (AVX-512 VBMI), chosen
// at run time: elsewhere they return false and leave the work to the block
// kernels above. All tables hold 256 entries.
//
// lookup, 64 entries at a time.
bool lookup_wide(const std::uint8_t* table, const std::uint8_t* index, std::uint8_t* out,
                  std::size_t m);
// The whole-chain kernels: every position's chain runs in registers, 64
// positions at a time, so each input byte is read once and each output byte
// written once.
//
// map_data's positions [begin, end) for party p of d.size() parties.
bool map_positions_wide(const std::uint8_t* a, const std::uint8_t* b, std::uint64_t p,
                         std::span<const ByteView> d, std::size_t begin, std::size_t end,
                         std::uint8_t* out);
// How inv_data's wide kernels write results of up to 16 parties.
enum class InvStores {
  cached,            // through the cache
  streamed_aligned,  // streaming stores where a row is 64-byte aligned, which
                     // suits fresh results: they are misaligned alike, and
                     // the lines the kernel has just cleared stay in cache
  streamed_joined,   // streaming stores for every result on its own
                     // alignment, rows joined through a buffer: for reused
                     // results, which the host's heap misaligns unlike
};

// inv_data's positions [begin, end): out[j] receives party j's bytes; n >= 2.
bool inv_positions_wide(const std::uint8_t* a, std::span<const Bytes> tables,
                         std::span<const ByteView> mapped, std::size_t begin, std::size_t end,
                         std::span<const std::span<std::uint8_t>> out, InvStores stores);

}  // namespace mirelon::kernels
