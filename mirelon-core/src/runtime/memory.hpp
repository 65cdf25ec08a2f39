#pragma once
// Output buffers. The *_into functions of the core write into memory the
// caller provides, so a caller (the Python binding) can hand over the final
// result object's storage and no result is copied.

#include <cstddef>
#include <cstdint>
#include <span>

#include "mirelon/bytes.hpp"

namespace mirelon {

// The size of a transparent huge page: a buffer below it cannot hold one.
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Readies the pages of a buffer that is about to be written in full. Fresh
// memory is faulted in on first touch, which on a VM costs about 1.5 us per
// 4 KiB page: a buffer of 2 MiB or more is advised for huge pages, so it is
// faulted in 2 MiB at a time, and one below 4 MiB is faulted in by a single
// call instead of a fault per page. Memory in use already is not touched.
// Never fails; only hints to the kernel.
void prepare_output_pages(std::span<std::uint8_t> buffer);

// `n` zero bytes in a vector whose storage was readied before it was filled.
Bytes advised_bytes(std::size_t n);

// Throws InternalFailure unless an output buffer holds exactly `expected`
// bytes.
void require_output_size(std::span<const std::uint8_t> out, std::size_t expected);

}  // namespace mirelon
