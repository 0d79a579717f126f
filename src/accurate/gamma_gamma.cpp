// Pair-production opacity of an isotropic photon field (Gould & Schreder
// 1967; Brown, Mikaelian & Gould 1973).
//
// A photon of energy E = h nu / (m c^2) meets a seed photon of energy eps
// (also in units of m c^2) at angle theta with s = E eps (1 - cos theta) / 2,
// the square of the centre-of-momentum energy of each photon in units of m c^2
// (pairs need s >= 1), and the Breit-Wheeler cross section is
//   sigma(s) = (3/16) sigma_T (1 - b^2) [(3 - b^4) ln((1+b)/(1-b)) - 2b(2 - b^2)],
//   b = sqrt(1 - 1/s).
// Averaged over an isotropic field, int dmu/2 (1 - mu) sigma(s) becomes, with
// s0 = E eps and s = s0 (1 - mu)/2,
//   (2 / s0^2) Phi(s0) sigma_T,  Phi(s0) = int_1^s0 s sigma(s) / sigma_T ds,
// and the absorption coefficient is
//   alpha(nu) = 2 sigma_T int n(eps) Phi(s0) / s0^2 deps
//             = 2 sigma_T int (u(nu') / h) Phi(s0) / s0^2 dln nu'
// for a seed of spectral energy density u(nu') [erg cm^-3 Hz^-1].
//
// Phi is tabulated once per process in y = ln(s0 - 1), where ln Phi is smooth
// from threshold (Phi = (s0 - 1)^(3/2) / 4 (1 + O(s0 - 1))) to the
// ultra-relativistic end (Phi ~ (3/8) s0 (ln(4 s0) - 2)).  The seed integral
// runs over each power-law segment of the seed: near threshold (1 <= s0 <= 2)
// in v = sqrt(s0 - 1), where the integrand is analytic and starts as v^4, by
// 8-point Gauss rules on pieces short enough for the seed's index; above, in
// ln nu' by 6-point Gauss rules on pieces short enough for the rate of the
// integrand (|q| + 2 at most).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "constants.hpp"
#include "accurate/checks.hpp"
#include "accurate/gauss_legendre.hpp"
#include "accurate/kernels.hpp"
#include "accurate/power_law.hpp"
#include "accurate/tabulated.hpp"
#include "pool.hpp"

