// Inverse-Compton emissivity and Compton cooling against independent
// integrals: adaptive Gauss-Kronrod quadrature of the exact double integral over
// the same power-law-interpolated inputs, and closed forms in the Thomson and
// extreme Klein-Nishina limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "constants.hpp"
#include "accurate/kernels.hpp"
#include "accurate/klein_nishina.hpp"
#include "reference.hpp"

namespace m = ostrel::models;
namespace c = ostrel::constants;
using Vec = std::vector<double>;
using reference::log_integral;
using reference::quad;
using reference::ref_mono;
using reference::ref_tabulated;
using reference::Table;

namespace {

const double kMec2 = c::m_e * c::c * c::c;  // [erg]
const double kHzToEps = c::h / kMec2;

// F_KN(b) = 9 int_0^1 q F(q, b) / (1 + b q)^3 dq, by adaptive quadrature in
// ln q, split where b q = 1.
double ref_loss_factor(double b) {
  const auto f = [&](double q) {
    if (q <= 0.0) return 0.0;
    const double F = 2.0 * q * std::log(q) + (1.0 + 2.0 * q) * (1.0 - q) +
                     0.5 * (b * q) * (b * q) * (1.0 - q) / (1.0 + b * q);
    return 9.0 * q * F / std::pow(1.0 + b * q, 3);
  };
  return log_integral(f, 1e-18 * std::min(1.0, 1.0 / b), 1.0, {1.0 / b}, 1e-11);
}

double rel(double got, double want) { return std::fabs(got / want - 1.0); }

Vec logspace(double a, double b, int k) {
  Vec v(k);
  for (int i = 0; i < k; ++i) v[i] = std::pow(10.0, a + (b - a) * i / (k - 1));
  return v;
}

// Power law with exponential cutoff n = K gamma^-p exp(-gamma / gc).
Table electrons(double g1, double g2, int k, double p, double gc) {
  Table t{logspace(std::log10(g1), std::log10(g2), k), {}};
  for (double g : t.x) t.y.push_back(1e3 * std::pow(g, -p) * std::exp(-g / gc));
  return t;
}

// Worst relative error over the outputs above 1e-6 of the largest.
double worst_error(const Vec& got, const Vec& want) {
  const double peak = *std::max_element(want.begin(), want.end());
  double worst = 0.0;
  for (std::size_t i = 0; i < got.size(); ++i)
    if (want[i] > 1e-6 * peak) worst = std::max(worst, rel(got[i], want[i]));
  return worst;
}

}  // namespace

// ---------------------------------------------------------------------------
TEST(KleinNishinaLoss, TableMatchesItsIntegralAndLimits) {
  namespace kn = m::klein_nishina;
  double worst = 0.0;
  for (double b : {1e-6, 1e-3, 0.05, 0.37, 1.0, 3.3, 17.0, 140.0, 1e4, 3e6, 1e9}) {
    worst = std::max(worst, rel(kn::loss_factor(b), ref_loss_factor(b)));
  }
  EXPECT_LT(worst, 1e-6);
  // Thomson limit 1 - (63/40) b and extreme Klein-Nishina (9 / 2b^2)(ln b - 11/6).
  EXPECT_NEAR((1.0 - kn::loss_factor(1e-7)) / 1e-7, 63.0 / 40.0, 1e-5);
  for (double b : {1e7, 1e10, 1e14})
    EXPECT_LT(rel(kn::loss_factor(b), 4.5 / (b * b) * (std::log(b) - 11.0 / 6.0)), 1e-5) << b;
  // Between the table's points and across its ends.
  for (double x = -19.0; x < 29.0; x += 0.3137)
    EXPECT_LT(rel(kn::loss_factor_of_log(x), kn::loss_factor_integral(std::exp(x))), 1e-6) << x;
}

