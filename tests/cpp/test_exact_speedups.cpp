// The restructured synchrotron, inverse-Compton and cooling kernels against
// the literal single-threaded reference, bit for bit, on seeded random
// inputs: grids of 1 to 40 points, power laws with exponential cutoffs,
// zeros and below-floor entries, steep and flat segments, equal neighbouring
// grid points, extreme fields and frequencies, short density vectors.
// Failures must agree too (same message), and so must the amount of
// non-convergence diagnostics.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "constants.hpp"
#include "error.hpp"
#include "literal_radiation.hpp"
#include "radiation.hpp"
#include "support.hpp"

namespace {

namespace rad = ostrel::radiation;
namespace ref = ostrel::reference;
using ostrel::testing_support::kInf;
using ostrel::testing_support::kNaN;
using ostrel::testing_support::Vec;

std::string bits(double x) {
  std::ostringstream s;
  s << x << " [0x" << std::hex << std::bit_cast<std::uint64_t>(x) << "]";
  return s.str();
}

std::string show(const Vec& v) {
  std::ostringstream s;
  s.precision(17);
  s << "{";
  for (std::size_t i = 0; i < v.size(); ++i) s << (i ? ", " : "") << v[i];
  return s.str() + "}";
}

// Every element the same 64 bits, so -0.0 differs from +0.0.  Two NaNs count
// as equal whatever their sign and payload: when both operands of a product
// or sum are NaN (as in gamma^2/(gamma^2-1) + (q+1) times gamma^-q R for a
// NaN index q, where -q flips the sign bit), x86 returns the first operand's
// NaN, and the compiler may swap the operands of + and * freely, so the sign
// of such a NaN is fixed neither by the written order nor across builds of
// the same source.
::testing::AssertionResult same_bits(const Vec& got, const Vec& want) {
  if (got.size() != want.size()) {
    return ::testing::AssertionFailure() << "sizes " << got.size() << " vs " << want.size();
  }
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (std::isnan(got[i]) && std::isnan(want[i])) continue;
    if (std::bit_cast<std::uint64_t>(got[i]) != std::bit_cast<std::uint64_t>(want[i])) {
      return ::testing::AssertionFailure()
             << "element " << i << ": " << bits(got[i]) << " vs reference " << bits(want[i]);
    }
  }
  return ::testing::AssertionSuccess();
}

// What one call did: its result, or the message it failed with, and how much
// it printed.
struct Outcome {
  std::vector<Vec> result;
  std::optional<std::string> error;
  std::size_t out_bytes = 0;
  std::size_t err_bytes = 0;
};

Outcome run(const std::function<std::vector<Vec>()>& call) {
  Outcome o;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  try {
    o.result = call();
  } catch (const ostrel::FatalError& e) {
    o.error = e.what();
  }
  o.out_bytes = testing::internal::GetCapturedStdout().size();
  o.err_bytes = testing::internal::GetCapturedStderr().size();
  return o;
}

void expect_same(const Outcome& got, const Outcome& want, const std::string& context) {
  EXPECT_EQ(got.error, want.error) << context;
  // After a failure the reports of other frequencies depend on which ones
  // were already under way on other workers.
  if (!want.error) {
    EXPECT_EQ(got.out_bytes, want.out_bytes) << "stdout diagnostics\n" << context;
    EXPECT_EQ(got.err_bytes, want.err_bytes) << "stderr diagnostics\n" << context;
  }
  ASSERT_EQ(got.result.size(), want.result.size()) << context;
  for (std::size_t r = 0; r < got.result.size(); ++r) {
    EXPECT_TRUE(same_bits(got.result[r], want.result[r])) << "result " << r << "\n" << context;
  }
}

// --- generated inputs ----------------------------------------------------------

class Gen {
 public:
  explicit Gen(std::uint64_t seed) : rng_(seed) {}

