#include "cooling.hpp"

#include <cmath>
#include <cstddef>
#include <vector>

#include "constants.hpp"
#include "error.hpp"
#include "misc.hpp"
#include "pool.hpp"
#include "pwl_integ.hpp"

namespace ostrel::radiation {

// An electron of Lorentz factor gamma in an isotropic field of spectral
// energy density u(nu) loses energy at the Thomson rate
// C gamma^2 int u(nu) dnu, C = (4/3) sigma_T/(m_e c).  In the Klein-Nishina
// regime each frequency counts with a factor F(b) < 1 of the parameter
// b = 4 K gamma nu:
//
//   b >= 100           F = 4.5 (ln b - 11/6)/b^2       (asymptotic form)
//   1 <= b < 100       F = exp(a3 L^3 + a2 L^2 + a1 L + a0), L = ln b (fit)
//   0.001 <= b < 1     F = (1 + b)^-1.5                 (transition form)
//   b below 0.001      F = 1                            (Thomson)
//
// The tabulated spectrum is integrated in the variable x = b: with
// Y = 4K gamma u, the rate is C int Y F dx/(4K)^2.

namespace {

using pwl_integ::ipow;

constexpr double kThomsonCooling = constants::thomson_cooling_coeff;
// Photon-energy factor of the Klein-Nishina parameter b = 4 K gamma nu, and
// 4K (exactly 4 times K).
constexpr double kKnK = 6.53745089363765e-21;
constexpr double kKn4K = 2.61498035745506e-20;
// A seed segment counts only if Y at both its ends exceeds this.
constexpr double kCoolFloor = 1e-100;

// Ranges of b of the Klein-Nishina forms.
constexpr double kKnAsymptoticFrom = 100.0;
constexpr double kKnFitFrom = 1.0;
constexpr double kKnTransitionFrom = 0.001;
constexpr double kElevenSixths = 1.8333333333333333;
// Coefficients of the fitted correction, a0 .. a3.
constexpr double kKnFit0 = -1.01819432;
constexpr double kKnFit1 = -0.67980349;
constexpr double kKnFit2 = -0.14948459;
constexpr double kKnFit3 = 0.00627589;

// Fitted Klein-Nishina factor for 1 <= b < 100, in terms of L = ln b.
double kn_fit_factor(double L) {
  return std::exp(kKnFit3 * ipow<3>(L) + (kKnFit2 * ipow<2>(L) + (kKnFit1 * L + kKnFit0)));
}

// Klein-Nishina factor of the transition range 0.001 <= b < 1.
double kn_transition_factor(double b) { return std::pow(b + 1.0, -1.5); }

// Asymptotic Klein-Nishina factor for b >= 100, without the 4.5/b^2.
double kn_asymptotic_log(double b) { return std::log(b) - kElevenSixths; }

// The integrals over one seed segment, P0 and P1 of the power law x^-s, are
// pwl_integ's segment_p0 and segment_p1 at the tolerance 1e-6.
using pwl_integ::RatioLogs;
using pwl_integ::segment_p0;
using pwl_integ::segment_p1;

// Contribution of the seed segment [x0, x1] with Y = y0 (x/x0)^-q,
// int Y F dx, where the Klein-Nishina form F is chosen by x0 for the whole
// segment.  Only the range 0.001 <= x0 < 100 needs a Romberg integration; its
// failure is fatal.
double cooling_segment(double x0, double x1, double y0, double q, bool with_kn) {
  const double r = x1 / x0;
  if (with_kn) {
    if (x0 >= kKnAsymptoticFrom) {
      // int Y 4.5 (ln x - 11/6)/x^2 dx, with x = x0 t.
      const RatioLogs lg(r, pwl_integ::kSegmentTol);
      const double p = q + 2.0;
      return (kn_asymptotic_log(x0) * segment_p0(lg, p) + segment_p1(lg, p)) * (4.5 * y0) / x0;
    }
    if (x0 >= kKnFitFrom) {
      const double I = misc::qromb_w2arg(trans_kn_fit, x0, x1, q).unwrap();
      return (y0 * I) * std::pow(x0, q);
    }
    if (x0 >= kKnTransitionFrom) {
      const double I = misc::qromb_w2arg(trans_kn, x0, x1, q).unwrap();
      return (y0 * I) * std::pow(x0, q);
    }
  }
  return (y0 * x0) * segment_p0(RatioLogs(r, pwl_integ::kSegmentTol), q);
}

// Cooling sum of one Lorentz factor gamma over the seed segments.
//
// The Klein-Nishina parameters x_k = (4K gamma) nu_k and the spectrum in that
// variable, Y_k = (gamma u_k) 4K, are formed as the row is walked: the very
// products a table of all rows would hold, without the table (each row reads
// each of them once or twice).
double cooling_row_sum(double gamma, std::span<const double> freqs, std::span<const double> uu,
                       bool with_kn) {
  // The first segment ends at grid point 1: a row without grid points has no
  // such point to read.
  if (freqs.empty()) fail_index_out_of_bounds();
  const double x_scale = kKn4K * gamma;
  double x0 = x_scale * freqs[0];
  double y0 = (gamma * uu[0]) * kKn4K;
  double sum = 0.0;
  for (std::size_t k = 1; k < freqs.size(); ++k) {
    const double x1 = x_scale * freqs[k];
    const double y1 = (gamma * uu[k]) * kKn4K;
    if (y1 > kCoolFloor && y0 > kCoolFloor) {
      const double q = pwl_integ::segment_index(x0, y0, x1, y1);
      sum = sum + cooling_segment(x0, x1, y0, q, with_kn);
    }
    x0 = x1;
    y0 = y1;
  }
  return sum;
}

}  // namespace

double trans_kn(double x, double q) { return std::pow(x, -q) * kn_transition_factor(x); }

double trans_kn_fit(double x, double q) { return std::pow(x, -q) * kn_fit_factor(std::log(x)); }

Spectrum rad_cool_pwl(std::span<const double> gg, std::span<const double> freqs,
                      std::span<const double> uu, bool with_kn) {
  // Every row reads u_k at every grid point of freqs: a spectrum shorter than
  // its grid fails before any row is evaluated.
  if (!gg.empty() && uu.size() < freqs.size()) fail_index_out_of_bounds();
  return pool::parallel_map<double>(gg.size(), [&](std::size_t i) {
    const double sum = cooling_row_sum(gg[i], freqs, uu, with_kn);
    return (sum * kThomsonCooling) / (kKn4K * kKn4K);
  });
}

Spectrum rad_cool_mono(std::span<const double> gg, double nu0, double u0, bool with_kn) {
  // Klein-Nishina parameters b_i = 4 gamma_i nu0 K.
  std::vector<double> B(gg.size());
  for (std::size_t i = 0; i < gg.size(); ++i) B[i] = ((4.0 * gg[i]) * nu0) * kKnK;

  return pool::parallel_map<double>(gg.size(), [&](std::size_t i) {
    const double g = gg[i];
    const double thomson = std::sqrt(g * g - 1.0) * (kThomsonCooling * u0);
    if (!with_kn) return thomson;
    const double b = B[i];
    if (b >= kKnAsymptoticFrom) return thomson * 4.5 * kn_asymptotic_log(b) / (b * b);
    if (b >= kKnFitFrom) return thomson * kn_fit_factor(std::log(b));
    if (b > kKnTransitionFrom) return thomson * kn_transition_factor(b);
    return thomson;
  });
}

}  // namespace ostrel::radiation
