// Literal, single-threaded reference of the radiation kernels whose
// production versions hoist and share work across frequencies:
// syn_emissivity_full, ic_iso_powlaw_full and rad_cool_pwl.
//
// Each function here evaluates its output bins one after the other in plain
// loops, every integrand value and every power-law integral recomputed where
// the algorithm reads it.  The production kernels must return the same bits
// (and print the same non-convergence reports); the tests compare them on
// generated inputs and the benchmarks time both.
#pragma once

#include <span>
#include <utility>
#include <vector>

namespace ostrel::reference {

std::pair<std::vector<double>, std::vector<double>> syn_emissivity_full(
    std::span<const double> freqs, std::span<const double> gamma_bins,
    std::span<const double> n_distrib, double b_field, bool with_abs);

std::vector<double> ic_iso_powlaw_full(std::span<const double> freqs, std::span<const double> inu,
                                       std::span<const double> g, std::span<const double> n);

std::vector<double> rad_cool_pwl(std::span<const double> gg, std::span<const double> freqs,
                                 std::span<const double> uu, bool with_kn);

}  // namespace ostrel::reference
