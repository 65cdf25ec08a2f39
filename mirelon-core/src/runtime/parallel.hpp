#pragma once
// The process-wide worker pool. Every data-parallel loop of the core runs in
// one oneTBB arena, created on first use and sized once from the environment:
// RAYON_NUM_THREADS (an unsigned decimal; 0 means the number of logical
// processors), else RAYON_RS_NUM_CPUS (a positive decimal), else the number of
// logical processors. An unparsable value falls through to the next rule.
//
// Exceptions thrown on a worker (InternalFailure, std::bad_alloc) are carried
// to the calling thread and rethrown there. Results never depend on how the
// work is split, because every index writes only its own slot of an output
// sized beforehand.
//
// The pool's threads do not survive fork(), and oneTBB cannot be restarted in
// a child process. A child made after the pool had started therefore runs
// for_ranges on threads of its own, started per call (as many as the pool's
// size), and sort on the calling thread; it never calls into oneTBB again.
// The results are the same, since no result depends on the split.
//
// A ThreadSanitizer build (MIRELON_POOL_ON_THREADS) always runs that way: the
// system's oneTBB is not instrumented, so the sanitizer would see none of its
// hand-offs and report every task as racing with its caller.

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_sort.h>
#include <oneapi/tbb/task_arena.h>

namespace mirelon::runtime::parallel {

// The pool size that the two environment values ask for (nullptr = unset).
std::size_t pool_size_from(const char* num_threads, const char* num_cpus,
                           std::size_t logical_processors);

// The process-wide arena (created on first call). Not to be used in a child
// process where pool_lost_to_fork() holds.
tbb::task_arena& arena();

// Number of workers in the arena, the calling thread included, or the limit
// set below if that is lower.
std::size_t worker_count();

// Lowers worker_count() to `limit` (0: no limit), so that a fuzzer can compare
// results on one and on several workers in one process. Not to be changed
// while a call of the core runs.
void limit_workers(std::size_t limit);

// True in a process made by fork() after the arena had started its threads.
bool pool_lost_to_fork();

// Whether loops run on threads started per call instead of the arena.
inline bool on_own_threads() {
#ifdef MIRELON_POOL_ON_THREADS
  return true;
#else
  return pool_lost_to_fork();
#endif
}

namespace detail {
// for_ranges without oneTBB: splits [0, n) into at most worker_count() runs of
// at least `grain` indices, runs the first on the calling thread and the others
// on threads started for the call, and rethrows the failure of the lowest run.
void for_ranges_on_threads(std::size_t n, std::size_t grain,
                           void (*call)(void* body, std::size_t begin, std::size_t end),
                           void* body);
}  // namespace detail

// Calls body(begin, end) over disjoint runs covering [0, n), in parallel. Each
// run holds at least `grain` indices (except the last) and is processed by one
// worker, so a body may keep per-run scratch space.
template <class Body>
void for_ranges(std::size_t n, std::size_t grain, Body&& body) {
  if (n == 0) return;
  if (grain == 0) grain = 1;
  if (n <= grain || worker_count() == 1) {
    body(std::size_t{0}, n);
    return;
  }
  if (on_own_threads()) {
    using Target = std::remove_reference_t<Body>;
    detail::for_ranges_on_threads(
        n, grain,
        [](void* target, std::size_t begin, std::size_t end) {
          (*static_cast<Target*>(target))(begin, end);
        },
        const_cast<void*>(static_cast<const void*>(std::addressof(body))));
    return;
  }
  arena().execute([&] {
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n, grain),
                      [&](const tbb::blocked_range<std::size_t>& r) { body(r.begin(), r.end()); });
  });
}

// Calls body(i) for every i in [0, n), in parallel.
template <class Body>
void for_each_index(std::size_t n, std::size_t grain, Body&& body) {
  for_ranges(n, grain, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) body(i);
  });
}

// Unstable parallel sort of [first, last) by `less`.
template <class RandomIt, class Less>
void sort(RandomIt first, RandomIt last, Less less) {
  if (on_own_threads()) {
    std::sort(first, last, less);
    return;
  }
  arena().execute([&] { tbb::parallel_sort(first, last, less); });
}

}  // namespace mirelon::runtime::parallel
