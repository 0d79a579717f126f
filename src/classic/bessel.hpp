// Modified Bessel function of the first kind I_nu(z), real order, complex
// argument, by its power series.
#pragma once

#include <complex>

namespace ostrel::bessel {

// The truncated Weierstrass product for Gamma(x1) used by i_nu (x1 = nu + 1).
// It is not the exact Gamma function: for x1 = 4 it stops at k = 182005 and
// gives 5.9997362794... instead of 6.  A non-finite x1 gives NaN at once.
double gamma_product(double x1);

// I_nu(z) with Gamma(nu + 1) taken from gamma_product(nu + 1).  A non-finite
// order gives NaN + NaN i.
std::complex<double> i_nu(double nu, std::complex<double> z);

// The same series with a precomputed gamma_tilde = gamma_product(|nu| + 1)
// (the order must already be non-negative or non-integer; see i_nu).
std::complex<double> i_nu_with_gamma(double nu, std::complex<double> z, double gamma_tilde);

}  // namespace ostrel::bessel
