// Running an accurate kernel without the interpreter lock.
//
// The kernels run on the process's worker pool for milliseconds to seconds,
// so the calling thread releases the interpreter lock for the kernel's run
// and takes it back afterwards.  Two things make that more than a scoped
// release:
//
// Interruption.  Signal handlers run on the interpreter's main thread only,
// and only with the lock held.  While the main thread is inside a kernel, its
// wait hook takes the lock back about every 5 ms, runs the handlers, and
// releases it again; when a handler raised (KeyboardInterrupt for Ctrl-C),
// the pool drops the indices not yet started, waits for those under way, and
// the call ends with that exception.  Other threads cannot receive the
// exception of a handler, so their hook does nothing.
//
// Interpreter exit.  A daemon thread still inside a kernel when the
// interpreter finalizes must not touch it again: the runtime ends a thread
// that asks for the lock then, by unwinding its stack (pthread_exit), and
// that unwinding through the binding's noexcept dispatch would be
// std::terminate.  The lock is therefore taken back explicitly, never from a
// destructor, and a thread that finds the interpreter finalizing, or is being
// unwound for that reason, is parked for good instead: the process is ending,
// and nothing waits for the thread.
#pragma once

#include <Python.h>

#include <utility>

#include "pool.hpp"

namespace ostrel::models::binding {

// Records the interpreter's main thread (call once, at import, with the lock
// held).
void remember_main_thread();

// The calling thread's released interpreter lock.
class Unlocked {
 public:
  Unlocked();                   // releases the lock
  void relock();                // takes it back (or parks the thread for good at exit)
  pool::WaitHook signal_check();

 private:
  static bool poll(void* self);
  PyThreadState* saved_;
  bool main_thread_;
};

// Throws the pending Python error of an interrupted kernel (the exception a
// signal handler raised) to nanobind.
[[noreturn]] void raise_pending_signal_error();

// Runs kernel() without the interpreter lock and returns its result with the
// lock held again.  An interruption by a signal handler becomes the handler's
// Python exception; the kernel's own exceptions pass unchanged.
template <class Kernel>
auto unlocked(Kernel&& kernel) {
  Unlocked lock;
  try {
    const pool::WaitHookScope hook(lock.signal_check());
    auto result = std::forward<Kernel>(kernel)();
    lock.relock();
    return result;
  } catch (const pool::Interrupted&) {
    lock.relock();
    raise_pending_signal_error();
  } catch (...) {
    lock.relock();
    throw;
  }
}

}  // namespace ostrel::models::binding
