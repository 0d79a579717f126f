// Entry points that only the tests and the benchmarks use, to look inside a
// kernel.  Not installed: they are not part of the interface.
#pragma once

#include <span>
#include <vector>

namespace ostrel::bessel {

// bessel::gamma_product with the number of factors it took.
struct GammaProduct {
  double value;
  double factors;
};
GammaProduct gamma_product_with_count(double x1);

}  // namespace ostrel::bessel

namespace ostrel::distribs::detail {

// eq_59_park1995 with the Bessel function evaluated by i_nu itself, which
// recomputes its Gamma product for every element: the same bits, about
// 10^5 times slower.
std::vector<double> eq_59_park1995_uncached(double t, std::span<const double> g);

}  // namespace ostrel::distribs::detail
