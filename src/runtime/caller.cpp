// The caller's side of a map: opening it, evaluating its own share, waking
// parked helpers when the map is worth it, waiting for the helpers' last
// indices, and running the wait hook.
#include <algorithm>
#include <system_error>
#include <utility>

#include "error.hpp"
#include "scheduler.hpp"
#include "spin.hpp"

namespace ostrel::pool::detail {
namespace {

// Waking.  The caller wakes parked helpers only when the map is worth the
// wake-up, that is when the time it would take the caller alone exceeds
// kWakeWorth (kStreamWakeWorth when the previous map ended within a spin
// time, as in a stream of maps called back to back: once woken, the helpers
// stay awake for the maps that follow): at once when the last map of the same
// body (the same kernel) said so, or when there was none; otherwise as soon
// as its own runs, timed as they go, say so.  A map of a few microseconds is
// thus done by the caller alone while a woken helper would still be on its
// way, and a map of a few expensive indices does not wait for the end of its
// first index to be shared.
//
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

[[noreturn]] void fail_lost_in_fork() {
  throw FatalError("worker pool lost in fork() during a parallel map");
}

}  // namespace

// The caller's progress through its map.
struct Pool::Caller {
  explicit Caller(WaitHook h) : hook(h), forks(fork_generation()), next_poll(now() + kHookInterval) {}
  WaitHook hook;
  unsigned long forks;    // fork_generation() when the map began
  Nanoseconds next_poll;  // when the hook is due
  bool interrupted = false;
  std::exception_ptr hook_error;  // what the hook threw
  Nanoseconds start = 0, t = 0;   // start of the map, end of the last run
  std::uint32_t run = 1, k = 0, count = 0;
  std::size_t done = 0;  // indices the caller evaluated
  Nanoseconds worth = kWakeWorth;
  bool woken = false;
};

// The cost memo of the body's type.  By the address of its type_info: cheaper
// than hashing the type's name, and the same body type seen through another
// address at worst counts as unknown.
Pool::CostMemo& Pool::memo_for(const Body& body) {
  const std::type_info& type = body.target_type();
  return costs_[(reinterpret_cast<std::uintptr_t>(&type) >> 4) % costs_.size()];
}

// Fills the pieces (all of [0, n) in the caller's) and publishes the map.
void Pool::open(std::size_t base, std::size_t n, const Body& body, std::uint32_t min_split) {
  body_ = &body;
  base_ = base;
  error_ = nullptr;
  stop_.store(false, std::memory_order_relaxed);
  min_split_.store(min_split, std::memory_order_relaxed);
  slots_[0].piece.store(pack(0, static_cast<std::uint32_t>(n)), std::memory_order_relaxed);
  for (std::size_t t = 1; t < width_; ++t) slots_[t].piece.store(0, std::memory_order_relaxed);
  state_.store(state_.load(std::memory_order_relaxed) + 3, std::memory_order_seq_cst);
}

// Runs the hook when it is due at time t; drops the unstarted indices when it
// asks to stop.
void Pool::poll_hook(Caller& caller, Nanoseconds t) {
  if (caller.interrupted || caller.hook.poll == nullptr || t < caller.next_poll) return;
  bool stop;
  try {
    stop = caller.hook.poll(caller.hook.context);
  } catch (...) {
    stop = true;
    caller.hook_error = std::current_exception();
  }
  // The hook forked and this is the child: the helpers are gone.
  if (fork_generation() != caller.forks) fail_lost_in_fork();
  if (stop) {
    caller.interrupted = true;
    drop_unstarted();
  }
  caller.next_poll = now() + kHookInterval;
}

void Pool::evaluate_run(Caller& caller) {
  evaluate(caller.k, caller.count);
  const Nanoseconds after = now();
  caller.run = adapt_run(caller.run, after - caller.t);
  caller.t = after;
  caller.done += caller.count;
  poll_hook(caller, after);
}

// The fewest unstarted indices worth splitting for a thief, at a cost of
// per_index ns per index.
static std::uint32_t min_split_at(double per_index) {
  return static_cast<std::uint32_t>(std::clamp(kStealWorth / per_index, 1.0, 4e9));
}

// The caller's share: its own piece, then what it can steal.  Spinning
// helpers join on their own; parked ones are woken once the estimated rest
// of the caller's work is worth it.
//
// The cost per index remembered from the last map of the same kernel is only
// a first guess: the same kernel costs more per index on a longer seed grid
// or with the Klein-Nishina rows switched on.  Once the caller's own runs
// have been timed, their cost replaces it, both for waking the helpers and
// for the smallest piece a thief may split (a guess from a cheaper call
// would otherwise keep a woken helper from taking any of a medium map).
void Pool::share_of_caller(Caller& caller) {
  while (next_run(0, caller.run, caller.k, caller.count)) {
    evaluate_run(caller);
    if (caller.t - caller.start < kWakeEstimateAfter) continue;
    const double per_index =
        static_cast<double>(caller.t - caller.start) / static_cast<double>(caller.done);
    const std::uint32_t min_split = min_split_at(per_index);
    const std::uint32_t current = min_split_.load(std::memory_order_relaxed);
    if (min_split < current / 2 || min_split > 2 * current) {
      min_split_.store(min_split, std::memory_order_relaxed);
    }
    if (!caller.woken) {
      const std::uint32_t left = left_of(slots_[0].piece.load(std::memory_order_relaxed));
      if (per_index * left >= static_cast<double>(caller.worth)) {
        wake_helpers();
        caller.woken = true;
      }
    }
  }
}

// The map is closed: waits for the registered helpers, taking over what they
// have not started.
void Pool::wait_for_helpers(Caller& caller) {
  auto helpers_done = [&] { return active_.load(std::memory_order_acquire) == 0; };
  // Whether a helper's piece has indices to spare; looked at now and then
  // only, not to pull the helpers' cache lines away from them at every turn.
  unsigned looks = 0;
  const std::uint32_t min_split =
      std::max<std::uint32_t>(min_split_.load(std::memory_order_relaxed), 2);
  auto stealable = [&] {
    if (++looks % 16 != 0) return false;
    for (std::size_t h = 1; h < width_; ++h) {
      if (left_of(slots_[h].piece.load(std::memory_order_relaxed)) >= min_split) return true;
    }
    return false;
  };
  // The caller's own piece is emptied before the helpers' count is looked
  // at: indices it stole from a helper after the close stay in its piece
  // when that helper leaves, and would otherwise never be evaluated.
  for (;;) {
    if (next_run(0, caller.run, caller.k, caller.count)) {
      evaluate_run(caller);
      continue;
    }
    if (helpers_done()) return;
    if (!spin_until([&] { return helpers_done() || stealable(); })) park_caller(caller);
    caller.t = now();
  }
}

// Parks the caller until the last helper leaves, waking for the hook.
void Pool::park_caller(Caller& caller) {
  try {
    caller_parked_.store(true, std::memory_order_seq_cst);
    std::unique_lock<std::mutex> lock(park_);
    while (active_.load(std::memory_order_seq_cst) != 0) {
      const Nanoseconds due = caller.hook.poll != nullptr && !caller.interrupted
                                  ? std::max<Nanoseconds>(caller.next_poll - now(), 0)
                                  : kHookInterval;
      if (caller_cv_.wait_for(lock, std::chrono::nanoseconds(due)) == std::cv_status::timeout) {
        lock.unlock();
        if (fork_generation() != caller.forks) fail_lost_in_fork();
        poll_hook(caller, now());
        lock.lock();
      }
    }
  } catch (const std::system_error& e) {
    bookkeeping_failure(e.what());
  }
  caller_parked_.store(false, std::memory_order_relaxed);
}

void Pool::run(std::size_t base, std::size_t n, const Body& body, WaitHook hook) {
  CostMemo& memo = memo_for(body);
  const std::type_info* type = &body.target_type();
  const bool known = memo.body_type == type && memo.per_index > 0;
  Caller caller(hook);

  open(base, n, body, known ? min_split_at(memo.per_index) : 1);
  caller.start = caller.t = now();
  if (caller.start - last_map_end_ < kSpinTime) caller.worth = kStreamWakeWorth;
  if (!known || memo.per_index * static_cast<double>(n) >= static_cast<double>(caller.worth)) {
    wake_helpers();
    caller.woken = true;
  }
  share_of_caller(caller);
  if (caller.done != 0) {
    memo = CostMemo{type, static_cast<double>(caller.t - caller.start) /
                              static_cast<double>(caller.done)};
  }

  // Nothing unstarted is left outside the pieces of registered helpers.
  state_.store(state_.load(std::memory_order_relaxed) - 1, std::memory_order_seq_cst);
  wait_for_helpers(caller);
  // Every helper that saw the map has left it: body_ may now be reused.
  body_ = nullptr;
  last_map_end_ = now();

  // An interruption outranks a failed evaluation: the caller has a pending
  // signal to act on, and the map's result is discarded either way.
  if (caller.hook_error) std::rethrow_exception(caller.hook_error);
  if (caller.interrupted) throw Interrupted();
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

}  // namespace ostrel::pool::detail
