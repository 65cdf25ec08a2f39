#pragma once
// A chunk's place in the crumb order, packed into one 64-bit key: the high
// bits are the leading bits of its crumb (read big-endian, so integer order
// is crumb order), the low bits its chunk index, as few as the chunk count
// needs. One-word keys sort about twice as fast as separate lead and index
// words; chunks whose leading bits tie are put in order by their full crumbs
// afterwards, which for distinct chunks is rare.

#include <bit>
#include <cstddef>
#include <cstdint>

#include "runtime/scratch_array.hpp"

namespace mirelon {

class KeyLayout {
 public:
  explicit KeyLayout(std::size_t chunk_count) {
    const int bits = std::bit_width(chunk_count > 0 ? chunk_count - 1 : 0);
    index_mask_ = bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
  }
  // `lead`: the crumb's first eight bytes, big-endian.
  std::uint64_t key(std::uint64_t lead, std::uint64_t index) const {
    return (lead & ~index_mask_) | index;
  }
  std::uint64_t index(std::uint64_t key) const { return key & index_mask_; }
  bool same_lead(std::uint64_t a, std::uint64_t b) const { return ((a ^ b) & ~index_mask_) == 0; }

 private:
  std::uint64_t index_mask_;
};

using CrumbKeys = runtime::ScratchArray<std::uint64_t>;

// The keys in ascending order, sorted on the pool.
CrumbKeys sort_keys(CrumbKeys keys);

}  // namespace mirelon
