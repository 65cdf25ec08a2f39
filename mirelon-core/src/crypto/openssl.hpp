#pragma once
// Thin wrappers over OpenSSL libcrypto: SHA-256 with reusable contexts, HMAC
// with the key's inner and outer states prepared once, and the ChaCha20
// keystream. Nothing here allocates per message.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include <openssl/sha.h>

#include "mirelon/bytes.hpp"

namespace mirelon::crypto {

inline constexpr std::size_t kDigestSize = 32;
using Digest = std::array<std::uint8_t, kDigestSize>;

// Incremental SHA-256 on a stack context. The short-message interface is the
// fast one for many small hashes; it is deprecated in OpenSSL 3, so only the
// crypto unit compiles against it.
class Sha256 {
 public:
  Sha256();
  Sha256& update(ByteView data) { return update(data.data(), data.size()); }
  Sha256& update(const std::uint8_t* data, std::size_t size);
  Digest finish();

 private:
  SHA256_CTX ctx_;
};

inline Digest sha256(ByteView data) { return Sha256().update(data).finish(); }

// HMAC-SHA256 under one key, its padded key blocks hashed once up front so
// that each message costs two short compressions.
class HmacSha256 {
 public:
  explicit HmacSha256(ByteView key);
  ~HmacSha256();
  Digest mac(ByteView message) const;

 private:
  SHA256_CTX inner_;
  SHA256_CTX outer_;
};

// Writes blocks counter, counter+1, ... of the ChaCha20 keystream under `key`
// (64-bit block counter, zero 64-bit stream number) to `out`, whose size is a
// multiple of 64.
void chacha20_keystream(SeedView key, std::uint64_t counter, std::span<std::uint8_t> out);

}  // namespace mirelon::crypto
