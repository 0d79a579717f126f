// Worker pool behind the parallel map of the per-bin kernels.
//
// Who evaluates.  The thread that calls parallel_for takes part in its map:
// with W = 1 it evaluates every index itself and nothing is handed to another
// thread; with W >= 2 the pool's W - 1 helper threads join it.  A map costs
// the caller no thread wake-up of its own, only (when helpers are parked and
// the map is worth it) one notification.
//
// Scheduling.  A map over [0, n) starts as one piece, owned by the caller.
// Each thread claims the indices of its own piece from the bottom, in runs
// (below), so a piece is always evaluated in increasing index order.  A thread
// whose piece is empty takes the upper half of the unstarted indices of the
// piece that has most of them (a single index if that is all it has left),
// and its piece can be halved again in turn.  While all threads are busy the
// range stays in W pieces; it is divided further only by stealing, down to
// single indices at the end, so that a thread stuck in one expensive index (a
// Romberg integration that runs many more stages than its neighbours) loses
// the rest of its piece to the others.  Only pieces worth splitting are
// split: by the cost per index of the last map of the same body, their
// unstarted indices must amount to kStealWorth of work (any piece while that
// cost is not known).  Every index is evaluated once, by one
// thread, with the same arithmetic whatever the division, so results do not
// depend on W or on the schedule.
//
// Bookkeeping without locks.  A piece is one 64-bit word holding its next
// unstarted index and its end (32 bits each, relative to the start of the
// map); claiming indices and stealing half a piece are compare-and-swaps on
// that word, so each index is handed out exactly once.  Maps of more than
// 2^32 - 1 indices run as several consecutive maps.
//
// Runs.  A thread claims one index at first and doubles the run while a run
// takes less than kRunTime, halving it when one takes much longer: expensive
// indices (Romberg integrations, micro- to milliseconds) are claimed one at a
// time and stay available to thieves, while cheap ones (a cooling rate, a few
// to tens of ns) are claimed up to hundreds at once, so that neither the
// claim nor the clock read after each run costs more than a few per cent.  A
// run never takes more than a quarter of the unstarted indices of its piece:
// where cheap indices give way to expensive ones (the Klein-Nishina rows of
// a cooling grid above the Thomson ones), the run claimed at the change holds
// at most that share of the expensive ones, and the rest stays for thieves
// and for the wait hook's turn.
//
// A map's life.  The caller fills the pieces and publishes the map by bumping
// the pool's state word (2 x generation + 1 while the map is open).  A
// helper registers in `active_` and then checks that the state is still the
// one it saw; the caller, once no piece has unstarted indices, closes the map
// (state 2 x generation) and then waits until `active_` is 0.  Both sides
// write first and read the other's word second (sequentially consistent), so
// either the helper sees the map closed and touches nothing, or the caller
// sees the helper and waits for it: a helper never works on a map that has
// ended, and the 64-bit generation never repeats.
//
// Spinning and parking.  Between maps a helper spins for a short, bounded
// time (kSpinTime) watching the state word, so that maps called back to back
// find it awake; then it parks on a condition variable.  The caller wakes
// parked helpers only when the map is worth the wake-up, that is when the
// time it would take the caller alone exceeds kWakeWorth (kStreamWakeWorth
// when the previous map ended within a spin time, as in a stream of maps
// called back to back: once woken, the helpers stay awake for the maps that
// follow): at once when the last map of the same body (the same kernel) said
// so, or when there was none; otherwise as soon as its own runs, timed as
// they go, say so.  A map of a few microseconds is thus done by the caller
// alone while a woken helper would still be on its way, and a map of a few
// expensive indices does not wait for the end of its first index to be
// shared.  The caller waits for
// the helpers' last indices the same way, spinning briefly, then parking.  Every park is
// announced in an atomic counter or flag before the parked condition is
// checked under the park mutex, and every notifier writes its own word before
// reading that announcement, so no wake-up is lost.
//
// Wait hook.  The caller runs it about every 5 ms: between its own runs of
// indices, and every 5 ms while it is parked.
//
// Concurrent callers.  One map at a time uses the helpers; a caller that finds
// them taken runs its map alone on its own thread (as with W = 1), so callers
// on several threads never wait for each other.
//
// Lifetime.  The pool is allocated on first use and deliberately never freed
// or joined: its threads sleep until the process exits, and no destructor can
// race with them at exit.  After fork() the child has none of the helpers, so
// it abandons the old state and creates a fresh pool on its next map.
#include "pool.hpp"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <typeinfo>
#include <utility>

