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

// 6 * 1e-9 as rounded in double precision.
constexpr double kPowerSeriesSwitch = 6.000000000000001e-9;

}  // namespace

RatioLogs::RatioLogs(double ratio, double tolerance)
    : rho(ratio),
      d(ratio - 1.0),
      L(std::log(ratio)),
      tol(tolerance),
      l1(guarded_log_power<1>(d, L, tol)),
      l2(guarded_log_power<2>(d, L, tol)),
      l3(guarded_log_power<3>(d, L, tol)) {}

double power_integral(const RatioLogs& lp, double k) {
  if (ipow<2>(k) * lp.l3 > kPowerSeriesSwitch) return (1.0 - std::pow(lp.rho, k)) / (-k);
  return lp.l1 + k * lp.l2 * 0.5;
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
  if (ipow<2>(P) * guarded_log_power<3>(e, kSeriesTol) > kPowerSeriesSwitch) {
    return std::pow(a2, c + 1.0) *
           (a1_pow * power_integral(lp, c + 1.0) -
            std::pow(a0 * a2, P) * power_integral(lp, b + c + 2.0)) /
           P;
  }

  const double eta = a1 / (a0 * a2);
  const double kappa1 = guarded_log_power<1>(eta, kSeriesTol);
  const double kappa2 = guarded_log_power<2>(eta, kSeriesTol);
  const double Q = -1.0 - c;
  const double rho_c1 = c + 1.0;

  const double V = power_integral(lp, rho_c1);

  const double l4 = lp.power<4>();
  const double W = 0.125 * l4 * ipow<2>(Q) > kSeriesTol
                       ? (1.0 - (lp.l1 * Q + 1.0) * std::pow(rho, rho_c1)) / ipow<2>(Q)
                       : lp.l2 * 0.5 - Q * lp.l3 / 3.0;

  const double Z =
      0.1 * lp.power<5>() * ipow<2>(Q) > kSeriesTol
          ? (2.0 - ((lp.l1 * Q + 2.0) * lp.l1 * Q + 2.0) * std::pow(rho, rho_c1)) / ipow<3>(Q)
          : lp.l3 / 3.0 - 0.25 * Q * l4;

  return a0_pow * std::pow(a2, b + c + 2.0) *
         ((kappa1 * V - W) + (P * 0.5) * (kappa2 * V - 2.0 * kappa1 * W + Z));
}

double sscs(double a0, double a1, double a2, double a3, double b, double c) {
  const double P = 1.0 + b;
  return sscs(a0, a1, a2, a3, b, c, std::pow(a0, P), std::pow(a1, P), RatioLogs(a3 / a2));
}

// ---------------------------------------------------------------------------
// P0 and P1 at the cooling kernel's tolerance.
//
// The closed forms cancel when (s-1) ln r is small; the two-term series
//
//   P0 ~ ln r - (s-1)(ln r)^2/2,     P1 ~ (ln r)^2/2 - (s-1)(ln r)^3/3
//
// is used while the next term, (s-1)^2 (ln r)^3/6 resp. (s-1)^2 (ln r)^4/8,
// is at most 1e-6 (the P0 switch written as (s-1)^2 (ln r)^3 > 6e-6).  The
// powers of ln r are the guarded ones of RatioLogs(r, kSegmentTol).
// ---------------------------------------------------------------------------
namespace {
constexpr double kP0Switch = 6e-6;
}  // namespace

double segment_p0(const RatioLogs& lg, double s) {
  const double sm1 = s - 1.0;
  if (sm1 * sm1 * lg.l3 > kP0Switch) return (1.0 - std::pow(lg.rho, 1.0 - s)) / sm1;
  return lg.l1 - 0.5 * sm1 * lg.l2;
}

double segment_p1(const RatioLogs& lg, double s) {
  const double sm1 = s - 1.0;
  if (sm1 * sm1 * lg.power<4>() / 8.0 > lg.tol) {
    return (1.0 - std::pow(lg.rho, 1.0 - s) * (1.0 + sm1 * lg.l1)) / (sm1 * sm1);
  }
  return lg.l2 / 2.0 - sm1 * lg.l3 / 3.0;
}

}  // namespace ostrel::pwl_integ
