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
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::pool {

// Thrown by parallel_for when the wait hook asked to stop.  Deliberately not a
// FatalError: the caller has its own pending reason (a signal) to report.
class Interrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "parallel map interrupted"; }
};

// Number of worker threads of the pool (creates the pool if needed).
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

// Installs (or with nullptr removes) a function that the calling thread runs
// about every 5 ms while it waits for the workers.  When it returns true, the
// pieces not yet started are dropped, the pieces under way are waited for and
// parallel_for throws Interrupted (or what the hook threw, if it threw).  The
// hook runs without any pool lock held; maps it starts run inline.
void set_wait_hook(bool (*poll)());

// ---------------------------------------------------------------------------
// Sizing rules, exposed for testing.
namespace detail {

// A non-empty string of decimal digits that fits a size_t; anything else
// (sign, blank, other characters, overflow) is nullopt.
std::optional<std::size_t> parse_unsigned(std::string_view text);

// W from the values of RAYON_NUM_THREADS and RAYON_RS_NUM_CPUS (nullptr when
// unset) and the number of processors available to the process.
std::size_t decide_num_threads(const char* num_threads, const char* rs_num_cpus,
                               std::size_t available);

// Processors granted by a cgroup v2 "cpu.max" ("max 100000" or
// "<quota> <period>"): ceil(quota/period); nullopt when unlimited or malformed.
std::optional<std::size_t> cpus_from_cpu_max(std::string_view cpu_max);

// The same for cgroup v1 cpu.cfs_quota_us and cpu.cfs_period_us (quota -1 is
// unlimited).
std::optional<std::size_t> cpus_from_cfs(std::string_view quota_us, std::string_view period_us);

struct CgroupDir {
  std::string mount;  // mount point of the hierarchy
  std::string dir;    // the process's cgroup directory below it
};

// Where the process's CPU cgroup lies, from the contents of /proc/self/cgroup
// and /proc/self/mountinfo: the unified (v2) hierarchy when v2 is true, else the
// v1 hierarchy that carries the "cpu" controller.  nullopt when absent.
std::optional<CgroupDir> cgroup_cpu_dir(std::string_view proc_self_cgroup,
                                          std::string_view mountinfo, bool v2);

// Processors available to this process: the affinity mask limited by the
// cgroup CPU quota (of the process's cgroup and its ancestors); 1 when
// nothing can be determined.
std::size_t available_parallelism();

}  // namespace detail
}  // namespace ostrel::pool
