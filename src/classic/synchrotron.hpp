// Synchrotron emission and self-absorption of a tabulated electron
// distribution, in cgs units.
#pragma once

#include <span>
#include <utility>
#include <vector>

namespace ostrel::radiation {

using Spectrum = std::vector<double>;

// Fit of the pitch-angle-averaged synchrotron function R(x).
double syn_r_fit(double x);

// Emissivity j_nu [erg s^-1 cm^-3 Hz^-1 sr^-1] and absorption coefficient
// a_nu [cm^-1] at every frequency of freqs [Hz] for the electron densities
// n_distrib [cm^-3] tabulated on gamma_bins, in a field b_field [G].  a_nu is
// all zeros unless with_abs.
std::pair<Spectrum, Spectrum> syn_emissivity_full(std::span<const double> freqs,
                                                  std::span<const double> gamma_bins,
                                                  std::span<const double> n_distrib,
                                                  double b_field, bool with_abs);

}  // namespace ostrel::radiation
