#include "runtime/memory.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "mirelon/failure.hpp"
#include "mirelon/output.hpp"

namespace mirelon::runtime {
namespace {

// At most this much is faulted in by one call.
constexpr std::size_t kPopulateBelow = kPoolFaultMin;

std::uintptr_t page_size() {
  static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  return page;
}

// Whether the page at `address` (page-aligned) is resident; nothing where the
// kernel cannot tell.
std::optional<bool> page_resident(std::uintptr_t address, std::uintptr_t page) {
  unsigned char resident = 0;
  if (mincore(reinterpret_cast<void*>(address), page, &resident) != 0) return std::nullopt;
  return (resident & 1) != 0;
}

#ifdef MADV_POPULATE_WRITE
// Faults in the pages of [first, last) (page-aligned, at most kPopulateBelow
// bytes) that are not resident yet. Asking costs far less than populating:
// populating pages already present takes about 30 us per MiB, so reused
// memory is left alone. Kernels before 5.14 refuse to populate; the pages are
// then faulted in as written.
void populate_missing(std::uintptr_t first, std::uintptr_t last, std::uintptr_t page) {
  std::array<unsigned char, kPopulateBelow / 4096> resident;
  const std::size_t pages = (last - first) / page;
  if (pages > resident.size() ||
      mincore(reinterpret_cast<void*>(first), last - first, resident.data()) != 0)
    return;
  std::size_t lo = 0, hi = pages;
  while (lo < hi && (resident[lo] & 1)) ++lo;
  while (hi > lo && (resident[hi - 1] & 1)) --hi;
  if (lo < hi)
    madvise(reinterpret_cast<void*>(first + lo * page), (hi - lo) * page, MADV_POPULATE_WRITE);
}
#endif

}  // namespace

void prepare_output_pages(std::span<std::uint8_t> buffer) {
  const std::uintptr_t page = page_size();
  const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
  const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
  const std::uintptr_t last = (begin + buffer.size()) & ~(page - 1);
  if (last <= first) return;
  void* const interior = reinterpret_cast<void*>(first);
#ifdef MADV_HUGEPAGE
  if (buffer.size() >= kHugePage) madvise(interior, last - first, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
  if (buffer.size() < kPopulateBelow) populate_missing(first, last, page);
#endif
}

bool is_fresh(std::span<const std::uint8_t> buffer) {
  const std::uintptr_t page = page_size();
  const auto middle = reinterpret_cast<std::uintptr_t>(buffer.data() + buffer.size() / 2);
  return page_resident(middle & ~(page - 1), page) == false;
}

void fault_in(std::span<std::uint8_t> piece) {
#ifdef MADV_POPULATE_WRITE
  const std::uintptr_t page = page_size();
  const auto begin = reinterpret_cast<std::uintptr_t>(piece.data());
  const std::uintptr_t last = (begin + piece.size()) & ~(page - 1);
  for (std::uintptr_t first = (begin + page - 1) & ~(page - 1); first < last;) {
    const std::uintptr_t stop = std::min<std::uintptr_t>(last, first + kPopulateBelow);
    // A reused buffer is resident throughout, a fresh one nowhere but at its
    // ends: one page from the middle tells which, so reused memory costs one
    // short call per step.
    const std::uintptr_t probe = first + (stop - first) / page / 2 * page;
    if (page_resident(probe, page) != true) populate_missing(first, stop, page);
    first = stop;
  }
#else
  (void)piece;
#endif
}

Bytes advised_bytes(std::size_t n) {
  Bytes out;
  out.reserve(n);
  prepare_output_pages(std::span<std::uint8_t>(out.data(), n));
  out.resize(n);
  return out;
}

void ready_output(std::span<std::uint8_t> out, std::size_t expected) {
  if (out.size() != expected)
    throw InternalFailure("output buffer holds " + std::to_string(out.size()) +
                          " bytes, expected " + std::to_string(expected));
  prepare_output_pages(out);
}

}  // namespace mirelon::runtime

void mirelon::prepare_output(std::span<std::uint8_t> buffer) {
  runtime::prepare_output_pages(buffer);
}
