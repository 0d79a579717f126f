// Pair-production opacity: the kinematic threshold, the scaling on an
// unbounded power-law field, and what an empty seed segment contributes.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "constants.hpp"
#include "accurate/kernels.hpp"

namespace m = ostrel::models;
namespace k = ostrel::constants;

TEST(GammaGammaOpacity, ThresholdScalingAndEmptySegments) {
  // Seed u = nu'^-q over twenty decades: alpha ~ nu^q wherever the field's
  // ends are not seen; nothing below h nu h nu'_max = (m c^2)^2.
  std::vector<double> seed_nu, seed_u;
  const double q = 1.3;
  for (int i = 0; i <= 40; ++i) {
    seed_nu.push_back(std::pow(10.0, 5.0 + 0.5 * i));
    seed_u.push_back(std::pow(seed_nu.back(), -q));
  }
  const double mc2 = k::m_e * k::c * k::c;
  const double nu_th = mc2 * mc2 / (k::h * k::h * seed_nu.back());
  const auto a = m::gamma_gamma_opacity(std::vector<double>{0.999 * nu_th, 1.001 * nu_th, 1e22, 1e24, 1e26},
                                        seed_nu, seed_u);
  EXPECT_EQ(a[0], 0.0);
  EXPECT_GT(a[1], 0.0);
  EXPECT_NEAR(a[3] / a[2], std::pow(100.0, q), 1e-6 * std::pow(100.0, q));
  EXPECT_NEAR(a[4] / a[3], std::pow(100.0, q), 1e-6 * std::pow(100.0, q));

  // A zero value empties the segments on both sides of it.
  const std::vector<double> nu{1e24, 1e26};
  const auto whole = m::gamma_gamma_opacity(nu, std::vector<double>{1e9, 1e10}, std::vector<double>{1e-9, 1e-10});
  const auto padded = m::gamma_gamma_opacity(nu, std::vector<double>{1e8, 1e9, 1e10, 1e11},
                                             std::vector<double>{0.0, 1e-9, 1e-10, 0.0});
  EXPECT_EQ(whole, padded);
}
