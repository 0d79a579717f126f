#include "pwl_integ.hpp"

#include <cmath>

namespace ostrel::pwl_integ {

// ---------------------------------------------------------------------------
// Power integrals with series fallbacks.
//
// All integrals here reduce to M(rho, k) = int_1^rho t^(k-1) dt and its
// moments with powers of ln t.  With L = ln rho,
//
//   M = (e^(kL) - 1)/k = L + k L^2/2 + k^2 L^3/6 + ...
//
// The closed form cancels catastrophically when kL is small; then the first
// two terms are used and the dropped one, k^2 L^3/6, is below the absolute
// tolerance 1e-9 (the switch k^2 L^3 > 6*1e-9, with 6*1e-9 rounded as the
// product, i.e. 6.000000000000001e-9).  Near rho = 1 even L loses digits
// relative to d = rho - 1, so each power of L is replaced by the same power of
// d when the first correction term of L^n = d^n (1 - n d/2 + ...), n/2 d^(n+1),
// is at most 1e-9.  The tests take d with its sign, so for rho < 1 the odd
// powers of d are negative and always select d; so is k^2 ell^3, and M of a
// ratio below 1 is always the two-term series, accurate only near 1 (the
// kernels call it with rho >= 1).  Every test is strict, and a NaN operand
// selects the second form.
//
// Powers of d, L, k and their kin are left-to-right products (ipow); pow is
// used only for the closed forms.
// ---------------------------------------------------------------------------
namespace {

constexpr double kSeriesTol = 1e-9;
// 6 * 1e-9 as rounded in double precision.
constexpr double kPowerSeriesSwitch = 6.000000000000001e-9;

// Guarded ln x for the first-order expansion of sscs: ln x, or x - 1 when
// (x - 1)^2/2 <= 1e-9.
double guarded_log(double x) {
  const double delta = x - 1.0;
  return 0.5 * ipow<2>(delta) > kSeriesTol ? std::log(x) : delta;
}

// Guarded (ln x)^2: (ln x)^2, or (x - 1)^2 when (x - 1)^3 <= 1e-9.
double guarded_log_squared(double x) {
  const double delta = x - 1.0;
  return ipow<3>(delta) > kSeriesTol ? ipow<2>(std::log(x)) : ipow<2>(delta);
}

}  // namespace

RatioLogs::RatioLogs(double ratio)
    : rho(ratio),
      d(ratio - 1.0),
      L(std::log(ratio)),
      ell(1.5 * ipow<4>(d) > kSeriesTol ? L : d),
      ell1(0.5 * ipow<2>(d) > kSeriesTol ? L : d),
      ell2(ipow<3>(d) > kSeriesTol ? ipow<2>(L) : ipow<2>(d)) {}

double power_integral(const RatioLogs& lp, double k) {
  if (ipow<2>(k) * ipow<3>(lp.ell) > kPowerSeriesSwitch) return (1.0 - std::pow(lp.rho, k)) / (-k);
  return lp.ell1 + k * lp.ell2 * 0.5;
}

double segment_index(double x0, double y0, double x1, double y1) {
  return clamp_index(-std::log(y1 / y0) / std::log(x1 / x0));
}

double power_integral(double rho, double k) { return power_integral(RatioLogs(rho), k); }

// Product of two single power-law integrals, each written as
// a^(s) M(a'/a, s):  int_a0^a1 y^b dy = a0^(b+1) M(a1/a0, b+1) and
// int_a2^a3 x^(b+c+1) dx = a2^(b+c+2) M(a3/a2, b+c+2), multiplied as
// a0^(b+1) a2^(b+c+2) M(a3/a2, .) M(a1/a0, .).
SscrInner sscr_inner(double a0, const RatioLogs& a1_over_a0, double b) {
  return {std::pow(a0, b + 1.0), power_integral(a1_over_a0, b + 1.0)};
}

double sscr(const SscrInner& inner, double a2, const RatioLogs& a3_over_a2, double b, double c) {
  const double s_outer = b + c + 2.0;
  return inner.a0_pow * std::pow(a2, s_outer) * power_integral(a3_over_a2, s_outer) * inner.m;
}

double sscr(double a0, double a1, double a2, double a3, double b, double c) {
  return sscr(sscr_inner(a0, RatioLogs(a1 / a0), b), a2, RatioLogs(a3 / a2), b, c);
}

// Double integral over the triangle-like region a0 x <= y <= a1, a2 <= x <= a3
// of x^c y^b.  With P = b + 1 the inner integral is (a1^P - (a0 x)^P)/P, and
// with x = a2 t, rho = a3/a2:
//
//   sscs = a2^(c+1) (a1^P M(rho, c+1) - (a0 a2)^P M(rho, b+c+2)) / P.
//
// The difference cancels when P ln e is small, e = a1/(a0 a3) being the ratio
// of the inner limits at the upper end x = a3.  With the same switch as M
// (P^2 lambda^3 > 6e-9, lambda a guarded ln e) the integral is then taken to
// first order in P about the logarithms: with eta = a1/(a0 a2),
// Lambda = ln eta and u = ln t, the integrand
// (eta^P - t^P)/P = t^P ((eta/t)^P - 1)/P is replaced by the expansion of its
// second factor,
//
//   (Lambda - u) + (P/2)(Lambda - u)^2,
//
// leaving t^P at 1.  The branch is exact as P -> 0; at first order it
// differs from the integral by P int t^c u (Lambda - u) dt, and since the
// switch looks only at the upper end, e = 1 selects it for every P.  (The
// inverse-Compton kernel reaches it only with an empty range, rho = 1, on an
// increasing frequency grid.)  The expansion integrates against t^c to the
// moments V = int t^c dt = M(rho, c+1), W = int t^c u dt and
// Z = int t^c u^2 dt over [1, rho].  With Q = -1 - c,
//
//   W = (1 - (LQ + 1) rho^(c+1))/Q^2               ~ L^2/2 - Q L^3/3,
//   Z = (2 - ((LQ + 2) LQ + 2) rho^(c+1))/Q^3      ~ L^3/3 - Q L^4/4,
//
// each closed form used while its dropped series term, Q^2 L^4/8 and
// Q^2 L^5/10 respectively, exceeds 1e-9 (L guarded by d as in M, the guards
// following the n/2 d^(n+1) rule for the fourth and fifth powers).
double sscs(double a0, double a1, double a2, double a3, double b, double c, double a0_pow,
            double a1_pow, const RatioLogs& lp) {
  const double P = 1.0 + b;
  const double rho = lp.rho;
  const double e = a1 / (a0 * a3);
  const double lambda = 1.5 * ipow<4>(e - 1.0) > kSeriesTol ? std::log(e) : e - 1.0;

  if (ipow<2>(P) * ipow<3>(lambda) > kPowerSeriesSwitch) {
    return std::pow(a2, c + 1.0) *
           (a1_pow * power_integral(lp, c + 1.0) -
            std::pow(a0 * a2, P) * power_integral(lp, b + c + 2.0)) /
           P;
  }

  const double eta = a1 / (a0 * a2);
  const double kappa1 = guarded_log(eta);
  const double kappa2 = guarded_log_squared(eta);
  const double Q = -1.0 - c;
  const double rho_c1 = c + 1.0;

  const double V = power_integral(lp, rho_c1);

  const double ell_w = 2.0 * ipow<5>(lp.d) > kSeriesTol ? lp.L : lp.d;
  const double W = 0.125 * ipow<4>(ell_w) * ipow<2>(Q) > kSeriesTol
                       ? (1.0 - (lp.ell1 * Q + 1.0) * std::pow(rho, rho_c1)) / ipow<2>(Q)
                       : lp.ell2 * 0.5 - Q * ipow<3>(lp.ell) / 3.0;

  const double ell_z = 2.5 * ipow<6>(lp.d) > kSeriesTol ? lp.L : lp.d;
  const double Z =
      0.1 * ipow<5>(ell_z) * ipow<2>(Q) > kSeriesTol
          ? (2.0 - ((lp.ell1 * Q + 2.0) * lp.ell1 * Q + 2.0) * std::pow(rho, rho_c1)) / ipow<3>(Q)
          : ipow<3>(lp.ell) / 3.0 - 0.25 * Q * ipow<4>(ell_w);

  return a0_pow * std::pow(a2, b + c + 2.0) *
         ((kappa1 * V - W) + (P * 0.5) * (kappa2 * V - 2.0 * kappa1 * W + Z));
}

double sscs(double a0, double a1, double a2, double a3, double b, double c) {
  const double P = 1.0 + b;
  return sscs(a0, a1, a2, a3, b, c, std::pow(a0, P), std::pow(a1, P), RatioLogs(a3 / a2));
}

}  // namespace ostrel::pwl_integ
