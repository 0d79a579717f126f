#include <gtest/gtest.h>

#include <cmath>

#include "pwl_integ.hpp"

namespace {

using ostrel::pwl_integ::power_integral;
using ostrel::pwl_integ::sscr;
using ostrel::pwl_integ::sscs;

// Composite 8-point Gauss-Legendre rule over [a, b]: far more accurate than
// the series tolerances for the smooth integrands used here.
template <class F>
double gauss(F&& f, double a, double b, int panels = 32) {
  static constexpr double x[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267,
                                  0.9602898564975363};
  static constexpr double w[4] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745,
                                  0.1012285362903763};
  const double h = (b - a) / panels;
  double sum = 0.0;
  for (int i = 0; i < panels; ++i) {
    const double mid = a + (i + 0.5) * h;
    for (int j = 0; j < 4; ++j) {
      sum += w[j] * (f(mid - 0.5 * h * x[j]) + f(mid + 0.5 * h * x[j]));
    }
  }
  return 0.5 * h * sum;
}

// int_lo^hi y^s dy, integrated in v = ln y.
double power_quad(double lo, double hi, double s) {
  return gauss([s](double v) { return std::exp((s + 1.0) * v); }, std::log(lo), std::log(hi));
}

// int_1^rho t^c (ln t)^m dt, in u = ln t.
double log_moment_quad(double rho, double c, int m) {
  return gauss([c, m](double u) { return std::exp((c + 1.0) * u) * std::pow(u, m); }, 0.0,
               std::log(rho));
}

// int_a2^a3 x^c (int_{a0 x}^a1 y^b dy) dx by nested quadrature.
double sscs_quad(double a0, double a1, double a2, double a3, double b, double c) {
  return gauss(
      [=](double u) {
        const double x = std::exp(u);
        return std::exp((c + 1.0) * u) * power_quad(a0 * x, a1, b);
      },
      std::log(a2), std::log(a3), 16);
}

// ----- power integral M(rho, k) ---------------------------------------------

TEST(PowerIntegral, SpecialValues) {
  for (double k : {-3.0, 0.0, 0.5, 7.0}) EXPECT_EQ(power_integral(1.0, k), 0.0) << k;
  EXPECT_EQ(power_integral(2.0, 1.0), 1.0);
  // k = 0: ln rho, or rho - 1 once (rho - 1)^2/2 <= 1e-9.
  EXPECT_EQ(power_integral(2.0, 0.0), std::log(2.0));
  EXPECT_EQ(power_integral(1.0 + 4e-5, 0.0), (1.0 + 4e-5) - 1.0);
  EXPECT_EQ(power_integral(1.0 + 5e-5, 0.0), std::log(1.0 + 5e-5));
}

TEST(PowerIntegral, AgreesWithQuadratureOnBothSidesOfEverySwitch) {
  // (rho, k) on each side of k^2 ln^3 rho = 6e-9 (closed form / series) and of
  // the d-for-ln rho guards near rho = 1, plus ordinary values.
  const double cases[][2] = {
      {std::exp(0.17), 1e-3}, {std::exp(0.19), 1e-3},   // switch at ln rho ~ 0.1817
      {std::exp(1.8e-3), 1.0}, {std::exp(1.85e-3), 1.0}, // switch at ln rho ~ 1.817e-3
      {1.0 + 4e-5, 2.0},       {1.0 + 5e-5, 2.0},        // ell1 guard at d ~ 4.47e-5
      {1.0 + 9e-4, 0.3},       {1.0 + 1.1e-3, 0.3},      // ell2 guard at d = 1e-3
      {1e3, 2.5},              {1e3, -2.5},   {3.0, -8.0}, {1e-2 + 1.0, 8.0}, {50.0, 0.0}};
  for (const auto& cs : cases) {
    const double rho = cs[0];
    const double k = cs[1];
    const double ref = log_moment_quad(rho, k - 1.0, 0);
    // Dropped series terms are at most ~1e-9 in absolute value.
    EXPECT_NEAR(power_integral(rho, k), ref, 3e-9 + 1e-13 * std::fabs(ref))
        << "rho=" << rho << " k=" << k;
  }
}

