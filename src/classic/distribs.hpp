// Particle distributions: one implicit Fokker-Planck step and the closed-form
// solution of Park (1995) equation 59.
#pragma once

#include <optional>
#include <span>
#include <vector>

namespace ostrel::distribs {

// Advances N(gamma) by one implicit (backward Euler) step of
//   dN/dt = d/dg [ C dN/dg + B N ] + Q - N/T,  C = D/2, B = Gdot + dD/dg / 2,
// with Chang-Cooper weighted fluxes.  check_params absent or true: any NaN
// input is the fatal error "FP_FinDif_difu: at least one input parameter is
// not correctly defined".  nin or qin may have length 1 (broadcast).
std::vector<double> fp_findif_difu(std::span<const double> gamma_bins, std::span<const double> nin,
                                   std::span<const double> gdot_in, std::span<const double> din,
                                   std::span<const double> qin, double dt_in, double tesc_in,
                                   double tlc, std::optional<bool> check_params);

// Park (1995) eq. 59 at time t on the Lorentz factors g, bounded to
// [1e-100, 1e200] (NaN becomes 1e-100).
std::vector<double> eq_59_park1995(double t, std::span<const double> g);

}  // namespace ostrel::distribs
