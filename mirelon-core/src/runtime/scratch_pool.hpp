#pragma once
// Large scratch buffers kept for the next call instead of going back to the
// operating system. Memory that comes back fresh is cleared by the kernel
// page by page on first touch, and an involution's scratch arrays (crumb
// keys, hash states, sorted keys, chunk sources) are together most of a
// packet's size: faulting them in anew costs about a tenth of the work.
// Buffers of 1 MiB and more are cached, 128 MiB at most in all; smaller ones
// go through the allocator, whose own free lists keep them warm. A process
// made by fork() after the worker pool had started caches nothing.

#include <cstddef>
#include <cstdint>
#include <utility>

namespace mirelon::runtime {

// An uninitialised buffer from the pool, given back when destroyed.
class ScratchBlock {
 public:
  ScratchBlock() = default;
  explicit ScratchBlock(std::size_t bytes);
  ScratchBlock(ScratchBlock&& other) noexcept { swap(other); }
  ScratchBlock& operator=(ScratchBlock&& other) noexcept {
    ScratchBlock(std::move(other)).swap(*this);
    return *this;
  }
  ScratchBlock(const ScratchBlock&) = delete;
  ScratchBlock& operator=(const ScratchBlock&) = delete;
  ~ScratchBlock();

  std::uint8_t* data() const { return data_; }
  // The bytes asked for (the block itself may be larger).
  std::size_t size() const { return size_; }

 private:
  void swap(ScratchBlock& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace mirelon::runtime
