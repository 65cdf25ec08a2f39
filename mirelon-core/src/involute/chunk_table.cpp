#include "involute/chunk_table.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "involute/chunk_hash.hpp"
#include "runtime/memory.hpp"
#include "runtime/parallel.hpp"

namespace mirelon {
namespace {

// Chunks hashed ahead of their insertion, so that their slots can be fetched
// from memory while the previous ones are inserted.
constexpr std::size_t kBatch = 16;
// The first this many chunks of a pass are inserted on the calling thread:
// most chunk sizes that fail meet their first repeat among them, and waking
// workers would cost more than that.
constexpr std::uint64_t kParallelChunks = std::uint64_t{1} << 18;
// Slots per chunk: a load of a third keeps probe runs short.
constexpr std::uint64_t kSlotsPerChunk = 3;
// Tables from 1 MiB up to this size come from the scratch pool, whose blocks
// are huge pages kept warm for the next call: zeroing a warm table costs
// less than the kernel's faulting in and clearing fresh pages, which a pass
// touching slots at random would do for nearly every page.
constexpr std::size_t kPooledTable = std::size_t{1} << 20;
constexpr std::size_t kLargestPooledTable = std::size_t{64} << 20;
// Larger tables get a mapping of their own, advised for huge pages: with
// 4 KiB pages nearly every insertion would miss the TLB.
constexpr std::size_t kMappedTable = kLargestPooledTable + 1;
// Except beyond this size: a chunk size that fails after a million chunks or
// so would fault in every huge page of such a table (for 4 GiB of 5-byte
// chunks, 10 GB), and small pages keep that to the pages it reached.
constexpr std::size_t kLargestHugeTable = std::size_t{1} << 30;

std::uint64_t high_product(std::uint64_t a, std::uint64_t b) {
  return static_cast<std::uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
}

// The table for one chunk size. A slot holds the chunk's index plus one
// (0 = empty) in its low bits and, in the bits the index leaves free, a tag
// of the hash, so that the bytes of two chunks are compared only when their
// tags agree.
template <class Slot, class Hash>
struct TableView {
  const std::uint8_t* base;
  std::uint64_t size;  // chunk size
  Slot* slots;
  std::uint64_t capacity;
  unsigned index_bits;
  std::uint64_t index_mask;
  std::uint64_t tag_mask;
  ChunkHashKey key;

  struct Pending {
    std::uint64_t home;
    Slot value;
  };

  Pending place(std::uint64_t i) const {
    const std::uint64_t h = Hash::hash(key, base + i * size, size);
    return {high_product(h, capacity), static_cast<Slot>(((h & tag_mask) << index_bits) | (i + 1))};
  }

  bool same_chunk(Slot a, Slot b) const {
    if (((static_cast<std::uint64_t>(a) ^ b) & ~index_mask) != 0) return false;
    return std::memcmp(base + ((a & index_mask) - 1) * size, base + ((b & index_mask) - 1) * size,
                       size) == 0;
  }

  // Inserts the value; false when an equal chunk is there already. With
  // `Shared`, other workers insert at the same time: a slot is claimed by
  // compare-and-swap, and a slot once filled stays filled, so of two equal
  // chunks the later one always walks past the earlier.
  template <bool Shared>
  bool insert(const Pending& p) const {
    for (std::uint64_t at = p.home;;) {
      Slot held;
      if constexpr (Shared) {
        std::atomic_ref<Slot> slot(slots[at]);
        held = slot.load(std::memory_order_acquire);
        if (held == 0 && slot.compare_exchange_strong(held, p.value, std::memory_order_acq_rel))
          return true;
      } else {
        held = slots[at];
        if (held == 0) {
          slots[at] = p.value;
          return true;
        }
      }
      if (same_chunk(held, p.value)) return false;
      if (++at == capacity) at = 0;
    }
  }

  // Removes a value inserted last among those still held, if it is there.
  void remove(const Pending& p) const {
    for (std::uint64_t at = p.home;;) {
      const Slot held = slots[at];
      if (held == 0) return;
      if (held == p.value) {
        slots[at] = 0;
        return;
      }
      if (++at == capacity) at = 0;
    }
  }

  // Inserts chunks [from, to) in position order until a repeat or a stop,
  // and raises `stop` on a repeat. Returns where it got to.
  template <bool Shared>
  std::uint64_t find_repeat(std::atomic<bool>& stop, std::uint64_t from, std::uint64_t to) const {
    Pending batches[2][kBatch];
    auto gather = [&](std::uint64_t first, int b) {
      const std::uint64_t end = std::min(to, first + kBatch);
      for (std::uint64_t i = first; i < end; ++i) {
        batches[b][i - first] = place(i);
        __builtin_prefetch(slots + batches[b][i - first].home, 1);
      }
    };
    gather(from, 0);
    for (std::uint64_t at = from; at < to; at += kBatch) {
      const int now = static_cast<int>(((at - from) / kBatch) & 1);
      if (stop.load(std::memory_order_relaxed)) return at;
      if (at + kBatch < to) gather(at + kBatch, now ^ 1);
      const std::uint64_t end = std::min(to, at + kBatch);
      for (std::uint64_t i = at; i < end; ++i) {
        if (!insert<Shared>(batches[now][i - at])) {
          stop.store(true, std::memory_order_relaxed);
          return i + 1;
        }
      }
    }
    return to;
  }

