#pragma once
// Zeroed scratch buffers, given back when destroyed. Where the memory comes
// from depends on how it will be touched:
// - Dense (a hash table filled at random): below 1 MiB from the allocator;
//   up to 64 MiB a scratch-pool block cleared on the spot, since zeroing
//   warm pages costs less than the kernel's faulting in and clearing fresh
//   ones, which random access would do for nearly every page; larger ones a
//   mapping of their own, which reads as zero and costs nothing until
//   touched, aligned to and advised for huge pages up to 1 GiB (with 4 KiB
//   pages nearly every access would miss the TLB; beyond 1 GiB a pass that
//   stops early would still fault in every huge page it reached).
// - Sparse (a bitmap touched at a few places): fresh pages from the
//   allocator, each faulted in only when touched.
// Allocation failure throws std::bad_alloc.

#include <cstddef>
#include <cstdint>
#include <utility>

#include "runtime/scratch_pool.hpp"

namespace mirelon::runtime {

class ZeroedBuffer {
 public:
  enum class Use { Dense, Sparse };

  ZeroedBuffer() = default;
  ZeroedBuffer(std::size_t bytes, Use use);
  ZeroedBuffer(ZeroedBuffer&& other) noexcept { swap(other); }
  ZeroedBuffer& operator=(ZeroedBuffer&& other) noexcept {
    ZeroedBuffer(std::move(other)).swap(*this);
    return *this;
  }
  ZeroedBuffer(const ZeroedBuffer&) = delete;
  ZeroedBuffer& operator=(const ZeroedBuffer&) = delete;
  ~ZeroedBuffer();

  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  // Zeroes the first `bytes` again; whole huge pages of a mapping go back to
  // the system instead, and take no memory until touched.
  void clear(std::size_t bytes);

 private:
  void swap(ZeroedBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(pooled_, other.pooled_);
    std::swap(mapping_, other.mapping_);
    std::swap(mapped_bytes_, other.mapped_bytes_);
  }

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  ScratchBlock pooled_;      // a block kept warm between calls
  void* mapping_ = nullptr;  // a mapping of its own
  std::size_t mapped_bytes_ = 0;
};

}  // namespace mirelon::runtime
