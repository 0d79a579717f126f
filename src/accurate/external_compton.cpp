// Compton scattering of an anisotropic external photon field by the
// electrons of a blob, in the frame of the black hole (Dermer & Menon 2009,
// ch. 6; Dermer et al. 2009, ApJ 692, 32; Finke 2016, ApJ 830, 94).
//
// Electrons isotropic in the blob frame are, in the black-hole frame, beamed:
// those moving along the line of sight have gamma = delta_D gamma' and number
// delta_D^2 N'(gamma/delta_D) / (4 pi Gamma) per unit gamma and solid angle.
// With gamma >> 1 the scattered photon keeps the electron's direction, so the
// emission towards the observer comes from these electrons alone, whatever
// the field's angular distribution.  In the head-on approximation of the
// Klein-Nishina cross section (Dermer & Menon 2009, eq. 6.32), an electron of
// Lorentz factor gamma meeting photons of energy eps at angle psi to its
// direction scatters them into energies eps_s (all in m_e c^2) at the rate
//
//   dN/(dt deps_s) = (pi r_e^2 c / gamma^2) int dOmega deps u(eps, Omega) / (m_e c^2 eps^2) Xi,
//   Xi = y + 1/y - 2 a/w + (a/w)^2,   y = 1 - eps_s/gamma,   a = eps_s / (gamma^2 y),
//
// where w = eps (1 - cos psi) is the only way the photon's energy and
// direction enter, and the kinematics allow eps_s <= 2 gamma^2 w / (1 + 2 gamma w),
// that is w >= w_min(gamma) = eps_s / (2 gamma (gamma - eps_s)), and
// eps_s >= w / 2.  The field therefore enters through three moments of its
// distribution in w, M_m = sum_k A_k w_k^-m (m = 0, 1, 2) over the beams with
// w_min <= w_k <= 2 eps_s, A_k = U_k / eps_k^2, and Xi summed over beams is
// (y + 1/y) M_0 - 2 a M_1 + a^2 M_2.  The emissivity per steradian is
//
//   j(nu) = (h nu / 4 pi) (h / m_e c^2) int dgamma N(gamma) dN/(dt deps_s)
//         = (3 sigma_T h eps_s / (32 pi m_e c)) int dgamma N(gamma) gamma^-2 sum_k A_k Xi_k,
//
// the same normalisation as the isotropic kernels (for an isotropic field it
// reproduces them to the accuracy of the head-on approximation).
//
// The gamma integral runs in s = ln(gamma - eps_s) (the kernel's natural
// scale near the top of the spectrum) by Gauss-Legendre rules on pieces
// between the electron grid points.  Beams from a quadrature over a
// continuous field are spread over their cells in ln w, so that the moments
// are continuous in gamma; exact beams (a point source) add their thresholds
// as breakpoints.
#include "accurate/external_compton.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <vector>

#include "accurate/checks.hpp"
#include "accurate/gauss_legendre.hpp"
#include "constants.hpp"
#include "pool.hpp"

namespace ostrel::models {
namespace {

namespace k = ostrel::constants;
constexpr double kEpsPerHz = k::h / (k::m_e * k::c * k::c);
constexpr double kCoeff = 3.0 * k::sigma_t * k::h / (32.0 * k::pi * k::m_e * k::c);

// The electron distribution, a power law between neighbouring grid points.
struct Electrons {
  std::vector<double> x, lnx, f, slope;
  std::vector<char> live;
  Electrons(Span g, Span n) : x(g.begin(), g.end()), lnx(g.size()), f(n.begin(), n.end()) {
    for (std::size_t j = 0; j < x.size(); ++j) lnx[j] = std::log(x[j]);
    slope.assign(x.size() - 1, 0.0);
    live.assign(x.size() - 1, 0);
    for (std::size_t j = 0; j + 1 < x.size(); ++j)
      if (f[j] > 0.0 && f[j + 1] > 0.0) {
        slope[j] = std::log(f[j + 1] / f[j]) / (lnx[j + 1] - lnx[j]);
        live[j] = std::isfinite(slope[j]);
      }
  }
  std::size_t segments() const { return slope.size(); }
  double over_g2(std::size_t i, double g) const {
    const double lg = std::log(g);
    return f[i] * std::exp(slope[i] * (lg - lnx[i]) - 2.0 * lg);
  }
};

// The beams sorted by w, each on a cell [lo, hi] of ln w (a point for exact
// beams), with suffix sums of A w^-m over whole cells.
class Beams {
 public:
  Beams(Span w_nu, Span w_a, bool smooth) {
    std::vector<std::size_t> order(w_nu.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return w_nu[a] < w_nu[b]; });
    for (std::size_t i : order) {
      if (!(w_a[i] > 0.0)) continue;
      const double w = w_nu[i] * kEpsPerHz;
      if (!w_.empty() && w <= w_.back() * (1.0 + 1e-12)) {  // one beam of the two
        a_.back() += w_a[i];
        continue;
      }
      w_.push_back(w);
      a_.push_back(w_a[i]);
    }
    const std::size_t K = w_.size();
    lo_.assign(K, 0.0);
    hi_.assign(K, 0.0);
    for (std::size_t j = 0; j < K; ++j) {
      if (smooth && K > 1) {
        const double below = j > 0 ? w_[j - 1] : w_[0] * w_[0] / w_[1];
        const double above = j + 1 < K ? w_[j + 1] : w_[K - 1] * w_[K - 1] / w_[K - 2];
        lo_[j] = std::sqrt(below * w_[j]);
        hi_[j] = std::sqrt(w_[j] * above);
      } else {
        lo_[j] = hi_[j] = w_[j];
      }
    }
    ln_lo_.resize(K);
    ln_hi_.resize(K);
    for (std::size_t j = 0; j < K; ++j) {
      ln_lo_[j] = std::log(lo_[j]);
      ln_hi_[j] = std::log(hi_[j]);
    }
    for (auto& s : suffix_) s.assign(K + 1, 0.0);
    for (std::size_t j = K; j-- > 0;)
      for (int m = 0; m < 3; ++m) suffix_[m][j] = suffix_[m][j + 1] + a_[j] * std::pow(w_[j], -m);
  }

