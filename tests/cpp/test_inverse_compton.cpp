#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "coefficients.hpp"
#include "error.hpp"
#include "radiation.hpp"
#include "support.hpp"

namespace {

using ostrel::radiation::ic_iso_monochrome_full;
using ostrel::radiation::ic_iso_powlaw_full;
using namespace ostrel::testing_support;

constexpr double kC = ostrel::constants::c;
constexpr double kSigmaT = ostrel::coefficients::sigma_t;

Vec power_law(const Vec& g, double p) {
  Vec n(g.size());
  for (std::size_t i = 0; i < g.size(); ++i) n[i] = std::pow(g[i], -p);
  return n;
}

double gamma_kn(double nu) {
  return ostrel::coefficients::energy_e_quarter / (ostrel::constants::h * nu);
}

// For N = gamma^-p on [sqrt(G), inf) the kernel G gamma^-2 (1 - G/gamma^2)
// integrates to 2 G^((1-p)/2)/((p+1)(p+3)); the emissivity carries
// 2 uext c sigma_T/nuext in front of it.
double monochrome_power_law(double nu, double p, double uext, double nuext) {
  const double G = nu / (4.0 * nuext);
  return uext * kC * kSigmaT / nuext * 4.0 * std::pow(G, (1.0 - p) / 2.0) / ((p + 1.0) * (p + 3.0));
}

// ----- monochromatic seed ----------------------------------------------------

TEST(IcMonochrome, PowerLawElectronsGiveTheThomsonPowerLaw) {
  // j ~ nu^-(p-1)/2 with the analytic normalisation, far from the grid ends.
  const Vec g = logspace(0.0, 8.0, 267);
  const Vec freqs = logspace(13.0, 16.0, 7);
  for (double p : {1.5, 2.5, 3.2}) {
    const Vec j = ic_iso_monochrome_full(freqs, power_law(g, p), g, 2.0, 1e9);
    ASSERT_EQ(j.size(), freqs.size());
    for (std::size_t k = 0; k < freqs.size(); ++k) {
      EXPECT_NEAR(j[k] / monochrome_power_law(freqs[k], p, 2.0, 1e9), 1.0, 1e-7)
          << "p=" << p << " nu=" << freqs[k];
    }
  }
}

TEST(IcMonochrome, LorentzFactorsAreCappedAtTheKleinNishinaLimit) {
  // With gamma_KN inside the grid the result is that of the grid cut at
  // gamma_KN, and zero once G = nu/(4 nuext) exceeds gamma_KN^2.
  const double nuext = 1e14;
  const double gkn = gamma_kn(nuext);  // ~3.1e5
  const Vec g = logspace(0.0, 6.0, 121);
  Vec g_cut;
  for (double x : g) {
    if (x < gkn) g_cut.push_back(x);
  }
  g_cut.push_back(gkn);
  const double p = 2.2;
  const Vec freqs = {4e14, 4e15, 1e17, 4.0 * nuext * gkn * gkn * 0.99,
                     4.0 * nuext * gkn * gkn * 1.01, 1e27};
  const Vec j = ic_iso_monochrome_full(freqs, power_law(g, p), g, 1.0, nuext);
  const Vec j_cut = ic_iso_monochrome_full(freqs, power_law(g_cut, p), g_cut, 1.0, nuext);
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_GT(j[k], 0.0);
    EXPECT_NEAR(j[k], j_cut[k], 1e-12 * j_cut[k]) << k;
  }
  EXPECT_EQ(j[4], 0.0);
  EXPECT_EQ(j[5], 0.0);
}

TEST(IcMonochrome, EmptyAndBelowThresholdGiveZero) {
  const Vec g = logspace(0.0, 4.0, 20);
  const Vec n = power_law(g, 2.0);
  // G = nu/(4 nuext) < 1/4: no electron scatters up to nu.
  EXPECT_EQ(ic_iso_monochrome_full(Vec{0.5e9, 0.99e9}, n, g, 1.0, 1e9), (Vec{0.0, 0.0}));
  // One grid point: no segment.
  EXPECT_EQ(ic_iso_monochrome_full(Vec{1e12, 1e13}, Vec{1.0}, Vec{10.0}, 1.0, 1e9),
            (Vec{0.0, 0.0}));
  // Densities at or below the floor.
  const Vec zeros(g.size(), 0.0);
  EXPECT_EQ(ic_iso_monochrome_full(Vec{1e12, 1e13}, zeros, g, 1.0, 1e9), (Vec{0.0, 0.0}));
  Vec tiny(g.size(), 1e-200);
  EXPECT_EQ(ic_iso_monochrome_full(Vec{1e12}, tiny, g, 1.0, 1e9), (Vec{0.0}));
  EXPECT_TRUE(ic_iso_monochrome_full(Vec{}, n, g, 1.0, 1e9).empty());
}

TEST(IcMonochrome, DensitiesShorterThanTheGridFail) {
  const Vec g = logspace(0.0, 4.0, 20);
  Vec n = power_law(g, 2.0);
  Vec longer = n;
  longer.push_back(1e30);  // extra entries are ignored
  EXPECT_EQ(ic_iso_monochrome_full(Vec{1e12}, longer, g, 1.0, 1e9),
            ic_iso_monochrome_full(Vec{1e12}, n, g, 1.0, 1e9));
  n.pop_back();
  EXPECT_EQ(fatal_text([&] { ic_iso_monochrome_full(Vec{1e12}, n, g, 1.0, 1e9); }),
            kOutOfBounds);
}

