// Extreme but valid inputs: neighbouring values whose ratio leaves a double (an
// exponential cutoff's tail of 1e-320 next to 1e-2), densities near the ends
// of the double range, photon energies from 1e-59 to 1e29 m_e c^2, seeds
// spanning fifty decades, and what lies beyond: each kernel gives a finite,
// correct result (against quadrature of the same power-law interpolation,
// taken in long double logarithms, or a closed form in long double) or refuses
// the input naming it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "constants.hpp"
#include "accurate/kernels.hpp"
#include "accurate/synchrotron_function.hpp"
#include "reference.hpp"

namespace m = ostrel::models;
namespace c = ostrel::constants;
using reference::kHzToEps;
using reference::Table;
using Vec = std::vector<double>;

namespace {

const double kE3 = c::e_charge * c::e_charge * c::e_charge;
double nu_a(double B) { return 1.5 * c::e_charge * B / (2.0 * c::pi * c::m_e * c::c); }

// Synchrotron j (which = 0) or alpha (which = 1) by quadrature over ln gamma of
// n R(x) (times gamma, or (p + 2) with p the local index of the table).
double ref_synchrotron(int which, double nu, const Table& n, double B) {
  const auto integrand = [&](double g) {
    const double x = nu / (nu_a(B) * g * g);
    const double r = m::synchrotron_function::exact(x);
    if (which == 0) return n(g) * r;
    std::size_t j = std::upper_bound(n.x.begin(), n.x.end(), g) - n.x.begin();
    j = std::min(std::max<std::size_t>(j, 1), n.x.size() - 1);
    const long double p = -(std::log((long double)n.y[j]) - std::log((long double)n.y[j - 1])) /
                          (std::log((long double)n.x[j]) - std::log((long double)n.x[j - 1]));
    return static_cast<double>((p + 2) * n(g) / g * r);
  };
  const double I = reference::log_integral(integrand, n.x.front(), n.x.back(), n.x, 1e-10);
  return which == 0 ? std::sqrt(3.0) * kE3 * B / (4 * c::pi * c::m_e * c::c * c::c) * I
                    : std::sqrt(3.0) * kE3 * B / (8 * c::pi * c::m_e * c::m_e * c::c * c::c * nu * nu) * I;
}

// int u nu^a dnu over a power-law table, segment by segment in closed form
// (long double).
long double moment(const Table& u, double a = 0.0) {
  long double sum = 0;
  for (std::size_t j = 0; j + 1 < u.x.size(); ++j) {
    if (u.y[j] <= 0 || u.y[j + 1] <= 0) continue;
    const long double L = std::log((long double)u.x[j + 1] / u.x[j]);
    const long double s1 = (std::log((long double)u.y[j + 1]) - std::log((long double)u.y[j])) / L + a + 1;
    const long double ln0 = std::log((long double)u.y[j]) + (a + 1) * std::log((long double)u.x[j]);
    sum += std::exp(ln0) * (std::abs(s1) < 1e-12L ? L : std::expm1(s1 * L) / s1);
  }
  return sum;
}

// Pair-production opacity by quadrature of 2 sigma_T int (u/h) Phi(s0)/s0^2 dln nu',
// Phi(s0) = int_1^s0 s sigma(s)/sigma_T ds from the Breit-Wheeler cross section.
double ref_gamma_gamma(double nu, const Table& u) {
  const auto sigma = [](double s) {  // sigma / sigma_T
    const long double b = std::sqrt(1.0L - 1.0L / s);
    return static_cast<double>(3.0L / 16.0L * (1 - b * b) *
                               ((3 - b * b * b * b) * std::log((1 + b) / (1 - b)) - 2 * b * (2 - b * b)));
  };
  const double eps = nu * kHzToEps;
  const auto integrand = [&](double nus) {
    const double s0 = eps * nus * kHzToEps;
    // Seed values below 1e-300 (against 1e-2 at most here) add nothing
    // visible, and their subnormal rounding would have the adaptive rule
    // halve its intervals to the end.
    if (s0 <= 1.0 || u(nus) < 1e-300) return 0.0;
    // In v = sqrt(s - 1), which takes the onset at threshold, by 16 fixed
    // panels of the 15-point Kronrod rule (an adaptive rule here would make
    // Phi jump with s0 and the outer integral chase the jumps).
    const double vb = std::sqrt(s0 - 1.0);
    double phi = 0.0;
    for (int k = 0; k < 16; ++k)
      phi += reference::quad([&](double v) { const double s = 1 + v * v; return 2 * v * s * sigma(s); },
                             vb * k / 16, vb * (k + 1) / 16, 1.0, 24);
    return u(nus) / c::h * phi / (s0 * s0) / nus;  // per unit nu'
  };
  // From the threshold s0 = 1 up.
  const double lo = std::max(u.x.front(), 1.0 / (eps * kHzToEps));
  return lo < u.x.back() ? 2.0 * c::sigma_t * reference::log_integral(integrand, lo, u.x.back(), u.x, 1e-8) : 0.0;
}

Table power_law(double g1, double g2, double K, double p) { return {{g1, g2}, {K * std::pow(g1, -p), K * std::pow(g2, -p)}}; }

// j of n = K gamma^-p on a wide grid, far from its ends (Rybicki & Lightman 6.36
// with the Mellin transform of the pitch-averaged R, in long double).
double closed_form_synchrotron_j(double nu, double K, double p, double B) {
  const long double mu = (p - 3) / 2;
  const long double mellin = std::sqrt((long double)c::pi) / 2 * std::tgamma(mu / 2 + 2) / std::tgamma(mu / 2 + 2.5L) *
                             std::pow(2.0L, mu + 1) / (mu + 2) * std::tgamma(mu / 2 + 7.0L / 3) *
                             std::tgamma(mu / 2 + 2.0L / 3);
  const long double cj = std::sqrt(3.0L) * kE3 * B / (4 * c::pi * (long double)c::m_e * c::c * c::c);
  return static_cast<double>(cj * K * 0.5L * std::pow((long double)nu / nu_a(B), (1 - (long double)p) / 2) * mellin);
}

// Thomson limit of a power law K gamma^-p scattering seed photons of energy
// eps, far from the ends of either (Blumenthal & Gould 1970, eq. 2.42), in long
// double: photons per (time, volume, eps1) per seed photon
//   pi r_0^2 c K 2^{p+3} (p^2 + 4p + 11) / ((p+3)^2 (p+5) (p+1)) eps^{(p-1)/2} eps1^{-(p+1)/2},
// summed over a monochromatic seed (u0 at nu0) or a tabulated one, whose
// photons per unit eps are u_nu / (h eps) (h / m_e c^2)^-1.
long double thomson_rate(double nu, double K, double p) {
  const long double eps1 = (long double)nu * kHzToEps;
  const long double f = std::pow(2.0L, p + 3) * (p * p + 4 * p + 11) / ((p + 3) * (p + 3) * (p + 5) * (p + 1));
  return c::h * (long double)nu / (4 * c::pi) * kHzToEps * 3.0L / 8 * c::sigma_t * c::c * K * f *
         std::pow(eps1, -(p + 1) / 2);
}
double closed_form_thomson_mono(double nu, double K, double p, double nu0, double u0) {
  const long double eps = (long double)nu0 * kHzToEps;
  return static_cast<double>(thomson_rate(nu, K, p) * u0 / (c::h * (long double)nu0) * std::pow(eps, (p - 1) / 2));
}
double closed_form_thomson(double nu, double K, double p, const Table& u) {
  // int u_nu / (h nu) (kHzToEps nu)^{(p-1)/2} dnu.
  const long double seed = moment(u, (p - 3) / 2) / c::h * std::pow((long double)kHzToEps, (p - 1) / 2);
  return static_cast<double>(thomson_rate(nu, K, p) * seed);
}

}  // namespace

