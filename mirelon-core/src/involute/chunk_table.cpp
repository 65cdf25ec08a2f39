#include "involute/chunk_table.hpp"

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
// Slots per chunk: 3, a load of a third, keeps probe runs short. The table
// stays below twice the packet: where 3 slots a chunk would not (chunks of 4
// and 5 bytes with 4-byte slots), it gets 15/16 of that room, a load of about
// a half (at 4-byte chunks, 7.5 bytes a chunk, and a search about a fifth
// slower than at a third). At least 5 slots for every 4 chunks, whatever the
// slot width.
constexpr std::uint64_t kSlotsPerChunk = 3;

std::uint64_t table_slots(std::uint64_t count, std::uint64_t c, std::size_t width) {
  const auto room = static_cast<unsigned __int128>(count) * c * 2 * 15 / 16 / width;
  const auto most = static_cast<unsigned __int128>(kSlotsPerChunk) * count;
  const auto least = static_cast<unsigned __int128>(count) + count / 4 + 1;
  return static_cast<std::uint64_t>(std::max(least, std::min(room, most)));
}

std::uint64_t chunk_value(const std::uint8_t* p, std::uint64_t c) {
  std::uint64_t v = 0;
  for (std::uint64_t i = 0; i < c; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

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

// The view of the table for chunks of `size` bytes of the packet.
template <class Slot, class Hash>
TableView<Slot, Hash> view_of(runtime::ZeroedBuffer& table, ByteView packet, std::uint64_t size) {
  const std::uint64_t count = packet.size() / size;
  const unsigned index_bits = static_cast<unsigned>(std::bit_width(count));
  const unsigned tag_bits = 8 * sizeof(Slot) - index_bits;
  const std::uint64_t tag_mask = tag_bits == 0 ? 0 : (std::uint64_t{1} << tag_bits) - 1;
  // A later chunk size's smaller count gets a load of a third again, as far
  // as the table allows.
  return {packet.data(),
          size,
          reinterpret_cast<Slot*>(table.data()),
          std::min(kSlotsPerChunk * count, table.size() / sizeof(Slot)),
          index_bits,
          index_bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << index_bits) - 1,
          tag_mask,
          chunk_hash_key()};
}

template <class Slot, class Hash>
bool distinct_in(runtime::ZeroedBuffer& table, ByteView packet, std::uint64_t size) {
  const std::uint64_t count = packet.size() / size;
  const TableView<Slot, Hash> view = view_of<Slot, Hash>(table, packet, size);
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

// run.template operator()<Slot, Hash>() with the hash for chunks of `size` bytes.
template <class Slot, class Run>
bool by_hash(std::uint64_t size, Run&& run) {
  if (size <= 8) return run.template operator()<Slot, chunk_hash::Short>();
  if (size <= 16) return run.template operator()<Slot, chunk_hash::Medium>();
  return run.template operator()<Slot, chunk_hash::Long>();
}

}  // namespace

void ChunkTable::reserve(std::uint64_t count, std::uint64_t c) {
  if (slots_.data() != nullptr) return;
  // Room for every later (smaller) count too.
  wide_ = count >= 0xFFFFFFFFull;
  const std::size_t width = wide_ ? 8 : 4;
  const std::uint64_t slots = table_slots(count, c, width);
  if (slots > SIZE_MAX / width) throw std::bad_alloc();
  slots_ = runtime::ZeroedBuffer(slots * width, runtime::ZeroedBuffer::Use::Dense);
}

bool ChunkTable::distinct(ByteView packet, std::uint64_t c) {
  reserve(packet.size() / c, c);
  auto run = [&]<class Slot, class Hash>() { return distinct_in<Slot, Hash>(slots_, packet, c); };
  return wide_ ? by_hash<std::uint64_t>(c, run) : by_hash<std::uint32_t>(c, run);
}

bool ChunkTable::insert_shared(ByteView packet, std::uint64_t c, std::uint64_t i) {
  reserve(packet.size() / c, c);
  auto run = [&]<class Slot, class Hash>() {
    const TableView<Slot, Hash> view = view_of<Slot, Hash>(slots_, packet, c);
    return view.template insert<true>(view.place(i));
  };
  return wide_ ? by_hash<std::uint64_t>(c, run) : by_hash<std::uint32_t>(c, run);
}

bool distinct_by_bitmap(ByteView packet, std::uint64_t c) {
  const std::uint64_t count = packet.size() / c;
  const std::uint64_t values = std::uint64_t{1} << (8 * c);
  if (count > values) return false;  // more chunks than values: some repeat
  constexpr std::uint64_t kWordBits = 64;
  const runtime::ZeroedBuffer buffer((values / kWordBits + 1) * sizeof(std::uint64_t),
                            runtime::ZeroedBuffer::Use::Sparse);
  std::uint64_t* const bits = reinterpret_cast<std::uint64_t*>(buffer.data());
  constexpr std::uint64_t kAhead = 16;
  const std::uint8_t* base = packet.data();
  for (std::uint64_t k = 0; k < count; ++k) {
    if (k + kAhead < count)
      __builtin_prefetch(bits + chunk_value(base + (k + kAhead) * c, c) / kWordBits, 1);
    const std::uint64_t v = chunk_value(base + k * c, c);
    std::uint64_t& word = bits[v / kWordBits];
    const std::uint64_t bit = std::uint64_t{1} << (v % kWordBits);
    if (word & bit) return false;
    word |= bit;
  }
  return true;
}

}  // namespace mirelon
