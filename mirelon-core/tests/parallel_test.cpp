#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <vector>

#include "mirelon/failure.hpp"
#include "mirelon/parallel.hpp"

namespace mirelon {
namespace {

TEST(PoolSize, FollowsTheEnvironmentRules) {
  EXPECT_EQ(parallel::pool_size_from("3", "5", 2), 3u);
  EXPECT_EQ(parallel::pool_size_from("0", "5", 2), 2u);
  EXPECT_EQ(parallel::pool_size_from("x", "5", 2), 5u);
  EXPECT_EQ(parallel::pool_size_from("-1", "5", 2), 5u);
  EXPECT_EQ(parallel::pool_size_from(nullptr, "0", 2), 2u);
  EXPECT_EQ(parallel::pool_size_from(nullptr, "7x", 2), 2u);
  EXPECT_EQ(parallel::pool_size_from(nullptr, nullptr, 4), 4u);
  EXPECT_EQ(parallel::pool_size_from("", "4", 2), 4u);
}

TEST(ParallelFor, EverySlotWrittenOnceInIndexOrder) {
  std::vector<std::size_t> out(100000, 0);
  parallel::for_each_index(out.size(), 64, [&](std::size_t i) { out[i] += i * 3; });
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], i * 3);
}

TEST(ParallelFor, SameResultWithOneAndTwoWorkers) {
  auto run = [](int workers) {
    tbb::task_arena local(workers);
    std::vector<std::uint64_t> out(50000);
    local.execute([&] {
      tbb::parallel_for(std::size_t{0}, out.size(), [&](std::size_t i) { out[i] = i * i ^ 77; });
    });
    return out;
  };
  EXPECT_EQ(run(1), run(2));
}

TEST(ParallelFor, WorkerFailureReachesTheCallerWithItsText) {
  try {
    parallel::for_each_index(10000, 1, [](std::size_t i) {
      if (i == 7777) throw InternalFailure("assertion failed: identity < num_funcs");
    });
    FAIL() << "no exception";
  } catch (const InternalFailure& e) {
    EXPECT_STREQ(e.what(), "assertion failed: identity < num_funcs");
  }
}

TEST(ParallelSort, SortsLikeTheStandardSort) {
  std::vector<std::uint32_t> v(200000);
  std::uint32_t x = 12345;
  for (auto& e : v) e = x = x * 1664525u + 1013904223u;
  auto expected = v;
  std::sort(expected.begin(), expected.end());
  parallel::sort(v.begin(), v.end(), std::less<>());
  EXPECT_EQ(v, expected);
}

}  // namespace
}  // namespace mirelon
