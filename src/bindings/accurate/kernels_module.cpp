// Python binding of the accurate kernels: the extension ostrel_models._kernels.
//
// Thin on purpose: ostrel_models.kernels converts the arguments to contiguous
// 1-D float64 arrays and documents them; here each array is viewed as a span,
// the interpreter lock is released while the kernel runs on the worker pool,
// and the resulting vectors become NumPy arrays that own them.  The kernels'
// std::invalid_argument ("<argument>: <problem>") reaches Python as ValueError.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/pair.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "accurate/kernels.hpp"

namespace nb = nanobind;
using namespace nb::literals;
namespace m = ostrel::models;

namespace {

using Array = nb::ndarray<const double, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
using Result = nb::ndarray<nb::numpy, double, nb::ndim<1>>;

m::Span span(const Array& a) { return {a.data(), a.shape(0)}; }

Result to_numpy(m::Vec&& v) {
  auto* owned = new m::Vec(std::move(v));
  nb::capsule owner(owned, [](void* p) noexcept { delete static_cast<m::Vec*>(p); });
  return Result(owned->data(), {owned->size()}, owner);
}

// Runs the kernel without the interpreter lock (the spans stay valid: the
// caller's arrays are referenced by the arguments of this call).
template <class Kernel>
auto unlocked(Kernel&& kernel) {
  nb::gil_scoped_release release;
  return kernel();
}

}  // namespace

NB_MODULE(_kernels, mod) {
  mod.doc() = "Accurate radiation kernels (see ostrel_models.kernels for their documentation).";

  mod.def(
      "synchrotron",
      [](Array nu, Array gamma, Array n, double B) {
        auto [j, alpha] = unlocked([&] { return m::synchrotron(span(nu), span(gamma), span(n), B); });
        return std::make_pair(to_numpy(std::move(j)), to_numpy(std::move(alpha)));
      },
      "nu"_a, "gamma"_a, "n"_a, "B"_a);
  mod.def(
      "synchrotron_cooling",
      [](Array gamma, double B) {
        return to_numpy(unlocked([&] { return m::synchrotron_cooling(span(gamma), B); }));
      },
      "gamma"_a, "B"_a);
  mod.def(
      "gamma_gamma_opacity",
      [](Array nu, Array seed_nu, Array seed_u) {
        return to_numpy(
            unlocked([&] { return m::gamma_gamma_opacity(span(nu), span(seed_nu), span(seed_u)); }));
      },
      "nu"_a, "seed_nu"_a, "seed_u"_a);
  mod.def(
      "inverse_compton",
      [](Array nu, Array gamma, Array n, Array seed_nu, Array seed_u) {
        return to_numpy(unlocked([&] {
          return m::inverse_compton(span(nu), span(gamma), span(n), span(seed_nu), span(seed_u));
        }));
      },
      "nu"_a, "gamma"_a, "n"_a, "seed_nu"_a, "seed_u"_a);
  mod.def(
      "inverse_compton_mono",
      [](Array nu, Array gamma, Array n, double nu0, double u0) {
        return to_numpy(
            unlocked([&] { return m::inverse_compton_mono(span(nu), span(gamma), span(n), nu0, u0); }));
      },
      "nu"_a, "gamma"_a, "n"_a, "nu0"_a, "u0"_a);
  mod.def(
      "compton_cooling",
      [](Array gamma, Array seed_nu, Array seed_u) {
        return to_numpy(
            unlocked([&] { return m::compton_cooling(span(gamma), span(seed_nu), span(seed_u)); }));
      },
      "gamma"_a, "seed_nu"_a, "seed_u"_a);
  mod.def(
      "compton_cooling_mono",
      [](Array gamma, double nu0, double u0) {
        return to_numpy(unlocked([&] { return m::compton_cooling_mono(span(gamma), nu0, u0); }));
      },
      "gamma"_a, "nu0"_a, "u0"_a);
}
