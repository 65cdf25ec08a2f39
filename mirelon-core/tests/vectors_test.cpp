#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "mirelon/mirelon.hpp"

// Every case of the shared known-answer file (vectors/test_vectors.json,
// written from the Python tests' models) through the public API.
namespace mirelon {
namespace {

using nlohmann::json;

const json& cases(const char* section) {
  static const json all = json::parse(std::ifstream(MIRELON_TEST_VECTORS "/test_vectors.json"));
  return all.at(section);
}

Bytes hex(const json& text) {
  const std::string s = text.get<std::string>();
  Bytes out(s.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::uint8_t>(std::stoul(s.substr(2 * i, 2), nullptr, 16));
  return out;
}

std::vector<Bytes> hex_list(const json& list) {
  std::vector<Bytes> out;
  for (const json& item : list) out.push_back(hex(item));
  return out;
}

std::vector<ByteView> views(const std::vector<Bytes>& list) { return {list.begin(), list.end()}; }

float f32(const json& bits) {
  return std::bit_cast<float>(
      static_cast<std::uint32_t>(std::stoul(bits.get<std::string>(), nullptr, 16)));
}

// Results as the file spells them.
json spelled(ByteView bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) out += {kDigits[b >> 4], kDigits[b & 15]};
  return out;
}
json spelled(std::uint64_t value) { return value; }
json spelled(const PreparedBounds& b) { return {b.low, b.high}; }
json spelled(const SetupPacket& p) {
  return {{"public_key", spelled(p.public_key)},
          {"packet", spelled(p.packet)},
          {"mode", p.mode},
          {"identity", p.identity}};
}
json spelled(const EncryptedPacket& p) {
  return {{"public_key", spelled(p.public_key)},
          {"private_key", spelled(p.private_key)},
          {"packet", spelled(p.packet)},
          {"mode", p.mode},
          {"identity", p.identity}};
}

// How a call ends, as a case states it: {"expected": result}, {"error": the
// returned error's text} or {"failure": the internal failure's text}.
template <class Call>
json outcome(Call&& call) {
  try {
    const auto got = call();
    if constexpr (requires { got.error(); }) {
      if (!got) return {{"error", message(got.error())}};
      return {{"expected", spelled(*got)}};
    } else {
      return {{"expected", spelled(got)}};
    }
  } catch (const InternalFailure& e) {
    return {{"failure", e.what()}};
  }
}

// Checks that `call` ends as case `c` states.
template <class Call>
void check(const json& c, Call&& call) {
  json stated = json::object();
  for (const char* key : {"expected", "error", "failure"})
    if (c.contains(key)) stated[key] = c[key];
  EXPECT_EQ(outcome(call), stated) << c;
}

TEST(Vectors, ChunkGeometryAndRangeConditions) {
  for (const json& c : cases("get_chunk_size_min")) {
    const Bytes packet = hex(c["packet"]);
    check(c, [&] { return get_chunk_size_min(packet, c["min_size"]); });
    if (c["min_size"] == 4) check(c, [&] { return get_chunk_size(packet); });
  }
  for (const json& c : cases("prep_condition"))
    check(c, [&] {
      return prep_condition(f32(c["low_bound"]), f32(c["high_bound"]), hex(c["salt"]));
    });
  for (const json& c : cases("cond_hash_branch"))
    check(c, [&] {
      return cond_hash_branch(c["low_bound"], c["high_bound"], f32(c["test_value"]),
                              hex(c["salt"]));
    });
}

TEST(Vectors, InvolutionsAndCycling) {
  for (const json& c : cases("involute_packet"))
    check(c, [&] { return involute_packet(hex(c["packet"]), hex(c["salt"]), c["chunk_size"]); });
  for (const json& c : cases("cond_involute_packet"))
    check(c, [&] {
      return cond_involute_packet(hex(c["packet"]), hex(c["salt"]), c["chunk_size"], c["low_bound"],
                                  c["high_bound"], f32(c["test_value"]));
    });
  for (const json& c : cases("cycle_packet"))
    check(c, [&] {
      return cycle_packet(hex(c["packet"]), hex(c["old_salt"]), hex(c["new_salt"]),
                          hex(c["old_key"]), hex(c["new_key"]), c["chunk_size"]);
    });
}

TEST(Vectors, KeysAndMapping) {
  for (const json& c : cases("derive_key")) {
    const Bytes master = hex(c["master_seed"]), entropy = hex(c["entropy"]),
                derived = hex(c["derived_seed"]);
    EXPECT_EQ(spelled(derive_key(hex(c["party_id"]), hex(c["purpose"]), SeedView(master.data(), 32),
                                 SeedView(entropy.data(), 32))),
              c["key"]);
    EXPECT_EQ(spelled(seeded_permutation(SeedView(derived.data(), 32))), c["key"]);
  }
  for (const json& c : cases("mapping")) {
    const Bytes pub = hex(c["pub_key"]);
    const std::vector<Bytes> privs = hex_list(c["priv_keys"]), data = hex_list(c["data_sequences"]),
                             mapped = hex_list(c["mapped"]);
    for (std::size_t j = 0; j < privs.size(); ++j)
      EXPECT_EQ(map_data(pub, privs[j], j, views(data)), mapped[j]) << privs.size() << " " << j;
    EXPECT_EQ(inv_data(pub, views(privs), views(mapped)), data) << privs.size();
  }
  for (const json& c : cases("map_data_failures")) {
    const std::vector<Bytes> data = hex_list(c["data_sequences"]);
    check(c, [&] {
      return map_data(hex(c["pub_key"]), hex(c["priv_key"]), c["identity"], views(data));
    });
  }
}

TEST(Vectors, Blobs) {
  for (const json& c : cases("package_blob")) {
    std::vector<Bytes> bytes;
    bytes.reserve(c["fields"].size());
    std::vector<BlobField> fields;
    for (const json& f : c["fields"]) {
      if (f.contains("integer")) {
        fields.emplace_back(f["integer"].get<std::uint64_t>());
      } else {
        fields.emplace_back(ByteView(bytes.emplace_back(hex(f["bytes"]))));
      }
    }
    EXPECT_EQ(spelled(write_blob(fields)), c["expected"]);
  }
  auto stated = [](const json& r) { return r.contains("error") ? r : json{{"expected", r}}; };
  for (const json& c : cases("unpack")) {
    const Bytes blob = hex(c["blob"]);
    check(stated(c["setup"]), [&] { return unpack_setup_packet(blob); });
    check(stated(c["encrypted"]), [&] { return unpack_encrypted_packet(blob); });
  }
}

}  // namespace
}  // namespace mirelon
