#include "involute/chunk_table.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "involute/chunk_hash.hpp"
#include "mirelon/parallel.hpp"

namespace mirelon {
namespace {

// Chunks hashed ahead of their insertion, so that their slots can be fetched
// from memory while the previous ones are inserted.
constexpr std::size_t kBatch = 16;
// The first this many chunks of a pass are inserted on the calling thread.
constexpr std::uint64_t kParallelChunks = std::uint64_t{1} << 18;
// Slots per chunk: a load of one half keeps probe runs short.
constexpr std::uint64_t kSlotsPerChunk = 3;
// At most this many parts (a power of two).
constexpr std::size_t kMaxParts = 16;
// Tables from this size on get a mapping of their own, advised for huge
// pages: a pass touches slots at random, and with 4 KiB pages nearly every
// insertion would miss the TLB and fault in a page of its own.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kMappedTable = 2 * kHugePage;

std::uint64_t high_product(std::uint64_t a, std::uint64_t b) {
  return static_cast<std::uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
}

std::size_t part_count(std::uint64_t chunks) {
  if (chunks <= kParallelChunks) return 1;
  return std::bit_floor(std::min(parallel::worker_count(), kMaxParts));
}

// The table for one chunk size, as seen by one worker: either one part of it
// or all parts at once. A slot holds the chunk's index plus one (0 = empty)
// in its low bits and, in the bits the index leaves free, a tag of the hash,
// so that the bytes of two chunks are compared only when their tags agree. A
// chunk belongs to the part its top hash bits name and starts probing where
// its remaining bits point, wrapping within the part: two equal chunks always
// meet in the same part.
template <class Slot, class Hash>
struct TableView {
  static constexpr std::uint64_t kAllParts = ~std::uint64_t{0};

  const std::uint8_t* base;
  std::uint64_t size;   // chunk size
  std::uint64_t count;  // chunks
  Slot* table;
  std::uint64_t part_capacity;
  unsigned part_bits;
  std::uint64_t only_part;  // kAllParts, or the one part this view handles
  unsigned index_bits;
  std::uint64_t index_mask;
  std::uint64_t tag_mask;
  ChunkHashKey key;

  struct Pending {
    Slot* part;
    std::uint64_t home;
    Slot value;
  };

  // The chunk's part, home slot and slot value; true when the view handles
  // it. Fills `out` either way: half the chunks of a part view are not its
  // own, at random, and a branch on that would be mispredicted half the time.
  bool place(std::uint64_t i, Pending& out) const {
    const std::uint64_t h = Hash::hash(key, base + i * size, size);
    const std::uint64_t part = part_bits == 0 ? 0 : h >> (64 - part_bits);
    out.part = table + part * part_capacity;
    out.home = high_product(h << part_bits, part_capacity);
    out.value = static_cast<Slot>(((h & tag_mask) << index_bits) | (i + 1));
    return (only_part == kAllParts) | (part == only_part);
  }

  std::uint64_t index_of(Slot value) const { return (value & index_mask) - 1; }

  bool same_chunk(Slot a, Slot b) const {
    if (((static_cast<std::uint64_t>(a) ^ b) & ~index_mask) != 0) return false;
    return std::memcmp(base + index_of(a) * size, base + index_of(b) * size, size) == 0;
  }

  // Inserts the value; false when an equal chunk is there already.
  bool insert(const Pending& p) const {
    for (std::uint64_t at = p.home;;) {
      const Slot held = p.part[at];
      if (held == 0) {
        p.part[at] = p.value;
        return true;
      }
      if (same_chunk(held, p.value)) return false;
      if (++at == part_capacity) at = 0;
    }
  }

  // Removes a value inserted last among those still held, if it is there.
  void remove(const Pending& p) const {
    for (std::uint64_t at = p.home;;) {
      const Slot held = p.part[at];
      if (held == 0) return;
      if (held == p.value) {
        p.part[at] = 0;
        return;
      }
      if (++at == part_capacity) at = 0;
    }
  }

  // Inserts the view's chunks in [from, to) in position order until a repeat
  // or a stop, and raises `stop` on a repeat. Returns where it got to.
  std::uint64_t find_repeat(std::atomic<bool>& stop, std::uint64_t from, std::uint64_t to) const {
    Pending batches[2][kBatch];
    std::size_t filled[2] = {0, 0};
    auto gather = [&](std::uint64_t first, int b) {
      const std::uint64_t end = std::min(to, first + kBatch);
      std::size_t m = 0;
      for (std::uint64_t i = first; i < end; ++i) {
        Pending& next = batches[b][m];
        const bool own = place(i, next);
        // Another part's slots are never fetched: they belong to another
        // worker's cache.
        __builtin_prefetch(own ? next.part + next.home : table, 1);
        m += own;
      }
      filled[b] = m;
    };
    gather(from, 0);
    for (std::uint64_t at = from; at < to; at += kBatch) {
      const int now = static_cast<int>(((at - from) / kBatch) & 1);
      if (stop.load(std::memory_order_relaxed)) return at;
      if (at + kBatch < to) gather(at + kBatch, now ^ 1);
      for (std::size_t j = 0; j < filled[now]; ++j) {
        if (!insert(batches[now][j])) {
          stop.store(true, std::memory_order_relaxed);
          return std::min(to, at + kBatch);
        }
      }
    }
    return to;
  }

