// The common call frame of the Python functions and the conversion of kernel
// results into Python objects.
//
// This directory is the only part of the module that sees the interpreter:
// the kernels take and return plain vectors and report failure by throwing
// ostrel::FatalError.  Every function body runs inside call_frame(), which
// turns such a fatal error into the Python exception PanicException.  The
// interpreter lock is held for the whole call, kernel work included.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <utility>
#include <vector>

#include "error.hpp"
#include "pool.hpp"

namespace ostrel::python {

// The texts of the fatal errors of the binding itself.
inline constexpr char kPythonApiFailed[] = "Python API call failed";
inline constexpr char kExceptionTypeFailed[] = "Failed to initialize new exception type.";
inline constexpr char kAllAppendFailed[] = "could not append __name__ to __all__";

// An owned (strong) reference, released on every way out of a scope.
class PyRef {
 public:
  PyRef() noexcept = default;
  // Takes over a new reference (which may be null).
  explicit PyRef(PyObject* owned) noexcept : ptr_(owned) {}
  static PyRef borrow(PyObject* borrowed) noexcept { return PyRef(Py_XNewRef(borrowed)); }

  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : ptr_(other.release()) {}
  PyRef& operator=(PyRef&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~PyRef() { Py_XDECREF(ptr_); }

  PyObject* get() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }
  // Hands the reference over to the caller.
  PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
  void reset(PyObject* owned = nullptr) noexcept { Py_XDECREF(std::exchange(ptr_, owned)); }

 private:
  PyObject* ptr_ = nullptr;
};

// Sets a new exception of the given type with a str message as the current
// error (without chaining it to an exception being handled), and returns null
// so that a body can `return raise(...)`.
PyObject* raise(PyObject* type, const char* message);
PyObject* raise(PyObject* type, PyRef message);

// The class of fatal errors seen from Python, created on first use.
PyObject* panic_exception_type();

// Converts a caught fatal error into the current Python error: writes a notice
// to standard error and sets PanicException(message).  Never throws: a fatal
// error during the conversion itself aborts the process.
void raise_panic(const char* message) noexcept;

// Runs a function body: its result (a new reference, or null with the Python
// error set) is returned as it is; a fatal error it throws becomes
// PanicException; an allocation failure becomes MemoryError.
template <class Body>
PyObject* call_frame(Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const pool::Interrupted&) {
    // A signal handler raised (KeyboardInterrupt for Ctrl-C) while the call
    // waited for the workers: its exception is the current error.
    if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    return nullptr;
  } catch (const std::exception& error) {  // FatalError and anything else with a text
    raise_panic(error.what());
  } catch (...) {
    raise_panic(nullptr);
  }
  return nullptr;
}

// Lets a long parallel kernel be interrupted: while the calling thread waits
// for the workers it runs the interpreter's signal handlers every few
// milliseconds (it holds the interpreter lock throughout); when one raises,
// the work not yet started is dropped and the call ends with that exception.
void install_signal_check() noexcept;

// Result converters.  Each returns a new reference; if the interpreter refuses
// to create an object, its error is printed and the call ends with the fatal
// error "Python API call failed".
PyObject* to_python(double value);
PyObject* to_python(const std::vector<double>& values);
PyObject* to_python(const std::pair<std::vector<double>, std::vector<double>>& values);

// The fatal error of a refused interpreter call (prints the pending error).
[[noreturn]] void fail_python_api();

}  // namespace ostrel::python
