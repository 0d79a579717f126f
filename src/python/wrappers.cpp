#include "wrappers.hpp"

#include <optional>
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
  return call_frame([&]() -> PyObject* {
    const auto parsed = parse_arguments<FloatOrVector>(kGofb, args, nargs, kwnames);
    if (!parsed) return nullptr;
    return per_element(srtoolkit::gofb, std::get<0>(*parsed));
  });
}

PyObject* bofg(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_frame([&]() -> PyObject* {
    const auto parsed = parse_arguments<FloatOrVector>(kBofg, args, nargs, kwnames);
    if (!parsed) return nullptr;
    return per_element(srtoolkit::bofg, std::get<0>(*parsed));
  });
}

PyObject* eq_59_park1995(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_frame([&]() -> PyObject* {
    const auto parsed = parse_arguments<double, Vec>(kEq59Park1995, args, nargs, kwnames);
    if (!parsed) return nullptr;
    const auto& [t, g] = *parsed;
    return to_python(distribs::eq_59_park1995(t, g));
  });
}

PyObject* fp_findif_difu(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_frame([&]() -> PyObject* {
    const auto parsed =
        parse_arguments<double, Vec, Vec, Vec, Vec, Vec, double, double, std::optional<bool>>(
            kFpFindifDifu, args, nargs, kwnames);
    if (!parsed) return nullptr;
    const auto& [dt_in, gamma_bins, nin, gdot_in, din, qin, tesc_in, tlc, check_params] = *parsed;
    return to_python(ostrel::fp_findif_difu(gamma_bins, nin, gdot_in, din, qin, dt_in, tesc_in,
                                            tlc, check_params));
  });
}

PyObject* syn_emissivity_full(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return call_frame([&]() -> PyObject* {
    const auto parsed =
        parse_arguments<Vec, Vec, Vec, double, bool>(kSynEmissivityFull, args, nargs, kwnames);
    if (!parsed) return nullptr;
    const auto& [freqs, gamma_bins, n_distrib, b_field, with_abs] = *parsed;
    return to_python(ostrel::syn_emissivity_full(freqs, gamma_bins, n_distrib, with_abs, b_field));
  });
}

PyObject* rad_trans_blob(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_frame([&]() -> PyObject* {
    const auto parsed = parse_arguments<double, Vec, Vec>(kRadTransBlob, args, nargs, kwnames);
    if (!parsed) return nullptr;
    const auto& [blob_radius, j_nu, a_nu] = *parsed;
    return to_python(radiation::rad_trans_blob(blob_radius, j_nu, a_nu));
  });
}

PyObject* ic_iso_powlaw_full(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return call_frame([&]() -> PyObject* {
    const auto parsed =
        parse_arguments<Vec, Vec, Vec, Vec>(kIcIsoPowlawFull, args, nargs, kwnames);
    if (!parsed) return nullptr;
    const auto& [freqs, inu, g, n] = *parsed;
    return to_python(radiation::ic_iso_powlaw_full(freqs, inu, g, n));
  });
}

PyObject* rad_cool_pwl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_frame([&]() -> PyObject* {
    const auto parsed = parse_arguments<Vec, Vec, Vec, bool>(kRadCoolPwl, args, nargs, kwnames);
    if (!parsed) return nullptr;
    const auto& [gg, freqs, uu, with_kn] = *parsed;
    return to_python(radiation::rad_cool_pwl(gg, freqs, uu, with_kn));
  });
}

PyObject* rad_cool_mono(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_frame([&]() -> PyObject* {
    const auto parsed =
        parse_arguments<Vec, double, double, bool>(kRadCoolMono, args, nargs, kwnames);
    if (!parsed) return nullptr;
    const auto& [gg, nu0, u0, with_kn] = *parsed;
    return to_python(radiation::rad_cool_mono(gg, nu0, u0, with_kn));
  });
}

PyObject* ic_iso_monochrome_full(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
  return call_frame([&]() -> PyObject* {
    const auto parsed =
        parse_arguments<Vec, double, double, Vec, Vec>(kIcIsoMonochromeFull, args, nargs, kwnames);
    if (!parsed) return nullptr;
    const auto& [freqs, uext, nuext, n, g] = *parsed;
    return to_python(ostrel::ic_iso_monochrome_full(freqs, n, g, uext, nuext));
  });
}

PyObject* rad_trans_slab(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_frame([&]() -> PyObject* {
    const auto parsed = parse_arguments<double, Vec, Vec>(kRadTransSlab, args, nargs, kwnames);
    if (!parsed) return nullptr;
    const auto& [blob_radius, j_nu, a_nu] = *parsed;
    return to_python(radiation::rad_trans_slab(blob_radius, j_nu, a_nu));
  });
}

}  // namespace ostrel::python
