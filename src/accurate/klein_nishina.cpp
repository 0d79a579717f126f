// The Klein-Nishina loss factor F_KN: its defining integral and the table it
// is evaluated from.
#include "accurate/klein_nishina.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace ostrel::models::klein_nishina {
namespace {

// 8-point Gauss-Legendre rule on [-1, 1]: the positive roots of P_8 and their
// weights (Abramowitz & Stegun, table 25.4).
constexpr std::array<double, 4> kNode8 = {0.1834346424956498, 0.5255324099163290,
                                          0.7966664774136267, 0.9602898564975363};
constexpr std::array<double, 4> kWeight8 = {0.3626837833783620, 0.3137066458778873,
                                            0.2223810344533745, 0.1012285362903763};

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

struct Table {
  std::vector<double> y;
  Table() {
    const auto n = static_cast<std::size_t>(std::ceil((kXHigh - kXLow) / kStep)) + 3;
    y.resize(n);
    // Point j sits at x = kXLow + (j - 1) h, one point below the range so
    // that every interval has two neighbours on each side.
    for (std::size_t j = 0; j < n; ++j)
      y[j] = loss_factor_integral(std::exp(kXLow + (static_cast<double>(j) - 1.0) * kStep));
  }
};

const Table& table() {
  static const Table t;
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
  const int panels = static_cast<int>(std::ceil(-s_min));
  double sum = 0.0;
  for (int p = 0; p < panels; ++p) {
    const double mid = -0.5 - static_cast<double>(p);
    double panel = 0.0;
    for (std::size_t i = 0; i < kNode8.size(); ++i) {
      for (double sign : {-1.0, 1.0}) {
        const double s = mid + sign * 0.5 * kNode8[i];
        const double q = std::exp(s);
        const double bq = b * q;
        const double f = 2.0 * q * s + (1.0 + 2.0 * q) * (1.0 - q) + 0.5 * bq * bq * (1.0 - q) / (1.0 + bq);
        const double d = 1.0 + bq;
        panel += kWeight8[i] * q * q * f / (d * d * d);
      }
    }
    sum += 0.5 * panel;
  }
  return 9.0 * sum;
}

double loss_factor_of_log(double x) {
  if (x < kXLow) {
    const double b = std::exp(x);
    return 1.0 - kThomsonSlope * b;
  }
  if (x >= kXHigh) return 4.5 * std::exp(-2.0 * x) * (x - kElevenSixths);
  const std::vector<double>& y = table().y;
  const double u = (x - kXLow) / kStep;
  const auto i = static_cast<std::size_t>(u);  // interval [i, i+1] of the range
  const double f = u - static_cast<double>(i);
  const double* p = y.data() + i;  // p[1] is the point at the interval's left end
  const double fm1 = f - 1.0, fm2 = f - 2.0, fp1 = f + 1.0;
  return -f * fm1 * fm2 / 6.0 * p[0] + fp1 * fm1 * fm2 / 2.0 * p[1] - fp1 * f * fm2 / 2.0 * p[2] +
         fp1 * f * fm1 / 6.0 * p[3];
}

}  // namespace ostrel::models::klein_nishina
