#include "binding.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "frame.hpp"

namespace ostrel::python {

namespace {

std::optional<std::size_t> find_parameter(std::span<const char* const> params, PyObject* key) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
  if (utf8 == nullptr) {  // not encodable (lone surrogates): matches no parameter
    PyErr_Clear();
    return std::nullopt;
  }
  const std::string_view name(utf8, static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (name == params[i]) return i;
  }
  return std::nullopt;
}

// 'a' ; 'a' and 'b' ; 'a', 'b', and 'c'
std::string quoted_list(const std::vector<const char*>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) {
      if (names.size() > 2) text += ',';
      text += i + 1 == names.size() ? " and " : " ";
    }
    text += '\'';
    text += names[i];
    text += '\'';
  }
  return text;
}

bool fail_missing(const char* function, const std::vector<const char*>& missing) {
  const std::string names = quoted_list(missing);
  raise(PyExc_TypeError,
        PyRef(PyUnicode_FromFormat("%s() missing %zu required positional argument%s: %s",
                                   function, missing.size(), missing.size() == 1 ? "" : "s",
                                   names.c_str())));
  return false;
}

}  // namespace

bool bind_arguments(const char* function, std::span<const char* const> params,
                    std::size_t required, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyObject*> slots) {
  const std::size_t n = params.size();
  const auto given = static_cast<std::size_t>(nargs);

  if (given > n) {
    const char* verb = given == 1 ? "was" : "were";
    if (required == n) {
      raise(PyExc_TypeError,
            PyRef(PyUnicode_FromFormat("%s() takes %zu positional arguments but %zd %s given",
                                       function, n, nargs, verb)));
    } else {
      raise(PyExc_TypeError,
            PyRef(PyUnicode_FromFormat(
                "%s() takes from %zu to %zu positional arguments but %zd %s given", function,
                required, n, nargs, verb)));
    }
    return false;
  }
  std::fill(slots.begin(), slots.end(), nullptr);
  std::copy(args, args + nargs, slots.begin());

  const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    const std::optional<std::size_t> index = find_parameter(params, key);
    if (!index) {
      raise(PyExc_TypeError,
            PyRef(PyUnicode_FromFormat("%s() got an unexpected keyword argument '%S'", function,
                                       key)));
      return false;
    }
    if (slots[*index] != nullptr) {
      raise(PyExc_TypeError,
            PyRef(PyUnicode_FromFormat("%s() got multiple values for argument '%s'", function,
                                       params[*index])));
      return false;
    }
    slots[*index] = args[nargs + k];
  }

  if (given < required) {
    std::vector<const char*> missing;
    for (std::size_t i = given; i < required; ++i) {
      if (slots[i] == nullptr) missing.push_back(params[i]);
    }
    if (!missing.empty()) return fail_missing(function, missing);
  }
  return true;
}

void prefix_argument_error(const char* name) {
  PyRef error(PyErr_GetRaisedException());
  if (!error || !Py_IS_TYPE(error.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
    PyErr_SetRaisedException(error.release());
    return;
  }
  PyRef message(PyUnicode_FromFormat("argument '%s': %S", name, error.get()));
  if (!message) return;
  PyRef replacement(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (!replacement) return;
  // Takes over the cause (possibly none), which also suppresses the context.
  PyException_SetCause(replacement.get(), PyException_GetCause(error.get()));
  PyErr_SetRaisedException(replacement.release());
}

}  // namespace ostrel::python
