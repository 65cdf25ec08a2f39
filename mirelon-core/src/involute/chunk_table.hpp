#pragma once
// Whether the chunks of a packet are pairwise distinct, for chunk sizes of 4
// bytes and more: a flat open-addressing table of chunk indices. One table
// serves every chunk size a search tries: it is allocated for the first (and
// largest) chunk count, and each chunk size that finds a repeat leaves it
// empty again by removing only what it inserted (or clearing it outright when
// that is cheaper). Allocation failure throws std::bad_alloc.

#include <cstddef>
#include <cstdint>

#include "mirelon/bytes.hpp"

namespace mirelon {

class ChunkTable {
 public:
  ChunkTable() = default;
  ChunkTable(const ChunkTable&) = delete;
  ChunkTable& operator=(const ChunkTable&) = delete;
  ~ChunkTable();

  // True when the packet's size / c chunks are pairwise distinct. Needs
  // c >= 4, c dividing the size, and at least two chunks. Where the work is
  // large the pool's workers share it, each owning the part of the table its
  // hashes select, and all of them stop at the first repeat found.
  bool distinct(ByteView packet, std::uint64_t c);

 private:
  void reserve(std::uint64_t count);

  void* slots_ = nullptr;
  void* mapping_ = nullptr;     // large tables: their own mapping
  std::size_t mapped_bytes_ = 0;
  std::uint64_t capacity_ = 0;  // slots allocated
  bool wide_ = false;           // 64-bit slots (chunk counts of 2^32 - 1 and more)
};

}  // namespace mirelon
