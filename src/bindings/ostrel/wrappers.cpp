#include "wrappers.hpp"

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding.hpp"
#include "convert.hpp"
#include "frame.hpp"
#include "functions.hpp"

// Arguments are converted before any kernel runs, and the converted vectors
// are lent to the kernel read-only.

namespace ostrel::python {

namespace {

// The value a parameter of each kind is converted into.
template <class Param>
struct Stored {
  using type = std::decay_t<Param>;
};
template <>
struct Stored<std::span<const double>> {
  using type = Vec;
};

template <class Kernel>
struct Call;

// An interface function: convert each argument to its parameter's type.
template <class R, class... Args>
struct Call<R (*)(Args...)> {
  template <std::size_t N>
  static PyObject* run(R (*kernel)(Args...), const Signature<N>& signature, PyObject* const* args,
                       Py_ssize_t nargs, PyObject* kwnames) {
    const auto parsed =
        parse_arguments<typename Stored<Args>::type...>(signature, args, nargs, kwnames);
    if (!parsed) return nullptr;
    return to_python(std::apply(kernel, *parsed));
  }
};

// A per-element helper: a float gives a float, a vector a list.
template <>
struct Call<PerElement> {
  template <std::size_t N>
  static PyObject* run(PerElement helper, const Signature<N>& signature, PyObject* const* args,
                       Py_ssize_t nargs, PyObject* kwnames) {
    const auto parsed = parse_arguments<FloatOrVector>(signature, args, nargs, kwnames);
    if (!parsed) return nullptr;
    const FloatOrVector& arg = std::get<0>(*parsed);
    if (!arg.is_vector) return to_python(helper.scalar(arg.value));
    return to_python(helper.vector(arg.values));
  }
};

// The parameter descriptor of row I.
template <std::size_t I>
constexpr auto kSignature = [] {
  constexpr const auto& f = kFunction<I>;
  return Signature<f.params.size()>{f.name, f.params, f.required};
}();

// Entry point of a row with parameters (METH_FASTCALL | METH_KEYWORDS).
template <std::size_t I>
PyObject* with_keywords(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_frame([&]() -> PyObject* {
    using Kernel = std::decay_t<decltype(kFunction<I>.kernel)>;
    return Call<Kernel>::run(kFunction<I>.kernel, kSignature<I>, args, nargs, kwnames);
  });
}

// Entry point of a row without parameters (METH_NOARGS).
template <std::size_t I>
PyObject* without_arguments(PyObject*, PyObject*) {
  return call_frame([]() -> PyObject* { return to_python(kFunction<I>.kernel()); });
}

// The method record stores every entry point as a PyCFunction.
template <class Function>
PyCFunction entry(Function* function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

template <std::size_t I>
PyMethodDef record() {
  if constexpr (kFunction<I>.params.size() == 0) {
    return {kFunction<I>.name, entry(&without_arguments<I>), METH_NOARGS, kDocstring<I>.data()};
  } else {
    return {kFunction<I>.name, entry(&with_keywords<I>), METH_FASTCALL | METH_KEYWORDS,
            kDocstring<I>.data()};
  }
}

template <std::size_t... I>
std::array<PyMethodDef, kFunctionCount> records(std::index_sequence<I...>) {
  return {record<I>()...};
}

}  // namespace

std::span<PyMethodDef> method_records() {
  static std::array<PyMethodDef, kFunctionCount> methods =
      records(std::make_index_sequence<kFunctionCount>{});
  return methods;
}

}  // namespace ostrel::python