  double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
  int integer(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(double p) { return uniform(0.0, 1.0) < p; }

  // 10^(a + k step), k = 0 .. n-1.
  Vec log_grid(int n, double a, double span) {
    const double step = n > 1 ? span / (n - 1) : 0.0;
    Vec v(n);
    for (int k = 0; k < n; ++k) v[k] = std::pow(10.0, a + k * step);
    return v;
  }

  // A grid of n points from 10^a over `span` decades, sometimes with two
  // equal neighbours or reversed.
  Vec grid(int n, double a, double span) {
    Vec v = log_grid(n, a, span);
    if (n >= 3 && chance(0.08)) {
      const int k = integer(1, n - 1);
      v[k] = v[k - 1];
    }
    if (n >= 2 && chance(0.04)) std::reverse(v.begin(), v.end());
    return v;
  }

  // A x^-p exp(-x/cutoff) on the grid, with zeros, below-floor entries, steep
  // drops and flat steps mixed in.
  Vec spectrum(const Vec& x, double floor) {
    const double A = std::pow(10.0, uniform(-12.0, 6.0));
    const double p = uniform(-3.0, 6.0);
    const double cutoff = x.empty() ? 1.0 : x.back() * std::pow(10.0, uniform(-3.0, 1.0));
    Vec y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
      y[i] = A * std::pow(x[i], -p) * std::exp(-x[i] / cutoff);
      const double roll = uniform(0.0, 1.0);
      if (roll < 0.04) {
        y[i] = 0.0;
      } else if (roll < 0.07) {
        y[i] = floor * 0.1;
      } else if (roll < 0.09) {
        y[i] = floor;
      } else if (roll < 0.13) {
        y[i] *= 1e-30;  // steeper than index 8 on both sides
      } else if (roll < 0.17 && i > 0) {
        y[i] = y[i - 1];
      }
    }
    return y;
  }

 private:
  std::mt19937_64 rng_;
};

std::string describe(const char* kernel, std::initializer_list<std::pair<const char*, Vec>> vecs,
                     const std::string& scalars) {
  std::ostringstream s;
  s << kernel << "(";
  for (const auto& [name, v] : vecs) s << name << " = " << show(v) << ", ";
  return s.str() + scalars + ")";
}

// --- synchrotron ---------------------------------------------------------------

struct SynCase {
  Vec freqs, gamma, n;
  double b;
  bool with_abs;
};

SynCase random_syn_case(Gen& gen) {
  SynCase c;
  const int n_gamma = gen.chance(0.05) ? 1 : gen.integer(2, 40);
  const double lo = gen.chance(0.2) ? 0.0 : gen.uniform(0.0, 3.0);
  c.gamma = gen.grid(n_gamma, lo, gen.uniform(0.01, 6.0));
  if (gen.chance(0.1)) c.gamma.front() = 1.0;  // absorption weight infinite at gamma = 1
  c.n = gen.spectrum(c.gamma, 1e-100);
  c.b = std::pow(10.0, gen.uniform(-6.0, 6.0));
  c.with_abs = gen.chance(0.6);
  const int n_freqs = gen.integer(1, 6);
  for (int k = 0; k < n_freqs; ++k) c.freqs.push_back(std::pow(10.0, gen.uniform(5.0, 30.0)));
  return c;
}

void compare_syn(const SynCase& c) {
  const auto call = [&c](auto kernel) {
    return [&c, kernel] {
      auto [j, a] = kernel(c.freqs, c.gamma, c.n, c.b, c.with_abs);
      return std::vector<Vec>{j, a};
    };
  };
  const Outcome got = run(call(rad::syn_emissivity_full));
  const Outcome want = run(call(ref::syn_emissivity_full));
  expect_same(got, want,
              describe("syn_emissivity_full",
                       {{"freqs", c.freqs}, {"gamma_bins", c.gamma}, {"n_distrib", c.n}},
                       "b_field = " + bits(c.b) + ", with_abs = " + std::to_string(c.with_abs)));
}

TEST(ExactSpeedups, SynchrotronOnGeneratedInputs) {
  Gen gen(20240611);
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    compare_syn(random_syn_case(gen));
    if (HasFailure()) return;
  }
}

TEST(ExactSpeedups, SynchrotronAtTheEdgesOfTheSkippedSegments) {
  // Frequencies that put the emission cut chi = 0.75/gamma, or the point
  // where exp(-x) underflows (x = 2 chi/(3 gamma^2) near 746), right at the
  // top of a segment, and a few steps either side.
  const Vec gamma = {1.0, 3.0, 30.0, 1e3, 1e5};
  const Vec n = {1.0, 0.3, 1e-3, 1e-8, 1e-16};
  for (double g : gamma) {
    for (double chi : {0.75 / g, 746.0 * 1.5 * g * g}) {
      for (int step = -3; step <= 3; ++step) {
        double nu = chi * ostrel::constants::nu_b_per_gauss;
        for (int s = 0; s < std::abs(step); ++s) nu = std::nextafter(nu, step < 0 ? 0.0 : kInf);
        compare_syn({{nu, nu * (1 + 1e-9)}, gamma, n, 1.0, true});
      }
    }
  }
}

TEST(ExactSpeedups, SynchrotronOnALargeGrid) {
  // More segments than are tabulated at once; then with a NaN index (equal
  // neighbours with equal densities, reported) beyond the first block.
  Gen gen(5);
  Vec gamma = gen.log_grid(300, 0.5, 5.0);
  Vec n;
  for (double g : gamma) n.push_back(std::pow(g, -2.3) * std::exp(-g / 3e4));
  compare_syn({{1e9, 3e13, 1e26}, gamma, n, 2.0, true});
  gamma[281] = gamma[280];
  n[281] = n[280];
  compare_syn({{1e9, 1e26}, gamma, n, 2.0, true});
}

