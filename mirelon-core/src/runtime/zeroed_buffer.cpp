#include "runtime/zeroed_buffer.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "runtime/memory.hpp"

namespace mirelon::runtime {
namespace {

constexpr std::size_t kPooledMin = std::size_t{1} << 20;
constexpr std::size_t kPooledMax = std::size_t{64} << 20;
constexpr std::size_t kLargestHuge = std::size_t{1} << 30;

}  // namespace

ZeroedBuffer::ZeroedBuffer(std::size_t bytes, Use use) : size_(bytes) {
  if (bytes == 0) return;
  if (use == Use::Sparse || bytes < kPooledMin) {
    data_ = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
    if (data_ == nullptr) throw std::bad_alloc();
    return;
  }
  if (bytes <= kPooledMax) {
    pooled_ = ScratchBlock(bytes);
    data_ = pooled_.data();
    std::memset(data_, 0, bytes);
    return;
  }
  if (bytes > SIZE_MAX - kHugePage) throw std::bad_alloc();
  const std::size_t mapped = bytes + kHugePage;
  void* mapping = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  mapping_ = mapping;
  mapped_bytes_ = mapped;
  const auto at = reinterpret_cast<std::uintptr_t>(mapping);
  data_ = reinterpret_cast<std::uint8_t*>((at + kHugePage - 1) & ~(kHugePage - 1));
#ifdef MADV_HUGEPAGE
  if (bytes <= kLargestHuge) madvise(data_, bytes, MADV_HUGEPAGE);
#endif
}

ZeroedBuffer::~ZeroedBuffer() {
  if (mapping_ != nullptr)
    munmap(mapping_, mapped_bytes_);
  else if (pooled_.data() == nullptr)
    std::free(data_);
}

void ZeroedBuffer::clear(std::size_t bytes) {
  std::size_t released = 0;
  if (mapping_ != nullptr) {
    released = bytes & ~(kHugePage - 1);
    if (released != 0 && madvise(data_, released, MADV_DONTNEED) != 0) released = 0;
  }
  std::memset(data_ + released, 0, bytes - released);
}

}  // namespace mirelon::runtime