// ----- P0 and P1 at the cooling tolerance ------------------------------------

TEST(SegmentIntegrals, AgreeWithQuadratureOnBothSidesOfEverySwitch) {
  using ostrel::pwl_integ::RatioLogs;
  using ostrel::pwl_integ::kSegmentTol;
  // (r, s) on each side of the P0 switch (s-1)^2 ln^3 r = 6e-6, of the P1
  // switch (s-1)^2 ln^4 r / 8 = 1e-6 and of the d-for-ln r guards of the
  // first and second powers (d ~ 1.41e-3 and d = 1e-2), plus ordinary values.
  const double cases[][2] = {
      {std::exp(0.017), 2.0},  {std::exp(0.019), 2.0},  {std::exp(0.05), 2.0},
      {std::exp(0.056), 2.0},  {1.0 + 1.3e-3, 3.0},     {1.0 + 1.5e-3, 3.0},
      {1.0 + 0.009, 1.5},      {1.0 + 0.011, 1.5},      {30.0, 2.7},
      {30.0, -1.0},            {1e3, 1.0},              {4.0, 9.0}};
  for (const auto& cs : cases) {
    const double r = cs[0];
    const double s = cs[1];
    const RatioLogs logs(r, kSegmentTol);
    const double p0 = log_moment_quad(r, -s, 0);
    const double p1 = log_moment_quad(r, -s, 1);
    // Dropped terms and guards are at most ~1e-6 in absolute value.
    EXPECT_NEAR(ostrel::pwl_integ::segment_p0(logs, s), p0, 3e-6 + 1e-12 * std::fabs(p0))
        << "r=" << r << " s=" << s;
    EXPECT_NEAR(ostrel::pwl_integ::segment_p1(logs, s), p1, 3e-6 + 1e-12 * std::fabs(p1))
        << "r=" << r << " s=" << s;
  }
}

// ----- sscr ----------------------------------------------------------------

TEST(Sscr, IsTheProductOfTwoPowerIntegrals) {
  const double cases[][6] = {{0.01, 0.5, 2.0, 30.0, 1.25, -0.75},
                             {1e-4, 1e-2, 1.0, 1.2, -3.5, 1.0},
                             {0.3, 0.4, 5.0, 5.5, -1.0, 0.2},  // b + 1 = 0: inner is a log
                             {0.1, 0.9, 2.0, 8.0, 0.5, -2.5}}; // b + c + 2 = 0
  for (const auto& a : cases) {
    const double ref = power_quad(a[0], a[1], a[4]) * power_quad(a[2], a[3], a[4] + a[5] + 1.0);
    EXPECT_NEAR(sscr(a[0], a[1], a[2], a[3], a[4], a[5]), ref, 1e-11 * std::fabs(ref) + 1e-15);
  }
}

TEST(Sscr, VanishesOnAnEmptyRange) {
  EXPECT_EQ(sscr(0.3, 0.3, 2.0, 7.0, 1.5, -0.5), 0.0);
  EXPECT_EQ(sscr(0.1, 0.3, 7.0, 7.0, 1.5, -0.5), 0.0);
}

// ----- sscs ----------------------------------------------------------------

