#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "involute/chunk_table.hpp"
#include "mirelon/failure.hpp"
#include "mirelon/involute.hpp"
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
    EXPECT_EQ(parallel::pool_size_from(c.threads, c.cpus, 2), c.expected)
        << (c.threads ? c.threads : "unset") << " " << (c.cpus ? c.cpus : "unset");
  }
}

TEST(ForRanges, WorkerFailureReachesTheCallerWithItsText) {
  for (std::size_t failing : {0u, 7777u, 9999u}) {
    try {
      parallel::for_each_index(10000, 1, [&](std::size_t i) {
        if (i == failing) throw InternalFailure("assertion failed: identity < num_funcs");
      });
      ADD_FAILURE() << "no exception";
    } catch (const InternalFailure& e) {
      EXPECT_STREQ(e.what(), "assertion failed: identity < num_funcs");
    }
  }
}

// `count` distinct chunks of `c` bytes (the index in the first four, random
// bytes after), with chunk to[i] made a copy of chunk from[i].
Bytes chunks(std::size_t count, std::size_t c, std::vector<std::pair<std::size_t, std::size_t>> copies = {}) {
  std::mt19937_64 rng(c);
  Bytes packet(count * c);
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t b = 0; b < c; ++b)
      packet[i * c + b] = static_cast<std::uint8_t>(b < 4 ? i >> (8 * b) : rng());
  }
  for (auto [from, to] : copies) std::copy_n(&packet[from * c], c, &packet[to * c]);
  return packet;
}

// The chunks past the first 2^18 are shared by the workers. One table serves
// the chunk sizes of a search in turn, so a pass stopped by a repeat must
// leave it empty.
// The repeats: in the last worker's run of a chunk the first inserted, in a
// worker's run of a chunk the calling thread inserted, and in every run at once.
TEST(ChunkTable, WorkersSharingATableFindEveryRepeatAndLeaveItEmpty) {
  constexpr std::size_t kPrefix = std::size_t{1} << 18, kCount = kPrefix + (std::size_t{3} << 16);
  std::vector<std::pair<std::size_t, std::size_t>> everywhere;
  for (std::size_t i = kPrefix; i < kCount; i += 4099) everywhere.emplace_back(i - kPrefix, i);
  for (std::size_t c : {4, 12, 24}) {
    ChunkTable table;
    for (const auto& copies : {std::vector<std::pair<std::size_t, std::size_t>>{{kPrefix, kCount - 1}},
                               {{5, kPrefix + 1}}, everywhere})
      EXPECT_FALSE(table.distinct(chunks(kCount, c, copies), c)) << c << " " << copies.size();
    EXPECT_TRUE(table.distinct(chunks(kCount, c), c)) << c;
  }
}

// Two threads insert equal chunks into a fresh table at the same moment, many
// times over: exactly one of them may succeed each time.
TEST(ChunkTable, TwoWorkersInsertingEqualChunksAtOnceFindTheRepeat) {
  constexpr int kTrials = 3000;
  for (std::size_t c : {4, 12, 24}) {
    const Bytes packet = chunks(3, c, {{1, 2}});
    std::vector<ChunkTable> tables(kTrials);
    for (ChunkTable& table : tables) table.insert_shared(packet, c, 0);  // reserves it
    std::vector<int> inserted(kTrials, 0);
    std::atomic<int> arrived{0};
    auto worker = [&](std::uint64_t chunk) {
      for (int t = 0; t < kTrials; ++t) {
        arrived.fetch_add(1);
        while (arrived.load() < 2 * (t + 1)) std::this_thread::yield();
        if (tables[t].insert_shared(packet, c, chunk))
          std::atomic_ref<int>(inserted[t]).fetch_add(1);
      }
    };
    std::thread other(worker, 1);
    worker(2);
    other.join();
    EXPECT_EQ(std::count(inserted.begin(), inserted.end(), 1), kTrials) << c;
  }
}

// A child forked after the pool has worked cannot use it: its loops run on
// threads started for them, still as many as the pool's workers, and give the
// parent's results. A child that reached into the pool would run them on one
// thread, or hang (the alarm ends it).
TEST(ForRanges, AChildForkedAfterThePoolWorkedKeepsItsWorkersAndResults) {
  const Bytes packet = chunks(1 << 16, 16, {{700, (1 << 16) - 1}});
  const Bytes salt{1, 2, 3};
  const Bytes sealed = involute_packet(chunks(1 << 16, 16), salt, 16).value();
  const std::uint64_t size = get_chunk_size(packet);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(120);
    std::mutex mutex;
    std::set<std::thread::id> threads;
    parallel::for_each_index(64, 1, [&](std::size_t) {
      std::lock_guard lock(mutex);
      threads.insert(std::this_thread::get_id());
    });
    const bool same = involute_packet(chunks(1 << 16, 16), salt, 16).value_or(Bytes{}) == sealed &&
                      get_chunk_size(packet) == size;
    _exit(threads.size() == parallel::worker_count() && same ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace mirelon
