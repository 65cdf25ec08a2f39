#include <gtest/gtest.h>

#include "mirelon/failure.hpp"
#include "runtime/parallel.hpp"

namespace mirelon {
namespace {

TEST(PoolSize, FollowsTheEnvironmentRules) {
  struct Case {
    const char *threads, *cpus;
    std::size_t expected;
  };
  for (const Case& c : {Case{"3", "5", 3}, Case{"0", "5", 2}, Case{"x", "5", 5},
                        Case{"-1", "5", 5}, Case{"", "4", 4}, Case{nullptr, "0", 2},
                        Case{nullptr, "7x", 2}, Case{nullptr, nullptr, 2}}) {
    EXPECT_EQ(runtime::parallel::pool_size_from(c.threads, c.cpus, 2), c.expected)
        << (c.threads ? c.threads : "unset") << " " << (c.cpus ? c.cpus : "unset");
  }
}

TEST(ForRanges, WorkerFailureReachesTheCallerWithItsText) {
  for (std::size_t failing : {0u, 7777u, 9999u}) {
    try {
      runtime::parallel::for_each_index(10000, 1, [&](std::size_t i) {
        if (i == failing) throw InternalFailure("assertion failed: identity < num_funcs");
      });
      ADD_FAILURE() << "no exception";
    } catch (const InternalFailure& e) {
      EXPECT_STREQ(e.what(), "assertion failed: identity < num_funcs");
    }
  }
}

}  // namespace
}  // namespace mirelon
