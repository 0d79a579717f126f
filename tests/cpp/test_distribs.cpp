#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <vector>

#include "bessel.hpp"
#include "distribs.hpp"
#include "error.hpp"
#include "support.hpp"
#include "test_hooks.hpp"

namespace {

using ostrel::distribs::eq_59_park1995;
using ostrel::distribs::fp_findif_difu;
using namespace ostrel::testing_support;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Solves a dense linear system by Gaussian elimination with partial pivoting.
Vec dense_solve(std::vector<Vec> m, Vec rhs) {
  const std::size_t n = rhs.size();
  for (std::size_t k = 0; k < n; ++k) {
    std::size_t piv = k;
    for (std::size_t i = k + 1; i < n; ++i)
      if (std::fabs(m[i][k]) > std::fabs(m[piv][k])) piv = i;
    std::swap(m[k], m[piv]);
    std::swap(rhs[k], rhs[piv]);
    for (std::size_t i = k + 1; i < n; ++i) {
      const double f = m[i][k] / m[k][k];
      for (std::size_t j = k; j < n; ++j) m[i][j] -= f * m[k][j];
      rhs[i] -= f * rhs[k];
    }
  }
  Vec x(n);
  for (std::size_t k = n; k-- > 0;) {
    double s = rhs[k];
    for (std::size_t j = k + 1; j < n; ++j) s -= m[k][j] * x[j];
    x[k] = s / m[k][k];
  }
  return x;
}

// Sum of N over the bins, each weighted with its width (the mean of the
// intervals on both sides, the outermost intervals repeated).
double particle_number(const Vec& g, const Vec& n) {
  double s = 0.0;
  for (std::size_t i = 0; i < g.size(); ++i) {
    const double up = i + 1 < g.size() ? g[i + 1] - g[i] : g[i] - g[i - 1];
    const double down = i > 0 ? g[i] - g[i - 1] : g[1] - g[0];
    s += n[i] * 0.5 * (up + down);
  }
  return s;
}

// ----- fp_findif_difu -------------------------------------------------------

TEST(FpFindifDifu, PureDiffusionIsThePlainImplicitStep) {
  // Irregular grid, constant D, no drift: the step must be backward Euler of
  // dN/dt = d/dg (D/2 dN/dg) + Q - N/T, centred differences, N = 0 outside
  // the grid.  The outermost edges carry D/4, the mean of D and the nothing
  // beyond, times 1/2.
  const Vec g = {1.0, 1.5, 2.5, 3.0, 4.5, 5.0, 7.0};
  const Vec n0 = {0.0, 1.0, 4.0, -2.0, 3.0, 0.5, 0.0};  // negative values pass through
  const Vec q = {0.0, 0.5, 0.0, 1.0, 0.0, 0.0, 2.0};
  const double d = 0.8, dt = 0.3, tesc = 2.0, tlc = 4.0;
  const std::size_t n = g.size();
  Vec dp(n), dm(n), mid(n);
  for (std::size_t i = 0; i < n; ++i) {
    dp[i] = i + 1 < n ? g[i + 1] - g[i] : g[n - 1] - g[n - 2];
    dm[i] = i > 0 ? g[i] - g[i - 1] : g[1] - g[0];
    mid[i] = 0.5 * (dp[i] + dm[i]);
  }
  std::vector<Vec> m(n, Vec(n, 0.0));
  Vec rhs(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double c_up = i + 1 < n ? d / 2 : d / 4;
    const double c_down = i > 0 ? d / 2 : d / 4;
    m[i][i] = 1.0 + dt / tesc + dt * (c_up / dp[i] + c_down / dm[i]) / mid[i];
    if (i > 0) m[i][i - 1] = -dt * c_down / (dm[i] * mid[i]);
    if (i + 1 < n) m[i][i + 1] = -dt * c_up / (dp[i] * mid[i]);
    rhs[i] = n0[i] + q[i] * dt;
  }
  const Vec expected = dense_solve(m, rhs);
  const Vec got = fp_findif_difu(g, n0, Vec(n, 0.0), Vec(n, d), q, dt, tesc, tlc, std::nullopt);
  ASSERT_EQ(got.size(), n);
  for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(got[i], expected[i], 1e-13) << i;
}

TEST(FpFindifDifu, ConservesParticlesUpToEscape) {
  const Vec g = log_grid(1.0, 1e4, 120);
  const std::size_t n = g.size();
  Vec n0(n), gdot(n), d(n), q(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    n0[i] = std::exp(-0.5 * std::pow(std::log(g[i] / 100.0) / 0.05, 2));
    gdot[i] = 1e-3 * g[i] * g[i];
    d[i] = 1e-2 * std::pow(g[i], 2.5);
  }
  const double before = particle_number(g, n0);
  Vec kept = n0;
  for (int step = 0; step < 10; ++step) kept = fp_findif_difu(g, kept, gdot, d, q, 0.2, 1e100, 0.5, true);
  EXPECT_NEAR(particle_number(g, kept) / before, 1.0, 1e-12);
  // The bump did move and spread.
  EXPECT_LT(*std::max_element(kept.begin(), kept.end()), 0.9);

  // Escape in time T removes 1/(1 + dt/T) of them per step.
  const Vec escaped = fp_findif_difu(g, n0, gdot, d, q, 0.2, 0.8, 0.5, true);
  EXPECT_NEAR(particle_number(g, escaped) / before, 1.0 / 1.25, 1e-12);
}

TEST(FpFindifDifu, LossRateMovesBumpDown) {
  // Uniform grid, Gdot = 5 per unit time, negligible diffusion: the scheme
  // becomes upwind and the mean Lorentz factor falls by Gdot dt per step.
  Vec g;
  for (int i = 0; i < 400; ++i) g.push_back(100.0 + i);
  const std::size_t n = g.size();
  Vec n0(n);
  for (std::size_t i = 0; i < n; ++i) n0[i] = std::exp(-0.5 * std::pow((g[i] - 400.0) / 3.0, 2));
  auto mean = [&](const Vec& v) {
    double s = 0.0, sg = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      s += v[i];
      sg += v[i] * g[i];
    }
    return sg / s;
  };
  Vec v = n0;
  const double dt = 0.3;
  for (int step = 0; step < 10; ++step) {
    const double m0 = mean(v);
    v = fp_findif_difu(g, v, Vec(n, 5.0), Vec(n, 1e-9), Vec(n, 0.0), dt, 1e100, 3.0, false);
    EXPECT_NEAR(m0 - mean(v), 5.0 * dt, 1e-6) << step;
  }
}

