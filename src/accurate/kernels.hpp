// Accurate radiation kernels, in cgs units.
//
// Electron densities n are per unit Lorentz factor [cm^-3] on an increasing
// grid gamma; between two grid points the distribution is the power law
// through both points (exact for a power law), and it is zero outside the
// grid.  A tabulated seed field (seed_u [erg cm^-3 Hz^-1] on seed_nu [Hz]) is
// interpolated the same way, from logarithms: neighbouring values may differ
// by any factor a double allows (a tail of 1e-320 next to 1e-2).  Every kernel
// checks its inputs before any work and throws std::invalid_argument naming
// the argument and the problem.  Photon frequencies (nu, nu0, seed_nu) lie
// between 1e-40 and 1e50 Hz and Lorentz factors between 1 and 1e30
// (checks.hpp says why); within that range every finite input gives finite
// results, and a result beyond the largest double is refused naming the input
// that scales it.  Results do not depend on the number of worker threads.
#pragma once

#include <span>
#include <utility>
#include <vector>

namespace ostrel::models {

using Span = std::span<const double>;
using Vec = std::vector<double>;

// Pitch-angle-averaged synchrotron emissivity j [erg s^-1 cm^-3 Hz^-1 sr^-1]
// and absorption coefficient alpha [cm^-1] at frequencies nu [Hz] in a field
// B [G].
std::pair<Vec, Vec> synchrotron(Span nu, Span gamma, Span n, double B);

// Synchrotron energy-loss rate -dgamma/dt [s^-1] for isotropic pitch angles.
Vec synchrotron_cooling(Span gamma, double B);

// Inverse-Compton emissivity [erg s^-1 cm^-3 Hz^-1 sr^-1] at nu [Hz] of
// isotropic electrons in an isotropic seed field (exact Klein-Nishina kernel).
Vec inverse_compton(Span nu, Span gamma, Span n, Span seed_nu, Span seed_u);

// The same for a monochromatic seed of energy density u0 [erg cm^-3] at
// frequency nu0 [Hz].
Vec inverse_compton_mono(Span nu, Span gamma, Span n, double nu0, double u0);

// Compton energy-loss rate -dgamma/dt [s^-1] in an isotropic seed field
// (exact Klein-Nishina; proportional to gamma^2 beta^2 in the Thomson limit).
Vec compton_cooling(Span gamma, Span seed_nu, Span seed_u);
Vec compton_cooling_mono(Span gamma, double nu0, double u0);

// Absorption coefficient [cm^-1] for pair production of photons of frequency
// nu [Hz] on an isotropic seed field.
Vec gamma_gamma_opacity(Span nu, Span seed_nu, Span seed_u);

}  // namespace ostrel::models
