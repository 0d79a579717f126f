#include "frame.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ostrel::python {

namespace {

constexpr const char* kPanicName = "ostrel.PanicException";
constexpr const char* kPanicDoc =
    "The exception raised when an ostrel function ends with a fatal error.\n"
    "\n"
    "Like SystemExit, it derives from BaseException and not from Exception, so an\n"
    "ordinary `except Exception` clause does not catch it: it normally propagates\n"
    "to the top of the stack and ends the interpreter.  Its single argument is\n"
    "the text of the fatal error.";
// Argument of a PanicException whose fatal error carried no text.
constexpr const char* kPanicDefaultText = "ostrel: fatal error without a message";

// The class lives from its first use to the end of the process; the
// interpreter lock serialises its creation.
PyObject* panic_type = nullptr;

[[noreturn]] void abort_nested_panic() noexcept {
  std::fputs("uncaught panic at ffi boundary\n", stderr);
  std::fflush(stderr);
  std::abort();
}

}  // namespace

PyObject* raise(PyObject* type, PyRef message) {
  if (!message) return nullptr;  // making the message failed: that error stands
  PyRef error(PyObject_CallOneArg(type, message.get()));
  if (error) PyErr_SetRaisedException(error.release());
  return nullptr;
}

PyObject* raise(PyObject* type, const char* message) {
  return raise(type, PyRef(PyUnicode_FromString(message)));
}

PyObject* panic_exception_type() {
  if (panic_type == nullptr) {
    panic_type = PyErr_NewExceptionWithDoc(kPanicName, kPanicDoc, PyExc_BaseException, nullptr);
    if (panic_type == nullptr) {
      PyErr_Clear();
      throw FatalError(kExceptionTypeFailed);
    }
  }
  return panic_type;
}

void raise_panic(const char* message) noexcept {
  const char* text = message != nullptr ? message : kPanicDefaultText;
  std::fprintf(stderr, "ostrel: fatal error: %s\n", text);
  std::fflush(stderr);
  try {
    PyObject* type = panic_exception_type();
    raise(type, PyRef(PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)),
                                           "replace")));
  } catch (const std::exception& nested) {
    std::fprintf(stderr, "ostrel: fatal error: %s\n", nested.what());
    abort_nested_panic();
  } catch (...) {
    abort_nested_panic();
  }
}

void fail_python_api() {
  PyErr_Print();
  throw FatalError(kPythonApiFailed);
}

PyObject* to_python(double value) {
  PyObject* result = PyFloat_FromDouble(value);
  if (result == nullptr) fail_python_api();
  return result;
}

PyObject* to_python(const std::vector<double>& values) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) fail_python_api();
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), to_python(values[i]));
  }
  return list.release();
}

PyObject* to_python(const std::pair<std::vector<double>, std::vector<double>>& values) {
  PyRef first(to_python(values.first));
  PyRef second(to_python(values.second));
  PyRef tuple(PyTuple_New(2));
  if (!tuple) fail_python_api();
  PyTuple_SET_ITEM(tuple.get(), 0, first.release());
  PyTuple_SET_ITEM(tuple.get(), 1, second.release());
  return tuple.release();
}

namespace {
bool signal_raised() { return PyErr_CheckSignals() != 0; }
}  // namespace

void install_signal_check() noexcept { pool::set_wait_hook(&signal_raised); }

}  // namespace ostrel::python