  bool empty() const { return w_.empty(); }
  double top() const { return hi_.back(); }
  const std::vector<double>& w() const { return w_; }

  // Index of the last cell starting at or below whi (one past it), and of the
  // first cell reaching wlo at or below a hint: as gamma grows along the
  // integral, w_min falls and the index only moves down.
  std::size_t end_at(double whi) const {
    return static_cast<std::size_t>(std::upper_bound(lo_.begin(), lo_.end(), whi) - lo_.begin());
  }
  std::size_t first_from(double wlo, std::size_t hint) const {
    std::size_t j = std::min(hint, hi_.size());
    while (j > 0 && hi_[j - 1] >= wlo) --j;
    return j;
  }

  // Moments over [wlo, whi] (ln_wlo, ln_whi their logarithms), with
  // ja = first_from(wlo, .) and jb1 = end_at(whi).
  std::array<double, 3> moments(double wlo, double whi, double ln_wlo, double ln_whi, std::size_t ja,
                                std::size_t jb1) const {
    std::array<double, 3> m{0.0, 0.0, 0.0};
    if (ja >= jb1) return m;
    const auto fraction = [&](std::size_t j) {
      if (hi_[j] == lo_[j]) return (w_[j] >= wlo && w_[j] <= whi) ? 1.0 : 0.0;
      const double a = std::fmax(ln_lo_[j], ln_wlo), b = std::fmin(ln_hi_[j], ln_whi);
      return b > a ? (b - a) / (ln_hi_[j] - ln_lo_[j]) : 0.0;
    };
    const double fa = fraction(ja);
    if (ja + 1 == jb1) {
      for (int q = 0; q < 3; ++q) m[q] = fa * (suffix_[q][ja] - suffix_[q][ja + 1]);
      return m;
    }
    const std::size_t jb = jb1 - 1;
    const double fb = fraction(jb);
    for (int q = 0; q < 3; ++q)
      m[q] = fa * (suffix_[q][ja] - suffix_[q][ja + 1]) + (suffix_[q][ja + 1] - suffix_[q][jb]) +
             fb * (suffix_[q][jb] - suffix_[q][jb + 1]);
    return m;
  }

 private:
  std::vector<double> w_, a_, lo_, hi_, ln_lo_, ln_hi_;
  std::array<std::vector<double>, 3> suffix_;
};

// gamma_low(w) - eps_s = (1/w) / (1 + sqrt(1 + 2/(w eps_s))): the least
// excess over eps_s of an electron that can scatter w up to eps_s.
double excess_low(double w, double eps_s) { return (1.0 / w) / (1.0 + std::sqrt(1.0 + 2.0 / (w * eps_s))); }

}  // namespace

