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
#include "accurate/power_law.hpp"
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

// A live segment of the electron grid (power_law.hpp), with what the
// frequency loop needs.
struct Segment {
  power_law::Segment pl;
  double t_fast;     // the fixed nodes serve while ln x at gamma_i stays below this
  std::size_t node;  // first of its kNodes fixed nodes
  // Bounds of what this segment and all below it can add, per unit R at their
  // largest x: sum of width * max(n gamma) and of width * |p + 2| max(n), in
  // the scaled units of the sums.
  double bound_j, bound_abs;
};

struct Node {
  double u;      // ln gamma
  double w_j;    // weight h w n gamma
  double w_abs;  // weight h w n (p + 2)
};

// The one-piece rule is within tolerance when (|1 - p| + 2 (x + 1)) h <= kRate
// at the largest x of the segment (the rate of R is at most x + 1 in ln x).
// With n ~ gamma^-p, |1 - p| h = |h + rise|, finite however narrow the segment.
double fast_limit(const power_law::Segment& s) {
  const double x = 0.5 * (kRate - std::abs(s.width + s.rise)) / s.width - 1.0;
  return x > 0.0 ? std::log(x) : -HUGE_VAL;
}

struct Sums {
  double j = 0.0, abs = 0.0;
};

// ln of the two scales (power_law.hpp) by which the sums of n gamma and of n
// are divided.
struct Scales {
  double ln_j, ln_abs;
};

// The integral over the segment when the fixed nodes do not serve: from its
// upper end down to where x = x_upper + kTail (or its lower end), in equal
// pieces.
void slow_segment(const power_law::Segment& s, double log_nu_a, const Scales& sc, Sums& sums) {
  const double u1 = s.ln_x1();
  const double x_upper = std::exp(log_nu_a - 2.0 * u1);
  const double x_cut = x_upper + kTail + std::abs(s.width + s.rise);
  const double u_lo = std::max(s.ln_x0, 0.5 * (log_nu_a - std::log(x_cut)));
  const double x_lo = std::exp(log_nu_a - 2.0 * u_lo);
  const double span = u1 - u_lo;
  const double rate_span = std::abs(s.width + s.rise) * (span / s.width) + 2.0 * (x_lo + 1.0) * span;
  const auto pieces = static_cast<std::size_t>(std::ceil(rate_span / kSlowRate));
  const double p2 = 2.0 - s.slope();  // p + 2
  double j = 0.0, abs = 0.0;
  // Offsets from the segment's lower end keep ln n exact at both ends.
  gauss::for_each_node(kSlowRule, u_lo - s.ln_x0, s.width, pieces, [&](double du, double w) {
    const double u = s.ln_x0 + du;
    const double ln_nr = sf::log_r(log_nu_a - 2.0 * u) + s.ln_at_offset(du);  // ln(n R)
    j += w * std::exp(ln_nr + u - sc.ln_j);
    abs += w * std::exp(ln_nr - sc.ln_abs);
  });
  sums.j += j;
  sums.abs += p2 * abs;
}

}  // namespace

