#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "misc.hpp"
#include "support.hpp"

namespace {

using ostrel::misc::polint;
using ostrel::misc::qromb_w2arg;
using ostrel::misc::tridag_ser;
using namespace ostrel::testing_support;

// ----- tridag_ser -----------------------------------------------------------

TEST(TridagSer, SolvesSystemAndIgnoresExtraEntries) {
  // Diagonally dominant 5x5 system; check the residual of every row.
  const Vec a = {-1.0, 0.5, -2.0, 1.5, 99.0};  // last entry unused
  const Vec b = {4.0, 5.0, 6.0, 7.0, 8.0};
  const Vec c = {1.0, -1.0, 2.0, 0.25, 99.0};  // last entry unused
  const Vec r = {1.0, 2.0, 3.0, 4.0, 5.0, 99.0};
  const Vec u = tridag_ser(a, b, c, r);
  ASSERT_EQ(u.size(), 5u);
  for (std::size_t j = 0; j < 5; ++j) {
    double row = b[j] * u[j];
    if (j > 0) row += a[j - 1] * u[j - 1];
    if (j < 4) row += c[j] * u[j + 1];
    EXPECT_NEAR(row, r[j], 1e-14) << "row " << j;
  }
}

TEST(TridagSer, SingleRow) {
  const Vec u = tridag_ser({}, Vec{4.0}, {}, Vec{3.0});
  ASSERT_EQ(u.size(), 1u);
  EXPECT_EQ(u[0], 0.75);
}

TEST(TridagSer, ZeroPivotsAndMissingEntries) {
  EXPECT_EQ(fatal_text([] { tridag_ser({}, Vec{-0.0}, {}, Vec{1.0}); }),
            message::kTridagStage1);
  // Second pivot 1 - (1/1)*1 = 0.
  EXPECT_EQ(fatal_text([] { tridag_ser(Vec{1.0}, Vec{1.0, 1.0}, Vec{1.0}, Vec{1.0, 1.0}); }),
            message::kTridagStage2);
  const std::string oob = ostrel::message::kIndexOutOfBounds;
  EXPECT_EQ(fatal_text([] { tridag_ser({}, {}, {}, {}); }), oob);
  EXPECT_EQ(fatal_text([] { tridag_ser(Vec{1.0}, Vec{2.0, 2.0}, Vec{1.0}, Vec{1.0}); }), oob);
  EXPECT_EQ(fatal_text([] { tridag_ser({}, Vec{2.0, 2.0}, Vec{1.0}, Vec{1.0, 1.0}); }), oob);
  EXPECT_EQ(fatal_text([] { tridag_ser(Vec{1.0}, Vec{2.0, 2.0}, {}, Vec{1.0, 1.0}); }), oob);
}

TEST(TridagSer, NaNPivotRunsThrough) {
  const Vec u = tridag_ser(Vec{1.0}, Vec{kNaN, 2.0}, Vec{1.0}, Vec{1.0, 1.0});
  EXPECT_TRUE(std::isnan(u[0]));
  EXPECT_TRUE(std::isnan(u[1]));
}

// ----- polint ---------------------------------------------------------------

double cubic(double x) { return ((2.0 * x - 3.0) * x + 0.5) * x - 7.0; }

TEST(Polint, ReproducesCubicInsideAndOutside) {
  const Vec xa = {0.5, 1.0, 2.5, 3.0, 4.25};
  Vec ya;
  for (double x : xa) ya.push_back(cubic(x));
  for (double x : {-2.0, 0.75, 2.0, 6.0}) {
    const auto r = polint(xa, ya, x).unwrap();
    EXPECT_NEAR(r.y, cubic(x), 1e-12 * (1.0 + std::fabs(cubic(x)))) << x;
    EXPECT_NEAR(r.dy, 0.0, 1e-11 * (1.0 + std::fabs(cubic(x)))) << x;  // degree 4 term vanishes
  }
  EXPECT_NEAR(polint(xa, ya, 2.5).unwrap().y, ya[2], 1e-13);
}

TEST(Polint, LargeTablesUseTheSameScheme) {
  // 20 points (beyond the stack tables) of a cubic.
  Vec xa, ya;
  for (int i = 0; i < 20; ++i) {
    xa.push_back(0.1 * i);
    ya.push_back(cubic(0.1 * i));
  }
  EXPECT_NEAR(polint(xa, ya, 0.95).unwrap().y, cubic(0.95), 1e-9);
}

TEST(Polint, SinglePointAndTieGoesToLowestIndex) {
  const auto one = polint(Vec{3.0}, Vec{-4.0}, 100.0).unwrap();
  EXPECT_EQ(one.y, -4.0);
  EXPECT_EQ(one.dy, 0.0);
  // x halfway: starting from point 0 the correction is +1; from point 1 it
  // would be -1.
  const auto mid = polint(Vec{0.0, 1.0}, Vec{0.0, 2.0}, 0.5).unwrap();
  EXPECT_EQ(mid.y, 1.0);
  EXPECT_EQ(mid.dy, 1.0);
  // Quadratic through three points, nearest point in the middle.
  const auto r = polint(Vec{0.0, 1.0, 2.0}, Vec{0.0, 1.0, 4.0}, 1.25).unwrap();
  EXPECT_DOUBLE_EQ(r.y, 1.5625);
}

TEST(Polint, Errors) {
  const auto bad = polint(Vec{1.0, 2.0}, Vec{1.0}, 0.0);
  ASSERT_FALSE(bad.is_ok());
  EXPECT_STREQ(bad.error(), message::kPolintSizes);
  const auto same = polint(Vec{1.0, 2.0, 1.0}, Vec{1.0, 2.0, 3.0}, 0.0);
  ASSERT_FALSE(same.is_ok());
  EXPECT_STREQ(same.error(), message::kPolintFailure);
  EXPECT_EQ(fatal_text([&] { same.unwrap(); }),
            message::unwrap(message::kPolintFailure));
  EXPECT_EQ(fatal_text([] { polint({}, {}, 0.0); }), ostrel::message::kIndexOutOfBounds);
}

// ----- qromb_w2arg ----------------------------------------------------------

thread_local long g_evaluations = 0;

double constant(double, double p) { ++g_evaluations; return p; }
double power4(double x, double p) { ++g_evaluations; return p * x * x * x * x; }
double nan_everywhere(double, double) { ++g_evaluations; return kNaN; }
double nan_at_midpoint(double x, double) { ++g_evaluations; return x == 0.5 ? kNaN : 1.0; }
// Integrable singularity so strong (x^-0.9) that the trapezoid values creep
// towards the integral 10 like (step size)^0.1 and no extrapolation settles.
double steep_singularity(double x, double) { ++g_evaluations; return x == 0.0 ? 0.0 : std::pow(x, -0.9); }

TEST(QrombW2arg, ConstantConvergesAtStageFive) {
  g_evaluations = 0;
  EXPECT_EQ(qromb_w2arg(constant, 1.0, 3.0, 2.5).unwrap(), 5.0);
  EXPECT_EQ(g_evaluations, 17);
}

TEST(QrombW2arg, SmoothIntegrandSignAndEmptyInterval) {
  EXPECT_NEAR(qromb_w2arg(power4, 0.0, 1.0, 3.0).unwrap(), 0.6, 1e-12);
  EXPECT_NEAR(qromb_w2arg(power4, 1.0, 0.0, 3.0).unwrap(), -0.6, 1e-12);
  EXPECT_EQ(qromb_w2arg(power4, 2.0, 2.0, 3.0).unwrap(), 0.0);
}

TEST(QrombW2arg, NaNIntegrandGivesUpAtOnce) {
  g_evaluations = 0;
  auto r = qromb_w2arg(nan_everywhere, 0.0, 1.0, 0.0);
  ASSERT_FALSE(r.is_ok());
  EXPECT_STREQ(r.error(), message::kQrombTooManySteps);
  EXPECT_EQ(g_evaluations, 2);
  // The first NaN appears in stage 2 (the midpoint).
  g_evaluations = 0;
  r = qromb_w2arg(nan_at_midpoint, 0.0, 1.0, 0.0);
  ASSERT_FALSE(r.is_ok());
  EXPECT_STREQ(r.error(), message::kQrombTooManySteps);
  EXPECT_EQ(g_evaluations, 3);
}

TEST(QrombW2arg, SlowConvergenceRunsAllStages) {
  g_evaluations = 0;
  const auto r = qromb_w2arg(steep_singularity, 0.0, 1.0, 0.0);
  ASSERT_FALSE(r.is_ok());
  EXPECT_STREQ(r.error(), message::kQrombTooManySteps);
  EXPECT_EQ(g_evaluations, 524289);
}

}  // namespace
