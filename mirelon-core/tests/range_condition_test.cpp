#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "mirelon/failure.hpp"
#include "mirelon/range_condition.hpp"

namespace mirelon {
namespace {

ByteView view(const std::string& s) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

float from_bits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

void expect_unwrap_none(auto&& call) {
  try {
    call();
    FAIL() << "no failure";
  } catch (const InternalFailure& e) {
    EXPECT_STREQ(e.what(), "called `Option::unwrap()` on a `None` value");
  }
}

struct KeyCase {
  std::uint32_t bits;
  std::uint32_t key;
};

class RangeConditionOrderKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(RangeConditionOrderKey, MapsBitsToKey) {
  EXPECT_EQ(order_key(from_bits(GetParam().bits)), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    RangeCondition, RangeConditionOrderKey,
    ::testing::Values(KeyCase{0x00000000, 0x80000000},   // +0.0
                      KeyCase{0x80000000, 0x7FFFFFFF},   // -0.0
                      KeyCase{0x3F800000, 0xBF800000},   // 1.0
                      KeyCase{0xBF800000, 0x407FFFFF},   // -1.0
                      KeyCase{0x7F800000, 0xFF800000},   // +inf
                      KeyCase{0xFF800000, 0x007FFFFF},   // -inf
                      KeyCase{0x7FC00000, 0xFFC00000},   // quiet NaN, above +inf
                      KeyCase{0xFFFFFFFF, 0x00000000},   // lowest key
                      KeyCase{0x7FFFFFFF, 0xFFFFFFFF}));  // the one key outside the domain

// Known answers from an independent model of the walk.
struct MapCase {
  std::string salt;
  std::uint32_t key;
  std::uint64_t mapped;
};

std::string hundred_bytes() {
  std::string s(100, '\0');
  for (int i = 0; i < 100; ++i) s[i] = static_cast<char>(i);
  return s;
}

class RangeConditionMapValue : public ::testing::TestWithParam<MapCase> {};

TEST_P(RangeConditionMapValue, MatchesKnownAnswer) {
  const MapCase& c = GetParam();
  EXPECT_EQ(OrderPreservingMap(view(c.salt)).map_value(c.key), c.mapped);
}

INSTANTIATE_TEST_SUITE_P(
    RangeCondition, RangeConditionMapValue,
    ::testing::Values(MapCase{"", 0, 1984028692ULL}, MapCase{"", 1, 1984028693ULL},
                      MapCase{"", 0x7FFFFFFF, 9223372027439924393ULL},
                      MapCase{"", 0xFFFFFFFE, 18446744070677099278ULL},
                      MapCase{"salt", 0, 5915957447ULL},
                      MapCase{"salt", 0x80000000, 9223372027011149447ULL},
                      MapCase{"salt", 0xFFFFFFFE, 18446744064806934655ULL},
                      // A key longer than a block is hashed first.
                      MapCase{hundred_bytes(), 1, 8179450416ULL},
                      MapCase{hundred_bytes(), 0x80000000, 9223372039978995377ULL}));

TEST(RangeCondition, PreparedBoundsMatchKnownAnswer) {
  EXPECT_EQ(prep_condition(-1.0f, 1.0f, view("salt")),
            (PreparedBounds{4647714796920571782ULL, 13799029257123533521ULL}));
}

TEST(RangeCondition, MappedValuesFollowFloatOrder) {
  const std::vector<std::uint32_t> ascending = {
      0xFFC00000, 0xFF800000, 0xFF7FFFFF, 0xBF800000, 0x80000001, 0x80000000, 0x00000000,
      0x00000001, 0x3F800000, 0x3F800001, 0x7F7FFFFF, 0x7F800000, 0x7FC00000, 0x7FFFFFFE};
  const OrderPreservingMap map(view("order"));
  std::uint64_t previous = 0;
  for (std::size_t i = 0; i < ascending.size(); ++i) {
    const std::uint64_t v = map.map_value(order_key(from_bits(ascending[i])));
    if (i > 0) EXPECT_LT(previous, v) << std::hex << ascending[i];
    previous = v;
  }
}

TEST(RangeCondition, BranchMatchesKnownAnswers) {
  EXPECT_EQ(cond_hash_branch(1, 0xFFFFFFFFFFFFFFFFULL, 0.5f, view("salt")),
            9217987719441200765ULL);
  EXPECT_EQ(cond_hash_branch(5, 3, 0.5f, view("")), 8049533779214451527ULL);
}

TEST(RangeCondition, BoundsCountAsInsideAndOutsideDiffersByTheMask) {
  const PreparedBounds b = prep_condition(-1.0f, 1.0f, view("k"));
  const std::uint64_t inside = cond_hash_branch(b.low, b.high, 0.0f, view("k"));
  EXPECT_EQ(cond_hash_branch(b.low, b.high, -1.0f, view("k")), inside);
  EXPECT_EQ(cond_hash_branch(b.low, b.high, 1.0f, view("k")), inside);
  EXPECT_EQ(cond_hash_branch(b.low, b.high, 2.0f, view("k")), inside ^ kInRangeMask);
  EXPECT_EQ(cond_hash_branch(b.low, b.high, from_bits(0x7FC00000), view("k")),
            inside ^ kInRangeMask);
}

TEST(RangeCondition, KeyOutsideTheDomainIsAnInternalFailure) {
  const float outside = from_bits(0x7FFFFFFF);
  expect_unwrap_none([&] { prep_condition(outside, 1.0f, view("")); });
  expect_unwrap_none([&] { prep_condition(-1.0f, outside, view("")); });
  expect_unwrap_none([&] { cond_hash_branch(0, 1, outside, view("")); });
}

}  // namespace
}  // namespace mirelon
