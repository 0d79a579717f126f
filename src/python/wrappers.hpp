// The Python functions of the module: each binds and converts its arguments,
// calls one kernel with plain vectors and scalars, and converts the result.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace ostrel::python {

// METH_NOARGS
PyObject* get_c(PyObject* module, PyObject* unused);

// METH_FASTCALL | METH_KEYWORDS
PyObject* gofb(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* bofg(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* eq_59_park1995(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* fp_findif_difu(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* syn_emissivity_full(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);
PyObject* rad_trans_blob(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* ic_iso_powlaw_full(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);
PyObject* rad_cool_pwl(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames);
PyObject* rad_cool_mono(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);
PyObject* ic_iso_monochrome_full(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames);
PyObject* rad_trans_slab(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);

}  // namespace ostrel::python
