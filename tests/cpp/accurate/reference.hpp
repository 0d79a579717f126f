// Independent references for the accurate kernels' tests: adaptive
// Gauss-Kronrod quadrature and power-law interpolation of tables, written
// apart from the kernels (long double logarithms, no shared code).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <vector>

#include "constants.hpp"

namespace reference {

using Vec = std::vector<double>;

// Adaptive Gauss-Kronrod (7/15-point) quadrature of f on [a, b]: intervals
// are halved until the Kronrod and Gauss results agree to tol relative.
inline double quad(const std::function<double(double)>& f, double a, double b, double tol, int depth = 0) {
  static const double kXgk[8] = {0.991455371120812639, 0.949107912342758525, 0.864864423359769073,
                                 0.741531185599394440, 0.586087235467691130, 0.405845151377397167,
                                 0.207784955007898468, 0.0};
  static const double kWgk[8] = {0.022935322010529225, 0.063092092629978553, 0.104790010322250184,
                                 0.140653259715525919, 0.169004726639267903, 0.190350578064785410,
                                 0.204432940075298892, 0.209482141084727828};
  static const double kWg[4] = {0.129484966168869693, 0.279705391489276668, 0.381830050505118945,
                                0.417959183673469388};
  if (!(a < b)) return 0.0;
  const double mid = 0.5 * (a + b), half = 0.5 * (b - a);
  const double fc = f(mid);
  double k15 = kWgk[7] * fc, g7 = kWg[3] * fc;
  for (int i = 0; i < 7; ++i) {
    const double pair = f(mid - half * kXgk[i]) + f(mid + half * kXgk[i]);
    k15 += kWgk[i] * pair;
    if (i % 2 == 1) g7 += kWg[i / 2] * pair;
  }
  k15 *= half;
  g7 *= half;
  if (depth >= 24 || std::fabs(k15 - g7) <= tol * std::fabs(k15) || (k15 == 0.0 && g7 == 0.0))
    return k15;
  return quad(f, a, mid, tol, depth + 1) + quad(f, mid, b, tol, depth + 1);
}

// A tabulated function, a power law between neighbouring points, zero outside
// (and on any segment with a zero endpoint).  Interpolated in logarithms, so
// that neighbours whose ratio leaves a double still give the power law
// through both.
struct Table {
  Vec x, y;
  double operator()(double v) const {
    if (!(v >= x.front() && v <= x.back())) return 0.0;
    std::size_t j = std::upper_bound(x.begin(), x.end(), v) - x.begin();
    if (j == x.size()) j = x.size() - 1;
    const double y0 = y[j - 1], y1 = y[j];
    if (y0 <= 0.0 || y1 <= 0.0) return 0.0;
    const double t = std::log(v / x[j - 1]) / std::log(x[j] / x[j - 1]);
    return std::exp(std::log(y0) + t * (std::log(y1) - std::log(y0)));
  }
};

// Integral of f(x) dx over [a, b] in ln x, split at the grid points inside.
inline double log_integral(const std::function<double(double)>& f, double a, double b, const Vec& grid,
                           double tol) {
  Vec cuts{a};
  for (double g : grid)
    if (g > a && g < b) cuts.push_back(g);
  cuts.push_back(b);
  double sum = 0.0;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
    sum += quad([&](double t) { const double x = std::exp(t); return x * f(x); }, std::log(cuts[i]),
                std::log(cuts[i + 1]), tol);
  return sum;
}

namespace c = ostrel::constants;
inline const double kMec2 = c::m_e * c::c * c::c;  // [erg]
inline const double kHzToEps = c::h / kMec2;

// Scattered-photon spectrum of one electron (Blumenthal & Gould 1970,
// eq. 2.48): dN/(dt deps1) per unit seed photon density, without the constant
// 2 pi r_0^2 c, i.e. F(q, Gamma_e) / (gamma^2 eps) on its domain.
inline double bg_rate(double gamma, double eps, double eps1) {
  const double Ge = 4.0 * eps * gamma, E1 = eps1 / gamma;
  if (E1 >= 1.0) return 0.0;
  const double q = E1 / (Ge * (1.0 - E1));
  if (q > 1.0 || q < 1.0 / (4.0 * gamma * gamma)) return 0.0;
  const double F = 2.0 * q * std::log(q) + (1.0 + 2.0 * q) * (1.0 - q) +
                   0.5 * (Ge * q) * (Ge * q) * (1.0 - q) / (1.0 + Ge * q);
  return F / (gamma * gamma * eps);
}

// Allowed electron range for eps -> eps1: from 4 eps gamma (gamma - eps1) >= eps1
// and, when eps1 < eps, gamma (eps - eps1) <= eps eps1.
inline double lowest_gamma(double eps, double eps1) {
  return 0.5 * (eps1 + std::sqrt(eps1 * eps1 + eps1 / eps));
}
inline double highest_gamma(double eps, double eps1) {
  return eps1 < eps ? eps * eps1 / (eps - eps1) : INFINITY;
}

// j(nu) [erg s^-1 cm^-3 Hz^-1 sr^-1] = (h nu / 4 pi) (h / m_e c^2) *
// int dgamma n int deps n_ph(eps) (2 pi r_0^2 c) bg_rate, for seed photons of
// number density n_ph(eps) = u_nu / (h eps) per unit eps.
inline const double kTwoPiR0sqC = 0.75 * c::sigma_t * c::c;

inline double ref_mono(double nu, const Table& n, double nu0, double u0, double tol = 1e-9) {
  const double eps = nu0 * kHzToEps, eps1 = nu * kHzToEps;
  const double a = std::max({lowest_gamma(eps, eps1), n.x.front(), 1.0});
  const double b = std::min(highest_gamma(eps, eps1), n.x.back());
  if (!(a < b)) return 0.0;
  // Photon number density u0 / (h nu0), all at eps.
  const double nph = u0 / (c::h * nu0);
  const double I = log_integral([&](double g) { return n(g) * bg_rate(g, eps, eps1); }, a, b, n.x, tol);
  return c::h * nu / (4.0 * c::pi) * kHzToEps * kTwoPiR0sqC * nph * I;
}

inline double ref_tabulated(double nu, const Table& n, const Table& u, double tol = 1e-6) {
  // Outer integral over the seed frequency, inner over gamma.
  const auto inner = [&](double nus) {
    const double uu = u(nus);
    if (uu == 0.0) return 0.0;
    return ref_mono(nu, n, nus, uu, 1e-2 * tol);  // per unit seed frequency
  };
  return log_integral(inner, u.x.front(), u.x.back(), u.x, tol);
}

}  // namespace reference
