#include "arguments.hpp"

#include <string>

namespace ostrel::models::binding {
using namespace nb::literals;
namespace {

bool is_complex(nb::handle value) {
  if (PyComplex_Check(value.ptr())) return true;
  // NumPy's complex scalars of other widths and complex arrays.
  if (!nb::hasattr(value, "dtype")) return false;
  nb::object kind = value.attr("dtype").attr("kind");
  return nb::isinstance<nb::str>(kind) && nb::cast<std::string>(kind) == "c";
}

[[noreturn]] void refuse_complex(const char* name) {
  throw nb::type_error(
      (std::string(name) + ": must be real, got complex values (their imaginary part would be lost)")
          .c_str());
}

}  // namespace

Array vector(nb::handle value, const char* name) {
  Array array;
  if (nb::try_cast(value, array, false)) return array;
  if (is_complex(value)) refuse_complex(name);
  nb::module_ numpy = nb::module_::import_("numpy");
  nb::object converted;
  try {
    converted = numpy.attr("asarray")(value);
  } catch (nb::python_error& e) {
    nb::raise_from(e, PyExc_TypeError, "%s: not an array of real numbers", name);
  }
  const std::string kind = nb::cast<std::string>(converted.attr("dtype").attr("kind"));
  if (kind == "c") refuse_complex(name);
  if (kind.size() != 1 || std::string("biuf").find(kind[0]) == std::string::npos) {
    throw nb::type_error((std::string(name) + ": must be an array of real numbers, got dtype " +
                          nb::steal<nb::str>(PyObject_Str(converted.attr("dtype").ptr())).c_str())
                             .c_str());
  }
  const auto ndim = nb::cast<long>(converted.attr("ndim"));
  if (ndim != 1) {
    throw nb::value_error((std::string(name) + ": must be one-dimensional, got an array of " +
                           std::to_string(ndim) + " dimensions")
                              .c_str());
  }
  converted = numpy.attr("ascontiguousarray")(converted, "dtype"_a = "float64");
  if (!nb::try_cast(converted, array, false)) {
    throw nb::type_error((std::string(name) + ": cannot be read as float64 values").c_str());
  }
  return array;
}

double scalar(nb::handle value, const char* name) {
  if (is_complex(value)) refuse_complex(name);
  const double result = PyFloat_AsDouble(value.ptr());
  if (result == -1.0 && PyErr_Occurred() != nullptr) {
    nb::python_error e;
    if (e.matches(PyExc_OverflowError)) {
      nb::raise_from(e, PyExc_OverflowError, "%s: too large for a double", name);
    }
    nb::raise_from(e, PyExc_TypeError, "%s: must be a real number, got %s", name,
                   Py_TYPE(value.ptr())->tp_name);
  }
  return result;
}

}  // namespace ostrel::models::binding
