// The derived coefficients are stored as literals; recompute each from the
// base constants so that a mistyped digit cannot hide.
#include <gtest/gtest.h>

#include <cmath>

#include "coefficients.hpp"
#include "constants.hpp"
#include "srtoolkit.hpp"

namespace c = ostrel::constants;
namespace f = ostrel::coefficients;

TEST(Constants, DerivedCoefficientsFollowFromBaseValues) {
  EXPECT_EQ(f::energy_e_quarter, c::m_e * (c::c * c::c) / 4.0);
  EXPECT_EQ(c::nu_b_per_gauss, c::e_charge / (2.0 * c::pi * c::m_e * c::c));
  EXPECT_EQ(f::syn_emissivity_coeff, std::sqrt(3.0) * (c::e_charge * c::e_charge) / (2.0 * c::c));
  EXPECT_EQ(f::syn_absorption_coeff,
            std::sqrt(3.0) * (c::e_charge * c::e_charge) / (4.0 * c::m_e * c::c));
  EXPECT_EQ(f::thomson_cooling_coeff, 4.0 * f::sigma_t * c::c / (3.0 * c::m_e * (c::c * c::c)));
}

// The classic kernels keep the cross-section they were fitted with, one unit
// in the last place above the decimal that the accurate kernels use.
TEST(Constants, ThomsonCrossSectionsOfTheTwoLayers) {
  EXPECT_EQ(c::sigma_t, 6.6524587321e-25);
  EXPECT_EQ(f::sigma_t, std::nextafter(c::sigma_t, 1.0));
}

TEST(Srtoolkit, LorentzFactorAndSpeedAreInverse) {
  using ostrel::srtoolkit::bofg;
  using ostrel::srtoolkit::gofb;
  for (double beta : {0.0, 0.1, 0.6, 0.9, 0.999}) {
    EXPECT_NEAR(bofg(gofb(beta)), beta, 1e-12);
  }
  EXPECT_DOUBLE_EQ(gofb(0.6), 1.25);
  EXPECT_EQ(gofb(-0.6), gofb(0.6));
  EXPECT_TRUE(std::isinf(gofb(1.0)) && std::isinf(gofb(-1.0)));
  EXPECT_TRUE(std::isnan(gofb(1.5)));
  // bofg: at or below rest gives 0; NaN is not caught by the test.
  EXPECT_EQ(bofg(1.0), 0.0);
  EXPECT_EQ(bofg(-3.0), 0.0);
  EXPECT_EQ(bofg(-INFINITY), 0.0);
  EXPECT_EQ(bofg(INFINITY), 1.0);
  EXPECT_TRUE(std::isnan(bofg(NAN)));
}
