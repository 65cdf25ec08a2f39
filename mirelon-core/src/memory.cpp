#include "mirelon/memory.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "mirelon/failure.hpp"

namespace mirelon {
namespace {

// Below this a huge page cannot fit inside the buffer's aligned interior.
constexpr std::size_t kAdviseMin = std::size_t{4} << 20;

}  // namespace

void advise_huge_pages(std::span<std::uint8_t> buffer) {
#ifdef MADV_HUGEPAGE
  if (buffer.size() < kAdviseMin) return;
  static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
  const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
  const std::uintptr_t last = (begin + buffer.size()) & ~(page - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)buffer;
#endif
}

FreshBuffer::FreshBuffer(std::size_t n) : storage(new std::uint8_t[n]), size(n) {
  advise_huge_pages(span());
}

Bytes advised_bytes(std::size_t n) {
  Bytes out;
  out.reserve(n);
  advise_huge_pages(std::span<std::uint8_t>(out.data(), n));
  out.resize(n);
  return out;
}

void require_output_size(std::span<const std::uint8_t> out, std::size_t expected) {
  if (out.size() != expected)
    throw InternalFailure("output buffer holds " + std::to_string(out.size()) +
                          " bytes, expected " + std::to_string(expected));
}

}  // namespace mirelon
