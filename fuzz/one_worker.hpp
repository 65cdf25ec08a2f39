#pragma once
// Runs a call of the core again on a single worker, for harnesses that check
// that no result depends on how the work is split. The pool is made with two
// workers unless RAYON_NUM_THREADS says otherwise, so that "several" holds on
// any machine (more would only crowd the processors the fuzzer shares).

#include <cstdlib>
#include <utility>

#include "runtime/parallel.hpp"

namespace fuzz_support {

inline void ask_for_several_workers() { setenv("RAYON_NUM_THREADS", "2", 0); }

// call() with worker_count() lowered to one.
template <class Call>
auto on_one_worker(Call&& call) {
  mirelon::runtime::parallel::limit_workers(1);
  auto result = std::forward<Call>(call)();
  mirelon::runtime::parallel::limit_workers(0);
  return result;
}

// Two outcomes of an involution-shaped call are the same: equal bytes, or the
// same kind of failure.
template <class Outcome>
bool same_outcome(const Outcome& a, const Outcome& b) {
  if (a.has_value() != b.has_value()) return false;
  return a ? *a == *b : a.error().index() == b.error().index();
}

}  // namespace fuzz_support
