#pragma once
// Byte-wise kernels of the data mapping, run over a block of positions at a
// time so that the additions vectorise and the table lookups stay in a tight
// loop over contiguous bytes. All arithmetic wraps modulo 256.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mirelon::blocks {

// Per-run scratch space: `count` buffers of `size` bytes each.
class Scratch {
 public:
  Scratch(std::size_t count, std::size_t size) : size_(size), bytes_(count * size) {}
  std::uint8_t* buffer(std::size_t k) { return bytes_.data() + k * size_; }

 private:
  std::size_t size_;
  std::vector<std::uint8_t> bytes_;
};

// acc[i] += x[i]
inline void add(std::uint8_t* __restrict acc, const std::uint8_t* __restrict x, std::size_t m) {
  for (std::size_t i = 0; i < m; ++i) acc[i] = static_cast<std::uint8_t>(acc[i] + x[i]);
}

// out[i] = x[i] - y[i]
inline void sub_from(std::uint8_t* __restrict out, const std::uint8_t* x, const std::uint8_t* y,
                     std::size_t m) {
  for (std::size_t i = 0; i < m; ++i) out[i] = static_cast<std::uint8_t>(x[i] - y[i]);
}

// out[i] = table[index[i]]; the table must hold 256 entries.
inline void lookup(const std::uint8_t* __restrict table, const std::uint8_t* index,
                   std::uint8_t* out, std::size_t m) {
  std::size_t i = 0;
  for (; i + 4 <= m; i += 4) {
    const std::uint8_t i0 = index[i], i1 = index[i + 1], i2 = index[i + 2], i3 = index[i + 3];
    out[i] = table[i0];
    out[i + 1] = table[i1];
    out[i + 2] = table[i2];
    out[i + 3] = table[i3];
  }
  for (; i < m; ++i) out[i] = table[index[i]];
}

// The largest of x[0..m), 0 when m is 0.
inline std::uint8_t max_of(const std::uint8_t* x, std::size_t m) {
  std::uint8_t top = 0;
  for (std::size_t i = 0; i < m; ++i) top = x[i] > top ? x[i] : top;
  return top;
}

}  // namespace mirelon::blocks
