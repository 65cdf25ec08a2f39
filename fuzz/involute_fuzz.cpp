// Feeds random packets, salts, chunk sizes, bounds and test values to the
// involution. Beyond the sanitizers' checks it traps when:
// - a failure is not the one the packet calls for: ChunkMismatch exactly when
//   the chunk size is not 0 and does not divide the length (with both numbers
//   in it), DuplicateCrumbs only when two chunks are equal;
// - an output is not a rearrangement of the input's chunks (a copy for chunk
//   size 0), or applying the operation to it again does not give the input;
// - the conditional form fails other than by the one NaN outside the order
//   map's domain, or two test values on the same side of the range do not
//   undo each other;
// - either form's outcome on one worker differs from its outcome on several.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mirelon/failure.hpp"
#include "mirelon/involute.hpp"
#include "one_worker.hpp"

namespace {

using mirelon::Bytes;
using mirelon::ByteView;

void require(bool ok) {
  if (!ok) __builtin_trap();
}

std::vector<Bytes> chunks_of(ByteView p, std::uint64_t c) {
  std::vector<Bytes> out;
  for (std::size_t i = 0; i < p.size(); i += c) out.emplace_back(p.begin() + i, p.begin() + i + c);
  return out;
}

bool has_equal_chunks(ByteView p, std::uint64_t c) {
  auto chunks = chunks_of(p, c);
  std::sort(chunks.begin(), chunks.end());
  return std::adjacent_find(chunks.begin(), chunks.end()) != chunks.end();
}

bool same_chunks(ByteView a, ByteView b, std::uint64_t c) {
  auto x = chunks_of(a, c), y = chunks_of(b, c);
  std::sort(x.begin(), x.end());
  std::sort(y.begin(), y.end());
  return x == y;
}

// Checks one result of an involution-shaped operation on `packet`; returns
// whether it succeeded.
bool check_result(const tl::expected<Bytes, mirelon::InvoluteError>& out, ByteView packet,
                  std::uint64_t c) {
  const std::uint64_t n = packet.size();
  if (!out) {
    if (const auto* mismatch = std::get_if<mirelon::ChunkMismatch>(&out.error())) {
      require(c != 0 && n % c != 0);
      require(mismatch->packet_len == n && mismatch->chunk_size == c);
      require(mirelon::message(out.error()) == "Packet length (" + std::to_string(n) +
                                                   ") is not a multiple of chunk size (" +
                                                   std::to_string(c) + ").");
    } else {
      require(c != 0 && n % c == 0 && has_equal_chunks(packet, c));
    }
    return false;
  }
  require(c == 0 || n % c == 0);
  require(out->size() == n);
  if (c == 0 || n == 0) {
    require(std::equal(out->begin(), out->end(), packet.begin()));
  } else {
    require(!has_equal_chunks(packet, c));
    require(same_chunks(*out, packet, c));
  }
  return true;
}

// The float whose bits are the given word.
float from_bits(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

bool outside_domain(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits == 0x7FFFFFFFu;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::ask_for_several_workers();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // Mostly small chunk sizes, which divide often; now and then any value.
  const std::uint64_t c = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint64_t>(0, 40)
                                           : in.ConsumeIntegral<std::uint64_t>();
  const Bytes salt = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 40));
  const std::uint64_t low = in.ConsumeIntegral<std::uint64_t>();
  const std::uint64_t high = in.ConsumeIntegral<std::uint64_t>();
  const float test = from_bits(in.ConsumeIntegral<std::uint32_t>());
  const float other = from_bits(in.ConsumeIntegral<std::uint32_t>());
  const Bytes packet = in.ConsumeRemainingBytes<std::uint8_t>();

  const auto once = mirelon::involute_packet(packet, salt, c);
  require(fuzz_support::same_outcome(once, fuzz_support::on_one_worker([&] {
    return mirelon::involute_packet(packet, salt, c);
  })));
  if (check_result(once, packet, c)) {
    const auto twice = mirelon::involute_packet(*once, salt, c);
    require(twice && *twice == packet);
  }

  // The conditional form with the fuzzer's bounds: applying it with the same
  // test value undoes it; so does any other value with the same branch value.
  // The branch value, and with it the NaN check, comes only after the chunk
  // size check and the empty-packet shortcut.
  const bool branch_needed = c != 0 && packet.size() % c == 0 && !packet.empty();
  try {
    const auto out = mirelon::cond_involute_packet(packet, salt, c, low, high, test);
    require(!(outside_domain(test) && branch_needed));
    require(fuzz_support::same_outcome(out, fuzz_support::on_one_worker([&] {
      return mirelon::cond_involute_packet(packet, salt, c, low, high, test);
    })));
    if (check_result(out, packet, c)) {
      const auto back = mirelon::cond_involute_packet(*out, salt, c, low, high, test);
      require(back && *back == packet);
      if (!outside_domain(other) && !outside_domain(test) &&
          mirelon::cond_hash_branch(low, high, other, salt) ==
              mirelon::cond_hash_branch(low, high, test, salt)) {
        const auto by_other = mirelon::cond_involute_packet(*out, salt, c, low, high, other);
        require(by_other && *by_other == packet);
      }
    }
  } catch (const mirelon::InternalFailure& failure) {
    require(outside_domain(test) && branch_needed);
    require(std::string(failure.what()) == "called `Option::unwrap()` on a `None` value");
  }
  return 0;
}
