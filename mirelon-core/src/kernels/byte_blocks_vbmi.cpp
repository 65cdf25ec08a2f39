// The data mapping's kernels for processors with 64-byte byte permutes
// (AVX-512 VBMI): every position's chain runs in registers, 64 positions at a
// time, so each input byte is read once and each output byte written once.

#include "kernels/byte_blocks.hpp"
#include "runtime/kernel_choice.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#define MIRELON_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

namespace mirelon::kernels {
namespace {

struct Table64 {
  __m512i part[4];
};

MIRELON_VBMI inline Table64 load_table(const std::uint8_t* table) {
  return {{_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64),
           _mm512_loadu_si512(table + 128), _mm512_loadu_si512(table + 192)}};
}

// 64 lookups: two 128-entry permutes pick from the low and the high half of
// the table, and the top bit of each index chooses between them.
MIRELON_VBMI inline __m512i look(const Table64& t, __m512i x) {
  const __m512i low = _mm512_permutex2var_epi8(t.part[0], x, t.part[1]);
  const __m512i high = _mm512_permutex2var_epi8(t.part[2], x, t.part[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}

MIRELON_VBMI inline __m512i add(__m512i x, __m512i y) { return _mm512_add_epi8(x, y); }
MIRELON_VBMI inline __m512i sub(__m512i x, __m512i y) { return _mm512_sub_epi8(x, y); }

// Whole rows of 64 positions, or the last, partial row: lanes past the end
// read as zeros and are never stored.
struct FullRow {
  MIRELON_VBMI __m512i load(const std::uint8_t* p) const { return _mm512_loadu_si512(p); }
  MIRELON_VBMI void store(std::uint8_t* p, __m512i v) const { _mm512_storeu_si512(p, v); }
};
// Whole rows written past the caches with streaming stores where the output
// row is 64-byte aligned (the only rows those stores take), through the cache
// elsewhere.
struct StreamRow {
  MIRELON_VBMI __m512i load(const std::uint8_t* p) const { return _mm512_loadu_si512(p); }
  MIRELON_VBMI void store(std::uint8_t* p, __m512i v) const {
    if (reinterpret_cast<std::uintptr_t>(p) % 64 == 0)
      _mm512_stream_si512(reinterpret_cast<__m512i*>(p), v);
    else
      _mm512_storeu_si512(p, v);
  }
};
struct PartialRow {
  __mmask64 lanes;
  MIRELON_VBMI __m512i load(const std::uint8_t* p) const {
    return _mm512_maskz_loadu_epi8(lanes, p);
  }
  MIRELON_VBMI void store(std::uint8_t* p, __m512i v) const {
    _mm512_mask_storeu_epi8(p, lanes, v);
  }
};

// How far ahead of the rows being mapped each input is prefetched: with many
// parties the processor's own prefetcher loses track of some inputs.
constexpr std::size_t kPrefetchAhead = 1024;

// Row [i, i + 64) of map_data for party p of n parties (src[j] is party j's
// sequence). The chain reads party k's row at step k, which is still in the
// first-level cache from the sum. Inlined with a constant n, the sum unrolls.
template <class Row>
MIRELON_VBMI inline void map_row(const Table64& a, const Table64& b, std::uint64_t p,
                                 const std::uint8_t* const* src, std::size_t n, std::size_t i,
                                 std::uint8_t* out, const Row& row) {
  __m512i s1 = row.load(src[1] + i);
  for (std::size_t j = 2; j < n; ++j) s1 = add(s1, row.load(src[j] + i));
  const __m512i x = sub(row.load(src[0] + i), look(a, s1));
  if (p == 0) {
    row.store(out, look(b, x));
    return;
  }
  // u = x - S[k] and v the running value before step k, for k = 2.
  const __m512i c1 = row.load(src[1] + i);
  __m512i u = add(sub(x, s1), c1);
  __m512i v = add(u, c1);
  for (std::size_t k = 2; k <= p; ++k) {
    const __m512i ck = row.load(src[k] + i);
    const __m512i step = sub(add(add(u, ck), ck), look(a, v));
    v = k < p ? add(v, step) : step;
    u = add(u, ck);
  }
  row.store(out, look(b, v));
}

template <std::size_t N>
MIRELON_VBMI void map_fixed(const std::uint8_t* a_bytes, const std::uint8_t* b_bytes,
                            std::uint64_t p, std::span<const ByteView> d, std::size_t begin,
                            std::size_t end, std::uint8_t* out) {
  const Table64 a = load_table(a_bytes);
  const Table64 b = load_table(b_bytes);
  const std::uint8_t* src[N];
  for (std::size_t j = 0; j < N; ++j) src[j] = d[j].data();
  std::size_t i = begin;
  for (; i + 64 <= end; i += 64) {
    if constexpr (N > 4)
      for (std::size_t j = 0; j < N; ++j)
        _mm_prefetch(reinterpret_cast<const char*>(src[j] + i + kPrefetchAhead), _MM_HINT_T0);
    map_row(a, b, p, src, N, i, out + i - begin, FullRow{});
  }
  if (i < end) {
    const PartialRow row{(__mmask64{1} << (end - i)) - 1};
    map_row(a, b, p, src, N, i, out + i - begin, row);
  }
}

// The unkeyed rows of one row of positions: in registers for a fixed party
// count, in memory for any count.
template <std::size_t N>
struct RegisterRows {
  __m512i row[N];
  MIRELON_VBMI __m512i get(std::size_t j) const { return row[j]; }
  MIRELON_VBMI void set(std::size_t j, __m512i v) { row[j] = v; }
};
struct MemoryRows {
  std::uint8_t* bytes;  // 64 per party
  MIRELON_VBMI __m512i get(std::size_t j) const { return _mm512_loadu_si512(bytes + 64 * j); }
  MIRELON_VBMI void set(std::size_t j, __m512i v) const { _mm512_storeu_si512(bytes + 64 * j, v); }
};

// inv_data's restoration of row [i, i + 64) for n parties from their unkeyed
// rows w (out[j] is party j's). Inlined with a constant n, the loops unroll.
template <class Rows, class Row>
MIRELON_VBMI inline void inv_chain(const Table64& a, std::uint8_t* const* out, std::size_t n,
                                   std::size_t i, const Row& row, const Rows& w) {
  const __m512i w0 = w.get(0);
  __m512i acc = _mm512_setzero_si512();
  if (n >= 3) {
    // prefix = w[1] + ... + w[k-1]: the forward chain's running value before
    // its step k.
    __m512i prefix = w.get(1);
    for (std::size_t j = 2; j + 1 < n; ++j) prefix = add(prefix, w.get(j));
    acc = add(sub(w.get(n - 1), w0), look(a, prefix));
    row.store(out[n - 1] + i, acc);
    for (std::size_t k = n - 2; k >= 2; --k) {
      prefix = sub(prefix, w.get(k));
      const __m512i ck = add(sub(add(w.get(k), acc), w0), look(a, prefix));
      row.store(out[k] + i, ck);
      acc = add(acc, ck);
    }
  }
  const __m512i c1 = sub(add(w.get(1), acc), w0);
  row.store(out[1] + i, c1);
  acc = add(acc, c1);
  row.store(out[0] + i, add(w0, look(a, acc)));
}

// The same, unkeying the row first (in[j] and tables[j] are party j's).
template <class Rows, class Row>
MIRELON_VBMI inline void inv_row(const Table64& a, const std::uint8_t* const* tables,
                                 const std::uint8_t* const* in, std::uint8_t* const* out,
                                 std::size_t n, std::size_t i, const Row& row, Rows& w) {
  for (std::size_t j = 0; j < n; ++j) w.set(j, look(load_table(tables[j]), row.load(in[j] + i)));
  inv_chain(a, out, n, i, row, w);
}

// The inverse tables do not all fit in registers beside the rows, and loading
// every table again for every row costs more than the lookups (a quarter of
// the time with sixteen parties, a tenth with two). So rows are unkeyed
// kGroupRows at a time, one party after another with its table held in
// registers, into a buffer that stays in the first-level cache, and the
// chains then run from there.
constexpr std::size_t kGroupRows = 16;

// Row r of a group's rows (unkeyed or restored), kGroupRows per party.
struct GroupRows {
  const std::uint8_t* bytes;
  MIRELON_VBMI __m512i get(std::size_t j) const {
    return _mm512_load_si512(bytes + 64 * kGroupRows * j);
  }
};

// Unkeys rows [i, i + 64 kGroupRows) of each of n parties into `unkeyed`
// (64-byte aligned). Inlined with a constant n, the loop unrolls.
MIRELON_VBMI inline void unkey_group(std::size_t n, const std::uint8_t* const* tab,
                                     const std::uint8_t* const* in, std::size_t i,
                                     std::uint8_t* unkeyed) {
  for (std::size_t j = 0; j < n; ++j) {
    const Table64 t = load_table(tab[j]);
    for (std::size_t r = 0; r < kGroupRows; ++r) {
      const std::uint8_t* row = in[j] + i + 64 * r;
      _mm_prefetch(reinterpret_cast<const char*>(row + kPrefetchAhead), _MM_HINT_T0);
      _mm512_store_si512(unkeyed + 64 * (kGroupRows * j + r), look(t, _mm512_loadu_si512(row)));
    }
  }
}

// The whole groups of rows of inv_data for n parties from position i on, i
// advanced past them, written by Row; `unkeyed` holds a group (64-byte
// aligned).
template <class Row = FullRow>
MIRELON_VBMI inline void inv_whole_groups(const Table64& a, std::size_t n,
                                          const std::uint8_t* const* tab,
                                          const std::uint8_t* const* in,
                                          std::uint8_t* const* dst, std::size_t& i,
                                          std::size_t end, std::uint8_t* unkeyed) {
  for (; i + 64 * kGroupRows <= end; i += 64 * kGroupRows) {
    unkey_group(n, tab, in, i, unkeyed);
    for (std::size_t r = 0; r < kGroupRows; ++r)
      inv_chain(a, dst, n, i + 64 * r, Row{}, GroupRows{unkeyed + 64 * r});
  }
}

// The lane numbers 0..63, for byte permutes.
constexpr std::array<std::uint8_t, 64> kLanes = [] {
  std::array<std::uint8_t, 64> lanes{};
  for (std::size_t l = 0; l < lanes.size(); ++l) lanes[l] = static_cast<std::uint8_t>(l);
  return lanes;
}();

// Streaming stores take whole 64-byte aligned lines, and results are often
// misaligned unlike one another (reused memory from the host's heap is
// misaligned four ways), so no one grid of rows suits them all. Each group
// is restored into a buffer, and every party's lines go out on that party's
// own alignment: each line is the end of one restored row and the start of
// the next, joined by one byte permute. The rows are loaded from the buffer
// exactly as they were stored, so the loads never wait for the streaming
// stores queued before them to reach memory.
template <std::size_t N>
MIRELON_VBMI inline void inv_streamed_groups(const Table64& a, const std::uint8_t* const* tab,
                                             const std::uint8_t* const* in,
                                             std::uint8_t* const* dst, std::size_t& i,
                                             std::size_t end, std::uint8_t* unkeyed) {
  constexpr std::size_t kGroupBytes = 64 * kGroupRows;
  if (i + kGroupBytes > end) return;
  alignas(64) std::uint8_t restored[N * kGroupBytes];
  // Each party's row before the group. Read only after a group has stored
  // it, but zeroed (once per call) so that no path reads undefined bytes.
  alignas(64) std::uint8_t last_row[N * 64] = {};
  std::uint8_t* rows[N];
  std::size_t skip[N];  // bytes of the party's first row before its first whole line
  for (std::size_t j = 0; j < N; ++j) {
    rows[j] = restored + kGroupBytes * j;
    skip[j] = (64 - reinterpret_cast<std::uintptr_t>(dst[j] + i) % 64) % 64;
  }
  const __m512i lane = _mm512_loadu_si512(kLanes.data());
  for (bool first = true; i + kGroupBytes <= end; i += kGroupBytes, first = false) {
    unkey_group(N, tab, in, i, unkeyed);
    for (std::size_t r = 0; r < kGroupRows; ++r)
      inv_chain(a, rows, N, 64 * r, FullRow{}, GroupRows{unkeyed + 64 * r});
    for (std::size_t j = 0; j < N; ++j) {
      const std::size_t h = skip[j];
      std::uint8_t* to = dst[j] + i;
      const __m512i join = _mm512_add_epi8(lane, _mm512_set1_epi8(static_cast<char>(h)));
      __m512i before = first ? _mm512_setzero_si512() : _mm512_load_si512(last_row + 64 * j);
      for (std::size_t r = 0; r < kGroupRows; ++r) {
        const __m512i row = _mm512_load_si512(rows[j] + 64 * r);
        if (h == 0)
          _mm512_stream_si512(reinterpret_cast<__m512i*>(to + 64 * r), row);
        else if (first && r == 0)  // the first bytes finish a line begun before
          _mm512_mask_storeu_epi8(to, (__mmask64{1} << h) - 1, row);
        else
          _mm512_stream_si512(reinterpret_cast<__m512i*>(to + 64 * r - 64 + h),
                              _mm512_permutex2var_epi8(before, join, row));
        before = row;
      }
      _mm512_store_si512(last_row + 64 * j, before);
    }
  }
  // The last row's bytes after its party's last whole line begin a line
  // that the rows after the groups finish.
  for (std::size_t j = 0; j < N; ++j)
    if (skip[j] > 0)
      _mm512_mask_storeu_epi8(dst[j] + i - 64, ~((__mmask64{1} << skip[j]) - 1),
                              _mm512_load_si512(last_row + 64 * j));
}

// The whole rows of inv_data from position i on, i advanced past them.
template <std::size_t N>
MIRELON_VBMI inline void inv_whole_rows(const Table64& a, const std::uint8_t* const* tab,
                                        const std::uint8_t* const* in, std::uint8_t* const* dst,
                                        std::size_t& i, std::size_t end, RegisterRows<N>& w) {
  for (; i + 64 <= end; i += 64) {
    if constexpr (N > 4)
      for (std::size_t j = 0; j < N; ++j)
        _mm_prefetch(reinterpret_cast<const char*>(in[j] + i + kPrefetchAhead), _MM_HINT_T0);
    inv_row(a, tab, in, dst, N, i, FullRow{}, w);
  }
}

template <std::size_t N>
MIRELON_VBMI void inv_fixed(const std::uint8_t* a_bytes, std::span<const Bytes> tables,
                            std::span<const ByteView> mapped, std::size_t begin, std::size_t end,
                            std::span<const std::span<std::uint8_t>> out, InvStores stores) {
  const Table64 a = load_table(a_bytes);
  const std::uint8_t* tab[N];
  const std::uint8_t* in[N];
  std::uint8_t* dst[N];
  for (std::size_t j = 0; j < N; ++j) {
    tab[j] = tables[j].data();
    in[j] = mapped[j].data();
    dst[j] = out[j].data();
  }
  RegisterRows<N> w;
  alignas(64) std::uint8_t unkeyed[N * kGroupRows * 64];
  std::size_t i = begin;
  if (stores == InvStores::streamed_aligned) {
    // Fresh results of one size are all misaligned alike: one partial row
    // first aligns the rows of the results most often misaligned alike.
    std::array<std::size_t, 64> alike{};
    for (std::size_t j = 0; j < N; ++j) ++alike[reinterpret_cast<std::uintptr_t>(dst[j] + i) % 64];
    const auto skew = static_cast<std::size_t>(
        std::max_element(alike.begin(), alike.end()) - alike.begin());
    const std::size_t head = std::min(end - i, (64 - skew) % 64);
    if (head > 0) inv_row(a, tab, in, dst, N, i, PartialRow{(__mmask64{1} << head) - 1}, w);
    i += head;
    inv_whole_groups<StreamRow>(a, N, tab, in, dst, i, end, unkeyed);
  } else if (stores == InvStores::streamed_joined) {
    inv_streamed_groups<N>(a, tab, in, dst, i, end, unkeyed);
  }
  if (stores != InvStores::cached) _mm_sfence();  // streamed lines are visible on return
  inv_whole_groups(a, N, tab, in, dst, i, end, unkeyed);
  inv_whole_rows<N>(a, tab, in, dst, i, end, w);
  if (i < end) inv_row(a, tab, in, dst, N, i, PartialRow{(__mmask64{1} << (end - i)) - 1}, w);
}

// Any number of parties for inv_data.
MIRELON_VBMI void inv_any(const std::uint8_t* a_bytes, std::span<const Bytes> tables,
                          std::span<const ByteView> mapped, std::size_t begin, std::size_t end,
                          std::span<const std::span<std::uint8_t>> out, InvStores) {
  const Table64 a = load_table(a_bytes);
  const std::size_t n = mapped.size();
  std::vector<const std::uint8_t*> tab, in;
  std::vector<std::uint8_t*> dst;
  for (std::size_t j = 0; j < n; ++j) {
    tab.push_back(tables[j].data());
    in.push_back(mapped[j].data());
    dst.push_back(out[j].data());
  }
  struct alignas(64) Line {
    std::uint8_t bytes[64];
  };
  std::vector<Line> unkeyed(n * kGroupRows);
  std::size_t i = begin;
  inv_whole_groups(a, n, tab.data(), in.data(), dst.data(), i, end,
                   reinterpret_cast<std::uint8_t*>(unkeyed.data()));
  std::vector<std::uint8_t> bytes(64 * n);
  MemoryRows w{bytes.data()};
  for (; i < end; i += 64) {
    const std::size_t left = end - i;
    const PartialRow row{left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1};
    inv_row(a, tab.data(), in.data(), dst.data(), n, i, row, w);
  }
}

// Any number of parties for map_data.
MIRELON_VBMI void map_any(const std::uint8_t* a_bytes, const std::uint8_t* b_bytes,
                          std::uint64_t p, std::span<const ByteView> d, std::size_t begin,
                          std::size_t end, std::uint8_t* out) {
  const Table64 a = load_table(a_bytes);
  const Table64 b = load_table(b_bytes);
  std::vector<const std::uint8_t*> src;
  for (ByteView sequence : d) src.push_back(sequence.data());
  for (std::size_t i = begin; i < end; i += 64) {
    const std::size_t left = end - i;
    const PartialRow row{left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1};
    map_row(a, b, p, src.data(), src.size(), i, out + i - begin, row);
  }
}

// Party counts with a kernel of their own: their rows stay in registers.
constexpr std::size_t kFixedMax = 16;

using MapFn = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint64_t,
                       std::span<const ByteView>, std::size_t, std::size_t, std::uint8_t*);
using InvFn = void (*)(const std::uint8_t*, std::span<const Bytes>, std::span<const ByteView>,
                       std::size_t, std::size_t, std::span<const std::span<std::uint8_t>>,
                       InvStores);

// Entry k serves k + 2 parties.
template <std::size_t... K>
constexpr std::array<MapFn, sizeof...(K)> map_table(std::index_sequence<K...>) {
  return {map_fixed<K + 2>...};
}
template <std::size_t... K>
constexpr std::array<InvFn, sizeof...(K)> inv_table(std::index_sequence<K...>) {
  return {inv_fixed<K + 2>...};
}

constexpr auto kMapByCount = map_table(std::make_index_sequence<kFixedMax - 1>{});
constexpr auto kInvByCount = inv_table(std::make_index_sequence<kFixedMax - 1>{});

bool vbmi_available() {
  static const bool yes = [] {
    if (runtime::portable_kernels_requested()) return false;
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
  }();
  return yes;
}

MIRELON_VBMI void lookup_vbmi(const std::uint8_t* table, const std::uint8_t* index,
                              std::uint8_t* out, std::size_t m) {
  const Table64 t = load_table(table);
  std::size_t i = 0;
  for (; i + 64 <= m; i += 64) FullRow{}.store(out + i, look(t, FullRow{}.load(index + i)));
  if (i < m) {
    const PartialRow row{(__mmask64{1} << (m - i)) - 1};
    row.store(out + i, look(t, row.load(index + i)));
  }
}

}  // namespace

bool lookup_wide(const std::uint8_t* table, const std::uint8_t* index, std::uint8_t* out,
                  std::size_t m) {
  if (!vbmi_available()) return false;
  lookup_vbmi(table, index, out, m);
  return true;
}

bool map_positions_wide(const std::uint8_t* a, const std::uint8_t* b, std::uint64_t p,
                         std::span<const ByteView> d, std::size_t begin, std::size_t end,
                         std::uint8_t* out) {
  if (!vbmi_available()) return false;
  const MapFn fn = d.size() <= kFixedMax ? kMapByCount[d.size() - 2] : map_any;
  fn(a, b, p, d, begin, end, out);
  return true;
}

bool inv_positions_wide(const std::uint8_t* a, std::span<const Bytes> tables,
                         std::span<const ByteView> mapped, std::size_t begin, std::size_t end,
                         std::span<const std::span<std::uint8_t>> out, InvStores stores) {
  if (!vbmi_available()) return false;
  const InvFn fn = mapped.size() <= kFixedMax ? kInvByCount[mapped.size() - 2] : inv_any;
  fn(a, tables, mapped, begin, end, out, stores);
  return true;
}

}  // namespace mirelon::kernels

#else

namespace mirelon::kernels {

bool lookup_wide(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t) {
  return false;
}
bool map_positions_wide(const std::uint8_t*, const std::uint8_t*, std::uint64_t,
                         std::span<const ByteView>, std::size_t, std::size_t, std::uint8_t*) {
  return false;
}
bool inv_positions_wide(const std::uint8_t*, std::span<const Bytes>, std::span<const ByteView>,
                         std::size_t, std::size_t, std::span<const std::span<std::uint8_t>>,
                         InvStores) {
  return false;
}

}  // namespace mirelon::kernels

#endif
