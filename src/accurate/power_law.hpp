// Tabulated non-negative functions as power laws between neighbouring points:
// the one representation of electron distributions n(gamma) and seed fields
// u(nu) in the accurate kernels.
//
// On the segment [x_j, x_{j+1}] the function is the power law through both
// end points,
//   ln f = ln f_j + rise_j (ln x - ln x_j) / width_j,
//   width_j = ln(x_{j+1} / x_j),  rise_j = ln(f_{j+1} / f_j),
// so its slope d ln f / d ln x is rise_j / width_j (positive where f rises).
// Everything is held as logarithms: neighbouring values whose ratio leaves
// the range of a double (a cutoff's tail of 1e-320 next to 1e-2) give a
// finite rise, and a segment's values come from ln f without forming the
// ratio.  A segment with a zero end point is dead (it holds nothing); outside
// the grid f is zero.
//
// Sums of such functions can exceed a double where the values themselves do
// not (n gamma for n near 1e300): kernels divide their weights by a power of
// two near the largest value (`scale_exponent`) and multiply their results
// by it (`product`), which leaves every rounding as it was and moves the range.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <span>
#include <vector>

namespace ostrel::models::power_law {

struct Segment {
  double ln_x0;  // ln x at the lower end
  double width;  // ln(x1 / x0) > 0
  double inv_width;  // 1 / width
  double ln_f0;  // ln f at the lower end (-inf on a dead segment)
  double rise;   // ln(f1 / f0), finite on a live segment
  bool live;     // both end values positive

  double ln_x1() const { return ln_x0 + width; }
  double ln_f1() const { return ln_f0 + rise; }
  // d ln f / d ln x.
  double slope() const { return rise / width; }
  // ln f at ln x = ln_x0 + dt.  The fraction dt / width is held to [0, 1], so
  // that on a segment of a few ulps, where dt carries a rounding error larger
  // than the segment, ln f still lies between its end values.
  double ln_at_offset(double dt) const { return ln_f0 + rise * std::min(std::max(dt * inv_width, 0.0), 1.0); }
};

class Table {
 public:
  // x: increasing, positive, finite; f: the same length, finite, >= 0.
  Table(std::span<const double> x, std::span<const double> f);

  std::size_t points() const { return x_.size(); }
  std::size_t segments() const { return seg_.size(); }
  const Segment& operator[](std::size_t j) const { return seg_[j]; }
  const std::vector<double>& x() const { return x_; }
  const std::vector<double>& ln_x() const { return ln_x_; }
  // True when some segment is live.
  bool any_live() const { return any_live_; }
  // Segment whose interval holds x (the last one for the top point; the
  // first below the grid).  At least two points.
  std::size_t find(double x) const;
  // The largest ln f over the live segments (-inf when there is none).
  double ln_max() const { return ln_max_; }

 private:
  std::vector<double> x_, ln_x_;
  std::vector<Segment> seg_;
  bool any_live_ = false;
  double ln_max_;
};

// ln(b / a) for positive a and b, accurate when b is close to a and finite when b / a
// would overflow.
double log_ratio(double a, double b);

// The exponent e of the power of two by which values up to e^ln_max are
// divided before they are summed: 0 while ln_max is within +-350 (sums of
// such values stay far inside a double, and results keep their bits), else
// floor(ln_max / ln 2).
int scale_exponent(double ln_max);

// The product of the factors times 2^e, rounded as the plain product would be
// where that is in range, but without overflow or underflow on the way: the
// binary exponents are added apart from the mantissas.  Infinite when the
// product itself exceeds a double.
inline double product(std::initializer_list<double> factors, int e = 0) {
  // The plain product wherever every partial product is a normal double (the
  // usual case, and then the same bits).
  double p = 1.0;
  bool plain = true;
  for (double f : factors) {
    p *= f;
    const double a = std::fabs(p);
    plain = plain && a >= DBL_MIN && a <= DBL_MAX;
  }
  if (plain) return e == 0 ? p : std::ldexp(p, e);
  double m = 1.0;
  for (double f : factors) {
    int k = 0;
    m *= std::frexp(f, &k);
    e += k;
    m = std::frexp(m, &k);
    e += k;
  }
  return std::ldexp(m, e);
}

}  // namespace ostrel::models::power_law
