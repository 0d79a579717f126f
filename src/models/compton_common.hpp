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

// 4-point Gauss-Legendre rule on [-1, 1] (Abramowitz & Stegun, table 25.4).
// On an interval of width h its error for an integrand e^{c t} is about
// 5.6e-10 (c h)^8 of the integral, so intervals are cut to c h <= 2 (1.4e-7).
inline constexpr std::array<double, 4> kNode = {-0.8611363115940526, -0.3399810435848563,
                                                0.3399810435848563, 0.8611363115940526};
inline constexpr std::array<double, 4> kWeight = {0.3478548451374538, 0.6521451548625461,
                                                  0.6521451548625461, 0.3478548451374538};

// Largest interval of the rule in a logarithmic variable, and the largest
// change of the logarithm of the integrand across it.
inline constexpr double kMaxLogWidth = 0.5;
inline constexpr double kMaxLogChange = 2.0;

// Number of equal pieces for an interval of width w in ln x over which the
// integrand varies roughly as x^slope.
inline int pieces(double w, double slope) {
  const double m = std::fmax(w / kMaxLogWidth, std::fabs(slope) * w / kMaxLogChange);
  return m <= 1.0 ? 1 : static_cast<int>(std::ceil(m));
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
