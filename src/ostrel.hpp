// Vector-level entry points of the module: what the Python functions compute,
// callable from C++ without the interpreter.  A failing kernel throws
// ostrel::FatalError carrying the message the Python layer reports.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "error.hpp"  // ostrel::FatalError, thrown by every failing kernel

namespace ostrel {

using Vec = std::vector<double>;

// One implicit Fokker-Planck step (see distribs::fp_findif_difu).
Vec fp_findif_difu(const Vec& gamma_bins, const Vec& nin, const Vec& gdot_in, const Vec& din,
                   const Vec& qin, double dt_in, double tesc_in, double tlc,
                   std::optional<bool> check_params);

// Synchrotron emissivity and absorption (see radiation::syn_emissivity_full).
std::pair<Vec, Vec> syn_emissivity_full(const Vec& freqs, const Vec& gamma_bins,
                                        const Vec& n_distrib, bool with_abs, double b_field);

// Inverse-Compton emissivity in a monochromatic field
// (see radiation::ic_iso_monochrome_full).
Vec ic_iso_monochrome_full(const Vec& freqs, const Vec& n, const Vec& g, double uext,
                           double nuext);

}  // namespace ostrel
