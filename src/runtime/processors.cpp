// Processors available to the process and the size of the worker pool.
//
// The affinity mask gives the processors the scheduler may use; a cgroup CPU
// quota (v2 "cpu.max", v1 "cpu.cfs_quota_us"/"cpu.cfs_period_us") on the
// process's cgroup or any ancestor caps the CPU time to ceil(quota/period)
// processors' worth, which is all a pool of that many threads can use.
#include "processors.hpp"

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>

namespace ostrel::processors {

std::optional<std::size_t> parse_unsigned(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::size_t value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    const auto digit = static_cast<std::size_t>(ch - '0');
    if (value > (std::numeric_limits<std::size_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::size_t decide_num_threads(const char* num_threads, const char* rs_num_cpus,
                               std::size_t available) {
  const std::size_t fallback = available >= 1 ? available : 1;
  if (num_threads != nullptr) {
    if (auto w = parse_unsigned(num_threads)) return *w >= 1 ? *w : fallback;
  }
  if (rs_num_cpus != nullptr) {
    if (auto w = parse_unsigned(rs_num_cpus); w && *w >= 1) return *w;
  }
  return fallback;
}

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

// ceil(quota / period) for positive quota and period, at least 1.
std::optional<std::size_t> quota_cpus(std::string_view quota, std::string_view period) {
  auto q = parse_unsigned(quota);
  auto p = parse_unsigned(period);
  if (!q || !p || *q == 0 || *p == 0) return std::nullopt;
  return *q / *p + (*q % *p != 0 ? 1 : 0);
}

// Splits off the next line (without its newline) from text.
std::string_view next_line(std::string_view& text) {
  const std::size_t eol = text.find('\n');
  std::string_view line = text.substr(0, eol);
  text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
  return line;
}

// Splits off the next field separated by sep.
std::string_view next_field(std::string_view& text, char sep) {
  const std::size_t pos = text.find(sep);
  std::string_view field = text.substr(0, pos);
  text.remove_prefix(pos == std::string_view::npos ? text.size() : pos + 1);
  return field;
}

bool has_list_item(std::string_view list, std::string_view item) {
  while (!list.empty()) {
    if (next_field(list, ',') == item) return true;
  }
  return false;
}

// mountinfo writes blanks and backslashes in paths as octal escapes (\040).
std::string unescape_octal(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      const char a = s[i + 1], b = s[i + 2], c = s[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
        i += 3;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

}  // namespace

std::optional<std::size_t> cpus_from_cpu_max(std::string_view cpu_max) {
  std::string_view rest = trim(cpu_max);
  const std::string_view quota = next_field(rest, ' ');
  return quota_cpus(quota, trim(rest));
}

std::optional<std::size_t> cpus_from_cfs(std::string_view quota_us, std::string_view period_us) {
  return quota_cpus(trim(quota_us), trim(period_us));
}

std::optional<CgroupDir> cgroup_cpu_dir(std::string_view proc_self_cgroup,
                                        std::string_view mountinfo, bool v2) {
  // The process's path inside the hierarchy: "0::<path>" for the unified
  // hierarchy, "<id>:<controllers>:<path>" with "cpu" among the controllers
  // for v1.
  std::optional<std::string_view> path;
  for (std::string_view text = proc_self_cgroup; !text.empty();) {
    std::string_view line = next_line(text);
    const std::string_view id = next_field(line, ':');
    const std::string_view controllers = next_field(line, ':');
    if (v2 ? (id == "0" && controllers.empty()) : has_list_item(controllers, "cpu")) {
      path = line;
      break;
    }
  }
  if (!path) return std::nullopt;

  // The mount of that hierarchy: "<id> <parent> <dev> <root> <mount point>
  // <options> [optional fields] - <fs type> <source> <super options>".
  for (std::string_view text = mountinfo; !text.empty();) {
    std::string_view line = next_line(text);
    const std::size_t dash = line.find(" - ");
    if (dash == std::string_view::npos) continue;
    std::string_view tail = line.substr(dash + 3);
    const std::string_view fs_type = next_field(tail, ' ');
    next_field(tail, ' ');  // source
    const std::string_view super_options = trim(tail);
    const bool wanted = v2 ? fs_type == "cgroup2"
                           : fs_type == "cgroup" && has_list_item(super_options, "cpu");
    if (!wanted) continue;
    std::string_view head = line.substr(0, dash);
    for (int k = 0; k < 3; ++k) next_field(head, ' ');
    const std::string root = unescape_octal(next_field(head, ' '));
    const std::string mount = unescape_octal(next_field(head, ' '));
    // The process path relative to the mount's root ("/" mounts everything).
    std::string_view relative = *path;
    if (root != "/") {
      if (relative.substr(0, root.size()) != root) return std::nullopt;
      relative.remove_prefix(root.size());
      if (!relative.empty() && relative.front() != '/') return std::nullopt;
    }
    std::string dir = mount;
    if (relative != "/") dir += relative;
    return CgroupDir{mount, dir};
  }
  return std::nullopt;
}

namespace {

// Closes the file when the reading ends, also when appending to the string
// throws (bad_alloc on a huge or endless pseudo-file).
struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string parent_dir(const std::string& dir) {
  const std::size_t slash = dir.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : dir.substr(0, slash);
}

// The smallest quota on the way from the process's cgroup up to the root of
// its hierarchy (a parent's limit binds its children too).
template <class QuotaAt>
std::optional<std::size_t> smallest_quota(const CgroupDir& where, QuotaAt quota_at) {
  std::optional<std::size_t> best;
  std::string dir = where.dir;
  for (;;) {
    if (auto cpus = quota_at(dir); cpus && (!best || *cpus < *best)) best = cpus;
    if (dir.size() <= where.mount.size()) break;
    dir = parent_dir(dir);
  }
  return best;
}

std::size_t affinity_count() {
  for (int ncpu = CPU_SETSIZE; ncpu <= (1 << 20); ncpu *= 2) {
    cpu_set_t* set = CPU_ALLOC(ncpu);
    if (set == nullptr) break;
    const std::size_t size = CPU_ALLOC_SIZE(ncpu);
    CPU_ZERO_S(size, set);
    if (sched_getaffinity(0, size, set) == 0) {
      const int count = CPU_COUNT_S(size, set);
      CPU_FREE(set);
      return count > 0 ? static_cast<std::size_t>(count) : 0;
    }
    const int err = errno;
    CPU_FREE(set);
    if (err != EINVAL) break;  // EINVAL: the kernel's mask is larger, retry
  }
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<std::size_t>(online) : 0;
}

}  // namespace

std::optional<std::string> read_file(const std::string& path) {
  File f(std::fopen(path.c_str(), "re"));
  if (!f) return std::nullopt;
  std::string content;
  char buf[4096];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) content.append(buf, got);
  return content;
}

std::size_t available_parallelism() {
  std::size_t cpus = affinity_count();
  const auto self_cgroup = read_file("/proc/self/cgroup");
  const auto mountinfo = read_file("/proc/self/mountinfo");
  if (self_cgroup && mountinfo) {
    std::optional<std::size_t> quota;
    auto tighten = [&](std::optional<std::size_t> q) {
      if (q && (!quota || *q < *quota)) quota = q;
    };
    if (auto where = cgroup_cpu_dir(*self_cgroup, *mountinfo, true)) {
      tighten(smallest_quota(*where, [](const std::string& dir) -> std::optional<std::size_t> {
        auto text = read_file(dir + "/cpu.max");
        return text ? cpus_from_cpu_max(*text) : std::nullopt;
      }));
    }
    if (auto where = cgroup_cpu_dir(*self_cgroup, *mountinfo, false)) {
      tighten(smallest_quota(*where, [](const std::string& dir) -> std::optional<std::size_t> {
        auto q = read_file(dir + "/cpu.cfs_quota_us");
        auto p = read_file(dir + "/cpu.cfs_period_us");
        return q && p ? cpus_from_cfs(*q, *p) : std::nullopt;
      }));
    }
    if (quota && (cpus == 0 || *quota < cpus)) cpus = *quota;
  }
  return cpus >= 1 ? cpus : 1;
}

std::size_t pool_size_from_environment() {
  return decide_num_threads(std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"),
                            available_parallelism());
}

}  // namespace ostrel::processors
