// Klein-Nishina scattering of isotropic photons by ultra-relativistic
// electrons: the kernel of the scattered spectrum and the energy-loss factor.
//
// Energies are in units of m_e c^2.  An electron of Lorentz factor gamma meets
// photons of energy eps; Gamma_e = 4 eps gamma measures how deep the collision
// is in the Klein-Nishina regime (Gamma_e << 1 is the Thomson limit).
#pragma once

#include <cmath>

namespace ostrel::models::klein_nishina {

// The isotropic Klein-Nishina kernel (Jones 1968; Blumenthal & Gould 1970,
// eq. 2.48):
//
//   dN/(dt deps_1) = (3 sigma_T c / (4 gamma^2)) (n(eps) deps / eps) F,
//   F = 2 q ln q + (1 + 2q)(1 - q) + (1/2) (Gamma_e q)^2 (1 - q) / (1 + Gamma_e q),
//
// with q = E_1 / (Gamma_e (1 - E_1)), E_1 = eps_1 / gamma, valid for
// 1/(4 gamma^2) <= q <= 1.  It is written here with g = Gamma_e q =
// E_1 / (1 - E_1), which depends on the photon energies only through eps_1:
// for fixed gamma and eps_1, F is a polynomial in q plus 2 q ln q, where
// q = k / eps is inversely proportional to the seed energy.  F vanishes at
// q = 1 (the largest energy transfer the kinematics allow).
inline double emission_kernel(double q, double g) {
  if (!(q < 1.0)) return 0.0;
  return 2.0 * q * std::log(q) + (1.0 + 2.0 * q) * (1.0 - q) + 0.5 * g * g * (1.0 - q) / (1.0 + g);
}

// Klein-Nishina factor of the energy-loss rate in isotropic photons of energy
// eps (Jones 1965; Blumenthal & Gould 1970, section 2.7):
//
//   -dE/dt = (4/3) sigma_T c gamma^2 U F_KN(4 gamma eps),
//   F_KN(b) = 9 int_0^1 q F(q, b) / (1 + b q)^3 dq,
//
// so that F_KN(0) = 1 (Thomson), F_KN(b) = 1 - (63/40) b + O(b^2) for small b
// and F_KN(b) = (9 / (2 b^2)) (ln b - 11/6) + O(ln b / b^3) for large b.
// Evaluated from a table built once per process (relative error below 2e-7
// everywhere); the argument is x = ln b.
double loss_factor_of_log(double x);
inline double loss_factor(double b) { return loss_factor_of_log(std::log(b)); }

// The defining integral of F_KN(b), by composite Gauss-Legendre quadrature in
// ln q (the table's source; slow, exposed for testing).
double loss_factor_integral(double b);

}  // namespace ostrel::models::klein_nishina
