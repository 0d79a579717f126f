// Spinning before parking, for the helpers between maps and for the caller
// waiting for the helpers' last indices.
//
// Between maps a helper spins for a short, bounded time watching the pool's
// state word, so that maps called back to back (from Python, a few to tens of
// microseconds of argument and result conversion apart) find it awake; then
// it parks on a condition variable.  An idle process thus uses next to no
// CPU: at most kSpinTime per map and helper.
#pragma once

#include <thread>

#include "scheduler.hpp"

namespace ostrel::pool::detail {

// How long an idle helper, or a caller waiting for the helpers, spins before
// it parks.
inline constexpr Nanoseconds kSpinTime = 100'000;
// Of the spin, the part that pauses the processor only; the rest yields it to
// other runnable threads between looks.  Short: the machine may have more
// threads runnable than processors, and the thread this one waits for may
// share its processor (a woken thread is often placed beside its waker).
inline constexpr Nanoseconds kPauseOnlyTime = 5'000;

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

}  // namespace ostrel::pool::detail
