#include "synchrotron.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "constants.hpp"
#include "diagnostics.hpp"
#include "error.hpp"
#include "misc.hpp"
#include "pool.hpp"
#include "pwl_integ.hpp"

namespace ostrel::radiation {

// Emissivity and self-absorption of electrons whose density N(gamma) is a
// power law N_i (gamma/gamma_i)^-q between neighbouring grid points.  With the
// pitch-angle-averaged synchrotron function R(x), x = nu/nu_c and
// nu_c = 1.5 gamma^2 nu_B, each segment contributes
//
//   j = (sqrt(3) e^2 nu_B / 2c) N_i gamma_i^q  Int gamma^(1-q) R(x) dln(gamma)
//   a = (sqrt(3) e^2 nu_B / 4 m_e c nu^2) N_i gamma_i^q
//         Int (gamma^2/(gamma^2-1) + q + 1) gamma^-q R(x) dln(gamma),
//
// where the absorption weight is the logarithmic slope
// -dln(N/(gamma^2 beta))/dln(gamma) = q + 1 + gamma^2/(gamma^2 - 1) of the
// density per unit momentum volume.  Both integrals run over
// u = ln(gamma), where the power-law weights vary slowly, by Romberg's method:
// trapezoid sums on 2^(j-2) new midpoints per stage, extrapolated to zero
// step through the last 10 stages, at most 60 stages.  Electrons with
// nu/nu_B <= 0.75/gamma are taken not to radiate at nu (the integrand is the
// power-law weight times 0 there).

namespace {

// --- the synchrotron function R(x) ------------------------------------------
//
// Four pieces: the small-x asymptote R ~ 1.8084 x^(1/3), two quintic fits of
// ln R in ln x, and the large-x asymptote (pi/2) e^-x (1 - 11/(18x)), which
// also takes NaN.
constexpr double kFitSmallX = 3.2180900500625734e-4;
constexpr double kFitMiddleX = 0.650532122717873;
constexpr double kFitLargeX = 15.579904689804556;
constexpr double kFitSmallXCoeff = 1.808418021102802;
constexpr double kOneThird = 0.3333333333333333;  // the pow exponent, not cbrt
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kFitLowLn[6] = {-0.7871626401625178,   -0.7050933708504841,
                                 -0.35531869295610624,  -0.06503312461868385,
                                 -0.0060901233982264096, -0.00022764616638053332};
constexpr double kFitHighLn[6] = {-0.8236455154570651, -0.831668613094906,
                                  -0.525630345887699,  -0.22039314697105414,
                                  0.01669179529512499, -0.028650695862677572};

// exp of the quintic c0 + c1 L + ... + c5 L^5 in L = ln x, summed from c0 up.
double exp_quintic_in_ln(const double (&c)[6], double x) {
  const double l1 = std::log(x);
  const double l2 = l1 * l1;
  const double l3 = l1 * l2;
  const double l4 = l2 * l2;
  const double l5 = l1 * l4;
  return std::exp(((((c[0] + c[1] * l1) + c[2] * l2) + c[3] * l3) + c[4] * l4) + c[5] * l5);
}

}  // namespace

double syn_r_fit(double x) {
  if (x < kFitSmallX) return kFitSmallXCoeff * std::pow(x, kOneThird);
  if (x <= kFitMiddleX) return exp_quintic_in_ln(kFitLowLn, x);
  if (x <= kFitLargeX) return exp_quintic_in_ln(kFitHighLn, x);
  return (1.0 - 11.0 / (18.0 * x)) * (kHalfPi * std::exp(-x));
}


namespace {

constexpr double kSynDensityFloor = 1e-100;  // segments need both ends above
constexpr double kEmissionCut = 0.75;        // R = 0 where nu/nu_B <= 0.75/gamma
// The absorption weight gamma^2/(gamma^2 - 1) diverges at gamma = 1; its lower
// endpoint is moved to 1 + 1e-10 when the grid starts closer to 1 than that.
constexpr double kLowerEndGap = 1e-10;
constexpr double kLowerEndGamma = 1.0000000001;
constexpr double kSynResultFloor = 1e-200;   // totals below are returned as 0

constexpr int kRombergMaxStages = 60;
constexpr std::size_t kRombergWindow = 10;   // stages per extrapolation
constexpr double kRombergTolerance = 1e-5;
constexpr double kRombergStepRatio = 0.25;   // h holds the squared step
constexpr int kEmissionFirstExtrapolation = 10;
constexpr int kAbsorptionFirstExtrapolation = 11;

// ---------------------------------------------------------------------------
// Work shared by all frequencies.
//
// Stage 1 of either integration takes the segment's ends; stage j >= 2 adds
// the 2^(j-2) midpoints u_k, found by repeated addition from lnga + del/2
// with del = H/2^(j-2).  These points, gamma = exp(u) and every factor of the
// integrands that depends on gamma alone -- the weights gamma^(1-q),
// gamma^-q and gamma^2/(gamma^2 - 1) + (q + 1), the cut 0.75/gamma and
// (gamma gamma) 3 -- are the same at every frequency.  They are computed once
// per call, with the very operations the integrands perform, for the stages
// up to 11 (2 + 1023 points and the absorption's guarded lower end), which
// is as far as both integrations go when they converge at their first
// extrapolation; later stages evaluate their points as they go.  The
// frequency then enters only through chi in R:
//
//   R = 0 if chi <= 0.75/gamma, else R_fit((2 chi)/((gamma gamma) 3)),
//
// with the cut and the divisor read from the table, operand for operand the
// same.  The two integrations visit the same interior points, so R is
// evaluated once per point and used by both (the absorption's lower end has
// its own point).
// ---------------------------------------------------------------------------
constexpr int kTabulatedStages = 11;
constexpr std::size_t kUpperEnd = 0;         // gamma_b
constexpr std::size_t kLowerEnd = 1;         // gamma_a (emission)
constexpr std::size_t kGuardedLowerEnd = 2;  // gamma_a or 1 + 1e-10 (absorption)

// Index of the first tabulated point of stage j >= 2.
constexpr std::size_t stage_offset(int j) { return 2 + (std::size_t{1} << (j - 2)); }

constexpr std::size_t kTabulatedPoints = stage_offset(kTabulatedStages + 1);  // 1026

// The factors of both integrands at one gamma.
struct PointFactors {
  double cut;         // 0.75/gamma: no emission where chi <= cut
  double g2x3;        // (gamma gamma) 3, so that x = (2 chi)/g2x3
  double w_emission;  // gamma^(1-q)
  double w_abs_pow;   // gamma^-q
  double w_abs;       // gamma^2/(gamma^2 - 1) + (q + 1)
};

PointFactors point_factors(double gamma, double q, bool with_abs) {
  PointFactors p;
  p.cut = kEmissionCut / gamma;
  p.g2x3 = (gamma * gamma) * 3.0;
  p.w_emission = std::pow(gamma, 1.0 - q);
  if (with_abs) {
    const double g2 = gamma * gamma;
    p.w_abs_pow = std::pow(gamma, -q);
    p.w_abs = g2 / (g2 - 1.0) + (q + 1.0);
  } else {
    p.w_abs_pow = p.w_abs = 0.0;
  }
  return p;
}

// R at x = nu/nu_c = 2 chi / (3 gamma^2), chi = nu/nu_B; 0 at and below the
// cut.  Written as the test for the cut so that a NaN chi or gamma is not cut
// off but runs through R and stays NaN.
double r_at(double chi, const PointFactors& p) {
  if (chi <= p.cut) return 0.0;
  return syn_r_fit((2.0 * chi) / p.g2x3);
}

// Emission integrand (per unit ln gamma): gamma^(1-q) R(x).
double emission_value(const PointFactors& p, double r) { return p.w_emission * r; }

// Absorption integrand: (gamma^2/(gamma^2 - 1) + q + 1) (gamma^-q R(x)).
double absorption_value(const PointFactors& p, double r) { return p.w_abs * (p.w_abs_pow * r); }

// ---------------------------------------------------------------------------
// Segments that contribute nothing.
//
// Where R is exactly +0 at every point an integration visits, its value is
// known without evaluating R.  That holds at all tabulated points when
//
//  (a) chi <= cut at every point: chi <= min(cut), or
//  (b) x >= 746 at every point: (2 chi)/max(g2x3) >= 746.  For chi > 0 and
//      positive g2x3, correctly rounded division is non-increasing in the
//      divisor, so every x is at least that.  Then exp(-x) <= e^-746
//      = 1.0e-324, below half the smallest subnormal, is +0 (glibc returns 0
//      below -745.13), and R = (1 - 11/(18x)) (pi/2 0) = +0.
//
// (both tested only when every tabulated gamma is finite and positive, so
// that the minimum and maximum order all points).  If moreover the weights
// at the points the integration visits are finite, every integrand value is
// +0 or -0, every trapezoid estimate is +-0 (never NaN or infinite), polint
// on +-0 ordinates with distinct finite h gives +-0 with a +-0 correction,
// and 0 * 1e-5 >= 0 accepts it at the first extrapolation: the integral is
// +-0, from the tabulated stages alone, and nothing is reported.  The segment
// then adds norm (scale (+-0)) to the sum (the absorption divides that by
// nu^2), which is +-0 when norm = gamma_i^q and scale = N_i (nu_B coefficient)
// are finite and nu^2 is neither 0 nor NaN.  Adding +-0 leaves any sum
// unchanged, bit for bit: the sums start at +0 and so are never -0 (x + y is
// -0 only when both are), +0 + -0 is +0, and a NaN sum keeps its payload.
// Such an integration is skipped.  Otherwise (an infinite or NaN weight
// makes inf 0 = NaN) it takes the general path.
// ---------------------------------------------------------------------------
constexpr double kExpUnderflowX = 746.0;

// One power-law segment [gamma_i, gamma_(i+1)] of the distribution.
struct SynSegment {
  double gamma_i;  // grid value, for the normalisation gamma_i^q
  double n_i;      // density at gamma_i
  double q;        // N ~ gamma^-q, the clamped segment index (NaN stays NaN)
  double lnga;     // ln gamma_i
  double lngb;     // ln gamma_(i+1)
  double width;    // lngb - lnga
  double ga;       // exp(lnga), the lower end
  double gb;       // exp(lngb), the upper end
  double ga_guarded;        // the absorption's lower end
  double norm;              // gamma_i^q
  double emission_scale;    // N_i (nu_B 6.66e-30)
  double absorption_scale;  // N_i (nu_B 3.66e-3)

