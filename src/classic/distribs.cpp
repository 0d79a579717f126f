#include "distribs.hpp"

#include <cmath>
#include <complex>
#include <cstddef>

#include "bessel.hpp"
#include "constants.hpp"
#include "error.hpp"
#include "misc.hpp"
#include "test_hooks.hpp"

namespace ostrel::distribs {

// ===========================================================================
// One implicit Fokker-Planck step
//
//   dN/dt = d/dg [ C dN/dg + B N ] + Q - N/T,   C = D/2,  B = Gdot + dD/dg / 2,
//
// in units of the light-crossing time.  Bin i exchanges particles with its
// neighbours through its upper and lower edge; the flux through an edge with
// diffusion C, drift B and width dg is weighted after Chang & Cooper: with
// w = dg B / C and h = w/2 the weight is W = (w/2)/sinh(w/2), and the flux
// is C W (e^{h} N_upper - e^{-h} N_lower)/dg.  This is exact for the
// stationary flux-free solution across the edge, goes over to centred
// differences where diffusion dominates (w -> 0, W -> 1) and to upwind
// differences where drift dominates.  Time is stepped by backward Euler, so
// the step is one tridiagonal solve and stays stable for any dt.
//
// The lower-edge drift of the first bin has no neighbour to take it from; it
// is extrapolated from the lower-edge drifts of all other bins by one
// polynomial through them (Neville).  Fluxes through the outermost edges
// leave the grid: N is taken as 0 outside it.
// ===========================================================================

namespace {

// Escape times outside (1e-100, 1e100) are sentinels (no escape, or
// immediate escape) and are used as given, not rescaled by tlc.
constexpr double kEscapeSentinelLow = 1e-100;
constexpr double kEscapeSentinelHigh = 1e100;

// |h| is capped so that e^{+-h} and e^{+-2h} stay finite; beyond |w| = 400
// the weight times e^{h} is then no longer (w/2)/sinh(w/2) e^{h}, but the
// drift is so dominant there that the scheme is upwind in either case.
constexpr double kHalfWidthClamp = 200.0;
// Below |w| = 0.1 the closed forms lose digits to cancellation; the Taylor
// series of (x/2)/sinh(x/2) to x^6 is then accurate to rounding.
constexpr double kSeriesBelow = 0.1;

std::size_t count_nan(std::span<const double> v) {
  std::size_t n = 0;
  for (double x : v) n += std::isnan(x) ? 1 : 0;
  return n;
}

bool has_nan_input(std::span<const double> gamma_bins, std::span<const double> nin,
                   std::span<const double> gdot_in, std::span<const double> din,
                   std::span<const double> qin, double dt_in, double tesc_in, double tlc) {
  const std::size_t scalars =
      (std::isnan(dt_in) ? 1 : 0) + (std::isnan(tesc_in) ? 1 : 0) + (std::isnan(tlc) ? 1 : 0);
  return scalars + count_nan(gamma_bins) + count_nan(nin) + count_nan(gdot_in) + count_nan(din) +
             count_nan(qin) !=
         0;
}

std::vector<double> scaled(std::span<const double> v, double factor) {
  std::vector<double> out(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) out[i] = v[i] * factor;
  return out;
}

// Half Chang-Cooper parameter, clamped; a NaN passes through.
double clamped_half(double w) {
  const double h = 0.5 * w;
  if (h > kHalfWidthClamp) return kHalfWidthClamp;
  if (h < -kHalfWidthClamp) return -kHalfWidthClamp;
  return h;
}

// (x/2)/sinh(x/2) to sixth order.
double weight_series(double x) {
  const double x2 = x * x;
  const double x4 = x2 * x2;
  const double x6 = x2 * x4;
  return ((1.0 - x2 / 24.0) + (7.0 * x4) / 5760.0) - (31.0 * x6) / 967680.0;
}

// The weight of an upper edge, in the form |w| e^{-|h|} / (1 - e^{-2|h|}).
double upper_weight(double w, double h) {
  if (std::fabs(w) < kSeriesBelow) return weight_series(w);
  const double ah = std::fabs(h);
  return std::fabs(w) * std::exp(-ah) / (1.0 - std::exp(-2.0 * ah));
}

// The weight of a lower edge, in the form |w| / (e^{|h|} - e^{-|h|}).
double lower_weight(double w, double h) {
  if (std::fabs(w) < kSeriesBelow) return weight_series(w);
  const double ah = std::fabs(h);
  return std::fabs(w) / (std::exp(ah) - std::exp(-ah));
}

// Right-hand side N + Q tau, one of the two operands may have length 1 and
// is then applied to every bin.
std::vector<double> right_hand_side(std::span<const double> nin, std::span<const double> q_scaled,
                                    double tau) {
  const std::size_t nn = nin.size();
  const std::size_t nq = q_scaled.size();
  if (nn != nq && nn != 1 && nq != 1) fail_broadcast(nq, nn);
  const std::size_t len = nn == nq ? nn : (nn == 1 ? nq : nn);
  std::vector<double> r(len);
  for (std::size_t i = 0; i < len; ++i) {
    const double n_i = nn == 1 ? nin[0] : nin[i];
    const double q_i = nq == 1 ? q_scaled[0] : q_scaled[i];
    r[i] = n_i + q_i * tau;
  }
  return r;
}

}  // namespace

std::vector<double> fp_findif_difu(std::span<const double> gamma_bins, std::span<const double> nin,
                                   std::span<const double> gdot_in, std::span<const double> din,
                                   std::span<const double> qin, double dt_in, double tesc_in,
                                   double tlc, std::optional<bool> check_params) {
  if (check_params.value_or(true) &&
      has_nan_input(gamma_bins, nin, gdot_in, din, qin, dt_in, tesc_in, tlc)) {
    throw FatalError(message::kFokkerPlanckInput);
  }

  // Rates and times in units of the light-crossing time.
  const std::vector<double> gdot = scaled(gdot_in, tlc);
  const std::vector<double> q = scaled(qin, tlc);
  const std::vector<double> d = scaled(din, tlc);
  const double tau = dt_in / tlc;
  const double tesc =
      (kEscapeSentinelLow < tesc_in && tesc_in < kEscapeSentinelHigh) ? tesc_in / tlc : tesc_in;

  // Widths above, below and around each grid point; the outermost missing
  // widths repeat their neighbours.
  const std::span<const double> g = gamma_bins;
  const std::size_t n = g.size();
  if (n < 2) fail_index_out_of_bounds();
  // D and G enter element-wise beside the widths of the grid: a shorter vector
  // fails at its first missing element below, a longer one cannot be combined
  // with the grid at all.
  if (d.size() > n) fail_broadcast(d.size(), n);
  std::vector<double> dp(n), dm(n), dmid(n);
  for (std::size_t i = 0; i + 1 < n; ++i) dp[i] = g[i + 1] - g[i];
  dp[n - 1] = dp[n - 2];
  for (std::size_t i = 1; i < n; ++i) dm[i] = dp[i - 1];
  dm[0] = dm[1];
  for (std::size_t i = 0; i < n; ++i) dmid[i] = 0.5 * (dp[i] + dm[i]);

  // Diffusion C = D/2 at the edges, as the mean of the neighbouring points.
  std::vector<double> cp(n), cm(n);
  for (std::size_t i = 0; i + 1 < n; ++i) cp[i] = 0.25 * (at(d, i + 1) + at(d, i));
  cp[n - 1] = 0.25 * at(d, n - 1);
  for (std::size_t i = 1; i < n; ++i) cm[i] = cp[i - 1];
  cm[0] = 0.25 * at(d, 0);

  // Drift B = Gdot + dD/dg / 2 at the edges.
  if (gdot.size() > n) fail_broadcast(gdot.size(), n);
  std::vector<double> bp(n), bm(n);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    bp[i] = 0.5 * ((at(d, i + 1) - at(d, i)) / dp[i] + (at(gdot, i + 1) + at(gdot, i)));
  }
  bp[n - 1] = 0.5 * ((at(gdot, n - 1) + at(gdot, n - 2)) + (at(d, n - 1) - at(d, n - 2)) / dp[n - 1]);
  for (std::size_t i = 1; i < n; ++i) {
    bm[i] = 0.5 * ((at(d, i) - at(d, i - 1)) / dm[i] + (at(gdot, i) + at(gdot, i - 1)));
  }
  bm[0] = misc::polint(g.subspan(1), std::span<const double>(bm).subspan(1), g[0]).unwrap().y;

