#include "misc.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>

namespace ostrel::misc {

// ---------------------------------------------------------------------------
// Tridiagonal solver.
//
// Forward elimination and back substitution without pivoting (the Thomas
// algorithm).  gam[j] holds the elimination factor c[j-1]/bet of row j; row 0
// has none, so gam[0] stays 0 and is never read.  A pivot that is exactly zero
// (-0.0 included, NaN not) is fatal; tiny, infinite and NaN pivots run through.
// Entries that a row needs but the input lacks are read through at() and so
// give the index-out-of-range error (n = 0 included).
// ---------------------------------------------------------------------------
std::vector<double> tridag_ser(std::span<const double> a, std::span<const double> b,
                               std::span<const double> c, std::span<const double> r) {
  const std::size_t n = b.size();
  std::vector<double> u(n, 0.0);
  std::vector<double> gam(n, 0.0);

  double bet = at(b, 0);
  if (bet == 0.0) throw FatalError(message::kTridagStage1);
  u[0] = at(r, 0) / bet;

  for (std::size_t j = 1; j < n; ++j) {
    gam[j] = at(c, j - 1) / bet;
    const double a_j = at(a, j - 1);
    bet = b[j] - gam[j] * a_j;
    if (bet == 0.0) throw FatalError(message::kTridagStage2);
    u[j] = (at(r, j) - a_j * u[j - 1]) / bet;
  }
  for (std::size_t j = n; j-- > 1;) {
    u[j - 1] = u[j - 1] - gam[j] * u[j];
  }
  return u;
}

// ---------------------------------------------------------------------------
// Polynomial interpolation (Neville).
//
// The tableau is kept as two correction tables: after column m, c[i] and d[i]
// are the differences between the polynomial through points i..i+m and the
// ones through i..i+m-1 (c) and i+1..i+m (d).  Starting from the tabulated
// point nearest x, each column adds either a c or a d correction, walking the
// tableau along the path that stays centred on x; the last correction is the
// error estimate.  Nearest point: running minimum of |xa[i] - x| from the
// largest finite double, replaced only on strictly smaller values, so ties go
// to the lowest index.  Equal abscissae meeting in one column make the
// denominator exactly zero; that is the one failure besides mismatched sizes.
//
// The routine runs in the inner loops of the Romberg integrations with n = 5
// or 10, so small tables live on the stack.
// ---------------------------------------------------------------------------
namespace {

constexpr std::size_t kStackPoints = 16;

// Scratch of one interpolation: x-differences and the two correction tables.
class NevilleScratch {
 public:
  explicit NevilleScratch(std::size_t n) {
    if (n > kStackPoints) heap_.resize(3 * n);
    double* base = n > kStackPoints ? heap_.data() : stack_.data();
    diff = base;
    c = base + n;
    d = base + 2 * n;
  }
  NevilleScratch(const NevilleScratch&) = delete;
  NevilleScratch& operator=(const NevilleScratch&) = delete;

  double* diff;
  double* c;
  double* d;

