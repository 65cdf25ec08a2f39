#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "involute/chunk_table.hpp"
#include "mirelon/chunk_geometry.hpp"
#include "mirelon/failure.hpp"
#include "mirelon/involute.hpp"
#include "runtime/parallel.hpp"

namespace mirelon {
namespace {

// (RAYON_NUM_THREADS, RAYON_RS_NUM_CPUS) -> pool size, with two logical processors.
TEST(PoolSize, FollowsTheEnvironmentRules) {
  using Case = std::tuple<const char*, const char*, std::size_t>;
  for (auto [threads, cpus, expected] : {Case{"3", "5", 3}, {"0", "5", 2}, {"x", "5", 5},
                                         {"-1", "5", 5}, {"", "4", 4}, {nullptr, "0", 2},
                                         {nullptr, "7x", 2}, {nullptr, nullptr, 2}})
    EXPECT_EQ(runtime::parallel::pool_size_from(threads, cpus, 2), expected)
        << (threads ? threads : "-") << (cpus ? cpus : "-");
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

// Distinct chunks (the index in the first four bytes), chunk `to` a copy of `from`.
Bytes chunks(std::size_t count, std::size_t c, std::size_t from = 0, std::size_t to = 0) {
  Bytes packet(count * c);
  for (std::size_t i = 0; i < packet.size(); ++i)
    packet[i] = static_cast<std::uint8_t>(i % c < 4 ? i / c >> 8 * (i % c) : i * 2654435761u >> 13);
  if (from != to) std::copy_n(&packet[from * c], c, &packet[to * c]);
  return packet;
}

// Two threads insert equal chunks into fresh tables at once, many times: one wins each time.
TEST(ChunkTable, TwoWorkersInsertingEqualChunksAtOnceFindTheRepeat) {
  constexpr int kTrials = 1000;
  for (std::size_t c : {4, 12, 24}) {
    const Bytes packet = chunks(3, c, 1, 2);
    std::vector<ChunkTable> tables(kTrials);
    for (ChunkTable& table : tables) table.insert_shared(packet, c, 0);  // reserves it
    std::vector<std::atomic<int>> inserted(kTrials);
    std::atomic<int> arrived{0};
    auto worker = [&](std::uint64_t chunk) {
      for (int t = 0; t < kTrials; ++t) {
        for (++arrived; arrived < 2 * (t + 1);) std::this_thread::yield();
        inserted[t] += tables[t].insert_shared(packet, c, chunk);
      }
    };
    std::thread other(worker, 1);
    worker(2);
    other.join();
    for (int t = 0; t < kTrials; ++t) ASSERT_EQ(inserted[t], 1) << c << " " << t;
  }
}

// A child forked after the pool worked runs its loops on threads of its own, as
// many as the pool's workers, not in the pool (on one thread, or hung), with the
// parent's results. Key cycling of 4 MiB takes each parallel path of the involution;
// the search fails three sizes past 2^18 chunks, where workers share its table.
TEST(ForRanges, AChildForkedAfterThePoolWorkedKeepsItsWorkersAndResults) {
  constexpr std::size_t kShared = std::size_t{1} << 18, kCount = 5 << 16;
  const Bytes packet = chunks(1 << 16, 64), repeats = chunks(kCount, 8, kShared, kCount - 1);
  Bytes key(256), other(256);
  for (std::size_t i = 0; i < 256; ++i) key[i] = other[i * 7 % 256] = static_cast<std::uint8_t>(i);
  auto cycled = [&] { return cycle_packet(packet, key, other, key, other, 64).value_or(Bytes{}); };
  const Bytes expected = cycled();
  EXPECT_EQ(get_chunk_size(repeats), 10u);  // 4, 5 and 8 hold the repeat
  if (const pid_t pid = fork(); pid == 0) {
    alarm(120);
    std::atomic<std::size_t> threads{0};
    runtime::parallel::for_each_index(64, 1, [&](std::size_t) {
      thread_local bool counted = false;
      if (!std::exchange(counted, true)) ++threads;
    });
    const bool same = cycled() == expected && get_chunk_size(repeats) == 10;
    _exit(threads == runtime::parallel::worker_count() && same ? 0 : 1);
  } else {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
}

}  // namespace
}  // namespace mirelon