// ---------------------------------------------------------------------------
// Monochromatic seed: Thomson (optical seed, gamma <= 1e4), transition and
// deep Klein-Nishina (UV seed, gamma to 1e7), the tail up to gamma_max m_e c^2
// included, and a coarse electron grid (a power law per decade).
TEST(InverseComptonMono, MatchesQuadratureInEveryRegime) {
  struct Case { const char* name; Table n; double nu0, u0; };
  Case cases[] = {
      {"Thomson", electrons(10.0, 1e4, 48, 2.3, 3e3), 4e14, 1e-2},
      {"Klein-Nishina", electrons(1.0, 1e7, 96, 2.0, 1e6), 2.5e15, 1.0},
      {"coarse grid with a gap", electrons(3.0, 3e6, 7, 2.7, 1e9), 1e15, 0.3},
  };
  cases[2].n.y[4] = 0.0;  // no electrons between 3e4 and 3e6
  for (const Case& k : cases) {
    const Vec nu = logspace(13.5, std::log10(k.n.x.back() * 1.2 / kHzToEps), 41);
    const Vec got = m::inverse_compton_mono(nu, k.n.x, k.n.y, k.nu0, k.u0);
    Vec want;
    for (double v : nu) want.push_back(ref_mono(v, k.n, k.nu0, k.u0));
    for (std::size_t i = 0; i < nu.size(); ++i) {
      if (want[i] == 0.0) {
        EXPECT_EQ(got[i], 0.0) << k.name << " nu=" << nu[i];
      }
    }
    EXPECT_LT(worst_error(got, want), 1e-3) << k.name;
  }
}

TEST(InverseCompton, MatchesQuadratureInEveryRegime) {
  struct Case { const char* name; Table n; Table u; };
  Table bb{logspace(12.0, 16.0, 14), {}};  // a thermal hump (in u_nu)
  for (double v : bb.x) bb.y.push_back(1e-15 * std::pow(v / 1e15, 3) / std::expm1(v / 1e15));
  Table pl{logspace(9.0, 17.0, 9), {}};  // a synchrotron-like power law with zeros
  for (double v : pl.x) pl.y.push_back(v < 1e10 ? 0.0 : 1e-12 * std::pow(v / 1e10, -0.7));
  const Case cases[] = {
      {"thermal seed, Klein-Nishina", electrons(1.0, 1e7, 40, 2.2, 1e6), bb},
      {"power-law seed, Thomson to KN", electrons(10.0, 1e6, 25, 2.5, 1e9), pl},
      // One seed segment over six decades: eps^-4 spans 24 decades in it.
      {"two-point seed", electrons(1.0, 1e7, 30, 2.2, 1e6), Table{{1e10, 1e16}, {1e-12, 1e-15}}},
  };
  for (const Case& k : cases) {
    const Vec nu = logspace(9.5, std::log10(k.n.x.back() * 1.2 / kHzToEps), 15);
    const Vec got = m::inverse_compton(nu, k.n.x, k.n.y, k.u.x, k.u.y);
    Vec want;
    for (double v : nu) want.push_back(ref_tabulated(v, k.n, k.u));
    EXPECT_LT(worst_error(got, want), 1e-3) << k.name;
  }
}

// Thomson limit of a power law n = K gamma^-p on a monochromatic seed, far
// from the ends of the distribution (Blumenthal & Gould 1970, eq. 2.42):
// dN/(dt dV deps1) = pi r_0^2 c n_ph K 2^{p+3} (p^2 + 4p + 11) /
// ((p+3)^2 (p+5) (p+1)) eps^{(p-1)/2} eps1^{-(p+1)/2}.
TEST(InverseComptonMono, ThomsonPowerLawClosedForm) {
  const double p = 2.5, K = 7.0, nu0 = 1e10, u0 = 1e-3;  // radio seed: 4 gamma eps <= 4e-5
  const Vec g = logspace(0.0, 6.0, 2);
  const Vec n = {K, K * std::pow(1e6, -p)};
  // 4 gamma^2 nu0 spans 4e10 .. 4e22; at 1e19 Hz the missing electrons above
  // 1e6 take away 1e-6 of the emission.
  const Vec nu = logspace(12.0, 19.0, 8);
  const Vec got = m::inverse_compton_mono(nu, g, n, nu0, u0);
  const double eps = nu0 * kHzToEps, nph = u0 / (c::h * nu0);
  const double pi_r0sq_c = 3.0 / 8.0 * c::sigma_t * c::c;
  const double f = std::pow(2.0, p + 3) * (p * p + 4 * p + 11) / ((p + 3) * (p + 3) * (p + 5) * (p + 1));
  for (std::size_t i = 0; i < nu.size(); ++i) {
    const double eps1 = nu[i] * kHzToEps;
    const double rate = pi_r0sq_c * nph * K * f * std::pow(eps, (p - 1) / 2) * std::pow(eps1, -(p + 1) / 2);
    const double want = c::h * nu[i] / (4.0 * c::pi) * kHzToEps * rate;
    EXPECT_LT(rel(got[i], want), 1e-4) << nu[i];
  }
}