TEST(FpFindifDifu, EscapeSentinelsAreNotRescaled) {
  // tesc = 1e100 is taken as it stands: T = 1e100 with tau = dt/tlc = 5e99,
  // so N falls by 1/(1 + 0.5); rescaled it would be 1/(1 + 1).
  const Vec g = {1.0, 2.0, 3.0, 4.0};
  const Vec n0 = {1.0, 2.0, 3.0, 4.0};
  const Vec zero(4, 0.0), tiny(4, 1e-120);
  Vec r = fp_findif_difu(g, n0, zero, tiny, zero, 1e100, 1e100, 2.0, true);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(r[i], n0[i] / 1.5, 1e-12) << i;
  // Just inside the range it is rescaled.
  r = fp_findif_difu(g, n0, zero, tiny, zero, 1e100, 9.999999999999999e99, 2.0, true);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(r[i], n0[i] / 2.0, 1e-12) << i;
  // tesc = 1e-100 likewise: tau/T = 0.5 / 1e-100.
  r = fp_findif_difu(g, n0, zero, tiny, zero, 1.0, 1e-100, 2.0, true);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(r[i] / n0[i], 2e-100, 1e-112) << i;
}

TEST(FpFindifDifu, FailureMessages) {
  const Vec g = {1.0, 2.0, 3.0}, ones(3, 1.0), zero(3, 0.0);
  const std::string oob = message::kIndexOutOfBounds;
  const std::string nan_msg = message::kFokkerPlanckInput;
  EXPECT_EQ(fatal_text([&] { fp_findif_difu(g, ones, zero, ones, Vec{0.0, kNaN, 0.0}, 1, 1, 1, {}); }),
            nan_msg);
  EXPECT_EQ(fatal_text([&] { fp_findif_difu(g, ones, zero, ones, zero, 1, 1, kNaN, true); }), nan_msg);
  // Without the check the NaN runs through.
  const Vec r = fp_findif_difu(g, ones, zero, ones, Vec{0.0, kNaN, 0.0}, 1, 1, 1, false);
  EXPECT_TRUE(std::isnan(r[1]));

  EXPECT_EQ(fatal_text([&] { fp_findif_difu(Vec{1.0}, Vec{1.0}, Vec{0.0}, Vec{1.0}, Vec{0.0}, 1, 1, 1, {}); }),
            oob);
  EXPECT_EQ(fatal_text([&] { fp_findif_difu({}, {}, {}, {}, {}, 1, 1, 1, {}); }), oob);
  EXPECT_EQ(fatal_text([&] {
              fp_findif_difu(Vec{1.0, 2.0, 3.0, 3.0}, Vec(4, 1.0), Vec(4, 0.0), Vec(4, 1.0), Vec(4, 0.0), 1,
                             1, 1, {});
            }),
            message::unwrap(message::kPolintFailure));
  // Two bins, D = 4, dt = tlc = 1: the diagonal is 4 + dt/T and the
  // off-diagonals -2; T = -0.25 zeroes the first pivot, T = -0.5 the second.
  const Vec g2 = {1.0, 2.0}, d2 = {4.0, 4.0}, z2 = {0.0, 0.0}, n2 = {1.0, 1.0};
  EXPECT_EQ(fatal_text([&] { fp_findif_difu(g2, n2, z2, d2, z2, 1, -0.25, 1, {}); }),
            message::kTridagStage1);
  EXPECT_EQ(fatal_text([&] { fp_findif_difu(g2, n2, z2, d2, z2, 1, -0.5, 1, {}); }),
            message::kTridagStage2);
}

