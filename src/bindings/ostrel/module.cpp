// Module entry: the module definition and the registration of the functions
// of the function table.  PyInit_ostrel is the module's only exported symbol.

#include <atomic>

#include "frame.hpp"
#include "wrappers.hpp"

namespace ostrel::python {

namespace {

// Module API version of CPython 3.12.
constexpr int kModuleApiVersion = 1013;

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "ostrel",
    "Numerical kernels for the radiative modelling of relativistic electrons: Fokker-Planck "
    "evolution, synchrotron and inverse-Compton emission, Compton cooling and radiative "
    "transfer.",
    0,        // no per-module state
    nullptr,  // functions are added one by one by register_functions
    nullptr,  // single-phase initialisation
    nullptr,
    nullptr,
    nullptr,
};

// Set by the first module creation of the process and never cleared, even if
// the registration that follows fails.
std::atomic<bool> initialised{false};

// The module's __all__, created as an empty list the first time it is needed.
PyRef module_all(PyObject* module) {
  PyRef all(PyObject_GetAttrString(module, "__all__"));
  if (all || !PyErr_ExceptionMatches(PyExc_AttributeError)) return all;
  PyErr_Clear();
  all.reset(PyList_New(0));
  if (all && PyObject_SetAttrString(module, "__all__", all.get()) < 0) all.reset();
  return all;
}

// Adds one function to the module and its name to __all__.  False with the
// Python error set on failure.
bool register_function(PyObject* module, PyMethodDef& method) {
  const char* module_name = PyModule_GetName(module);
  if (module_name == nullptr) return false;
  const PyRef module_name_str(PyUnicode_FromString(module_name));
  if (!module_name_str) return false;
  const PyRef function(PyCMethod_New(&method, module, module_name_str.get(), nullptr));
  if (!function) return false;
  const PyRef name(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) return false;
  if (!PyUnicode_Check(name.get())) {
    raise(PyExc_TypeError, "__name__ must be a string");
    return false;
  }
  const PyRef all = module_all(module);
  if (!all) return false;
  if (!PyList_Check(all.get()) || PyList_Append(all.get(), name.get()) < 0) {
    PyErr_Clear();
    throw FatalError(kAllAppendFailed);
  }
  return PyObject_SetAttr(module, name.get(), function.get()) == 0;
}

bool register_functions(PyObject* module) {
  for (PyMethodDef& method : method_records()) {
    if (!register_function(module, method)) return false;
  }
  return true;
}

PyObject* create_module() {
  PyRef module(PyModule_Create2(&module_def, kModuleApiVersion));
  if (!module) {
    if (PyErr_Occurred() == nullptr) {
      raise(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return nullptr;
  }
  if (initialised.exchange(true)) {
    return raise(PyExc_ImportError,
                 "ostrel may be initialised only once per interpreter process");
  }
  if (!register_functions(module.get())) return nullptr;
  install_signal_check();
  return module.release();
}

}  // namespace

}  // namespace ostrel::python

PyMODINIT_FUNC PyInit_ostrel() {
  return ostrel::python::call_frame(ostrel::python::create_module);
}