  // Chang-Cooper parameters and weights of both edges.
  std::vector<double> hp(n), hm(n), wtp(n), wtm(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double wp = (dp[i] * bp[i]) / cp[i];
    const double wm = (dm[i] * bm[i]) / cm[i];
    hp[i] = clamped_half(wp);
    hm[i] = clamped_half(wm);
    wtp[i] = upper_weight(wp, hp[i]);
    wtm[i] = lower_weight(wm, hm[i]);
  }

  // Backward-Euler system a N[i-1] + b N[i] + c N[i+1] = N_old + Q tau.
  const double minus_tau = -tau;
  const double escape = tau / tesc;
  std::vector<double> a(n), b(n), c(n);
  for (std::size_t i = 0; i < n; ++i) {
    a[i] = (cm[i] * minus_tau * wtm[i] * std::exp(-hm[i])) / (dmid[i] * dm[i]);
    c[i] = (cp[i] * minus_tau * wtp[i] * std::exp(hp[i])) / (dmid[i] * dp[i]);
    const double out_up = cp[i] * wtp[i] * std::exp(-hp[i]) / dp[i];
    const double out_down = cm[i] * wtm[i] * std::exp(hm[i]) / dm[i];
    b[i] = (tau * (out_up + out_down)) / dmid[i] + 1.0 + escape;
  }
  const std::vector<double> r = right_hand_side(nin, q, tau);

