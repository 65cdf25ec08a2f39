#include "runtime/scratch_pool.hpp"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "runtime/memory.hpp"
#include "runtime/parallel.hpp"

namespace mirelon::runtime {
namespace {

constexpr std::size_t kCacheMin = std::size_t{1} << 20;
constexpr std::size_t kCacheMax = std::size_t{128} << 20;
// Blocks are whole huge pages (kHugePage), aligned to them.

struct Block {
  std::uint8_t* data;
  std::size_t capacity;
};

class Pool {
 public:
  // A cached block of at least `bytes` and at most twice that, or none.
  Block take(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    auto best = blocks_.end();
    for (auto it = blocks_.begin(); it != blocks_.end(); ++it)
      if (it->capacity >= bytes && it->capacity <= 2 * bytes &&
          (best == blocks_.end() || it->capacity < best->capacity))
        best = it;
    if (best == blocks_.end()) return {nullptr, 0};
    const Block found = *best;
    blocks_.erase(best);
    cached_ -= found.capacity;
    return found;
  }

  // Keeps the block, dropping the oldest ones beyond the limit.
  void give(Block block) {
    std::vector<Block> dropped;
    {
      std::lock_guard lock(mutex_);
      blocks_.push_back(block);
      cached_ += block.capacity;
      while (cached_ > kCacheMax) {
        dropped.push_back(blocks_.front());
        cached_ -= blocks_.front().capacity;
        blocks_.erase(blocks_.begin());
      }
    }
    for (const Block& b : dropped) std::free(b.data);
  }

 private:
  std::mutex mutex_;
  std::vector<Block> blocks_;  // oldest first
  std::size_t cached_ = 0;
};

// Never destroyed: blocks may be given back while the process exits.
Pool& pool() {
  static Pool* const instance = new Pool;
  return *instance;
}

bool cacheable(std::size_t capacity) {
  return capacity >= kCacheMin && !parallel::pool_lost_to_fork();
}

}  // namespace

ScratchBlock::ScratchBlock(std::size_t bytes) : size_(bytes) {
  if (bytes == 0) return;
  capacity_ = bytes >= kCacheMin ? (bytes + kHugePage - 1) / kHugePage * kHugePage : bytes;
  if (cacheable(capacity_)) {
    const Block found = pool().take(capacity_);
    if (found.data != nullptr) {
      data_ = found.data;
      capacity_ = found.capacity;
      return;
    }
  }
  void* memory = capacity_ >= kCacheMin ? std::aligned_alloc(kHugePage, capacity_)
                                        : std::malloc(capacity_);
  if (memory == nullptr) throw std::bad_alloc();
  data_ = static_cast<std::uint8_t*>(memory);
  prepare_output_pages({data_, capacity_});
}

ScratchBlock::~ScratchBlock() {
  if (data_ == nullptr) return;
  if (cacheable(capacity_))
    pool().give({data_, capacity_});
  else
    std::free(data_);
}

}  // namespace mirelon::runtime