#include "error.hpp"
#include "processors.hpp"

namespace ostrel::pool {
namespace {

using Body = std::function<void(std::size_t, std::size_t)>;

[[noreturn]] void bookkeeping_failure(const char* what) noexcept {
  std::fprintf(stderr, "ostrel: worker pool bookkeeping failed (%s); aborting\n", what);
  std::fflush(stderr);
  std::abort();
}

// Positive on helper threads and on a thread inside parallel_for (including
// its wait hook): maps started there run inline instead of waiting on the
// pool they are part of.
thread_local int t_inline_depth = 0;

struct InlineScope {
  InlineScope() { ++t_inline_depth; }
  ~InlineScope() { --t_inline_depth; }
  InlineScope(const InlineScope&) = delete;
  InlineScope& operator=(const InlineScope&) = delete;
};

std::atomic<bool (*)()> g_wait_hook{nullptr};
// Bumped in the child after every fork(): a map that was under way in the
// forking thread can tell that its helpers are gone.
std::atomic<unsigned long> g_fork_generation{0};

// --- time -------------------------------------------------------------------

using Nanoseconds = std::int64_t;

// Interval of the wait hook.
constexpr Nanoseconds kHookInterval = 5'000'000;
// How long an idle helper, or a caller waiting for the helpers, spins before
// it parks.  Longer than the gap between maps called back to back from Python
// (argument and result conversion, a few microseconds to tens), short enough
// that an idle process uses next to no CPU: at most this much per map and
// helper.
constexpr Nanoseconds kSpinTime = 100'000;
// Of the spin, the part that pauses the processor only; the rest yields it to
// other runnable threads between looks.  Short: the machine may have more
// threads runnable than processors, and the thread this one waits for may
// share its processor (a woken thread is often placed beside its waker).
constexpr Nanoseconds kPauseOnlyTime = 5'000;
// Remaining work of the caller above which parked helpers are woken: several
// times a wake-up, which costs the caller a few microseconds and takes tens
// before the helper runs.
constexpr Nanoseconds kWakeWorth = 100'000;
// The same for a map that follows the previous one within kSpinTime.
constexpr Nanoseconds kStreamWakeWorth = 20'000;
// Time the caller must have spent on its map before the estimate is trusted:
// the first indices after a pause run on cold caches and can take a
// microsecond each even when the next ones take nanoseconds.
constexpr Nanoseconds kWakeEstimateAfter = 10'000;
// A piece is split by a thief only if its unstarted indices are worth this
// much work (by the cost per index of the last map of the same body): a
// thief that takes half of a few microseconds of work, arriving with cold
// caches, ends later than the owner would have.
constexpr Nanoseconds kStealWorth = 10'000;
// A run of indices claimed at once is doubled while it takes less than this,
// up to kMaxRun indices, and halved when it takes more than 4 x this.
constexpr Nanoseconds kRunTime = 2'000;
constexpr std::uint32_t kMaxRun = 4096;

// The length of the next run of a thread, from the time its last run took.
std::uint32_t adapt_run(std::uint32_t run, Nanoseconds took) {
  if (took < kRunTime) return run < kMaxRun ? 2 * run : run;
  if (took > 4 * kRunTime) return run > 1 ? run / 2 : run;
  return run;
}

Nanoseconds now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// Spins until ready() or until the spin time is over; true if ready.
template <class Ready>
bool spin_until(Ready ready) {
  const Nanoseconds start = now();
  for (unsigned round = 1;; ++round) {
    if (ready()) return true;
    if (round % 64 == 0) {
      const Nanoseconds spent = now() - start;
      if (spent >= kSpinTime) return false;
      if (spent >= kPauseOnlyTime) std::this_thread::yield();
    }
    cpu_relax();
  }
}

// --- pieces -----------------------------------------------------------------

// A piece of the range: unstarted indices [next, end) relative to the start
// of the map, packed into one word (next low, end high).
using Piece = std::uint64_t;
constexpr std::size_t kMaxMap = 0xFFFF'FFFF;

constexpr Piece pack(std::uint32_t next, std::uint32_t end) {
  return static_cast<Piece>(end) << 32 | next;
}
constexpr std::uint32_t next_of(Piece p) { return static_cast<std::uint32_t>(p); }
constexpr std::uint32_t end_of(Piece p) { return static_cast<std::uint32_t>(p >> 32); }
constexpr std::uint32_t left_of(Piece p) { return end_of(p) > next_of(p) ? end_of(p) - next_of(p) : 0; }

// One piece per thread, each on its own cache line so that claims of
// different threads do not contend.
struct alignas(64) Slot {
  std::atomic<Piece> piece{0};
};

// --- the pool ---------------------------------------------------------------

class Pool {
 public:
  explicit Pool(std::size_t width)
      : width_(width), slots_(std::make_unique<Slot[]>(width)) {}

