// The pitch-angle-averaged synchrotron function R(x) and its table (see
// synchrotron_function.hpp).
#include "accurate/synchrotron_function.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

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

struct Table {
  double t_max;
  std::vector<double> log_r;  // at kTMin + k / kStepsPerUnit
};

Table build() {
  Table table;
  table.t_max = std::log(kXMax);
  const auto count = static_cast<std::size_t>(std::ceil((table.t_max - kTMin) * kStepsPerUnit)) + 3;
  table.log_r.resize(count);
  for (std::size_t k = 0; k < count; ++k)
    table.log_r[k] = std::log(exact(std::exp(kTMin + static_cast<double>(k) / kStepsPerUnit)));
  return table;
}

const Table& table() {
  static const Table instance = build();
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
  const Table& tab = table();
  if (!(t <= tab.t_max)) return -std::numeric_limits<double>::infinity();
  if (t < kTMin) return tab.log_r[0] + (t - kTMin) / 3.0;
  const double f = (t - kTMin) * kStepsPerUnit;
  std::size_t k = static_cast<std::size_t>(f);
  if (k < 1) k = 1;
  if (k > tab.log_r.size() - 3) k = tab.log_r.size() - 3;
  const double s = f - static_cast<double>(k);
  // Lagrange cubic through the points k-1, k, k+1, k+2 (s = 0 at k).
  const double* v = tab.log_r.data() + k;
  const double sm1 = s - 1.0, sm2 = s - 2.0, sp1 = s + 1.0;
  return (-s * sm1 * sm2 * v[-1] + 3.0 * sp1 * sm1 * sm2 * v[0] - 3.0 * sp1 * s * sm2 * v[1] +
          sp1 * s * sm1 * v[2]) /
         6.0;
}

double tabulated(double x) { return std::exp(log_r(std::log(x))); }

}  // namespace ostrel::models::synchrotron_function
