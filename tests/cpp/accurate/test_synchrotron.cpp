// Synchrotron kernels against closed forms: the limits and normalisation of
// the pitch-averaged function, the power-law spectrum (exact on a piecewise
// power law, however coarse the grid), Kirchhoff's law for a relativistic
// Maxwellian and the Thomson-like loss rate.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "constants.hpp"
#include "accurate/kernels.hpp"
#include "accurate/synchrotron_function.hpp"

namespace m = ostrel::models;
namespace sf = ostrel::models::synchrotron_function;
namespace k = ostrel::constants;

namespace {

std::vector<double> log_grid(std::size_t n, double lo, double hi) {
  std::vector<double> g(n);
  for (std::size_t i = 0; i < n; ++i) g[i] = lo * std::pow(hi / lo, double(i) / double(n - 1));
  return g;
}

double rel(double a, double b) { return std::abs(a / b - 1.0); }

// int_0^inf x^mu R(x) dx: the pitch-angle average of the Mellin transform of
// F, int z^mu F(z) dz = 2^(mu+1)/(mu+2) Gamma(mu/2 + 7/3) Gamma(mu/2 + 2/3),
// times 1/2 int_0^pi sin^(mu+3) = sqrt(pi)/2 Gamma(mu/2 + 2) / Gamma(mu/2 + 5/2).
double mellin_r(double mu) {
  return std::sqrt(k::pi) / 2.0 * std::tgamma(mu / 2.0 + 2.0) / std::tgamma(mu / 2.0 + 2.5) *
         std::pow(2.0, mu + 1.0) / (mu + 2.0) * std::tgamma(mu / 2.0 + 7.0 / 3.0) *
         std::tgamma(mu / 2.0 + 2.0 / 3.0);
}

const double e3 = k::e_charge * k::e_charge * k::e_charge;
double nu_a(double B) { return 1.5 * k::e_charge * B / (2.0 * k::pi * k::m_e * k::c); }

}  // namespace

TEST(SynchrotronFunction, LimitsNormalisationAndTable) {
  // x -> 0: C x^(1/3); x -> inf: (pi/2) e^-x (1 - 11/(18x) + O(x^-2)).
  const double c = std::pow(4.0, 5.0 / 3.0) * std::tgamma(4.0 / 3.0) * std::tgamma(1.0 / 3.0) / 8.0 -
                   3.0 / 80.0 * std::pow(4.0, 8.0 / 3.0) * std::pow(std::tgamma(4.0 / 3.0), 2);
  EXPECT_LT(rel(sf::exact(1e-12), c * 1e-4), 1e-7);
  EXPECT_LT(rel(sf::exact(400.0), k::pi / 2 * std::exp(-400.0) * (1 - 11.0 / 7200.0)), 1e-5);

  // The table against the closed form between its nodes, over the whole range
  // (and the x^(1/3) continuation below it), and zero past its end.
  double worst = 0.0;
  for (double t = -34.0; t < std::log(700.0); t += 0.0137)
    worst = std::max(worst, rel(sf::tabulated(std::exp(t)), sf::exact(std::exp(t))));
  EXPECT_LT(worst, 1e-6);
  EXPECT_EQ(sf::tabulated(701.0), 0.0);

  // Total power: int_0^inf R dx = 16 pi / (27 sqrt 3), by the trapezoid rule in
  // ln x (spectrally accurate for this smooth, fast-decaying integrand).
  double sum = 0.0;
  const double h = 1.0 / 64;
  for (double t = -40.0; t < std::log(700.0); t += h) sum += sf::exact(std::exp(t)) * std::exp(t) * h;
  EXPECT_LT(rel(sum, 16.0 * k::pi / (27.0 * std::sqrt(3.0))), 1e-9);
}

TEST(Synchrotron, PowerLawSpectrumOnFineAndCoarseGrids) {
  // n = gamma^-p from 1 to 1e8, at frequencies where neither end is seen:
  //   j     = C_j  K/2 (nu/a)^((1-p)/2) M((p-3)/2),
  //   alpha = C_a (p+2)/nu^2 K/2 (nu/a)^(-p/2) M((p-2)/2).
  const double B = 2.0, a = nu_a(B);
  const double cj = std::sqrt(3.0) * e3 * B / (4 * k::pi * k::m_e * k::c * k::c);
  const double ca = std::sqrt(3.0) * e3 * B / (8 * k::pi * k::m_e * k::m_e * k::c * k::c);
  const std::vector<double> nu{1e4 * a, 3e5 * a, 1e7 * a};
  for (double p : {1.5, 2.5, 3.7}) {
    for (std::size_t points : {9, 129}) {  // one point per decade, then 16
      const auto gamma = log_grid(points, 1.0, 1e8);
      std::vector<double> n;
      for (double g : gamma) n.push_back(std::pow(g, -p));
      const auto [j, alpha] = m::synchrotron(nu, gamma, n, B);
      for (std::size_t f = 0; f < nu.size(); ++f) {
        const double jw = cj * 0.5 * std::pow(nu[f] / a, (1 - p) / 2) * mellin_r((p - 3) / 2);
        const double aw = ca * (p + 2) / (nu[f] * nu[f]) * 0.5 * std::pow(nu[f] / a, -p / 2) *
                          mellin_r((p - 2) / 2);
        EXPECT_LT(rel(j[f], jw), 2e-5) << "p " << p << " points " << points << " nu " << nu[f];
        EXPECT_LT(rel(alpha[f], aw), 2e-5) << "p " << p << " points " << points << " nu " << nu[f];
      }
    }
  }
}

