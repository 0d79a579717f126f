// Physical constants in cgs units (CODATA 2018) that both layers of kernels
// use.  Base constants are exact SI-defined values or CODATA 2018
// recommendations, each the double nearest to its decimal value; the one
// derived value here is stored with the bits that its written expression
// gives in double precision (tests recompute it).  Coefficients fitted for
// the classic kernels, and their Thomson cross-section, live with them
// (classic/coefficients.hpp).
#pragma once

namespace ostrel::constants {

// Speed of light [cm s^-1] (exact).
inline constexpr double c = 29979245800.0;
// Planck constant [erg s] (exact).
inline constexpr double h = 6.62607015e-27;
// Thomson cross-section [cm^2], the double nearest to CODATA 2018.
inline constexpr double sigma_t = 6.6524587321e-25;
// Electron mass [g].
inline constexpr double m_e = 9.1093837015e-28;
// Elementary charge [esu].
inline constexpr double e_charge = 4.803204712570263e-10;
// pi as the nearest double.
inline constexpr double pi = 3.141592653589793;

// e / (2 pi m_e c) [Hz G^-1]: electron gyro-frequency per gauss.
inline constexpr double nu_b_per_gauss = 2799248.987233304;

}  // namespace ostrel::constants
