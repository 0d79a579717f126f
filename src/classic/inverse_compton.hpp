// Inverse-Compton emission of a tabulated electron distribution in an
// isotropic seed field, Thomson kernel up to the Klein-Nishina limit, in cgs
// units.
#pragma once

#include <span>
#include <vector>

namespace ostrel::radiation {

using Spectrum = std::vector<double>;

// Emissivity at every freqs [Hz] of electrons n on the grid g scattering a
// monochromatic field of energy density uext [erg cm^-3] at nuext [Hz].
Spectrum ic_iso_monochrome_full(std::span<const double> freqs, std::span<const double> n,
                                std::span<const double> g, double uext, double nuext);

// Emissivity at every freqs [Hz] of electrons n on the grid g scattering the
// seed intensity inu tabulated on the same freqs.
Spectrum ic_iso_powlaw_full(std::span<const double> freqs, std::span<const double> inu,
                            std::span<const double> g, std::span<const double> n);

}  // namespace ostrel::radiation
