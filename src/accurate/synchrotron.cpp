// Synchrotron emission, absorption and energy loss of isotropic electrons.
//
// Emissivity per steradian and absorption coefficient of a distribution n(gamma)
// [cm^-3 per unit gamma] (Rybicki & Lightman 1979, eqs. 6.36 and 6.52, with the
// pitch-angle-averaged power <P> of synchrotron_function.hpp):
//   j(nu)     = 1/(4 pi) int n <P>(nu, gamma) dgamma,
//   alpha(nu) = -1/(8 pi m nu^2) int <P>(nu, gamma) gamma^2 d/dgamma(n/gamma^2) dgamma.
// On the segment [gamma_i, gamma_{i+1}] the distribution is the power law
// n = n_i (gamma/gamma_i)^-p, so gamma^2 d/dgamma(n/gamma^2) = -(p + 2) n/gamma,
// and in u = ln gamma
//   j     = sqrt(3) e^3 B / (4 pi m c^2)       sum_i       int n gamma R(x) du,
//   alpha = sqrt(3) e^3 B / (8 pi m^2 c^2 nu^2) sum_i (p_i+2) int n R(x) du,
// with x = nu / (a gamma^2), a = (3/2) nu_L.  The derivative is the one inside
// the grid: the steps of n to zero at its ends are not counted (they would add
// a thin-edge term of either sign that a real distribution does not have).  A
// segment with a zero endpoint holds no electrons; one grid point holds none.
//
// Deep tail.  R decreases for x > 0.3, so once the upper end of a segment has
// x >= 1, that segment and all below it add at most R(x_upper) times the sum of
// their widths times their largest n gamma (or |p + 2| n); when that is below
// kNegligible of the sum so far the remaining segments are skipped.
//
// Quadrature.  In u the integrand is n gamma (a pure exponential in u, rate
// 1 - p) times R(x(u)), ln x = ln(nu/a) - 2u, whose logarithmic rate
// d lnR / d ln x lies between 1/3 (small x) and about -x (large x).  An
// n-point Gauss-Legendre rule on a width h errs on exp(k u) by about
// (k h)^(2n) (n!)^4 / ((2n+1) ((2n)!)^3): 8.5e-7 for 4 points at k h = 2.5,
// 3e-7 for 8 points at k h = 9.  Fine electron grids meet the first in one
// piece per segment wherever R matters, so those nodes (and n, gamma at them)
// are fixed per segment and each (frequency, node) costs one table look-up
// and one exp.  Wider or deep-tail segments are cut where R has fallen by
// e^-45 below its value at the segment's upper end and split into as many
// equal pieces as the rate needs for the 8-point rule.  Against adaptive
// quadrature the result is within 1e-7 even for distributions that jump by
// decades between grid points (indices up to +-20).
//
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "constants.hpp"
#include "accurate/checks.hpp"
#include "accurate/gauss_legendre.hpp"
#include "accurate/kernels.hpp"
#include "accurate/synchrotron_function.hpp"
#include "pool.hpp"

