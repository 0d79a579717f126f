// Pieces shared by the inverse-Compton and Compton-cooling kernels: unit
// conversions and how a piece of an integral is split for the Gauss-Legendre
// rules of gauss_legendre.hpp.  On an interval of width h the n-point rule
// integrates e^{c t} with a relative error of about
// (c h)^{2n} (n!)^4 / ((2n+1) ((2n)!)^3): 5.6e-10 (c h)^8 for four points and
// 5.0e-7 (c h)^6 for three.
#pragma once

#include <cmath>
#include <cstddef>

#include "constants.hpp"
#include "accurate/gauss_legendre.hpp"

namespace ostrel::models::compton {

namespace k = ostrel::constants;

// h / (m_e c^2) [s]: photon energy in units of m_e c^2 per hertz.
inline constexpr double kEpsPerHz = k::h / (k::m_e * k::c * k::c);
// 3 sigma_T c / (16 pi) [cm^3 s^-1]: the emissivity per steradian of the
// isotropic kernel, j = (h nu / 4 pi) (h / m_e c^2) dN/(dt dV deps_1).
inline constexpr double kEmissionCoeff = 3.0 * k::sigma_t * k::c / (16.0 * k::pi);

// An interval of width w in a logarithmic variable over which the
// integrand's logarithm changes at most by slope per unit is cut into
// `pieces` equal parts, each integrated with `order` (3 or 4) points: three
// points when the whole interval has slope * width <= 1.2 and width <= 0.4
// (error below 1.5e-6 for an exponential), else four points on parts with
// slope * width <= 2 and width <= 1/2 (below 1.5e-7).
struct Split {
  int pieces;
  int order;
};

inline Split split(double w, double slope, bool three_points_allowed = true) {
  slope = std::fabs(slope);
  if (three_points_allowed && w <= 0.4 && slope * w <= 1.2) return {1, 3};
  const double m = std::fmax(w / 0.5, slope * w / 2.0);
  return {m <= 1.0 ? 1 : static_cast<int>(std::ceil(m)), 4};
}

// Calls f(x, weight) at the nodes of the split rule on [a, b]; the weights
// include the Jacobian, so the sum of weight * integrand is the integral.
template <class F>
void for_each_node(double a, double b, Split sp, F&& f) {
  const auto pieces = static_cast<std::size_t>(sp.pieces);
  if (sp.order == 3)
    gauss::for_each_node(gauss::rule3, a, b, pieces, f);
  else
    gauss::for_each_node(gauss::rule4, a, b, pieces, f);
}

}  // namespace ostrel::models::compton
