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

#include <cstddef>
#include <optional>
#include <string_view>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_sort.h>
#include <oneapi/tbb/task_arena.h>

namespace mirelon::parallel {

// The pool size that the two environment values ask for (nullptr = unset).
std::size_t pool_size_from(const char* num_threads, const char* num_cpus,
                           std::size_t logical_processors);

// The process-wide arena (created on first call).
tbb::task_arena& arena();

// Number of workers in the arena, the calling thread included.
std::size_t worker_count();

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
  arena().execute([&] { tbb::parallel_sort(first, last, less); });
}

}  // namespace mirelon::parallel