TEST(ExactSpeedups, SynchrotronSpecialValues) {
  const Vec gamma = {1.0, 2.0, 10.0, 50.0};
  const Vec n = {1.0, 0.2, 1e-3, 1e-6};
  // Frequencies 0, negative, infinite and NaN; fields 0, negative, NaN and
  // infinite (every segment cut, or every x infinite, with weights that may
  // not be finite).
  compare_syn({{0.0, -1e9, kInf, -kInf, kNaN, 1e9}, gamma, n, 1.0, true});
  for (double b : {0.0, -1.0, kNaN, kInf, 1e-300, 1e300}) {
    compare_syn({{1e9, 1e12}, gamma, n, b, true});
  }
  // Grids that put a Romberg point at gamma = 1 exactly (infinite absorption
  // weight: NaN even where no electron radiates), start below 1, or hold
  // infinities and NaNs.
  compare_syn({{1e3, 1e9, 1e25}, {0.5, 2.0}, {1.0, 0.5}, 1.0, true});
  compare_syn({{1e3, 1e9, 1e25}, {0.25, 4.0, 8.0}, {1.0, 0.5, 0.1}, 1.0, true});
  compare_syn({{1e9}, {1e-300, 1e-200, 1.0}, {1.0, 2.0, 3.0}, 1.0, true});
  compare_syn({{1e9, 1e30}, {2.0, kInf}, {1.0, 0.5}, 1.0, true});
  compare_syn({{1e9, 1e30}, {2.0, kNaN, 8.0}, {1.0, 0.5, 0.2}, 1.0, true});
  // Densities so large that the normalisation overflows.
  compare_syn({{1e9, 1e28}, {10.0, 20.0}, {1e300, 1e308}, 1e6, true});
  compare_syn({{1e9, 1e28}, {1e300, 1e301}, {1.0, 1e-8}, 1.0, true});
  compare_syn({{1e9, 1e28}, {10.0, 20.0}, {kInf, 1.0}, 1.0, true});
  // Absorption weights that change sign across the segment, with indices
  // where the integral nearly cancels: the integration runs past the
  // tabulated stages (to stages 12, 13 and 18).
  for (double q : {-2.2993927559815348, -2.2993927562958563, -2.2993927562546119}) {
    compare_syn({{1e7}, {1.2, 3.0}, {1.0, std::pow(3.0 / 1.2, -q)}, 1.0, true});
  }
  // Equal neighbouring points with equal densities: NaN index, reported.
  compare_syn({{1e9}, {10.0, 10.0, 20.0}, {1.0, 1.0, 0.5}, 1.0, true});
  // A density vector too short, reached after segments that report.
  compare_syn({{1e9, kNaN}, {10.0, 20.0, 30.0}, {1.0, 0.5}, 1.0, true});
  compare_syn({{1e9}, {10.0, 20.0, 30.0}, {0.0, 0.5}, 1.0, true});
}

// --- inverse Compton -----------------------------------------------------------

struct IcCase {
  Vec freqs, inu, g, n;
};

void compare_ic(const IcCase& c) {
  const auto call = [&c](auto kernel) {
    return [&c, kernel] { return std::vector<Vec>{kernel(c.freqs, c.inu, c.g, c.n)}; };
  };
  expect_same(run(call(rad::ic_iso_powlaw_full)), run(call(ref::ic_iso_powlaw_full)),
              describe("ic_iso_powlaw_full",
                       {{"freqs", c.freqs}, {"inu", c.inu}, {"g", c.g}, {"n", c.n}}, ""));
}

TEST(ExactSpeedups, InverseComptonOnGeneratedInputs) {
  Gen gen(777);
  for (int i = 0; i < 400; ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    IcCase c;
    c.freqs = gen.grid(gen.integer(1, 40), gen.uniform(6.0, 16.0), gen.uniform(0.0, 14.0));
    c.inu = gen.spectrum(c.freqs, 1e-200);
    c.g = gen.grid(gen.integer(1, 40), gen.chance(0.2) ? 0.0 : gen.uniform(0.0, 3.0),
                   gen.uniform(0.01, 7.0));
    c.n = gen.spectrum(c.g, 1e-200);
    if (gen.chance(0.05) && !c.n.empty()) c.n.pop_back();
    if (gen.chance(0.03) && !c.inu.empty()) c.inu.pop_back();
    if (gen.chance(0.02)) c.g.clear();
    compare_ic(c);
    if (HasFailure()) return;
  }
}

