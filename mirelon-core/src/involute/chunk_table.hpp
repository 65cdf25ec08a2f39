#pragma once
// Whether the chunks of a packet are pairwise distinct, for chunk sizes of 4
// bytes and more: a flat open-addressing table of chunk indices. One table
// serves every chunk size a search tries: it is allocated for the first (and
// largest) chunk count, and each chunk size that finds a repeat leaves it
// empty again, by removing only what it inserted when that was little, else
// by clearing it (whole pages of a large table go back to the system).
// Tables from 1 to 64 MiB are scratch-pool blocks, kept warm between calls.
// Allocation failure throws std::bad_alloc.

#include <cstddef>
#include <cstdint>

#include "mirelon/bytes.hpp"
#include "runtime/scratch_pool.hpp"

namespace mirelon {

class ChunkTable {
 public:
  // True when the packet's size / c chunks are pairwise distinct. Needs
  // c >= 4, c dividing the size, and at least two chunks. A pass beyond its
  // first chunks is shared by the pool's workers, each taking a run of
  // positions and claiming slots by compare-and-swap; all of them stop at the
  // first repeat found.
  bool distinct(ByteView packet, std::uint64_t c);

  // The table's memory: zero wherever no chunk is held.
  struct Slots {
    Slots() = default;
    Slots(const Slots&) = delete;
    Slots& operator=(const Slots&) = delete;
    ~Slots();
    // Zeroes the first `bytes`, handing whole pages of a mapping back.
    void clear(std::size_t bytes);

    void* data = nullptr;
    runtime::ScratchBlock pooled;  // mid-sized tables: a block kept warm between calls
    void* mapping = nullptr;  // large tables: their own mapping
    std::size_t mapped_bytes = 0;
  };

 private:
  void reserve(std::uint64_t count);

  Slots slots_;
  bool wide_ = false;  // 64-bit slots (chunk counts of 2^32 - 1 and more)
};

}  // namespace mirelon
