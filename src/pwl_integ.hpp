// Closed-form integrals of power laws and double power laws, with series
// where the closed forms lose precision, and the small pieces shared by the
// kernels that treat a tabulated curve as a power law between grid points.
#pragma once

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

}  // namespace ostrel::pwl_integ