TEST(ExactSpeedups, InverseComptonSpecialValues) {
  const Vec freqs = {1e10, 1e12, 1e14, 1e16, 1e18, 1e20};
  const Vec inu = {1e-3, 1e-4, 1e-5, 1e-7, 1e-9, 1e-12};
  const Vec g = {1.0, 10.0, 1e2, 1e3, 1e4};
  const Vec n = {1.0, 1e-2, 1e-5, 1e-9, 1e-14};
  compare_ic({freqs, inu, g, n});
  compare_ic({freqs, inu, {1.0, kNaN, 1e2, kInf}, n});
  compare_ic({freqs, {1e-3, kNaN, 1e-5, kInf, 1e-9, 1e-12}, g, {1.0, kInf, 1e-5, 1e-9, kNaN}});
  compare_ic({{1e10, kNaN, 1e14, 1e14, 1e18}, inu, g, n});
  // An output frequency whose threshold gamma^2 = nu/(4 nu_i) falls exactly
  // on a grid point (1.6e11/(4 1e10) = 4 = 2^2): the region below threshold
  // and the one cut by it, with an empty cut part.
  compare_ic({{1e10, 1.6e11, 1e12, 1e14}, {1e-3, 1e-4, 1e-5, 1e-7}, {1.0, 2.0, 3.0, 10.0},
              {1.0, 0.3, 0.1, 1e-3}});
  // Electrons reached only from some output frequencies whose density vector
  // is too short: fails wherever any frequency needs the missing entry.
  compare_ic({freqs, inu, g, {1.0, 1e-2, 1e-5}});
  compare_ic({freqs, inu, {}, n});
  compare_ic({freqs, {1e-3}, g, n});
}

TEST(ExactSpeedups, InverseComptonOnLargeGrids) {
  // 399 seed segments times 199 electron segments below the Klein-Nishina
  // limits: more pairs than are tabulated at once.  Only every 20th electron
  // segment is populated, to keep the test short.
  Gen gen(99);
  IcCase c;
  c.freqs = gen.log_grid(400, 8.0, 4.0);
  c.g = gen.log_grid(200, 0.0, 6.0);
  for (double f : c.freqs) c.inu.push_back(1e-10 * std::pow(f / 1e8, -0.7));
  for (std::size_t k = 0; k < c.g.size(); ++k) {
    c.n.push_back(k % 20 < 2 ? std::pow(c.g[k], -2.5) : 0.0);
  }
  compare_ic(c);
}

// --- Compton cooling -------------------------------------------------------------

struct CoolCase {
  Vec gg, freqs, uu;
  bool with_kn;
};

void compare_cool(const CoolCase& c) {
  const auto call = [&c](auto kernel) {
    return [&c, kernel] { return std::vector<Vec>{kernel(c.gg, c.freqs, c.uu, c.with_kn)}; };
  };
  expect_same(run(call(rad::rad_cool_pwl)), run(call(ref::rad_cool_pwl)),
              describe("rad_cool_pwl", {{"gg", c.gg}, {"freqs", c.freqs}, {"uu", c.uu}},
                       "with_kn = " + std::to_string(c.with_kn)));
}

TEST(ExactSpeedups, CoolingOnGeneratedInputs) {
  Gen gen(4242);
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    CoolCase c;
    c.gg = gen.grid(gen.integer(1, 40), gen.uniform(0.0, 3.0), gen.uniform(0.0, 7.0));
    c.freqs = gen.grid(gen.integer(1, 40), gen.uniform(6.0, 18.0), gen.uniform(0.01, 12.0));
    c.uu = gen.spectrum(c.freqs, 1e-100 / (2.6e-20 * 1e3));
    c.with_kn = gen.chance(0.6);
    if (gen.chance(0.03) && !c.uu.empty()) c.uu.pop_back();
    compare_cool(c);
    if (HasFailure()) return;
  }
}

TEST(ExactSpeedups, CoolingSpecialValues) {
  const Vec freqs = {1e8, 1e12, 1e16, 1e18, 1e20};
  const Vec uu = {1e-10, 1e-13, 1e-16, 1e-18, 1e-21};
  compare_cool({{1.0, 1e3, 1e6, kNaN, kInf, 0.0, -5.0}, freqs, uu, true});
  compare_cool({{1e3}, {1e8, 1e12, 1e12, 1e16}, {1e-10, 1e-12, 1e-12, 1e-16}, true});
  compare_cool({{1e3}, {1e8, 1e12, 1e12, 1e16}, {1e-10, 1e-12, 1e-12, 1e-16}, false});
  compare_cool({{1e3, 1e4}, {}, {}, true});
  compare_cool({{}, {}, {}, true});
  compare_cool({{1e3, 1e4}, freqs, {1e-10, 1e-12}, true});
}

}  // namespace