  // Aggregates of the tabulated points, for the tests (a) and (b) above.
  bool ordered = false;     // every tabulated gamma finite and positive
  double cut_min = 0.0;
  double g2x3_max = 0.0;
  bool emission_skippable = false;    // weights, norm and scale finite
  bool absorption_skippable = false;
};

// The used segments of one call.
struct SynSegments {
  std::vector<SynSegment> list;
  // The walk over the segments reads a density that does not exist after
  // the last segment listed: every frequency fails there.
  bool density_missing = false;
};

// Segments whose points are tabulated at a time: 256 x 1026 points of 40
// bytes, about 10 MB, whatever the size of the grid.
constexpr std::size_t kSynSegmentsPerBlock = 256;

// Tabulates the points of one segment and derives its aggregates.
void tabulate_segment(SynSegment& seg, PointFactors* pts, bool with_abs) {
  const double q = seg.q;
  bool ordered = true;
  bool emission_finite = true;
  bool absorption_finite = true;
  double cut_min = std::numeric_limits<double>::infinity();
  double g2x3_max = 0.0;
  const auto add = [&](std::size_t index, double gamma) {
    const PointFactors p = point_factors(gamma, q, with_abs);
    pts[index] = p;
    ordered = ordered && std::isfinite(gamma) && gamma > 0.0;
    cut_min = std::fmin(cut_min, p.cut);
    g2x3_max = std::fmax(g2x3_max, p.g2x3);
    if (index != kGuardedLowerEnd) emission_finite = emission_finite && std::isfinite(p.w_emission);
    if (index != kLowerEnd) {
      absorption_finite =
          absorption_finite && std::isfinite(p.w_abs_pow) && std::isfinite(p.w_abs);
    }
  };
  add(kUpperEnd, seg.gb);
  add(kLowerEnd, seg.ga);
  add(kGuardedLowerEnd, seg.ga_guarded);
  for (int j = 2; j <= kTabulatedStages; ++j) {
    const std::uint64_t it = std::uint64_t{1} << (j - 2);
    const double del = seg.width / static_cast<double>(it);
    double u = seg.lnga + 0.5 * del;
    for (std::uint64_t k = 0; k < it; ++k) {
      add(stage_offset(j) + k, std::exp(u));
      u += del;
    }
  }
  seg.ordered = ordered;
  seg.cut_min = cut_min;
  seg.g2x3_max = g2x3_max;
  const bool norm_finite = std::isfinite(seg.norm);
  seg.emission_skippable = emission_finite && norm_finite && std::isfinite(seg.emission_scale);
  seg.absorption_skippable =
      with_abs && absorption_finite && norm_finite && std::isfinite(seg.absorption_scale);
}

// The used segments in grid order (both end densities above the floor; the
// upper density is not read when the lower one fails).
SynSegments syn_segments(std::span<const double> gamma_bins, std::span<const double> n_distrib,
                         double nu_b) {
  SynSegments segments;
  for (std::size_t i = 0; i + 1 < gamma_bins.size(); ++i) {
    if (i >= n_distrib.size()) {
      segments.density_missing = true;
      break;
    }
    const double n0 = n_distrib[i];
    if (!(n0 > kSynDensityFloor)) continue;
    if (i + 1 >= n_distrib.size()) {
      segments.density_missing = true;
      break;
    }
    const double n1 = n_distrib[i + 1];
    if (!(n1 > kSynDensityFloor)) continue;

    SynSegment seg;
    seg.gamma_i = gamma_bins[i];
    seg.n_i = n0;
    const double g1 = gamma_bins[i + 1];
    const double q = pwl_integ::segment_index(seg.gamma_i, n0, g1, n1);
    seg.q = q;
    seg.lnga = std::log(seg.gamma_i);
    seg.lngb = std::log(g1);
    seg.width = seg.lngb - seg.lnga;
    seg.ga = std::exp(seg.lnga);
    seg.gb = std::exp(seg.lngb);
    seg.ga_guarded = seg.ga - 1.0 > kLowerEndGap ? seg.ga : kLowerEndGamma;
    seg.norm = std::pow(seg.gamma_i, q);
    seg.emission_scale = seg.n_i * (nu_b * constants::syn_emissivity_coeff);
    seg.absorption_scale = seg.n_i * (nu_b * constants::syn_absorption_coeff);
    segments.list.push_back(seg);
  }
  return segments;
}

// True when R is +0 at every tabulated point of the segment at this chi.
bool no_emission_at_points(const SynSegment& seg, double chi) {
  return seg.ordered && (chi <= seg.cut_min || (2.0 * chi) / seg.g2x3_max >= kExpUnderflowX);
}

// ---------------------------------------------------------------------------
// Romberg integration over u = ln gamma.
// ---------------------------------------------------------------------------

// The two integrations differ in their integrand, the stage of the first
// extrapolation and the lower end; both are labelled in the non-convergence
// reports.
struct RombergKind {
  const char* label;
  double (*value)(const PointFactors& p, double r);
  int first_extrapolation_stage;
  std::size_t lower_end;
};

constexpr RombergKind kEmissionRomberg{"RMA", emission_value, kEmissionFirstExtrapolation,
                                       kLowerEnd};
constexpr RombergKind kAbsorptionRomberg{"ARMA", absorption_value, kAbsorptionFirstExtrapolation,
                                         kGuardedLowerEnd};

// The integrand samples of one segment at one frequency: R at the tabulated
// points, evaluated stage by stage as the integrations first reach them and
// kept for the other integration; points of later stages as they come.
class SegmentSamples {
 public:
  SegmentSamples(const SynSegment& seg, const PointFactors* points, double chi, bool with_abs,
                 std::array<double, kTabulatedPoints>& r)
      : seg_(seg), points_(points), chi_(chi), with_abs_(with_abs), r_(r) {}

