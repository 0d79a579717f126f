// Inverse-Compton emissivity of isotropic electrons in an isotropic photon
// field, with the exact isotropic Klein-Nishina kernel (see
// klein_nishina.hpp).  With energies in units of m_e c^2 (eps for seed
// photons, eps_1 = h nu / m_e c^2 for scattered ones) and u the seed's
// spectral energy density per hertz,
//
//   j(nu) = (3 sigma_T c / 16 pi) eps_1 int dgamma n(gamma) gamma^-2 R(gamma),
//   R(gamma) = int deps u(eps) eps^-2 F(q, g),
//
// over the kinematically allowed region 1/(4 gamma^2) <= q <= 1, q = k / eps,
// k = g / (4 gamma), g = eps_1 / (gamma - eps_1).  In eps this region is
// k <= eps <= gamma g, which requires gamma > gamma_min(eps, eps_1) =
// (eps_1/2) (1 + sqrt(1 + 1/(eps eps_1))) (the largest energy an electron can
// give a photon) and, for eps > eps_1, gamma <= eps eps_1 / (eps - eps_1).
// Electrons below gamma = 1 do not exist and are left out.
//
// Monochromatic seed: R = u0 (h / m_e c^2) eps0^-2 F, and the gamma integral
// runs over the power-law segments of n restricted to the allowed range, with
// a fixed Gauss-Legendre rule on pieces of each segment (the integrand is
// analytic there and vanishes linearly at gamma_min): in ln(gamma - eps_1)
// (see below) on segments cut by the limits or near eps_1, and in ln gamma on
// nodes shared by all outputs on the others.
//
// Tabulated seed: for fixed gamma and eps_1, F is (1 + A) + (1 - A) q - 2 q^2 +
// 2 q ln q with A = g^2 / (2 (1 + g)) independent of eps, so R is exact in
// closed form from four moments of the power-law seed over [k, gamma g]:
// int u eps^-m deps (m = 2, 3, 4) and int u eps^-3 ln eps deps.  Those are
// kept as sums over whole seed segments plus a closed-form part of a segment
// at each end, so R costs a few logarithms and exponentials.  R is
// then integrated over gamma as in the monochromatic case, with extra
// breakpoints where R is not smooth: where k crosses an edge of the seed's
// support (R' jumps there) and where gamma g crosses a seed point (R'' jumps).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "accurate/checks.hpp"
#include "accurate/compton_common.hpp"
#include "accurate/kernels.hpp"
#include "accurate/klein_nishina.hpp"
#include "accurate/power_law.hpp"
#include "pool.hpp"