namespace ostrel::models {
namespace {

namespace k = ostrel::constants;

// ---- Phi(s0), tabulated ----------------------------------------------------
// Cubic interpolation of ln Phi with step h = 1/32 in y errs by at most
// 0.023 h^4 max|d^4 lnPhi/dy^4| < 3e-8 (the derivative is below 1 here).
constexpr double kYMin = -40.0, kYMax = 100.0, kStepsPerUnit = 32.0;

// The bracket (3 - b^4) ln((1+b)/(1-b)) - 2b(2 - b^2) at s = 1 + dm.  The
// logarithm is 2 atanh(b) for small b and 2 log1p(b) + ln s for b near 1,
// where 1 - b = 1 / (s (1 + b)) would be lost to rounding.
double bracket(double dm) {
  const double s = 1.0 + dm;
  const double b = std::sqrt(dm / s);
  const double log_ratio = b < 0.5 ? 2.0 * std::atanh(b) : 2.0 * std::log1p(b) + std::log(s);
  const double b2 = b * b;
  return (3.0 - b2 * b2) * log_ratio - 2.0 * b * (2.0 - b2);
}

const UniformTable& phi_table() {
  // Phi(y) = (3/16) int_-inf^y bracket(e^y') e^y' dy', summed step by step
  // from its threshold form at kYMin (relative error e^kYMin there); the
  // table holds ln Phi.
  // Built once and never destroyed: a daemon thread may still be inside a
  // kernel while the interpreter exits and static objects are torn down.
  static const UniformTable& instance = *new UniformTable([] {
    const auto count = static_cast<std::size_t>((kYMax - kYMin) * kStepsPerUnit) + 1;
    const double h = 1.0 / kStepsPerUnit;
    std::vector<double> log_phi(count);
    double phi = 0.25 * std::exp(1.5 * kYMin);
    log_phi[0] = std::log(phi);
    for (std::size_t i = 1; i < count; ++i) {
      const double y0 = kYMin + static_cast<double>(i - 1) * h;
      double step = 0.0;
      gauss::for_each_node(gauss::rule8, y0, y0 + h, 1, [&](double y, double w) {
        const double e = std::exp(y);
        step += w * bracket(e) * e;
      });
      phi += 3.0 / 16.0 * step;
      log_phi[i] = std::log(phi);
    }
    return UniformTable(kYMin, h, std::move(log_phi));
  }());
  return instance;
}

// Phi at y = ln(s0 - 1): below the table the threshold form (s0 - 1)^(3/2),
// beyond s0 = 2.7e43 ln Phi continued linearly.
double phi(double y) {
  const UniformTable& t = phi_table();
  const std::vector<double>& v = t.values();
  if (y < kYMin) return std::exp(v[0] + 1.5 * (y - kYMin));
  if (y >= t.last()) return std::exp(v.back() + (v.back() - v[v.size() - 2]) * (y - t.last()) * kStepsPerUnit);
  return std::exp(t(y));
}

// ---- the seed integral -----------------------------------------------------
constexpr double kRate = 4.0;           // 6-point rule: (k h)^12 1.9e-16 = 3e-9
constexpr double kRateThreshold = 6.0;  // 8-point rule: (k h)^16 1.7e-22 = 5e-10

// int over the segment of (u / h) Phi(s0) / s0^2 dln nu', where
// ln s0 = w + log_s_per_nu (w = ln nu').
double segment_integral(const power_law::Segment& g, double log_s_per_nu) {
  const double w_threshold = -log_s_per_nu;             // s0 = 1
  const double w_two = w_threshold + std::log(2.0);     // s0 = 2
  const double w0 = g.ln_x0, w1 = g.ln_x1();
  const double q = -g.slope();  // u ~ nu'^-q
  double sum = 0.0;
  auto u_over_h = [&](double w) { return std::exp(g.ln_at_offset(w - w0)) / k::h; };

  // 1 <= s0 <= 2 in v = sqrt(s0 - 1): w = w_threshold + ln(1 + v^2),
  // dw = 2v / (1 + v^2) dv.
  const double wa = std::max(w0, w_threshold), wb = std::min(w1, w_two);
  if (wa < wb) {
    const double va = std::sqrt(std::max(0.0, std::expm1(wa - w_threshold)));
    const double vb = std::sqrt(std::expm1(wb - w_threshold));
    // The seed's power law, (1 + v^2)^-q up to a constant, has a logarithmic
    // rate of |q| 2v / (1 + v^2) in v, at most |q| 2 vb / (1 + vb^2) (vb <= 1);
    // Phi and the rest at most 4 (v^4 at threshold).
    const double rate = std::abs(q) * (2.0 * vb / (1.0 + vb * vb)) + 4.0;
    const auto pieces = static_cast<std::size_t>(std::ceil(rate * (vb - va) / kRateThreshold));
    gauss::for_each_node(gauss::rule8, va, vb, pieces, [&](double v, double wt) {
      const double s0 = 1.0 + v * v;
      const double w = w_threshold + std::log1p(v * v);
      sum += wt * u_over_h(w) * phi(2.0 * std::log(v)) / (s0 * s0) * 2.0 * v / s0;
    });
  }

  // s0 >= 2 in w.
  const double wc = std::max(w0, w_two);
  if (wc < w1) {
    const auto pieces = static_cast<std::size_t>(std::ceil((std::abs(q) + 2.0) * (w1 - wc) / kRate));
    gauss::for_each_node(gauss::rule6, wc, w1, pieces, [&](double w, double wt) {
      const double s0 = std::exp(w + log_s_per_nu);
      sum += wt * u_over_h(w) * phi(std::log(s0 - 1.0)) / (s0 * s0);
    });
  }
  return sum;
}

}  // namespace

Vec gamma_gamma_opacity(Span nu, Span seed_nu, Span seed_u) {
  checks::points("nu", nu);
  checks::frequency_grid("seed_nu", seed_nu);
  checks::values_on("seed_u", seed_u, "seed_nu", seed_nu);
  phi_table();  // built before the workers need it

  // The live segments, with the seed's values in units of 2^e (power_law.hpp).
  const power_law::Table seed(seed_nu, seed_u);
  const int e = power_law::scale_exponent(seed.ln_max());
  std::vector<power_law::Segment> segs;
  for (std::size_t i = 0; i < seed.segments(); ++i)
    if (seed[i].live) {
      segs.push_back(seed[i]);
      segs.back().ln_f0 -= e * std::log(2.0);
    }
  // s0 = E eps = h^2 nu nu' / (m c^2)^2.
  const double mc2 = k::m_e * k::c * k::c;
  const double log_h2_mc4 = 2.0 * std::log(k::h / mc2);

  Vec out(nu.size());
  pool::parallel_for(nu.size(), [&](std::size_t begin, std::size_t end) {
    for (std::size_t f = begin; f < end; ++f) {
      const double log_s_per_nu = log_h2_mc4 + std::log(nu[f]);
      double sum = 0.0;
      for (const power_law::Segment& g : segs)
        if (g.ln_x1() + log_s_per_nu > 0.0) sum += segment_integral(g, log_s_per_nu);
      out[f] = power_law::product({2.0 * k::sigma_t, sum}, e);
    }
  });
  checks::representable("seed_u", "the opacity", out);
  return out;
}

}  // namespace ostrel::models