// ----- tabulated (power-law) seed --------------------------------------------

// Seed grid of 20 points per decade with the intensity of one segment
// [freqs[s], freqs[s+1]] only; electrons N = gamma^-p, 100 points per decade.
struct NarrowSeed {
  Vec freqs = logspace(8.0, 20.0, 241);
  Vec inu = Vec(241, 0.0);
  Vec g = logspace(0.0, 7.0, 701);
  std::size_t s = 60;  // seed segment from 1e11 Hz
  double p = 2.5;

  NarrowSeed(double i_lo, double i_hi) {
    inu[s] = i_lo;
    inu[s + 1] = i_hi;
  }
  Vec emissivity() const { return ic_iso_powlaw_full(freqs, inu, g, power_law(g, p)); }

  // I_lo sigma_T int_B^A (u/A)^alpha 4 u^-(p+1)/2/((p+1)(p+3)) du with the
  // seed index alpha: the Thomson emissivity of the segment.
  double thomson(double nu) const {
    const double alpha = -std::log(inu[s + 1] / inu[s]) / std::log(freqs[s + 1] / freqs[s]);
    const double A = nu / (4.0 * freqs[s]);
    const double B = nu / (4.0 * freqs[s + 1]);
    const double e = alpha - (p + 1.0) / 2.0 + 1.0;
    return inu[s] * kSigmaT * 4.0 / ((p + 1.0) * (p + 3.0)) * std::pow(A, -alpha) *
           (std::pow(A, e) - std::pow(B, e)) / e;
  }
};

TEST(IcPowlaw, NarrowSeedGivesTheThomsonPowerLaw) {
  for (double i_hi : {1.0, std::pow(10.0, -1.5 / 20.0)}) {  // alpha = 0 and 1.5
    const NarrowSeed seed(1.0, i_hi);
    const Vec j = seed.emissivity();
    ASSERT_EQ(j.size(), seed.freqs.size());
    for (std::size_t k = 100; k + 20 < 200; k += 7) {
      // One decade apart the grids repeat, so the slope is exact.
      EXPECT_NEAR(j[k + 20] / j[k], std::pow(10.0, -(seed.p - 1.0) / 2.0), 1e-9) << k;
      // Electrons whose segment starts below sqrt(A) are left out, which
      // costs about 1% on this seed grid.
      const double ratio = j[k] / seed.thomson(seed.freqs[k]);
      EXPECT_GT(ratio, 0.97) << k;
      EXPECT_LE(ratio, 1.0) << k;
    }
  }
}

TEST(IcPowlaw, NothingAboveTheKleinNishinaLimitOfTheSeed) {
  // Seed at 1e15 Hz: gamma_KN of the segment's upper frequency is ~276, and
  // electrons start at or above sqrt(nu/(4 nu_i)).
  NarrowSeed seed(1.0, 1.0);
  seed.s = 140;
  seed.inu.assign(seed.inu.size(), 0.0);
  seed.inu[140] = seed.inu[141] = 1.0;
  const double gkn = gamma_kn(seed.freqs[141]);
  const Vec j = seed.emissivity();
  for (std::size_t k = 150; k < j.size(); ++k) {
    const double sqrt_a = std::sqrt(seed.freqs[k] / (4.0 * seed.freqs[140]));
    if (sqrt_a > gkn) {
      EXPECT_EQ(j[k], 0.0) << k;
    } else if (sqrt_a < 0.9 * gkn) {
      EXPECT_GT(j[k], 0.0) << k;
    }
  }
}

TEST(IcPowlaw, EmptyInputsGiveZero) {
  const Vec g = logspace(0.0, 4.0, 20);
  const Vec n = power_law(g, 2.0);
  EXPECT_EQ(ic_iso_powlaw_full(Vec{1e12}, Vec{1.0}, g, n), (Vec{0.0}));
  const Vec freqs = logspace(9.0, 15.0, 13);
  EXPECT_EQ(ic_iso_powlaw_full(freqs, Vec(13, 0.0), g, n), Vec(13, 0.0));
  EXPECT_EQ(ic_iso_powlaw_full(freqs, Vec(13, 1.0), g, Vec(20, 0.0)), Vec(13, 0.0));
  EXPECT_TRUE(ic_iso_powlaw_full(Vec{}, Vec{}, g, n).empty());
}

TEST(IcPowlaw, ShortInputsFail) {
  const Vec g = logspace(0.0, 4.0, 20);
  const Vec n = power_law(g, 2.0);
  const Vec freqs = logspace(9.0, 15.0, 13);
  const Vec inu(13, 1.0);
  EXPECT_EQ(fatal_text([&] { ic_iso_powlaw_full(freqs, Vec(12, 1.0), g, n); }), kOutOfBounds);
  EXPECT_EQ(fatal_text([&] { ic_iso_powlaw_full(freqs, inu, g, Vec(n.begin(), n.end() - 1)); }),
            kOutOfBounds);
  EXPECT_EQ(fatal_text([&] { ic_iso_powlaw_full(freqs, inu, Vec{}, Vec{}); }), kOutOfBounds);
}

}  // namespace
