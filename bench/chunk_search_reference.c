/* The reference for the chunk-size search: a plain one-thread loop over the
 * same candidates, with a flat open-addressing table of chunk indices (a
 * power of two of at least twice the chunk count, cleared per candidate) and
 * an unkeyed multiply-xorshift hash. Built by bench_module.py at bench time:
 *     cc -O2 -shared -fPIC -o chunk_search_reference.so chunk_search_reference.c
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define MIX 0x9E3779B97F4A7C15ULL

uint64_t reference_chunk_hash(const uint8_t* p, uint64_t c) {
  uint64_t h = c;
  uint64_t at = 0;
  for (; at + 8 <= c; at += 8) {
    uint64_t w;
    memcpy(&w, p + at, 8);
    h = (h ^ w) * MIX;
    h ^= h >> 32;
  }
  if (at < c) {
    uint64_t w = 0;
    memcpy(&w, p + at, c - at);
    h = (h ^ w) * MIX;
    h ^= h >> 32;
  }
  return h;
}

static int distinct(const uint8_t* p, uint64_t n, uint64_t c, uint32_t* table, uint64_t cap) {
  const uint64_t count = n / c;
  const uint64_t mask = cap - 1;
  memset(table, 0, cap * sizeof *table);
  for (uint64_t k = 0; k < count; ++k) {
    uint64_t at = reference_chunk_hash(p + k * c, c) & mask;
    for (;;) {
      uint32_t held = table[at];
      if (held == 0) {
        table[at] = (uint32_t)(k + 1);
        break;
      }
      if (memcmp(p + (uint64_t)(held - 1) * c, p + k * c, c) == 0) return 0;
      at = (at + 1) & mask;
    }
  }
  return 1;
}

/* 0 on allocation failure (or an empty packet). */
uint64_t reference_chunk_size(const uint8_t* p, uint64_t n, uint64_t min_size) {
  if (n == 0 || min_size == 0) return 0;
  uint32_t* table = NULL;
  uint64_t allocated = 0;
  uint64_t result = n;
  for (uint64_t c = min_size; c <= n / 2; ++c) {
    if (n % c != 0) continue;
    uint64_t cap = 1;
    while (cap < 2 * (n / c)) cap <<= 1;
    if (cap > allocated) {
      free(table);
      table = malloc(cap * sizeof *table);
      if (!table) return 0;
      allocated = cap;
    }
    if (distinct(p, n, c, table, cap)) {
      result = c;
      break;
    }
  }
  free(table);
  return result;
}
