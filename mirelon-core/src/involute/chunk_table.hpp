#pragma once
// Whether the chunks of a packet are pairwise distinct, for chunk sizes of 4
// bytes and more: a flat open-addressing table of chunk indices. One table
// serves every chunk size a search tries: it is allocated for the first (and
// largest) chunk count, and each chunk size that finds a repeat leaves it
// empty again, by removing only what it inserted when that was little, else
// by clearing it (whole pages of a large table go back to the system).
// The table is a zeroed buffer for dense use (runtime/zeroed_buffer.hpp).
// Allocation failure throws std::bad_alloc.

#include <cstddef>
#include <cstdint>

#include "mirelon/bytes.hpp"
#include "runtime/zeroed_buffer.hpp"

namespace mirelon {

// Whether the chunks of 1 to 4 bytes of a packet are pairwise distinct: one
// bit per possible chunk value, in fresh pages touched only where a chunk
// falls. Needs c dividing the size.
bool distinct_by_bitmap(ByteView packet, std::uint64_t c);

class ChunkTable {
 public:
  // True when the packet's size / c chunks are pairwise distinct. Needs
  // c >= 4, c dividing the size, and at least two chunks. A pass beyond its
  // first chunks is shared by the pool's workers, each taking a run of
  // positions and claiming slots by compare-and-swap; all of them stop at the
  // first repeat found.
  bool distinct(ByteView packet, std::uint64_t c);

  // Chunk i inserted as a worker of a shared pass inserts it, for tests of
  // concurrent insertion; false when an equal chunk is held already. The
  // first call reserves the table and must not race with another.
  bool insert_shared(ByteView packet, std::uint64_t c, std::uint64_t i);

 private:
  void reserve(std::uint64_t count, std::uint64_t c);

  runtime::ZeroedBuffer slots_;
  bool wide_ = false;  // 64-bit slots (chunk counts of 2^32 - 1 and more)
};

}  // namespace mirelon
