// Radiation kernels: synchrotron emission and self-absorption, inverse-Compton
// emission, Compton cooling rates and radiative transfer.  All in cgs units.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace ostrel::radiation {

using Spectrum = std::vector<double>;

// --- synchrotron -----------------------------------------------------------

// Fit of the pitch-angle-averaged synchrotron function R(x).
double syn_r_fit(double x);

// x as the synchrotron diagnostics print it: the shortest decimal that reads
// back as x, written out without exponent ("0.0000001", "2", "-1.5"); "NaN",
// "inf" and "-inf" for the special values.
std::string plain_shortest_decimal(double x);

// Emissivity j_nu [erg s^-1 cm^-3 Hz^-1 sr^-1] and absorption coefficient
// a_nu [cm^-1] at every frequency of freqs [Hz] for the electron densities
// n_distrib [cm^-3] tabulated on gamma_bins, in a field b_field [G].  a_nu is
// all zeros unless with_abs.
std::pair<Spectrum, Spectrum> syn_emissivity_full(std::span<const double> freqs,
                                                  std::span<const double> gamma_bins,
                                                  std::span<const double> n_distrib,
                                                  double b_field, bool with_abs);

// --- inverse Compton ---------------------------------------------------------

// Emissivity at every freqs [Hz] of electrons n on the grid g scattering a
// monochromatic field of energy density uext [erg cm^-3] at nuext [Hz].
Spectrum ic_iso_monochrome_full(std::span<const double> freqs, std::span<const double> n,
                                std::span<const double> g, double uext, double nuext);

// Emissivity at every freqs [Hz] of electrons n on the grid g scattering the
// seed intensity inu tabulated on the same freqs.
Spectrum ic_iso_powlaw_full(std::span<const double> freqs, std::span<const double> inu,
                            std::span<const double> g, std::span<const double> n);

// --- Compton cooling ---------------------------------------------------------

// Klein-Nishina integrands for the Romberg integration of a seed segment.
double trans_kn(double x, double q);
double trans_kn_fit(double x, double q);

// Cooling rate -dgamma/dt [s^-1] at each gg for the seed spectrum uu
// [erg cm^-3 Hz^-1] tabulated on freqs [Hz].
Spectrum rad_cool_pwl(std::span<const double> gg, std::span<const double> freqs,
                      std::span<const double> uu, bool with_kn);

// Cooling rate at each gg in a monochromatic field u0 [erg cm^-3] at nu0 [Hz].
Spectrum rad_cool_mono(std::span<const double> gg, double nu0, double u0, bool with_kn);

// --- radiative transfer ------------------------------------------------------

// Emerging intensity of a homogeneous sphere of radius blob_radius [cm].
Spectrum rad_trans_blob(double blob_radius, std::span<const double> j_nu,
                        std::span<const double> a_nu);

// Emerging intensity of a homogeneous slab of thickness blob_radius [cm].
Spectrum rad_trans_slab(double blob_radius, std::span<const double> j_nu,
                        std::span<const double> a_nu);

}  // namespace ostrel::radiation
