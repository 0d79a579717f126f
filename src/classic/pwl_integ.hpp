// Closed-form integrals of power laws and double power laws, with series
// where the closed forms lose precision, and the small pieces shared by the
// kernels that treat a tabulated curve as a power law between grid points.
#pragma once

#include <cmath>

namespace ostrel::pwl_integ {

// x^N as the left-to-right product x*x*...*x (N >= 1).  The series switches
// and the series themselves are written with such products, never with pow,
// so that their rounding is fixed.
template <int N>
constexpr double ipow(double x) {
  static_assert(N >= 1);
  double r = x;
  for (int i = 1; i < N; ++i) r = r * x;
  return r;
}

// Bounds of every segment power-law index.
inline constexpr double kIndexLimit = 8.0;

// q clamped to [-8, 8]; a NaN stays NaN.
constexpr double clamp_index(double q) {
  if (q > kIndexLimit) return kIndexLimit;
  if (q < -kIndexLimit) return -kIndexLimit;
  return q;
}

// Index q of the power law y ~ x^(-q) through (x0, y0) and (x1, y1),
// -ln(y1/y0)/ln(x1/x0), clamped to [-8, 8].
double segment_index(double x0, double y0, double x1, double y1);

// M(rho, k) = integral from 1 to rho of t^(k-1) dt = (rho^k - 1)/k.
double power_integral(double rho, double k);

// (integral a0..a1 of y^b dy) * (integral a2..a3 of x^(b+c+1) dx).
double sscr(double a0, double a1, double a2, double a3, double b, double c);

// integral a2..a3 of x^c (integral a0 x..a1 of y^b dy) dx.
double sscs(double a0, double a1, double a2, double a3, double b, double c);

// --- logarithms of a ratio of limits near 1 ---------------------------------

// Tolerance of the series of M, sscr and sscs: a dropped term, or the first
// correction of a power of ln rho taken as the same power of rho - 1, is at
// most this.
inline constexpr double kSeriesTol = 1e-9;

// The n-th power of ln rho near rho = 1: (ln rho)^n, or d^n with d = rho - 1
// when the first correction term of (ln rho)^n = d^n (1 - n d/2 + ...),
// (n/2) d^(n+1), is at most tol.  The test keeps the sign of d and is strict;
// a NaN selects d^n.
template <int N>
double guarded_log_power(double d, double L, double tol) {
  constexpr double half_n = 0.5 * N;
  return half_n * ipow<N + 1>(d) > tol ? ipow<N>(L) : ipow<N>(d);
}

// The same for a ratio rho whose logarithm is taken only where it is used.
template <int N>
double guarded_log_power(double rho, double tol) {
  const double d = rho - 1.0;
  constexpr double half_n = 0.5 * N;
  return half_n * ipow<N + 1>(d) > tol ? ipow<N>(std::log(rho)) : ipow<N>(d);
}

// A ratio rho of integration limits with its logarithm and the guarded powers
// l_n of ln rho for n = 1 .. 3 at tolerance tol; power<N>() gives the others.
struct RatioLogs {
  double rho;
  double d;    // rho - 1
  double L;    // ln rho
  double tol;
  double l1;
  double l2;
  double l3;

  explicit RatioLogs(double ratio, double tolerance = kSeriesTol);

  template <int N>
  double power() const {
    return guarded_log_power<N>(d, L, tol);
  }
};

// --- the same integrals in parts, for callers that evaluate many of them with
// shared limits or indices.  Each part does exactly the operations the
// whole function does, so the results are the same bits.

// M(rho, k) for the ratio described by logs (tolerance kSeriesTol).
double power_integral(const RatioLogs& logs, double k);

// The factors of sscr that belong to its inner integral, pow(a0, b + 1) and
// M(a1/a0, b + 1), with a1_over_a0 = RatioLogs(a1/a0).
struct SscrInner {
  double a0_pow;
  double m;
};
SscrInner sscr_inner(double a0, const RatioLogs& a1_over_a0, double b);

// sscr(a0, a1, a2, a3, b, c) from its inner factors and a3_over_a2 =
// RatioLogs(a3/a2).
double sscr(const SscrInner& inner, double a2, const RatioLogs& a3_over_a2, double b, double c);

// sscs(a0, a1, a2, a3, b, c) given a0_pow = pow(a0, 1 + b),
// a1_pow = pow(a1, 1 + b) and a3_over_a2 = RatioLogs(a3/a2).
double sscs(double a0, double a1, double a2, double a3, double b, double c, double a0_pow,
            double a1_pow, const RatioLogs& a3_over_a2);

// --- the integrals of one segment at the cooling kernel's tolerance, 1e-6.
// With r = x1/x0 of a segment [x0, x1] on which a tabulated curve goes as
// x^-s, and logs = RatioLogs(r, kSegmentTol):
//
//   P0(r, s) = int_1^r x^-s dx        = (1 - r^(1-s))/(s-1),
//   P1(r, s) = int_1^r x^-s ln x dx   = (1 - r^(1-s)(1 + (s-1) ln r))/(s-1)^2.
//
// P0 is M(r, 1 - s) with a looser switch and its own order of operations.
inline constexpr double kSegmentTol = 1e-6;
double segment_p0(const RatioLogs& logs, double s);
double segment_p1(const RatioLogs& logs, double s);

}  // namespace ostrel::pwl_integ
