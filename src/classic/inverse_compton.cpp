#include "inverse_compton.hpp"

#include <cmath>
#include <cstddef>
#include <vector>

#include "constants.hpp"
#include "error.hpp"
#include "pool.hpp"
#include "pwl_integ.hpp"

namespace ostrel::radiation {

// Isotropic electrons N(gamma), tabulated on g and taken as a power law
// N = n_k (gamma/gamma_k)^(-p) between grid points, scatter an isotropic seed
// field.  A seed photon of frequency nu_s is scattered to nu ~ 4 gamma^2 nu_s,
// so the electrons that reach nu from nu_s have gamma^2 >= u = nu/(4 nu_s),
// and scattering stays in the Thomson regime only up to the Klein-Nishina
// limit gamma_KN = (m_e c^2/4)/(h nu_s), which caps the upper end of every
// electron segment.  With the emission kernel (1 - u/gamma^2) the integrals
// over gamma and over the seed spectrum are products of power laws and are
// done in closed form (pwl_integ).  Segments whose end values are not both
// above 1e-200 are empty.

namespace {

using pwl_integ::clamp_index;
using pwl_integ::power_integral;
using pwl_integ::segment_index;
using pwl_integ::sscr;
using pwl_integ::sscs;

constexpr double kIcFloor = 1e-200;
// gamma^2 = nu/(4 nu_s) is not followed below 1/4.
constexpr double kMinGammaSquared = 0.25;

// Largest Lorentz factor that scatters photons of frequency nu in the
// Thomson regime.
double klein_nishina_gamma(double nu) {
  return constants::energy_e_quarter / (constants::h * nu);
}

// Sum over the electron segments of the emissivity at nu from the
// monochromatic field at nuext, in units of c sigma_T uext/nuext.
//
// With G = nu/(4 nuext) an electron of Lorentz factor gamma contributes in
// proportion to G gamma^-2 (1 - G/gamma^2) over gamma^2 >= G.  For a segment
// from gamma_lo to gamma_top = min(gamma_KN, gamma_hi) and N ~ gamma^-q, the
// substitution t = gamma_top^2/gamma^2 runs from 1 to X = (gamma_top/gamma_lo)^2,
// or to X = gamma_top^2/G when the threshold gamma^2 = G lies inside the
// segment, and leaves two power integrals M in the half-indices
// s1 = (q+1)/2, s2 = (q-1)/2 (z = G/gamma_top^2):
//
//   G^-s2 gamma_lo^q n_lo z^s1 (M(X, s2 + 1) - z M(X, s1 + 1)).
//
// The half-indices are clamped like the index itself.
double ic_monochrome_sum(double nu, std::span<const double> n, std::span<const double> g,
                         double nuext) {
  const double gamma_kn = klein_nishina_gamma(nuext);
  const double G = nu / (4.0 * nuext);
  double sum = 0.0;
  for (std::size_t i = 1; i < g.size(); ++i) {
    const double n_lo = at(n, i - 1);
    if (!(n_lo > kIcFloor)) continue;
    const double n_hi = at(n, i);
    if (!(n_hi > kIcFloor)) continue;

    const double g_lo = g[i - 1];
    const double g_hi = g[i];
    const double q = segment_index(g_lo, n_lo, g_hi, n_hi);
    const double s1 = clamp_index((q + 1.0) / 2.0);
    const double s2 = clamp_index((q - 1.0) / 2.0);
    // fmin: a NaN gamma_hi leaves the Klein-Nishina limit.
    const double g_top = std::fmin(gamma_kn, g_hi);

    double X;
    if (g_lo <= g_top && G >= kMinGammaSquared && G <= g_lo * g_lo) {
      const double ratio = g_top / g_lo;  // whole segment above threshold
      X = ratio * ratio;
    } else if (G > g_lo * g_lo && G <= g_top * g_top) {
      X = g_top * g_top / G;  // threshold gamma^2 = G inside the segment
    } else {
      continue;
    }
    const double z = G / (g_top * g_top);
    const double H = std::pow(z, s1) * (power_integral(X, s2 + 1.0) - z * power_integral(X, s1 + 1.0));
    sum = sum + std::pow(G, -s2) * (std::pow(g_lo, q) * (n_lo * H));
  }
  return sum;
}

// Emissivity from the seed intensity inu, a power law I_i (nu_s/nu_i)^-alpha
// on each seed segment [nu_i, nu_(i+1)].
//
// In the variables u = nu/(4 nu_s) and y = 1/gamma^2 the kernel is
// (1 - u y) and the integrand a product of powers of u and y, with
// R = (p-1)/2 and S = (2 alpha - p - 1)/2.  Over a seed segment u runs from
// B = nu/(4 nu_(i+1)) (not below 1/4) to A = nu/(4 nu_i), over an electron
// segment y from 1/gamma_top^2 to 1/gamma_k^2.  Where all of that range lies
// below threshold (u < gamma_k^2) the region is a rectangle (sscr); where
// u > gamma_k^2 it is cut by u y <= 1 (sscs).  Electron segments start at the
// first grid point at or above max(sqrt(A), gamma_0) and end at the
// Klein-Nishina limit of the segment's upper seed frequency.  On an increasing
// frequency grid that leaves only rectangles: the electrons between sqrt(B)
// and that first grid point are not counted, which underestimates the
// emissivity by an amount that shrinks with the steps of both grids (about 1%
// at 20 seed points and 100 electron points per decade).
//
// Of all this only A, B and what depends on them -- the lower electron limit
// sqrt(A), the weight A^-alpha, the range [u_lo, u_hi] and the outer factors
// of sscr and sscs -- change with the output frequency.  The rest is worked
// out once per call, with the operations the per-frequency loop would do:
//
//   per electron segment: whether its densities are used (or one is
//     missing), p, R = (p-1)/2, gamma_k^p, gamma_k^2, 1/gamma_k^2;
//   per seed segment: alpha, gamma_KN and high = min(gamma_KN, gamma_last);
//   per pair of the two: gamma_top, gamma_top^2, y_top = 1/gamma_top^2,
//     S, and for b = R and R + 1 the inner factors of sscr,
//     y_top^(b+1) and M(y_k/y_top, b+1), and sscs's 1^(1+b).  (y_top^(b+1)
//     is sscs's a0^(1+b) too: 1 + b and b + 1 are the same sum.)
//
// Pairs are tabulated only for electron segments with gamma_k <= high: no
// other one passes the test low <= gamma_k <= high at any frequency.  Per
// frequency, the two terms b = R and R + 1 of the kernel share their outer
// limits and so the logarithms of the limits' ratio.  The pairs are built for
// a block of seed segments at a time, at most kIcPairsPerBlock pairs, so their
// storage stays bounded; each frequency's sum is carried from block to block
// through the same additions in the same order.
constexpr std::size_t kIcPairsPerBlock = std::size_t{1} << 16;

// How the walk over electron segment k ends after reading its densities.
enum class IcDensities : unsigned char {
  used,     // both above the floor
  empty,    // one at or below the floor (the upper one not read if the lower is)
  missing,  // a density it reads does not exist: index error
};

struct IcElectronSegment {
  double g_k;
  double g_k1;
  double g_k2;     // gamma_k^2
  double y_k;      // 1/gamma_k^2
  double n_k;
  IcDensities densities;
  double p;        // index of N, clamped
  double R;        // (p - 1)/2
  double R1;       // R + 1
  double norm;     // gamma_k^p
};

struct IcSeedSegment {
  double I_lo;
  double nu_lo;
  double nu_hi;
  double alpha;      // index of the seed intensity, clamped
  double gamma_kn;   // Klein-Nishina limit of nu_hi
  double high;       // min(gamma_KN, gamma_last)
  std::size_t first_pair;  // its pairs, numbered across all seed segments
  std::size_t pair_count;
};

// Electron segment k as seen from one seed segment (factors valid when the
// densities are used).
struct IcPair {
  std::size_t k;
  double g_top2;          // min(gamma_KN, gamma_(k+1))^2
  double y_top;           // 1/gamma_top^2
  double S;               // (2 alpha - p - 1)/2
  pwl_integ::SscrInner inner_R;   // y_top^(R+1), M(y_k/y_top, R+1)
  pwl_integ::SscrInner inner_R1;  // the same for R + 1
  double one_pow_R;       // 1^(1+R), sscs's a1^P
  double one_pow_R1;
};

struct IcTables {
  std::vector<IcElectronSegment> electrons;
  std::vector<IcSeedSegment> seeds;  // the used seed segments, in order
  double g_first = 0.0;              // gamma_0 (read only when a seed segment is used)
  std::size_t pair_total = 0;
};

IcTables ic_tables(std::span<const double> freqs, std::span<const double> inu,
                   std::span<const double> g, std::span<const double> n) {
  IcTables t;
  for (std::size_t k = 0; k + 1 < g.size(); ++k) {
    IcElectronSegment el{};
    el.g_k = g[k];
    el.g_k1 = g[k + 1];
    el.g_k2 = el.g_k * el.g_k;
    el.y_k = 1.0 / (el.g_k * el.g_k);
    if (k >= n.size()) {
      el.densities = IcDensities::missing;
    } else if (el.n_k = n[k]; !(el.n_k > kIcFloor)) {
      el.densities = IcDensities::empty;
    } else if (k + 1 >= n.size()) {
      el.densities = IcDensities::missing;
    } else if (const double n_k1 = n[k + 1]; !(n_k1 > kIcFloor)) {
      el.densities = IcDensities::empty;
    } else {
      el.densities = IcDensities::used;
      el.p = segment_index(el.g_k, el.n_k, el.g_k1, n_k1);
      el.R = (el.p - 1.0) / 2.0;
      el.R1 = el.R + 1.0;
      el.norm = std::pow(el.g_k, el.p);
    }
    t.electrons.push_back(el);
  }

  // Everything of a used seed segment up to the electron loop is the same at
  // every frequency, its index errors included (every frequency would fail
  // on them), so they are raised here.
  for (std::size_t i = 0; i + 1 < freqs.size(); ++i) {
    IcSeedSegment seed{};
    seed.I_lo = at(inu, i);
    if (!(seed.I_lo > kIcFloor)) continue;
    const double I_hi = at(inu, i + 1);
    if (!(I_hi > kIcFloor)) continue;
    seed.nu_lo = freqs[i];
    seed.nu_hi = freqs[i + 1];
    seed.alpha = segment_index(seed.nu_lo, seed.I_lo, seed.nu_hi, I_hi);
    seed.gamma_kn = klein_nishina_gamma(seed.nu_hi);
    t.g_first = at(g, 0);
    // fmin: a NaN grid end leaves the Klein-Nishina limit.
    seed.high = std::fmin(seed.gamma_kn, at(g, g.size() - 1));
    seed.first_pair = t.pair_total;
    for (const IcElectronSegment& el : t.electrons) seed.pair_count += el.g_k <= seed.high;
    t.pair_total += seed.pair_count;
    t.seeds.push_back(seed);
  }
  return t;
}

// Fills the pairs of one seed segment.
void tabulate_pairs(const IcTables& t, const IcSeedSegment& seed, IcPair* out) {
  for (std::size_t k = 0; k < t.electrons.size(); ++k) {
    const IcElectronSegment& el = t.electrons[k];
    if (!(el.g_k <= seed.high)) continue;
    IcPair pair{};
    pair.k = k;
    if (el.densities == IcDensities::used) {
      const double g_top = std::fmin(seed.gamma_kn, el.g_k1);
      pair.g_top2 = g_top * g_top;
      pair.y_top = 1.0 / pair.g_top2;
      pair.S = (2.0 * seed.alpha - el.p - 1.0) / 2.0;
      const pwl_integ::RatioLogs inner_logs(el.y_k / pair.y_top);
      pair.inner_R = pwl_integ::sscr_inner(pair.y_top, inner_logs, el.R);
      pair.inner_R1 = pwl_integ::sscr_inner(pair.y_top, inner_logs, el.R1);
      pair.one_pow_R = std::pow(1.0, 1.0 + el.R);
      pair.one_pow_R1 = std::pow(1.0, 1.0 + el.R1);
    }
    *out++ = pair;
  }
}

// The electrons of the pair below threshold over u in [lo, hi] (a
// rectangle), with the kernel 1 - u y as the difference of the R and R + 1
// terms.
double ic_below(const IcPair& pair, const IcElectronSegment& el, double lo, double hi) {
  const pwl_integ::RatioLogs outer(hi / lo);
  return sscr(pair.inner_R, lo, outer, el.R, pair.S) - sscr(pair.inner_R1, lo, outer, el.R1, pair.S);
}

// The same where the region is cut by u y <= 1.
double ic_cut(const IcPair& pair, const IcElectronSegment& el, double lo, double hi) {
  const pwl_integ::RatioLogs outer(hi / lo);
  return sscs(pair.y_top, 1.0, lo, hi, el.R, pair.S, pair.inner_R.a0_pow, pair.one_pow_R, outer) -
         sscs(pair.y_top, 1.0, lo, hi, el.R1, pair.S, pair.inner_R1.a0_pow, pair.one_pow_R1, outer);
}

// sum plus the contributions at nu of the seed segments [seed_begin, seed_end),
// whose pairs start at `pairs` (numbered from pair_base).
double ic_powlaw_add(double sum, double nu, const IcTables& t, std::size_t seed_begin,
                     std::size_t seed_end, const IcPair* pairs, std::size_t pair_base) {
  for (std::size_t s = seed_begin; s < seed_end; ++s) {
    const IcSeedSegment& seed = t.seeds[s];
    const double A = nu / (4.0 * seed.nu_lo);
    const double B = nu / (4.0 * seed.nu_hi);
    // fmax: a NaN grid start leaves the other bound.
    const double low = std::fmax(std::sqrt(A), t.g_first);
    const double high = seed.high;
    if (!(high > low)) continue;
    const double u_lo = std::fmax(B, kMinGammaSquared);
    const double weight = std::pow(A, -seed.alpha);

    const IcPair* first = pairs + (seed.first_pair - pair_base);
    for (const IcPair* pair = first; pair != first + seed.pair_count; ++pair) {
      const IcElectronSegment& el = t.electrons[pair->k];
      const double g_k = el.g_k;
      if (!(low <= g_k && g_k <= high)) continue;
      if (el.densities == IcDensities::missing) fail_index_out_of_bounds();
      if (el.densities == IcDensities::empty) continue;

      const double u_hi = std::fmin(pair->g_top2, A);
      if (!(u_hi > u_lo)) continue;

      const double g_k2 = el.g_k2;
      double X;
      if (A > kMinGammaSquared && A < g_k2) {
        X = ic_below(*pair, el, u_lo, u_hi);
      } else if (A <= g_k2 && B <= g_k2) {
        X = ic_cut(*pair, el, g_k2, u_hi) + ic_below(*pair, el, u_lo, g_k2);
      } else if (B > g_k2 && pair->g_top2 >= B) {
        X = ic_cut(*pair, el, u_lo, u_hi);
      } else {
        X = 0.0;
      }
      sum = sum + el.norm * (el.n_k * X) * seed.I_lo * constants::sigma_t * weight;
    }
  }
  return sum;
}

}  // namespace

Spectrum ic_iso_monochrome_full(std::span<const double> freqs, std::span<const double> n,
                                std::span<const double> g, double uext, double nuext) {
  return pool::parallel_map<double>(freqs.size(), [&](std::size_t j) {
    const double sum = ic_monochrome_sum(freqs[j], n, g, nuext);
    return uext * (sum * constants::c * constants::sigma_t) / nuext;
  });
}

Spectrum ic_iso_powlaw_full(std::span<const double> freqs, std::span<const double> inu,
                            std::span<const double> g, std::span<const double> n) {
  Spectrum sums(freqs.size(), 0.0);
  if (freqs.empty()) return sums;
  const IcTables t = ic_tables(freqs, inu, g, n);

  std::vector<IcPair> pairs;
  for (std::size_t seed_begin = 0; seed_begin < t.seeds.size();) {
    // The next block: as many seed segments as fit, at least one.
    std::size_t seed_end = seed_begin + 1;
    const std::size_t pair_base = t.seeds[seed_begin].first_pair;
    while (seed_end < t.seeds.size() &&
           t.seeds[seed_end].first_pair + t.seeds[seed_end].pair_count - pair_base <=
               kIcPairsPerBlock) {
      ++seed_end;
    }
    const IcSeedSegment& last = t.seeds[seed_end - 1];
    pairs.resize(last.first_pair + last.pair_count - pair_base);
    pool::parallel_for(seed_end - seed_begin, [&](std::size_t begin, std::size_t end) {
      for (std::size_t s = seed_begin + begin; s < seed_begin + end; ++s) {
        tabulate_pairs(t, t.seeds[s], pairs.data() + (t.seeds[s].first_pair - pair_base));
      }
    });
    pool::parallel_for(freqs.size(), [&](std::size_t begin, std::size_t end) {
      for (std::size_t j = begin; j < end; ++j) {
        sums[j] = ic_powlaw_add(sums[j], freqs[j], t, seed_begin, seed_end, pairs.data(), pair_base);
      }
    });
    seed_begin = seed_end;
  }
  return sums;
}

}  // namespace ostrel::radiation
