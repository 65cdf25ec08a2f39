#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "mirelon/bytes.hpp"
#include "mirelon/decrypt.hpp"
#include "mirelon/encrypt.hpp"
#include "mirelon/failure.hpp"

namespace mirelon {
namespace {

Bytes random_bytes(std::mt19937_64& rng, std::size_t len) {
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes out(len);
  for (auto& v : out) v = static_cast<std::uint8_t>(byte(rng));
  return out;
}

Bytes random_permutation(std::mt19937_64& rng) {
  Bytes key(256);
  std::iota(key.begin(), key.end(), 0);
  std::shuffle(key.begin(), key.end(), rng);
  return key;
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

TEST(InvData, InvertKeyLaterPositionsWinAndGapsStayZero) {
  Bytes key{5, 3, 5, 200};
  Bytes expected(256, 0);
  expected[3] = 1;
  expected[5] = 2;
  expected[200] = 3;
  EXPECT_EQ(invert_key(key, 256), expected);
  // Positions past 255 store their low 8 bits.
  Bytes long_key(300, 7);
  EXPECT_EQ(invert_key(long_key, 256)[7], 299 % 256);
}

TEST(InvColumn, WorkedColumnAndTwoPartyClosedForm) {
  std::mt19937_64 rng(11);
  const Bytes a = random_bytes(rng, 256);
  std::vector<Bytes> keys, tables;
  for (int j = 0; j < 3; ++j) {
    keys.push_back(random_permutation(rng));
    tables.push_back(invert_key(keys.back(), 256));
  }
  const Bytes column{10, 20, 30};
  Bytes mapped(3);
  for (int p = 0; p < 3; ++p) mapped[p] = map_column(a, keys[p], p, column);
  EXPECT_EQ(inv_column(mapped, a, tables), column);

  // n = 2: c[1] = w[1] - w[0], c[0] = w[0] + A[c[1]].
  const std::vector<Bytes> two(tables.begin(), tables.begin() + 2);
  const Bytes o{77, 201};
  const auto w0 = two[0][77], w1 = two[1][201];
  const auto c1 = static_cast<std::uint8_t>(w1 - w0);
  EXPECT_EQ(inv_column(o, a, two), (Bytes{static_cast<std::uint8_t>(w0 + a[c1]), c1}));
}

TEST(InvColumn, ArgumentChecks) {
  const std::vector<Bytes> tables(2, Bytes(256, 0));
  EXPECT_EQ(failure_text([&] { inv_column(Bytes{1, 2, 3}, Bytes(256, 0), tables); }),
            "assertion `left == right` failed: There should be there same number of data points "
            "as private keys\n  left: 3\n right: 2");
  EXPECT_EQ(failure_text([&] { inv_column(Bytes{1, 2}, Bytes(255, 0), tables); }),
            "assertion `left == right` failed: All private keys should be the same length as "
            "the public key\n  left: 255\n right: 256");
}

struct FailureCase {
  const char* name;
  std::vector<std::size_t> lengths;
  std::size_t key_count;
  std::size_t pub_len;
  const char* text;
};

class InvDataFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(InvDataFailure, ChecksInOrder) {
  const FailureCase& f = GetParam();
  std::vector<Bytes> seqs, keys(f.key_count, Bytes(255, 0));
  for (std::size_t len : f.lengths) seqs.emplace_back(len, 1);
  EXPECT_EQ(failure_text([&] { inv_data(Bytes(f.pub_len, 0), views(keys), views(seqs)); }),
            f.text);
}

INSTANTIATE_TEST_SUITE_P(
    InvData, InvDataFailure,
    ::testing::Values(
        FailureCase{"CountsBeforeLengths", {1, 2}, 3, 256,
                    "assertion `left == right` failed: There should be the same number of data "
                    "sequences as private keys\n  left: 2\n right: 3"},
        FailureCase{"NoSequences", {}, 0, 256,
                    "index out of bounds: the len is 0 but the index is 0"},
        FailureCase{"LengthsBeforePublicKey", {5, 5, 6}, 3, 3,
                    "all inner vectors must have equal length; data_sequences[0].len() = 5, "
                    "but data_sequences[2].len() = 6"},
        FailureCase{"ShortPublicKey", {5, 5}, 2, 255,
                    "assertion `left == right` failed: All private keys should be the same "
                    "length as the public key\n  left: 255\n right: 256"},
        FailureCase{"PublicKeyBeforeSingleParty", {1}, 1, 257,
                    "assertion `left == right` failed: All private keys should be the same "
                    "length as the public key\n  left: 257\n right: 256"},
        FailureCase{"SingleParty", {1}, 1, 256,
                    "index out of bounds: the len is 1 but the index is 1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InvData, NoPositionsChecksNoKeys) {
  for (std::size_t n : {1u, 2u, 5u}) {
    const std::vector<Bytes> seqs(n), keys(n, Bytes(3, 9));
    const std::vector<Bytes> out = inv_data(Bytes(7, 0), views(keys), views(seqs));
    EXPECT_EQ(out, std::vector<Bytes>(n));
  }
}

// Tables shorter than 256 entries (only through the C++ interface): lookups
// can fall outside them, and the first failing position is reported.
TEST(InvData, ShortTablesFailAtTheFirstOutOfRangeLookup) {
  Bytes identity16(16);
  std::iota(identity16.begin(), identity16.end(), 0);
  const std::vector<Bytes> keys(2, identity16);
  EXPECT_EQ(failure_text([&] { invert_key(Bytes{3, 16}, 16); }),
            "index out of bounds: the len is 16 but the index is 16");
  const std::vector<Bytes> mapped{{0, 0, 0}, {0, 20, 30}};
  EXPECT_EQ(failure_text([&] { inv_data(Bytes(16, 0), views(keys), views(mapped), 16); }),
            "index out of bounds: the len is 16 but the index is 20");
  // A lone party: its key lookup comes before the missing second entry.
  const std::vector<Bytes> one{{40}}, one_key{identity16};
  EXPECT_EQ(failure_text([&] { inv_data(Bytes(16, 0), views(one_key), views(one), 16); }),
            "index out of bounds: the len is 16 but the index is 40");
}

// (n, length): lengths straddle the block size.
class InvDataRoundTrip : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(InvDataRoundTrip, RestoresEveryParty) {
  const auto [n, len] = GetParam();
  std::mt19937_64 rng(n * 7919 + len);
  const Bytes a = random_bytes(rng, 256);  // need not be a permutation
  std::vector<Bytes> data, keys, mapped;
  for (std::size_t j = 0; j < n; ++j) {
    data.push_back(random_bytes(rng, len));
    keys.push_back(random_permutation(rng));
  }
  for (std::size_t j = 0; j < n; ++j) mapped.push_back(map_data(a, keys[j], j, views(data)));
  EXPECT_EQ(inv_data(a, views(keys), views(mapped)), data);
}

INSTANTIATE_TEST_SUITE_P(InvData, InvDataRoundTrip,
                         ::testing::Combine(::testing::Values(2, 3, 4, 7, 16),
                                            ::testing::Values(1, 4095, 4096, 10000)));

// Block restore against the column-by-column definition, with private keys
// that are not permutations (so the restored bytes are not the data).
TEST(InvData, MatchesInvColumnForAnyKeys) {
  std::mt19937_64 rng(12);
  for (std::size_t n : {2u, 3u, 6u, 16u}) {
    const Bytes a = random_bytes(rng, 256);
    std::vector<Bytes> keys, tables, mapped;
    for (std::size_t j = 0; j < n; ++j) {
      keys.push_back(random_bytes(rng, 1 + rng() % 400));
      tables.push_back(invert_key(keys.back(), 256));
      mapped.push_back(random_bytes(rng, 9001));
    }
    const std::vector<Bytes> out = inv_data(a, views(keys), views(mapped));
    ASSERT_EQ(out.size(), n);
    Bytes column(n);
    for (std::size_t i = 0; i < 9001; ++i) {
      for (std::size_t j = 0; j < n; ++j) column[j] = mapped[j][i];
      const Bytes c = inv_column(column, a, tables);
      for (std::size_t j = 0; j < n; ++j) ASSERT_EQ(out[j][i], c[j]) << n << " " << i << " " << j;
    }
  }
}

}  // namespace
}  // namespace mirelon
