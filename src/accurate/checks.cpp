// Input checks of the accurate kernels (see checks.hpp).
#include "accurate/checks.hpp"

#include <string>

namespace ostrel::models::checks {

void fail(std::string_view name, std::string_view problem) {
  throw std::invalid_argument(std::string(name) + ": " + std::string(problem));
}

}  // namespace ostrel::models::checks
