#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>

#include "mirelon/failure.hpp"
#include "mirelon/involute.hpp"

namespace mirelon {
namespace {

ByteView view(const std::string& s) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

Bytes permutation_key(std::uint32_t seed) {
  Bytes key(256);
  std::iota(key.begin(), key.end(), std::uint8_t{0});
  std::shuffle(key.begin(), key.end(), std::mt19937(seed));
  return key;
}

std::string failure_text(auto&& call) {
  try {
    call();
  } catch (const InternalFailure& e) {
    return e.what();
  }
  return "no failure";
}

TEST(Cycle, CyclingBackRestoresThePacket) {
  const Bytes k1 = permutation_key(1), k2 = permutation_key(2);
  Bytes packet(1 << 16);
  std::iota(packet.begin(), packet.end(), std::uint8_t{0});
  std::shuffle(packet.begin(), packet.end(), std::mt19937(3));
  for (std::uint64_t c : {0, 16, 256, 4096}) {
    auto moved = cycle_packet(packet, view("old"), view("new"), k1, k2, c);
    ASSERT_TRUE(moved) << c;
    auto back = cycle_packet(*moved, view("new"), view("old"), k2, k1, c);
    ASSERT_TRUE(back) << c;
    EXPECT_EQ(*back, packet) << c;
  }
}

TEST(Cycle, EqualKeysChainTwoInvolutions) {
  const Bytes k = permutation_key(4);
  Bytes packet(4096);
  std::mt19937 rng(6);
  for (auto& b : packet) b = static_cast<std::uint8_t>(rng());
  auto direct = cycle_packet(packet, view("a"), view("b"), k, k, 256);
  auto chained = involute_packet(*involute_packet(packet, view("a"), 256), view("b"), 256);
  ASSERT_TRUE(direct);
  EXPECT_EQ(*direct, *chained);
}

TEST(Cycle, SubstitutionLastPositionWinsAndMissingBytesBecomeZero) {
  const std::string old_key("\x01\x01\x02", 3), new_key("\x02\x01\x01", 3);
  auto out = cycle_packet(view(std::string("\x01\x02\x09", 3)), {}, {}, view(old_key),
                          view(new_key), 0);
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, (Bytes{1, 1, 0}));
}

TEST(Cycle, EmptyKeysZeroEveryByte) {
  auto out = cycle_packet(view("abcdefgh"), {}, {}, {}, {}, 4);
  ASSERT_FALSE(out);
  EXPECT_TRUE(std::holds_alternative<DuplicateCrumbs>(out.error()));
}

TEST(Cycle, KeyCheckListsBothSortedKeysAndComesFirst) {
  const std::string old_key("\x03\x01\x02", 3), new_key("\x02\x01\x01", 3);
  EXPECT_EQ(failure_text([&] {
              (void)cycle_packet(view("0123456789"), {}, {}, view(old_key), view(new_key), 4);
            }),
            "assertion `left == right` failed: Keys must be permutations from the same set\n"
            "  left: [1, 2, 3]\n right: [1, 1, 2]");
  EXPECT_EQ(failure_text([&] { (void)cycle_packet({}, {}, {}, {}, view("a"), 0); }),
            "assertion `left == right` failed: Keys must be permutations from the same set\n"
            "  left: []\n right: [97]");
}

TEST(Cycle, FirstInvolutionFailureIsReturned) {
  const Bytes k = permutation_key(5);
  auto out = cycle_packet(view("0123456789"), {}, {}, k, k, 4);
  ASSERT_FALSE(out);
  EXPECT_EQ(message(out.error()), "Packet length (10) is not a multiple of chunk size (4).");
}

}  // namespace
}  // namespace mirelon
