#pragma once
// How often each byte value occurs. One routine counts for every user: the
// involution's seed, key cycling's key check and the counting that rides
// along with the SHA-256 lanes.

#include <array>
#include <cstddef>
#include <cstdint>

#include "mirelon/bytes.hpp"

namespace mirelon::kernels {

using ByteCounts = std::array<std::uint64_t, 256>;

// Byte counts kept piece by piece. Four lane tables keep runs of equal bytes
// from serialising on one counter; counting runs on other execution units
// than the SHA rounds, so interleaved with them it costs about half of what a
// pass of its own costs.
class ByteTally {
 public:
  // Makes room for counting `bytes` more bytes with count4, settling first
  // when a lane table could otherwise overflow.
  void reserve(std::size_t bytes);
  // Counts p[0..4), within room reserved.
  void count4(const std::uint8_t* p) {
    ++lanes_[0][p[0]];
    ++lanes_[1][p[1]];
    ++lanes_[2][p[2]];
    ++lanes_[3][p[3]];
  }
  // Counts p[0..n).
  void count(const std::uint8_t* p, std::size_t n);
  // Moves the lane counts into the totals.
  void settle();
  // Counts so far, after settle().
  const ByteCounts& totals() const { return totals_; }

 private:
  static constexpr std::size_t kLaneLimit = 0xffffffff;
  std::size_t pending_ = 0;
  std::array<std::array<std::uint32_t, 256>, 4> lanes_{};
  ByteCounts totals_{};
};

// The counts of `bytes`, on the calling thread.
ByteCounts count_bytes(ByteView bytes);

}  // namespace mirelon::kernels
