// How many worker threads the pool gets: the two environment variables that
// size it and the processors available to the process (affinity mask, cgroup
// CPU quota).  Internal to the library; the pure parsing steps are exposed so
// that they can be tested on text instead of on the machine's own files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::processors {

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

// The whole content of a file, or nullopt when it cannot be opened.
std::optional<std::string> read_file(const std::string& path);

// Processors available to this process: the affinity mask limited by the
// cgroup CPU quota (of the process's cgroup and its ancestors); 1 when
// nothing can be determined.
std::size_t available_parallelism();

// W for a pool created now: the environment first, then the processors.
std::size_t pool_size_from_environment();

}  // namespace ostrel::processors