namespace ostrel::models {
namespace {

using compton::kEmissionCoeff;
using compton::kEpsPerHz;
constexpr double kInf = std::numeric_limits<double>::infinity();

// The gamma integrals run in s = ln(gamma - eps_1), the natural variable of
// the kernel: q = eps_1 / (4 eps gamma (gamma - eps_1)) and g = eps_1 /
// (gamma - eps_1) vary on the scale of gamma - eps_1, which near the top of
// the scattered spectrum (gamma close to eps_1) is much finer than gamma, and
// far above it s and ln gamma coincide.  Limits are kept as d = gamma - eps_1,
// computed without cancellation.

// gamma_min(eps, eps1) - eps1 = 1 / (2 eps (1 + sqrt(1 + 1/(eps eps1)))):
// above it an electron can scatter a photon of energy eps up to eps1.
double excess_min(double eps, double eps1) {
  return 0.5 / (eps * (1.0 + std::sqrt(1.0 + 1.0 / (eps * eps1))));
}

// For eps > eps1, the kernel's domain (q >= 1/(4 gamma^2)) ends at gamma =
// eps eps1 / (eps - eps1), that is d = eps1^2 / (eps - eps1).
double excess_max_down(double eps, double eps1) {
  return eps1 < eps ? eps1 * eps1 / (eps - eps1) : kInf;
}

// (e^z - 1) / z and (e^z (z - 1) + 1) / z^2 = int_0^1 t e^{z t} dt, given
// ez = e^z; their series near z = 0 avoid the cancellation (relative errors
// below 1e-13 on both sides of the switch).
double phi(double z, double ez) {
  if (std::fabs(z) < 1e-3) return 1.0 + z * (1.0 / 2.0 + z * (1.0 / 6.0 + z / 24.0));
  return (ez - 1.0) / z;
}
double psi(double z, double ez) {
  if (std::fabs(z) < 1e-2)
    return 0.5 + z * (1.0 / 3.0 + z * (1.0 / 8.0 + z * (1.0 / 30.0 + z / 144.0)));
  return (ez * (z - 1.0) + 1.0) / (z * z);
}

// Segments of the electron distribution, with n in units of 2^e
// (power_law.hpp).
struct Electrons {
  power_law::Table t;
  int e;
  double ln_scale;
  Electrons(Span gamma, Span n)
      : t(gamma, n), e(power_law::scale_exponent(t.ln_max())), ln_scale(e * std::log(2.0)) {}
  // n(gamma) / gamma^2 at ln gamma = lng in segment i, from logarithms (a
  // segment may rise by more than a double can hold).
  double density_over_g2(std::size_t i, double lng) const {
    return std::exp(t[i].ln_at_offset(lng - t[i].ln_x0) - 2.0 * lng - ln_scale);
  }
  // Segment whose interval contains gamma (last one for the top point).
  std::size_t segment(double g) const { return t.find(g); }
  double x(std::size_t i) const { return t.x()[i]; }
  bool live(std::size_t i) const { return t[i].live; }
};

// Integral of n(gamma) gamma^-2 r(gamma, d) dgamma over d = gamma - eps1 in
// [d0, d1] (inside segment i), by the split rule in s = ln d.  Where d0 is
// the kinematic limit r rises from zero, and the three-point rule is not used.
template <class R>
double gamma_integral(const Electrons& e, std::size_t i, double eps1, double d0, double d1,
                      bool from_limit, R&& r) {
  // In s the integrand's logarithm changes at most by |s_i - 2| d / gamma + 1
  // per unit from n gamma^-2 dgamma/ds (largest at d1), and by about 2 more
  // from r.  The factor d / gamma keeps the count finite on a narrow, steep
  // segment just above eps1, where s spans decades while gamma hardly moves.
  const compton::Split sp = compton::split(
      std::log(d1 / d0), std::fabs(e.t[i].slope() - 2.0) * (d1 / (eps1 + d1)) + 3.0, !from_limit);
  double sum = 0.0;
  compton::for_each_node(std::log(d0), std::log(d1), sp, [&](double s, double w) {
    const double d = std::exp(s);
    const double g = eps1 + d;
    sum += w * d * e.density_over_g2(i, std::log(g)) * r(g, d);
  });
  return sum;
}

// The four seed moments over an energy range.
struct Moments {
  double m2 = 0, m3 = 0, m4 = 0, mn = 0;  // int u eps^-m, int u eps^-3 ln(eps/eps_ref)
};

// Moments of a tabulated seed (energies in m_e c^2, u per hertz in units of
// 2^e, power_law.hpp).
class Seed {
 public:
  Seed(Span nu, Span u) : t_(nu, u), e_(power_law::scale_exponent(t_.ln_max())) {
    const std::size_t ns = t_.segments();
    const double ln_scale = e_ * std::log(2.0);
    eps_.resize(t_.points());
    for (std::size_t j = 0; j < eps_.size(); ++j) eps_[j] = t_.x()[j] * kEpsPerHz;
    // Support: the span of the live segments.
    for (std::size_t j = 0; j < ns; ++j)
      if (t_[j].live) {
        if (lo_ < 0) lo_ = static_cast<long>(j);
        hi_ = static_cast<long>(j) + 1;
      }
    if (lo_ < 0) return;
    ln_ref_ = std::log(eps_[lo_]);
    ln_c2_.assign(ns, 0.0);
    lnrel_.assign(ns, 0.0);
    s2_.assign(ns, 0.0);
    for (std::size_t j = 0; j < ns; ++j) {
      if (!t_[j].live) continue;
      ln_c2_[j] = t_[j].ln_f0 - ln_scale - std::log(eps_[j]);
      lnrel_[j] = std::log(eps_[j]) - ln_ref_;
      s2_[j] = t_[j].slope() - 1.0;
    }
    // Prefix and suffix sums of whole segments: below_[j] holds the moments of
    // segments 0 .. j-1, above_[j] those of segments j, j+1, ...  A run of
    // whole segments is the difference of whichever pair subtracts less.
    whole_.resize(ns);
    below_.assign(ns + 1, Moments{});
    above_.assign(ns + 1, Moments{});
    for (std::size_t j = 0; j < ns; ++j) {
      whole_[j] = piece(j, eps_[j], eps_[j + 1]);
      below_[j + 1] = add(below_[j], whole_[j], 1.0);
    }
    for (std::size_t j = ns; j-- > 0;) above_[j] = add(above_[j + 1], whole_[j], 1.0);
    // Points where the support begins or ends (seed edges, dead segments).
    for (std::size_t j = 0; j < eps_.size(); ++j) {
      const bool left = j > 0 && t_[j - 1].live;
      const bool right = j < ns && t_[j].live;
      if (left != right) edges_.push_back(eps_[j]);
      if (left || right) points_.push_back(eps_[j]);
    }
  }

