#include <gtest/gtest.h>

#include "mirelon/parallel.hpp"

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
    EXPECT_EQ(parallel::pool_size_from(c.threads, c.cpus, 2), c.expected)
        << (c.threads ? c.threads : "unset") << " " << (c.cpus ? c.cpus : "unset");
  }
}

}  // namespace
}  // namespace mirelon
