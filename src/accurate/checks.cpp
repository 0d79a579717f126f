// Input checks of the accurate kernels (see checks.hpp).
#include "accurate/checks.hpp"

#include <cmath>
#include <string>

namespace ostrel::models::checks {

void fail(std::string_view name, std::string_view problem) {
  throw std::invalid_argument(std::string(name) + ": " + std::string(problem));
}

void representable(std::string_view name, std::string_view result, std::span<const double> values) {
  for (double v : values)
    if (!std::isfinite(v))
      fail(name, "so large that " + std::string(result) + " exceeds the largest double (1.8e308)");
}

}  // namespace ostrel::models::checks
