// Binding of the arguments of a Python call to the parameters of a function,
// and their conversion in parameter order.
//
// A function describes its parameters with a Signature; parse_arguments()
// binds the positional and keyword arguments of a call to them, then converts
// them one after the other in parameter order, stopping at the first failure.
// Every failure is a Python error that is already set when the function
// returns (false or an empty optional); no kernel has run by then.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

#include "convert.hpp"

namespace ostrel::python {

// Parameter descriptor of a function: its name, its parameter names in order
// (each may be given by position or by keyword), and how many leading
// parameters are required; the others may be left out.
template <std::size_t N>
struct Signature {
  const char* name;
  std::array<const char*, N> params;
  std::size_t required;
};

// Fills slots[i] with a borrowed reference to the object given for params[i]
// (null where nothing was given).  The keyword values follow the positional
// ones in args, named by the tuple kwnames (or null).
bool bind_arguments(const char* function, std::span<const char* const> params,
                    std::size_t required, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyObject*> slots);

// Replaces a pending error whose type is exactly TypeError by
// TypeError("argument '<name>': <old message>") with the old error's cause.
// Errors of any other type stay as they are.
void prefix_argument_error(const char* name);

template <class Kind>
bool convert_argument(PyObject* slot, const char* name, Kind& out) {
  if (convert(slot, out)) return true;
  // Either of the two attempts of a float-or-vector argument may fail with
  // its own error; the message that replaces them names no argument.
  if constexpr (!std::is_same_v<Kind, FloatOrVector>) prefix_argument_error(name);
  return false;
}

// Binds and converts the arguments of a call into values of the given kinds
// (double, Vec, bool, std::optional<bool>, FloatOrVector), one per parameter.
template <class... Kinds>
std::optional<std::tuple<Kinds...>> parse_arguments(const Signature<sizeof...(Kinds)>& signature,
                                                    PyObject* const* args, Py_ssize_t nargs,
                                                    PyObject* kwnames) {
  std::array<PyObject*, sizeof...(Kinds)> slots{};
  if (!bind_arguments(signature.name, signature.params, signature.required, args, nargs, kwnames,
                      slots)) {
    return std::nullopt;
  }
  std::optional<std::tuple<Kinds...>> values(std::in_place);
  const bool converted = [&]<std::size_t... I>(std::index_sequence<I...>) {
    // The && fold converts left to right and stops at the first failure.
    return (convert_argument(slots[I], signature.params[I], std::get<I>(*values)) && ...);
  }(std::index_sequence_for<Kinds...>{});
  if (!converted) values.reset();
  return values;
}

}  // namespace ostrel::python