  // a[0] and c[n-1] would couple to the (empty) bins outside the grid.
  return misc::tridag_ser(std::span<const double>(a).subspan(1), b,
                          std::span<const double>(c).first(n - 1), r);
}

// ===========================================================================
// Park (1995) eq. 59: the distribution that evolves from a delta function at
// momentum p0 under momentum diffusion D ~ p^q with systematic gain ~ p^(q-1)
// and escape in unit time, for q = 3, a = 1, theta = -1/2:
//
//   R = 4 pi e^{-t} (1/t) p^{-1/2} p0^{-3/2} I_3(2/(t sqrt(p p0)))
//       exp(-(1/p + 1/p0)/t),
//
// evaluated on the momenta p = sqrt(g^2 - 1) and bounded to [1e-100, 1e200]
// (NaN, from g <= 1 or t = 0, becomes the floor).
//
// The Bessel order is fixed, so the approximate Gamma(nu + 1) that i_nu
// would recompute for every element (182005 exponentials) is taken once per
// process from the same product; i_nu_with_gamma then returns the very bits
// of i_nu.
// ===========================================================================

namespace {

constexpr double kQ = 3.0;
constexpr double kA = 1.0;
constexpr double kTheta = -0.5;
// sqrt(100^2 - 1): momentum of the injected particles, gamma0 = 100.
constexpr double kP0 = 99.99499987499375;
constexpr double kFloor = 1e-100;
constexpr double kCeiling = 1e200;

double bessel_order() { return std::fabs(((kQ - 1.0) + kA) / (kTheta + kTheta)); }

// gamma_product(nu + 1) for the order above; the order is non-negative and
// finite, so this is exactly what i_nu uses.  Computed on first use; the
// initialisation of a function-local static is thread-safe.
double bessel_gamma_tilde() {
  static const double gamma_tilde = bessel::gamma_product(bessel_order() + 1.0);
  return gamma_tilde;
}

double bounded(double x) {
  if (std::isnan(x)) return kFloor;
  if (x > kCeiling) return kCeiling;
  if (x < kFloor) return kFloor;
  return x;
}

// I_nu(x) for real x, from the cached Gamma product or (for comparison) from
// i_nu itself.
double bessel_real(double nu, double x, bool cached) {
  if (cached) return bessel::i_nu_with_gamma(nu, {x, 0.0}, bessel_gamma_tilde()).real();
  return bessel::i_nu(nu, {x, 0.0}).real();
}

std::vector<double> eq_59(double t, std::span<const double> g, bool cached) {
  std::vector<double> out(g.size());
  if (g.empty()) return out;

  const double nu = bessel_order();
  const double p0_power = std::pow(kP0, ((1.0 - kQ) - kA) * 0.5);
  const double p_exponent = (1.0 - kQ + kA) * 0.5;
  const double p0_theta = std::pow(kP0, kTheta);
  const double p0_two_theta = std::pow(kP0, kTheta + kTheta);
  const double bessel_denominator = (kTheta * kTheta) * (t + t);
  const double exp_denominator = ((kTheta * kTheta) * 4.0) * t;
  const double time_factor = (1.0 / (t + t)) * 2.0;
  const double escape = std::exp(-t);

  for (std::size_t i = 0; i < g.size(); ++i) {
    const double p = std::sqrt(g[i] * g[i] - 1.0);
    const double power = std::pow(p, p_exponent) * p0_power;
    const double x = (std::pow(p, kTheta) * p0_theta) / bessel_denominator;
    const double bessel = bessel_real(nu, x, cached);
    const double expo = std::exp(-(std::pow(p, kTheta + kTheta) + p0_two_theta) / exp_denominator);
    double r = ((power * time_factor) * bessel) * expo;
    r = r * escape * 4.0 * constants::pi;
    out[i] = bounded(r);
  }
  return out;
}

}  // namespace

std::vector<double> eq_59_park1995(double t, std::span<const double> g) { return eq_59(t, g, true); }

std::vector<double> detail::eq_59_park1995_uncached(double t, std::span<const double> g) {
  return eq_59(t, g, false);
}

}  // namespace ostrel::distribs
