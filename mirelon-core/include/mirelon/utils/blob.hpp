#pragma once
// The blob format: an 8-byte little-endian total length (bytes after the
// header), then fields, each an 8-byte little-endian length and its bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include <tl/expected.hpp>

#include "mirelon/bytes.hpp"

namespace mirelon {

// A field handed to the writer: bytes (borrowed for the call) or an integer,
// written as an 8-byte little-endian field.
using BlobField = std::variant<ByteView, std::uint64_t>;

Bytes write_blob(std::span<const BlobField> fields);

// The size of the blob write_blob makes of `fields`; std::bad_alloc when it
// would not fit in memory's address range.
std::size_t blob_size(std::span<const BlobField> fields);

// write_blob into `out`, which must hold exactly blob_size(fields) bytes and
// must not overlap any field.
void write_blob_into(std::span<const BlobField> fields, std::span<std::uint8_t> out);

// Reader records. Their views point into the blob that was read and are valid
// as long as it is.
struct SetupPacket {
  ByteView public_key;
  ByteView packet;
  std::string_view mode;  // valid UTF-8
  std::uint64_t identity;
};
struct EncryptedPacket {
  ByteView public_key;
  ByteView private_key;
  ByteView packet;
  std::string_view mode;  // valid UTF-8
  std::uint64_t identity;
};

struct LengthMismatch {
  std::uint64_t declared;
  std::uint64_t available;
};
struct Truncated {
  std::string_view field;  // "total length", "public key", ..., "identity value"
};
struct IdentityLength {
  std::uint64_t found;
};
// Where the mode stops being UTF-8: the bytes before the bad sequence, and
// the length of its maximal subpart (none when the mode ends inside a
// sequence). Numbers rather than the text, so that the error values stay
// trivially copyable.
struct InvalidUtf8 {
  std::size_t valid_up_to;
  std::optional<std::size_t> error_len;
};
using FramingError = std::variant<LengthMismatch, Truncated, IdentityLength, InvalidUtf8>;

// The display text of a framing failure.
std::string message(const FramingError& error);

tl::expected<SetupPacket, FramingError> unpack_setup_packet(ByteView data);
tl::expected<EncryptedPacket, FramingError> unpack_encrypted_packet(ByteView data);

}  // namespace mirelon
