// The Klein-Nishina loss factor F_KN: its defining integral and the table it
// is evaluated from.
#include "accurate/klein_nishina.hpp"

#include <cmath>
#include <cstddef>
#include <vector>

#include "accurate/gauss_legendre.hpp"
#include "accurate/tabulated.hpp"

namespace ostrel::models::klein_nishina {
namespace {

// Table of F_KN(e^x) on a uniform grid in x = ln b, step 1/40, from b = 1e-8 to
// b = 1e12, read by four-point Lagrange interpolation.  The relative error of
// cubic interpolation is about (3/128) h^4 |f''''/f|; the steepest relative
// derivatives of F_KN in x are those of e^{-2x} in the deep Klein-Nishina
// regime (2^4 = 16), which gives 1.5e-7 for h = 1/40.  Below b = 1e-8 the
// first-order expansion 1 - (63/40) b is exact to 3e-16 (the next coefficient
// is 2.2); above b = 1e12 the logarithmic asymptote is exact to 1e-10.
constexpr double kXLow = -18.420680743952367;   // ln 1e-8
constexpr double kXHigh = 27.631021115928547;   // ln 1e12
constexpr double kStep = 1.0 / 40.0;
constexpr double kThomsonSlope = 63.0 / 40.0;
constexpr double kElevenSixths = 11.0 / 6.0;

// Point j at x = kXLow + (j - 1) h, one point below the range so that every
// interval has two neighbours on each side.
const UniformTable& table() {
  // Built once and never destroyed: a daemon thread may still be inside a
  // kernel while the interpreter exits and static objects are torn down.
  static const UniformTable& t = *new UniformTable([] {
    const auto n = static_cast<std::size_t>(std::ceil((kXHigh - kXLow) / kStep)) + 3;
    return UniformTable(kXLow - kStep, kStep,
                        sample(kXLow - kStep, kStep, n, [](double x) { return loss_factor_integral(std::exp(x)); }));
  }());
  return t;
}

}  // namespace

double loss_factor_integral(double b) {
  // In s = ln q the integrand 9 q^2 F(q, b) / (1 + b q)^3 is analytic, falls
  // as e^{2s} below q ~ min(1, 1/b) and varies on a scale of order one in s,
  // so unit panels of an 8-point rule are exact to rounding.  The panels stop
  // 20 units below min(0, -ln b), where the neglected part is e^{-40} of the
  // integral.
  const double s_min = -(20.0 + std::fmax(0.0, std::log(b)));
  const auto panels = static_cast<std::size_t>(std::ceil(-s_min));
  double sum = 0.0;
  gauss::for_each_node(gauss::rule8, -static_cast<double>(panels), 0.0, panels, [&](double s, double w) {
    const double q = std::exp(s);
    const double bq = b * q;
    const double f = 2.0 * q * s + (1.0 + 2.0 * q) * (1.0 - q) + 0.5 * bq * bq * (1.0 - q) / (1.0 + bq);
    const double d = 1.0 + bq;
    sum += w * q * q * f / (d * d * d);
  });
  return 9.0 * sum;
}

double loss_factor_of_log(double x) {
  if (x < kXLow) {
    const double b = std::exp(x);
    return 1.0 - kThomsonSlope * b;
  }
  if (x >= kXHigh) return 4.5 * std::exp(-2.0 * x) * (x - kElevenSixths);
  return table()(x);
}

}  // namespace ostrel::models::klein_nishina