  std::size_t width() const { return width_; }
  std::mutex& submit_mutex() { return submit_; }

  // Runs body on [base, base + n), n <= kMaxMap; the caller is thread 0 and
  // holds submit_mutex().
  void run(std::size_t base, std::size_t n, const Body& body);

  // The loop of helper `self` (1 .. W-1); never returns.
  [[noreturn]] void serve(std::size_t self);

 private:
  bool claim(std::size_t self, std::uint32_t run, std::uint32_t& k, std::uint32_t& count);
  bool steal(std::size_t self);
  // The next run of at most `run` indices [k, k + count) of thread self.
  bool next_run(std::size_t self, std::uint32_t run, std::uint32_t& k, std::uint32_t& count) {
    for (;;) {
      if (claim(self, run, k, count)) return true;
      if (!steal(self)) return false;
    }
  }
  void evaluate(std::uint32_t k, std::uint32_t count) noexcept;
  void drop_unstarted();
  void leave();
  void wake_helpers();
  Piece wait_for_map(Piece seen);

  const std::size_t width_;
  std::unique_ptr<Slot[]> slots_;  // slot 0 is the caller's
  std::mutex submit_;              // one map at a time uses the helpers

  // The map under way.  body_ and base_ are written by the caller before it
  // opens the map and read by helpers after they have seen it open.
  alignas(64) std::atomic<Piece> state_{0};  // 2 x generation, + 1 while open
  std::atomic<std::size_t> active_{0};       // helpers registered in the open map
  std::atomic<bool> stop_{false};            // unstarted indices are dropped
  std::atomic<std::uint32_t> min_split_{1};  // fewest unstarted indices a thief splits
  const Body* body_ = nullptr;
  std::size_t base_ = 0;
  std::mutex error_mutex_;
  std::exception_ptr error_;  // first failure of an evaluation

  // Cost per index of the last maps, by the type of their body (each kernel's
  // lambda has its own); used by the caller only, under submit_.
  struct CostMemo {
    const std::type_info* body_type = nullptr;
    double per_index = 0;  // ns
  };
  std::array<CostMemo, 16> costs_{};
  Nanoseconds last_map_end_ = 0;  // when the caller of the last map left it

