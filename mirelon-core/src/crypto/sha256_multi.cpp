#include "crypto/sha256_multi.hpp"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "runtime/byte_order.hpp"
#include "runtime/kernel_choice.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MIRELON_SHA_NI 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace mirelon::crypto {
namespace {

// One message through OpenSSL, resuming from `state` after `done` blocks.
void finish_one(const ShaState& state, const std::uint8_t* own, std::size_t own_len,
                std::size_t done, ByteView shared, Digest& out) {
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  std::memcpy(ctx.h, state.data(), sizeof ctx.h);
  const std::uint64_t bits = std::uint64_t{done} * kShaBlock * 8;
  ctx.Nl = static_cast<SHA_LONG>(bits);
  ctx.Nh = static_cast<SHA_LONG>(bits >> 32);
  SHA256_Update(&ctx, own + done * kShaBlock, own_len - done * kShaBlock);
  SHA256_Update(&ctx, shared.data(), shared.size());
  SHA256_Final(out.data(), &ctx);
}

void absorb_one(ShaState& state, const std::uint8_t* blocks, std::size_t count) {
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  std::memcpy(ctx.h, state.data(), sizeof ctx.h);
  SHA256_Update(&ctx, blocks, count * kShaBlock);
  std::memcpy(state.data(), ctx.h, sizeof ctx.h);
}

// memcpy for fewer than 64 bytes, inline: a library call per message would
// cost as much as the copy.
inline void copy_short(std::uint8_t* out, const std::uint8_t* in, std::size_t n) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) std::memcpy(out + i, in + i, 16);
  for (; i < n; ++i) out[i] = in[i];
}

// The lockstep kernels below exist only on x86-64; elsewhere every message
// goes through OpenSSL, whose own SHA-256 uses the processor's instructions
// where it has them (ARMv8's SHA-2 extension among them).
#ifdef MIRELON_SHA_NI

void store_digest(const ShaState& state, Digest& out) {
  for (std::size_t w = 0; w < 8; ++w) runtime::store_u32_be(out.data() + 4 * w, state[w]);
}

alignas(16) constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

#define MIRELON_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// `lanes` messages compressed in lockstep, `blocks` blocks each; block b of
// lane l starts at data[l] + b * 64. The lanes' instructions are independent,
// so the rounds of one lane run while another waits on its latency.
// With a tally, the blocks' bytes are counted between the rounds.
template <std::size_t kLanes, bool kCount = false>
MIRELON_SHA_TARGET void compress_lanes(ShaState* const* states, const std::uint8_t* const* data,
                                       std::size_t blocks, kernels::ByteTally* tally = nullptr) {
  const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i abef[kLanes], cdgh[kLanes];
  for (std::size_t l = 0; l < kLanes; ++l) {
    // Chaining words a..h rearranged into the instruction's ABEF / CDGH order.
    const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(states[l]->data()));
    const __m128i hgfe =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(states[l]->data() + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    abef[l] = _mm_alignr_epi8(cdab, efgh, 8);
    cdgh[l] = _mm_blend_epi16(efgh, cdab, 0xF0);
  }
  for (std::size_t b = 0; b < blocks; ++b) {
    __m128i save0[kLanes], save1[kLanes];
    __m128i w[4][kLanes];
    for (std::size_t l = 0; l < kLanes; ++l) {
      save0[l] = abef[l];
      save1[l] = cdgh[l];
      const std::uint8_t* p = data[l] + b * kShaBlock;
      for (std::size_t q = 0; q < 4; ++q)
        w[q][l] = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q)), swap);
    }
#pragma GCC unroll 16
    for (std::size_t g = 0; g < 16; ++g) {
      const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g));
      for (std::size_t l = 0; l < kLanes; ++l) {
        __m128i& wg = w[g % 4][l];
        if (g >= 4) {
          // W[g] from W[g-4], W[g-3], W[g-2], W[g-1] (four words each).
          const __m128i s = _mm_sha256msg1_epu32(wg, w[(g + 1) % 4][l]);
          const __m128i t = _mm_alignr_epi8(w[(g + 3) % 4][l], w[(g + 2) % 4][l], 4);
          wg = _mm_sha256msg2_epu32(_mm_add_epi32(s, t), w[(g + 3) % 4][l]);
        }
        __m128i m = _mm_add_epi32(wg, k);
        cdgh[l] = _mm_sha256rnds2_epu32(cdgh[l], abef[l], m);
        m = _mm_shuffle_epi32(m, 0x0E);
        abef[l] = _mm_sha256rnds2_epu32(abef[l], cdgh[l], m);
        if constexpr (kCount) tally->count4(data[l] + b * kShaBlock + 4 * g);
      }
    }
    for (std::size_t l = 0; l < kLanes; ++l) {
      abef[l] = _mm_add_epi32(abef[l], save0[l]);
      cdgh[l] = _mm_add_epi32(cdgh[l], save1[l]);
    }
  }
  for (std::size_t l = 0; l < kLanes; ++l) {
    const __m128i feba = _mm_shuffle_epi32(abef[l], 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh[l], 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(states[l]->data()),
                     _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(states[l]->data() + 4),
                     _mm_alignr_epi8(dchg, feba, 8));
  }
}

// Read from CPUID directly: not every compiler knows "sha" as a
// __builtin_cpu_supports feature (clang 14 does not).
bool detect_sha_ni() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = (c & bit_SSSE3) != 0, sse41 = (c & bit_SSE4_1) != 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return ssse3 && sse41 && (b & bit_SHA) != 0;
}

#else

bool detect_sha_ni() { return false; }

