// Conversion of Python objects into the plain values the kernels take:
// floats, flags and vectors.  Every failure is a Python error that is set
// when the converter returns false.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <optional>
#include <vector>

namespace ostrel::python {

using Vec = std::vector<double>;

// The argument of gofb and bofg: one value, or one value per element.
struct FloatOrVector {
  bool is_vector = false;
  double value = 0.0;  // when !is_vector
  Vec values;          // when is_vector
};

// Argument converters.  Each returns false with the Python error set.
// float: exact floats directly, anything else through the interpreter's float
// conversion (int, bool, objects with __float__ or __index__).
bool convert(PyObject* obj, double& out);
// vector: any sequence other than str whose items convert as floats; a
// one-dimensional buffer of native doubles (a NumPy float64 array,
// array.array('d')) is copied straight from its memory, with the same result.
bool convert(PyObject* obj, Vec& out);
// flag: exactly True or False.
bool convert(PyObject* obj, bool& out);
// optional flag: nothing given or None means not given, else a flag.
bool convert(PyObject* obj, std::optional<bool>& out);
// float, else vector; one TypeError without the argument's name if neither.
bool convert(PyObject* obj, FloatOrVector& out);

}  // namespace ostrel::python
