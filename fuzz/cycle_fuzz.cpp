// Feeds random packets, salts, chunk sizes and key pairs to key cycling. The
// keys are either two arbitrary byte strings or a string and a shuffle of it,
// often full 256-byte permutations. Beyond the sanitizers' checks it traps
// when:
// - keys that are not rearrangements of each other do not fail with the
//   assertion text, or rearranged keys do;
// - a ChunkMismatch is not the one the packet length and chunk size call for;
// - an output's length differs from the packet's, or chunk size 0 does not
//   give the plain substitution;
// - with permutation keys, cycling back (new salt and key to old) does not
//   restore the packet;
// - the outcome on one worker differs from the outcome on several.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mirelon/failure.hpp"
#include "mirelon/involute.hpp"
#include "one_worker.hpp"

namespace {

using mirelon::Bytes;

void require(bool ok) {
  if (!ok) __builtin_trap();
}

Bytes shuffled(Bytes key, FuzzedDataProvider& in) {
  for (std::size_t i = key.size(); i > 1; --i)
    std::swap(key[i - 1], key[in.ConsumeIntegralInRange<std::size_t>(0, i - 1)]);
  return key;
}

Bytes identity_key() {
  Bytes key(256);
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i);
  return key;
}

bool rearranged(Bytes a, Bytes b) {
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::ask_for_several_workers();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::uint64_t c = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint64_t>(0, 24)
                                           : in.ConsumeIntegral<std::uint64_t>();
  const Bytes old_salt = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 24));
  const Bytes new_salt = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 24));
  Bytes old_key, new_key;
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:  // two permutations of the byte values
      old_key = shuffled(identity_key(), in);
      new_key = shuffled(identity_key(), in);
      break;
    case 1:  // any string and a shuffle of it
      old_key = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 300));
      new_key = shuffled(old_key, in);
      break;
    default:  // two unrelated strings
      old_key = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 8));
      new_key = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 8));
      break;
  }
  const Bytes packet = in.ConsumeRemainingBytes<std::uint8_t>();
  const std::uint64_t n = packet.size();

  tl::expected<Bytes, mirelon::InvoluteError> out;
  try {
    out = mirelon::cycle_packet(packet, old_salt, new_salt, old_key, new_key, c);
  } catch (const mirelon::InternalFailure& failure) {
    require(!rearranged(old_key, new_key));
    require(std::string(failure.what())
                .starts_with("assertion `left == right` failed: Keys must be permutations from "
                             "the same set\n  left: ["));
    return 0;
  }
  require(rearranged(old_key, new_key));
  require(fuzz_support::same_outcome(out, fuzz_support::on_one_worker([&] {
    return mirelon::cycle_packet(packet, old_salt, new_salt, old_key, new_key, c);
  })));
  if (!out) {
    if (const auto* mismatch = std::get_if<mirelon::ChunkMismatch>(&out.error())) {
      require(c != 0 && n % c != 0 && mismatch->packet_len == n && mismatch->chunk_size == c);
    } else {
      require(c != 0 && n % c == 0);
    }
    return 0;
  }
  require(c == 0 || n % c == 0);
  require(out->size() == n);

  std::array<std::uint8_t, 256> table{};
  for (std::size_t p = 0; p < old_key.size(); ++p) table[old_key[p]] = new_key[p];
  if (c == 0) {
    for (std::size_t i = 0; i < n; ++i) require((*out)[i] == table[packet[i]]);
  }

  const bool permutations = old_key.size() == 256 && rearranged(old_key, identity_key());
  if (permutations) {
    const auto back = mirelon::cycle_packet(*out, new_salt, old_salt, new_key, old_key, c);
    require(back && *back == packet);
  }
  return 0;
}
