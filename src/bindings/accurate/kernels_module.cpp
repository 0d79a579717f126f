// Python binding of the accurate kernels: the extension ostrel_models._kernels.
//
// Thin on purpose: ostrel_models.kernels converts the arguments to contiguous
// 1-D float64 arrays and documents them; here each argument is checked again
// (arguments.hpp), viewed as a span, the kernel runs on the worker pool
// without the interpreter lock (unlocked.hpp), and the resulting vectors
// become NumPy arrays that own them.  The kernels' std::invalid_argument
// ("<argument>: <problem>") reaches Python as ValueError.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/pair.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "accurate/external_compton.hpp"
#include "accurate/kernels.hpp"
#include "arguments.hpp"
#include "unlocked.hpp"

namespace nb = nanobind;
using namespace nb::literals;
namespace m = ostrel::models;
using m::binding::scalar;
using m::binding::unlocked;

namespace {

using Result = nb::ndarray<nb::numpy, double, nb::ndim<1>>;

// The argument `name` as a span over float64 values (the array it refers to
// stays alive in `keep` for the call).
struct Vector {
  Vector(nb::handle value, const char* name) : keep(m::binding::vector(value, name)) {}
  m::Span span() const { return {keep.data(), keep.shape(0)}; }
  m::binding::Array keep;
};

Result to_numpy(m::Vec&& v) {
  auto* owned = new m::Vec(std::move(v));
  nb::capsule owner(owned, [](void* p) noexcept { delete static_cast<m::Vec*>(p); });
  return Result(owned->data(), {owned->size()}, owner);
}

}  // namespace

NB_MODULE(_kernels, mod) {
  mod.doc() = "Accurate radiation kernels (see ostrel_models.kernels for their documentation).";
  m::binding::remember_main_thread();

  mod.def(
      "synchrotron",
      [](nb::handle nu, nb::handle gamma, nb::handle n, nb::handle B) {
        const Vector v_nu(nu, "nu"), v_gamma(gamma, "gamma"), v_n(n, "n");
        const double b = scalar(B, "B");
        auto [j, alpha] = unlocked([&] { return m::synchrotron(v_nu.span(), v_gamma.span(), v_n.span(), b); });
        return std::make_pair(to_numpy(std::move(j)), to_numpy(std::move(alpha)));
      },
      "nu"_a, "gamma"_a, "n"_a, "B"_a);
  mod.def(
      "synchrotron_cooling",
      [](nb::handle gamma, nb::handle B) {
        const Vector v_gamma(gamma, "gamma");
        const double b = scalar(B, "B");
        return to_numpy(unlocked([&] { return m::synchrotron_cooling(v_gamma.span(), b); }));
      },
      "gamma"_a, "B"_a);
  mod.def(
      "gamma_gamma_opacity",
      [](nb::handle nu, nb::handle seed_nu, nb::handle seed_u) {
        const Vector v_nu(nu, "nu"), v_seed_nu(seed_nu, "seed_nu"), v_seed_u(seed_u, "seed_u");
        return to_numpy(unlocked(
            [&] { return m::gamma_gamma_opacity(v_nu.span(), v_seed_nu.span(), v_seed_u.span()); }));
      },
      "nu"_a, "seed_nu"_a, "seed_u"_a);
  mod.def(
      "inverse_compton",
      [](nb::handle nu, nb::handle gamma, nb::handle n, nb::handle seed_nu, nb::handle seed_u) {
        const Vector v_nu(nu, "nu"), v_gamma(gamma, "gamma"), v_n(n, "n"),
            v_seed_nu(seed_nu, "seed_nu"), v_seed_u(seed_u, "seed_u");
        return to_numpy(unlocked([&] {
          return m::inverse_compton(v_nu.span(), v_gamma.span(), v_n.span(), v_seed_nu.span(),
                                    v_seed_u.span());
        }));
      },
      "nu"_a, "gamma"_a, "n"_a, "seed_nu"_a, "seed_u"_a);
  mod.def(
      "inverse_compton_mono",
      [](nb::handle nu, nb::handle gamma, nb::handle n, nb::handle nu0, nb::handle u0) {
        const Vector v_nu(nu, "nu"), v_gamma(gamma, "gamma"), v_n(n, "n");
        const double s_nu0 = scalar(nu0, "nu0"), s_u0 = scalar(u0, "u0");
        return to_numpy(unlocked([&] {
          return m::inverse_compton_mono(v_nu.span(), v_gamma.span(), v_n.span(), s_nu0, s_u0);
        }));
      },
      "nu"_a, "gamma"_a, "n"_a, "nu0"_a, "u0"_a);
  mod.def(
      "compton_cooling",
      [](nb::handle gamma, nb::handle seed_nu, nb::handle seed_u) {
        const Vector v_gamma(gamma, "gamma"), v_seed_nu(seed_nu, "seed_nu"), v_seed_u(seed_u, "seed_u");
        return to_numpy(unlocked(
            [&] { return m::compton_cooling(v_gamma.span(), v_seed_nu.span(), v_seed_u.span()); }));
      },
      "gamma"_a, "seed_nu"_a, "seed_u"_a);
  mod.def(
      "compton_cooling_mono",
      [](nb::handle gamma, nb::handle nu0, nb::handle u0) {
        const Vector v_gamma(gamma, "gamma");
        const double s_nu0 = scalar(nu0, "nu0"), s_u0 = scalar(u0, "u0");
        return to_numpy(unlocked([&] { return m::compton_cooling_mono(v_gamma.span(), s_nu0, s_u0); }));
      },
      "gamma"_a, "nu0"_a, "u0"_a);
  mod.def(
      "external_compton",
      [](nb::handle nu, nb::handle gamma, nb::handle n, nb::handle w_nu, nb::handle w_a, bool smooth) {
        const Vector v_nu(nu, "nu"), v_gamma(gamma, "gamma"), v_n(n, "n"), v_w_nu(w_nu, "w_nu"),
            v_w_a(w_a, "w_a");
        return to_numpy(unlocked([&] {
          return m::external_compton(v_nu.span(), v_gamma.span(), v_n.span(), v_w_nu.span(),
                                     v_w_a.span(), smooth);
        }));
      },
      "nu"_a, "gamma"_a, "n"_a, "w_nu"_a, "w_a"_a, "smooth"_a);
}
