// Small numerical routines shared by the kernels: the tridiagonal solver,
// Neville polynomial interpolation and Romberg integration.
#pragma once

#include <span>
#include <vector>

#include "error.hpp"

namespace ostrel::misc {

// Solves the tridiagonal system a[j-1] u[j-1] + b[j] u[j] + c[j] u[j+1] = r[j]
// (n = b.size() rows) by the Thomas algorithm, without pivoting.  A zero
// pivot is the fatal error "tridag_ser: error at code stage 1" (first row) or
// "... stage 2" (later rows); missing entries are index-out-of-range errors.
std::vector<double> tridag_ser(std::span<const double> a, std::span<const double> b,
                               std::span<const double> c, std::span<const double> r);

struct Interpolated {
  double y;   // value of the interpolating polynomial at x
  double dy;  // the last correction added to y (error estimate)
};

// Neville's scheme through the points (xa[i], ya[i]), evaluated at x.
Result<Interpolated> polint(std::span<const double> xa, std::span<const double> ya, double x);

// Integrand of qromb_w2arg: a function of x with a fixed second argument.
using Integrand2 = double (*)(double x, double p);

// Romberg integration of func(., p) from a to b (tolerance 1e-5, at most 20
// stages, extrapolation through the last 5 stages).
Result<double> qromb_w2arg(Integrand2 func, double a, double b, double p);

}  // namespace ostrel::misc
