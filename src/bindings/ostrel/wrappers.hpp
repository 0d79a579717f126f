// The method records of the module's functions, one per row of the function
// table (functions.hpp), in registration order.  Each record's entry point
// binds and converts its arguments by the row's parameter descriptor, calls
// the row's function of the C++ interface and converts its result.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

namespace ostrel::python {

// The records, built on first use; they live as long as the process.
std::span<PyMethodDef> method_records();

}  // namespace ostrel::python
