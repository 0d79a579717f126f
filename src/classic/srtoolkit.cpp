#include "srtoolkit.hpp"

#include <cmath>

namespace ostrel::srtoolkit {

double gofb(double beta) { return 1.0 / std::sqrt(1.0 - beta * beta); }

double bofg(double gamma) {
  // Written so that NaN is not caught: it takes the square root and stays NaN.
  if (gamma <= 1.0) return 0.0;
  return std::sqrt(1.0 - 1.0 / (gamma * gamma));
}

}  // namespace ostrel::srtoolkit
