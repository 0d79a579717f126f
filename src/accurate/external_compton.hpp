// Compton scattering of an anisotropic external photon field by the
// electrons of a moving blob, for any bulk Lorentz factor and viewing angle.
#pragma once

#include "accurate/kernels.hpp"

namespace ostrel::models {

// Emissivity per steradian [erg s^-1 Hz^-1 sr^-1] at frequencies nu [Hz] of
// electrons moving along the line of sight, n(gamma) per unit Lorentz factor
// on the grid gamma, in a field given as a set of photon beams: beam k has
// w_k = eps_k (1 - cos psi_k) (photon energy in m_e c^2 times one minus the
// cosine of its angle to the line of sight), expressed as the frequency
// w_nu[k] = w_k m_e c^2 / h [Hz], and weight w_a[k] = U_k / eps_k^2, its
// energy density U_k [erg cm^-3] over its energy squared.  With `smooth`,
// the beams are nodes of a quadrature over a continuous field and each is
// spread over its cell in ln w; otherwise they are exact beams.
Vec external_compton(Span nu, Span gamma, Span n, Span w_nu, Span w_a, bool smooth);

}  // namespace ostrel::models
