#include "transfer.hpp"

#include <cmath>
#include <cstddef>

#include "error.hpp"

namespace ostrel::radiation {

// A homogeneous source of emissivity j and absorption coefficient alpha emits
// the intensity j * R * (escape factor of the optical depth tau).  Optical
// depths below the floor 1e-100 (NaN and negative alpha included) are taken
// as that floor, i.e. as optically thin.

namespace {

constexpr double kTauFloor = 1e-100;
constexpr double kTauThin = 1e-10;       // below: escape factor exactly 1
constexpr double kTauSeriesMax = 0.01;   // sphere: series below this
constexpr double kTauAsymptotic = 100.0; // sphere: large-tau form above this

// max(tau, floor) that also maps NaN to the floor.
double floored_depth(double tau) { return tau > kTauFloor ? tau : kTauFloor; }

// Escape factor u of a sphere of diameter optical depth tau, normalised so that
// the intensity is j R u / 3:  u = 3 t(tau)/tau with
//   t(tau) = 1/2 - (1 - (1 + tau) e^-tau)/tau^2,
// its large-tau form 1/2 - 1/tau^2 (the exponential terms are below rounding)
// and its small-tau series tau/3 - tau^2/8 (the exact form cancels there).
double sphere_escape_factor(double tau) {
  if (tau <= kTauThin) return 1.0;
  double t;
  if (tau > kTauAsymptotic) {
    t = -1.0 / (tau * tau) + 0.5;
  } else if (tau >= kTauSeriesMax) {
    t = 0.5 * (1.0 - 2.0 * (1.0 - std::exp(-tau) * (tau + 1.0)) / (tau * tau));
  } else {
    t = (tau * tau) * (-0.125) + tau / 3.0;
  }
  return (t * 3.0) / tau;
}

// Escape factor (1 - e^-tau)/tau of a slab of optical depth tau.
double slab_escape_factor(double tau) {
  if (tau <= kTauThin) return 1.0;
  return (1.0 - std::exp(-tau)) / tau;
}

}  // namespace

Spectrum rad_trans_blob(double blob_radius, std::span<const double> j_nu,
                        std::span<const double> a_nu) {
  Spectrum out(j_nu.size(), 0.0);
  for (std::size_t k = 0; k < j_nu.size(); ++k) {
    const double s = j_nu[k] * blob_radius;
    const double tau = floored_depth(at(a_nu, k) * (blob_radius + blob_radius));
    out[k] = (s * sphere_escape_factor(tau)) / 3.0;
  }
  return out;
}

Spectrum rad_trans_slab(double blob_radius, std::span<const double> j_nu,
                        std::span<const double> a_nu) {
  Spectrum out(j_nu.size(), 0.0);
  for (std::size_t k = 0; k < j_nu.size(); ++k) {
    const double s = j_nu[k] * blob_radius;
    const double tau = floored_depth(at(a_nu, k) * blob_radius);
    out[k] = s * slab_escape_factor(tau);
  }
  return out;
}

}  // namespace ostrel::radiation