  bool empty() const { return lo_ < 0; }
  int scale_exponent() const { return e_; }
  double lo() const { return eps_[lo_]; }
  double hi() const { return eps_[hi_]; }
  const std::vector<double>& edges() const { return edges_; }
  const std::vector<double>& points() const { return points_; }
  double ln_ref() const { return ln_ref_; }

  // Moments over [a, b], lo() <= a < b <= hi().  Every part is computed from
  // its own lower end, never as the difference of two integrals from a
  // segment's start: over a wide segment eps^-4 spans many decades and such a
  // difference would cancel.
  Moments range(double a, double b) const {
    const std::size_t ja = find(a);
    if (b >= hi()) return add(piece(ja, a, eps_[ja + 1]), above_[ja + 1], 1.0);  // the usual case
    const std::size_t jb = find(b);
    if (ja == jb) return piece(ja, a, b);
    Moments m = add(piece(ja, a, eps_[ja + 1]), piece(jb, eps_[jb], b), 1.0);
    if (jb > ja + 1) m = add(m, run(ja + 1, jb), 1.0);
    return m;
  }

 private:
  static Moments add(const Moments& x, const Moments& y, double sign) {
    return {x.m2 + sign * y.m2, x.m3 + sign * y.m3, x.m4 + sign * y.m4, x.mn + sign * y.mn};
  }

  // Moments of the whole segments j0 .. j1-1.
  Moments run(std::size_t j0, std::size_t j1) const {
    const auto pick = [](double bt, double bs, double at, double as) {
      return bs <= as ? bt - bs : at - as;  // bt - bs = at - as, subtracting less
    };
    const Moments &bt = below_[j1], &bs = below_[j0], &at = above_[j0], &as = above_[j1];
    return {pick(bt.m2, bs.m2, at.m2, as.m2), pick(bt.m3, bs.m3, at.m3, as.m3),
            pick(bt.m4, bs.m4, at.m4, as.m4), pick(bt.mn, bs.mn, at.mn, as.mn)};
  }

  // Segment j with eps_j <= x < eps_{j+1}, within the support.
  std::size_t find(double x) const {
    const auto first = eps_.begin() + lo_, last = eps_.begin() + hi_;
    const auto it = std::upper_bound(first, last, x);
    return static_cast<std::size_t>(it - eps_.begin()) - 1;
  }

