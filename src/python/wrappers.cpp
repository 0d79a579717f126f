#include "wrappers.hpp"

#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "constants.hpp"
#include "convert.hpp"
#include "distribs.hpp"
#include "frame.hpp"
#include "ostrel.hpp"
#include "radiation.hpp"
#include "srtoolkit.hpp"

// Each wrapper lists its parameters in their Python order with their kinds;
// the kernel's own parameter order may differ.  Arguments are converted
// before any kernel runs, and the converted vectors are lent to the kernel
// read-only.

namespace ostrel::python {

namespace {

// The body every function with parameters shares: bind and convert the
// arguments by `signature` into values of the given kinds, run the kernel on
// them, and convert its result (a kernel that builds the Python object itself
// returns it as it is) -- all inside the call frame.
template <class... Kinds, class Kernel>
PyObject* bound_call(const Signature<sizeof...(Kinds)>& signature, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames, Kernel&& kernel) {
  return call_frame([&]() -> PyObject* {
    const auto parsed = parse_arguments<Kinds...>(signature, args, nargs, kwnames);
    if (!parsed) return nullptr;
    auto result = std::apply(kernel, *parsed);
    if constexpr (std::is_same_v<decltype(result), PyObject*>) {
      return result;
    } else {
      return to_python(result);
    }
  });
}

// gofb and bofg: the helper on one value, or on each element in order.
PyObject* per_element(double (*helper)(double), const FloatOrVector& arg) {
  if (!arg.is_vector) return to_python(helper(arg.value));
  Vec results(arg.values.size());
  for (std::size_t i = 0; i < arg.values.size(); ++i) results[i] = helper(arg.values[i]);
  return to_python(results);
}

constexpr Signature<1> kGofb{"gofb", {"arg"}, 1};
constexpr Signature<1> kBofg{"bofg", {"arg"}, 1};
constexpr Signature<2> kEq59Park1995{"eq_59_park1995", {"t", "g"}, 2};
constexpr Signature<9> kFpFindifDifu{
    "fp_findif_difu",
    {"dt_in", "gamma_bins", "nin", "gdot_in", "din", "qin", "tesc_in", "tlc", "check_params"},
    8};
constexpr Signature<5> kSynEmissivityFull{
    "syn_emissivity_full", {"freqs", "gamma_bins", "n_distrib", "b_field", "with_abs"}, 5};
constexpr Signature<3> kRadTransBlob{"rad_trans_blob", {"blob_radius", "j_nu", "a_nu"}, 3};
constexpr Signature<4> kIcIsoPowlawFull{"ic_iso_powlaw_full", {"freqs", "inu", "g", "n"}, 4};
constexpr Signature<4> kRadCoolPwl{"rad_cool_pwl", {"gg", "freqs", "uu", "with_kn"}, 4};
constexpr Signature<4> kRadCoolMono{"rad_cool_mono", {"gg", "nu0", "u0", "with_kn"}, 4};
constexpr Signature<5> kIcIsoMonochromeFull{
    "ic_iso_monochrome_full", {"freqs", "uext", "nuext", "n", "g"}, 5};
constexpr Signature<3> kRadTransSlab{"rad_trans_slab", {"blob_radius", "j_nu", "a_nu"}, 3};

}  // namespace

PyObject* get_c(PyObject*, PyObject*) {
  return call_frame([]() -> PyObject* { return to_python(constants::c); });
}

PyObject* gofb(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return bound_call<FloatOrVector>(kGofb, args, nargs, kwnames, [](const FloatOrVector& arg) {
    return per_element(srtoolkit::gofb, arg);
  });
}

PyObject* bofg(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return bound_call<FloatOrVector>(kBofg, args, nargs, kwnames, [](const FloatOrVector& arg) {
    return per_element(srtoolkit::bofg, arg);
  });
}

PyObject* eq_59_park1995(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return bound_call<double, Vec>(kEq59Park1995, args, nargs, kwnames,
                                 distribs::eq_59_park1995);
}

PyObject* fp_findif_difu(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return bound_call<double, Vec, Vec, Vec, Vec, Vec, double, double, std::optional<bool>>(
      kFpFindifDifu, args, nargs, kwnames,
      [](double dt_in, const Vec& gamma_bins, const Vec& nin, const Vec& gdot_in, const Vec& din,
         const Vec& qin, double tesc_in, double tlc, std::optional<bool> check_params) {
        return ostrel::fp_findif_difu(gamma_bins, nin, gdot_in, din, qin, dt_in, tesc_in, tlc,
                                      check_params);
      });
}

PyObject* syn_emissivity_full(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return bound_call<Vec, Vec, Vec, double, bool>(
      kSynEmissivityFull, args, nargs, kwnames,
      [](const Vec& freqs, const Vec& gamma_bins, const Vec& n_distrib, double b_field,
         bool with_abs) {
        return ostrel::syn_emissivity_full(freqs, gamma_bins, n_distrib, with_abs, b_field);
      });
}

PyObject* rad_trans_blob(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return bound_call<double, Vec, Vec>(kRadTransBlob, args, nargs, kwnames,
                                      radiation::rad_trans_blob);
}

PyObject* ic_iso_powlaw_full(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return bound_call<Vec, Vec, Vec, Vec>(kIcIsoPowlawFull, args, nargs, kwnames,
                                        radiation::ic_iso_powlaw_full);
}

PyObject* rad_cool_pwl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return bound_call<Vec, Vec, Vec, bool>(kRadCoolPwl, args, nargs, kwnames,
                                         radiation::rad_cool_pwl);
}

PyObject* rad_cool_mono(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return bound_call<Vec, double, double, bool>(kRadCoolMono, args, nargs, kwnames,
                                               radiation::rad_cool_mono);
}

PyObject* ic_iso_monochrome_full(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
  return bound_call<Vec, double, double, Vec, Vec>(
      kIcIsoMonochromeFull, args, nargs, kwnames,
      [](const Vec& freqs, double uext, double nuext, const Vec& n, const Vec& g) {
        return ostrel::ic_iso_monochrome_full(freqs, n, g, uext, nuext);
      });
}

PyObject* rad_trans_slab(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return bound_call<double, Vec, Vec>(kRadTransSlab, args, nargs, kwnames,
                                      radiation::rad_trans_slab);
}

}  // namespace ostrel::python
