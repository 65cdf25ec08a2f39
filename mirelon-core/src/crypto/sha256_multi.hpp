#pragma once
// SHA-256 of many independent messages of one length at a time. Every
// message is its own part (`own_len` bytes at own[i]) followed by a part all
// messages share. With SHA-NI, several messages are compressed interleaved so
// that one message's rounds fill the latency of another's; elsewhere each
// message goes through OpenSSL. Both give OpenSSL's digests.
//
// The work may be split in two: `absorb` compresses the leading whole blocks
// of the own parts (which need nothing from the shared part), `finish` the
// rest. This lets leading blocks be hashed before the shared part exists.

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/openssl.hpp"
#include "kernels/byte_counts.hpp"
#include "mirelon/bytes.hpp"

namespace mirelon::crypto {

inline constexpr std::size_t kShaBlock = 64;

// The eight chaining words of a SHA-256 computation after whole blocks.
using ShaState = std::array<std::uint32_t, 8>;
inline constexpr ShaState kShaInitial = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// Messages hashed interleaved by one call of the kernel.
inline constexpr std::size_t kShaLanes = 4;

// True when the interleaved SHA-NI kernel is in use on this processor.
bool sha_multi_accelerated();

// For each i < count: states[i] (already holding `done` blocks) absorbs blocks
// done .. done + blocks - 1 of own[i]. Those blocks must lie inside the own
// part.
void sha_absorb(ShaState* states, const std::uint8_t* const* own, std::size_t count,
                std::size_t done, std::size_t blocks);

// For each i < count: out[i] = SHA-256(own[i][0, own_len) || shared), given
// states[i] after the first `done` whole blocks of own[i].
void sha_finish(const ShaState* states, const std::uint8_t* const* own, std::size_t own_len,
                std::size_t done, ByteView shared, std::size_t count, Digest* out);

// sha_absorb that also counts every absorbed byte into `tally`.
void sha_absorb_counting(ShaState* states, const std::uint8_t* const* own, std::size_t count,
                         std::size_t done, std::size_t blocks, kernels::ByteTally& tally);

}  // namespace mirelon::crypto