  // Moments over [x0, x1] inside segment j, where u = u_j (eps/eps_j)^beta.
  // From x0, with u0 = u(x0) and t = ln(eps/x0) in [0, L]:
  //   int u eps^-m deps = u0 x0^{1-m} int_0^L e^{(beta - m + 1) t} dt,
  //   int u eps^-3 ln(eps/eps_ref) deps = u0 x0^-2 int_0^L t e^{(beta - 2) t} dt
  //                                       + ln(x0/eps_ref) int u eps^-3 deps.
  // Where all three integrands rise over the piece (z4 >= 0: u rises faster
  // than eps^3, as a seed that climbs out of a tail of 1e-320 does), e^z2
  // could overflow and u0 underflow: the moments are then taken from the
  // upper end x1, where every integrand is largest,
  //   u1 x1^{1-m} L phi(-z) and u1 x1^-2 L^2 (phi(-z) - psi(-z)),
  // since int_0^1 t e^{z t} dt = e^z (phi(-z) - psi(-z)).  Otherwise
  // z2 <= 2 L <= 414 (the seed spans at most kMaxFrequency / kMinFrequency =
  // e^207), so e^z2 is finite.
  Moments piece(std::size_t j, double x0, double x1) const {
    Moments m;
    if (!t_[j].live || !(x0 < x1)) return m;
    const double La = std::log(x0 / eps_[j]), L = std::log(x1 / x0);
    const double ln_c2 = ln_c2_[j] + s2_[j] * La;  // ln(u0 / x0)
    const double z2 = s2_[j] * L, z3 = z2 - L, z4 = z3 - L;
    const double em = x0 / x1;  // e^{-L}
    if (z4 < 0.0) {
      const double c2 = std::exp(ln_c2);
      const double c3 = c2 / x0, c4 = c3 / x0;
      const double ez2 = std::exp(z2);
      const double ez3 = ez2 * em, ez4 = ez3 * em;
      m.m2 = c2 * L * phi(z2, ez2);
      m.m3 = c3 * L * phi(z3, ez3);
      m.m4 = c4 * L * phi(z4, ez4);
      m.mn = c3 * L * L * psi(z3, ez3) + (lnrel_[j] + La) * m.m3;
    } else {
      const double c2 = std::exp(ln_c2 + z2);  // u1 / x1
      const double c3 = c2 / x1, c4 = c3 / x1;
      const double e2 = std::exp(-z2);
      const double e3 = e2 / em, e4 = e3 / em;
      const double phi3 = phi(-z3, e3);
      m.m2 = c2 * L * phi(-z2, e2);
      m.m3 = c3 * L * phi3;
      m.m4 = c4 * L * phi(-z4, e4);
      m.mn = c3 * L * L * (phi3 - psi(-z3, e3)) + (lnrel_[j] + La) * m.m3;
    }
    return m;
  }

