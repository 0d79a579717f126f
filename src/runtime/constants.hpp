// Physical constants in cgs units (CODATA 2018) and the derived coefficients
// that the kernels use as single precomputed values.
//
// The base constants are exact SI-defined values or CODATA 2018
// recommendations; the derived ones are stored with the bits that the written
// expression gives in double precision (tests recompute them).
#pragma once

namespace ostrel::constants {

// Speed of light [cm s^-1] (exact).
inline constexpr double c = 29979245800.0;
// Planck constant [erg s] (exact).
inline constexpr double h = 6.62607015e-27;
// Thomson cross-section [cm^2]: one unit in the last place above the double
// nearest to 6.6524587321e-25, the value the kernels were fitted with.
inline constexpr double sigma_t = 6.6524587321000005e-25;
// Electron mass [g].
inline constexpr double m_e = 9.1093837015e-28;
// Elementary charge [esu].
inline constexpr double e_charge = 4.803204712570263e-10;

// m_e c^2 / 4 [erg]: divided by the energy h nu of a seed photon it gives the
// Klein-Nishina limit of the electron Lorentz factor.
inline constexpr double energy_e_quarter = 2.0467764442059716e-07;
// e / (2 pi m_e c) [Hz G^-1]: electron gyro-frequency per gauss.
inline constexpr double nu_b_per_gauss = 2799248.987233304;
// sqrt(3) e^2 / (2 c): synchrotron emissivity coefficient.
inline constexpr double syn_emissivity_coeff = 6.6645698196351e-30;
// sqrt(3) e^2 / (4 m_e c): synchrotron absorption coefficient.
inline constexpr double syn_absorption_coeff = 0.0036580794255805012;
// 4 sigma_T c / (3 m_e c^2) = (4/3) sigma_T / (m_e c): Thomson cooling
// coefficient.
inline constexpr double thomson_cooling_coeff = 3.2479641514432145e-08;

// pi as the nearest double.
inline constexpr double pi = 3.141592653589793;

}  // namespace ostrel::constants
