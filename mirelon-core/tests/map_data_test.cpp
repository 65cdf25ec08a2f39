#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "mirelon/bytes.hpp"
#include "mirelon/decrypt.hpp"
#include "mirelon/encrypt.hpp"
#include "mirelon/failure.hpp"

// map_data against its per-position definition, over several 4096-position
// blocks, every party count with a kernel of its own and short keys, whose
// first lookup past the end is the failure reported. Argument checks, round
// trips and the restoring model are in the Python tests.
namespace mirelon {
namespace {

// One column mapped for party p exactly as defined (a full suffix-sum table,
// then the chain), or the text of the first lookup that falls outside a key.
struct Mapped {
  std::uint8_t value = 0;
  std::optional<std::string> failure;
};

Mapped model_column(const Bytes& a, const Bytes& b, std::size_t p, const Bytes& c) {
  Mapped r;
  auto look = [&](const Bytes& t, std::uint8_t i) {
    if (i >= t.size() && !r.failure)
      r.failure = "index out of bounds: the len is " + std::to_string(t.size()) +
                  " but the index is " + std::to_string(i);
    return r.failure ? std::uint8_t{0} : t[i];
  };
  std::vector<std::uint8_t> s(c.size() + 1, 0);
  for (std::size_t k = c.size(); k-- > 0;) s[k] = static_cast<std::uint8_t>(s[k + 1] + c[k]);
  const auto x = static_cast<std::uint8_t>(c[0] - look(a, s[1]));
  const auto y = static_cast<std::uint8_t>(c[1] + x - s[2]);
  std::uint8_t v = y, d = 0;
  for (std::size_t k = 2; k <= p; ++k) {
    d = static_cast<std::uint8_t>(x + c[k] - s[k + 1] - look(a, v));
    v = static_cast<std::uint8_t>(v + d);
  }
  r.value = look(b, p == 0 ? x : p == 1 ? y : d);
  return r;
}

std::string failure_text(auto&& call) {
  try {
    call();
  } catch (const InternalFailure& e) {
    return e.what();
  }
  return "(no failure)";
}

struct Case {
  std::size_t n, p, len;
  std::size_t a_len = 256, b_len = 256;
  int top = 255;  // largest data byte
};

class MapDataModel : public ::testing::TestWithParam<Case> {};

TEST_P(MapDataModel, MatchesThePerPositionDefinition) {
  const Case& t = GetParam();
  std::mt19937_64 rng(t.n * 1000 + t.p * 10 + t.len);
  auto random_bytes = [&](std::size_t len, int top) {
    Bytes out(len);
    for (auto& v : out) v = static_cast<std::uint8_t>(rng() % (top + 1));
    return out;
  };
  const Bytes a = random_bytes(t.a_len, 255), b = random_bytes(t.b_len, 255);
  std::vector<Bytes> seqs;
  for (std::size_t j = 0; j < t.n; ++j) seqs.push_back(random_bytes(t.len, t.top));
  Bytes expected(t.len), column(t.n);
  std::optional<std::string> failure;
  for (std::size_t i = 0; i < t.len && !failure; ++i) {
    for (std::size_t j = 0; j < t.n; ++j) column[j] = seqs[j][i];
    const Mapped m = model_column(a, b, t.p, column);
    expected[i] = m.value;
    failure = m.failure;
  }
  const std::vector<ByteView> views(seqs.begin(), seqs.end());
  try {
    EXPECT_EQ(map_data(a, b, t.p, views), expected);
    EXPECT_FALSE(failure) << *failure;
  } catch (const InternalFailure& e) {
    EXPECT_EQ(e.what(), failure.value_or("no failure expected"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    MapData, MapDataModel,
    ::testing::Values(Case{2, 0, 1}, Case{2, 1, 9000}, Case{3, 2, 12289}, Case{5, 4, 4097},
                      Case{16, 0, 3000}, Case{16, 7, 9000}, Case{16, 15, 20000},
                      // party counts with a kernel of their own, and beyond them
                      Case{7, 6, 1000}, Case{12, 11, 1000}, Case{17, 16, 4000}, Case{18, 3, 1000},
                      Case{4, 3, 5000, 300, 1000},        // only 256 entries are used
                      Case{2, 1, 20000, 4, 256, 1},       // short key, always in range
                      Case{3, 2, 20000, 255, 255},       // short keys, a lookup fails
                      Case{6, 5, 20000, 255, 255},
                      // tiny keys and data bytes: lookups fail at every step
                      Case{6, 5, 40, 7, 60, 6}, Case{5, 2, 40, 30, 5, 6}, Case{4, 3, 40, 0, 9, 3},
                      Case{3, 1, 40, 9, 0, 2}, Case{2, 0, 40, 5, 5, 9}));

// Outputs of 64 MiB or more in all, fresh or reused, are written past the
// caches; the restored bytes must not depend on how the outputs are
// aligned, at either end of an output or of a worker's range. Restoring in
// pieces of 1 MiB (below that size) gives the expected bytes.
TEST(InvData, LargeOutputsAlignedAlikeOrNotRestoreTheSame) {
  constexpr std::size_t n = 16, len = (std::size_t{4} << 20) + 77, mib = std::size_t{1} << 20;
  std::mt19937_64 rng(17);
  std::vector<Bytes> keys(n, Bytes(256)), mapped(n, Bytes(len)), expected(n);
  for (std::size_t j = 0; j < n; ++j) {
    std::iota(keys[j].begin(), keys[j].end(), 0);
    std::shuffle(keys[j].begin(), keys[j].end(), rng);
    for (auto& v : mapped[j]) v = static_cast<std::uint8_t>(rng());
  }
  const std::vector<ByteView> key_views(keys.begin(), keys.end()),
      views(mapped.begin(), mapped.end());
  for (std::size_t at = 0; at < len; at += mib) {
    std::vector<ByteView> piece;
    for (ByteView v : views) piece.push_back(v.subspan(at, std::min(len - at, mib)));
    const std::vector<Bytes> restored = inv_data(keys[0], key_views, piece);
    for (std::size_t j = 0; j < n; ++j)
      expected[j].insert(expected[j].end(), restored[j].begin(), restored[j].end());
  }
  // Memory in use and fresh memory are streamed in different ways.
  const std::size_t stride = (len + 127) / 64 * 64, size = n * stride + 64;
  Bytes buffer(size);
  for (bool fresh : {false, true}) {
    for (auto skew : {+[](std::size_t) -> std::size_t { return 48; },
                      +[](std::size_t j) -> std::size_t { return j % 4 * 16; },
                      +[](std::size_t j) -> std::size_t { return j % 3 * 7; }}) {
      void* const mapping = fresh ? mmap(nullptr, size, PROT_READ | PROT_WRITE,
                                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                  : buffer.data();
      ASSERT_NE(mapping, MAP_FAILED);
      auto* const base = static_cast<std::uint8_t*>(mapping);
      std::uint8_t* const aligned = base + (64 - reinterpret_cast<std::uintptr_t>(base) % 64) % 64;
      std::vector<std::span<std::uint8_t>> out;
      for (std::size_t j = 0; j < n; ++j) out.emplace_back(aligned + j * stride + skew(j), len);
      inv_data_into(keys[0], key_views, views, out);
      for (std::size_t j = 0; j < n; ++j)
        EXPECT_TRUE(std::ranges::equal(out[j], expected[j])) << fresh << " " << j;
      if (fresh) munmap(mapping, size);
    }
  }
}

}  // namespace
}  // namespace mirelon
