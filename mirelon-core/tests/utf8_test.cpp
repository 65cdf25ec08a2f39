#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "utils/utf8.hpp"

namespace mirelon::utf8 {
namespace {

using ByteList = std::vector<std::uint8_t>;

std::string detail(const ByteList& bytes) {
  auto error = validate(bytes);
  return error ? message(*error) : "ok";
}

struct Case {
  const char* name;
  ByteList bytes;
  std::string expected;
};

class Utf8Detail : public ::testing::TestWithParam<Case> {};

TEST_P(Utf8Detail, ReportsTheFirstMaximalSubpart) {
  EXPECT_EQ(detail(GetParam().bytes), GetParam().expected);
}

std::string invalid(int k, int i) {
  return "invalid utf-8 sequence of " + std::to_string(k) + " bytes from index " +
         std::to_string(i);
}
std::string incomplete(int i) { return "incomplete utf-8 byte sequence from index " + std::to_string(i); }

INSTANTIATE_TEST_SUITE_P(
    Utf8Table, Utf8Detail,
    ::testing::Values(
        Case{"Empty", {}, "ok"}, Case{"Ascii", {0x00, 0x41, 0x7F}, "ok"},
        Case{"BoundaryScalars",
             {0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xED, 0x9F, 0xBF, 0xEE, 0x80, 0x80,
              0xEF, 0xBF, 0xBF, 0xF0, 0x90, 0x80, 0x80, 0xF4, 0x8F, 0xBF, 0xBF},
             "ok"},
        Case{"LoneFF", {0xFF}, invalid(1, 0)},
        Case{"LoneContinuation", {0x80}, invalid(1, 0)},
        Case{"OverlongC0", {0xC0, 0x80}, invalid(1, 0)},
        Case{"OverlongC1", {0xC1, 0xBF}, invalid(1, 0)},
        Case{"OverlongThreeByte", {0xE0, 0x9F, 0xBF}, invalid(1, 0)},
        Case{"OverlongFourByte", {0xF0, 0x8F, 0xBF, 0xBF}, invalid(1, 0)},
        Case{"SurrogateLow", {0xED, 0xA0, 0x80}, invalid(1, 0)},
        Case{"SurrogateHigh", {0xED, 0xBF, 0xBF}, invalid(1, 0)},
        Case{"AboveMaxF4", {0xF4, 0x90, 0x80, 0x80}, invalid(1, 0)},
        Case{"AboveMaxF5", {0xF5, 0x80, 0x80, 0x80}, invalid(1, 0)},
        Case{"TruncatedTwo", {0xC2}, incomplete(0)},
        Case{"TruncatedThreeAfterOne", {0xE2}, incomplete(0)},
        Case{"TruncatedThreeAfterTwo", {0x41, 0xE2, 0x82}, incomplete(1)},
        Case{"TruncatedFourAfterThree", {0xF0, 0x9F, 0x98}, incomplete(0)},
        Case{"BrokenThreeAtSecond", {0x41, 0xE2, 0x41}, invalid(1, 1)},
        Case{"BrokenThreeAtThird", {0xE2, 0x82, 0x41}, invalid(2, 0)},
        Case{"BrokenFourAtFourth", {0xF0, 0x9F, 0x98, 0x41}, invalid(3, 0)},
        Case{"BrokenBeforeEnd", {0xE2, 0x82, 0xC2}, invalid(2, 0)},
        // The Unicode Standard's example of maximal subparts starts with the
        // three-byte subpart F1 80 80 after one valid byte.
        Case{"StandardExample",
             {0x61, 0xF1, 0x80, 0x80, 0xE1, 0x80, 0xC2, 0x62, 0x80, 0x63, 0x80, 0xBF, 0x64},
             invalid(3, 1)}),
    [](const auto& info) { return std::string(info.param.name); });

// Splits the input into its ill-formed subparts by restarting after each one;
// the Unicode Standard's example yields one replacement per subpart.
std::vector<std::pair<std::size_t, std::size_t>> subparts(const ByteList& bytes) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  std::size_t start = 0;
  while (auto error = validate(ByteView(bytes).subspan(start))) {
    const std::size_t at = start + error->valid_up_to;
    const std::size_t len = error->error_len.value_or(bytes.size() - at);
    out.emplace_back(at, len);
    start = at + len;
  }
  return out;
}

TEST(Utf8Subparts, StandardExampleHasSix) {
  const ByteList bytes{0x61, 0xF1, 0x80, 0x80, 0xE1, 0x80, 0xC2,
                       0x62, 0x80, 0x63, 0x80, 0xBF, 0x64};
  const std::vector<std::pair<std::size_t, std::size_t>> expected{
      {1, 3}, {4, 2}, {6, 1}, {8, 1}, {10, 1}, {11, 1}};
  EXPECT_EQ(subparts(bytes), expected);
}

// The eight-byte ASCII steps must stop at the right byte wherever the first
// non-ASCII byte falls relative to them.
TEST(Utf8FastPath, FindsTheBadByteAtEveryOffset) {
  for (std::size_t len = 0; len < 70; ++len) {
    for (std::size_t at = 0; at < len; ++at) {
      ByteList bytes(len, 'a');
      bytes[at] = 0xFF;
      auto error = validate(bytes);
      ASSERT_TRUE(error);
      EXPECT_EQ(error->valid_up_to, at);
      bytes[at] = 0xC3;
      if (at + 1 < len) bytes[at + 1] = 0xA9;
      error = validate(bytes);
      if (at + 1 < len) {
        EXPECT_FALSE(error) << len << " " << at;
      } else {
        ASSERT_TRUE(error);
        EXPECT_EQ(message(*error), incomplete(static_cast<int>(at)));
      }
    }
  }
}

// An independent reference: the set of every prefix of every encoded scalar
// value, built with a plain encoder. The maximal subpart at a position is the
// longest prefix there that is in the set.
class Reference {
 public:
  Reference() {
    for (std::uint32_t c = 0; c <= 0x10FFFF; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      const ByteList e = encode(c);
      for (std::size_t k = 1; k <= e.size(); ++k) prefixes_.insert(pack(e.data(), k));
      complete_.insert(pack(e.data(), e.size()));
    }
  }

