#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "error.hpp"
#include "radiation.hpp"
#include "support.hpp"

using ostrel::radiation::rad_trans_blob;
using ostrel::radiation::rad_trans_slab;
using ostrel::testing_support::fatal_text;
using ostrel::testing_support::kOutOfBounds;

namespace {
double blob(double r, double j, double a) { return rad_trans_blob(r, std::vector{j}, std::vector{a})[0]; }
double slab(double r, double j, double a) { return rad_trans_slab(r, std::vector{j}, std::vector{a})[0]; }
}  // namespace

TEST(Transfer, ThinAndThickLimits) {
  const double j = 3e-20, r = 2e15;
  EXPECT_EQ(blob(r, j, 0.0), j * r / 3.0);
  EXPECT_EQ(slab(r, j, 0.0), j * r);
  const double alpha = 1e-9;  // tau = 2e6 for the sphere, 2e6 / 2 for the slab
  EXPECT_NEAR(blob(r, j, alpha), j / (4.0 * alpha), 1e-9 * j / alpha);
  EXPECT_NEAR(slab(r, j, alpha), j / alpha, 1e-9 * j / alpha);
}

TEST(Transfer, SphereThresholdsSelectTheirForms) {
  const double r = 0.5;  // tau = alpha for the sphere
  // tau exactly 1e-10: still thin.
  EXPECT_EQ(blob(r, 1.0, 1e-10), r / 3.0);
  // tau exactly 0.01 and 100: the exact expression.
  for (double tau : {0.01, 100.0}) {
    const double t = 0.5 * (1.0 - 2.0 * (1.0 - std::exp(-tau) * (tau + 1.0)) / (tau * tau));
    EXPECT_EQ(blob(r, 1.0, tau), (r * ((t * 3.0) / tau)) / 3.0) << tau;
  }
  // Just above 100: the large-tau form; just below 0.01: the series.
  const double big = std::nextafter(100.0, 200.0);
  EXPECT_EQ(blob(r, 1.0, big), (r * (((-1.0 / (big * big) + 0.5) * 3.0) / big)) / 3.0);
  const double small = std::nextafter(0.01, 0.0);
  EXPECT_EQ(blob(r, 1.0, small),
            (r * ((((small * small) * (-0.125) + small / 3.0) * 3.0) / small)) / 3.0);
}

TEST(Transfer, EscapeFactorIsContinuousEnough) {
  // The series omits tau^3/30: a relative step of about 1e-5 at tau = 0.01;
  // at tau = 100 the dropped exponential terms are far below rounding.
  const double lo = blob(0.5, 1.0, std::nextafter(0.01, 0.0)), hi = blob(0.5, 1.0, 0.01);
  EXPECT_NEAR(lo / hi, 1.0, 2e-5);
  const double a = blob(0.5, 1.0, 100.0), b = blob(0.5, 1.0, std::nextafter(100.0, 200.0));
  EXPECT_NEAR(a / b, 1.0, 1e-15);
}

TEST(Transfer, UnphysicalAbsorptionIsThin) {
  for (double alpha : {-1.0, double(NAN), -0.0}) {
    EXPECT_EQ(blob(2.0, 1.0, alpha), 2.0 / 3.0);
    EXPECT_EQ(slab(2.0, 1.0, alpha), 2.0);
  }
  EXPECT_EQ(slab(1.0, 1.0, INFINITY), 0.0);
  EXPECT_EQ(blob(1.0, 1.0, INFINITY), 0.0);
}

TEST(Transfer, LengthsOfTheInputs) {
  EXPECT_TRUE(rad_trans_blob(1.0, std::vector<double>{}, std::vector<double>{}).empty());
  // Extra absorption entries are ignored.
  EXPECT_EQ(rad_trans_slab(1.0, std::vector{1.0}, std::vector{0.0, 5.0}),
            rad_trans_slab(1.0, std::vector{1.0}, std::vector{0.0}));
  EXPECT_EQ(fatal_text([] { rad_trans_blob(1.0, std::vector{1.0, 2.0}, std::vector{1.0}); }),
            kOutOfBounds);
}
