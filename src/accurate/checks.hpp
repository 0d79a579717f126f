// Input checks of the accurate kernels: each failure throws
// std::invalid_argument with a message that names the argument, so that the
// Python binding reports it as ValueError before any work is done.
#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ostrel::models::checks {

// Throws std::invalid_argument("<name>: <problem>").
[[noreturn]] void fail(std::string_view name, std::string_view problem);

// The photon frequencies the kernels take [Hz]: photon energies h nu / m_e c^2
// from 8e-61 to 8e29, so that the powers of them the Compton and pair kernels
// form (up to the fourth, and products with Lorentz factors up to
// kMaxLorentzFactor) stay inside a double.  Radio to the highest-energy gamma
// rays (1e5 .. 1e35 Hz) lie far inside.
inline constexpr double kMinFrequency = 1e-40, kMaxFrequency = 1e50;
inline constexpr double kMaxLorentzFactor = 1e30;

// A finite, strictly positive scalar (a field, a frequency, an energy density).
inline void positive(std::string_view name, double value) {
  if (!std::isfinite(value)) fail(name, "must be finite");
  if (!(value > 0.0)) fail(name, "must be positive");
}

// A grid: at least one point, finite, positive and strictly increasing.
inline void grid(std::string_view name, std::span<const double> x) {
  if (x.empty()) fail(name, "must not be empty");
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (!std::isfinite(x[i])) fail(name, "contains a non-finite value");
    if (!(x[i] > 0.0)) fail(name, "must be positive");
    if (i > 0 && !(x[i] > x[i - 1])) fail(name, "grid is not strictly increasing");
  }
}

// Lorentz factors: a grid from at least 1 to at most kMaxLorentzFactor.
inline void lorentz_factors(std::string_view name, std::span<const double> gamma) {
  grid(name, gamma);
  if (gamma[0] < 1.0) fail(name, "must be at least 1 (a Lorentz factor)");
  if (gamma.back() > kMaxLorentzFactor) fail(name, "must be at most 1e30 (a Lorentz factor)");
}

// A photon frequency [Hz] in [kMinFrequency, kMaxFrequency] (checked after
// `positive` or as part of `points`/`grid`).
inline void frequency_range(std::string_view name, double nu) {
  if (!(nu >= kMinFrequency && nu <= kMaxFrequency))
    fail(name, "must lie between 1e-40 and 1e50 Hz (photon energies of 1e-60 to 1e30 m_e c^2)");
}

// Output frequencies are independent points (the frequencies of measured
// data, say): any order, repeats allowed, each finite and positive.
// They are photon frequencies, within the range above.
inline void points(std::string_view name, std::span<const double> x) {
  for (double v : x) {
    if (!std::isfinite(v)) fail(name, "contains a non-finite value");
    if (!(v > 0.0)) fail(name, "must be positive");
    frequency_range(name, v);
  }
}

// A grid of photon frequencies (a seed field's).
inline void frequency_grid(std::string_view name, std::span<const double> x) {
  grid(name, x);
  frequency_range(name, x.front());
  frequency_range(name, x.back());
}

// A single photon frequency (a monochromatic seed's).
inline void frequency(std::string_view name, double nu) {
  positive(name, nu);
  frequency_range(name, nu);
}

// A finite, non-negative scalar (an energy density that may be zero).
inline void non_negative(std::string_view name, double value) {
  if (!std::isfinite(value)) fail(name, "must be finite");
  if (value < 0.0) fail(name, "must not be negative");
}

// Values tabulated on a grid: the grid's length, finite and non-negative.
inline void values_on(std::string_view name, std::span<const double> v, std::string_view grid_name,
                      std::span<const double> g) {
  if (v.size() != g.size())
    fail(name, "length " + std::to_string(v.size()) + " differs from the length " +
                   std::to_string(g.size()) + " of " + std::string(grid_name));
  for (double x : v) {
    if (!std::isfinite(x)) fail(name, "contains a non-finite value");
    if (x < 0.0) fail(name, "contains a negative value");
  }
}

// After the work: a result that exceeds the largest double (inf) is refused
// naming the input that scales it, `name`, rather than returned.
void representable(std::string_view name, std::string_view result, std::span<const double> values);

}  // namespace ostrel::models::checks
