#pragma once
// Output buffers. The *_into functions of the core write into memory the
// caller provides, so a caller (the Python binding) can hand over the final
// result object's storage and no result is copied.

#include <cstddef>
#include <cstdint>
#include <span>

#include "mirelon/bytes.hpp"

namespace mirelon::runtime {

// The size of a transparent huge page: a buffer below it cannot hold one.
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Where fresh pages are faulted in. A buffer below this size is faulted in
// by prepare_output_pages, with one call on the calling thread. One of this
// size or more that the worker pool writes is faulted in by the workers
// themselves (fault_in_steps), each a step ahead of its own writes, so that
// the kernel clears the pages on every worker and the cleared pages are
// still in cache when written.
inline constexpr std::size_t kPoolFaultMin = std::size_t{4} << 20;
// Bytes of each output a worker faults in at a time.
inline constexpr std::size_t kFaultStep = std::size_t{1} << 20;

// Readies the pages of a buffer that is about to be written in full. Fresh
// memory is faulted in on first touch, which on a VM costs about 1.5 us per
// 4 KiB page: a buffer of 2 MiB or more is advised for huge pages, so it is
// faulted in 2 MiB at a time, and one below kPoolFaultMin is faulted in by a
// single call instead of a fault per page. Memory in use already is not
// touched. Never fails; only hints to the kernel.
void prepare_output_pages(std::span<std::uint8_t> buffer);

// Faults in the pages of `piece` that are not resident yet, on the calling
// thread, with one call per run of missing pages. Pages only partly inside
// `piece` are left to whoever writes them.
void fault_in(std::span<std::uint8_t> piece);

// Whether `buffer` is fresh memory, not yet faulted in: one page from its
// middle is asked, since a fresh buffer is resident nowhere but at its ends
// and a reused one throughout. False where the kernel cannot tell.
bool is_fresh(std::span<const std::uint8_t> buffer);

// Calls write(first_unit, last_unit) over [first, last) in steps of about
// kFaultStep bytes, having faulted in beforehand the step's bytes of every
// output (unit i of an output is its bytes [i * unit, (i + 1) * unit)).
// Outputs below kPoolFaultMin bytes are written in one call.
template <class Write>
void fault_in_steps(std::span<const std::span<std::uint8_t>> outputs, std::size_t unit,
                    std::size_t first, std::size_t last, Write&& write) {
  if (outputs.empty() || outputs.front().size() < kPoolFaultMin) return write(first, last);
  const std::size_t step = unit >= kFaultStep ? 1 : kFaultStep / unit;
  for (std::size_t begin = first; begin < last; begin += step) {
    const std::size_t end = begin + step < last ? begin + step : last;
    for (std::span<std::uint8_t> out : outputs) {
      const std::size_t from = begin * unit < out.size() ? begin * unit : out.size();
      const std::size_t to = end * unit < out.size() ? end * unit : out.size();
      fault_in(out.subspan(from, to - from));
    }
    write(begin, end);
  }
}

// `n` zero bytes in a vector whose storage was readied before it was filled.
Bytes advised_bytes(std::size_t n);

// The first step of every *_into function: throws InternalFailure unless the
// output buffer holds exactly `expected` bytes, then readies its pages
// (prepare_output_pages), so that a caller handing over fresh memory (the
// Python binding, a result object's storage) need not.
void ready_output(std::span<std::uint8_t> out, std::size_t expected);

}  // namespace mirelon::runtime
