// Worker pool behind the parallel map of the per-bin kernels.
//
// Scheduling.  A map over [0, n) starts as one range.  The first worker to
// wake takes all of it; every other worker that has nothing to do takes the
// upper half of the indices not yet started by the worker that has most of
// them, and its piece can be halved again in turn.  A worker claims the
// indices of its own piece one at a time, from the bottom, so a piece is
// always evaluated in increasing index order, and a thief can take work from
// a worker that is stuck in one expensive index (a Romberg integration that
// runs many more stages than its neighbours).  While all workers are busy the
// range stays in W pieces; it is divided further only by stealing, down to
// single indices at the end.  Every index is evaluated once, by one thread,
// with the same arithmetic whatever the division, so results do not depend on
// W or on the schedule.
//
// All bookkeeping is done under one mutex, taken once per index: an
// evaluation (a set of Romberg integrations) costs far more than that.  Idle
// workers sleep on a condition variable; the calling thread sleeps on another
// until the last index is done and does no evaluations itself, so W is the
// number of evaluating threads.
//
// Lifetime.  The pool is allocated on first use and deliberately never freed
// or joined: its threads sleep until the process exits, and no destructor can
// race with them at exit.  After fork() the child has none of the threads, so
// the child abandons the old state and creates a fresh pool on its next map.
#include "pool.hpp"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "error.hpp"

namespace ostrel::pool {

// ---------------------------------------------------------------------------
// Sizing
namespace detail {

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

std::optional<std::string> read_file(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "re");
  if (f == nullptr) return std::nullopt;
  std::string content;
  char buf[4096];
  std::size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, got);
  std::fclose(f);
  return content;
}

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

}  // namespace detail

// ---------------------------------------------------------------------------
// The pool
namespace {

using Body = std::function<void(std::size_t, std::size_t)>;

[[noreturn]] void bookkeeping_failure(const char* what) noexcept {
  std::fprintf(stderr, "ostrel: worker pool bookkeeping failed (%s); aborting\n", what);
  std::fflush(stderr);
  std::abort();
}

// Positive on pool workers and on a thread inside parallel_for (including its
// wait hook): maps started there run inline instead of waiting on the pool
// they are part of.
thread_local int t_inline_depth = 0;

struct InlineScope {
  InlineScope() { ++t_inline_depth; }
  ~InlineScope() { --t_inline_depth; }
  InlineScope(const InlineScope&) = delete;
  InlineScope& operator=(const InlineScope&) = delete;
};

std::atomic<bool (*)()> g_wait_hook{nullptr};
// Bumped in the child after every fork(): a map that was waiting in the
// forking thread can tell that its workers are gone.
std::atomic<unsigned long> g_fork_generation{0};

constexpr auto kHookInterval = std::chrono::milliseconds(5);

// The indices [next, end) of a piece that no thread has started yet.
struct Range {
  std::size_t next = 0;
  std::size_t end = 0;
  std::size_t left() const { return end - next; }
};

class Pool {
 public:
  explicit Pool(std::size_t workers) : workers_(workers), pieces_(workers) {}

  std::size_t workers() const { return workers_; }
  std::mutex& submit_mutex() { return submit_; }

  // Runs one map; called with submit_mutex() held.
  void run(std::size_t n, const Body& body);

  // The loop of worker `self`; never returns.
  [[noreturn]] void serve(std::size_t self);

  void lock_for_fork() { m_.lock(); }
  void unlock_after_fork() { m_.unlock(); }

 private:
  // --- all under m_ ---
  bool take_piece(std::size_t self);
  void drop_unstarted() {
    whole_ = Range{};
    for (Range& piece : pieces_) piece.end = piece.next;
  }
  bool finished() const { return whole_.left() == 0 && busy_ == 0; }

  const std::size_t workers_;
  std::mutex submit_;  // one map at a time

