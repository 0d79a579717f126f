// Compton energy-loss rate of electrons in an isotropic photon field, with
// the exact Klein-Nishina factor:
//
//   -dgamma/dt = (4 sigma_T / (3 m_e c)) (gamma^2 - 1) int u(nu) F_KN(4 gamma eps) dnu,
//
// eps = h nu / (m_e c^2).  In the Thomson limit (F_KN = 1) this is the exact
// loss (4/3) sigma_T c beta^2 gamma^2 U / (m_e c^2) at every gamma; F_KN is
// the ultra-relativistic Klein-Nishina factor, which only departs from one
// when 4 gamma eps is not small, that is for gamma >> 1 unless the photons
// are gamma rays.
#include <cmath>
#include <cstddef>
#include <vector>

#include "accurate/checks.hpp"
#include "accurate/compton_common.hpp"
#include "accurate/kernels.hpp"
#include "accurate/klein_nishina.hpp"
#include "accurate/power_law.hpp"
#include "pool.hpp"

namespace ostrel::models {
namespace {

using compton::kEpsPerHz;
namespace kn = klein_nishina;

// gamma^2 beta^2 = gamma^2 - 1, written without the cancellation near 1;
// zero below gamma = 1, where there is no electron.
double gamma_beta_squared(double g) { return g <= 1.0 ? 0.0 : (g - 1.0) * (g + 1.0); }

}  // namespace

Vec compton_cooling(Span gamma, Span seed_nu, Span seed_u) {
  checks::lorentz_factors("gamma", gamma);
  checks::frequency_grid("seed_nu", seed_nu);
  checks::values_on("seed_u", seed_u, "seed_nu", seed_nu);

  // The seed integral in ln nu, node by node: u(nu) nu is a power law on each
  // segment and F_KN(4 gamma eps) is smooth in ln nu (its logarithm changes
  // by at most 2 per unit of ln nu), so a fixed rule on pieces of each
  // segment, independent of gamma, integrates it.  Each node keeps ln eps and
  // its weight w u(nu) nu (in units of 2^e, power_law.hpp); the rate at gamma
  // is then a sum over nodes.
  const power_law::Table seed(seed_nu, seed_u);
  const int e = power_law::scale_exponent(seed.ln_max() + seed.ln_x().back());
  const double ln_scale = e * std::log(2.0);
  std::vector<double> node_lneps, node_weight;
  for (std::size_t j = 0; j < seed.segments(); ++j) {
    const power_law::Segment& s = seed[j];
    if (!s.live) continue;
    const double slope = s.slope() + 1.0;  // of u nu
    const compton::Split sp = compton::split(s.width, std::fabs(slope) + 2.0);
    compton::for_each_node(0.0, s.width, sp, [&](double dt, double w) {
      node_lneps.push_back(s.ln_x0 + dt + std::log(kEpsPerHz));
      node_weight.push_back(w * std::exp(s.ln_at_offset(dt) + s.ln_x0 + dt - ln_scale));
    });
  }

  const double coeff = 4.0 * constants::sigma_t / (3.0 * constants::m_e * constants::c);
  Vec out = pool::parallel_map<double>(gamma.size(), [&](std::size_t i) {
    const double g = gamma[i];
    const double ln4g = std::log(4.0 * g);
    double sum = 0.0;
    for (std::size_t n = 0; n < node_weight.size(); ++n)
      sum += node_weight[n] * kn::loss_factor_of_log(ln4g + node_lneps[n]);
    return power_law::product({coeff, gamma_beta_squared(g), sum}, e);
  });
  checks::representable("seed_u", "the loss rate", out);
  return out;
}

Vec compton_cooling_mono(Span gamma, double nu0, double u0) {
  checks::lorentz_factors("gamma", gamma);
  checks::frequency("nu0", nu0);
  checks::non_negative("u0", u0);
  const double lneps0 = std::log(nu0 * kEpsPerHz);
  const double coeff = 4.0 * constants::sigma_t / (3.0 * constants::m_e * constants::c);
  // gamma^2 beta^2 <= 1e60 and 1e-120 < F_KN <= 1: with the coefficient times
  // u0 within 1e+-100 the plain product stays normal; else it is formed apart.
  const double coeff_u = coeff * u0;
  const bool plain = coeff_u >= 1e-100 && coeff_u <= 1e100;
  Vec out = pool::parallel_map<double>(gamma.size(), [&](std::size_t i) {
    const double g = gamma[i];
    const double f = kn::loss_factor_of_log(std::log(4.0 * g) + lneps0);
    return plain ? coeff * gamma_beta_squared(g) * u0 * f : power_law::product({coeff, gamma_beta_squared(g), u0, f});
  });
  checks::representable("u0", "the loss rate", out);
  return out;
}

}  // namespace ostrel::models