  // F(gamma_b) + F(lower end), the sum of stage 1.
  template <const RombergKind& kind>
  double ends() {
    return kind.value(points_[kUpperEnd], r_of(kUpperEnd)) +
           kind.value(points_[kind.lower_end], r_of(kind.lower_end));
  }

  // Sum of F over the 2^(j-2) points of stage j >= 2, in increasing order
  // from +0.
  template <const RombergKind& kind>
  double stage_sum(int j, double del) {
    const std::uint64_t it = std::uint64_t{1} << (j - 2);
    double sum = 0.0;
    if (j <= kTabulatedStages) {
      const std::size_t first = stage_offset(j);
      if (stages_evaluated_ < j) {
        for (std::size_t k = first; k < first + it; ++k) {
          r_[k] = r_at(chi_, points_[k]);
          sum += kind.value(points_[k], r_[k]);
        }
        stages_evaluated_ = j;
      } else {
        for (std::size_t k = first; k < first + it; ++k) sum += kind.value(points_[k], r_[k]);
      }
      return sum;
    }
    double u = seg_.lnga + 0.5 * del;
    for (std::uint64_t k = 0; k < it; ++k) {
      const PointFactors p = point_factors(std::exp(u), seg_.q, with_abs_);
      sum += kind.value(p, r_at(chi_, p));
      u += del;
    }
    return sum;
  }

