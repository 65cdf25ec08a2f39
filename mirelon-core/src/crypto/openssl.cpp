#include "crypto/openssl.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <memory>
#include <string>

#include "mirelon/failure.hpp"
#include "runtime/byte_order.hpp"

namespace mirelon::crypto {
namespace {

constexpr std::size_t kBlockSize = 64;

// Every algorithm is fetched from a library context of the core's own that
// holds OpenSSL's default provider and reads no configuration file: a host's
// openssl.cnf or OPENSSL_CONF (FIPS-only properties, a provider list without
// the default one, a broken file) is set for other programs and must neither
// change nor break key derivation. The process's default context, which
// other OpenSSL users in the process share, is never touched. The context
// and what was fetched from it live as long as the process.
struct Algorithms {
  const EVP_CIPHER* chacha20 = nullptr;
  const char* missing = nullptr;  // what could not be had, for the error text
};

const Algorithms& algorithms() {
  static const Algorithms fetched = [] {
    Algorithms a;
    OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
    if (context == nullptr) {
      a.missing = "OpenSSL could not make a library context";
    } else if (OSSL_PROVIDER_load(context, "default") == nullptr) {
      a.missing = "OpenSSL's default provider could not be loaded";
    } else if ((a.chacha20 = EVP_CIPHER_fetch(context, "ChaCha20", nullptr)) == nullptr) {
      a.missing = "OpenSSL's default provider has no ChaCha20";
    }
    return a;
  }();
  return fetched;
}

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

}  // namespace

Sha256::Sha256() { SHA256_Init(&ctx_); }

Sha256& Sha256::update(const std::uint8_t* data, std::size_t size) {
  SHA256_Update(&ctx_, data, size);
  return *this;
}

Digest Sha256::finish() {
  Digest out;
  SHA256_Final(out.data(), &ctx_);
  return out;
}

HmacSha256::HmacSha256(ByteView key) {
  std::array<std::uint8_t, kBlockSize> block{};
  if (key.size() > kBlockSize) {
    Digest d = sha256(key);
    std::copy(d.begin(), d.end(), block.begin());
  } else {
    std::copy(key.begin(), key.end(), block.begin());
  }
  std::array<std::uint8_t, kBlockSize> pad;
  for (std::size_t i = 0; i < kBlockSize; ++i) pad[i] = block[i] ^ 0x36;
  SHA256_Init(&inner_);
  SHA256_Update(&inner_, pad.data(), pad.size());
  for (std::size_t i = 0; i < kBlockSize; ++i) pad[i] = block[i] ^ 0x5c;
  SHA256_Init(&outer_);
  SHA256_Update(&outer_, pad.data(), pad.size());
  OPENSSL_cleanse(block.data(), block.size());
  OPENSSL_cleanse(pad.data(), pad.size());
}

HmacSha256::~HmacSha256() {
  OPENSSL_cleanse(&inner_, sizeof inner_);
  OPENSSL_cleanse(&outer_, sizeof outer_);
}

Digest HmacSha256::mac(ByteView message) const {
  SHA256_CTX ctx = inner_;
  Digest inner_digest;
  SHA256_Update(&ctx, message.data(), message.size());
  SHA256_Final(inner_digest.data(), &ctx);
  ctx = outer_;
  Digest out;
  SHA256_Update(&ctx, inner_digest.data(), inner_digest.size());
  SHA256_Final(out.data(), &ctx);
  return out;
}

void chacha20_keystream(SeedView key, std::uint64_t counter, std::span<std::uint8_t> out) {
  // OpenSSL's 16-byte IV is state words 12..15, read as a 32-bit block counter
  // and a 96-bit nonce. Writing the 64-bit counter little-endian over words 12
  // and 13 with a zero stream number gives the 64-bit-counter layout; the two
  // agree for the first 2^32 blocks, far more than any caller needs.
  const Algorithms& algs = algorithms();
  if (algs.chacha20 == nullptr)
    throw InternalFailure(std::string("ChaCha20 keystream unavailable: ") + algs.missing);
  std::array<std::uint8_t, 16> iv{};
  runtime::store_u64_le(iv.data(), counter);
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  int written = 0;
  if (!ctx || !EVP_EncryptInit_ex(ctx.get(), algs.chacha20, nullptr, key.data(), iv.data()) ||
      !EVP_EncryptUpdate(ctx.get(), out.data(), &written, out.data(), static_cast<int>(out.size())))
    throw InternalFailure("ChaCha20 keystream unavailable: OpenSSL's cipher failed");
}

}  // namespace mirelon::crypto