  power_law::Table t_;
  int e_;
  std::vector<double> eps_;
  long lo_ = -1, hi_ = -1;
  double ln_ref_ = 0.0;
  std::vector<double> ln_c2_, lnrel_, s2_;  // ln(u_j / eps_j), ln(eps_j/eps_ref), beta - 1
  std::vector<Moments> whole_, below_, above_;
  std::vector<double> edges_, points_;
};

}  // namespace

Vec inverse_compton_mono(Span nu, Span gamma, Span n, double nu0, double u0) {
  checks::points("nu", nu);
  checks::lorentz_factors("gamma", gamma);
  checks::values_on("n", n, "gamma", gamma);
  checks::frequency("nu0", nu0);
  checks::non_negative("u0", u0);

  if (gamma.size() < 2) return Vec(nu.size(), 0.0);
  const Electrons e(gamma, n);
  const double eps0 = nu0 * kEpsPerHz;
  const double g_first = std::fmax(gamma.front(), 1.0), g_last = gamma.back();

  // Segments that lie wholly in the allowed range and at least twice eps_1
  // are integrated in ln gamma (where q and g change by at most a factor
  // e^3 per unit) on nodes shared by all outputs: gamma, the weight times
  // n(gamma)/gamma, and 1/(4 gamma eps0).
  const std::size_t nseg = e.t.segments();
  std::vector<std::size_t> first(nseg + 1, 0);
  std::vector<double> node_g, node_w, node_c;
  for (std::size_t i = 0; i < nseg; ++i) {
    first[i] = node_g.size();
    if (!e.live(i)) continue;
    const double t0 = e.t[i].ln_x0, t1 = e.t[i].ln_x1();
    // Four points always: next to gamma_min, F rises from zero steeply.
    const compton::Split sp = compton::split(t1 - t0, std::fabs(e.t[i].slope() - 1.0) + 3.0, false);
    compton::for_each_node(t0, t1, sp, [&](double t, double w) {
      const double g = std::exp(t);
      node_g.push_back(g);
      node_w.push_back(w * g * e.density_over_g2(i, t));
      node_c.push_back(1.0 / (4.0 * g * eps0));
    });
  }
  first[nseg] = node_g.size();

  Vec out = pool::parallel_map<double>(nu.size(), [&](std::size_t o) {
    const double eps1 = nu[o] * kEpsPerHz;
    const double lo = std::fmax(excess_min(eps0, eps1), g_first - eps1);
    const double hi = std::fmin(excess_max_down(eps0, eps1), g_last - eps1);
    if (!(lo < hi) || u0 == 0.0) return 0.0;
    const auto r = [&](double g, double d) {
      const double gq = eps1 / d;
      return klein_nishina::emission_kernel(gq / (4.0 * g * eps0), gq);
    };
    double sum = 0.0;
    for (std::size_t i = e.segment(eps1 + lo); i < nseg && e.x(i) - eps1 < hi; ++i) {
      if (!e.live(i)) continue;
      const double d0 = e.x(i) - eps1, d1 = e.x(i + 1) - eps1;
      if (d0 >= lo && d1 <= hi && e.x(i) >= 2.0 * eps1) {
        for (std::size_t k = first[i]; k < first[i + 1]; ++k) {
          const double gq = eps1 / (node_g[k] - eps1);
          sum += node_w[k] * klein_nishina::emission_kernel(gq * node_c[k], gq);
        }
      } else {
        const double a = std::fmax(d0, lo), b = std::fmin(d1, hi);
        if (a < b) sum += gamma_integral(e, i, eps1, a, b, a == lo, r);
      }
    }
    // The seed's photons per unit eps are u0 (h / m_e c^2) / eps0^2.
    return power_law::product({kEmissionCoeff, eps1, sum, u0, kEpsPerHz, 1.0 / eps0, 1.0 / eps0}, e.e);
  });
  checks::representable("n", "the emissivity", out);
  return out;
}

Vec inverse_compton(Span nu, Span gamma, Span n, Span seed_nu, Span seed_u) {
  checks::points("nu", nu);
  checks::lorentz_factors("gamma", gamma);
  checks::values_on("n", n, "gamma", gamma);
  checks::frequency_grid("seed_nu", seed_nu);
  checks::values_on("seed_u", seed_u, "seed_nu", seed_nu);

  if (gamma.size() < 2) return Vec(nu.size(), 0.0);
  const Electrons e(gamma, n);
  const Seed s(seed_nu, seed_u);
  if (s.empty()) return Vec(nu.size(), 0.0);
  const double g_first = std::fmax(gamma.front(), 1.0), g_last = gamma.back();
  Vec out = pool::parallel_map<double>(nu.size(), [&](std::size_t o) {
    const double eps1 = nu[o] * kEpsPerHz;
    const double lo = std::fmax(excess_min(s.hi(), eps1), g_first - eps1);
    const double hi = std::fmin(excess_max_down(s.lo(), eps1), g_last - eps1);
    if (!(lo < hi)) return 0.0;

    // Breakpoints: electron grid points and the places where R is not smooth.
    std::vector<double> cuts{lo, hi};
    const auto add = [&](double d) {
      if (lo < d && d < hi) cuts.push_back(d);
    };
    for (double g : e.t.x()) add(g - eps1);
    for (double eps : s.edges()) add(excess_min(eps, eps1));
    for (double eps : s.points())
      if (eps > eps1) add(excess_max_down(eps, eps1));
    std::sort(cuts.begin(), cuts.end());

    const auto r = [&](double g, double d) {
      const double gq = eps1 / d;
      const double kq = gq / (4.0 * g);
      const double a = std::fmax(kq, s.lo()), b = std::fmin(g * gq, s.hi());
      if (!(a < b)) return 0.0;
      const Moments m = s.range(a, b);
      const double A = 0.5 * gq * gq / (1.0 + gq);
      const double ln_k = std::log(kq) - s.ln_ref();
      const double val = (1.0 + A) * m.m2 + (1.0 - A) * kq * m.m3 - 2.0 * kq * kq * m.m4 -
                         2.0 * kq * (m.mn - ln_k * m.m3);
      return std::fmax(val, 0.0);
    };
    double sum = 0.0;
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
      const double d0 = cuts[c], d1 = cuts[c + 1];
      if (!(d0 < d1)) continue;
      const std::size_t i = e.segment(eps1 + 0.5 * (d0 + d1));
      if (!e.live(i)) continue;
      sum += gamma_integral(e, i, eps1, d0, d1, d0 == lo, r);
    }
    return power_law::product({kEmissionCoeff, eps1, sum}, e.e + s.scale_exponent());
  });
  checks::representable("n", "the emissivity", out);
  return out;
}

}  // namespace ostrel::models
