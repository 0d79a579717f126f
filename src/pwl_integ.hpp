// Closed-form integrals of power laws and double power laws, with series
// where the closed forms lose precision.
#pragma once

namespace ostrel::pwl_integ {

// M(rho, k) = integral from 1 to rho of t^(k-1) dt = (rho^k - 1)/k.
double power_integral(double rho, double k);

// (integral a0..a1 of y^b dy) * (integral a2..a3 of x^(b+c+1) dx).
double sscr(double a0, double a1, double a2, double a3, double b, double c);

// integral a2..a3 of x^c (integral a0 x..a1 of y^b dy) dx.
double sscs(double a0, double a1, double a2, double a3, double b, double c);

}  // namespace ostrel::pwl_integ