namespace ostrel::models {
namespace {

namespace k = ostrel::constants;
namespace sf = synchrotron_function;

constexpr auto& kRule = gauss::rule4;
constexpr std::size_t kNodes = kRule.node.size();
constexpr double kRate = 2.5;
constexpr auto& kSlowRule = gauss::rule8;
constexpr double kSlowRate = 9.0;
// Past x_upper + kTail (plus the rise of n gamma over the segment) the integrand
// is below e^-45 = 3e-20 of its value at the segment's upper end.
constexpr double kTail = 45.0;
constexpr double kNegligible = 1e-10;

// Segment of the electron grid with both endpoints non-zero.
struct Segment {
  double u0;         // ln gamma_i
  double width;      // ln(gamma_{i+1} / gamma_i)
  double ln_n0;      // ln n_i
  double p;          // power-law index, n ~ gamma^-p
  double t_fast;     // the fixed nodes serve while ln x at gamma_i stays below this
  std::size_t node;  // first of its kNodes fixed nodes
  // Bounds of what this segment and all below it can add, per unit R at their
  // largest x: sum of width * max(n gamma) and of width * |p + 2| max(n).
  double bound_j, bound_abs;
};

struct Node {
  double u;      // ln gamma
  double w_j;    // weight h w n gamma
  double w_abs;  // weight h w n (p + 2)
};

// The one-piece rule is within tolerance when (|1 - p| + 2 (x + 1)) h <= kRate
// at the largest x of the segment (the rate of R is at most x + 1 in ln x).
double fast_limit(double p, double width) {
  const double x = 0.5 * (kRate / width - std::abs(1.0 - p)) - 1.0;
  return x > 0.0 ? std::log(x) : -HUGE_VAL;
}

struct Sums {
  double j = 0.0, abs = 0.0;
};

// The integral over the segment when the fixed nodes do not serve: from its
// upper end down to where x = x_upper + kTail (or its lower end), in equal
// pieces.
void slow_segment(const Segment& s, double log_nu_a, Sums& sums) {
  const double u1 = s.u0 + s.width;
  const double x_upper = std::exp(log_nu_a - 2.0 * u1);
  const double x_cut = x_upper + kTail + std::abs(1.0 - s.p) * s.width;
  const double u_lo = std::max(s.u0, 0.5 * (log_nu_a - std::log(x_cut)));
  const double x_lo = std::exp(log_nu_a - 2.0 * u_lo);
  const double span = u1 - u_lo;
  const double rate = std::abs(1.0 - s.p) + 2.0 * (x_lo + 1.0);
  const auto pieces = static_cast<std::size_t>(std::ceil(rate * span / kSlowRate));
  const double h = span / static_cast<double>(pieces);
  double j = 0.0, abs = 0.0;
  for (std::size_t m = 0; m < pieces; ++m) {
    for (std::size_t q = 0; q < kSlowRule.node.size(); ++q) {
      const double u = u_lo + h * (static_cast<double>(m) + kSlowRule.node[q]);
      const double lr = sf::log_r(log_nu_a - 2.0 * u);
      const double nr = std::exp(lr + s.ln_n0 - s.p * (u - s.u0));  // n R
      j += kSlowRule.weight[q] * nr * std::exp(u);
      abs += kSlowRule.weight[q] * nr;
    }
  }
  sums.j += h * j;
  sums.abs += h * (s.p + 2.0) * abs;
}

}  // namespace

std::pair<Vec, Vec> synchrotron(Span nu, Span gamma, Span n, double B) {
  checks::points("nu", nu);
  checks::lorentz_factors("gamma", gamma);
  checks::values_on("n", n, "gamma", gamma);
  checks::positive("B", B);
  sf::log_r(0.0);  // builds the table before the workers need it

  std::vector<Segment> segs;
  std::vector<Node> nodes;
  for (std::size_t i = 0; i + 1 < gamma.size(); ++i) {
    if (!(n[i] > 0.0) || !(n[i + 1] > 0.0)) continue;
    Segment s;
    s.u0 = std::log(gamma[i]);
    s.width = std::log(gamma[i + 1] / gamma[i]);
    s.ln_n0 = std::log(n[i]);
    s.p = -std::log(n[i + 1] / n[i]) / s.width;
    s.t_fast = fast_limit(s.p, s.width);
    s.node = nodes.size();
    const double width_n = s.width * std::max(n[i], n[i + 1]);
    s.bound_j = s.width * std::max(n[i] * gamma[i], n[i + 1] * gamma[i + 1]) +
                (segs.empty() ? 0.0 : segs.back().bound_j);
    s.bound_abs = std::abs(s.p + 2.0) * width_n + (segs.empty() ? 0.0 : segs.back().bound_abs);
    for (std::size_t q = 0; q < kNodes; ++q) {
      const double du = s.width * kRule.node[q];
      const double wn = s.width * kRule.weight[q] * std::exp(s.ln_n0 - s.p * du);
      nodes.push_back({s.u0 + du, wn * std::exp(s.u0 + du), wn * (s.p + 2.0)});
    }
    segs.push_back(s);
  }

  // x = nu / (a gamma^2), a = (3/2) nu_L; the prefactors of j and alpha nu^2.
  const double log_a = std::log(1.5 * k::nu_b_per_gauss * B);
  const double e3 = k::e_charge * k::e_charge * k::e_charge;
  const double c2 = k::c * k::c;
  const double coeff_j = std::sqrt(3.0) * e3 * B / (4.0 * k::pi * k::m_e * c2);
  const double coeff_abs = std::sqrt(3.0) * e3 * B / (8.0 * k::pi * k::m_e * k::m_e * c2);

  const double t_end = std::log(700.0);  // where the table of R ends, R = 0 beyond
  Vec j(nu.size()), alpha(nu.size());
  pool::parallel_for(nu.size(), [&](std::size_t begin, std::size_t end) {
    for (std::size_t f = begin; f < end; ++f) {
      const double log_nu_a = std::log(nu[f]) - log_a;
      Sums sums;
      // From the top of the grid down: x grows as gamma falls, and once the
      // upper end of a segment is past the table every lower one is too.
      for (std::size_t i = segs.size(); i-- > 0;) {
        const Segment& s = segs[i];
        const double t_upper = log_nu_a - 2.0 * (s.u0 + s.width);
        if (!(t_upper <= t_end)) break;
        if (t_upper >= 0.0) {
          const double r = std::exp(sf::log_r(t_upper));
          if (r * s.bound_j <= kNegligible * sums.j && r * s.bound_abs <= kNegligible * std::abs(sums.abs))
            break;
        }
        if (log_nu_a - 2.0 * s.u0 <= s.t_fast) {
          const Node* nd = nodes.data() + s.node;
          for (std::size_t q = 0; q < kNodes; ++q) {
            const double r = std::exp(sf::log_r(log_nu_a - 2.0 * nd[q].u));
            sums.j += nd[q].w_j * r;
            sums.abs += nd[q].w_abs * r;
          }
        } else {
          slow_segment(s, log_nu_a, sums);
        }
      }
      j[f] = coeff_j * sums.j;
      alpha[f] = coeff_abs * sums.abs / (nu[f] * nu[f]);
    }
  });
  return {std::move(j), std::move(alpha)};
}

// Isotropic pitch angles: <sin^2 theta> = 2/3 turns the loss at 90 degrees,
// 2 sigma_T c beta^2 gamma^2 U_B / (m c^2), into
//   -dgamma/dt = (4/3) sigma_T c beta^2 gamma^2 U_B / (m c^2),  U_B = B^2 / (8 pi),
// with beta^2 gamma^2 = (gamma - 1)(gamma + 1) (exact near gamma = 1).
Vec synchrotron_cooling(Span gamma, double B) {
  checks::lorentz_factors("gamma", gamma);
  checks::positive("B", B);
  const double coeff = 4.0 / 3.0 * k::sigma_t * k::c * (B * B / (8.0 * k::pi)) / (k::m_e * k::c * k::c);
  Vec out(gamma.size());
  for (std::size_t i = 0; i < gamma.size(); ++i) out[i] = coeff * (gamma[i] - 1.0) * (gamma[i] + 1.0);
  return out;
}

}  // namespace ostrel::models