Vec external_compton(Span nu, Span gamma, Span n, Span w_nu, Span w_a, bool smooth) {
  checks::points("nu", nu);
  checks::lorentz_factors("gamma", gamma);
  checks::values_on("n", n, "gamma", gamma);
  checks::points("w_nu", w_nu);
  checks::values_on("w_a", w_a, "w_nu", w_nu);

  if (gamma.size() < 2 || w_nu.empty()) return Vec(nu.size(), 0.0);
  const Electrons e(gamma, n);
  const Beams b(w_nu, w_a, smooth);
  if (b.empty()) return Vec(nu.size(), 0.0);
  const double g_first = gamma.front(), g_last = gamma.back();
  const auto& rule = gauss::rule4;

  // Segments no wider than 0.3 that lie far below the top of the spectrum,
  // gamma >= 2 eps_s, are integrated in ln gamma instead of s on four nodes
  // shared by all outputs, with the weight n(gamma)/gamma computed once: the
  // same integral, in a variable that differs from s by less than ln 2
  // there.  Four points, not fewer: the moments have a kink wherever w_min
  // crosses the edge of a beam's cell, several times across a segment.
  const std::size_t nseg = e.segments();
  std::vector<double> node_g(4 * nseg, 0.0), node_w(4 * nseg, 0.0);
  std::vector<char> shared(nseg, 0);
  for (std::size_t i = 0; i < nseg; ++i) {
    const double width = e.lnx[i + 1] - e.lnx[i];
    if (!e.live[i] || width > 0.3) continue;
    shared[i] = 1;
    for (std::size_t q = 0; q < 4; ++q) {
      const double g = std::exp(e.lnx[i] + width * rule.node[q]);
      node_g[4 * i + q] = g;
      node_w[4 * i + q] = width * rule.weight[q] * g * e.over_g2(i, g);
    }
  }

  return pool::parallel_map<double>(nu.size(), [&](std::size_t o) {
    const double eps_s = nu[o] * kEpsPerHz;
    const double w_hi = std::fmin(2.0 * eps_s, b.top());
    if (!(w_hi > 0.0)) return 0.0;
    const double lo = std::fmax(excess_low(w_hi, eps_s), g_first - eps_s);
    const double hi = g_last - eps_s;
    if (!(lo < hi)) return 0.0;

    std::vector<double> cuts{lo, hi};
    const auto add = [&](double d) {
      if (lo < d && d < hi) cuts.push_back(d);
    };
    for (double g : e.x) add(g - eps_s);
    if (!smooth && b.w().size() <= 64)
      for (double w : b.w()) add(excess_low(w, eps_s));
    std::sort(cuts.begin(), cuts.end());

    double sum = 0.0;
    std::size_t seg = 0;
    const std::size_t jb1 = b.end_at(w_hi);
    std::size_t ja = jb1;
    // Xi summed over the beams for an electron of gamma = eps_s + d.
    const double ln_w_hi = std::log(w_hi);
    const auto xi_sum = [&](double g, double d) {
      const double a = eps_s / (g * d), y = d / g, w_min = eps_s / (2.0 * g * d);
      ja = b.first_from(w_min, ja);
      const auto m = b.moments(w_min, w_hi, std::log(w_min), ln_w_hi, ja, jb1);
      return std::fmax((y + 1.0 / y) * m[0] - 2.0 * a * m[1] + a * a * m[2], 0.0);
    };
    const auto integrand = [&](double d) {
      const double g = eps_s + d;
      return d * e.over_g2(seg, g) * xi_sum(g, d);
    };
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
      const double d0 = cuts[c], d1 = cuts[c + 1];
      if (!(d0 < d1)) continue;
      const double gmid = eps_s + std::sqrt(d0 * d1);
      while (seg + 1 < e.segments() && e.x[seg + 1] <= gmid) ++seg;
      if (!e.live[seg]) continue;
      if (shared[seg] && e.x[seg] >= 2.0 * eps_s && d0 == e.x[seg] - eps_s && d1 == e.x[seg + 1] - eps_s) {
        for (std::size_t q = 4 * seg; q < 4 * seg + 4; ++q)
          sum += node_w[q] * xi_sum(node_g[q], node_g[q] - eps_s);
        continue;
      }
      const double s0 = std::log(d0), width = std::log(d1 / d0);
      // Pieces over which the integrand's logarithm changes by at most ~2.
      const double slope = std::fabs(e.slope[seg] - 2.0) + 3.0;
      const int pieces = std::max(1, static_cast<int>(std::ceil(std::fmax(width / 0.5, slope * width / 2.0))));
      const double h = width / pieces;
      for (int p = 0; p < pieces; ++p)
        for (std::size_t q = 0; q < rule.node.size(); ++q)
          sum += h * rule.weight[q] * integrand(std::exp(s0 + h * (p + rule.node[q])));
    }
    return kCoeff * eps_s * sum;
  });
}

}  // namespace ostrel::models