  // Parking.
  alignas(64) std::mutex park_;
  std::condition_variable helpers_cv_;  // parked helpers wait for a map
  std::condition_variable caller_cv_;   // the caller waits for active_ == 0
  std::atomic<std::size_t> parked_helpers_{0};
  std::atomic<bool> caller_parked_{false};
};

// The next indices of thread self's own piece, at most `run` of them; false
// if the piece is empty or the map was stopped.
bool Pool::claim(std::size_t self, std::uint32_t run, std::uint32_t& k, std::uint32_t& count) {
  std::atomic<Piece>& slot = slots_[self].piece;
  Piece p = slot.load(std::memory_order_relaxed);
  for (;;) {
    if (left_of(p) == 0 || stop_.load(std::memory_order_relaxed)) return false;
    const std::uint32_t take = std::min(run, std::max<std::uint32_t>(left_of(p) / 4, 1));
    if (slot.compare_exchange_weak(p, pack(next_of(p) + take, end_of(p)),
                                   std::memory_order_acq_rel, std::memory_order_relaxed)) {
      k = next_of(p);
      count = take;
      return true;
    }
  }
}

// Moves the upper half of the largest other piece (its last index if it has
// one left) into thread self's empty piece; false if every piece is empty.
bool Pool::steal(std::size_t self) {
  const std::uint32_t min_split = min_split_.load(std::memory_order_relaxed);
  for (;;) {
    if (stop_.load(std::memory_order_relaxed)) return false;
    std::size_t victim = width_;
    Piece seen = 0;
    for (std::size_t t = 0; t < width_; ++t) {
      if (t == self) continue;
      const Piece p = slots_[t].piece.load(std::memory_order_relaxed);
      if (left_of(p) > left_of(seen) && left_of(p) >= min_split) {
        victim = t;
        seen = p;
      }
    }
    if (victim == width_) return false;
    const std::uint32_t mid = next_of(seen) + left_of(seen) / 2;
    if (slots_[victim].piece.compare_exchange_strong(seen, pack(next_of(seen), mid),
                                                     std::memory_order_acq_rel,
                                                     std::memory_order_relaxed)) {
      // Only this thread refills its own piece; while it was empty no thief
      // could have chosen it.
      slots_[self].piece.store(pack(mid, end_of(seen)), std::memory_order_release);
      return true;
    }
  }
}

void Pool::evaluate(std::uint32_t k, std::uint32_t count) noexcept {
  try {
    (*body_)(base_ + k, base_ + k + count);
  } catch (...) {
    try {
      std::lock_guard<std::mutex> lock(error_mutex_);
      if (!error_) error_ = std::current_exception();
    } catch (const std::exception& e) {
      bookkeeping_failure(e.what());
    }
    drop_unstarted();
  }
}

void Pool::drop_unstarted() {
  stop_.store(true, std::memory_order_relaxed);
  for (std::size_t t = 0; t < width_; ++t) {
    std::atomic<Piece>& slot = slots_[t].piece;
    Piece p = slot.load(std::memory_order_relaxed);
    while (left_of(p) != 0 &&
           !slot.compare_exchange_weak(p, pack(next_of(p), next_of(p)), std::memory_order_acq_rel,
                                       std::memory_order_relaxed)) {
    }
  }
}

// A helper is done with the map (or found it closed): the last one out wakes
// a parked caller.
void Pool::leave() {
  if (active_.fetch_sub(1, std::memory_order_seq_cst) == 1 &&
      caller_parked_.load(std::memory_order_seq_cst)) {
    { std::lock_guard<std::mutex> lock(park_); }
    caller_cv_.notify_one();
  }
}

void Pool::wake_helpers() {
  if (parked_helpers_.load(std::memory_order_seq_cst) == 0) return;
  { std::lock_guard<std::mutex> lock(park_); }
  helpers_cv_.notify_all();
}

// A state other than `seen`: spins, then parks until the caller opens a map.
Piece Pool::wait_for_map(Piece seen) {
  Piece s = seen;
  if (spin_until([&] { return (s = state_.load(std::memory_order_acquire)) != seen; })) return s;
  parked_helpers_.fetch_add(1, std::memory_order_seq_cst);
  {
    std::unique_lock<std::mutex> lock(park_);
    while ((s = state_.load(std::memory_order_seq_cst)) == seen) helpers_cv_.wait(lock);
  }
  parked_helpers_.fetch_sub(1, std::memory_order_relaxed);
  return s;
}

void Pool::serve(std::size_t self) {
  t_inline_depth = 1;
  Piece seen = 0;
  for (;;) {
    const Piece s = wait_for_map(seen);
    seen = s;
    if ((s & 1) == 0) continue;  // a map opened and closed while this helper looked away
    active_.fetch_add(1, std::memory_order_seq_cst);
    if (state_.load(std::memory_order_seq_cst) == s) {
      std::uint32_t run = 1, k, count;
      Nanoseconds t = now();
      while (next_run(self, run, k, count)) {
        evaluate(k, count);
        const Nanoseconds after = now();
        run = adapt_run(run, after - t);
        t = after;
      }
    }
    leave();
  }
}

void Pool::run(std::size_t base, std::size_t n, const Body& body) {
  const unsigned long fork_generation = g_fork_generation.load();
  std::exception_ptr hook_error;  // the wait hook threw
  bool interrupted = false;

  // Runs the hook when it is due at time t; drops the unstarted indices when
  // it asks to stop.
  Nanoseconds next_poll = now() + kHookInterval;
  auto poll_hook = [&](Nanoseconds t) {
    if (interrupted || t < next_poll) return;
    bool (*hook)() = g_wait_hook.load(std::memory_order_relaxed);
    if (hook == nullptr) return;
    bool stop;
    try {
      stop = hook();
    } catch (...) {
      stop = true;
      hook_error = std::current_exception();
    }
    if (g_fork_generation.load() != fork_generation) {
      // The hook forked and this is the child: the helpers are gone.
      throw FatalError("worker pool lost in fork() during a parallel map");
    }
    if (stop) {
      interrupted = true;
      drop_unstarted();
    }
    next_poll = now() + kHookInterval;
  };

  const std::type_info& body_type = body.target_type();
  // By address: cheaper than hashing the type's name, and the same body type
  // seen through another address at worst counts as unknown.
  CostMemo& memo = costs_[(reinterpret_cast<std::uintptr_t>(&body_type) >> 4) % costs_.size()];
  const bool known = memo.body_type == &body_type && memo.per_index > 0;
  const double worth_splitting = known ? kStealWorth / memo.per_index : 1.0;

  body_ = &body;
  base_ = base;
  error_ = nullptr;
  stop_.store(false, std::memory_order_relaxed);
  min_split_.store(static_cast<std::uint32_t>(std::clamp(worth_splitting, 1.0, 4e9)),
                   std::memory_order_relaxed);
  slots_[0].piece.store(pack(0, static_cast<std::uint32_t>(n)), std::memory_order_relaxed);
  for (std::size_t t = 1; t < width_; ++t) slots_[t].piece.store(0, std::memory_order_relaxed);
  const Piece open = state_.load(std::memory_order_relaxed) + 3;  // next generation, open
  state_.store(open, std::memory_order_seq_cst);

  // The caller's share: its own piece, then what it can steal.  Spinning
  // helpers join on their own; parked ones are woken once the estimated rest
  // of the caller's work is worth it.
  const Nanoseconds start = now();
  const Nanoseconds worth = start - last_map_end_ < kSpinTime ? kStreamWakeWorth : kWakeWorth;
  bool woken = false;
  if (!known || memo.per_index * static_cast<double>(n) >= worth) {
    wake_helpers();
    woken = true;
  }
  Nanoseconds t = start;
  std::size_t done = 0;
  std::uint32_t run = 1, k, count;
  auto evaluate_run = [&] {
    evaluate(k, count);
    const Nanoseconds after = now();
    run = adapt_run(run, after - t);
    t = after;
    done += count;
    poll_hook(t);
  };
  while (next_run(0, run, k, count)) {
    evaluate_run();
    if (!woken && t - start >= kWakeEstimateAfter) {
      const double per_index = static_cast<double>(t - start) / static_cast<double>(done);
      const std::uint32_t left = left_of(slots_[0].piece.load(std::memory_order_relaxed));
      if (per_index * left >= worth) {
        wake_helpers();
        woken = true;
      }
    }
  }

  if (done != 0) memo = CostMemo{&body_type, static_cast<double>(t - start) / static_cast<double>(done)};

  // Nothing unstarted is left outside the pieces of registered helpers: close
  // the map and wait for them, taking over what they have not started.
  state_.store(open - 1, std::memory_order_seq_cst);
  auto helpers_done = [&] { return active_.load(std::memory_order_acquire) == 0; };
  // Whether a helper's piece has indices to spare; looked at now and then
  // only, not to pull the helpers' cache lines away from them at every turn.
  unsigned looks = 0;
  const std::uint32_t min_split = std::max<std::uint32_t>(min_split_.load(std::memory_order_relaxed), 2);
  auto stealable = [&] {
    if (++looks % 16 != 0) return false;
    for (std::size_t h = 1; h < width_; ++h) {
      if (left_of(slots_[h].piece.load(std::memory_order_relaxed)) >= min_split) return true;
    }
    return false;
  };
  while (!helpers_done()) {
    if (next_run(0, run, k, count)) {
      evaluate_run();
      continue;
    }
    if (spin_until([&] { return helpers_done() || stealable(); })) {
      t = now();
      continue;
    }
    try {
      caller_parked_.store(true, std::memory_order_seq_cst);
      std::unique_lock<std::mutex> lock(park_);
      while (active_.load(std::memory_order_seq_cst) != 0) {
        const Nanoseconds due = g_wait_hook.load() != nullptr && !interrupted
                                    ? std::max<Nanoseconds>(next_poll - now(), 0)
                                    : kHookInterval;
        if (caller_cv_.wait_for(lock, std::chrono::nanoseconds(due)) == std::cv_status::timeout) {
          lock.unlock();
          if (g_fork_generation.load() != fork_generation) {
            throw FatalError("worker pool lost in fork() during a parallel map");
          }
          poll_hook(now());
          lock.lock();
        }
      }
    } catch (const std::system_error& e) {
      bookkeeping_failure(e.what());
    }
    caller_parked_.store(false, std::memory_order_relaxed);
    t = now();
  }
  // Every helper that saw the map has left it: body_ may now be reused.
  body_ = nullptr;
  last_map_end_ = now();

  // An interruption outranks a failed evaluation: the caller has a pending
  // signal to act on, and the map's result is discarded either way.
  if (hook_error) std::rethrow_exception(hook_error);
  if (interrupted) throw Interrupted();
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

// A map on the calling thread alone (W = 1, or the helpers serve another
// caller), in runs as in the pool, so that the hook runs between runs.
void run_alone(std::size_t n, const Body& body) {
  if (g_wait_hook.load(std::memory_order_relaxed) == nullptr) {
    body(0, n);
    return;
  }
  Nanoseconds t = now();
  Nanoseconds next_poll = t + kHookInterval;
  std::uint32_t run = 1;
  for (std::size_t k = 0; k < n;) {
    const std::size_t count = std::min<std::size_t>(run, std::max<std::size_t>((n - k) / 4, 1));
    body(k, k + count);
    k += count;
    const Nanoseconds after = now();
    run = adapt_run(run, after - t);
    t = after;
    if (k < n && t >= next_poll) {
      bool (*hook)() = g_wait_hook.load(std::memory_order_relaxed);
      if (hook != nullptr && hook()) throw Interrupted();
      t = now();
      next_poll = t + kHookInterval;
    }
  }
}

// --- the process's pool -------------------------------------------------------

std::mutex g_create_mutex;
std::atomic<Pool*> g_pool{nullptr};
bool g_creation_failed = false;  // under g_create_mutex
std::string g_creation_error;    // under g_create_mutex

void helper_main(Pool* pool, std::size_t self) noexcept {
  try {
    pool->serve(self);
  } catch (const std::exception& e) {
    bookkeeping_failure(e.what());
  } catch (...) {
    bookkeeping_failure("unknown exception");
  }
}

// fork(): the prepare handler holds the creation mutex across the fork, so the
// child never sees a pool half made; the child then forgets the pool (its
// threads were not copied) and builds a new one on its next map.  The old
// state is leaked, never destroyed: its mutexes and condition variables may
// be in any state from the child's point of view.
void before_fork() { g_create_mutex.lock(); }

void after_fork_in_parent() { g_create_mutex.unlock(); }

void after_fork_in_child() {
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

void set_wait_hook(bool (*poll)()) { g_wait_hook.store(poll); }

void parallel_for(std::size_t n, const std::function<void(std::size_t, std::size_t)>& body) {
  if (n == 0) return;
  if (t_inline_depth > 0) {
    body(0, n);
    return;
  }
  Pool* pool = the_pool();
  InlineScope scope;
  std::unique_lock<std::mutex> submit;
  if (pool->width() >= 2) submit = std::unique_lock<std::mutex>(pool->submit_mutex(), std::try_to_lock);
  if (!submit.owns_lock()) {
    run_alone(n, body);
    return;
  }
  for (std::size_t base = 0; base < n; base += kMaxMap) {
    pool->run(base, std::min(kMaxMap, n - base), body);
  }
}

}  // namespace ostrel::pool