TEST(Sscs, ClosedFormAgreesWithTheDoubleIntegral) {
  // e = a1/(a0 a3) well away from 1, so P^2 ln^3 e exceeds the switch.
  const double cases[][6] = {{0.1, 10.0, 1.0, 5.0, 1.5, 0.3},
                             {0.1, 10.0, 1.0, 5.0, -1.0 + 1e-2, 0.3},
                             {1e-4, 1.0, 10.0, 40.0, -2.75, 0.6},
                             {1e-4, 1.0, 10.0, 40.0, -3.0, -1.0},
                             {0.02, 3.0, 1.0, 1.002, 0.25, -1.5},
                             {0.02, 3.0, 1.0, 1.0001, 0.25, -1.5}};
  for (const auto& a : cases) {
    const double ref = sscs_quad(a[0], a[1], a[2], a[3], a[4], a[5]);
    // Each M carries the absolute series tolerance (~1e-9) near rho = 1,
    // scaled by its coefficient in the closed form.
    const double P = 1.0 + a[4];
    const double scale =
        std::pow(a[2], a[5] + 1.0) * (std::pow(a[1], P) + std::pow(a[0] * a[2], P)) / std::fabs(P);
    EXPECT_NEAR(sscs(a[0], a[1], a[2], a[3], a[4], a[5]), ref, 1e-10 * std::fabs(ref) + 3e-9 * scale)
        << "b=" << a[4] << " c=" << a[5] << " a3=" << a[3];
  }
}

TEST(Sscs, FirstOrderBranchIsExactAtVanishingP) {
  // Series branch (P^2 ln^3 e tiny) with P = 1 + b ~ 1e-8: only the
  // zeroth-order moments remain, int t^c (Lambda - ln t) dt, on both sides of
  // the switch of W (Q^2 ln^4 rho/8 = 1e-9) and of the d-for-ln guards.
  const double P = 1e-8;
  const double cases[][3] = {// a3 (a2 = 1), c, a1/(a0 a2)
                             {5.0, 0.3, 40.0},
                             {5.0, -1.0, 40.0},        // Q = 0: series for W
                             {1.01, -1.0 + 0.05, 1.3}, // W series side
                             {1.01, 3.0, 1.3},         // W closed side
                             {1.0 + 1e-4, -0.5, 1.0 + 2e-3}};
  for (const auto& cs : cases) {
    const double a0 = 0.5, a2 = 1.0, a3 = cs[0], c = cs[1];
    const double a1 = cs[2] * a0 * a2;
    const double ref = sscs_quad(a0, a1, a2, a3, P - 1.0, c);
    EXPECT_NEAR(sscs(a0, a1, a2, a3, P - 1.0, c), ref, 1e-7 * std::fabs(ref) + 3e-9)
        << "a3=" << a3 << " c=" << c;
  }
}

TEST(Sscs, UpperLimitAtTheCornerTakesTheFirstOrderBranchForEveryIndex) {
  // a1 = a0 a3 (e = 1): the expansion in P is used whatever b is, so with
  // a0 = a2 = 1 (no prefactor) the value is affine in P:
  //   f(P) = int t^c (L - u) dt + (P/2) int t^c (L - u)^2 dt,  u = ln t,
  // on both sides of the switches of W and Z.
  for (double rho : {1.0 + 2e-3, 1.5, 20.0}) {
    for (double c : {-1.0, -0.7, 1.5}) {
      const double L = std::log(rho);
      const double f0 = sscs(1.0, rho, 1.0, rho, -1.0, c);  // P = 0
      const double f2 = sscs(1.0, rho, 1.0, rho, 1.0, c);   // P = 2
      const double f6 = sscs(1.0, rho, 1.0, rho, 5.0, c);   // P = 6
      const double m0 = gauss([&](double u) { return std::exp((c + 1.0) * u) * (L - u); }, 0.0, L);
      const double m2 = gauss(
          [&](double u) { return std::exp((c + 1.0) * u) * (L - u) * (L - u); }, 0.0, L);
      const double tol = 1e-10 * (std::fabs(m0) + std::fabs(m2)) + 3e-9;
      EXPECT_NEAR(f0, m0, tol) << rho << " " << c;
      EXPECT_NEAR(f2 - f0, m2, tol) << rho << " " << c;
      EXPECT_NEAR(f6 - f0, 3.0 * m2, 3.0 * tol) << rho << " " << c;
    }
  }
}

}  // namespace
