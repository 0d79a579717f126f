#include "unlocked.hpp"

#include <nanobind/nanobind.h>

#include <chrono>
#include <thread>

namespace nb = nanobind;

namespace ostrel::models::binding {
namespace {

unsigned long g_main_thread = 0;  // written once at import, under the lock

bool interpreter_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

[[noreturn]] void park_for_good() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

}  // namespace

void remember_main_thread() {
  nb::object main = nb::module_::import_("threading").attr("main_thread")();
  g_main_thread = nb::cast<unsigned long>(main.attr("ident"));
}

Unlocked::Unlocked() : main_thread_(PyThread_get_thread_ident() == g_main_thread) {
  saved_ = PyEval_SaveThread();
}

void Unlocked::relock() {
  if (interpreter_finalizing()) park_for_good();
  try {
    PyEval_RestoreThread(saved_);
  } catch (...) {
    // The only exception PyEval_RestoreThread raises: the forced unwinding
    // of pthread_exit (abi::__forced_unwind, caught without binding it: it
    // has no object).  The interpreter began to finalize while this thread
    // waited for the lock.  The unwinding is never finished (it would end in
    // a noexcept frame), so it never needs to be rethrown.
    park_for_good();
  }
}

pool::WaitHook Unlocked::signal_check() { return {&Unlocked::poll, this}; }

bool Unlocked::poll(void* self) {
  auto& lock = *static_cast<Unlocked*>(self);
  if (!lock.main_thread_) return false;
  // The main thread is the one that finalizes: it cannot be finalizing here.
  PyEval_RestoreThread(lock.saved_);
  const bool raised = PyErr_CheckSignals() != 0;
  lock.saved_ = PyEval_SaveThread();
  return raised;
}

void raise_pending_signal_error() {
  if (PyErr_Occurred() == nullptr) PyErr_SetNone(PyExc_KeyboardInterrupt);
  throw nb::python_error();
}

}  // namespace ostrel::models::binding