std::pair<Vec, Vec> synchrotron(Span nu, Span gamma, Span n, double B) {
  checks::points("nu", nu);
  checks::lorentz_factors("gamma", gamma);
  checks::values_on("n", n, "gamma", gamma);
  checks::positive("B", B);
  sf::log_r(0.0);  // builds the table before the workers need it

  const power_law::Table table(gamma, n);
  // The sums are kept in units of 2^e_j (of n gamma) and 2^e_abs (of n).
  double ln_max_ng = -HUGE_VAL;
  for (std::size_t i = 0; i < table.segments(); ++i)
    if (table[i].live)
      ln_max_ng = std::max({ln_max_ng, table[i].ln_f0 + table[i].ln_x0, table[i].ln_f1() + table[i].ln_x1()});
  const int e_j = power_law::scale_exponent(ln_max_ng), e_abs = power_law::scale_exponent(table.ln_max());
  const Scales sc{e_j * std::log(2.0), e_abs * std::log(2.0)};

  std::vector<Segment> segs;
  std::vector<Node> nodes;
  for (std::size_t i = 0; i < table.segments(); ++i) {
    const power_law::Segment& pl = table[i];
    if (!pl.live) continue;
    Segment s;
    s.pl = pl;
    s.t_fast = fast_limit(pl);
    s.node = nodes.size();
    const double ln_top_ng = std::max(pl.ln_f0 + pl.ln_x0, pl.ln_f1() + pl.ln_x1()) - sc.ln_j;
    const double ln_top_n = std::max(pl.ln_f0, pl.ln_f1()) - sc.ln_abs;
    s.bound_j = pl.width * std::exp(ln_top_ng) + (segs.empty() ? 0.0 : segs.back().bound_j);
    s.bound_abs = std::abs(2.0 * pl.width - pl.rise) * std::exp(ln_top_n) +
                  (segs.empty() ? 0.0 : segs.back().bound_abs);
    const double p2 = 2.0 - pl.slope();
    for (std::size_t q = 0; q < kNodes; ++q) {
      const double du = pl.width * kRule.node[q];
      const double ln_n = pl.ln_at_offset(du);
      const double w = pl.width * kRule.weight[q];
      nodes.push_back({pl.ln_x0 + du, w * std::exp(ln_n + pl.ln_x0 + du - sc.ln_j), w * p2 * std::exp(ln_n - sc.ln_abs)});
    }
    segs.push_back(s);
  }

  // x = nu / (a gamma^2), a = (3/2) nu_L; the prefactors of j and alpha nu^2
  // per gauss (B is a factor of the product at the end, so that no
  // intermediate leaves the range).
  const double log_a = std::log(1.5 * k::nu_b_per_gauss) + std::log(B);
  const double e3 = k::e_charge * k::e_charge * k::e_charge;
  const double c2 = k::c * k::c;
  const double coeff_j = std::sqrt(3.0) * e3 / (4.0 * k::pi * k::m_e * c2);
  const double coeff_abs = std::sqrt(3.0) * e3 / (8.0 * k::pi * k::m_e * k::m_e * c2);

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
        const double t_upper = log_nu_a - 2.0 * s.pl.ln_x1();
        if (!(t_upper <= t_end)) break;
        if (t_upper >= 0.0) {
          const double r = std::exp(sf::log_r(t_upper));
          if (r * s.bound_j <= kNegligible * sums.j && r * s.bound_abs <= kNegligible * std::abs(sums.abs))
            break;
        }
        if (log_nu_a - 2.0 * s.pl.ln_x0 <= s.t_fast) {
          const Node* nd = nodes.data() + s.node;
          for (std::size_t q = 0; q < kNodes; ++q) {
            const double r = std::exp(sf::log_r(log_nu_a - 2.0 * nd[q].u));
            sums.j += nd[q].w_j * r;
            sums.abs += nd[q].w_abs * r;
          }
        } else {
          slow_segment(s.pl, log_nu_a, sc, sums);
        }
      }
      j[f] = power_law::product({coeff_j, B, sums.j}, e_j);
      alpha[f] = power_law::product({coeff_abs, B, sums.abs, 1.0 / nu[f], 1.0 / nu[f]}, e_abs);
    }
  });
  checks::representable("n", "the emissivity or the absorption coefficient", j);
  checks::representable("n", "the emissivity or the absorption coefficient", alpha);
  return {std::move(j), std::move(alpha)};
}

// Isotropic pitch angles: <sin^2 theta> = 2/3 turns the loss at 90 degrees,
// 2 sigma_T c beta^2 gamma^2 U_B / (m c^2), into
//   -dgamma/dt = (4/3) sigma_T c beta^2 gamma^2 U_B / (m c^2),  U_B = B^2 / (8 pi),
// with beta^2 gamma^2 = (gamma - 1)(gamma + 1) (exact near gamma = 1).
Vec synchrotron_cooling(Span gamma, double B) {
  checks::lorentz_factors("gamma", gamma);
  checks::positive("B", B);
  const double coeff = power_law::product({4.0 / 3.0 * k::sigma_t * k::c / (8.0 * k::pi) / (k::m_e * k::c * k::c), B, B});
  // (gamma - 1)(gamma + 1) lies between 2e-16 and 1e60: with the coefficient
  // within 1e+-200 the plain product stays normal; else it is formed apart.
  const bool plain = coeff >= 1e-200 && coeff <= 1e200;
  Vec out(gamma.size());
  for (std::size_t i = 0; i < gamma.size(); ++i)
    out[i] = plain ? coeff * (gamma[i] - 1.0) * (gamma[i] + 1.0)
                   : power_law::product({4.0 / 3.0 * k::sigma_t * k::c / (8.0 * k::pi) / (k::m_e * k::c * k::c),
                                         B, B, gamma[i] - 1.0, gamma[i] + 1.0});
  checks::representable("B", "the loss rate", out);
  return out;
}

}  // namespace ostrel::models