 private:
  // R at one of the three ends, evaluated once.
  double r_of(std::size_t end) {
    const unsigned bit = 1u << end;
    if ((ends_evaluated_ & bit) == 0) {
      r_[end] = r_at(chi_, points_[end]);
      ends_evaluated_ |= bit;
    }
    return r_[end];
  }

  const SynSegment& seg_;
  const PointFactors* points_;
  double chi_;
  bool with_abs_;
  std::array<double, kTabulatedPoints>& r_;
  unsigned ends_evaluated_ = 0;
  int stages_evaluated_ = 1;  // interior stages 2 .. this are in r_
};

struct RombergResult {
  double qromb;
  double dqromb;
  bool converged;
};

// Romberg's method with arrays s[0..60], h[0..60]: trapezoid estimates on
// 2^(j-2) new midpoints per stage, extrapolated to zero step through the last
// 10 stages from the kind's first extrapolation stage on, at most 60 stages.
//
// An integrand that is NaN or infinite somewhere can make the integration
// hopeless; the last stages alone would then cost 2^58 evaluations.  Two
// conditions fix the outcome of all 60 stages, and the integration stops as
// soon as one holds:
//
//  (a) s[j-1] is NaN;
//  (b) s[j-2] and s[j-1] are both infinite.
//
// Non-finite estimates stay non-finite: every later stage starts from the
// previous one, s[j] = 0.5 (s[j-1] + del sum), and +inf can only become +inf
// or NaN (never -inf), NaN only NaN.  So from this stage on, every
// extrapolation window ends in a NaN, or in two infinities of one sign.
// polint cannot fail on these windows (its only error is a zero difference
// of abscissae, and h = 4^-k are distinct).  It starts from the ordinate
// nearest x = 0, the window's last, and its first correction is d[n-2],
// built from the difference of the last two ordinates: NaN in both cases
// (NaN, or inf - inf).  So qromb is NaN and the convergence test, false for
// NaN, fails at every remaining stage; the NaN spreads through the c and d
// tables, so the last correction dqromb is NaN too.  Hence: no convergence,
// qromb = dqromb = NaN, reported and returned as after stage 60.  (A single
// infinity is not enough: a window ending in one +inf can extrapolate to
// +inf with dqromb = +inf, which passes the test.)
template <const RombergKind& kind>
RombergResult romberg_over_ln_gamma(double width, SegmentSamples& samples) {
  std::array<double, kRombergMaxStages + 1> s{};
  std::array<double, kRombergMaxStages + 1> h{};
  h[0] = 1.0;
  double qromb = 0.0;
  double dqromb = 0.0;
  for (int j = 1; j <= kRombergMaxStages; ++j) {
    const auto cur = static_cast<std::size_t>(j - 1);
    if (j == 1) {
      s[0] = 0.5 * width * samples.ends<kind>();
    } else {
      const std::uint64_t it = std::uint64_t{1} << (j - 2);
      const double del = width / static_cast<double>(it);
      s[cur] = 0.5 * (s[cur] + del * samples.stage_sum<kind>(j, del));
    }
    if (std::isnan(s[cur]) || (cur > 0 && std::isinf(s[cur]) && std::isinf(s[cur - 1]))) {
      qromb = s[cur] - s[cur];  // NaN (from NaN, or inf - inf)
      return {qromb, qromb, false};
    }
    if (j >= kind.first_extrapolation_stage) {
      const std::size_t first = cur + 1 - kRombergWindow;
      const auto ext = misc::polint(std::span<const double>(h).subspan(first, kRombergWindow),
                                    std::span<const double>(s).subspan(first, kRombergWindow), 0.0)
                           .unwrap();
      qromb = ext.y;
      dqromb = ext.dy;
      if (std::abs(qromb) * kRombergTolerance >= std::abs(dqromb)) return {qromb, dqromb, true};
    }
    if (j < kRombergMaxStages) {
      s[cur + 1] = s[cur];
      h[cur + 1] = kRombergStepRatio * h[cur];
    }
  }
  return {qromb, dqromb, false};
}

// What a frequency has accumulated over the segments so far.
struct SynSums {
  double j_sum = 0.0;
  double a_sum = 0.0;
  std::string absorption_reports;  // held back until the last segment
};

// Adds the segments [first, first + count) of the list, whose tabulated points
// start at `points`, to the sums of the frequency nu.
//
// As far as anyone can tell, the emission integrals of all segments come
// first, then the absorption integrals: both integrations of a segment run
// together (to share R), but the absorption reports are held back until after
// the last segment, and a missing density fails the call before they are
// written.
void syn_add_segments(SynSums& sums, double nu, const SynSegment* segments, std::size_t count,
                      const PointFactors* points, double nu_b, bool with_abs) {
  const double chi = nu / nu_b;
  const double nu2 = nu * nu;
  std::array<double, kTabulatedPoints> r;
  for (std::size_t s = 0; s < count; ++s, points += kTabulatedPoints) {
    const SynSegment& seg = segments[s];
    const bool dark = no_emission_at_points(seg, chi);
    SegmentSamples samples(seg, points, chi, with_abs, r);

    if (!(dark && seg.emission_skippable)) {
      const auto res = romberg_over_ln_gamma<kEmissionRomberg>(seg.width, samples);
      if (!res.converged) {
        write_whole(stdout, non_convergence_block(
            {kEmissionRomberg.label, chi, seg.q, seg.ga, seg.gb, res.qromb, res.dqromb}));
        write_whole(stderr, non_convergence_verdict(kEmissionRomberg.label));
      }
      sums.j_sum += seg.norm * (seg.emission_scale * res.qromb);
    }

    if (with_abs && !(dark && seg.absorption_skippable && nu2 != 0.0 && !std::isnan(nu2))) {
      const auto res = romberg_over_ln_gamma<kAbsorptionRomberg>(seg.width, samples);
      if (!res.converged) {
        sums.absorption_reports +=
            non_convergence_block(
                {kAbsorptionRomberg.label, chi, seg.q, seg.ga, seg.gb, res.qromb, res.dqromb}) +
            non_convergence_verdict(kAbsorptionRomberg.label) + "\n";
      }
      sums.a_sum += seg.norm * (seg.absorption_scale * res.qromb) / nu2;
    }
  }
}

}  // namespace

std::pair<Spectrum, Spectrum> syn_emissivity_full(std::span<const double> freqs,
                                                  std::span<const double> gamma_bins,
                                                  std::span<const double> n_distrib,
                                                  double b_field, bool with_abs) {
  Spectrum j_nu(freqs.size(), 0.0);
  Spectrum a_nu(freqs.size(), 0.0);
  if (freqs.empty()) return {std::move(j_nu), std::move(a_nu)};

  const double nu_b = constants::nu_b_per_gauss * b_field;
  SynSegments segments = syn_segments(gamma_bins, n_distrib, nu_b);
  std::vector<SynSums> sums(freqs.size());
  // Block by block: tabulate the points of the block's segments (in
  // parallel over segments), then add the block to every frequency's sums
  // (in parallel over frequencies).  Each frequency meets the segments in
  // grid order, one block after the other, as in a single pass.
  std::vector<PointFactors> points;
  for (std::size_t first = 0; first < segments.list.size(); first += kSynSegmentsPerBlock) {
    const std::size_t count = std::min(kSynSegmentsPerBlock, segments.list.size() - first);
    SynSegment* block = segments.list.data() + first;
    points.resize(count * kTabulatedPoints);
    pool::parallel_for(count, [&](std::size_t begin, std::size_t end) {
      for (std::size_t s = begin; s < end; ++s) {
        tabulate_segment(block[s], &points[s * kTabulatedPoints], with_abs);
      }
    });
    pool::parallel_for(freqs.size(), [&](std::size_t begin, std::size_t end) {
      for (std::size_t k = begin; k < end; ++k) {
        syn_add_segments(sums[k], freqs[k], block, count, points.data(), nu_b, with_abs);
      }
    });
  }
  if (segments.density_missing) fail_index_out_of_bounds();

  for (std::size_t k = 0; k < freqs.size(); ++k) {
    if (!sums[k].absorption_reports.empty()) write_whole(stderr, sums[k].absorption_reports);
    // Totals below the floor, negative absorption included, are 0; NaN stays.
    j_nu[k] = sums[k].j_sum < kSynResultFloor ? 0.0 : sums[k].j_sum;
    if (with_abs) a_nu[k] = sums[k].a_sum < kSynResultFloor ? 0.0 : sums[k].a_sum;
  }
  return {std::move(j_nu), std::move(a_nu)};
}

}  // namespace ostrel::radiation
