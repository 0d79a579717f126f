#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "constants.hpp"
#include "error.hpp"
#include "radiation.hpp"
#include "support.hpp"

namespace rad = ostrel::radiation;
namespace k = ostrel::constants;
using namespace ostrel::testing_support;

namespace {

// Angle-averaged synchrotron function from modified Bessel functions:
// R(x) = x^2/2 K43 K13 - (3/20) x^3 (K43^2 - K13^2), K at x/2.
double exact_r(double x) {
  const double a = std::cyl_bessel_k(4.0 / 3.0, x / 2);
  const double b = std::cyl_bessel_k(1.0 / 3.0, x / 2);
  return 0.5 * x * x * a * b - 0.15 * x * x * x * (a * a - b * b);
}

TEST(SynRFit, FollowsTheExactFunctionOnEveryPiece) {
  for (double lx = -8.0; lx <= 2.15; lx += 0.01) {
    const double x = std::pow(10.0, lx);
    EXPECT_NEAR(rad::syn_r_fit(x) / exact_r(x), 1.0, 5e-3) << "x = " << x;
  }
  EXPECT_TRUE(std::isnan(rad::syn_r_fit(kNaN)));
  EXPECT_EQ(rad::syn_r_fit(kInf), 0.0);
}

TEST(SynRFit, BreakpointsBelongToTheRightPiece) {
  // The pieces do not quite meet: at the first breakpoint the value belongs to
  // the fit above (<= on its lower end), at the last one to the fit below.
  const double small = 3.2180900500625734e-4;
  const double large = 15.579904689804556;
  auto r = rad::syn_r_fit;
  EXPECT_EQ(r(small), r(std::nextafter(small, 1.0)));
  EXPECT_NE(r(small), r(std::nextafter(small, 0.0)));
  EXPECT_NEAR(r(large) / r(std::nextafter(large, 0.0)), 1.0, 1e-12);
  EXPECT_GT(std::abs(r(large) / r(std::nextafter(large, 100.0)) - 1.0), 5e-3);
}

TEST(SynDiagnostics, PlainShortestDecimal) {
  const std::pair<double, const char*> cases[] = {
      {1.5, "1.5"},
      {2.0, "2"},
      {-2.0, "-2"},
      {0.0, "0"},
      {1e-7, "0.0000001"},
      {1e21, "1000000000000000000000"},
      {0.1 + 0.2, "0.30000000000000004"},
      {-3.25e-3, "-0.00325"},
      {kNaN, "NaN"},
      {kInf, "inf"},
      {-kInf, "-inf"},
  };
  for (const auto& [x, text] : cases) EXPECT_EQ(rad::plain_shortest_decimal(x), text);
  EXPECT_EQ(rad::plain_shortest_decimal(5e-324), "0." + std::string(323, '0') + "5");
  EXPECT_EQ(rad::plain_shortest_decimal(1.7976931348623157e308), "17976931348623157" + std::string(292, '0'));
}

// ---------------------------------------------------------------------------

// Integral of x^s R(x) dln(x) over [x0, x1] by the trapezoid rule.
double mellin_r(double s, double x0, double x1) {
  const int n = 200000;
  const double l0 = std::log(x0), step = (std::log(x1) - l0) / n;
  double sum = 0.0;
  for (int i = 0; i <= n; ++i) {
    const double x = std::exp(l0 + i * step);
    sum += (i == 0 || i == n ? 0.5 : 1.0) * std::pow(x, s) * rad::syn_r_fit(x);
  }
  return sum * step;
}

TEST(SynEmissivity, PowerLawMatchesTheClosedForm) {
  // N = N0 gamma^-p over a grid much wider than the emitting electrons:
  //   j = (sqrt3 e^2/2c) nu_B N0 (2chi/3)^((1-p)/2) / 2  Int x^((p-1)/2) R dln x
  //   a = (sqrt3 e^2/4 m_e c) (nu_B/nu^2) N0 (p+2) (2chi/3)^(-p/2) / 2
  //         Int x^(p/2) R dln x
  const double p = 2.5, n0 = 3.0, b = 2.0;
  const Vec g = log_grid(10.0, 1e8, 60);
  Vec n;
  for (double gamma : g) n.push_back(n0 * std::pow(gamma, -p));
  const Vec freqs = {1e13, 1e14, 1e15};
  const auto [j, a] = rad::syn_emissivity_full(freqs, g, n, b, true);

  const double e2 = k::e_charge * k::e_charge;
  const double nu_b = k::e_charge * b / (2 * k::pi * k::m_e * k::c);
  for (std::size_t i = 0; i < freqs.size(); ++i) {
    const double nu = freqs[i], y = 2 * (nu / nu_b) / 3;
    const double x0 = y / (g.back() * g.back()), x1 = y / (g.front() * g.front());
    const double j_expected = std::sqrt(3.0) * e2 / (2 * k::c) * nu_b * n0 *
                              std::pow(y, (1 - p) / 2) / 2 * mellin_r((p - 1) / 2, x0, x1);
    const double a_expected = std::sqrt(3.0) * e2 / (4 * k::m_e * k::c) * nu_b / (nu * nu) * n0 *
                              (p + 2) * std::pow(y, -p / 2) / 2 * mellin_r(p / 2, x0, x1);
    EXPECT_NEAR(j[i] / j_expected, 1.0, 1e-5) << nu;
    EXPECT_NEAR(a[i] / a_expected, 1.0, 1e-5) << nu;
  }
  // Source function j/a ~ nu^(5/2) where both follow the power law.
  EXPECT_NEAR(std::log((j[2] / a[2]) / (j[0] / a[0])) / std::log(100.0), 2.5, 1e-4);
}

TEST(SynEmissivity, CasesThatContributeNothing) {
  const Vec freqs = {1e9, 1e12};
  auto all_zero = [](const Vec& v) {
    for (double x : v) {
      if (x != 0.0 || std::signbit(x)) return false;
    }
    return true;
  };
  // One grid point: no segment.
  auto [j1, a1] = rad::syn_emissivity_full(freqs, Vec{100.0}, Vec{1.0}, 1.0, true);
  EXPECT_TRUE(all_zero(j1) && all_zero(a1));
  // Densities at the floor 1e-100 or below, or NaN.
  auto [j2, a2] = rad::syn_emissivity_full(freqs, Vec{10, 100, 1000, 1e4},
                                           Vec{1e-100, 1.0, 1e-101, std::nan("")}, 1.0, true);
  EXPECT_TRUE(all_zero(j2) && all_zero(a2));
  // A segment entirely below the emission cut: chi <= 0.75/gamma_(i+1).
  const double nu_cut = 0.75 / 20.0 * k::nu_b_per_gauss;
  auto [j3, a3] = rad::syn_emissivity_full(Vec{nu_cut, 0.5 * nu_cut}, Vec{10, 20}, Vec{1, 0.5},
                                           1.0, true);
  EXPECT_TRUE(all_zero(j3) && all_zero(a3));
  // Without absorption a_nu is zero and j_nu unchanged.
  const Vec g = {10, 100, 1000}, n = {1, 1e-2, 1e-5};
  auto [j4, a4] = rad::syn_emissivity_full(freqs, g, n, 1.0, false);
  auto [j5, a5] = rad::syn_emissivity_full(freqs, g, n, 1.0, true);
  EXPECT_TRUE(all_zero(a4));
  EXPECT_EQ(j4, j5);
  EXPECT_GT(a5[0], 0.0);
  // The upper density of a segment is not read when the lower one fails.
  auto [j6, a6] = rad::syn_emissivity_full(freqs, Vec{10, 20, 30}, Vec{1.0, 0.0}, 1.0, true);
  EXPECT_TRUE(all_zero(j6) && all_zero(a6));
}

TEST(SynEmissivity, ResultsFollowTheOrderOfFreqs) {
  const Vec g = log_grid(2.0, 1e5, 20);
  Vec n;
  for (double gamma : g) n.push_back(std::pow(gamma, -2.2) * std::exp(-gamma / 3e4));
  const Vec freqs = log_grid(1e8, 1e18, 12);
  Vec reversed(freqs.rbegin(), freqs.rend());
  const auto [j, a] = rad::syn_emissivity_full(freqs, g, n, 0.3, true);
  const auto [jr, ar] = rad::syn_emissivity_full(reversed, g, n, 0.3, true);
  for (std::size_t i = 0; i < freqs.size(); ++i) {
    EXPECT_EQ(j[i], jr[freqs.size() - 1 - i]);
    EXPECT_EQ(a[i], ar[freqs.size() - 1 - i]);
    if (i > 0) {
      EXPECT_NE(j[i], j[i - 1]);
    }
  }
}

TEST(SynEmissivity, SteepSegmentsUseTheClampedIndex) {
  const Vec freqs = {1e9, 1e10};
  auto one_segment = [&](double ratio) {
    return rad::syn_emissivity_full(freqs, Vec{10, 20}, Vec{1.0, ratio}, 1.0, true);
  };
  // Falling faster than gamma^-8: the same as any other such fall.
  EXPECT_EQ(one_segment(1e-12), one_segment(1e-30));
  EXPECT_NE(one_segment(1e-12).first, one_segment(std::pow(2.0, -7.9)).first);
  // Rising faster than gamma^8: clamped too.  The absorption weight
  // gamma^2/(gamma^2-1) + q + 1 is then negative, and so is the total: 0.
  const auto rising = one_segment(1e12);
  EXPECT_EQ(rising, one_segment(1e30));
  EXPECT_GT(rising.first[0], 0.0);
  EXPECT_EQ(rising.second[0], 0.0);
}

TEST(SynEmissivity, MissingDensityIsIndexError) {
  EXPECT_EQ(fatal_text([] {
              rad::syn_emissivity_full(Vec{1e9}, Vec{10, 20, 30}, Vec{1.0, 0.5}, 1.0, false);
            }),
            kOutOfBounds);
  // Nothing is read when there is no frequency.
  EXPECT_TRUE(rad::syn_emissivity_full(Vec{}, Vec{10, 20}, Vec{}, 1.0, true).first.empty());
}

}  // namespace

TEST(SynEmissivity, NaNFrequencyIsNotCutOff) {
  // The emission cut removes electrons at or below 0.75/gamma; a NaN
  // frequency is not below it and runs through as NaN (with the
  // non-convergence report).
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const auto [j, a] = rad::syn_emissivity_full(Vec{NAN, 1e9}, Vec{10.0, 100.0},
                                               Vec{1.0, 1e-2}, 1.0, true);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::isnan(j[0]) && std::isnan(a[0]));
  EXPECT_TRUE(j[1] > 0.0 && a[1] > 0.0);
  EXPECT_NE(out.find("RMA_qromb error\nchi    = NaN\n"), std::string::npos);
  EXPECT_NE(err.find("ARMA_qromb: too many steps\n"), std::string::npos);
}
