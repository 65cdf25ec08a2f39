// Throughput of the data mapping against a plain copy of the same input bytes.
// Every benchmark reports bytes of input (n sequences of L bytes) per second.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "mirelon/bytes.hpp"
#include "mirelon/decrypt.hpp"
#include "mirelon/encrypt.hpp"

namespace {

constexpr std::size_t kLength = std::size_t{16} << 20;

struct Fixture {
  mirelon::Bytes pub_key;
  std::vector<mirelon::Bytes> keys;
  std::vector<mirelon::Bytes> data;
  std::vector<mirelon::ByteView> key_views;
  std::vector<mirelon::ByteView> data_views;

  explicit Fixture(std::size_t n) {
    std::mt19937_64 rng(n);
    auto fill = [&](mirelon::Bytes& b) {
      for (std::size_t i = 0; i + 8 <= b.size(); i += 8) {
        const std::uint64_t r = rng();
        std::memcpy(b.data() + i, &r, 8);
      }
    };
    pub_key.resize(256);
    fill(pub_key);
    for (std::size_t j = 0; j < n; ++j) {
      mirelon::Bytes key(256);
      std::iota(key.begin(), key.end(), 0);
      std::shuffle(key.begin(), key.end(), rng);
      keys.push_back(std::move(key));
      data.emplace_back(kLength);
      fill(data.back());
    }
    key_views.assign(keys.begin(), keys.end());
    data_views.assign(data.begin(), data.end());
  }
};

void report(benchmark::State& state, std::size_t n) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n * kLength));
}

void BM_MapDataLastParty(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  Fixture f(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(mirelon::map_data(f.pub_key, f.keys[n - 1], n - 1, f.data_views));
  }
  report(state, n);
}

void BM_InvData(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  Fixture f(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(mirelon::inv_data(f.pub_key, f.key_views, f.data_views));
  }
  report(state, n);
}

// The kernels alone: results written into buffers that are already warm, so
// no page of the result is faulted in during the loop.
void BM_MapDataLastPartyWarm(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  Fixture f(n);
  mirelon::Bytes out(kLength, 1);
  for (auto _ : state) {
    mirelon::map_data_into(f.pub_key, f.keys[n - 1], n - 1, f.data_views, out);
    benchmark::ClobberMemory();
  }
  report(state, n);
}

void BM_InvDataWarm(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  Fixture f(n);
  std::vector<mirelon::Bytes> out(n, mirelon::Bytes(kLength, 1));
  std::vector<std::span<std::uint8_t>> spans(out.begin(), out.end());
  for (auto _ : state) {
    mirelon::inv_data_into(f.pub_key, f.key_views, f.data_views, spans);
    benchmark::ClobberMemory();
  }
  report(state, n);
}

// The warm floor: copying the n * L input bytes into buffers already faulted in.
void BM_MemcpyWarm(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  Fixture f(n);
  std::vector<mirelon::Bytes> out(n, mirelon::Bytes(kLength, 1));
  for (auto _ : state) {
    for (std::size_t j = 0; j < n; ++j) std::memcpy(out[j].data(), f.data[j].data(), kLength);
    benchmark::ClobberMemory();
  }
  report(state, n);
}

// The floor: copying the same n * L input bytes into fresh buffers.
void BM_Memcpy(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  Fixture f(n);
  for (auto _ : state) {
    std::vector<mirelon::Bytes> copies;
    copies.reserve(n);
    for (const auto& d : f.data) {
      mirelon::Bytes c(d.size());
      std::memcpy(c.data(), d.data(), d.size());
      copies.push_back(std::move(c));
    }
    benchmark::DoNotOptimize(copies.data());
    benchmark::ClobberMemory();
  }
  report(state, n);
}

BENCHMARK(BM_MapDataLastParty)->Arg(3)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InvData)->Arg(3)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Memcpy)->Arg(3)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MapDataLastPartyWarm)->Arg(3)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InvDataWarm)->Arg(3)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MemcpyWarm)->Arg(3)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
