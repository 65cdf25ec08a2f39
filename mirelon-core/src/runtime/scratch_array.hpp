#pragma once
// Scratch arrays of trivially copyable values, uninitialised: every element is
// written by the parallel loop that fills it, which also spreads the page
// faults of fresh memory over the workers. Large ones come from the scratch
// pool, so that repeated calls find their memory already faulted in.

#include <cstddef>
#include <type_traits>
#include <utility>

#include "runtime/scratch_pool.hpp"

namespace mirelon::runtime {

// n values, unwritten: ScratchArray<T>(n).
template <class T>
class ScratchArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  ScratchArray() = default;
  explicit ScratchArray(std::size_t n) : block_(n * sizeof(T)), size_(n) {}

  T* data() { return reinterpret_cast<T*>(block_.data()); }
  const T* data() const { return reinterpret_cast<const T*>(block_.data()); }
  std::size_t size() const { return size_; }
  T& operator[](std::size_t i) { return data()[i]; }
  const T& operator[](std::size_t i) const { return data()[i]; }
  T* begin() { return data(); }
  T* end() { return data() + size_; }
  const T* begin() const { return data(); }
  const T* end() const { return data() + size_; }

 private:
  ScratchBlock block_;
  std::size_t size_ = 0;
};

}  // namespace mirelon::runtime