TEST(Synchrotron, KirchhoffLawOfARelativisticMaxwellian) {
  // n = gamma^2 exp(-gamma/theta) has gamma^2 d/dgamma(n/gamma^2) = -n/theta, so
  // j/alpha = 2 m theta nu^2 (the Rayleigh-Jeans source function at kT = theta
  // m c^2) whatever R is; the power-law interpolant meets it to O(h^2).  Only
  // frequencies that do not see the lower edge of the grid.
  const double theta = 30.0, B = 0.1;
  const auto gamma = log_grid(3000, 1.0, 3e4);
  std::vector<double> n;
  for (double g : gamma) n.push_back(g * g * std::exp(-g / theta));
  const std::vector<double> nu = {100 * nu_a(B), 20 * theta * theta * nu_a(B), 1e3 * theta * theta * nu_a(B)};
  const auto [j, alpha] = m::synchrotron(nu, gamma, n, B);
  for (std::size_t f = 0; f < nu.size(); ++f)
    EXPECT_LT(rel(j[f] / alpha[f], 2 * k::m_e * theta * nu[f] * nu[f]), 1e-4) << nu[f];
}

TEST(Synchrotron, EmptySegmentsAndGrids) {
  // A zero endpoint empties its segment: only [10, 100] holds electrons, so the
  // result equals that of the two-point grid; one point holds none.
  const std::vector<double> nu{1e6, 1e9, 1e11};
  const auto [j2, a2] = m::synchrotron(nu, std::vector<double>{10, 100}, std::vector<double>{1, 1e-3}, 1.0);
  const auto [j4, a4] =
      m::synchrotron(nu, std::vector<double>{3, 10, 100, 300}, std::vector<double>{0, 1, 1e-3, 0}, 1.0);
  const auto [j1, a1] = m::synchrotron(nu, std::vector<double>{10}, std::vector<double>{1}, 1.0);
  for (std::size_t f = 0; f < nu.size(); ++f) {
    EXPECT_GT(j2[f], 0.0);
    EXPECT_EQ(j4[f], j2[f]);
    EXPECT_EQ(a4[f], a2[f]);
    EXPECT_EQ(j1[f], 0.0);
    EXPECT_EQ(a1[f], 0.0);
  }
}

TEST(Synchrotron, RefusesBadInputNamingIt) {
  const std::vector<double> ok{1, 2, 3};
  auto message = [](auto call) -> std::string {
    try { call(); } catch (const std::invalid_argument& e) { return e.what(); }
    return "no error";
  };
  EXPECT_EQ(message([&] { m::synchrotron(std::vector<double>{2, -1}, ok, ok, 1.0); }), "nu: must be positive");
  EXPECT_EQ(message([&] { m::synchrotron(ok, std::vector<double>{1, 3, 2}, ok, 1.0); }),
            "gamma: grid is not strictly increasing");
  EXPECT_EQ(message([&] { m::synchrotron(ok, std::vector<double>{0.5, 2, 3}, ok, 1.0); }),
            "gamma: must be at least 1 (a Lorentz factor)");
  EXPECT_EQ(message([&] { m::synchrotron(ok, ok, std::vector<double>{1, 2}, 1.0); }),
            "n: length 2 differs from the length 3 of gamma");
  EXPECT_EQ(message([&] { m::synchrotron(ok, ok, std::vector<double>{1, -2, 1}, 1.0); }),
            "n: contains a negative value");
  EXPECT_EQ(message([&] { m::synchrotron(ok, ok, ok, 0.0); }), "B: must be positive");
  EXPECT_EQ(message([&] { m::synchrotron_cooling(ok, NAN); }), "B: must be finite");
}

TEST(SynchrotronCooling, IsotropicLossRate) {
  // -dgamma/dt = 4 sigma_T U_B (gamma^2 - 1) / (3 m c), U_B = B^2/(8 pi): zero at rest.
  const double B = 3.0;
  const std::vector<double> gamma{1.0, 1.0 + 1e-9, 10.0, 1e6};
  const auto rate = m::synchrotron_cooling(gamma, B);
  EXPECT_EQ(rate[0], 0.0);
  for (std::size_t i = 1; i < gamma.size(); ++i) {
    const double beta2gamma2 = (gamma[i] - 1) * (gamma[i] + 1);
    EXPECT_LT(rel(rate[i], 4 * k::sigma_t * B * B / (8 * k::pi) * beta2gamma2 / (3 * k::m_e * k::c)), 1e-7);
  }
}
