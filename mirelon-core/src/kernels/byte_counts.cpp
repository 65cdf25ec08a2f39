#include "kernels/byte_counts.hpp"

#include <algorithm>

namespace mirelon::kernels {

void ByteTally::reserve(std::size_t bytes) {
  if (bytes > kLaneLimit - pending_) settle();
  pending_ += bytes;
}

void ByteTally::count(const std::uint8_t* p, std::size_t n) {
  // In pieces that the lane tables can always take.
  constexpr std::size_t kPiece = std::size_t{1} << 30;
  for (std::size_t from = 0; from < n; from += kPiece) {
    const std::size_t m = std::min(kPiece, n - from);
    reserve(m);
    const std::uint8_t* const q = p + from;
    std::size_t i = 0;
    for (; i + 4 <= m; i += 4) count4(q + i);
    for (; i < m; ++i) ++lanes_[0][q[i]];
  }
}

void ByteTally::settle() {
  for (auto& lane : lanes_) {
    for (std::size_t v = 0; v < 256; ++v) totals_[v] += lane[v];
    lane.fill(0);
  }
  pending_ = 0;
}

ByteCounts count_bytes(ByteView bytes) {
  ByteTally tally;
  tally.count(bytes.data(), bytes.size());
  tally.settle();
  return tally.totals();
}

}  // namespace mirelon::kernels