TEST(Extremes, FiniteAndCorrectOrRefusedByName) {
  const Table cutoff{{10.0, 20.0, 40.0}, {1e-320, 1e-2, 1e-3}};       // ratio 1e318
  const Table jump{{10.0, 20.0, 40.0}, {1e-300, 1e10, 1e9}};          // ratio 1e310
  const Table wide_seed{{1e-40, 1e9, 1e10}, {1e-10, 1e-11, 1e-12}};   // fifty decades
  const Table rising_seed{{1e9, 1e10, 1e11}, {1e-320, 1e-2, 1e-3}};   // out of a tail
  const Table electrons = power_law(10.0, 1e6, 1.0, 2.3);
  const double thomson = 4 * c::sigma_t / (3 * c::m_e * c::c);  // times gamma^2 beta^2 U

  struct Case {
    const char* name;
    std::function<double()> got;
    std::function<double()> want;
    double tol;
  };
  const Case cases[] = {
      {"synchrotron j, cutoff tail", [&] { return m::synchrotron(Vec{1e8}, cutoff.x, cutoff.y, 1.0).first[0]; },
       [&] { return ref_synchrotron(0, 1e8, cutoff, 1.0); }, 1e-6},
      {"synchrotron alpha, cutoff tail", [&] { return m::synchrotron(Vec{1e8}, cutoff.x, cutoff.y, 1.0).second[0]; },
       [&] { return ref_synchrotron(1, 1e8, cutoff, 1.0); }, 1e-6},
      {"synchrotron j, jump of 1e310", [&] { return m::synchrotron(Vec{1e9}, jump.x, jump.y, 1.0).first[0]; },
       [&] { return ref_synchrotron(0, 1e9, jump, 1.0); }, 1e-6},
      {"synchrotron alpha, jump of 1e310", [&] { return m::synchrotron(Vec{1e9}, jump.x, jump.y, 1.0).second[0]; },
       [&] { return ref_synchrotron(1, 1e9, jump, 1.0); }, 1e-6},
      // n gamma up to 1e300 and n down to 1e-250: sums outside a double's range.
      {"synchrotron j, n = 1e300 gamma^-2.5",
       [&] { const Table t = power_law(1.0, 1e8, 1e300, 2.5); return m::synchrotron(Vec{3e5 * nu_a(2.0)}, t.x, t.y, 2.0).first[0]; },
       [&] { return closed_form_synchrotron_j(3e5 * nu_a(2.0), 1e300, 2.5, 2.0); }, 2e-5},
      {"synchrotron j, n = 1e-250 gamma^-2.5",
       [&] { const Table t = power_law(1.0, 1e8, 1e-250, 2.5); return m::synchrotron(Vec{3e5 * nu_a(2.0)}, t.x, t.y, 2.0).first[0]; },
       [&] { return closed_form_synchrotron_j(3e5 * nu_a(2.0), 1e-250, 2.5, 2.0); }, 2e-5},
      // Kirchhoff's law of a relativistic Maxwellian, n = 1e305 gamma^2 e^(-gamma/30):
      // j / alpha = 2 m theta nu^2 whatever the scale, though n gamma exceeds a double.
      {"synchrotron j / alpha, n gamma up to 1e309",
       [&] {
         Table t{reference::Vec(3000), reference::Vec(3000)};
         for (std::size_t i = 0; i < 3000; ++i) {
           t.x[i] = std::pow(3e4, i / 2999.0);
           t.y[i] = 1e305 * (t.x[i] * t.x[i] * std::exp(-t.x[i] / 30.0));
         }
         const auto [j, alpha] = m::synchrotron(Vec{2e4 * nu_a(0.1)}, t.x, t.y, 0.1);
         return j[0] / alpha[0];
       },
       [&] { return 2 * c::m_e * 30.0 * std::pow(2e4 * nu_a(0.1), 2); }, 1e-4},
      // B^2 = 1e-320 would be subnormal.
      {"synchrotron cooling, B = 1e-160, gamma = 1e30", [&] { return m::synchrotron_cooling(Vec{1e30}, 1e-160)[0]; },
       [&] { return static_cast<double>((long double)thomson * (1e-160L * 1e-160L / (8 * c::pi)) * 1e60L); }, 1e-12},
      {"inverse Compton mono, cutoff tail",
       [&] { return m::inverse_compton_mono(Vec{1e12}, cutoff.x, cutoff.y, 1e9, 1e-3)[0]; },
       [&] { return reference::ref_mono(1e12, cutoff, 1e9, 1e-3); }, 1e-5},
      // Seed photons of 8e-60 m_e c^2: the Thomson power law.
      {"inverse Compton mono, nu0 = 1e-39 Hz",
       [&] { const Table t = power_law(1.0, 1e6, 7.0, 2.5); return m::inverse_compton_mono(Vec{1e-33}, t.x, t.y, 1e-39, 1e-3)[0]; },
       [&] { return closed_form_thomson_mono(1e-33, 7.0, 2.5, 1e-39, 1e-3); }, 1e-4},
      {"inverse Compton, seed from 1e-40 Hz",
       [&] { return m::inverse_compton(Vec{1e12}, electrons.x, electrons.y, wide_seed.x, wide_seed.y)[0]; },
       [&] { return reference::ref_tabulated(1e12, electrons, wide_seed); }, 1e-4},
      // Thomson scattering by gamma ~ 1e3 of a power law over 1 .. 1e6.
      {"inverse Compton, seed rising out of 1e-320",
       [&] { const Table t = power_law(1.0, 1e6, 7.0, 2.5); return m::inverse_compton(Vec{1e16}, t.x, t.y, rising_seed.x, rising_seed.y)[0]; },
       [&] { return closed_form_thomson(1e16, 7.0, 2.5, rising_seed); }, 1e-4},
      {"Compton cooling, seed from 1e-40 Hz", [&] { return m::compton_cooling(Vec{10.0}, wide_seed.x, wide_seed.y)[0]; },
       [&] { return static_cast<double>(thomson * 99.0L * moment(wide_seed)); }, 1e-6},
      {"Compton cooling, seed rising out of 1e-320",
       [&] { return m::compton_cooling(Vec{10.0}, rising_seed.x, rising_seed.y)[0]; },
       [&] { return static_cast<double>(thomson * 99.0L * moment(rising_seed)); }, 1e-6},
      {"pair opacity, seed rising out of 1e-320",
       [&] { return m::gamma_gamma_opacity(Vec{1e32}, rising_seed.x, rising_seed.y)[0]; },
       [&] { return ref_gamma_gamma(1e32, rising_seed); }, 1e-5},
      {"pair opacity, seed from 1e-40 Hz", [&] { return m::gamma_gamma_opacity(Vec{1e32}, wide_seed.x, wide_seed.y)[0]; },
       [&] { return ref_gamma_gamma(1e32, wide_seed); }, 1e-5},
  };
  for (const Case& k : cases) {
    const double got = k.got(), want = k.want();
    ASSERT_TRUE(std::isfinite(got) && want > 0.0) << k.name << ": " << got << " vs " << want;
    EXPECT_LT(std::abs(got / want - 1.0), k.tol) << k.name << ": " << got << " vs " << want;
  }

  // Beyond the range: refused naming the argument and why.
  const Vec nu{1e12}, g = electrons.x, n = electrons.y;
  struct Refusal {
    std::function<void()> call;
    std::string message;
  };
  const std::string range = "must lie between 1e-40 and 1e50 Hz (photon energies of 1e-60 to 1e30 m_e c^2)";
  const Refusal refusals[] = {
      {[&] { m::inverse_compton_mono(nu, g, n, 1e-300, 1e-3); }, "nu0: " + range},
      {[&] { m::inverse_compton_mono(nu, g, n, 1e200, 1e-3); }, "nu0: " + range},
      {[&] { m::gamma_gamma_opacity(nu, Vec{1e-300, 1e9, 1e10}, wide_seed.y); }, "seed_nu: " + range},
      {[&] { m::synchrotron(Vec{1e60}, g, n, 1.0); }, "nu: " + range},
      {[&] { m::compton_cooling(Vec{1.0, 1e31}, wide_seed.x, wide_seed.y); }, "gamma: must be at most 1e30 (a Lorentz factor)"},
      {[&] { m::synchrotron_cooling(Vec{10.0}, 1e300); },
       "B: so large that the loss rate exceeds the largest double (1.8e308)"},
      {[&] { m::inverse_compton_mono(nu, g, Vec{1e308, 1e300}, 1e9, 1e308); },
       "n: so large that the emissivity exceeds the largest double (1.8e308)"},
  };
  for (const Refusal& r : refusals) {
    try {
      r.call();
      ADD_FAILURE() << "accepted: " << r.message;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), r.message);
    }
  }
}
