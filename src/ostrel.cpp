#include "ostrel.hpp"

#include "distribs.hpp"
#include "radiation.hpp"

namespace ostrel {

Vec fp_findif_difu(const Vec& gamma_bins, const Vec& nin, const Vec& gdot_in, const Vec& din,
                   const Vec& qin, double dt_in, double tesc_in, double tlc,
                   std::optional<bool> check_params) {
  return distribs::fp_findif_difu(gamma_bins, nin, gdot_in, din, qin, dt_in, tesc_in, tlc,
                                  check_params);
}

std::pair<Vec, Vec> syn_emissivity_full(const Vec& freqs, const Vec& gamma_bins,
                                        const Vec& n_distrib, bool with_abs, double b_field) {
  return radiation::syn_emissivity_full(freqs, gamma_bins, n_distrib, b_field, with_abs);
}

Vec ic_iso_monochrome_full(const Vec& freqs, const Vec& n, const Vec& g, double uext,
                           double nuext) {
  return radiation::ic_iso_monochrome_full(freqs, n, g, uext, nuext);
}

}  // namespace ostrel
