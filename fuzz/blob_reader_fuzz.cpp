// Feeds arbitrary bytes to both blob readers. Beyond the sanitizers' checks it
// traps when:
// - an accepted record's views leave the input, or its mode is not UTF-8;
// - writing the accepted record again does not give the input's bytes from
//   the first field to the end of the identity field;
// - a failure's text is not one of the four forms;
// - the UTF-8 validator disagrees with a reference that decides maximal
//   subparts from code-point ranges rather than from the byte table;
// - a blob written from fields the input gives does not read back as those
//   fields, or fails other than on a mode that is not UTF-8.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mirelon/utils/blob.hpp"
#include "utils/utf8.hpp"

namespace {

using mirelon::BlobField;
using mirelon::ByteView;

void require(bool ok) {
  if (!ok) __builtin_trap();
}

bool inside(ByteView part, ByteView whole) {
  if (part.empty()) return true;
  const auto* b = whole.data();
  return part.data() >= b && part.data() + part.size() <= b + whole.size();
}

ByteView bytes_of(std::string_view text) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void check_rewrite(ByteView input, std::initializer_list<BlobField> fields) {
  const mirelon::Bytes again = mirelon::write_blob(fields);
  require(again.size() <= input.size());
  require(std::memcmp(again.data() + 8, input.data() + 8, again.size() - 8) == 0);
  // Without trailing bytes the whole blob comes back, header included.
  if (again.size() == input.size()) require(std::memcmp(again.data(), input.data(), 8) == 0);
}

void check_failure(const mirelon::FramingError& error) {
  const std::string text = mirelon::message(error);
  const bool known = text.starts_with("declared payload length ") ||
                     text.starts_with("packet truncated while reading ") ||
                     text.starts_with("expected 8-byte identity field, found ") ||
                     text.starts_with("utf-8 decoding failed: ");
  require(known);
}

// The maximal subpart by code points: a prefix of k bytes of an n-byte form
// can be completed iff the code points its free bits still allow meet the
// scalar values that need exactly n bytes.
bool completable(const std::uint8_t* p, std::size_t k, std::size_t n) {
  static constexpr std::uint8_t kLeadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
  std::uint32_t bits = p[0] & kLeadBits[n];
  for (std::size_t j = 1; j < k; ++j) {
    if ((p[j] & 0xC0) != 0x80) return false;
    bits = bits << 6 | (p[j] & 0x3F);
  }
  const unsigned free_bits = 6 * static_cast<unsigned>(n - k);
  const std::uint32_t lo = bits << free_bits;
  const std::uint32_t hi = lo | ((1u << free_bits) - 1);
  static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  static constexpr std::uint32_t kMax[] = {0, 0x7F, 0x7FF, 0xFFFF, 0x10FFFF};
  if (hi < kMin[n] || lo > kMax[n]) return false;
  const bool all_surrogates = lo >= 0xD800 && hi <= 0xDFFF;
  return !all_surrogates;
}

std::optional<mirelon::utf8::Utf8Error> reference_utf8(ByteView b) {
  std::size_t i = 0;
  while (i < b.size()) {
    const std::uint8_t lead = b[i];
    const std::size_t n = lead < 0x80 ? 1 : lead >> 5 == 6 ? 2 : lead >> 4 == 14 ? 3
                                                          : lead >> 3 == 30 ? 4 : 0;
    if (n == 0 || !completable(&b[i], 1, n)) return mirelon::utf8::Utf8Error{i, 1};
    std::size_t k = 1;
    while (k < n && i + k < b.size() && completable(&b[i], k + 1, n)) ++k;
    if (k == n) {
      i += n;
    } else if (i + k == b.size()) {
      return mirelon::utf8::Utf8Error{i, std::nullopt};
    } else {
      return mirelon::utf8::Utf8Error{i, k};
    }
  }
  return std::nullopt;
}

void check_utf8(ByteView bytes) {
  const auto got = mirelon::utf8::validate(bytes);
  const auto want = reference_utf8(bytes);
  require(got.has_value() == want.has_value());
  if (got) {
    require(got->valid_up_to == want->valid_up_to);
    require(got->error_len == want->error_len);
    require(!mirelon::utf8::validate(bytes.first(got->valid_up_to)));
  }
}

bool same(ByteView a, ByteView b) { return std::equal(a.begin(), a.end(), b.begin(), b.end()); }

void check_read_back(ByteView input) {
  FuzzedDataProvider in(input.data(), input.size());
  using Field = std::vector<std::uint8_t>;
  const Field pub = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 300));
  const Field priv = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 300));
  const Field mode = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 40));
  const std::uint64_t identity = in.ConsumeIntegral<std::uint64_t>();
  const Field packet = in.ConsumeRemainingBytes<std::uint8_t>();
  const bool utf8 = !mirelon::utf8::validate(mode);
  auto check_mode = [&](const auto& got) {
    require(got.has_value() == utf8);
    if (!got) return false;
    require(same(bytes_of(got->mode), mode) && got->identity == identity);
    require(same(got->packet, packet));
    require(same(got->public_key, pub));
    return true;
  };
  const mirelon::Bytes setup = mirelon::write_blob(
      std::array<BlobField, 4>{ByteView(pub), ByteView(packet), ByteView(mode), identity});
  const auto s = mirelon::unpack_setup_packet(setup);
  if (!check_mode(s)) require(std::holds_alternative<mirelon::InvalidUtf8>(s.error()));
  const mirelon::Bytes encrypted = mirelon::write_blob(std::array<BlobField, 5>{
      ByteView(pub), ByteView(priv), ByteView(packet), ByteView(mode), identity});
  const auto e = mirelon::unpack_encrypted_packet(encrypted);
  if (check_mode(e))
    require(same(e->private_key, priv));
  else
    require(std::holds_alternative<mirelon::InvalidUtf8>(e.error()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView input(data, size);

  if (auto s = mirelon::unpack_setup_packet(input)) {
    require(inside(s->public_key, input) && inside(s->packet, input) &&
            inside(bytes_of(s->mode), input));
    require(!mirelon::utf8::validate(bytes_of(s->mode)));
    check_rewrite(input, {s->public_key, s->packet, bytes_of(s->mode), s->identity});
  } else {
    check_failure(s.error());
  }

  if (auto e = mirelon::unpack_encrypted_packet(input)) {
    require(inside(e->public_key, input) && inside(e->private_key, input) &&
            inside(e->packet, input) && inside(bytes_of(e->mode), input));
    require(!mirelon::utf8::validate(bytes_of(e->mode)));
    check_rewrite(input,
                  {e->public_key, e->private_key, e->packet, bytes_of(e->mode), e->identity});
  } else {
    check_failure(e.error());
  }

  check_utf8(input);
  check_read_back(input);
  return 0;
}