// The power scattered by the electrons is the power they lose:
// 4 pi int j dnu = m_e c^2 int n(gamma) (-dgamma/dt) dgamma, in the
// Klein-Nishina regime as well (up to terms of order 1/gamma^2), which ties
// the normalisations of the emissivity and of the loss rate together.
TEST(InverseCompton, ScatteredPowerIsTheElectronsEnergyLoss) {
  const double p = 2.2, g1 = 1e2, g2 = 1e7;
  const Vec g = {g1, g2}, n = {1.0, std::pow(g2 / g1, -p)};
  Table bb{logspace(13.0, 16.5, 20), {}};
  for (double v : bb.x) bb.y.push_back(1e-15 * std::pow(v / 1e15, 3) / std::expm1(v / 1e15));
  // Simpson's rule in ln x on a dense grid.
  const auto simpson_log = [](const Vec& x, const Vec& y) {
    double sum = 0.0;
    for (std::size_t i = 0; i + 2 < x.size(); i += 2) {
      const double h = std::log(x[i + 1] / x[i]);
      sum += h / 3.0 * (x[i] * y[i] + 4.0 * x[i + 1] * y[i + 1] + x[i + 2] * y[i + 2]);
    }
    return sum;
  };
  const Vec nu = logspace(13.0, std::log10(g2 / kHzToEps), 1201);
  const double emitted = 4.0 * c::pi * simpson_log(nu, m::inverse_compton(nu, g, n, bb.x, bb.y));
  const Vec gg = logspace(2.0, 7.0, 801);
  const Vec loss = m::compton_cooling(gg, bb.x, bb.y);
  Vec integrand(gg.size());
  for (std::size_t i = 0; i < gg.size(); ++i) integrand[i] = std::pow(gg[i] / g1, -p) * loss[i];
  const double lost = kMec2 * simpson_log(gg, integrand);
  EXPECT_LT(rel(emitted, lost), 1e-3);
  // And with a monochromatic seed.
  const Vec nu_m = logspace(13.0, std::log10(g2 / kHzToEps), 1201);
  const double emitted_m = 4.0 * c::pi * simpson_log(nu_m, m::inverse_compton_mono(nu_m, g, n, 2.5e15, 1.0));
  const Vec loss_m = m::compton_cooling_mono(gg, 2.5e15, 1.0);
  for (std::size_t i = 0; i < gg.size(); ++i) integrand[i] = std::pow(gg[i] / g1, -p) * loss_m[i];
  EXPECT_LT(rel(emitted_m, kMec2 * simpson_log(gg, integrand)), 1e-3);
}

// ---------------------------------------------------------------------------
TEST(ComptonCooling, ThomsonAndExtremeKleinNishinaLimits) {
  const double coeff = 4.0 * c::sigma_t / (3.0 * c::m_e * c::c);
  // Radio photons: (4/3) sigma_T c beta^2 gamma^2 U / m_e c^2 at every gamma,
  // zero at rest (the Klein-Nishina correction, (63/40) 4 gamma <eps^2>/<eps>,
  // is at most 2e-5 here).
  const Vec g = {1.0, 1.001, 1.5, 10.0, 1e3, 1e5};
  const Vec mono = m::compton_cooling_mono(g, 1e9, 2.0);
  // A power-law seed u = A nu^-1/2 on 1e8..1e10 Hz: U = 2 A (1e5 - 1e4).
  const Vec snu = logspace(8.0, 10.0, 5);
  Vec su;
  for (double v : snu) su.push_back(3e-9 / std::sqrt(v));
  const Vec tab = m::compton_cooling(g, snu, su);
  for (std::size_t i = 0; i < g.size(); ++i) {
    const double g2b2 = g[i] * g[i] - 1.0;
    EXPECT_NEAR(mono[i], coeff * g2b2 * 2.0, 3e-5 * coeff * g2b2 * 2.0) << g[i];
    const double U = 2.0 * 3e-9 * (1e5 - 1e4);
    EXPECT_NEAR(tab[i], coeff * g2b2 * U, 3e-5 * coeff * g2b2 * U) << g[i];
  }
  // Deep Klein-Nishina (b = 4 gamma eps >= 1e5): (9/2b^2)(ln b - 11/6).
  const double nu0 = 1e20, eps0 = nu0 * kHzToEps;
  const Vec gk = logspace(6.0, 9.0, 4);
  const Vec kn = m::compton_cooling_mono(gk, nu0, 1.0);
  for (std::size_t i = 0; i < gk.size(); ++i) {
    const double b = 4.0 * gk[i] * eps0;
    ASSERT_GT(b, 1e5);
    const double want = coeff * (gk[i] * gk[i] - 1.0) * 4.5 / (b * b) * (std::log(b) - 11.0 / 6.0);
    EXPECT_LT(rel(kn[i], want), 2e-4) << gk[i];
  }
}