// Rates of another length than the grid: a shorter one runs out of elements,
// a longer one cannot be combined with the grid; D is combined first.
TEST(FpFindifDifu, RatesOfAnotherLengthThanTheGrid) {
  const Vec g = {1.0, 2.0, 3.0}, ones(3, 1.0), zero(3, 0.0), four(4, 1.0), two(2, 1.0);
  const auto step = [&](const Vec& gdot, const Vec& d) {
    return fatal_text([&] { fp_findif_difu(g, ones, gdot, d, zero, 1, 1, 1, {}); });
  };
  EXPECT_EQ(step(zero, four), message::broadcast(4, 3));
  EXPECT_EQ(step(four, ones), message::broadcast(4, 3));
  EXPECT_EQ(step(four, four), message::broadcast(4, 3));
  EXPECT_EQ(step(zero, two), message::kIndexOutOfBounds);
  EXPECT_EQ(step(two, ones), message::kIndexOutOfBounds);
  EXPECT_EQ(step(two, four), message::broadcast(4, 3));
  EXPECT_EQ(step(four, two), message::kIndexOutOfBounds);
}

// ----- eq_59_park1995 -------------------------------------------------------

// The closed form 4 pi e^-t (1/t) p^-1/2 p0^-3/2 I_3(2/(t sqrt(p p0)))
// exp(-(1/p + 1/p0)/t), with I_3 summed in long double and scaled by
// 6/gamma_product(4), the factor by which the library's I_3 differs.
double park_reference(double t, double gamma) {
  const long double p0 = 99.99499987499375L;
  const long double p = std::sqrt((long double)gamma * gamma - 1.0L);
  const long double x = 2.0L / (t * std::sqrt(p * p0));
  long double term = std::pow(x / 2, 3.0L) / 6.0L, sum = term;
  for (int k = 1; k < 300; ++k) {
    term *= (x / 2) * (x / 2) / (k * (k + 3.0L));
    sum += term;
  }
  sum *= 6.0L / ostrel::bessel::gamma_product(4.0);
  return static_cast<double>(4.0L * 3.14159265358979323846L * std::exp(-(long double)t) / t /
                             std::sqrt(p) / std::pow(p0, 1.5L) * sum *
                             std::exp(-(1.0L / p + 1.0L / p0) / t));
}

TEST(Eq59Park1995, MatchesClosedForm) {
  for (double t : {0.001, 0.01, 0.2}) {
    const Vec g = {20.0, 80.0, 100.0, 150.0, 400.0};
    const Vec r = eq_59_park1995(t, g);
    for (std::size_t i = 0; i < g.size(); ++i) {
      const double ref = park_reference(t, g[i]);
      if (ref > 1e-100) {
        EXPECT_NEAR(r[i] / ref, 1.0, 2e-8) << "t=" << t << " g=" << g[i];
      }
    }
  }
}

TEST(Eq59Park1995, CachedGammaGivesTheBitsOfTheLiteralSeries) {
  const Vec g = {1.5, 30.0, 99.0, 100.0, 250.0, 3000.0};
  for (double t : {0.002, 0.05}) {
    const Vec fast = eq_59_park1995(t, g);
    const Vec literal = ostrel::distribs::detail::eq_59_park1995_uncached(t, g);
    for (std::size_t i = 0; i < g.size(); ++i) EXPECT_TRUE(same_bits(fast[i], literal[i])) << g[i];
  }
}

}  // namespace
