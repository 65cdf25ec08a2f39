#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "mirelon/bytes.hpp"
#include "mirelon/encrypt.hpp"
#include "mirelon/failure.hpp"

namespace mirelon {
namespace {

// The mapping of one column exactly as defined: a full suffix-sum table, then
// the chain. Returns the byte, or the text of the first lookup that fails.
struct Model {
  std::uint8_t value = 0;
  std::optional<std::string> failure;
};

Model model_column(const Bytes& a, const Bytes& b, std::size_t p, const Bytes& c) {
  const std::size_t n = c.size();
  Model r;
  auto look = [&](const Bytes& t, std::uint8_t i) -> std::optional<std::uint8_t> {
    if (i >= t.size()) {
      r.failure = "index out of bounds: the len is " + std::to_string(t.size()) +
                  " but the index is " + std::to_string(i);
      return std::nullopt;
    }
    return t[i];
  };
  std::vector<std::uint8_t> s(n + 1, 0);
  std::uint8_t acc = 0;
  for (std::size_t k = n; k-- > 0;) s[k] = acc = static_cast<std::uint8_t>(acc + c[k]);
  auto as1 = look(a, s[1]);
  if (!as1) return r;
  const auto x = static_cast<std::uint8_t>(c[0] - *as1);
  std::optional<std::uint8_t> out;
  if (p == 0) {
    out = look(b, x);
  } else {
    const auto y = static_cast<std::uint8_t>(c[1] + x - s[2]);
    if (p == 1) {
      out = look(b, y);
    } else {
      std::uint8_t v = y, d = 0;
      for (std::size_t k = 2; k <= p; ++k) {
        auto av = look(a, v);
        if (!av) return r;
        d = static_cast<std::uint8_t>(x + c[k] - s[k + 1] - *av);
        v = static_cast<std::uint8_t>(v + d);
      }
      out = look(b, d);
    }
  }
  if (out) r.value = *out;
  return r;
}

Bytes random_bytes(std::mt19937_64& rng, std::size_t len, int top = 255) {
  std::uniform_int_distribution<int> byte(0, top);
  Bytes out(len);
  for (auto& v : out) v = static_cast<std::uint8_t>(byte(rng));
  return out;
}

std::vector<ByteView> views(const std::vector<Bytes>& seqs) {
  return std::vector<ByteView>(seqs.begin(), seqs.end());
}

std::string failure_text(auto&& call) {
  try {
    call();
  } catch (const InternalFailure& e) {
    return e.what();
  }
  return "(no failure)";
}

// Result of map_data computed column by column with the model.
Model model_data(const Bytes& a, const Bytes& b, std::size_t p, const std::vector<Bytes>& d,
                 Bytes& out) {
  out.assign(d[0].size(), 0);
  Bytes column(d.size());
  for (std::size_t i = 0; i < d[0].size(); ++i) {
    for (std::size_t j = 0; j < d.size(); ++j) column[j] = d[j][i];
    Model m = model_column(a, b, p, column);
    if (m.failure) return m;
    out[i] = m.value;
  }
  return {};
}

TEST(MapColumn, WorkedColumnForEveryParty) {
  std::mt19937_64 rng(1);
  const Bytes a = random_bytes(rng, 256), b = random_bytes(rng, 256);
  const Bytes c{10, 20, 30};
  const auto x = static_cast<std::uint8_t>(10 - a[50]);
  const auto y = static_cast<std::uint8_t>(20 + x - 30);
  const auto d = static_cast<std::uint8_t>(x + 30 - 0 - a[y]);
  EXPECT_EQ(map_column(a, b, 0, c), b[x]);
  EXPECT_EQ(map_column(a, b, 1, c), b[y]);
  EXPECT_EQ(map_column(a, b, 2, c), b[d]);
  EXPECT_EQ(failure_text([&] { map_column(a, b, 3, c); }),
            "assertion failed: identity < num_funcs");
}

TEST(MapColumn, TwoPartyClosedForms) {
  std::mt19937_64 rng(2);
  const Bytes a = random_bytes(rng, 256), b = random_bytes(rng, 256);
  for (int c0 = 0; c0 < 256; c0 += 7) {
    for (int c1 = 0; c1 < 256; c1 += 5) {
      const Bytes c{static_cast<std::uint8_t>(c0), static_cast<std::uint8_t>(c1)};
      const auto x = static_cast<std::uint8_t>(c0 - a[c1]);
      EXPECT_EQ(map_column(a, b, 0, c), b[x]);
      EXPECT_EQ(map_column(a, b, 1, c), b[static_cast<std::uint8_t>(c1 + x)]);
    }
  }
}

struct FailureCase {
  const char* name;
  std::vector<std::size_t> lengths;
  std::uint64_t identity;
  const char* text;
};

class MapDataFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(MapDataFailure, ChecksInOrder) {
  const FailureCase& f = GetParam();
  std::vector<Bytes> seqs;
  for (std::size_t len : f.lengths) seqs.emplace_back(len, 1);
  const Bytes key(256, 0);
  EXPECT_EQ(failure_text([&] { map_data(key, key, f.identity, views(seqs)); }), f.text);
}

INSTANTIATE_TEST_SUITE_P(
    MapData, MapDataFailure,
    ::testing::Values(
        FailureCase{"NoParties", {}, 0, "At least two parties must be present"},
        FailureCase{"OneParty", {3}, 7, "At least two parties must be present"},
        FailureCase{"IdentityBeforeLengths", {3, 2, 1}, 3,
                    "assertion failed: identity < num_funcs"},
        FailureCase{"FirstLengthMismatch", {4, 4, 3, 2}, 0,
                    "all inner vectors must have equal length; data_sequences[0].len() = 4, "
                    "but data_sequences[2].len() = 3"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MapData, EmptySequencesReadNoTable) {
  const std::vector<Bytes> seqs(3);
  EXPECT_TRUE(map_data({}, {}, 2, views(seqs)).empty());
}

// (n, p, length): lengths straddle the block size so partial blocks are hit.
class MapDataModel
    : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t, std::size_t>> {};

TEST_P(MapDataModel, MatchesPerPositionDefinition) {
  const auto [n, p, len] = GetParam();
  std::mt19937_64 rng(n * 1000 + p * 10 + len);
  const Bytes a = random_bytes(rng, 256), b = random_bytes(rng, 256);
  std::vector<Bytes> seqs;
  for (std::size_t j = 0; j < n; ++j) seqs.push_back(random_bytes(rng, len));
  Bytes expected;
  ASSERT_FALSE(model_data(a, b, p, seqs, expected).failure);
  EXPECT_EQ(map_data(a, b, p, views(seqs)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    MapData, MapDataModel,
    ::testing::Values(std::tuple{2, 0, 1}, std::tuple{2, 1, 9000}, std::tuple{3, 0, 4096},
                      std::tuple{3, 1, 100}, std::tuple{3, 2, 12289}, std::tuple{5, 2, 777},
                      std::tuple{5, 3, 5000}, std::tuple{5, 4, 4097}, std::tuple{16, 0, 3000},
                      std::tuple{16, 7, 9000}, std::tuple{16, 15, 20000}));

TEST(MapData, LongKeysUseOnlyTheirFirst256Entries) {
  std::mt19937_64 rng(3);
  const Bytes a = random_bytes(rng, 300), b = random_bytes(rng, 1000);
  std::vector<Bytes> seqs;
  for (int j = 0; j < 4; ++j) seqs.push_back(random_bytes(rng, 5000));
  Bytes expected;
  model_data(a, b, 3, seqs, expected);
  EXPECT_EQ(map_data(a, b, 3, views(seqs)), expected);
}

// Short keys: only lookups that actually reach past the end fail.
TEST(MapData, ShortKeysSucceedWhileEveryIndexIsInRange) {
  // All-zero data: S = 0 everywhere; with A[0] = 0 every index stays 0.
  const Bytes a{0}, b{42};
  for (std::size_t p = 0; p < 5; ++p) {
    const std::vector<Bytes> seqs(5, Bytes(10000, 0));
    EXPECT_EQ(map_data(a, b, p, views(seqs)), Bytes(10000, 42)) << "party " << p;
  }
}

TEST(MapData, ShortKeyReportsLowestFailingPosition) {
  std::mt19937_64 rng(4);
  for (std::size_t p = 0; p < 4; ++p) {
    // Small values keep most lookups within short tables; a few planted
    // positions push an index past the end at different places.
    const Bytes a = random_bytes(rng, 40, 3), b = random_bytes(rng, 60);
    std::vector<Bytes> seqs;
    for (int j = 0; j < 4; ++j) seqs.push_back(random_bytes(rng, 50000, 3));
    for (std::size_t pos : {45000u, 30001u, 9000u}) seqs[3][pos] = static_cast<std::uint8_t>(pos);
    Bytes expected;
    const Model m = model_data(a, b, p, seqs, expected);
    if (m.failure) {
      EXPECT_EQ(failure_text([&] { map_data(a, b, p, views(seqs)); }), *m.failure) << p;
    } else {
      EXPECT_EQ(map_data(a, b, p, views(seqs)), expected) << p;
    }
  }
}

TEST(MapData, LowestFailureWinsOverLaterOnes) {
  // Column sums past the 10-entry public key at positions 70000 (index 200)
  // and 5000 (index 100): the earlier position is reported every time.
  std::vector<Bytes> seqs(2, Bytes(80000, 0));
  seqs[1][70000] = 200;
  seqs[1][5000] = 100;
  const Bytes a(10, 0), b(256, 0);
  for (int run = 0; run < 20; ++run) {
    EXPECT_EQ(failure_text([&] { map_data(a, b, 1, views(seqs)); }),
              "index out of bounds: the len is 10 but the index is 100");
  }
}

TEST(MapData, PrivateKeyLookupFailsAfterPublicKeyLookups) {
  // Position 0: S[1] = 1 -> A[1] = 0, x = 5 -> B[5] is past a 3-entry key.
  const std::vector<Bytes> seqs{{5}, {1}};
  EXPECT_EQ(failure_text([&] { map_data(Bytes(256, 0), Bytes(3, 0), 0, views(seqs)); }),
            "index out of bounds: the len is 3 but the index is 5");
  // Same column with a 1-entry public key: the A lookup fails first.
  EXPECT_EQ(failure_text([&] { map_data(Bytes(1, 0), Bytes(3, 0), 0, views(seqs)); }),
            "index out of bounds: the len is 1 but the index is 1");
}

}  // namespace
}  // namespace mirelon