  std::string detail(const ByteList& b) const {
    std::size_t i = 0;
    while (i < b.size()) {
      std::size_t longest = 0;
      for (std::size_t k = 1; k <= 4 && i + k <= b.size(); ++k) {
        if (prefixes_.count(pack(&b[i], k))) longest = k;
      }
      if (longest == 0) return invalid(1, static_cast<int>(i));
      if (complete_.count(pack(&b[i], longest))) {
        i += longest;
      } else if (i + longest == b.size()) {
        return incomplete(static_cast<int>(i));
      } else {
        return invalid(static_cast<int>(longest), static_cast<int>(i));
      }
    }
    return "ok";
  }

 private:
  static ByteList encode(std::uint32_t c) {
    if (c < 0x80) return {static_cast<std::uint8_t>(c)};
    if (c < 0x800) return {static_cast<std::uint8_t>(0xC0 | c >> 6), cont(c)};
    if (c < 0x10000) {
      return {static_cast<std::uint8_t>(0xE0 | c >> 12), cont(c >> 6), cont(c)};
    }
    return {static_cast<std::uint8_t>(0xF0 | c >> 18), cont(c >> 12), cont(c >> 6), cont(c)};
  }
  static std::uint8_t cont(std::uint32_t bits) {
    return static_cast<std::uint8_t>(0x80 | (bits & 0x3F));
  }
  static std::uint64_t pack(const std::uint8_t* p, std::size_t k) {
    std::uint64_t v = k;
    for (std::size_t j = 0; j < k; ++j) v = v << 8 | p[j];
    return v;
  }
  std::unordered_set<std::uint64_t> prefixes_;
  std::unordered_set<std::uint64_t> complete_;
};

TEST(Utf8Reference, AgreesWithAnEncoderDerivedReferenceOnRandomBytes) {
  const Reference reference;
  // Bytes drawn mostly from the interesting boundaries of the table.
  const std::vector<std::uint8_t> pool{0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                                       0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC,
                                       0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
  std::mt19937_64 rng(12345);
  for (int round = 0; round < 200000; ++round) {
    ByteList bytes(rng() % 12);
    for (auto& b : bytes) {
      b = rng() % 4 == 0 ? static_cast<std::uint8_t>(rng()) : pool[rng() % pool.size()];
    }
    ASSERT_EQ(detail(bytes), reference.detail(bytes)) << ::testing::PrintToString(bytes);
  }
}

}  // namespace
}  // namespace mirelon::utf8
