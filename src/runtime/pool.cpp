// The process's worker pool: its creation on first use, its helper threads,
// fork(), the per-thread wait hook, and parallel_for, which runs a map on
// the pool or, when it cannot, on the calling thread alone.
//
// One pool per process.  This file is compiled into the runtime library, a
// shared library that both extension modules (ostrel and
// ostrel_models._kernels) load, so the statics below exist once in the
// process whichever module comes first: one set of helper threads, and the
// thread-count variables read once.
//
// Lifetime.  The pool is allocated on first use and deliberately never freed
// or joined: its threads sleep until the process exits, and no destructor can
// race with them (or with a kernel still running on a daemon thread) at exit.
#include "pool.hpp"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "error.hpp"
#include "processors.hpp"
#include "scheduler.hpp"

namespace ostrel::pool {
namespace detail {

void bookkeeping_failure(const char* what) noexcept {
  std::fprintf(stderr, "ostrel: worker pool bookkeeping failed (%s); aborting\n", what);
  std::fflush(stderr);
  std::abort();
}

namespace {
std::atomic<unsigned long> g_fork_generation{0};
}  // namespace

unsigned long fork_generation() noexcept { return g_fork_generation.load(); }

}  // namespace detail

namespace {

using detail::Body;
using detail::Nanoseconds;
using detail::Pool;

// Positive on helper threads and on a thread inside parallel_for (including
// its wait hook): maps started there run inline instead of waiting on the
// pool they are part of.
thread_local int t_inline_depth = 0;
// The calling thread's wait hook.
thread_local WaitHook t_wait_hook;

struct InlineScope {
  InlineScope() { ++t_inline_depth; }
  ~InlineScope() { --t_inline_depth; }
  InlineScope(const InlineScope&) = delete;
  InlineScope& operator=(const InlineScope&) = delete;
};

// A map on the calling thread alone (W = 1, or the helpers serve another
// caller), in runs as in the pool, so that the hook runs between runs.
void run_alone(std::size_t n, const Body& body, WaitHook hook) {
  if (hook.poll == nullptr) {
    body(0, n);
    return;
  }
  Nanoseconds t = detail::now();
  Nanoseconds next_poll = t + detail::kHookInterval;
  std::uint32_t run = 1;
  for (std::size_t k = 0; k < n;) {
    const std::size_t count = std::min<std::size_t>(run, std::max<std::size_t>((n - k) / 4, 1));
    body(k, k + count);
    k += count;
    const Nanoseconds after = detail::now();
    run = detail::adapt_run(run, after - t);
    t = after;
    if (k < n && t >= next_poll) {
      if (hook.poll(hook.context)) throw Interrupted();
      t = detail::now();
      next_poll = t + detail::kHookInterval;
    }
  }
}

// --- the process's pool -------------------------------------------------------

std::mutex g_create_mutex;
std::atomic<Pool*> g_pool{nullptr};
bool g_creation_failed = false;  // under g_create_mutex
std::string g_creation_error;    // under g_create_mutex

void helper_main(Pool* pool, std::size_t self) noexcept {
  t_inline_depth = 1;
  try {
    pool->serve(self);
  } catch (const std::exception& e) {
    detail::bookkeeping_failure(e.what());
  } catch (...) {
    detail::bookkeeping_failure("unknown exception");
  }
}

// fork(): the child has none of the helpers.  The prepare handler holds the
// creation mutex across the fork, so the child never sees a pool half made;
// the child then forgets the pool and builds a new one on its next map.  The
// old state is leaked, never destroyed: its mutexes and condition variables
// may be in any state from the child's point of view.
void before_fork() { g_create_mutex.lock(); }

void after_fork_in_parent() { g_create_mutex.unlock(); }

void after_fork_in_child() {
  g_pool.store(nullptr);
  g_creation_failed = false;
  detail::g_fork_generation.fetch_add(1);
  g_create_mutex.unlock();
}

[[noreturn]] void fail_creation(std::string message) {
  g_creation_failed = true;
  g_creation_error = std::move(message);
  throw FatalError(g_creation_error);
}

// Starts the helpers with every signal blocked, so that signals meant for the
// process reach the interpreter's thread, not a helper.
Pool* start_pool() {
  static bool fork_handlers_registered = false;
  if (!fork_handlers_registered) {
    if (pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child) != 0) {
      fail_creation("worker pool could not be created: pthread_atfork failed");
    }
    fork_handlers_registered = true;
  }
  const std::size_t width = processors::pool_size_from_environment();
  Pool* pool;
  try {
    pool = new Pool(width);
  } catch (const std::exception& e) {
    fail_creation(std::string("worker pool could not be created: ") + e.what());
  }
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::string failure;
  for (std::size_t self = 1; self < width && failure.empty(); ++self) {
    try {
      std::thread helper(helper_main, pool, self);
      pthread_setname_np(helper.native_handle(), "ostrel-worker");
      helper.detach();
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

std::size_t current_num_threads() { return the_pool()->width(); }

WaitHook exchange_wait_hook(WaitHook hook) noexcept { return std::exchange(t_wait_hook, hook); }

void parallel_for(std::size_t n, const std::function<void(std::size_t, std::size_t)>& body) {
  if (n == 0) return;
  if (t_inline_depth > 0) {
    body(0, n);
    return;
  }
  Pool* pool = the_pool();
  const WaitHook hook = t_wait_hook;
  InlineScope scope;
  std::unique_lock<std::mutex> submit;
  if (pool->width() >= 2) submit = std::unique_lock<std::mutex>(pool->submit_mutex(), std::try_to_lock);
  if (!submit.owns_lock()) {
    run_alone(n, body, hook);
    return;
  }
  for (std::size_t base = 0; base < n; base += detail::kMaxMap) {
    pool->run(base, std::min(detail::kMaxMap, n - base), body, hook);
  }
}

}  // namespace ostrel::pool
