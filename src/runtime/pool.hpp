// Process-wide worker pool and the parallel map of the per-bin kernels.
//
// The pool is created by the first parallel map of the process and never shut
// down.  Its size W, the number of threads that evaluate a map, is read once,
// at creation, from "RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS" or the
// processors available to the process.  The calling thread is one of the W:
// the pool has W - 1 helper threads, and with W = 1 a map runs on the caller
// alone.  The index range is split by recursive halving, idle threads steal
// halves that have not started, and every index is evaluated exactly once by
// one task, so results do not depend on W or on the schedule.
//
// Any thread may call parallel_for, also several at once: one map at a time
// uses the helpers, and a map that finds them taken runs on its own caller.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <vector>

namespace ostrel::pool {

// Thrown by parallel_for when the wait hook asked to stop.  Deliberately not a
// FatalError: the caller has its own pending reason (a signal) to report.
class Interrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "parallel map interrupted"; }
};

// Number of threads that evaluate a map, the caller included (creates the
// pool if needed).
std::size_t current_num_threads();

// Calls body(begin, end) on disjoint pieces that together cover [0, n), each
// piece evaluated in increasing index order, and returns when all are done.
// An exception thrown by any piece (a FatalError of the kernel) is rethrown
// here once the indices under way have finished; indices not yet started are
// then skipped.  When several fail, the first one caught is reported.
//
// Called from inside a body (or from the wait hook), the range runs inline on
// the current thread.
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

// Installs (or with nullptr removes) a function that the calling thread of a
// map runs about every 5 ms: between the indices it evaluates itself, and
// while it waits for the helpers to finish theirs.  When it returns true, the
// pieces not yet started are dropped, the pieces under way are waited for and
// parallel_for throws Interrupted (or what the hook threw, if it threw).  The
// hook runs on the thread that called parallel_for, without any pool lock
// held; maps it starts run inline.
void set_wait_hook(bool (*poll)());

}  // namespace ostrel::pool