  // Leaves the table empty after chunks [0, reached) were inserted by one
  // thread: removes them newest first, which undoes each insertion exactly.
  void remove_all(std::uint64_t reached) const {
    for (std::uint64_t i = reached; i-- > 0;) remove(place(i));
  }
};

template <class Slot, class Hash>
bool distinct_in(ChunkTable::Slots& table, ByteView packet, std::uint64_t size) {
  const std::uint64_t count = packet.size() / size;
  const unsigned index_bits = static_cast<unsigned>(std::bit_width(count));
  const unsigned tag_bits = 8 * sizeof(Slot) - index_bits;
  const std::uint64_t tag_mask = tag_bits == 0 ? 0 : (std::uint64_t{1} << tag_bits) - 1;
  const TableView<Slot, Hash> view{packet.data(),
                                   size,
                                   static_cast<Slot*>(table.data),
                                   kSlotsPerChunk * count,
                                   index_bits,
                                   index_bits >= 64 ? ~std::uint64_t{0}
                                                    : (std::uint64_t{1} << index_bits) - 1,
                                   tag_mask,
                                   chunk_hash_key()};
  const std::size_t bytes = view.capacity * sizeof(Slot);

  std::atomic<bool> stop{false};
  const std::uint64_t prefix = std::min(count, kParallelChunks);
  const std::uint64_t reached = view.template find_repeat<false>(stop, 0, prefix);
  if (stop.load()) {
    // The next chunk size starts from an empty table.
    if (reached * 16 > view.capacity)
      table.clear(bytes);
    else
      view.remove_all(reached);
    return false;
  }
  if (reached == count) return true;
  const std::size_t workers = runtime::parallel::worker_count();
  const std::uint64_t rest = count - prefix;
  auto edge = [&](std::size_t k) {
    return prefix + static_cast<std::uint64_t>(static_cast<unsigned __int128>(rest) * k / workers);
  };
  runtime::parallel::for_ranges(workers, 1, [&](std::size_t begin, std::size_t end) {
    // A copy per worker: the slots it writes cannot alias the copy, so the
    // fields stay in registers.
    const TableView<Slot, Hash> mine = view;
    for (std::size_t w = begin; w < end; ++w) {
      if (workers == 1)
        mine.template find_repeat<false>(stop, edge(w), edge(w + 1));
      else
        mine.template find_repeat<true>(stop, edge(w), edge(w + 1));
    }
  });
  if (!stop.load()) return true;
  table.clear(bytes);
  return false;
}

template <class Slot>
bool distinct_by_size(ChunkTable::Slots& table, ByteView packet, std::uint64_t size) {
  if (size <= 8) return distinct_in<Slot, chunk_hash::Short>(table, packet, size);
  if (size <= 16) return distinct_in<Slot, chunk_hash::Medium>(table, packet, size);
  return distinct_in<Slot, chunk_hash::Long>(table, packet, size);
}

}  // namespace

ChunkTable::Slots::~Slots() {
  if (mapping != nullptr)
    munmap(mapping, mapped_bytes);
  else if (pooled.data() == nullptr)
    std::free(data);
}

void ChunkTable::Slots::clear(std::size_t bytes) {
  // Pages of a mapping handed back to the system read as zero again, and
  // take no memory until touched.
  std::size_t released = 0;
  if (mapping != nullptr) {
    released = bytes & ~(runtime::kHugePage - 1);
    if (released != 0 && madvise(data, released, MADV_DONTNEED) != 0) released = 0;
  }
  std::memset(static_cast<char*>(data) + released, 0, bytes - released);
}

void ChunkTable::reserve(std::uint64_t count) {
  if (slots_.data != nullptr) return;
  // Room for every later (smaller) count too.
  const std::uint64_t capacity = kSlotsPerChunk * count;
  wide_ = count >= 0xFFFFFFFFull;
  const std::size_t width = wide_ ? 8 : 4;
  if (capacity > (SIZE_MAX - runtime::kHugePage) / width) throw std::bad_alloc();
  const std::size_t bytes = capacity * width;
  if (bytes < kPooledTable) {
    slots_.data = std::calloc(capacity, width);
    if (slots_.data == nullptr) throw std::bad_alloc();
    return;
  }
  if (bytes < kMappedTable) {
    slots_.pooled = runtime::ScratchBlock(bytes);
    slots_.data = slots_.pooled.data();
    std::memset(slots_.data, 0, bytes);
    return;
  }
  // Fresh anonymous memory reads as zero and costs nothing until touched.
  const std::size_t mapped = bytes + runtime::kHugePage;
  void* mapping = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  slots_.mapping = mapping;
  slots_.mapped_bytes = mapped;
  const auto at = reinterpret_cast<std::uintptr_t>(mapping);
  slots_.data = reinterpret_cast<void*>((at + runtime::kHugePage - 1) & ~(runtime::kHugePage - 1));
  if (bytes <= kLargestHugeTable) madvise(slots_.data, bytes, MADV_HUGEPAGE);
}

bool ChunkTable::distinct(ByteView packet, std::uint64_t c) {
  const std::uint64_t count = packet.size() / c;
  reserve(count);
  if (wide_) return distinct_by_size<std::uint64_t>(slots_, packet, c);
  return distinct_by_size<std::uint32_t>(slots_, packet, c);
}

}  // namespace mirelon
