#include "mapping_blocks.hpp"

#include <string>
#include <vector>

#include "kernel_choice.hpp"
#include "mirelon/failure.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MIRELON_LOOKUP_VBMI 1
#include <immintrin.h>
#endif

namespace mirelon::blocks {

std::size_t common_length(std::span<const ByteView> sequences) {
  const std::size_t len = sequences[0].size();
  for (std::size_t j = 0; j < sequences.size(); ++j) {
    if (sequences[j].size() != len) {
      throw InternalFailure("all inner vectors must have equal length; data_sequences[0].len() = " +
                            std::to_string(len) + ", but data_sequences[" + std::to_string(j) +
                            "].len() = " + std::to_string(sequences[j].size()));
    }
  }
  return len;
}
namespace {

using LookupFn = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t);

void lookup_scalar(const std::uint8_t* table, const std::uint8_t* index, std::uint8_t* out,
                   std::size_t m) {
  for (std::size_t i = 0; i < m; ++i) out[i] = table[index[i]];
}

#ifdef MIRELON_LOOKUP_VBMI
// 64 lookups at a time: two 128-entry permutes pick from the low and the high
// half of the table, and the top bit of each index chooses between them.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void lookup_vbmi(
    const std::uint8_t* table, const std::uint8_t* index, std::uint8_t* out, std::size_t m) {
  const __m512i t0 = _mm512_loadu_si512(table);
  const __m512i t1 = _mm512_loadu_si512(table + 64);
  const __m512i t2 = _mm512_loadu_si512(table + 128);
  const __m512i t3 = _mm512_loadu_si512(table + 192);
  std::size_t i = 0;
  for (; i + 64 <= m; i += 64) {
    const __m512i x = _mm512_loadu_si512(index + i);
    const __m512i low = _mm512_permutex2var_epi8(t0, x, t1);
    const __m512i high = _mm512_permutex2var_epi8(t2, x, t3);
    _mm512_storeu_si512(out + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high));
  }
  lookup_scalar(table, index + i, out + i, m - i);
}
#endif

#ifdef MIRELON_LOOKUP_VBMI
#define MIRELON_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

struct Table64 {
  __m512i part[4];
};

MIRELON_VBMI inline Table64 load_table(const std::uint8_t* table) {
  return {{_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64),
           _mm512_loadu_si512(table + 128), _mm512_loadu_si512(table + 192)}};
}

