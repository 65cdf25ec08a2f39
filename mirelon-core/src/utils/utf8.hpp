#pragma once
// UTF-8 validation by the table of well-formed byte sequences:
//
//   U+0000..U+007F     00..7F
//   U+0080..U+07FF     C2..DF  80..BF
//   U+0800..U+0FFF     E0      A0..BF  80..BF
//   U+1000..U+CFFF     E1..EC  80..BF  80..BF
//   U+D000..U+D7FF     ED      80..9F  80..BF
//   U+E000..U+FFFF     EE..EF  80..BF  80..BF
//   U+10000..U+3FFFF   F0      90..BF  80..BF  80..BF
//   U+40000..U+FFFFF   F1..F3  80..BF  80..BF  80..BF
//   U+100000..U+10FFFF F4      80..8F  80..BF  80..BF
//
// Everything else is ill-formed: C0, C1 and F5..FF never occur, overlong forms
// and surrogates (ED A0..BF) are excluded by the narrowed second-byte ranges,
// and F4 90.. would lie above U+10FFFF.

#include <cstddef>
#include <optional>
#include <string>

#include "mirelon/bytes.hpp"

namespace mirelon::utf8 {

// The first ill-formed spot of a byte string.
struct Utf8Error {
  // Bytes before the bad sequence that are well-formed UTF-8.
  std::size_t valid_up_to;
  // Length (1 to 3) of the maximal subpart at `valid_up_to`: the longest
  // prefix there that could still begin a well-formed sequence, or 1 when the
  // byte there cannot begin one. Empty when the input ends inside a sequence
  // that was well-formed so far.
  std::optional<std::size_t> error_len;
};

// Empty when `bytes` is well-formed UTF-8.
std::optional<Utf8Error> validate(ByteView bytes);

// "invalid utf-8 sequence of {k} bytes from index {i}" or
// "incomplete utf-8 byte sequence from index {i}".
std::string message(const Utf8Error& error);

}  // namespace mirelon::utf8
