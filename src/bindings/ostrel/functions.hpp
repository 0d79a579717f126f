// The table of the module's twelve functions, in registration order: for each
// its Python name, the function of the C++ interface it calls, its parameter
// names, how many of them are required, and the free text of its docstring.
//
// Everything else about a function is derived from its row: the kind of each
// parameter (float, vector, flag, optional flag) from the C++ parameter type,
// the method record and its calling convention, the parameter descriptor that
// binds the arguments, the text signature that opens the docstring
// ("name(a, b, c=None)\n--\n\n"), and the stub lines the tests expect in
// ostrel.pyi.  This header does not need the interpreter.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>

#include "ostrel.hpp"

namespace ostrel::python {

// How an argument is read.
enum class Kind {
  real,             // a float (anything the interpreter converts to one)
  vector,           // a sequence of floats
  flag,             // exactly True or False
  optional_flag,    // True, False, None or left out
  real_or_vector,   // a float, else a sequence of floats: per-element helpers
};

template <class T>
struct KindOf;
template <>
struct KindOf<double> {
  static constexpr Kind value = Kind::real;
};
template <>
struct KindOf<std::span<const double>> {
  static constexpr Kind value = Kind::vector;
};
template <>
struct KindOf<bool> {
  static constexpr Kind value = Kind::flag;
};
template <>
struct KindOf<std::optional<bool>> {
  static constexpr Kind value = Kind::optional_flag;
};

// A helper of one float applied to one value, or to each element of a vector.
struct PerElement {
  double (*scalar)(double);
  Vec (*vector)(std::span<const double>);
};

// The parameter kinds and the result type of an interface function.
template <class Kernel>
struct KernelTraits;
template <class R, class... Args>
struct KernelTraits<R (*)(Args...)> {
  using Result = R;
  static constexpr std::array<Kind, sizeof...(Args)> kinds{KindOf<Args>::value...};
};
template <>
struct KernelTraits<PerElement> {
  using Result = void;  // float for a float, list for a vector
  static constexpr std::array<Kind, 1> kinds{Kind::real_or_vector};
};

template <class Kernel, std::size_t N>
struct Function {
  const char* name;
  Kernel kernel;
  std::array<const char*, N> params;
  std::size_t required;  // the first `required` parameters; the others default to None
  const char* doc;       // free text after the text signature, possibly empty
};

template <class Kernel, std::size_t N>
constexpr Function<Kernel, N> function(const char* name, Kernel kernel,
                                       const char* const (&params)[N], std::size_t required,
                                       const char* doc) {
  static_assert(KernelTraits<Kernel>::kinds.size() == N, "one name per parameter");
  Function<Kernel, N> f{name, kernel, {}, required, doc};
  for (std::size_t i = 0; i < N; ++i) f.params[i] = params[i];
  return f;
}

template <class Kernel>
constexpr Function<Kernel, 0> function(const char* name, Kernel kernel, const char* doc) {
  static_assert(KernelTraits<Kernel>::kinds.empty());
  return {name, kernel, {}, 0, doc};
}

inline constexpr auto kFunctions = std::make_tuple(
    function("get_c", &ostrel::get_c,
             "Example retrieving constant from constants file can be improved by using macros"),
    function("gofb", PerElement{&ostrel::gofb, &ostrel::gofb}, {"arg"}, 1,
             "functions from srtoolkit"),
    function("bofg", PerElement{&ostrel::bofg, &ostrel::bofg}, {"arg"}, 1, ""),
    function("eq_59_park1995", &ostrel::eq_59_park1995, {"t", "g"}, 2, "functions from distribs"),
    function("fp_findif_difu", &ostrel::fp_findif_difu,
             {"dt_in", "gamma_bins", "nin", "gdot_in", "din", "qin", "tesc_in", "tlc",
              "check_params"},
             8, ""),
    function("syn_emissivity_full", &ostrel::syn_emissivity_full,
             {"freqs", "gamma_bins", "n_distrib", "b_field", "with_abs"}, 5, ""),
    function("rad_trans_blob", &ostrel::rad_trans_blob, {"blob_radius", "j_nu", "a_nu"}, 3, ""),
    function("ic_iso_powlaw_full", &ostrel::ic_iso_powlaw_full, {"freqs", "inu", "g", "n"}, 4,
             ""),
    function("rad_cool_pwl", &ostrel::rad_cool_pwl, {"gg", "freqs", "uu", "with_kn"}, 4, ""),
    function("rad_cool_mono", &ostrel::rad_cool_mono, {"gg", "nu0", "u0", "with_kn"}, 4, ""),
    function("ic_iso_monochrome_full", &ostrel::ic_iso_monochrome_full,
             {"freqs", "uext", "nuext", "n", "g"}, 5, ""),
    function("rad_trans_slab", &ostrel::rad_trans_slab, {"blob_radius", "j_nu", "a_nu"}, 3, ""));

inline constexpr std::size_t kFunctionCount = std::tuple_size_v<decltype(kFunctions)>;

template <std::size_t I>
inline constexpr const auto& kFunction = std::get<I>(kFunctions);

// --- the docstring as stored in the method record ---------------------------

namespace detail {

// Writes "name(a, b, c=None)\n--\n\n<doc>" to out (if not null) and returns its
// length.
template <class F>
constexpr std::size_t write_docstring(const F& f, char* out) {
  std::size_t n = 0;
  const auto put = [&](std::string_view text) {
    for (char ch : text) {
      if (out != nullptr) out[n] = ch;
      ++n;
    }
  };
  put(f.name);
  put("(");
  for (std::size_t i = 0; i < f.params.size(); ++i) {
    if (i != 0) put(", ");
    put(f.params[i]);
    if (i >= f.required) put("=None");
  }
  put(")\n--\n\n");
  put(f.doc);
  return n;
}

template <std::size_t I>
constexpr auto docstring_storage() {
  constexpr std::size_t n = write_docstring(kFunction<I>, nullptr);
  std::array<char, n + 1> text{};
  write_docstring(kFunction<I>, text.data());
  return text;
}

}  // namespace detail

// The NUL-terminated docstring of function I.
template <std::size_t I>
inline constexpr auto kDocstring = detail::docstring_storage<I>();

}  // namespace ostrel::python
