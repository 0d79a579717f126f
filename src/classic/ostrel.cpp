// The interface forwards to the kernels.  Two kernels keep their own order of
// parameters (the inputs first, then the scalars); this is the one place
// where the order of the interface is mapped onto theirs.
#include "ostrel.hpp"

#include "constants.hpp"
#include "distribs.hpp"
#include "radiation.hpp"
#include "srtoolkit.hpp"

namespace ostrel {

namespace {

Vec each(double (*helper)(double), std::span<const double> values) {
  Vec results(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) results[i] = helper(values[i]);
  return results;
}

}  // namespace

double get_c() { return constants::c; }

double gofb(double arg) { return srtoolkit::gofb(arg); }
Vec gofb(std::span<const double> arg) { return each(srtoolkit::gofb, arg); }

double bofg(double arg) { return srtoolkit::bofg(arg); }
Vec bofg(std::span<const double> arg) { return each(srtoolkit::bofg, arg); }

Vec eq_59_park1995(double t, std::span<const double> g) { return distribs::eq_59_park1995(t, g); }

Vec fp_findif_difu(double dt_in, std::span<const double> gamma_bins, std::span<const double> nin,
                   std::span<const double> gdot_in, std::span<const double> din,
                   std::span<const double> qin, double tesc_in, double tlc,
                   std::optional<bool> check_params) {
  return distribs::fp_findif_difu(gamma_bins, nin, gdot_in, din, qin, dt_in, tesc_in, tlc,
                                  check_params);
}

std::pair<Vec, Vec> syn_emissivity_full(std::span<const double> freqs,
                                        std::span<const double> gamma_bins,
                                        std::span<const double> n_distrib, double b_field,
                                        bool with_abs) {
  return radiation::syn_emissivity_full(freqs, gamma_bins, n_distrib, b_field, with_abs);
}

Vec rad_trans_blob(double blob_radius, std::span<const double> j_nu,
                   std::span<const double> a_nu) {
  return radiation::rad_trans_blob(blob_radius, j_nu, a_nu);
}

Vec ic_iso_powlaw_full(std::span<const double> freqs, std::span<const double> inu,
                       std::span<const double> g, std::span<const double> n) {
  return radiation::ic_iso_powlaw_full(freqs, inu, g, n);
}

Vec rad_cool_pwl(std::span<const double> gg, std::span<const double> freqs,
                 std::span<const double> uu, bool with_kn) {
  return radiation::rad_cool_pwl(gg, freqs, uu, with_kn);
}

Vec rad_cool_mono(std::span<const double> gg, double nu0, double u0, bool with_kn) {
  return radiation::rad_cool_mono(gg, nu0, u0, with_kn);
}

Vec ic_iso_monochrome_full(std::span<const double> freqs, double uext, double nuext,
                           std::span<const double> n, std::span<const double> g) {
  return radiation::ic_iso_monochrome_full(freqs, n, g, uext, nuext);
}

Vec rad_trans_slab(double blob_radius, std::span<const double> j_nu,
                   std::span<const double> a_nu) {
  return radiation::rad_trans_slab(blob_radius, j_nu, a_nu);
}

}  // namespace ostrel
