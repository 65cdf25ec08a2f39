#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "mirelon/involute.hpp"
#include "mirelon/range_condition.hpp"
#include "runtime/byte_order.hpp"

namespace {

using mirelon::Bytes;

// Random bytes with a counter stamped into every chunk so that all chunks are
// distinct at any chunk size of at least 4.
Bytes distinct_packet(std::size_t size, std::size_t chunk_size) {
  std::mt19937_64 rng(42);
  Bytes packet(size);
  for (auto& b : packet) b = static_cast<std::uint8_t>(rng());
  for (std::size_t i = 0; i < size / chunk_size; ++i)
    mirelon::runtime::store_u32_be(packet.data() + i * chunk_size, static_cast<std::uint32_t>(i));
  return packet;
}

const Bytes kSalt = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                     0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};

void BM_InvolutePacket(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const auto chunk_size = static_cast<std::size_t>(state.range(1));
  const Bytes packet = distinct_packet(size, chunk_size);
  for (auto _ : state) {
    auto out = mirelon::involute_packet(packet, kSalt, chunk_size);
    if (!out) state.SkipWithError("involution failed");
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_InvolutePacket)
    ->ArgNames({"bytes", "chunk"})
    ->ArgsProduct({{1 << 20, 16 << 20, 64 << 20}, {16, 64, 4096}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Moving a packet from one salt and key to another: two involutions with a
// byte substitution between them.
void BM_CyclePacket(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const auto chunk_size = static_cast<std::size_t>(state.range(1));
  const Bytes packet = distinct_packet(size, chunk_size);
  Bytes old_key(256), new_key(256);
  for (std::size_t v = 0; v < 256; ++v) {
    old_key[v] = static_cast<std::uint8_t>(v);
    new_key[v] = static_cast<std::uint8_t>(v * 7 + 3);  // 7 is odd: a permutation
  }
  const Bytes new_salt(kSalt.rbegin(), kSalt.rend());
  for (auto _ : state) {
    auto out = mirelon::cycle_packet(packet, kSalt, new_salt, old_key, new_key, chunk_size);
    if (!out) state.SkipWithError("cycling failed");
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_CyclePacket)
    ->ArgNames({"bytes", "chunk"})
    ->ArgsProduct({{1 << 20, 16 << 20}, {64}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_PrepCondition(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(mirelon::prep_condition(-1.0f, 1.0f, kSalt));
}
BENCHMARK(BM_PrepCondition)->Unit(benchmark::kMicrosecond);

}  // namespace
