#include "mirelon/utils/blob.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "runtime/byte_order.hpp"
#include "runtime/memory.hpp"
#include "utils/utf8.hpp"

namespace mirelon {
namespace {

constexpr std::size_t kWordSize = 8;

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

std::size_t field_size(const BlobField& field) {
  return std::visit(Overloaded{[](ByteView bytes) { return bytes.size(); },
                               [](std::uint64_t) { return kWordSize; }},
                    field);
}

// A forward cursor over a blob. Every length read from the blob is compared
// with the bytes that remain before the cursor moves, so a declared length
// near 2^64 is never added to a position.
class Cursor {
 public:
  explicit Cursor(ByteView data) : data_(data) {}

  std::size_t remaining() const { return data_.size() - pos_; }

  // Reads one length-prefixed field. `length_name` is reported when the
  // 8-byte length is missing, `value_name` when its bytes are.
  tl::expected<ByteView, FramingError> field(std::string_view length_name,
                                             std::string_view value_name) {
    if (remaining() < kWordSize) return tl::unexpected(FramingError(Truncated{length_name}));
    const std::uint64_t n = runtime::load_u64_le(data_.data() + pos_);
    pos_ += kWordSize;
    if (n > static_cast<std::uint64_t>(remaining())) {
      return tl::unexpected(FramingError(Truncated{value_name}));
    }
    const ByteView value = data_.subspan(pos_, static_cast<std::size_t>(n));
    pos_ += value.size();
    return value;
  }
  tl::expected<ByteView, FramingError> field(std::string_view name) { return field(name, name); }

 private:
  ByteView data_;
  std::size_t pos_ = kWordSize;
};

// The header must count exactly the bytes that follow it; a header that
// claims fewer is as wrong as one that claims more.
tl::expected<Cursor, FramingError> open(ByteView data) {
  if (data.size() < kWordSize) return tl::unexpected(FramingError(Truncated{"total length"}));
  const std::uint64_t declared = runtime::load_u64_le(data.data());
  const std::uint64_t available = data.size() - kWordSize;
  if (declared != available) {
    return tl::unexpected(FramingError(LengthMismatch{declared, available}));
  }
  return Cursor(data);
}

// Reads the identity field and the trailing checks common to both packet
// kinds: the identity's length, then the mode's UTF-8, in that order. Bytes
// after the identity are left unread.
tl::expected<std::uint64_t, FramingError> finish(Cursor& cursor, ByteView mode) {
  auto identity = cursor.field("identity length", "identity value");
  if (!identity) return tl::unexpected(std::move(identity.error()));
  if (identity->size() != kWordSize) {
    return tl::unexpected(FramingError(IdentityLength{identity->size()}));
  }
  if (auto bad = utf8::validate(mode)) {
    return tl::unexpected(FramingError(InvalidUtf8{bad->valid_up_to, bad->error_len}));
  }
  return runtime::load_u64_le(identity->data());
}

std::string_view as_text(ByteView bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

std::size_t blob_size(std::span<const BlobField> fields) {
  // The same view may be listed many times, so the sum is checked rather
  // than trusted to fit.
  std::size_t total = kWordSize;
  for (const BlobField& field : fields) {
    const std::size_t size = field_size(field);
    if (size > SIZE_MAX - kWordSize - total) throw std::bad_alloc();
    total += kWordSize + size;
  }
  return total;
}

void write_blob_into(std::span<const BlobField> fields, std::span<std::uint8_t> out) {
  const std::size_t total = blob_size(fields);
  runtime::ready_output(out, total);
  std::uint8_t* p = out.data() + kWordSize;
  for (const BlobField& field : fields) {
    std::visit(Overloaded{[&](ByteView bytes) {
                            runtime::store_u64_le(p, bytes.size());
                            p += kWordSize;
                            if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
                            p += bytes.size();
                          },
                          [&](std::uint64_t value) {
                            runtime::store_u64_le(p, kWordSize);
                            runtime::store_u64_le(p + kWordSize, value);
                            p += 2 * kWordSize;
                          }},
               field);
  }
  runtime::store_u64_le(out.data(), total - kWordSize);
}

Bytes write_blob(std::span<const BlobField> fields) {
  Bytes out = runtime::advised_bytes(blob_size(fields));
  write_blob_into(fields, out);
  return out;
}

std::string message(const FramingError& error) {
  return std::visit(
      Overloaded{
          [](const LengthMismatch& e) {
            return "declared payload length " + std::to_string(e.declared) +
                   " exceeds available bytes " + std::to_string(e.available);
          },
          [](const Truncated& e) { return "packet truncated while reading " + std::string(e.field); },
          [](const IdentityLength& e) {
            return "expected 8-byte identity field, found " + std::to_string(e.found) + " bytes";
          },
          [](const InvalidUtf8& e) {
            return "utf-8 decoding failed: " + utf8::message({e.valid_up_to, e.error_len});
          },
      },
      error);
}

namespace {

// Reads the named byte fields in order, then the mode and the identity, with
// the checks and their order common to both packet kinds.
template <std::size_t N>
tl::expected<std::uint64_t, FramingError> read_packet(
    ByteView data, const std::array<std::string_view, N>& names, std::array<ByteView, N>& fields,
    ByteView& mode) {
  auto cursor = open(data);
  if (!cursor) return tl::unexpected(std::move(cursor.error()));
  for (std::size_t i = 0; i < N; ++i) {
    auto field = cursor->field(names[i]);
    if (!field) return tl::unexpected(std::move(field.error()));
    fields[i] = *field;
  }
  auto mode_field = cursor->field("mode");
  if (!mode_field) return tl::unexpected(std::move(mode_field.error()));
  mode = *mode_field;
  return finish(*cursor, mode);
}

}  // namespace

tl::expected<SetupPacket, FramingError> unpack_setup_packet(ByteView data) {
  std::array<ByteView, 2> f;
  ByteView mode;
  auto identity = read_packet(data, std::array<std::string_view, 2>{"public key", "packet"}, f, mode);
  if (!identity) return tl::unexpected(std::move(identity.error()));
  return SetupPacket{f[0], f[1], as_text(mode), *identity};
}

tl::expected<EncryptedPacket, FramingError> unpack_encrypted_packet(ByteView data) {
  std::array<ByteView, 3> f;
  ByteView mode;
  auto identity = read_packet(
      data, std::array<std::string_view, 3>{"public key", "private key", "packet"}, f, mode);
  if (!identity) return tl::unexpected(std::move(identity.error()));
  return EncryptedPacket{f[0], f[1], f[2], as_text(mode), *identity};
}

}  // namespace mirelon
