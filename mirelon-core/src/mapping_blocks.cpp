#include "mapping_blocks.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MIRELON_LOOKUP_VBMI 1
#include <immintrin.h>
#endif

namespace mirelon::blocks {
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

LookupFn choose_lookup() {
#ifdef MIRELON_LOOKUP_VBMI
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vbmi")) {
    return lookup_vbmi;
  }
#endif
  return lookup_scalar;
}

}  // namespace

void lookup(const std::uint8_t* table, const std::uint8_t* index, std::uint8_t* out,
            std::size_t m) {
  static const LookupFn fn = choose_lookup();
  fn(table, index, out, m);
}

}  // namespace mirelon::blocks
