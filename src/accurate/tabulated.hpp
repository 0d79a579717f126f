// A function tabulated once on a uniform grid and read by cubic
// interpolation: the one lookup of the accurate kernels' per-process tables
// (the synchrotron function, the pair-production integral Phi and the
// Klein-Nishina loss factor).
//
// Between the points k and k+1 the value is the Lagrange cubic through the
// points k-1 .. k+2 (at the two intervals next to either end, through the
// four end points).  For a smooth f its error is at most
// (9/16) h^4 max|f''''| / 24 = 0.023 h^4 max|f''''| on a step h; each table
// says why its step meets its tolerance.  What a function does outside its
// table (an asymptote, zero) is for its owner to say: the lookup serves
// x0 <= x <= x0 + (size - 1) h.
#pragma once

#include <cstddef>
#include <vector>

namespace ostrel::models {

class UniformTable {
 public:
  // Values y[k] of f at x0 + k step, k = 0 .. y.size() - 1 (at least 4).
  UniformTable(double x0, double step, std::vector<double> y);

  // The cubic interpolant at x, first() <= x <= last().
  double operator()(double x) const {
    const double f = (x - x0_) * per_unit_;
    // The interval [k, k+1] holding x, kept one point away from either end so
    // that the four points k-1 .. k+2 exist; s = 0 at point k.
    std::size_t k = static_cast<std::size_t>(f);
    if (k < 1) k = 1;
    if (k > k_max_) k = k_max_;
    const double s = f - static_cast<double>(k);
    const double* v = y_.data() + k;
    const double sm1 = s - 1.0, sm2 = s - 2.0, sp1 = s + 1.0;
    return (-s * sm1 * sm2 * v[-1] + 3.0 * sp1 * sm1 * sm2 * v[0] - 3.0 * sp1 * s * sm2 * v[1] +
            sp1 * s * sm1 * v[2]) /
           6.0;
  }

  double first() const { return x0_; }
  double last() const { return last_; }
  double step() const { return step_; }
  const std::vector<double>& values() const { return y_; }

 private:
  double x0_, step_, per_unit_, last_;
  std::size_t k_max_;  // size - 3
  std::vector<double> y_;
};

// The values of f at x0 + k step for k = 0 .. count - 1, for building a table
// from a pointwise function.
template <class F>
std::vector<double> sample(double x0, double step, std::size_t count, F&& f) {
  std::vector<double> y(count);
  for (std::size_t k = 0; k < count; ++k) y[k] = f(x0 + static_cast<double>(k) * step);
  return y;
}

}  // namespace ostrel::models
