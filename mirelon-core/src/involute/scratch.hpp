#pragma once
// Scratch vectors that are sized without being cleared: every element is
// written by the parallel loop that fills it, which also spreads the page
// faults of fresh memory over the workers.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "mirelon/memory.hpp"

namespace mirelon {

// An allocator that leaves trivially constructible values uninitialised.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() = default;
  template <class U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) {}
  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

template <class T>
using Scratch = std::vector<T, UninitialisedAllocator<T>>;

// n values, unwritten, in storage readied for writing (see prepare_output_pages).
template <class T>
Scratch<T> fresh_scratch(std::size_t n) {
  Scratch<T> v;
  v.reserve(n);
  prepare_output_pages(std::span(reinterpret_cast<std::uint8_t*>(v.data()), n * sizeof(T)));
  v.resize(n);
  return v;
}

}  // namespace mirelon
