#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "coefficients.hpp"
#include "error.hpp"
#include "radiation.hpp"
#include "support.hpp"

namespace {

using ostrel::radiation::rad_cool_mono;
using ostrel::radiation::rad_cool_pwl;
using namespace ostrel::testing_support;

constexpr double kC = ostrel::coefficients::thomson_cooling_coeff;
constexpr double kK = 6.53745089363765e-21;  // b = 4 K gamma nu

// Klein-Nishina factor F(b), pointwise.
double kn_factor(double b) {
  if (b >= 100.0) return 4.5 * (std::log(b) - 11.0 / 6.0) / (b * b);
  if (b >= 1.0) {
    const double L = std::log(b);
    return std::exp(0.00627589 * L * L * L - 0.14948459 * L * L - 0.67980349 * L - 1.01819432);
  }
  if (b >= 0.001) return std::pow(1.0 + b, -1.5);
  return 1.0;
}

// C gamma^2 int u(nu) F(4 K gamma nu) dnu with u a power law between grid
// points (index clamped to [-8, 8]) and F evaluated pointwise (Simpson in ln nu, 64 steps a segment).
double direct_rate(double gamma, const Vec& freqs, const Vec& uu, bool with_kn) {
  double sum = 0.0;
  for (std::size_t k = 1; k < freqs.size(); ++k) {
    const double l0 = std::log(freqs[k - 1]);
    const double l1 = std::log(freqs[k]);
    const double q = std::fmin(std::fmax(-std::log(uu[k] / uu[k - 1]) / (l1 - l0), -8.0), 8.0);
    const int n = 64;
    const double h = (l1 - l0) / n;
    for (int j = 0; j <= n; ++j) {
      const double nu = std::exp(l0 + j * h);
      const double u = uu[k - 1] * std::exp(-q * (j * h));
      const double f = u * nu * (with_kn ? kn_factor(4.0 * kK * gamma * nu) : 1.0);
      sum += (j == 0 || j == n ? 1.0 : (j % 2 ? 4.0 : 2.0)) * f * h / 3.0;
    }
  }
  return kC * gamma * gamma * sum;
}

// ----- monochromatic seed ----------------------------------------------------

TEST(RadCoolMono, ThomsonRateGoesWithTheMomentum) {
  const Vec gg = {1.0, 1.5, 10.0, 3e4, 1e8};
  const Vec rate = rad_cool_mono(gg, 1e10, 2.5, false);
  ASSERT_EQ(rate.size(), gg.size());
  EXPECT_EQ(rate[0], 0.0);
  for (std::size_t i = 0; i < gg.size(); ++i) {
    EXPECT_DOUBLE_EQ(rate[i], kC * 2.5 * std::sqrt(gg[i] * gg[i] - 1.0)) << gg[i];
  }
  EXPECT_TRUE(std::isnan(rad_cool_mono(Vec{0.5}, 1e10, 1.0, false)[0]));
  EXPECT_TRUE(rad_cool_mono(Vec{}, 1e10, 1.0, true).empty());
}

// A Lorentz factor whose Klein-Nishina parameter ((4 gamma) nu0) K is exactly b.
double gamma_at(double b, double nu0) {
  double g = b / (4.0 * nu0 * kK);
  for (int i = 0; i < 64 && ((4.0 * g) * nu0) * kK != b; ++i) {
    g = std::nextafter(g, ((4.0 * g) * nu0) * kK < b ? 1e300 : 0.0);
  }
  return g;
}

TEST(RadCoolMono, KleinNishinaFormsAndTheirBreaks) {
  const double nu0 = 1e12;
  // The breaks belong to the range above them, except 0.001 (no correction).
  const double bs[] = {1e-4, 0.001, 0.002, 0.3, 1.0, 7.0, 100.0, 3e3};
  for (double b : bs) {
    const double g = gamma_at(b, nu0);
    ASSERT_EQ(((4.0 * g) * nu0) * kK, b);
    const double thomson = rad_cool_mono(Vec{g}, nu0, 1.0, false)[0];
    const double kn = rad_cool_mono(Vec{g}, nu0, 1.0, true)[0];
    const double expected = b == 0.001 ? 1.0 : kn_factor(b);
    EXPECT_NEAR(kn / thomson, expected, 1e-14) << "b=" << b;
  }
}

TEST(RadCoolMono, KleinNishinaFactorFallsAndIsNearlyContinuous) {
  // Sweep b over 1e-5 .. 1e5: the factor never rises, and across the breaks
  // of the piecewise form it jumps by no more than the fit's few per cent.
  const double nu0 = 1e12;
  Vec gg;
  for (double lb = -5.0; lb <= 5.0; lb += 0.01) gg.push_back(std::pow(10.0, lb) / (4.0 * nu0 * kK));
  const Vec th = rad_cool_mono(gg, nu0, 1.0, false);
  const Vec kn = rad_cool_mono(gg, nu0, 1.0, true);
  double prev = 1.0;
  for (std::size_t i = 0; i < gg.size(); ++i) {
    const double f = kn[i] / th[i];
    EXPECT_LE(f, 1.0);
    EXPECT_LT(f, prev * 1.025) << "b=" << 4.0 * nu0 * kK * gg[i];
    EXPECT_GT(f, prev * std::pow(10.0, -0.02) * 0.97) << "b=" << 4.0 * nu0 * kK * gg[i];
    prev = f;
  }
}

// ----- tabulated seed --------------------------------------------------------

TEST(RadCoolPwl, ThomsonSegmentsIntegrateTheSpectrum) {
  const Vec gg = {1.0, 30.0, 2e5};
  // Flat segment: C gamma^2 u (nu1 - nu0).
  {
    const Vec rate = rad_cool_pwl(gg, Vec{1e9, 3e9}, Vec{2e-12, 2e-12}, false);
    for (std::size_t i = 0; i < gg.size(); ++i) {
      EXPECT_NEAR(rate[i], kC * gg[i] * gg[i] * 2e-12 * 2e9, 1e-13 * rate[i]);
    }
  }
  // Power laws u0 (nu/nu0)^-q, including q = 1 (logarithm) and a clamped
  // steep segment (q = 12 is integrated as q = 8).
  for (double q : {-3.0, 0.5, 1.0, 2.5, 12.0}) {
    const double nu0 = 1e10, r = 5.0, u0 = 1e-11;
    const double qe = q > 8.0 ? 8.0 : q;
    const double integral =
        qe == 1.0 ? u0 * nu0 * std::log(r) : u0 * nu0 * (std::pow(r, 1.0 - qe) - 1.0) / (1.0 - qe);
    const Vec rate = rad_cool_pwl(gg, Vec{nu0, r * nu0}, Vec{u0, u0 * std::pow(r, -q)}, false);
    for (std::size_t i = 0; i < gg.size(); ++i) {
      EXPECT_NEAR(rate[i], kC * gg[i] * gg[i] * integral, 1e-12 * rate[i]) << "q=" << q;
    }
  }
}

TEST(RadCoolPwl, NarrowSegmentsAgreeWithinTheSeriesTolerance) {
  // Ratios near 1 take the series forms; their absolute error is ~1e-6 in
  // units of u0 nu0, on either side of the guards (d = 1e-3 .. 2e-3).
  for (double d : {1e-5, 1e-3, 1.5e-3, 2e-3, 0.05}) {
    for (double q : {-2.0, 1.5, 4.0}) {
      const double nu0 = 1e10, u0 = 1e-11, r = 1.0 + d;
      const double integral = u0 * nu0 * std::expm1((1.0 - q) * std::log1p(d)) / (1.0 - q);
      const Vec rate = rad_cool_pwl(Vec{10.0}, Vec{nu0, r * nu0}, Vec{u0, u0 * std::pow(r, -q)},
                                    false);
      EXPECT_NEAR(rate[0], kC * 100.0 * integral, kC * 100.0 * u0 * nu0 * 2e-6)
          << "d=" << d << " q=" << q;
    }
  }
}

TEST(RadCoolPwl, KleinNishinaRateFollowsTheDirectIntegral) {
  // A broad seed spectrum, electrons whose segments cross every break of F;
  // segments take F's form at their left end, so the rate follows the direct
  // integral to within a few tenths of a per cent here, and stays below Thomson.
  const Vec freqs = logspace(8.0, 20.0, 49);
  Vec uu(freqs.size());
  for (std::size_t k = 0; k < freqs.size(); ++k) {
    uu[k] = 1e-10 * std::pow(freqs[k] / 1e8, -0.7) * std::exp(-freqs[k] / 1e19);
  }
  const Vec gg = logspace(0.0, 7.0, 36);
  const Vec kn = rad_cool_pwl(gg, freqs, uu, true);
  const Vec th = rad_cool_pwl(gg, freqs, uu, false);
  for (std::size_t i = 0; i < gg.size(); ++i) {
    EXPECT_NEAR(th[i] / direct_rate(gg[i], freqs, uu, false), 1.0, 1e-6) << gg[i];
    EXPECT_NEAR(kn[i] / direct_rate(gg[i], freqs, uu, true), 1.0, 5e-3) << gg[i];
    EXPECT_LT(kn[i], th[i]) << gg[i];
  }
}

TEST(RadCoolPwl, DegenerateSpectra) {
  const Vec gg = {1.0, 100.0};
  EXPECT_EQ(rad_cool_pwl(gg, Vec{1e10}, Vec{1.0}, true), (Vec{0.0, 0.0}));
  EXPECT_EQ(rad_cool_pwl(gg, Vec{1e10, 1e11, 1e12}, Vec{0.0, 0.0, 0.0}, true), (Vec{0.0, 0.0}));
  // A negative point removes both segments it touches.
  EXPECT_EQ(rad_cool_pwl(gg, Vec{1e10, 1e11, 1e12}, Vec{1e-10, -1.0, 1e-10}, false),
            (Vec{0.0, 0.0}));
  EXPECT_TRUE(rad_cool_pwl(Vec{}, Vec{}, Vec{}, true).empty());
  EXPECT_TRUE(rad_cool_pwl(Vec{}, Vec{1e10, 1e11}, Vec{}, true).empty());
  // Equal neighbouring frequencies with different u: q = -8, no contribution.
  const Vec with_step = rad_cool_pwl(gg, Vec{1e10, 1e11, 1e11}, Vec{1e-12, 1e-12, 5e-12}, true);
  const Vec without = rad_cool_pwl(gg, Vec{1e10, 1e11}, Vec{1e-12, 1e-12}, true);
  EXPECT_EQ(with_step, without);
}

TEST(RadCoolPwl, MissingEntriesFail) {
  EXPECT_EQ(fatal_text([] { rad_cool_pwl(Vec{10.0}, Vec{}, Vec{}, false); }), kOutOfBounds);
  EXPECT_EQ(fatal_text([] { rad_cool_pwl(Vec{10.0}, Vec{1e9, 1e10, 1e11}, Vec{1.0, 1.0}, false); }),
            kOutOfBounds);
}

TEST(RadCoolPwl, UndefinedIndexIsNaNOrAFailedIntegration) {
  // Two equal neighbouring frequencies with equal u give q = NaN.
  const Vec freqs = {3.8e11, 3.8e11, 4e11};
  const Vec uu = {1e-12, 1e-12, 1e-12};
  EXPECT_TRUE(std::isnan(rad_cool_pwl(Vec{1e6}, freqs, uu, false)[0]));
  // x0 = 4 K gamma nu ~ 0.01 and ~ 10: the Romberg integration of the NaN
  // integrand cannot converge, which is fatal.
  for (double gamma : {1e6, 1e9}) {
    EXPECT_EQ(fatal_text([&] { rad_cool_pwl(Vec{10.0, gamma}, freqs, uu, true); }),
              message::unwrap(message::kQrombTooManySteps));
  }
  // x0 ~ 1e4 uses the closed asymptotic form: NaN again.
  EXPECT_TRUE(std::isnan(rad_cool_pwl(Vec{1e12}, freqs, uu, true)[0]));
}

}  // namespace
