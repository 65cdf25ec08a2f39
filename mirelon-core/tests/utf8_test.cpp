#include <gtest/gtest.h>

#include <cstdint>
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

std::string invalid(std::size_t k, std::size_t i) {
  return "invalid utf-8 sequence of " + std::to_string(k) + " bytes from index " +
         std::to_string(i);
}
std::string incomplete(std::size_t i) {
  return "incomplete utf-8 byte sequence from index " + std::to_string(i);
}

// An independent reference: the set of every prefix of every encoded scalar
// value, built with a plain encoder. The maximal subpart at a position is the
// longest prefix there that is in the set.
class Reference {
 public:
  Reference() {
    for (std::uint32_t c = 0; c <= 0x10FFFF; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      ByteList e;
      if (c < 0x80) {
        e = {static_cast<std::uint8_t>(c)};
      } else {
        const int len = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        e.push_back(static_cast<std::uint8_t>((0xF00 >> len) | c >> (6 * (len - 1))));
        for (int k = len - 2; k >= 0; --k) e.push_back(0x80 | ((c >> (6 * k)) & 0x3F));
      }
      for (std::size_t k = 1; k <= e.size(); ++k) prefixes_.insert(pack(e.data(), k));
      complete_.insert(pack(e.data(), e.size()));
    }
  }

  std::string detail(const ByteList& b) const {
    for (std::size_t i = 0; i < b.size();) {
      std::size_t longest = 0;
      for (std::size_t k = 1; k <= 4 && i + k <= b.size(); ++k)
        if (prefixes_.count(pack(&b[i], k))) longest = k;
      if (longest == 0) return invalid(1, i);
      if (!complete_.count(pack(&b[i], longest)))
        return i + longest == b.size() ? incomplete(i) : invalid(longest, i);
      i += longest;
    }
    return "ok";
  }

 private:
  static std::uint64_t pack(const std::uint8_t* p, std::size_t k) {
    std::uint64_t v = k;
    for (std::size_t j = 0; j < k; ++j) v = v << 8 | p[j];
    return v;
  }
  std::unordered_set<std::uint64_t> prefixes_, complete_;
};

TEST(Utf8, AgreesWithAnEncoderDerivedReference) {
  const Reference reference;
  // Bytes drawn mostly from the boundaries of the table, a third of them after
  // a run of ASCII, so that the eight-byte ASCII steps end at every offset.
  const std::vector<std::uint8_t> pool{0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                       0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE,
                                       0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
  std::mt19937_64 rng(12345);
  for (int round = 0; round < 200000; ++round) {
    ByteList bytes(round % 3 == 0 ? rng() % 20 : 0, 'a');
    for (std::size_t k = rng() % 12; k > 0; --k)
      bytes.push_back(rng() % 4 == 0 ? static_cast<std::uint8_t>(rng()) : pool[rng() % pool.size()]);
    ASSERT_EQ(detail(bytes), reference.detail(bytes)) << ::testing::PrintToString(bytes);
  }
}

}  // namespace
}  // namespace mirelon::utf8
