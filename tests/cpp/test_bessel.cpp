#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>

#include "bessel.hpp"
#include "test_hooks.hpp"

namespace {

using ostrel::bessel::gamma_product;
using ostrel::bessel::gamma_product_with_count;
using ostrel::bessel::i_nu;
using ostrel::bessel::i_nu_with_gamma;
using cplx = std::complex<double>;

// Reference I_nu(z) with the exact Gamma function, summed in long double
// until the terms stop mattering (principal branch for non-integer nu).
std::complex<long double> reference_i_nu(long double nu, std::complex<long double> z) {
  const std::complex<long double> half = z / 2.0L;
  std::complex<long double> sum = 0.0L;
  for (int k = 0; k < 80; ++k) {
    sum += std::pow(half, 2.0L * k + nu) / (std::tgamma(k + 1.0L) * std::tgamma(k + nu + 1.0L));
  }
  return sum;
}

// i_nu uses one approximate Gamma(nu+1) for every term of the series, so its
// value is the true I_nu scaled by Gamma(nu+1)/gamma_product(nu+1).
void expect_scaled_reference(double nu, cplx z) {
  const std::complex<long double> ref = reference_i_nu(nu, {z.real(), z.imag()}) *
                                        (std::tgamma(nu + 1.0L) / gamma_product(nu + 1.0));
  const cplx got = i_nu(nu, z);
  const double tol = 1e-8 * static_cast<double>(std::abs(ref));
  EXPECT_NEAR(got.real(), static_cast<double>(ref.real()), tol) << "nu=" << nu << " z=" << z;
  EXPECT_NEAR(got.imag(), static_cast<double>(ref.imag()), tol) << "nu=" << nu << " z=" << z;
}

TEST(GammaProduct, OrderThreeStopsAtKnownFactor) {
  const auto g = gamma_product_with_count(4.0);
  EXPECT_EQ(g.factors, 182005.0);
  EXPECT_NEAR(g.value, 5.9997362794, 5e-10);
  EXPECT_EQ(gamma_product(4.0), g.value);
  // Close to, but deliberately not, the exact Gamma function elsewhere too.
  EXPECT_NEAR(gamma_product(1.5), std::tgamma(1.5), 1e-4);
  EXPECT_NE(gamma_product(1.5), std::tgamma(1.5));
}

TEST(GammaProduct, DegenerateProductsEndAtOnce) {
  EXPECT_TRUE(std::isnan(gamma_product(std::numeric_limits<double>::infinity())));
  EXPECT_TRUE(std::isnan(gamma_product(std::numeric_limits<double>::quiet_NaN())));
  // Overflows to +inf in the first factor; exp(-gamma x1) underflows, so the
  // formula gives 0 * inf = NaN.
  const auto huge = gamma_product_with_count(1e20);
  EXPECT_EQ(huge.factors, 1.0);
  EXPECT_TRUE(std::isnan(huge.value));
  // Large negative non-integer order: the product underflows to 0 within a
  // few factors and could never pass its test again.
  const auto tiny = gamma_product_with_count(-300.5);
  EXPECT_LT(tiny.factors, 10.0);
  EXPECT_EQ(tiny.value, 0.0);
}

TEST(INu, MatchesSeriesWithExactGammaUpToTheProductFactor) {
  expect_scaled_reference(3.0, {4.0, 0.0});
  expect_scaled_reference(3.0, {40.0, 0.0});
  expect_scaled_reference(1.5, {1.0, 2.0});
  expect_scaled_reference(1.5, {-0.5, -3.0});
  expect_scaled_reference(-0.5, {2.0, 1.0});  // negative non-integer order
  expect_scaled_reference(0.0, {3.0, 0.0});
}

TEST(INu, RealArgumentGivesExactlyRealResult) {
  const cplx v = i_nu(3.0, {4.0, 0.0});
  EXPECT_EQ(v.imag(), 0.0);
  EXPECT_GT(v.real(), 3.3372);
}

TEST(INu, NegligibleLeadingTermAndZeroArgument) {
  // (0.0025)^3 / 6 = 2.6e-9 < 1e-8.
  EXPECT_EQ(i_nu(3.0, {0.005, 0.0}), cplx(0.0, 0.0));
  EXPECT_EQ(i_nu(2.0, {0.0, 0.0}), cplx(0.0, 0.0));
  // Order 0 at z = 0: the leading term 1/gamma_product(1) is the result.
  const cplx v = i_nu(0.0, {0.0, 0.0});
  EXPECT_EQ(v.real(), 1.0 / gamma_product(1.0));
  EXPECT_EQ(v.imag(), 0.0);
}

TEST(INu, NegativeIntegerOrdersFold) {
  const cplx z(2.5, -1.0);
  const cplx pos = i_nu(3.0, z);
  const cplx neg = i_nu(-3.0, z);
  EXPECT_EQ(pos.real(), neg.real());
  EXPECT_EQ(pos.imag(), neg.imag());
  EXPECT_EQ(i_nu(-0.0, z), i_nu(0.0, z));
  EXPECT_EQ(i_nu_with_gamma(3.0, z, gamma_product(4.0)), pos);
}

TEST(INu, NonFiniteInputs) {
  // Answered before the Gamma product, which would never end for these.
  for (double nu : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                    std::numeric_limits<double>::quiet_NaN()}) {
    const cplx v = i_nu(nu, {1.0, 0.0});
    EXPECT_TRUE(std::isnan(v.real()) && std::isnan(v.imag())) << nu;
  }
  // A NaN argument is never mistaken for a negligible or converged term.
  EXPECT_TRUE(std::isnan(i_nu(3.0, {std::numeric_limits<double>::quiet_NaN(), 0.0}).real()));
}

}  // namespace