  std::mutex m_;
  std::condition_variable work_cv_;  // idle workers wait for a map
  std::condition_variable done_cv_;  // the caller waits for the last piece
  bool open_ = false;          // a map is in progress
  Range whole_;                // the map's range until a worker takes it
  std::vector<Range> pieces_;  // piece of each worker
  std::size_t busy_ = 0;       // workers holding a piece
  const Body* body_ = nullptr;
  std::exception_ptr error_;   // first failure of the current map
};

// Gives worker `self` a piece: the whole range if nobody has taken it yet,
// else the upper half of the unstarted indices of the worker that has most of
// them (a single index if that is all it has left).  False if nothing is left.
bool Pool::take_piece(std::size_t self) {
  if (whole_.left() != 0) {
    pieces_[self] = std::exchange(whole_, Range{});
    return true;
  }
  Range* victim = nullptr;
  for (Range& piece : pieces_) {
    if (piece.left() != 0 && (victim == nullptr || piece.left() > victim->left())) victim = &piece;
  }
  if (victim == nullptr) return false;
  const std::size_t mid = victim->next + victim->left() / 2;
  pieces_[self] = Range{mid, victim->end};
  victim->end = mid;
  return true;
}

void Pool::serve(std::size_t self) {
  t_inline_depth = 1;
  std::unique_lock<std::mutex> lock(m_);
  for (;;) {
    // Unstarted indices only shrink during a map, so a worker that finds
    // none sleeps until the next map opens.
    while (!(open_ && take_piece(self))) work_cv_.wait(lock);
    ++busy_;
    Range& piece = pieces_[self];
    while (piece.left() != 0) {
      const std::size_t k = piece.next++;
      lock.unlock();
      try {
        (*body_)(k, k + 1);
        lock.lock();
      } catch (...) {
        lock.lock();
        if (!error_) error_ = std::current_exception();
        drop_unstarted();
      }
    }
    --busy_;
    if (finished()) done_cv_.notify_one();
  }
}

void Pool::run(std::size_t n, const Body& body) {
  const unsigned long generation = g_fork_generation.load();
  std::exception_ptr error;       // first failure of an evaluation
  std::exception_ptr hook_error;  // the wait hook threw
  bool interrupted = false;
  try {
    std::unique_lock<std::mutex> lock(m_);
    body_ = &body;
    error_ = nullptr;
    whole_ = Range{0, n};
    open_ = true;
    work_cv_.notify_all();

    while (!finished()) {
      bool (*hook)() = g_wait_hook.load();
      if (hook == nullptr || interrupted) {
        done_cv_.wait(lock);
        continue;
      }
      done_cv_.wait_for(lock, kHookInterval);
      if (finished()) break;
      lock.unlock();
      bool stop;
      try {
        stop = hook();
      } catch (...) {
        stop = true;
        hook_error = std::current_exception();
      }
      lock.lock();
      if (g_fork_generation.load() != generation) {
        // The hook forked and this is the child: the workers are gone.
        throw FatalError("worker pool lost in fork() during a parallel map");
      }
      if (stop) {
        interrupted = true;
        drop_unstarted();
      }
    }
    open_ = false;
    body_ = nullptr;
    error = std::exchange(error_, nullptr);
  } catch (const FatalError&) {
    throw;
  } catch (const std::exception& e) {
    bookkeeping_failure(e.what());
  }
  // An interruption outranks a failed evaluation: the caller has a pending
  // signal to act on, and the map's result is discarded either way.
  if (hook_error) std::rethrow_exception(hook_error);
  if (interrupted) throw Interrupted();
  if (error) std::rethrow_exception(error);
}

// --- the process's pool ---

std::mutex g_create_mutex;
std::atomic<Pool*> g_pool{nullptr};
bool g_creation_failed = false;  // under g_create_mutex
std::string g_creation_error;    // under g_create_mutex

void worker_main(Pool* pool, std::size_t self) noexcept {
  try {
    pool->serve(self);
  } catch (const std::exception& e) {
    bookkeeping_failure(e.what());
  } catch (...) {
    bookkeeping_failure("unknown exception");
  }
}

// fork() while the pool is idle or busy: the prepare handler holds the pool's
// mutex across the fork, so the child never sees it mid-update; the child
// then forgets the pool (its threads were not copied) and builds a new one on
// its next map.  The old state is leaked, never destroyed: its mutexes and
// condition variables may be in any state from the child's point of view.
void before_fork() {
  g_create_mutex.lock();
  if (Pool* pool = g_pool.load()) pool->lock_for_fork();
}

void after_fork_in_parent() {
  if (Pool* pool = g_pool.load()) pool->unlock_after_fork();
  g_create_mutex.unlock();
}

void after_fork_in_child() {
  if (Pool* pool = g_pool.load()) pool->unlock_after_fork();
  g_pool.store(nullptr);
  g_creation_failed = false;
  g_fork_generation.fetch_add(1);
  g_create_mutex.unlock();
}

[[noreturn]] void fail_creation(std::string message) {
  g_creation_failed = true;
  g_creation_error = std::move(message);
  throw FatalError(g_creation_error);
}

// Starts the workers with every signal blocked, so that signals meant for the
// process reach the interpreter's thread, not a worker.
Pool* start_pool() {
  static bool fork_handlers_registered = false;
  if (!fork_handlers_registered) {
    if (pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child) != 0) {
      fail_creation("worker pool could not be created: pthread_atfork failed");
    }
    fork_handlers_registered = true;
  }
  const std::size_t workers = detail::decide_num_threads(
      std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"),
      detail::available_parallelism());
  Pool* pool;
  try {
    pool = new Pool(workers);
  } catch (const std::exception& e) {
    fail_creation(std::string("worker pool could not be created: ") + e.what());
  }
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::string failure;
  for (std::size_t k = 0; k < workers && failure.empty(); ++k) {
    try {
      std::thread worker(worker_main, pool, k);
      pthread_setname_np(worker.native_handle(), "ostrel-worker");
      worker.detach();
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  // On failure the threads already started keep sleeping on the leaked pool.
  if (!failure.empty()) fail_creation("worker pool could not be created: " + failure);
  return pool;
}

Pool* the_pool() {
  if (Pool* pool = g_pool.load(std::memory_order_acquire)) return pool;
  std::lock_guard<std::mutex> lock(g_create_mutex);
  if (Pool* pool = g_pool.load(std::memory_order_relaxed)) return pool;
  if (g_creation_failed) throw FatalError(g_creation_error);
  Pool* pool = start_pool();
  g_pool.store(pool, std::memory_order_release);
  return pool;
}

}  // namespace

std::size_t current_num_threads() { return the_pool()->workers(); }

void set_wait_hook(bool (*poll)()) { g_wait_hook.store(poll); }

void parallel_for(std::size_t n, const std::function<void(std::size_t, std::size_t)>& body) {
  if (n == 0) return;
  if (t_inline_depth > 0) {
    body(0, n);
    return;
  }
  Pool* pool = the_pool();
  std::unique_lock<std::mutex> submit;
  try {
    submit = std::unique_lock<std::mutex>(pool->submit_mutex());
  } catch (const std::exception& e) {
    bookkeeping_failure(e.what());
  }
  InlineScope scope;
  pool->run(n, body);
}

}  // namespace ostrel::pool
