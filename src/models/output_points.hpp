// Output frequencies of the accurate kernels are independent points (the
// frequencies of measured data, say): any order, repeats allowed, each finite
// and positive.
#pragma once

#include <cmath>
#include <span>
#include <string_view>

#include "models/checks.hpp"

namespace ostrel::models::checks {

inline void points(std::string_view name, std::span<const double> x) {
  for (double v : x) {
    if (!std::isfinite(v)) fail(name, "contains a non-finite value");
    if (!(v > 0.0)) fail(name, "must be positive");
  }
}

}  // namespace ostrel::models::checks