#endif

bool accelerated() {
  static const bool yes = !runtime::portable_kernels_requested() && detect_sha_ni();
  return yes;
}

// Runs `body(first, lanes)` over [0, count) in groups of kShaLanes, then one
// lane at a time for the rest.
template <class Body>
void in_groups(std::size_t count, Body&& body) {
  std::size_t i = 0;
  for (; i + kShaLanes <= count; i += kShaLanes)
    body(i, std::integral_constant<std::size_t, kShaLanes>{});
  for (; i < count; ++i) body(i, std::integral_constant<std::size_t, 1>{});
}

// sha_absorb with an optional tally (counting when kCount).
template <bool kCount>
void absorb(ShaState* states, const std::uint8_t* const* own, std::size_t count, std::size_t done,
            std::size_t blocks, kernels::ByteTally* tally) {
  if (blocks == 0) return;
#ifdef MIRELON_SHA_NI
  if (accelerated()) {
    in_groups(count, [&](std::size_t first, auto lanes) {
      constexpr std::size_t kLanes = decltype(lanes)::value;
      ShaState* s[kLanes];
      const std::uint8_t* d[kLanes];
      for (std::size_t l = 0; l < kLanes; ++l) {
        s[l] = &states[first + l];
        d[l] = own[first + l] + done * kShaBlock;
      }
      compress_lanes<kLanes, kCount>(s, d, blocks, tally);
    });
    return;
  }
#endif
  for (std::size_t i = 0; i < count; ++i) {
    absorb_one(states[i], own[i] + done * kShaBlock, blocks);
    if constexpr (kCount) tally->count(own[i] + done * kShaBlock, blocks * kShaBlock);
  }
}

// Blocks per message absorbed in one piece while counting: a piece of
// kShaLanes messages then stays far below what a lane table can count.
constexpr std::size_t kTallyBlocks = std::size_t{1} << 20;

}  // namespace

bool sha_multi_accelerated() { return accelerated(); }

void sha_absorb(ShaState* states, const std::uint8_t* const* own, std::size_t count,
                std::size_t done, std::size_t blocks) {
  absorb<false>(states, own, count, done, blocks, nullptr);
}

void sha_absorb_counting(ShaState* states, const std::uint8_t* const* own, std::size_t count,
                         std::size_t done, std::size_t blocks, kernels::ByteTally& tally) {
  for (std::size_t from = 0; from < blocks; from += kTallyBlocks) {
    const std::size_t piece = std::min(kTallyBlocks, blocks - from);
    for (std::size_t first = 0; first < count; first += kShaLanes) {
      const std::size_t lanes = std::min(kShaLanes, count - first);
      tally.reserve(lanes * piece * kShaBlock);
      absorb<true>(states + first, own + first, lanes, done + from, piece, &tally);
    }
  }
}

void sha_finish(const ShaState* states, const std::uint8_t* const* own, std::size_t own_len,
                std::size_t done, ByteView shared, std::size_t count, Digest* out) {
#ifdef MIRELON_SHA_NI
  if (accelerated()) {
    // Whole blocks left in the own parts are compressed in place; the partial
    // last own block, the shared part and the padding are laid out per lane.
    const std::size_t whole = own_len / kShaBlock;
    const std::size_t rest = own_len - whole * kShaBlock;
    const std::size_t tail_len = rest + shared.size();
    const std::size_t tail_blocks = (tail_len + 9 + kShaBlock - 1) / kShaBlock;
    const std::size_t tail_bytes = tail_blocks * kShaBlock;
    const std::uint64_t bits = (std::uint64_t{own_len} + shared.size()) * 8;
    // Crumb-sized tails fit on the stack; only a long shared part needs the
    // heap, once per call.
    std::array<std::uint8_t, kShaLanes * 4 * kShaBlock> on_stack;
    std::vector<std::uint8_t> on_heap;
    std::uint8_t* tails = on_stack.data();
    if (kShaLanes * tail_bytes > on_stack.size()) {
      on_heap.resize(kShaLanes * tail_bytes);
      tails = on_heap.data();
    }
    std::memset(tails, 0, kShaLanes * tail_bytes);
    for (std::size_t l = 0; l < kShaLanes; ++l) {
      std::uint8_t* t = tails + l * tail_bytes;
      if (!shared.empty()) std::memcpy(t + rest, shared.data(), shared.size());
      t[tail_len] = 0x80;
      runtime::store_u64_be(t + tail_bytes - 8, bits);
    }
    in_groups(count, [&](std::size_t first, auto lanes) {
      constexpr std::size_t kLanes = decltype(lanes)::value;
      ShaState work[kLanes];
      ShaState* s[kLanes];
      const std::uint8_t* d[kLanes];
      for (std::size_t l = 0; l < kLanes; ++l) {
        work[l] = states[first + l];
        s[l] = &work[l];
        d[l] = own[first + l] + done * kShaBlock;
      }
      if (whole > done) compress_lanes<kLanes>(s, d, whole - done);
      for (std::size_t l = 0; l < kLanes; ++l) {
        std::uint8_t* t = tails + l * tail_bytes;
        copy_short(t, own[first + l] + whole * kShaBlock, rest);
        d[l] = t;
      }
      compress_lanes<kLanes>(s, d, tail_blocks);
      for (std::size_t l = 0; l < kLanes; ++l) store_digest(work[l], out[first + l]);
    });
    return;
  }
#endif
  for (std::size_t i = 0; i < count; ++i)
    finish_one(states[i], own[i], own_len, done, shared, out[i]);
}

}  // namespace mirelon::crypto