MIRELON_VBMI inline __m512i look(const Table64& t, __m512i x) {
  const __m512i low = _mm512_permutex2var_epi8(t.part[0], x, t.part[1]);
  const __m512i high = _mm512_permutex2var_epi8(t.part[2], x, t.part[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}

// Lanes [0, count) of 64 bytes; the rest read as zeros and are never stored.
MIRELON_VBMI inline __m512i load_some(const std::uint8_t* p, __mmask64 lanes) {
  return _mm512_maskz_loadu_epi8(lanes, p);
}

MIRELON_VBMI inline __mmask64 lanes_of(std::size_t count) {
  return count >= 64 ? ~__mmask64{0} : (__mmask64{1} << count) - 1;
}

// The chain of map_block, unchecked, for 64 positions at a time.
MIRELON_VBMI void map_fused_vbmi(const std::uint8_t* a_bytes, const std::uint8_t* b_bytes,
                                 std::uint64_t p, std::span<const ByteView> d, std::size_t begin,
                                 std::size_t end, std::uint8_t* out) {
  const Table64 a = load_table(a_bytes);
  const Table64 b = load_table(b_bytes);
  const std::size_t n = d.size();
  for (std::size_t i = begin; i < end; i += 64) {
    const __mmask64 lanes = lanes_of(end - i);
    __m512i s1 = _mm512_setzero_si512();
    for (std::size_t j = 1; j < n; ++j)
      s1 = _mm512_add_epi8(s1, load_some(d[j].data() + i, lanes));
    const __m512i x = _mm512_sub_epi8(load_some(d[0].data() + i, lanes), look(a, s1));
    __m512i result;
    if (p == 0) {
      result = look(b, x);
    } else {
      const __m512i c1 = load_some(d[1].data() + i, lanes);
      __m512i u = _mm512_add_epi8(_mm512_sub_epi8(x, s1), c1);
      __m512i v = _mm512_add_epi8(u, c1);
      for (std::uint64_t k = 2; k <= p; ++k) {
        const __m512i ck = load_some(d[k].data() + i, lanes);
        const __m512i step =
            _mm512_sub_epi8(_mm512_add_epi8(_mm512_add_epi8(u, ck), ck), look(a, v));
        v = k < p ? _mm512_add_epi8(v, step) : step;
        u = _mm512_add_epi8(u, ck);
      }
      result = look(b, v);
    }
    _mm512_mask_storeu_epi8(out + i - begin, lanes, result);
  }
}

// Row j of 64-byte rows.
MIRELON_VBMI inline __m512i load_row(const std::vector<std::uint8_t>& rows, std::size_t j) {
  return _mm512_loadu_si512(rows.data() + 64 * j);
}

// The restoration of inv_block for 64 positions at a time.
MIRELON_VBMI void inv_fused_vbmi(const std::uint8_t* a_bytes, std::span<const Bytes> tables,
                                 std::span<const ByteView> mapped, std::size_t begin,
                                 std::size_t end, std::span<const std::span<std::uint8_t>> out) {
  const Table64 a = load_table(a_bytes);
  const std::size_t n = mapped.size();
  // w(j) for 64 positions, as bytes: the count of parties is not fixed.
  std::vector<std::uint8_t> w_bytes(n * 64);
  for (std::size_t i = begin; i < end; i += 64) {
    const __mmask64 lanes = lanes_of(end - i);
    for (std::size_t j = 0; j < n; ++j)
      _mm512_storeu_si512(w_bytes.data() + 64 * j, look(load_table(tables[j].data()),
                                                        load_some(mapped[j].data() + i, lanes)));
    const __m512i w0 = load_row(w_bytes, 0);
    __m512i acc = _mm512_setzero_si512();
    if (n >= 3) {
      __m512i prefix = load_row(w_bytes, 1);
      for (std::size_t j = 2; j + 1 < n; ++j)
        prefix = _mm512_add_epi8(prefix, load_row(w_bytes, j));
      const __m512i last =
          _mm512_add_epi8(_mm512_sub_epi8(load_row(w_bytes, n - 1), w0), look(a, prefix));
      _mm512_mask_storeu_epi8(out[n - 1].data() + i, lanes, last);
      acc = last;
      for (std::size_t k = n - 2; k >= 2; --k) {
        prefix = _mm512_sub_epi8(prefix, load_row(w_bytes, k));
        const __m512i wk = load_row(w_bytes, k);
        const __m512i ck =
            _mm512_add_epi8(_mm512_sub_epi8(_mm512_add_epi8(wk, acc), w0), look(a, prefix));
        _mm512_mask_storeu_epi8(out[k].data() + i, lanes, ck);
        acc = _mm512_add_epi8(acc, ck);
      }
    }
    const __m512i c1 = _mm512_sub_epi8(_mm512_add_epi8(load_row(w_bytes, 1), acc), w0);
    _mm512_mask_storeu_epi8(out[1].data() + i, lanes, c1);
    acc = _mm512_add_epi8(acc, c1);
    _mm512_mask_storeu_epi8(out[0].data() + i, lanes, _mm512_add_epi8(w0, look(a, acc)));
  }
}
#endif

bool has_vbmi() {
#ifdef MIRELON_LOOKUP_VBMI
  if (portable_kernels_requested()) return false;
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi");
#else
  return false;
#endif
}

bool vbmi() {
  static const bool yes = has_vbmi();
  return yes;
}

LookupFn choose_lookup() {
#ifdef MIRELON_LOOKUP_VBMI
  if (vbmi()) return lookup_vbmi;
#endif
  return lookup_scalar;
}

}  // namespace

bool map_positions_fused(const std::uint8_t* a, const std::uint8_t* b, std::uint64_t p,
                         std::span<const ByteView> d, std::size_t begin, std::size_t end,
                         std::uint8_t* out) {
#ifdef MIRELON_LOOKUP_VBMI
  if (vbmi()) {
    map_fused_vbmi(a, b, p, d, begin, end, out);
    return true;
  }
#endif
  (void)a, (void)b, (void)p, (void)d, (void)begin, (void)end, (void)out;
  return false;
}

bool inv_positions_fused(const std::uint8_t* a, std::span<const Bytes> tables,
                         std::span<const ByteView> mapped, std::size_t begin, std::size_t end,
                         std::span<const std::span<std::uint8_t>> out) {
#ifdef MIRELON_LOOKUP_VBMI
  if (vbmi()) {
    inv_fused_vbmi(a, tables, mapped, begin, end, out);
    return true;
  }
#endif
  (void)a, (void)tables, (void)mapped, (void)begin, (void)end, (void)out;
  return false;
}

void lookup(const std::uint8_t* table, const std::uint8_t* index, std::uint8_t* out,
            std::size_t m) {
  static const LookupFn fn = choose_lookup();
  fn(table, index, out, m);
}

}  // namespace mirelon::blocks
