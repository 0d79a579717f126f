// The scheduling of one map over the worker pool: who evaluates which
// indices, how idle threads steal, when helpers spin, park and are woken.
// Internal to the runtime library; pool.cpp owns the process's one Pool and
// its lifecycle (creation, fork).
//
// Who evaluates.  The thread that calls parallel_for takes part in its map:
// with W = 1 it evaluates every index itself and nothing is handed to another
// thread; with W >= 2 the pool's W - 1 helper threads join it.  A map costs
// the caller no thread wake-up of its own, only (when helpers are parked and
// the map is worth it) one notification.
//
// A map's life.  The caller fills the pieces and publishes the map by bumping
// the pool's state word (2 x generation + 1 while the map is open).  A helper
// registers in `active_` and then checks that the state is still the one it
// saw; the caller, once no piece has unstarted indices, closes the map (state
// 2 x generation) and then waits until `active_` is 0.  Both sides write
// first and read the other's word second (sequentially consistent), so either
// the helper sees the map closed and touches nothing, or the caller sees the
// helper and waits for it: a helper never works on a map that has ended, and
// the 64-bit generation never repeats.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <typeinfo>

#include "pool.hpp"

namespace ostrel::pool::detail {

using Body = std::function<void(std::size_t, std::size_t)>;
using Nanoseconds = std::int64_t;

inline Nanoseconds now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Interval of the wait hook.
inline constexpr Nanoseconds kHookInterval = 5'000'000;

// The length of the next run of indices a thread claims at once, from the
// time its last run took.  A thread claims one index at first and doubles the
// run while a run takes less than kRunTime, halving it when one takes much
// longer: expensive indices (Romberg integrations, micro- to milliseconds)
// are claimed one at a time and stay available to thieves, while cheap ones
// (a cooling rate, a few to tens of ns) are claimed up to hundreds at once,
// so that neither the claim nor the clock read after each run costs more than
// a few per cent.
inline constexpr Nanoseconds kRunTime = 2'000;
inline constexpr std::uint32_t kMaxRun = 4096;
inline std::uint32_t adapt_run(std::uint32_t run, Nanoseconds took) {
  if (took < kRunTime) return run < kMaxRun ? 2 * run : run;
  if (took > 4 * kRunTime) return run > 1 ? run / 2 : run;
  return run;
}

// The forks the process has gone through (bumped in the child): a map that
// was under way in the forking thread can tell that its helpers are gone.
unsigned long fork_generation() noexcept;

[[noreturn]] void bookkeeping_failure(const char* what) noexcept;

// A piece of the range: unstarted indices [next, end) relative to the start
// of the map, packed into one 64-bit word (next low, end high).  Claiming
// indices and stealing half a piece are compare-and-swaps on that word, so
// each index is handed out exactly once without a lock.  Maps of more than
// 2^32 - 1 indices run as several consecutive maps.
using Piece = std::uint64_t;
inline constexpr std::size_t kMaxMap = 0xFFFF'FFFF;
constexpr Piece pack(std::uint32_t next, std::uint32_t end) {
  return static_cast<Piece>(end) << 32 | next;
}
constexpr std::uint32_t next_of(Piece p) { return static_cast<std::uint32_t>(p); }
constexpr std::uint32_t end_of(Piece p) { return static_cast<std::uint32_t>(p >> 32); }
constexpr std::uint32_t left_of(Piece p) { return end_of(p) > next_of(p) ? end_of(p) - next_of(p) : 0; }

class Pool {
 public:
  explicit Pool(std::size_t width);

  std::size_t width() const { return width_; }
  std::mutex& submit_mutex() { return submit_; }

  // Runs body on [base, base + n), n <= kMaxMap; the caller is thread 0,
  // holds submit_mutex() and polls `hook`.
  void run(std::size_t base, std::size_t n, const Body& body, WaitHook hook);

  // The loop of helper `self` (1 .. W-1); never returns.
  [[noreturn]] void serve(std::size_t self);

 private:
  struct Caller;
  struct CostMemo {
    const std::type_info* body_type = nullptr;
    double per_index = 0;  // ns
  };

  // Scheduling (scheduler.cpp).
  bool claim(std::size_t self, std::uint32_t run, std::uint32_t& k, std::uint32_t& count);
  bool steal(std::size_t self);
  bool next_run(std::size_t self, std::uint32_t run, std::uint32_t& k, std::uint32_t& count);
  void evaluate(std::uint32_t k, std::uint32_t count) noexcept;
  void drop_unstarted();

  // The caller's side of a map (caller.cpp).
  CostMemo& memo_for(const Body& body);
  void open(std::size_t base, std::size_t n, const Body& body, std::uint32_t min_split);
  void share_of_caller(Caller& caller);
  void wait_for_helpers(Caller& caller);
  void park_caller(Caller& caller);
  void poll_hook(Caller& caller, Nanoseconds t);
  void evaluate_run(Caller& caller);

  // Parking and waking (scheduler.cpp).
  void leave();
  void wake_helpers();
  Piece wait_for_map(Piece seen);

  const std::size_t width_;
  // One piece per thread, each on its own cache line so that claims of
  // different threads do not contend; slot 0 is the caller's.
  struct alignas(64) Slot {
    std::atomic<Piece> piece{0};
  };
  std::unique_ptr<Slot[]> slots_;
  std::mutex submit_;  // one map at a time uses the helpers

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
  std::array<CostMemo, 16> costs_{};
  Nanoseconds last_map_end_ = 0;  // when the caller of the last map left it

  // Parking.  Every park is announced in an atomic counter or flag before the
  // parked condition is checked under the park mutex, and every notifier
  // writes its own word before reading that announcement, so no wake-up is
  // lost.
  alignas(64) std::mutex park_;
  std::condition_variable helpers_cv_;  // parked helpers wait for a map
  std::condition_variable caller_cv_;   // the caller waits for active_ == 0
  std::atomic<std::size_t> parked_helpers_{0};
  std::atomic<bool> caller_parked_{false};
};

}  // namespace ostrel::pool::detail
