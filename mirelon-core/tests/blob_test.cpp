#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "mirelon/utils/blob.hpp"

namespace mirelon {
namespace {

Bytes from_hex(const std::string& hex) {
  Bytes out;
  std::string digits;
  for (char c : hex) {
    if (c != ' ' && c != '|') digits += c;
  }
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

ByteView view(const std::string& s) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

// A blob assembled by hand: the header comes from `header`, or counts the
// fields when it is empty; each field is a declared length and the bytes that
// follow it (which need not match).
Bytes raw_blob(const std::vector<std::pair<std::uint64_t, Bytes>>& fields,
               std::optional<std::uint64_t> header = std::nullopt) {
  Bytes out(8);
  for (const auto& [len, bytes] : fields) {
    out.resize(out.size() + 8);
    store_u64_le(out.data() + out.size() - 8, len);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  store_u64_le(out.data(), header.value_or(out.size() - 8));
  return out;
}

Bytes le(std::uint64_t v) {
  Bytes out(8);
  store_u64_le(out.data(), v);
  return out;
}

std::string setup_error(ByteView data) {
  auto r = unpack_setup_packet(data);
  return r ? "ok" : message(r.error());
}
std::string encrypted_error(ByteView data) {
  auto r = unpack_encrypted_packet(data);
  return r ? "ok" : message(r.error());
}

TEST(BlobWriter, NoFieldsIsEightZeroBytes) { EXPECT_EQ(write_blob({}), Bytes(8, 0)); }

TEST(BlobWriter, BytesThenInteger) {
  const std::string ab = "AB";
  const BlobField fields[] = {view(ab), std::uint64_t{7}};
  EXPECT_EQ(write_blob(fields),
            from_hex("1a00000000000000 | 0200000000000000 4142 | "
                     "0800000000000000 0700000000000000"));
}

TEST(BlobWriter, SetupPacketExampleAndItsReading) {
  const std::string xyz = "xyz", m = "m";
  const BlobField fields[] = {ByteView{}, view(xyz), view(m), std::uint64_t{5}};
  const Bytes blob = write_blob(fields);
  EXPECT_EQ(blob, from_hex("2c00000000000000 | 0000000000000000 | 0300000000000000 78797a | "
                           "0100000000000000 6d | 0800000000000000 0500000000000000"));
  auto r = unpack_setup_packet(blob);
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->public_key.empty());
  EXPECT_EQ(std::string(r->packet.begin(), r->packet.end()), "xyz");
  EXPECT_EQ(r->mode, "m");
  EXPECT_EQ(r->identity, 5u);
  // The record views the input rather than copying it.
  EXPECT_EQ(r->packet.data(), blob.data() + 24);
}

TEST(BlobReader, RoundTripsRandomFields) {
  std::mt19937_64 rng(7);
  auto random_bytes = [&](std::size_t max) {
    Bytes b(rng() % (max + 1));
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
  };
  for (int round = 0; round < 300; ++round) {
    const Bytes pub = random_bytes(300), priv = random_bytes(300), packet = random_bytes(2000);
    const std::string mode(rng() % 20, static_cast<char>('a' + rng() % 26));
    const std::uint64_t identity = round == 0 ? std::numeric_limits<std::uint64_t>::max() : rng();

    const BlobField setup_fields[] = {ByteView(pub), ByteView(packet), view(mode), identity};
    const Bytes setup = write_blob(setup_fields);
    auto s = unpack_setup_packet(setup);
    ASSERT_TRUE(s) << message(s.error());
    EXPECT_TRUE(std::ranges::equal(s->public_key, pub));
    EXPECT_TRUE(std::ranges::equal(s->packet, packet));
    EXPECT_EQ(s->mode, mode);
    EXPECT_EQ(s->identity, identity);

    const BlobField enc_fields[] = {ByteView(pub), ByteView(priv), ByteView(packet), view(mode),
                                    identity};
    const Bytes enc = write_blob(enc_fields);
    auto e = unpack_encrypted_packet(enc);
    ASSERT_TRUE(e) << message(e.error());
    EXPECT_TRUE(std::ranges::equal(e->public_key, pub));
    EXPECT_TRUE(std::ranges::equal(e->private_key, priv));
    EXPECT_TRUE(std::ranges::equal(e->packet, packet));
    EXPECT_EQ(e->mode, mode);
    EXPECT_EQ(e->identity, identity);
  }
}

struct BadBlob {
  const char* name;
  Bytes data;
  std::string setup;      // the setup reader's text
  std::string encrypted;  // the encrypted reader's text
};

void PrintTo(const BadBlob& b, std::ostream* os) { *os << b.name; }

class BlobReaderError : public ::testing::TestWithParam<BadBlob> {};

TEST_P(BlobReaderError, BothReadersReportTheFirstFailure) {
  EXPECT_EQ(setup_error(GetParam().data), GetParam().setup);
  EXPECT_EQ(encrypted_error(GetParam().data), GetParam().encrypted);
}

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
const std::string kTrunc = "packet truncated while reading ";

std::vector<BadBlob> bad_blobs() {
  const Bytes e;
  const Bytes id = le(5);
  std::vector<BadBlob> v{
      {"Empty", {}, kTrunc + "total length", kTrunc + "total length"},
      {"SevenBytes", Bytes(7), kTrunc + "total length", kTrunc + "total length"},
      {"NoFields", Bytes(8), kTrunc + "public key", kTrunc + "public key"},
      {"HeaderTooSmall", Bytes(16), "declared payload length 0 exceeds available bytes 8",
       "declared payload length 0 exceeds available bytes 8"},
      {"HeaderTooLarge", raw_blob({}, 100), "declared payload length 100 exceeds available bytes 0",
       "declared payload length 100 exceeds available bytes 0"},
      {"IdentityEmpty", raw_blob({{0, e}, {0, e}, {0, e}, {0, e}}),
       "expected 8-byte identity field, found 0 bytes", kTrunc + "identity length"},
      {"IdentityNine", raw_blob({{0, e}, {0, e}, {0, e}, {9, Bytes(9)}}),
       "expected 8-byte identity field, found 9 bytes", kTrunc + "identity length"},
      {"IdentityNineOnlyEight", raw_blob({{0, e}, {0, e}, {0, e}, {9, Bytes(8)}}),
       kTrunc + "identity value", kTrunc + "mode"},
      {"IdentityLengthPartial", raw_blob({{0, e}, {0, e}, {0, e}}), kTrunc + "identity length",
       kTrunc + "mode"},
      // A bad mode and a bad identity length: the identity is reported.
      {"BadModeAndIdentity", raw_blob({{0, e}, {0, e}, {1, {0xFF}}, {4, Bytes(4)}}),
       "expected 8-byte identity field, found 4 bytes", kTrunc + "identity length"},
      {"ModeFF", raw_blob({{0, e}, {0, e}, {1, {0xFF}}, {8, id}}),
       "utf-8 decoding failed: invalid utf-8 sequence of 1 bytes from index 0",
       kTrunc + "identity length"},
      {"ModeE2", raw_blob({{0, e}, {0, e}, {1, {0xE2}}, {8, id}}),
       "utf-8 decoding failed: incomplete utf-8 byte sequence from index 0",
       kTrunc + "identity length"},
      {"ModeTruncatedAfterAscii", raw_blob({{0, e}, {0, e}, {3, {0x41, 0xE2, 0x82}}, {8, id}}),
       "utf-8 decoding failed: incomplete utf-8 byte sequence from index 1",
       kTrunc + "identity length"},
      {"EncryptedModeBroken",
       raw_blob({{0, e}, {0, e}, {0, e}, {3, {0x41, 0xE2, 0x41}}, {8, id}}),
       "expected 8-byte identity field, found 3 bytes",
       "utf-8 decoding failed: invalid utf-8 sequence of 1 bytes from index 1"},
      {"TrailingBytesIgnored", raw_blob({{0, e}, {0, e}, {0, e}, {8, id}, {0, e}}), "ok",
       "expected 8-byte identity field, found 0 bytes"},
  };
  // Lengths near 2^64 must be compared with what remains, never added to the
  // position.
  for (std::uint64_t huge : {kMax, kMax - 7, kMax - 15, std::uint64_t{1} << 63}) {
    v.push_back({"HugePublicKey", raw_blob({{huge, Bytes(8)}}), kTrunc + "public key",
                 kTrunc + "public key"});
    v.push_back({"HugePacket", raw_blob({{0, e}, {huge, Bytes(8)}}), kTrunc + "packet",
                 kTrunc + "private key"});
    v.push_back({"HugeMode", raw_blob({{0, e}, {0, e}, {huge, Bytes(8)}}), kTrunc + "mode",
                 kTrunc + "packet"});
    v.push_back({"HugeIdentity", raw_blob({{0, e}, {0, e}, {0, e}, {huge, Bytes(8)}}),
                 kTrunc + "identity value", kTrunc + "mode"});
    v.push_back({"HugeHeader", raw_blob({{0, e}}, huge),
                 "declared payload length " + std::to_string(huge) + " exceeds available bytes 8",
                 "declared payload length " + std::to_string(huge) + " exceeds available bytes 8"});
  }
  return v;
}

INSTANTIATE_TEST_SUITE_P(BlobCases, BlobReaderError, ::testing::ValuesIn(bad_blobs()),
                         [](const auto& info) {
                           return std::string(info.param.name) + std::to_string(info.index);
                         });

TEST(BlobReader, SetupPacketWithEmptyFieldsIsFortyEightBytes) {
  const BlobField fields[] = {ByteView{}, ByteView{}, ByteView{}, std::uint64_t{9}};
  const Bytes blob = write_blob(fields);
  ASSERT_EQ(blob.size(), 48u);
  auto r = unpack_setup_packet(blob);
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->public_key.empty() && r->packet.empty() && r->mode.empty());
  EXPECT_EQ(r->identity, 9u);
}

// Cuts a valid packet at every length, fixing the header so that the cut is
// seen by the field reads, and predicts from the field boundaries which read
// runs out.
void expect_truncations(const std::vector<Bytes>& fields, const std::vector<std::string>& names,
                        std::string (*read)(ByteView)) {
  std::vector<BlobField> list(fields.begin(), fields.end());
  const Bytes full = write_blob(list);
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    std::string expected;
    if (cut < 8) {
      expected = kTrunc + "total length";
      // Unfixed, the original header disagrees with every shorter length.
      EXPECT_EQ(read(prefix), expected);
    } else {
      EXPECT_EQ(read(prefix), "declared payload length " + std::to_string(full.size() - 8) +
                                  " exceeds available bytes " + std::to_string(cut - 8));
      store_u64_le(prefix.data(), cut - 8);
      std::size_t start = 8;
      for (std::size_t f = 0; f < fields.size(); ++f) {
        const bool identity = f + 1 == fields.size();
        if (cut < start + 8) {
          expected = kTrunc + (identity ? "identity length" : names[f]);
          break;
        }
        if (cut < start + 8 + fields[f].size()) {
          expected = kTrunc + (identity ? "identity value" : names[f]);
          break;
        }
        start += 8 + fields[f].size();
      }
    }
    EXPECT_EQ(read(prefix), expected) << "cut at " << cut;
  }
  EXPECT_EQ(read(full), "ok");
}

TEST(BlobReader, TruncationAtEveryOffsetOfASetupPacket) {
  expect_truncations({{1, 2, 3}, {4, 5, 6, 7, 8}, {'m', 'o'}, le(77)},
                     {"public key", "packet", "mode"}, setup_error);
}

TEST(BlobReader, TruncationAtEveryOffsetOfAnEncryptedPacket) {
  expect_truncations({{1, 2}, {3, 4, 5}, {6}, {'m', 'o', 'd'}, le(77)},
                     {"public key", "private key", "packet", "mode"}, encrypted_error);
}

TEST(BlobReader, SetupPacketGivenToTheEncryptedReader) {
  const std::string key = "key", packet = "packet", mode = "mode";
  const BlobField fields[] = {view(key), view(packet), view(mode), std::uint64_t{3}};
  EXPECT_EQ(encrypted_error(write_blob(fields)), kTrunc + "identity length");
}

// Every single-byte change to a length field of a valid packet is either
// harmless or reported; never a read past the input.
TEST(BlobReader, CorruptedLengthBytes) {
  const std::string key = "key", packet = "packet", mode = "mode";
  const BlobField fields[] = {view(key), view(packet), view(mode), std::uint64_t{3}};
  const Bytes blob = write_blob(fields);
  const std::size_t length_offsets[] = {0, 8, 19, 33, 45};
  for (std::size_t at : length_offsets) {
    for (std::size_t byte = 0; byte < 8; ++byte) {
      for (int value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
        Bytes bad = blob;
        bad[at + byte] = static_cast<std::uint8_t>(value);
        if (bad == blob) continue;
        const std::string text = setup_error(bad);
        if (at == 0) {
          EXPECT_EQ(text.rfind("declared payload length ", 0), 0u) << text;
        } else {
          EXPECT_NE(text, "ok") << at << " " << byte << " " << value;
        }
      }
    }
  }
}

}  // namespace
}  // namespace mirelon
