#pragma once
// Cryptographic helpers that only tests and benchmarks use: HKDF-SHA256
// through OpenSSL's KDF interface, to check the core's two-HMAC derivation
// against the reference vectors, and a whole multi-message SHA-256 batch in
// one call.

#include <openssl/kdf.h>
#include <openssl/params.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "crypto/sha256_multi.hpp"
#include "mirelon/bytes.hpp"
#include "mirelon/failure.hpp"

namespace mirelon::crypto {

// HKDF-SHA256 with no salt; fills `out`. Throws InternalFailure
// ("HKDF expand failed: InvalidLength") if OpenSSL refuses.
inline void hkdf_sha256(ByteView input_key, ByteView info, std::span<std::uint8_t> out) {
  struct KdfFree {
    void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
    void operator()(EVP_KDF_CTX* ctx) const { EVP_KDF_CTX_free(ctx); }
  };
  std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
  std::unique_ptr<EVP_KDF_CTX, KdfFree> ctx(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
  char digest_name[] = "SHA256";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string("digest", digest_name, 0),
      OSSL_PARAM_construct_octet_string("key", const_cast<std::uint8_t*>(input_key.data()),
                                        input_key.size()),
      OSSL_PARAM_construct_octet_string("info", const_cast<std::uint8_t*>(info.data()),
                                        info.size()),
      OSSL_PARAM_construct_end(),
  };
  if (!ctx || EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1)
    throw InternalFailure("HKDF expand failed: InvalidLength");
}

// sha_finish from the initial state: out[i] = SHA-256(own[i][0, own_len) || shared).
inline void sha256_batch(const std::uint8_t* const* own, std::size_t own_len, ByteView shared,
                         std::size_t count, Digest* out) {
  std::vector<ShaState> states(count, kShaInitial);
  sha_finish(states.data(), own, own_len, 0, shared, count, out);
}

}  // namespace mirelon::crypto
