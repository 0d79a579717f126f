// The pitch-angle-averaged synchrotron function R(x) and its table (see
// synchrotron_function.hpp).
#include "accurate/synchrotron_function.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "accurate/tabulated.hpp"

namespace ostrel::models::synchrotron_function {
namespace {

// Table range and step in t = ln x.  The error of cubic interpolation of
// ln R is at most (9/16) h^4 / 24 max|d^4 lnR/dt^4|; for large x, ln R is
// close to -e^t, whose fourth derivative is -x, so at x = 700 a step of
// h = 1/128 leaves 0.023 h^4 * 700 = 4e-8; for small x, ln R is t/3 plus
// terms in x^(2/3) and the bound is smaller still.
constexpr double kTMin = -30.0;
constexpr double kXMax = 700.0;  // R(700) = 1.6e-304, still a normal double
constexpr double kStepsPerUnit = 128.0;

const double kTMax = std::log(kXMax);

const UniformTable& table() {
  // Built once and never destroyed: a daemon thread may still be inside a
  // kernel while the interpreter exits and static objects are torn down.
  static const UniformTable& instance = *new UniformTable([] {
    const auto count = static_cast<std::size_t>(std::ceil((kTMax - kTMin) * kStepsPerUnit)) + 3;
    return UniformTable(kTMin, 1.0 / kStepsPerUnit, sample(kTMin, 1.0 / kStepsPerUnit, count, [](double t) {
                          return std::log(exact(std::exp(t)));
                        }));
  }());
  return instance;
}

}  // namespace

double exact(double x) {
  const long double y = 0.5L * static_cast<long double>(x);
  const long double k43 = std::cyl_bessel_k(4.0L / 3.0L, y);
  const long double k13 = std::cyl_bessel_k(1.0L / 3.0L, y);
  const long double xl = x;
  // (K43 - K13)(K43 + K13) rather than K43^2 - K13^2: the same cancellation,
  // one rounding fewer.
  return static_cast<double>(0.5L * xl * xl * k43 * k13 -
                             0.15L * xl * xl * xl * (k43 - k13) * (k43 + k13));
}

double log_r(double t) {
  const UniformTable& tab = table();
  if (!(t <= kTMax)) return -std::numeric_limits<double>::infinity();
  if (t < kTMin) return tab.values()[0] + (t - kTMin) / 3.0;
  return tab(t);
}

double tabulated(double x) { return std::exp(log_r(std::log(x))); }

}  // namespace ostrel::models::synchrotron_function
