// Pieces shared by the inverse-Compton and Compton-cooling kernels: unit
// conversions, the quadrature rule and the power-law interpolation of
// tabulated inputs.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "constants.hpp"

namespace ostrel::models::compton {

namespace k = ostrel::constants;

// h / (m_e c^2) [s]: photon energy in units of m_e c^2 per hertz.
inline constexpr double kEpsPerHz = k::h / (k::m_e * k::c * k::c);
// 3 sigma_T c / (16 pi) [cm^3 s^-1]: the emissivity per steradian of the
// isotropic kernel, j = (h nu / 4 pi) (h / m_e c^2) dN/(dt dV deps_1).
inline constexpr double kEmissionCoeff = 3.0 * k::sigma_t * k::c / (16.0 * k::pi);

// Gauss-Legendre rules on [-1, 1] (Abramowitz & Stegun, table 25.4).  On an
// interval of width h the n-point rule integrates e^{c t} with a relative
// error of about (c h)^{2n} (n!)^4 / ((2n+1) ((2n)!)^3): 5.6e-10 (c h)^8 for
// four points and 5.0e-7 (c h)^6 for three.
inline constexpr std::array<double, 4> kNode = {-0.8611363115940526, -0.3399810435848563,
                                                0.3399810435848563, 0.8611363115940526};
inline constexpr std::array<double, 4> kWeight = {0.3478548451374538, 0.6521451548625461,
                                                  0.6521451548625461, 0.3478548451374538};
inline constexpr std::array<double, 3> kNode3 = {-0.7745966692414834, 0.0, 0.7745966692414834};
inline constexpr std::array<double, 3> kWeight3 = {5.0 / 9.0, 8.0 / 9.0, 5.0 / 9.0};

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
  const double h = (b - a) / sp.pieces;
  for (int p = 0; p < sp.pieces; ++p) {
    const double mid = a + (p + 0.5) * h;
    if (sp.order == 3) {
      for (std::size_t k = 0; k < kNode3.size(); ++k) f(mid + 0.5 * h * kNode3[k], 0.5 * h * kWeight3[k]);
    } else {
      for (std::size_t k = 0; k < kNode.size(); ++k) f(mid + 0.5 * h * kNode[k], 0.5 * h * kWeight[k]);
    }
  }
}

// A tabulated non-negative function f on an increasing positive grid x, a
// power law through each pair of neighbouring points: f = f_j (x/x_j)^{s_j}
// on [x_j, x_{j+1}].  A segment with a zero (or an underflowing) endpoint is
// dead and contributes nothing; outside the grid f is zero.
struct PowerLawTable {
  std::vector<double> x, lnx, f, slope;
  std::vector<char> live;  // per segment

  PowerLawTable(std::span<const double> xs, std::span<const double> fs)
      : x(xs.begin(), xs.end()), lnx(xs.size()), f(fs.begin(), fs.end()) {
    for (std::size_t j = 0; j < x.size(); ++j) lnx[j] = std::log(x[j]);
    const std::size_t nseg = x.size() > 0 ? x.size() - 1 : 0;
    slope.assign(nseg, 0.0);
    live.assign(nseg, 0);
    for (std::size_t j = 0; j < nseg; ++j) {
      if (f[j] > 0.0 && f[j + 1] > 0.0) {
        slope[j] = (std::log(f[j + 1]) - std::log(f[j])) / (lnx[j + 1] - lnx[j]);
        live[j] = std::isfinite(slope[j]);
      }
    }
  }
  std::size_t segments() const { return slope.size(); }
};

}  // namespace ostrel::models::compton
