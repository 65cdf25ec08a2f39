#include "runtime/parallel.hpp"

#include <pthread.h>

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include <oneapi/tbb/global_control.h>

namespace mirelon::runtime::parallel {
namespace {

// A whole string of decimal digits, or nothing.
std::optional<std::size_t> parse_unsigned(const char* text) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  std::size_t value = 0;
  const char* end = text + std::strlen(text);
  auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::size_t logical_processors() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

std::atomic<bool> lost_to_fork{false};
std::atomic<std::size_t> worker_limit{0};

// The arena, and the raised worker limit when one is needed. Made once and
// never destroyed: a destructor running at exit in a forked child would reach
// into oneTBB state whose threads are gone.
struct Pool {
  std::unique_ptr<tbb::global_control> worker_limit;
  tbb::task_arena arena;
};

Pool* make_pool() {
  const std::size_t size = pool_size_from(std::getenv("RAYON_NUM_THREADS"),
                                          std::getenv("RAYON_RS_NUM_CPUS"), logical_processors());
  // oneTBB allows one worker fewer than the logical processors by default; a
  // larger pool would get fewer threads than asked for, and a warning on
  // stderr. Raise the limit, never lower it.
  using tbb::global_control;
  std::unique_ptr<global_control> limit;
  if (size > global_control::active_value(global_control::max_allowed_parallelism))
    limit = std::make_unique<global_control>(global_control::max_allowed_parallelism, size);
  return new Pool{std::move(limit), tbb::task_arena(static_cast<int>(size))};
}

Pool& pool() {
  static Pool* const instance = [] {
    Pool* made = make_pool();
    pthread_atfork(nullptr, nullptr, [] {
      if (pool().arena.is_active()) lost_to_fork.store(true, std::memory_order_relaxed);
    });
    return made;
  }();
  return *instance;
}

}  // namespace

std::size_t pool_size_from(const char* num_threads, const char* num_cpus,
                           std::size_t logical) {
  if (auto n = parse_unsigned(num_threads)) return *n == 0 ? logical : *n;
  if (auto n = parse_unsigned(num_cpus); n && *n > 0) return *n;
  return logical;
}

tbb::task_arena& arena() { return pool().arena; }

std::size_t worker_count() {
  static const std::size_t count = static_cast<std::size_t>(arena().max_concurrency());
  const std::size_t limit = worker_limit.load(std::memory_order_relaxed);
  return limit != 0 && limit < count ? limit : count;
}

void limit_workers(std::size_t limit) { worker_limit.store(limit, std::memory_order_relaxed); }

bool pool_lost_to_fork() { return lost_to_fork.load(std::memory_order_relaxed); }

namespace detail {

void for_ranges_on_threads(std::size_t n, std::size_t grain,
                           void (*call)(void* body, std::size_t begin, std::size_t end),
                           void* body) {
  const std::size_t runs = std::min(worker_count(), (n + grain - 1) / grain);
  const std::size_t per_run = std::max(grain, (n + runs - 1) / runs);
  std::vector<std::exception_ptr> failures(runs);
  auto run = [&](std::size_t r) {
    const std::size_t begin = r * per_run;
    if (begin >= n) return;
    try {
      call(body, begin, std::min(n, begin + per_run));
    } catch (...) {
      failures[r] = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(runs);
  std::size_t started = 1;
  // A thread that cannot be started leaves its run, and the later ones, to
  // the calling thread.
  try {
    for (; started < runs; ++started) threads.emplace_back(run, started);
  } catch (const std::system_error&) {
  }
  run(0);
  for (std::size_t r = started; r < runs; ++r) run(r);
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& failure : failures)
    if (failure) std::rethrow_exception(failure);
}

}  // namespace detail

}  // namespace mirelon::runtime::parallel
