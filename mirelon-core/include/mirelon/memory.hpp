#pragma once
// Output buffers. The *_into functions of the core write into memory the
// caller provides, so a caller (the Python binding) can hand over the final
// result object's storage and no result is copied.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "mirelon/bytes.hpp"

namespace mirelon {

// Asks the kernel to back the whole pages inside `buffer` with huge pages.
// First touch of fresh memory costs about 10 us per 4 KiB page on a VM;
// advised, a large buffer is faulted in 2 MiB at a time. Buffers below a few
// MiB are left alone. Never fails; only a hint.
void advise_huge_pages(std::span<std::uint8_t> buffer);

// Uninitialised bytes, advised as above: scratch space that is written in
// full before it is read.
struct FreshBuffer {
  std::unique_ptr<std::uint8_t[]> storage;
  std::size_t size = 0;

  explicit FreshBuffer(std::size_t n);
  std::span<std::uint8_t> span() { return {storage.get(), size}; }
};

// `n` zero bytes in a vector whose storage was advised before it was filled.
Bytes advised_bytes(std::size_t n);

// Throws InternalFailure unless an output buffer holds exactly `expected`
// bytes.
void require_output_size(std::span<const std::uint8_t> out, std::size_t expected);

}  // namespace mirelon
