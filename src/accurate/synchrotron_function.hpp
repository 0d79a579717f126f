// The pitch-angle-averaged synchrotron function R(x).
//
// An electron of Lorentz factor gamma >> 1 at pitch angle theta radiates
//   P(nu, theta) = sqrt(3) e^3 B sin(theta) / (m c^2) F(nu / nu_c(theta)),
//   F(z) = z int_z^inf K_{5/3}(t) dt,  nu_c(theta) = (3/2) gamma^2 nu_L sin(theta),
// nu_L = e B / (2 pi m c).  Averaged over isotropic pitch angles,
//   <P>(nu) = sqrt(3) e^3 B / (m c^2) R(x),  x = nu / ((3/2) gamma^2 nu_L),
//   R(x) = 1/2 int_0^pi sin^2(theta) F(x / sin(theta)) dtheta,
// which has the closed form (Crusius & Schlickeiser 1986)
//   R(x) = (x^2 / 2) K_{4/3}(x/2) K_{1/3}(x/2)
//          - (3/20) x^3 [K_{4/3}(x/2)^2 - K_{1/3}(x/2)^2].
// Limits: R(x) = C x^(1/3) (1 + O(x^(2/3))) for x -> 0, with
// C = 4^(5/3) Gamma(4/3) Gamma(1/3) / 8 - (3/80) 4^(8/3) Gamma(4/3)^2
//   = 1.80841802...,
// and R(x) = (pi/2) e^-x (1 - 11/(18x) + O(x^-2)) for x -> inf;
// int_0^inf R dx = 16 pi / (27 sqrt 3) (the pitch-averaged total power).
#pragma once

namespace ostrel::models::synchrotron_function {

// R(x) from the closed form, evaluated in long double (the two terms cancel to
// a relative O(1/x) for large x).  x > 0.
double exact(double x);

// ln R at t = ln x from a table built once per process: cubic interpolation of
// ln R on a grid of step 1/128 in ln x, relative error below 1e-7 (well under
// the 1e-6 it is built for).  Below x = e^-30 the x^(1/3) law continues the
// table; above x = 700 (R < 1e-302) the result is -inf, R = 0.
double log_r(double t);

// exp(log_r(log(x))).
double tabulated(double x);

}  // namespace ostrel::models::synchrotron_function
