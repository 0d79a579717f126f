// Process-wide worker pool and the parallel map of the per-bin kernels.
//
// The pool is created by the first parallel map of the process and never shut
// down.  Its size W is read once, at creation, from "RAYON_NUM_THREADS",
// "RAYON_RS_NUM_CPUS" or the processors available to the process.  The index
// range is split by recursive halving, idle workers steal halves that have not
// started, and every index is evaluated exactly once by one task, so results
// do not depend on W or on the schedule.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace ostrel::pool {

// Number of worker threads of the pool (creates the pool if needed).
std::size_t current_num_threads();

// Calls body(begin, end) on disjoint pieces that together cover [0, n), each
// piece evaluated in increasing index order, and returns when all are done.
// A FatalError thrown by any piece is rethrown here once the pieces under way
// have finished; pieces not yet started are then skipped.
void parallel_for(std::size_t n, const std::function<void(std::size_t, std::size_t)>& body);

// result[k] = eval(k) for k = 0 .. n-1, written in place in index order.
template <class T, class Eval>
std::vector<T> parallel_map(std::size_t n, Eval&& eval) {
  std::vector<T> out(n);
  if (n == 0) return out;
  parallel_for(n, [&](std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) out[k] = eval(k);
  });
  return out;
}

}  // namespace ostrel::pool
