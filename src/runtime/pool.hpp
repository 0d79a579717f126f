// Process-wide worker pool and the parallel map of the per-bin kernels.
//
// One pool per process, shared by every module that loads the runtime
// library: it is created by the first parallel map and never shut down.  Its
// size W, the number of threads that evaluate a map, is read once, at
// creation, from "RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS" or the processors
// available to the process.  The calling thread is one of the W: the pool has
// W - 1 helper threads, and with W = 1 a map runs on the caller alone.  Every
// index is evaluated exactly once by one task, in increasing order within a
// piece, so results do not depend on W or on the schedule.
//
// Any thread may call parallel_for, also several at once: one map at a time
// uses the helpers, and a map that finds them taken runs on its own caller.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <vector>

#include "api.hpp"

namespace ostrel::pool {

// Thrown by parallel_for when the wait hook asked to stop.  Deliberately not a
// FatalError: the caller has its own pending reason (a signal) to report.
class OSTREL_RUNTIME_API Interrupted : public std::exception {
 public:
  ~Interrupted() override;
  const char* what() const noexcept override;
};

// Number of threads that evaluate a map, the caller included (creates the
// pool if needed).
OSTREL_RUNTIME_API std::size_t current_num_threads();

// Calls body(begin, end) on disjoint pieces that together cover [0, n), each
// piece evaluated in increasing index order, and returns when all are done.
// An exception thrown by any piece (a FatalError of the kernel) is rethrown
// here once the indices under way have finished; indices not yet started are
// then skipped.  When several fail, the first one caught is reported.
//
// Called from inside a body (or from the wait hook), the range runs inline on
// the current thread.
OSTREL_RUNTIME_API void parallel_for(std::size_t n,
                                     const std::function<void(std::size_t, std::size_t)>& body);

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

// A function that the calling thread of a map runs about every 5 ms: between
// the indices it evaluates itself, and while it waits for the helpers to
// finish theirs.  When poll(context) returns true, the pieces not yet started
// are dropped, the pieces under way are waited for and parallel_for throws
// Interrupted (or what poll threw, if it threw).  It runs on the thread that
// called parallel_for, without any pool lock held; maps it starts run inline.
//
// The hook belongs to the calling thread, not to the pool: a binding that
// holds the interpreter lock during a kernel checks signals differently from
// one that has released it, and both share the one pool.
struct WaitHook {
  bool (*poll)(void* context) = nullptr;
  void* context = nullptr;
};

// Makes `hook` the calling thread's wait hook and returns the previous one.
OSTREL_RUNTIME_API WaitHook exchange_wait_hook(WaitHook hook) noexcept;

// The calling thread's wait hook for the lifetime of the scope.
class WaitHookScope {
 public:
  explicit WaitHookScope(WaitHook hook) noexcept : previous_(exchange_wait_hook(hook)) {}
  ~WaitHookScope() { exchange_wait_hook(previous_); }
  WaitHookScope(const WaitHookScope&) = delete;
  WaitHookScope& operator=(const WaitHookScope&) = delete;

 private:
  WaitHook previous_;
};

}  // namespace ostrel::pool
