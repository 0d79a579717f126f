// The C++ interface of ostrel: the twelve functions of the Python module, each
// with its parameters in the order and under the names the Python function
// has, on read-only spans of doubles.  They need no interpreter.  A failing
// kernel throws ostrel::FatalError carrying the message the Python layer
// reports.  All quantities are in cgs units.
#pragma once

#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "error.hpp"  // ostrel::FatalError, thrown by every failing kernel

namespace ostrel {

using Vec = std::vector<double>;

// Speed of light c [cm s^-1].
double get_c();

// Lorentz factor 1/sqrt(1 - beta^2) of a speed beta = v/c [dimensionless], of
// one value or of each element.  |beta| = 1 gives +inf, |beta| > 1 NaN.
double gofb(double arg);
Vec gofb(std::span<const double> arg);

// Speed beta = v/c of a Lorentz factor [dimensionless], of one value or of
// each element; 0 for gamma <= 1.
double bofg(double arg);
Vec bofg(std::span<const double> arg);

// Park (1995) eq. 59, the closed-form electron distribution at the
// dimensionless time t on the Lorentz factors g, bounded to [1e-100, 1e200].
Vec eq_59_park1995(double t, std::span<const double> g);

// One implicit Fokker-Planck step of length dt_in [s] for the electron
// densities nin [cm^-3] on the Lorentz-factor grid gamma_bins, with the
// energy-loss rate gdot_in [s^-1], the diffusion coefficient din [s^-1], the
// injection rate qin [cm^-3 s^-1], the escape time tesc_in [s] and the light
// crossing time tlc [s].  check_params absent or true: a NaN input is fatal.
// nin and qin may have one element (broadcast).
Vec fp_findif_difu(double dt_in, std::span<const double> gamma_bins, std::span<const double> nin,
                   std::span<const double> gdot_in, std::span<const double> din,
                   std::span<const double> qin, double tesc_in, double tlc,
                   std::optional<bool> check_params = std::nullopt);

// Synchrotron emissivity j_nu [erg s^-1 cm^-3 Hz^-1 sr^-1] and absorption
// coefficient a_nu [cm^-1] at the frequencies freqs [Hz] of the electron
// densities n_distrib [cm^-3] on gamma_bins in the field b_field [G]; a_nu is
// all zeros unless with_abs.
std::pair<Vec, Vec> syn_emissivity_full(std::span<const double> freqs,
                                        std::span<const double> gamma_bins,
                                        std::span<const double> n_distrib, double b_field,
                                        bool with_abs);

// Intensity [erg s^-1 cm^-2 Hz^-1 sr^-1] emerging from a homogeneous sphere of
// radius blob_radius [cm] with emissivity j_nu and absorption a_nu [cm^-1].
Vec rad_trans_blob(double blob_radius, std::span<const double> j_nu,
                   std::span<const double> a_nu);

// Inverse-Compton emissivity [erg s^-1 cm^-3 Hz^-1 sr^-1] at freqs [Hz] of the
// electron densities n [cm^-3] on the Lorentz factors g scattering the seed
// intensity inu [erg s^-1 cm^-2 Hz^-1 sr^-1] tabulated on freqs.
Vec ic_iso_powlaw_full(std::span<const double> freqs, std::span<const double> inu,
                       std::span<const double> g, std::span<const double> n);

// Compton cooling rate -dgamma/dt [s^-1] at each Lorentz factor gg in the seed
// energy density uu [erg cm^-3 Hz^-1] tabulated on freqs [Hz]; with_kn adds
// the Klein-Nishina correction.
Vec rad_cool_pwl(std::span<const double> gg, std::span<const double> freqs,
                 std::span<const double> uu, bool with_kn);

// Compton cooling rate -dgamma/dt [s^-1] at each gg in a monochromatic field
// of frequency nu0 [Hz] and energy density u0 [erg cm^-3].
Vec rad_cool_mono(std::span<const double> gg, double nu0, double u0, bool with_kn);

// Inverse-Compton emissivity [erg s^-1 cm^-3 Hz^-1 sr^-1] at freqs [Hz] of a
// monochromatic seed field of energy density uext [erg cm^-3] at nuext [Hz]
// scattered by the electron densities n [cm^-3] on the Lorentz factors g.
Vec ic_iso_monochrome_full(std::span<const double> freqs, double uext, double nuext,
                           std::span<const double> n, std::span<const double> g);

// Intensity emerging from a homogeneous slab of thickness blob_radius [cm].
Vec rad_trans_slab(double blob_radius, std::span<const double> j_nu,
                   std::span<const double> a_nu);

}  // namespace ostrel
