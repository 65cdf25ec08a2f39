// Feeds random party counts, keys and data sequences to the data mapping and
// its inverse. A plain position-by-position model gives each expected mapped
// sequence or the exact failure text (count, identity, lengths, or the first
// lookup past the end of a short key at the lowest failing position). Beyond
// the sanitizers' checks it traps when map_data or inv_data disagrees with the
// model, or when, with a 256-entry public key and permutation private keys,
// inv_data does not give back the data sequences.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "mirelon/decrypt.hpp"
#include "mirelon/encrypt.hpp"
#include "mirelon/failure.hpp"

namespace {

using mirelon::Bytes;
using mirelon::ByteView;

void require(bool ok) {
  if (!ok) __builtin_trap();
}

struct OutOfBounds {
  std::size_t len, index;
};

// One lookup of the model: the entry, or the failure it makes.
std::optional<std::uint8_t> lookup(ByteView table, std::uint8_t index,
                                   std::optional<OutOfBounds>& failure) {
  if (index >= table.size()) {
    failure = OutOfBounds{table.size(), index};
    return std::nullopt;
  }
  return table[index];
}

// One position of map_data as a plain transcription of its steps.
std::optional<std::uint8_t> model_column(ByteView a, ByteView b, std::size_t p,
                                         const std::vector<std::uint8_t>& col,
                                         std::optional<OutOfBounds>& failure) {
  const std::size_t n = col.size();
  std::vector<std::uint8_t> s(n + 1, 0);
  std::uint8_t acc = 0;
  for (std::size_t k = n; k-- > 0;) s[k] = acc = static_cast<std::uint8_t>(acc + col[k]);
  auto a1 = lookup(a, s[1], failure);
  if (!a1) return std::nullopt;
  const std::uint8_t x = static_cast<std::uint8_t>(col[0] - *a1);
  if (p == 0) return lookup(b, x, failure);
  const std::uint8_t y = static_cast<std::uint8_t>(col[1] + x - s[2]);
  if (p == 1) return lookup(b, y, failure);
  std::uint8_t v = y, d = 0;
  for (std::size_t k = 2; k <= p; ++k) {
    auto av = lookup(a, v, failure);
    if (!av) return std::nullopt;
    d = static_cast<std::uint8_t>(x + col[k] - s[k + 1] - *av);
    v = static_cast<std::uint8_t>(v + d);
  }
  return lookup(b, d, failure);
}

std::string equal_lengths_text(std::size_t len, std::size_t j, std::size_t other) {
  return "all inner vectors must have equal length; data_sequences[0].len() = " +
         std::to_string(len) + ", but data_sequences[" + std::to_string(j) +
         "].len() = " + std::to_string(other);
}

// The model's map_data: the mapped sequence, or the failure text.
std::string model_map(ByteView a, ByteView b, std::uint64_t p, const std::vector<Bytes>& d,
                      Bytes& out) {
  const std::size_t n = d.size();
  if (n < 2) return "At least two parties must be present";
  if (p >= n) return "assertion failed: identity < num_funcs";
  for (std::size_t j = 0; j < n; ++j)
    if (d[j].size() != d[0].size()) return equal_lengths_text(d[0].size(), j, d[j].size());
  out.clear();
  std::vector<std::uint8_t> col(n);
  for (std::size_t i = 0; i < d[0].size(); ++i) {
    for (std::size_t j = 0; j < n; ++j) col[j] = d[j][i];
    std::optional<OutOfBounds> failure;
    auto r = model_column(a, b, static_cast<std::size_t>(p), col, failure);
    if (!r) {
      return "index out of bounds: the len is " + std::to_string(failure->len) +
             " but the index is " + std::to_string(failure->index);
    }
    out.push_back(*r);
  }
  return "";
}

std::vector<ByteView> views(const std::vector<Bytes>& v) { return {v.begin(), v.end()}; }

// A permutation of the byte values, drawn swap by swap from the input, or
// (cheaper in input bytes, so that many parties fit) from a seed it gives.
Bytes permutation(FuzzedDataProvider& in, bool seeded) {
  Bytes key(256);
  for (std::size_t i = 0; i < 256; ++i) key[i] = static_cast<std::uint8_t>(i);
  std::mt19937_64 rng(seeded ? in.ConsumeIntegral<std::uint64_t>() : 0);
  for (std::size_t i = 255; i > 0; --i)
    std::swap(key[i], key[seeded ? rng() % (i + 1) : in.ConsumeIntegralInRange<std::size_t>(0, i)]);
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 17);  // up to 17 parties
  const std::size_t len = in.ConsumeIntegralInRange<std::size_t>(0, 2000);
  const bool ragged = in.ConsumeIntegralInRange<int>(0, 15) == 0;
  Bytes pub = in.ConsumeBool() ? in.ConsumeBytes<std::uint8_t>(256)
                               : in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 255));
  pub.resize(pub.size() >= 200 ? 256 : pub.size());  // mostly full tables
  std::vector<Bytes> priv(n);
  bool all_permutations = pub.size() == 256;
  for (Bytes& key : priv) {
    if (const int kind = in.ConsumeIntegralInRange<int>(0, 7); kind != 0) {
      key = permutation(in, kind == 1);
    } else {
      key = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 256));
      all_permutations = false;
    }
  }
  std::vector<Bytes> seqs(n);
  for (Bytes& s : seqs) {
    s = in.ConsumeBytes<std::uint8_t>(ragged ? in.ConsumeIntegralInRange<std::size_t>(0, len) : len);
    s.resize(ragged ? s.size() : len);
  }

  // Every party's mapped sequence, plus one identity chosen by the fuzzer.
  std::vector<Bytes> mapped;
  bool mapped_all = n >= 1;
  for (std::size_t p = 0; p <= n; ++p) {
    const std::uint64_t identity = p < n ? p : in.ConsumeIntegral<std::uint64_t>();
    ByteView key = p < n ? ByteView(priv[p]) : ByteView(pub);
    Bytes want;
    const std::string failure = model_map(pub, key, identity, seqs, want);
    try {
      Bytes got = mirelon::map_data(pub, key, identity, views(seqs));
      require(failure.empty() && got == want);
      if (p < n) mapped.push_back(std::move(got));
    } catch (const mirelon::InternalFailure& e) {
      require(!failure.empty() && failure == e.what());
      if (p < n) mapped_all = false;
    }
  }

  // The inverse on the mapped sequences; its structural failures on the raw
  // sequences with a fuzzer-chosen number of keys.
  const std::size_t keys = in.ConsumeBool() ? n : in.ConsumeIntegralInRange<std::size_t>(0, 17);
  std::vector<Bytes> some_keys(keys, pub);
  try {
    mirelon::inv_data(pub, views(some_keys), views(seqs));
    require(keys == n && n > 0);
  } catch (const mirelon::InternalFailure& e) {
    const std::string text = e.what();
    if (keys != n) {
      require(text == "assertion `left == right` failed: There should be the same number of "
                      "data sequences as private keys\n  left: " + std::to_string(n) +
                      "\n right: " + std::to_string(keys));
    } else {
      require(n == 0 || ragged || pub.size() != 256 || n == 1);
    }
  }
  if (mapped_all && all_permutations && !ragged) {
    const auto restored = mirelon::inv_data(pub, views(priv), views(mapped));
    require(restored == seqs);
  }
  return 0;
}