 private:
  std::array<double, 3 * kStackPoints> stack_;
  std::vector<double> heap_;
};

}  // namespace

Result<Interpolated> polint(std::span<const double> xa, std::span<const double> ya, double x) {
  if (xa.size() != ya.size()) return Result<Interpolated>::err(message::kPolintSizes);
  const std::size_t n = xa.size();

  NevilleScratch t(n);
  std::size_t ns = 0;
  double dif = std::numeric_limits<double>::max();
  for (std::size_t i = 0; i < n; ++i) {
    t.diff[i] = xa[i] - x;
    const double dift = std::fabs(t.diff[i]);
    if (dift < dif) {
      ns = i;
      dif = dift;
    }
    t.c[i] = ya[i];
    t.d[i] = ya[i];
  }
  double y = at(ya, ns);
  if (n == 1) return Result<Interpolated>::ok({y, 0.0});

  double dy = 0.0;
  for (std::size_t m = 1; m < n; ++m) {
    for (std::size_t i = 0; i + m < n; ++i) {
      const double ho = t.diff[i];
      const double hp = t.diff[i + m];
      const double w = t.c[i + 1] - t.d[i];
      double den = ho - hp;
      if (den == 0.0) return Result<Interpolated>::err(message::kPolintFailure);
      den = w / den;
      t.d[i] = hp * den;
      t.c[i] = ho * den;
    }
    // ns >= 1 whenever the else branch runs: with ns = 0 the test reads
    // 0 < n - m, which holds for every column.
    if (2 * ns < n - m) {
      dy = t.c[ns];
    } else {
      --ns;
      dy = t.d[ns];
    }
    y += dy;
  }
  return Result<Interpolated>::ok({y, dy});
}

// ---------------------------------------------------------------------------
// Romberg integration.
//
// Stage j refines the trapezoid estimate s[j-1] by the midpoints of the
// previous stage's intervals (2^(j-2) new points, each computed directly from
// its index so that no rounding accumulates along the stage).  h[j-1] is the
// squared step relative to b - a; from stage 5 on, the last five (h, s) pairs
// are extrapolated to h = 0 with polint, and the value is accepted once the
// extrapolation's last correction is within 1e-5 of it in relative terms.
// ---------------------------------------------------------------------------
namespace {

constexpr int kMaxStages = 20;
constexpr int kExtrapolationPoints = 5;
constexpr double kRombergTolerance = 1e-5;

}  // namespace

Result<double> qromb_w2arg(Integrand2 func, double a, double b, double p) {
  std::array<double, kMaxStages + 1> s{};
  std::array<double, kMaxStages + 1> h;
  h.fill(1.0);

  for (int j = 1; j <= kMaxStages; ++j) {
    if (j == 1) {
      const double fa = func(a, p);
      const double fb = func(b, p);
      s[0] = 0.5 * (b - a) * (fa + fb);
    } else {
      const std::size_t it = std::size_t{1} << (j - 2);
      const double del = (b - a) / static_cast<double>(it);
      double sum = 0.0;
      for (std::size_t k = 0; k < it; ++k) {
        sum += func(a + (static_cast<double>(k) + 0.5) * del, p);
      }
      s[j - 1] = 0.5 * (s[j - 1] + del * sum);
    }

    // A NaN estimate decides the outcome now.  Every later estimate is
    // 0.5*(previous + del*sum), so it is NaN as well.  The extrapolation of
    // any later stage starts Neville's scheme from the ordinate whose h is
    // smallest, which is the newest estimate (h falls strictly, by 4 per
    // stage), so its ss is NaN and |ss|*1e-5 >= |dss| is false; polint
    // cannot fail instead, since the h are distinct powers of 1/4.  No later
    // stage can therefore return a value, and the loop would end with the
    // same error after up to 2^19 further evaluations of the integrand.
    if (std::isnan(s[j - 1])) return Result<double>::err(message::kQrombTooManySteps);

    if (j >= kExtrapolationPoints) {
      const std::size_t first = static_cast<std::size_t>(j - kExtrapolationPoints);
      const auto hs = std::span<const double>(h).subspan(first, kExtrapolationPoints);
      const auto ss = std::span<const double>(s).subspan(first, kExtrapolationPoints);
      const Result<Interpolated> ext = polint(hs, ss, 0.0);
      if (!ext.is_ok()) return Result<double>::err(ext.error());
      if (std::fabs(ext.value().y) * kRombergTolerance >= std::fabs(ext.value().dy)) {
        return Result<double>::ok(ext.value().y);
      }
      if (j == kMaxStages) return Result<double>::err(message::kQrombTooManySteps);
    }
    s[j] = s[j - 1];
    h[j] = 0.25 * h[j - 1];
  }
  return Result<double>::err(message::kQrombTooManySteps);  // not reached: stage 20 returns
}

}  // namespace ostrel::misc
