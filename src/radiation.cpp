#include "radiation.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "constants.hpp"
#include "error.hpp"
#include "misc.hpp"
#include "pool.hpp"
#include "pwl_integ.hpp"

namespace ostrel::radiation {

// ===== synchrotron ===========================================================
//
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

std::string plain_shortest_decimal(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  // Shortest round-trip digits d.ddd and exponent e from the scientific form,
  // then the same digits placed around the decimal point.
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  std::string out;
  if (sci.front() == '-') {
    out.push_back('-');
    sci.remove_prefix(1);
  }
  const std::size_t e_pos = sci.find('e');
  std::string digits;
  for (char ch : sci.substr(0, e_pos)) {
    if (ch != '.') digits.push_back(ch);
  }
  const bool negative_exponent = sci[e_pos + 1] == '-';
  long exponent = 0;
  for (char ch : sci.substr(e_pos + 2)) exponent = exponent * 10 + (ch - '0');
  if (negative_exponent) exponent = -exponent;

  const long point = exponent + 1;  // digits before the decimal point
  const auto n_digits = static_cast<long>(digits.size());
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= n_digits) {
    out += digits;
    out.append(static_cast<std::size_t>(point - n_digits), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out.push_back('.');
    out.append(digits, static_cast<std::size_t>(point));
  }
  return out;
}

namespace {

constexpr double kSynDensityFloor = 1e-100;  // segments need both ends above
constexpr double kSynIndexClamp = 8.0;       // |q| at most this
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
  double q;        // N ~ gamma^-q, clamped to [-8, 8] (NaN stays NaN)
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
    double q = -std::log(n1 / n0) / std::log(g1 / seg.gamma_i);
    if (q > kSynIndexClamp) {
      q = kSynIndexClamp;
    } else if (q < -kSynIndexClamp) {
      q = -kSynIndexClamp;
    }
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
// extrapolation, the lower end and where the non-convergence report goes.
struct RombergKind {
  const char* label;
  double (*value)(const PointFactors& p, double r);
  int first_extrapolation_stage;
  std::size_t lower_end;
  bool report_on_stdout;
};

constexpr RombergKind kEmissionRomberg{"RMA", emission_value, kEmissionFirstExtrapolation,
                                       kLowerEnd, true};
constexpr RombergKind kAbsorptionRomberg{"ARMA", absorption_value, kAbsorptionFirstExtrapolation,
                                         kGuardedLowerEnd, false};

// Writes text to the stream in one locked write, so that reports of tasks on
// different workers do not mix.
void write_whole(std::FILE* stream, const std::string& text) {
  flockfile(stream);
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
  funlockfile(stream);
}

// The report block of an integration that did not converge.
std::string non_convergence_block(const RombergKind& kind, double chi, const SynSegment& seg,
                                  double qromb, double dqromb) {
  return std::string(kind.label) + "_qromb error\n" +
         "chi    = " + plain_shortest_decimal(chi) + "\n" +
         "q      = " + plain_shortest_decimal(seg.q) + "\n" +
         "ga     = " + plain_shortest_decimal(seg.ga) + "\n" +
         "gb     = " + plain_shortest_decimal(seg.gb) + "\n" +
         "qromb  = " + plain_shortest_decimal(qromb) + "\n" +
         "dqromb = " + plain_shortest_decimal(dqromb) + "\n";
}

std::string non_convergence_verdict(const RombergKind& kind) {
  return std::string(kind.label) + "_qromb: too many steps";
}

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
        write_whole(stdout, non_convergence_block(kEmissionRomberg, chi, seg, res.qromb, res.dqromb));
        write_whole(stderr, non_convergence_verdict(kEmissionRomberg));
      }
      sums.j_sum += seg.norm * (seg.emission_scale * res.qromb);
    }

    if (with_abs && !(dark && seg.absorption_skippable && nu2 != 0.0 && !std::isnan(nu2))) {
      const auto res = romberg_over_ln_gamma<kAbsorptionRomberg>(seg.width, samples);
      if (!res.converged) {
        sums.absorption_reports +=
            non_convergence_block(kAbsorptionRomberg, chi, seg, res.qromb, res.dqromb) +
            non_convergence_verdict(kAbsorptionRomberg) + "\n";
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

// ===== inverse Compton =======================================================
//
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

// ===== Compton cooling =======================================================
//
// An electron of Lorentz factor gamma in an isotropic field of spectral
// energy density u(nu) loses energy at the Thomson rate
// C gamma^2 int u(nu) dnu, C = (4/3) sigma_T/(m_e c).  In the Klein-Nishina
// regime each frequency counts with a factor F(b) < 1 of the parameter
// b = 4 K gamma nu:
//
//   b >= 100           F = 4.5 (ln b - 11/6)/b^2       (asymptotic form)
//   1 <= b < 100       F = exp(a3 L^3 + a2 L^2 + a1 L + a0), L = ln b (fit)
//   0.001 <= b < 1     F = (1 + b)^-1.5                 (transition form)
//   b below 0.001      F = 1                            (Thomson)
//
// The tabulated spectrum is integrated in the variable x = b: with
// Y = 4K gamma u, the rate is C int Y F dx/(4K)^2.

namespace {

using pwl_integ::ipow;

constexpr double kThomsonCooling = constants::thomson_cooling_coeff;
// Photon-energy factor of the Klein-Nishina parameter b = 4 K gamma nu, and
// 4K (exactly 4 times K).
constexpr double kKnK = 6.53745089363765e-21;
constexpr double kKn4K = 2.61498035745506e-20;
// A seed segment counts only if Y at both its ends exceeds this.
constexpr double kCoolFloor = 1e-100;

// Ranges of b of the Klein-Nishina forms.
constexpr double kKnAsymptoticFrom = 100.0;
constexpr double kKnFitFrom = 1.0;
constexpr double kKnTransitionFrom = 0.001;
constexpr double kElevenSixths = 1.8333333333333333;
// Coefficients of the fitted correction, a0 .. a3.
constexpr double kKnFit0 = -1.01819432;
constexpr double kKnFit1 = -0.67980349;
constexpr double kKnFit2 = -0.14948459;
constexpr double kKnFit3 = 0.00627589;

// Fitted Klein-Nishina factor for 1 <= b < 100, in terms of L = ln b.
double kn_fit_factor(double L) {
  return std::exp(kKnFit3 * ipow<3>(L) + (kKnFit2 * ipow<2>(L) + (kKnFit1 * L + kKnFit0)));
}

// Klein-Nishina factor of the transition range 0.001 <= b < 1.
double kn_transition_factor(double b) { return std::pow(b + 1.0, -1.5); }

// Asymptotic Klein-Nishina factor for b >= 100, without the 4.5/b^2.
double kn_asymptotic_log(double b) { return std::log(b) - kElevenSixths; }

// ---------------------------------------------------------------------------
// Integrals over one segment [x0, x1] of the power law x^-s, in the ratio
// r = x1/x0:
//
//   P0(r, s) = int_1^r x^-s dx        = (1 - r^(1-s))/(s-1)
//                                     ~ ln r - (s-1)(ln r)^2/2,
//   P1(r, s) = int_1^r x^-s ln x dx   = (1 - r^(1-s)(1 + (s-1) ln r))/(s-1)^2
//                                     ~ (ln r)^2/2 - (s-1)(ln r)^3/3.
//
// The closed forms cancel when (s-1) ln r is small; the two-term series is
// used while the next term, (s-1)^2 (ln r)^3/6 resp. (s-1)^2 (ln r)^4/8, is at
// most 1e-6.  Near r = 1 the powers of ln r are taken as powers of
// d = r - 1 while the first correction of (ln r)^n = d^n (1 - n d/2 + ...),
// (n/2) d^(n+1), is at most 1e-6.  The tests keep the sign of d and are
// strict; a NaN selects the series.
// ---------------------------------------------------------------------------
constexpr double kSegmentTol = 1e-6;
constexpr double kP0Switch = 6e-6;

// Guarded powers Lambda_n(r) of ln r, n = 1 .. 4.
struct SegmentLogs {
  double l1, l2, l3, l4;

  explicit SegmentLogs(double r) {
    const double d = r - 1.0;
    const double L = std::log(r);
    l1 = 0.5 * ipow<2>(d) > kSegmentTol ? L : d;
    l2 = ipow<3>(d) > kSegmentTol ? ipow<2>(L) : ipow<2>(d);
    l3 = 1.5 * ipow<4>(d) > kSegmentTol ? ipow<3>(L) : ipow<3>(d);
    l4 = 2.0 * ipow<5>(d) > kSegmentTol ? ipow<4>(L) : ipow<4>(d);
  }
};

double segment_p0(const SegmentLogs& lg, double r, double s) {
  const double sm1 = s - 1.0;
  if (sm1 * sm1 * lg.l3 > kP0Switch) return (1.0 - std::pow(r, 1.0 - s)) / sm1;
  return lg.l1 - 0.5 * sm1 * lg.l2;
}

double segment_p1(const SegmentLogs& lg, double r, double s) {
  const double sm1 = s - 1.0;
  if (sm1 * sm1 * lg.l4 / 8.0 > kSegmentTol) {
    return (1.0 - std::pow(r, 1.0 - s) * (1.0 + sm1 * lg.l1)) / (sm1 * sm1);
  }
  return lg.l2 / 2.0 - sm1 * lg.l3 / 3.0;
}

// Contribution of the seed segment [x0, x1] with Y = y0 (x/x0)^-q,
// int Y F dx, where the Klein-Nishina form F is chosen by x0 for the whole
// segment.  Only the range 0.001 <= x0 < 100 needs a Romberg integration; its
// failure is fatal.
double cooling_segment(double x0, double x1, double y0, double q, bool with_kn) {
  const double r = x1 / x0;
  if (with_kn) {
    if (x0 >= kKnAsymptoticFrom) {
      // int Y 4.5 (ln x - 11/6)/x^2 dx, with x = x0 t.
      const SegmentLogs lg(r);
      const double p = q + 2.0;
      return (kn_asymptotic_log(x0) * segment_p0(lg, r, p) + segment_p1(lg, r, p)) * (4.5 * y0) /
             x0;
    }
    if (x0 >= kKnFitFrom) {
      const double I = misc::qromb_w2arg(trans_kn_fit, x0, x1, q).unwrap();
      return (y0 * I) * std::pow(x0, q);
    }
    if (x0 >= kKnTransitionFrom) {
      const double I = misc::qromb_w2arg(trans_kn, x0, x1, q).unwrap();
      return (y0 * I) * std::pow(x0, q);
    }
  }
  return (y0 * x0) * segment_p0(SegmentLogs(r), r, q);
}

// Cooling sum of one Lorentz factor gamma over the seed segments.
//
// The Klein-Nishina parameters x_k = (4K gamma) nu_k and the spectrum in that
// variable, Y_k = (gamma u_k) 4K, are formed as the row is walked: the very
// products a table of all rows would hold, without the table (each row reads
// each of them once or twice).
double cooling_row_sum(double gamma, std::span<const double> freqs, std::span<const double> uu,
                       bool with_kn) {
  // The first segment ends at grid point 1: a row without grid points has no
  // such point to read.
  if (freqs.empty()) fail_index_out_of_bounds();
  const double x_scale = kKn4K * gamma;
  double x0 = x_scale * freqs[0];
  double y0 = (gamma * uu[0]) * kKn4K;
  double sum = 0.0;
  for (std::size_t k = 1; k < freqs.size(); ++k) {
    const double x1 = x_scale * freqs[k];
    const double y1 = (gamma * uu[k]) * kKn4K;
    if (y1 > kCoolFloor && y0 > kCoolFloor) {
      const double q = pwl_integ::segment_index(x0, y0, x1, y1);
      sum = sum + cooling_segment(x0, x1, y0, q, with_kn);
    }
    x0 = x1;
    y0 = y1;
  }
  return sum;
}

}  // namespace

double trans_kn(double x, double q) { return std::pow(x, -q) * kn_transition_factor(x); }

double trans_kn_fit(double x, double q) { return std::pow(x, -q) * kn_fit_factor(std::log(x)); }

Spectrum rad_cool_pwl(std::span<const double> gg, std::span<const double> freqs,
                      std::span<const double> uu, bool with_kn) {
  // Every row reads u_k at every grid point of freqs: a spectrum shorter than
  // its grid fails before any row is evaluated.
  if (!gg.empty() && uu.size() < freqs.size()) fail_index_out_of_bounds();
  return pool::parallel_map<double>(gg.size(), [&](std::size_t i) {
    const double sum = cooling_row_sum(gg[i], freqs, uu, with_kn);
    return (sum * kThomsonCooling) / (kKn4K * kKn4K);
  });
}

Spectrum rad_cool_mono(std::span<const double> gg, double nu0, double u0, bool with_kn) {
  // Klein-Nishina parameters b_i = 4 gamma_i nu0 K.
  std::vector<double> B(gg.size());
  for (std::size_t i = 0; i < gg.size(); ++i) B[i] = ((4.0 * gg[i]) * nu0) * kKnK;

  return pool::parallel_map<double>(gg.size(), [&](std::size_t i) {
    const double g = gg[i];
    const double thomson = std::sqrt(g * g - 1.0) * (kThomsonCooling * u0);
    if (!with_kn) return thomson;
    const double b = B[i];
    if (b >= kKnAsymptoticFrom) return thomson * 4.5 * kn_asymptotic_log(b) / (b * b);
    if (b >= kKnFitFrom) return thomson * kn_fit_factor(std::log(b));
    if (b > kKnTransitionFrom) return thomson * kn_transition_factor(b);
    return thomson;
  });
}

// ===== radiative transfer ====================================================
//
// A homogeneous source of emissivity j and absorption coefficient alpha emits
// the intensity j * R * (escape factor of the optical depth tau).  Optical
// depths below the floor 1e-100 (NaN and negative alpha included) are taken
// as that floor, i.e. as optically thin.

namespace {

constexpr double kTauFloor = 1e-100;
constexpr double kTauThin = 1e-10;       // below: escape factor exactly 1
constexpr double kTauSeriesMax = 0.01;   // sphere: series below this
constexpr double kTauAsymptotic = 100.0; // sphere: large-tau form above this

// max(tau, floor) that also maps NaN to the floor.
double floored_depth(double tau) { return tau > kTauFloor ? tau : kTauFloor; }

// Escape factor u of a sphere of diameter optical depth tau, normalised so that
// the intensity is j R u / 3:  u = 3 t(tau)/tau with
//   t(tau) = 1/2 - (1 - (1 + tau) e^-tau)/tau^2,
// its large-tau form 1/2 - 1/tau^2 (the exponential terms are below rounding)
// and its small-tau series tau/3 - tau^2/8 (the exact form cancels there).
double sphere_escape_factor(double tau) {
  if (tau <= kTauThin) return 1.0;
  double t;
  if (tau > kTauAsymptotic) {
    t = -1.0 / (tau * tau) + 0.5;
  } else if (tau >= kTauSeriesMax) {
    t = 0.5 * (1.0 - 2.0 * (1.0 - std::exp(-tau) * (tau + 1.0)) / (tau * tau));
  } else {
    t = (tau * tau) * (-0.125) + tau / 3.0;
  }
  return (t * 3.0) / tau;
}

// Escape factor (1 - e^-tau)/tau of a slab of optical depth tau.
double slab_escape_factor(double tau) {
  if (tau <= kTauThin) return 1.0;
  return (1.0 - std::exp(-tau)) / tau;
}

}  // namespace

Spectrum rad_trans_blob(double blob_radius, std::span<const double> j_nu,
                        std::span<const double> a_nu) {
  Spectrum out(j_nu.size(), 0.0);
  for (std::size_t k = 0; k < j_nu.size(); ++k) {
    const double s = j_nu[k] * blob_radius;
    const double tau = floored_depth(at(a_nu, k) * (blob_radius + blob_radius));
    out[k] = (s * sphere_escape_factor(tau)) / 3.0;
  }
  return out;
}

Spectrum rad_trans_slab(double blob_radius, std::span<const double> j_nu,
                        std::span<const double> a_nu) {
  Spectrum out(j_nu.size(), 0.0);
  for (std::size_t k = 0; k < j_nu.size(); ++k) {
    const double s = j_nu[k] * blob_radius;
    const double tau = floored_depth(at(a_nu, k) * blob_radius);
    out[k] = s * slab_escape_factor(tau);
  }
  return out;
}

}  // namespace ostrel::radiation
