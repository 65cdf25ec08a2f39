// Many short independent SHA-256 messages: the interleaved kernel against
// OpenSSL one message at a time, and OpenSSL's bulk speed on one long stream.
// Reported as messages (items) per second.

#include <benchmark/benchmark.h>
#include <openssl/sha.h>

#include <random>
#include <vector>

#include "crypto/sha256_multi.hpp"
#include "support/crypto_support.hpp"

namespace {

using mirelon::Bytes;

struct Messages {
  Bytes bytes;
  std::vector<const std::uint8_t*> own;
  Bytes shared;
  std::vector<mirelon::crypto::Digest> out;

  Messages(std::size_t count, std::size_t own_len) : bytes(count * own_len), shared(48, 7),
                                                     out(count) {
    std::mt19937_64 rng(3);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    for (std::size_t i = 0; i < count; ++i) own.push_back(bytes.data() + i * own_len);
  }
};

constexpr std::size_t kCount = 4096;

// Crumb-shaped messages: own_len bytes of chunk, then 48 shared bytes.
void BM_ShaInterleaved(benchmark::State& state) {
  const auto own_len = static_cast<std::size_t>(state.range(0));
  Messages m(kCount, own_len);
  for (auto _ : state) {
    mirelon::crypto::sha256_batch(m.own.data(), own_len, m.shared, kCount, m.out.data());
    benchmark::DoNotOptimize(m.out.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCount));
  state.SetLabel(mirelon::crypto::sha_multi_accelerated() ? "SHA-NI lanes" : "OpenSSL");
}
BENCHMARK(BM_ShaInterleaved)->Arg(0)->Arg(16)->Arg(64)->Arg(4096);

void BM_ShaOneByOne(benchmark::State& state) {
  const auto own_len = static_cast<std::size_t>(state.range(0));
  Messages m(kCount, own_len);
  for (auto _ : state) {
    for (std::size_t i = 0; i < kCount; ++i) {
      SHA256_CTX ctx;
      SHA256_Init(&ctx);
      SHA256_Update(&ctx, m.own[i], own_len);
      SHA256_Update(&ctx, m.shared.data(), m.shared.size());
      SHA256_Final(m.out[i].data(), &ctx);
    }
    benchmark::DoNotOptimize(m.out.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCount));
}
BENCHMARK(BM_ShaOneByOne)->Arg(0)->Arg(16)->Arg(64)->Arg(4096);

void BM_ShaStream(benchmark::State& state) {
  Bytes data(std::size_t{16} << 20, 1);
  for (auto _ : state) {
    mirelon::crypto::Digest d;
    SHA256(data.data(), data.size(), d.data());
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_ShaStream)->Unit(benchmark::kMillisecond);

}  // namespace
