// Gauss-Legendre rules on the unit interval [0, 1], the one set of rules of
// the accurate kernels and their tables.
//
// An n-point rule integrates polynomials of degree 2n - 1 exactly; on an
// interval of width h its error for f(u) = exp(k u) is close to
//   (k h)^(2n) (n!)^4 / ((2n + 1) ((2n)!)^3)
// relative to the integral, which is what the kernels use to choose how many
// sub-intervals a piece of an integral needs.  Nodes are 1/2 -+ x_i and the
// weights w_i sum to 1/2 over the positive half; the values are the roots of
// P_n and their weights 2 / ((1 - z^2) P_n'(z)^2), halved, to double
// precision.
#pragma once

#include <array>
#include <cstddef>

namespace ostrel::models::gauss {

template <std::size_t N>
struct Rule {
  std::array<double, N> node;    // in (0, 1), increasing
  std::array<double, N> weight;  // summing to 1
};

namespace detail {
template <std::size_t H>
constexpr Rule<2 * H> symmetric(const std::array<double, H>& half_offset,
                                const std::array<double, H>& half_weight) {
  Rule<2 * H> r{};
  for (std::size_t i = 0; i < H; ++i) {
    r.node[H - 1 - i] = 0.5 - half_offset[i];
    r.node[H + i] = 0.5 + half_offset[i];
    r.weight[H - 1 - i] = half_weight[i];
    r.weight[H + i] = half_weight[i];
  }
  return r;
}
}  // namespace detail

// The 3-point rule: 1/2 -+ sqrt(3/5)/2 with weight 5/18, and 1/2 with 8/18.
inline constexpr Rule<3> rule3 = {{0.1127016653792583, 0.5, 0.8872983346207417},
                                  {5.0 / 18.0, 8.0 / 18.0, 5.0 / 18.0}};

inline constexpr Rule<4> rule4 = detail::symmetric<2>({0.16999052179242813, 0.4305681557970263},
                                                      {0.3260725774312732, 0.17392742256872679});

inline constexpr Rule<6> rule6 = detail::symmetric<3>(
    {0.11930959304159845, 0.33060469323313224, 0.46623475710157597},
    {0.23395696728634552, 0.18038078652406936, 0.08566224618958514});

inline constexpr Rule<8> rule8 = detail::symmetric<4>(
    {0.09171732124782489, 0.2627662049581645, 0.39833323870681336, 0.4801449282487681},
    {0.18134189168918083, 0.15685332293894344, 0.11119051722668721, 0.05061426814518853});

// Calls f(x, weight) at the nodes of `rule` on `pieces` equal parts of
// [a, b]; the weights include the width of a part, so the sum of weight times
// integrand is the integral.  Nodes are placed from the left end of their
// part, a + h (m + node), so that a part's offsets are exact multiples of h.
template <std::size_t N, class F>
void for_each_node(const Rule<N>& rule, double a, double b, std::size_t pieces, F&& f) {
  const double h = (b - a) / static_cast<double>(pieces);
  for (std::size_t m = 0; m < pieces; ++m)
    for (std::size_t q = 0; q < N; ++q) f(a + h * (static_cast<double>(m) + rule.node[q]), h * rule.weight[q]);
}

}  // namespace ostrel::models::gauss
