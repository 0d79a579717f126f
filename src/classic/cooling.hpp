// Compton cooling rates of electrons in an isotropic photon field, Thomson or
// with the Klein-Nishina correction, in cgs units.
#pragma once

#include <span>
#include <vector>

namespace ostrel::radiation {

using Spectrum = std::vector<double>;

// Klein-Nishina integrands for the Romberg integration of a seed segment.
double trans_kn(double x, double q);
double trans_kn_fit(double x, double q);

// Cooling rate -dgamma/dt [s^-1] at each gg for the seed spectrum uu
// [erg cm^-3 Hz^-1] tabulated on freqs [Hz].
Spectrum rad_cool_pwl(std::span<const double> gg, std::span<const double> freqs,
                      std::span<const double> uu, bool with_kn);

// Cooling rate at each gg in a monochromatic field u0 [erg cm^-3] at nu0 [Hz].
Spectrum rad_cool_mono(std::span<const double> gg, double nu0, double u0, bool with_kn);

}  // namespace ostrel::radiation
