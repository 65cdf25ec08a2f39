#pragma once
// Output memory. The *_into functions ready their output themselves; a caller
// that fills a fresh buffer by other means (a copy of a large result, say)
// readies it with prepare_output first.

#include <cstdint>
#include <span>

namespace mirelon {

// Readies the pages of a buffer that is about to be written in full: from
// 2 MiB the kernel is asked for huge pages, and fresh pages below 4 MiB are
// faulted in with one call instead of a fault per page. Memory in use
// already is not touched. Never fails; only hints to the kernel.
void prepare_output(std::span<std::uint8_t> buffer);

}  // namespace mirelon