  // Leaves the view's slots empty after a pass that stopped at `reached`:
  // removes the inserted chunks newest first, which undoes each insertion
  // exactly, or clears the slots when that costs less than hashing again.
  void empty(std::uint64_t reached) const {
    const bool all = only_part == kAllParts;
    const std::uint64_t slots = all ? part_capacity << part_bits : part_capacity;
    const std::uint64_t inserted = all ? reached : reached >> part_bits;
    if (inserted * 16 > slots) {
      std::memset(all ? table : table + only_part * part_capacity, 0, slots * sizeof(Slot));
      return;
    }
    Pending p;
    for (std::uint64_t i = reached; i-- > 0;)
      if (place(i, p)) remove(p);
  }
};

// A pass starts on the calling thread: most chunk sizes that fail do so
// within the first chunks, and waking workers for them costs more than the
// search. Only a pass that gets past kParallelChunks goes on in parallel,
// one worker per part.
template <class Slot, class Hash>
bool distinct_in(Slot* table, ByteView packet, std::uint64_t size) {
  const std::uint64_t count = packet.size() / size;
  const std::size_t parts = part_count(count);
  const unsigned part_bits = static_cast<unsigned>(std::countr_zero(parts));
  const std::uint64_t part_capacity = (kSlotsPerChunk * count + parts - 1) / parts;
  const unsigned index_bits = static_cast<unsigned>(std::bit_width(count));
  const unsigned tag_bits = 8 * sizeof(Slot) - index_bits;
  const std::uint64_t index_mask =
      index_bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << index_bits) - 1;
  const std::uint64_t tag_mask = tag_bits == 0 ? 0 : (std::uint64_t{1} << tag_bits) - 1;
  using View = TableView<Slot, Hash>;
  // Each worker gets a copy of its own: the slots it writes cannot alias the
  // copy, so the fields stay in registers.
  auto view = [&](std::uint64_t only) {
    return View{packet.data(), size,     count,      table,    part_capacity,   part_bits,
                only,          index_bits, index_mask, tag_mask, chunk_hash_key()};
  };

  std::atomic<bool> stop{false};
  const View whole = view(View::kAllParts);
  const std::uint64_t prefix = std::min(count, kParallelChunks);
  const std::uint64_t reached = whole.find_repeat(stop, 0, prefix);
  if (stop.load()) {
    whole.empty(reached);
    return false;
  }
  if (reached == count) return true;
  std::uint64_t part_reached[kMaxParts] = {};
  parallel::for_ranges(parts, 1, [&](std::size_t begin, std::size_t end) {
    for (std::size_t p = begin; p < end; ++p) {
      const View mine = view(p);
      part_reached[p] = mine.find_repeat(stop, prefix, count);
    }
  });
  if (!stop.load()) return true;
  // The next chunk size starts from an empty table.
  parallel::for_ranges(parts, 1, [&](std::size_t begin, std::size_t end) {
    for (std::size_t p = begin; p < end; ++p) view(p).empty(part_reached[p]);
  });
  return false;
}

template <class Slot>
bool distinct_by_size(Slot* table, ByteView packet, std::uint64_t size) {
  if (size <= 8) return distinct_in<Slot, chunk_hash::Short>(table, packet, size);
  if (size <= 16) return distinct_in<Slot, chunk_hash::Medium>(table, packet, size);
  return distinct_in<Slot, chunk_hash::Long>(table, packet, size);
}

}  // namespace

ChunkTable::~ChunkTable() {
  if (mapping_ != nullptr)
    munmap(mapping_, mapped_bytes_);
  else
    std::free(slots_);
}

void ChunkTable::reserve(std::uint64_t count) {
  if (slots_ != nullptr) return;
  // Room for every later (smaller) count too, whatever its part count.
  capacity_ = kSlotsPerChunk * count + kMaxParts;
  wide_ = count >= 0xFFFFFFFFull;
  const std::size_t width = wide_ ? 8 : 4;
  if (capacity_ > SIZE_MAX / width - kHugePage) throw std::bad_alloc();
  const std::size_t bytes = capacity_ * width;
  if (bytes < kMappedTable) {
    slots_ = std::calloc(capacity_, width);
    if (slots_ == nullptr) throw std::bad_alloc();
    return;
  }
  // Fresh anonymous memory reads as zero and costs nothing until touched.
  mapped_bytes_ = bytes + kHugePage;
  void* mapping = mmap(nullptr, mapped_bytes_, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  mapping_ = mapping;
  const auto at = reinterpret_cast<std::uintptr_t>(mapping);
  slots_ = reinterpret_cast<void*>((at + kHugePage - 1) & ~(kHugePage - 1));
  madvise(slots_, bytes, MADV_HUGEPAGE);
}

bool ChunkTable::distinct(ByteView packet, std::uint64_t c) {
  const std::uint64_t count = packet.size() / c;
  reserve(count);
  if (wide_) return distinct_by_size(static_cast<std::uint64_t*>(slots_), packet, c);
  return distinct_by_size(static_cast<std::uint32_t*>(slots_), packet, c);
}

}  // namespace mirelon
