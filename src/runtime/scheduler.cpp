// Claiming, stealing and evaluating the indices of a map, and the helpers'
// loop: spin, park, join a map, leave it.
#include "scheduler.hpp"

#include <algorithm>

#include "spin.hpp"

namespace ostrel::pool::detail {
Pool::Pool(std::size_t width) : width_(width), slots_(std::make_unique<Slot[]>(width)) {}

// The next indices of thread self's own piece, at most `run` of them; false
// if the piece is empty or the map was stopped.  A piece is always evaluated
// from the bottom, so in increasing index order.  A run never takes more than
// a quarter of the unstarted indices of its piece: where cheap indices give
// way to expensive ones (the Klein-Nishina rows of a cooling grid above the
// Thomson ones), the run claimed at the change holds at most that share of
// the expensive ones, and the rest stays for thieves and for the wait hook's
// turn.
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
//
// While all threads are busy the range stays in W pieces; it is divided
// further only by stealing, down to single indices at the end, so that a
// thread stuck in one expensive index (a Romberg integration that runs many
// more stages than its neighbours) loses the rest of its piece to the others.
// Only pieces worth splitting are split: by the cost per index of the last
// map of the same body, their unstarted indices must amount to kStealWorth of
// work (min_split_; any piece while that cost is not known).
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

// The next run of at most `run` indices [k, k + count) of thread self.
bool Pool::next_run(std::size_t self, std::uint32_t run, std::uint32_t& k, std::uint32_t& count) {
  for (;;) {
    if (claim(self, run, k, count)) return true;
    if (!steal(self)) return false;
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

}  // namespace ostrel::pool::detail
