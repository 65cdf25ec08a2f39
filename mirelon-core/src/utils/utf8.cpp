#include "utils/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace mirelon::utf8 {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Index of the first byte at or after `i` that is not ASCII, or `n`. Text is
// mostly ASCII, so test eight bytes per step while there are eight left. The
// load only asks whether any high bit is set, so host byte order is
// irrelevant.
std::size_t skip_ascii(const std::uint8_t* p, std::size_t i, std::size_t n) {
  while (n - i >= 16) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, p + i, 8);
    std::memcpy(&b, p + i + 8, 8);
    if ((a | b) & kHighBits) break;
    i += 16;
  }
  while (n - i >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w & kHighBits) break;
    i += 8;
  }
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

// The allowed range of the second byte after a lead byte, and the sequence
// length; `length` 0 marks a byte that cannot begin a sequence.
struct Lead {
  std::uint8_t length;
  std::uint8_t second_lo;
  std::uint8_t second_hi;
};

constexpr Lead lead_of(std::uint8_t b) {
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

}  // namespace

std::optional<Utf8Error> validate(ByteView bytes) {
  const std::uint8_t* p = bytes.data();
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (true) {
    i = skip_ascii(p, i, n);
    if (i == n) return std::nullopt;
    const Lead lead = lead_of(p[i]);
    if (lead.length == 0) return Utf8Error{i, 1};
    // Every byte after the lead must be present and in range; the second one
    // has the lead's narrowed range, the rest 80..BF. The first byte out of
    // range ends the maximal subpart before it.
    for (std::size_t k = 1; k < lead.length; ++k) {
      if (n - i <= k) return Utf8Error{i, std::nullopt};
      const std::uint8_t b = p[i + k];
      const std::uint8_t lo = k == 1 ? lead.second_lo : 0x80;
      const std::uint8_t hi = k == 1 ? lead.second_hi : 0xBF;
      if (b < lo || b > hi) return Utf8Error{i, k};
    }
    i += lead.length;
  }
}

std::string message(const Utf8Error& error) {
  if (error.error_len) {
    return "invalid utf-8 sequence of " + std::to_string(*error.error_len) + " bytes from index " +
           std::to_string(error.valid_up_to);
  }
  return "incomplete utf-8 byte sequence from index " + std::to_string(error.valid_up_to);
}

}  // namespace mirelon::utf8
