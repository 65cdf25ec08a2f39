#include "mirelon/utils/keys.hpp"

#include <openssl/crypto.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "crypto/openssl.hpp"
#include "mirelon/failure.hpp"
#include "utils/permutation.hpp"

namespace mirelon {
namespace {

constexpr std::string_view kLabelPrefix = "mirelon:";
// Labels up to this size with their trailing counter byte (party_id and
// purpose of 214 bytes together) are built on the stack; longer ones go to
// the heap.
constexpr std::size_t kInlineLabel = 256;

// Overwrites a secret buffer when it goes out of scope, on every path.
class Wipe {
 public:
  explicit Wipe(std::span<std::uint8_t> bytes) : bytes_(bytes) {}
  ~Wipe() { OPENSSL_cleanse(bytes_.data(), bytes_.size()); }
  Wipe(const Wipe&) = delete;
  Wipe& operator=(const Wipe&) = delete;

 private:
  std::span<std::uint8_t> bytes_;
};

bool os_entropy(EntropyBlock out) { return getentropy(out.data(), out.size()) == 0; }

}  // namespace

Key derive_key(ByteView party_id, ByteView purpose, SeedView master_seed,
               std::span<const std::uint8_t, kSeedSize> entropy) {
  // The label, followed by the expand block's counter byte.
  const std::size_t size =
      kLabelPrefix.size() + party_id.size() + 1 + purpose.size() + entropy.size() + 1;
  std::array<std::uint8_t, kInlineLabel> inline_label;
  Bytes heap_label;
  std::uint8_t* label = inline_label.data();
  if (size > inline_label.size()) {
    heap_label.resize(size);
    label = heap_label.data();
  }
  // The label carries the entropy block, which with the master seed would
  // reproduce the key; clear it too.
  Wipe wipe_label({label, size});

  std::uint8_t* at = std::copy(kLabelPrefix.begin(), kLabelPrefix.end(), label);
  at = std::copy(party_id.begin(), party_id.end(), at);
  *at++ = ':';
  at = std::copy(purpose.begin(), purpose.end(), at);
  at = std::copy(entropy.begin(), entropy.end(), at);
  *at = 0x01;

  // HKDF-SHA256 with no salt and 32 output bytes is two HMACs: the extract
  // PRK = HMAC(32 zero bytes, master_seed), then the single expand block
  // T(1) = HMAC(PRK, label || 0x01). Doing it on the prepared HMAC states
  // avoids a KDF context per key, which costs more than the rest together.
  static const crypto::HmacSha256 extract(std::array<std::uint8_t, kSeedSize>{});
  crypto::Digest prk = extract.mac(master_seed);
  Wipe wipe_prk(prk);
  crypto::Digest derived = crypto::HmacSha256(prk).mac(ByteView(label, size));
  Wipe wipe_derived(derived);
  return seeded_permutation(derived);
}

Key gen_key(ByteView party_id, ByteView purpose, SeedView master_seed, EntropySource source) {
  std::array<std::uint8_t, kSeedSize> entropy;
  Wipe wipe_entropy(entropy);
  if (!source(entropy)) throw InternalFailure("OS RNG unavailable: OsRng");
  return derive_key(party_id, purpose, master_seed, entropy);
}

Key gen_key(ByteView party_id, ByteView purpose, SeedView master_seed) {
  return gen_key(party_id, purpose, master_seed, os_entropy);
}

}  // namespace mirelon