// Tabulated seeds from the Thomson to the deep Klein-Nishina regime, against
// adaptive quadrature of int u(nu) F_KN(4 gamma eps) dnu (F_KN checked above).
TEST(ComptonCooling, MatchesQuadratureOfTheSeed) {
  Table bb{logspace(12.0, 17.0, 18), {}};
  for (double v : bb.x) bb.y.push_back(1e-15 * std::pow(v / 1e15, 3) / std::expm1(v / 1e15));
  Table pl{logspace(9.0, 21.0, 7), {}};  // a broad power law with a hole
  for (double v : pl.x) pl.y.push_back(1e-12 * std::pow(v / 1e10, -0.8));
  pl.y[3] = 0.0;
  const Vec g = logspace(0.5, 9.0, 18);
  for (const Table* u : {&bb, &pl}) {
    const Vec got = m::compton_cooling(g, u->x, u->y);
    for (std::size_t i = 0; i < g.size(); ++i) {
      const double b_per_hz = 4.0 * g[i] * kHzToEps;
      const double I = log_integral(
          [&](double v) { return (*u)(v) * m::klein_nishina::loss_factor(b_per_hz * v); }, u->x.front(),
          u->x.back(), u->x, 1e-9);
      const double want = 4.0 * c::sigma_t / (3.0 * c::m_e * c::c) * (g[i] * g[i] - 1.0) * I;
      EXPECT_LT(rel(got[i], want), 1e-4) << g[i];
    }
  }
}

// ---------------------------------------------------------------------------
TEST(ComptonKernels, RefuseBadInputNamingTheArgument) {
  const Vec g{1.0, 10.0, 100.0}, n{1.0, 0.1, 0.01}, nu{1e15, 1e18}, snu{1e14, 1e15}, su{1e-10, 1e-11};
  const Vec bad_grid{1.0, 1.0, 100.0}, short_n{1.0, 0.1}, neg{1e-10, -1e-11}, inf_nu{1e15, INFINITY};
  struct Case { std::function<void()> call; std::string message; };
  const Case cases[] = {
      {[&] { m::inverse_compton(inf_nu, g, n, snu, su); }, "nu: contains a non-finite value"},
      {[&] { m::inverse_compton(nu, bad_grid, n, snu, su); }, "gamma: grid is not strictly increasing"},
      {[&] { m::inverse_compton(nu, g, short_n, snu, su); }, "n: length 2 differs from the length 3 of gamma"},
      {[&] { m::inverse_compton(nu, g, n, snu, neg); }, "seed_u: contains a negative value"},
      {[&] { m::inverse_compton_mono(nu, g, n, 0.0, 1.0); }, "nu0: must be positive"},
      {[&] { m::inverse_compton_mono(nu, g, n, 1e15, -1.0); }, "u0: must not be negative"},
      {[&] { m::compton_cooling(g, Vec{}, Vec{}); }, "seed_nu: must not be empty"},
      {[&] { m::compton_cooling_mono(g, 1e15, NAN); }, "u0: must be finite"},
  };
  for (const Case& k : cases) {
    try {
      k.call();
      ADD_FAILURE() << "accepted: " << k.message;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), k.message);
    }
  }
  // Output frequencies need not be sorted: each is computed on its own.
  const Vec shuffled{1e18, 1e15, 1e18};
  const Vec once = m::inverse_compton(shuffled, g, n, snu, su);
  EXPECT_EQ(once[0], once[2]);
  EXPECT_EQ(once[1], m::inverse_compton(Vec{1e15}, g, n, snu, su)[0]);
  // Degenerate but valid inputs give zeros: one grid point, no photons.
  const Vec one{10.0}, one_n{1.0};
  for (double v : m::inverse_compton(nu, one, one_n, snu, su)) EXPECT_EQ(v, 0.0);
  for (double v : m::inverse_compton(nu, g, n, Vec{1e15}, Vec{1.0})) EXPECT_EQ(v, 0.0);
  for (double v : m::inverse_compton_mono(nu, g, n, 1e15, 0.0)) EXPECT_EQ(v, 0.0);
}
