// Coefficients of the classic kernels, stored as single precomputed values
// so that their results keep the same bits on every build.
//
// Each equals its written expression in double precision over the base
// constants (tests recompute them), except that the Thomson cross-section
// they were fitted with lies one unit in the last place above the double
// nearest to the CODATA value that the accurate kernels use.
#pragma once

#include "constants.hpp"

namespace ostrel::coefficients {

// Thomson cross-section [cm^2]: one unit in the last place above the double
// nearest to 6.6524587321e-25, the value the classic kernels were fitted with.
inline constexpr double sigma_t = 6.6524587321000005e-25;
// m_e c^2 / 4 [erg]: divided by the energy h nu of a seed photon it gives the
// Klein-Nishina limit of the electron Lorentz factor.
inline constexpr double energy_e_quarter = 2.0467764442059716e-07;
// sqrt(3) e^2 / (2 c): synchrotron emissivity coefficient.
inline constexpr double syn_emissivity_coeff = 6.6645698196351e-30;
// sqrt(3) e^2 / (4 m_e c): synchrotron absorption coefficient.
inline constexpr double syn_absorption_coeff = 0.0036580794255805012;
// 4 sigma_T c / (3 m_e c^2) = (4/3) sigma_T / (m_e c) with the fitted
// sigma_T: Thomson cooling coefficient.
inline constexpr double thomson_cooling_coeff = 3.2479641514432145e-08;

}  // namespace ostrel::coefficients
