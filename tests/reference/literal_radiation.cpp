// The literal algorithms, kept as they were before the production kernels
// were restructured: no tables, no shared evaluations, no skipped segments,
// one output bin after the other on the calling thread.  Shared pieces that
// the speed-ups do not touch (polint, qromb_w2arg, the synchrotron function,
// the Klein-Nishina integrands, the index of a segment, the diagnostics'
// number format) come from the kernels library.
#include "literal_radiation.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "coefficients.hpp"
#include "error.hpp"
#include "misc.hpp"
#include "pwl_integ.hpp"
#include "radiation.hpp"

namespace ostrel::reference {
namespace {

// ===== power-law integrals ==================================================

using pwl_integ::clamp_index;
using pwl_integ::ipow;
using pwl_integ::segment_index;

constexpr double kSeriesTol = 1e-9;
constexpr double kPowerSeriesSwitch = 6.000000000000001e-9;

struct LogPowers {
  double d;
  double L;
  double ell;
  double ell1;
  double ell2;

  explicit LogPowers(double rho)
      : d(rho - 1.0),
        L(std::log(rho)),
        ell(1.5 * ipow<4>(d) > kSeriesTol ? L : d),
        ell1(0.5 * ipow<2>(d) > kSeriesTol ? L : d),
        ell2(ipow<3>(d) > kSeriesTol ? ipow<2>(L) : ipow<2>(d)) {}
};

double power_integral(const LogPowers& lp, double rho, double k) {
  if (ipow<2>(k) * ipow<3>(lp.ell) > kPowerSeriesSwitch) return (1.0 - std::pow(rho, k)) / (-k);
  return lp.ell1 + k * lp.ell2 * 0.5;
}

double power_integral(double rho, double k) { return power_integral(LogPowers(rho), rho, k); }

double guarded_log(double x) {
  const double delta = x - 1.0;
  return 0.5 * ipow<2>(delta) > kSeriesTol ? std::log(x) : delta;
}

double guarded_log_squared(double x) {
  const double delta = x - 1.0;
  return ipow<3>(delta) > kSeriesTol ? ipow<2>(std::log(x)) : ipow<2>(delta);
}

double sscr(double a0, double a1, double a2, double a3, double b, double c) {
  const double s_outer = b + c + 2.0;
  return std::pow(a0, b + 1.0) * std::pow(a2, s_outer) * power_integral(a3 / a2, s_outer) *
         power_integral(a1 / a0, b + 1.0);
}

double sscs(double a0, double a1, double a2, double a3, double b, double c) {
  const double P = 1.0 + b;
  const double rho = a3 / a2;
  const double e = a1 / (a0 * a3);
  const double lambda = 1.5 * ipow<4>(e - 1.0) > kSeriesTol ? std::log(e) : e - 1.0;
  const LogPowers lp(rho);

  if (ipow<2>(P) * ipow<3>(lambda) > kPowerSeriesSwitch) {
    return std::pow(a2, c + 1.0) *
           (std::pow(a1, P) * power_integral(lp, rho, c + 1.0) -
            std::pow(a0 * a2, P) * power_integral(lp, rho, b + c + 2.0)) /
           P;
  }

  const double eta = a1 / (a0 * a2);
  const double kappa1 = guarded_log(eta);
  const double kappa2 = guarded_log_squared(eta);
  const double Q = -1.0 - c;
  const double rho_c1 = c + 1.0;

  const double V = power_integral(lp, rho, rho_c1);

  const double ell_w = 2.0 * ipow<5>(lp.d) > kSeriesTol ? lp.L : lp.d;
  const double W = 0.125 * ipow<4>(ell_w) * ipow<2>(Q) > kSeriesTol
                       ? (1.0 - (lp.ell1 * Q + 1.0) * std::pow(rho, rho_c1)) / ipow<2>(Q)
                       : lp.ell2 * 0.5 - Q * ipow<3>(lp.ell) / 3.0;

  const double ell_z = 2.5 * ipow<6>(lp.d) > kSeriesTol ? lp.L : lp.d;
  const double Z =
      0.1 * ipow<5>(ell_z) * ipow<2>(Q) > kSeriesTol
          ? (2.0 - ((lp.ell1 * Q + 2.0) * lp.ell1 * Q + 2.0) * std::pow(rho, rho_c1)) / ipow<3>(Q)
          : ipow<3>(lp.ell) / 3.0 - 0.25 * Q * ipow<4>(ell_w);

  return std::pow(a0, P) * std::pow(a2, b + c + 2.0) *
         ((kappa1 * V - W) + (P * 0.5) * (kappa2 * V - 2.0 * kappa1 * W + Z));
}

// ===== synchrotron ==========================================================

using radiation::syn_r_fit;

struct SynSegment {
  double gamma_i;
  double n_i;
  double q;
  double lnga;
  double lngb;
};

std::optional<SynSegment> syn_segment(std::span<const double> gamma_bins,
                                      std::span<const double> n_distrib, std::size_t i) {
  const double n0 = at(n_distrib, i);
  if (!(n0 > 1e-100)) return std::nullopt;
  const double n1 = at(n_distrib, i + 1);
  if (!(n1 > 1e-100)) return std::nullopt;
  const double g0 = gamma_bins[i];
  const double g1 = gamma_bins[i + 1];
  double q = -std::log(n1 / n0) / std::log(g1 / g0);
  if (q > 8.0) {
    q = 8.0;
  } else if (q < -8.0) {
    q = -8.0;
  }
  return SynSegment{g0, n0, q, std::log(g0), std::log(g1)};
}

double r_of_gamma(double chi, double gamma) {
  if (chi <= 0.75 / gamma) return 0.0;
  return syn_r_fit((2.0 * chi) / ((gamma * gamma) * 3.0));
}

double emission_integrand(double gamma, double chi, double q) {
  return std::pow(gamma, 1.0 - q) * r_of_gamma(chi, gamma);
}

double absorption_integrand(double gamma, double chi, double q) {
  const double g2 = gamma * gamma;
  return (g2 / (g2 - 1.0) + (q + 1.0)) * (std::pow(gamma, -q) * r_of_gamma(chi, gamma));
}

struct RombergKind {
  const char* label;
  double (*integrand)(double gamma, double chi, double q);
  int first_extrapolation_stage;
  bool guard_lower_end;
  bool report_on_stdout;
};

constexpr RombergKind kEmission{"RMA", emission_integrand, 10, false, true};
constexpr RombergKind kAbsorption{"ARMA", absorption_integrand, 11, true, false};

void write_whole(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

void report_non_convergence(const RombergKind& kind, double chi, double q, double ga, double gb,
                            double qromb, double dqromb) {
  using radiation::plain_shortest_decimal;
  const std::string label = kind.label;
  const std::string block = label + "_qromb error\n" +
                            "chi    = " + plain_shortest_decimal(chi) + "\n" +
                            "q      = " + plain_shortest_decimal(q) + "\n" +
                            "ga     = " + plain_shortest_decimal(ga) + "\n" +
                            "gb     = " + plain_shortest_decimal(gb) + "\n" +
                            "qromb  = " + plain_shortest_decimal(qromb) + "\n" +
                            "dqromb = " + plain_shortest_decimal(dqromb) + "\n";
  const std::string verdict = label + "_qromb: too many steps";
  if (kind.report_on_stdout) {
    write_whole(stdout, block);
    write_whole(stderr, verdict);
  } else {
    write_whole(stderr, block + verdict + "\n");
  }
}

// Romberg over u = ln gamma, 60 stages at most, with the early end on a NaN
// estimate or two successive infinite ones (the outcome is then fixed).
double romberg_over_ln_gamma(const RombergKind& kind, double chi, const SynSegment& seg) {
  const double q = seg.q;
  auto integrand = [&](double gamma) { return kind.integrand(gamma, chi, q); };

  const double width = seg.lngb - seg.lnga;
  const double ga = std::exp(seg.lnga);
  const double gb = std::exp(seg.lngb);
  double ga_lower = ga;
  if (kind.guard_lower_end) ga_lower = ga - 1.0 > 1e-10 ? ga : 1.0000000001;

  std::array<double, 61> s{};
  std::array<double, 61> h{};
  h[0] = 1.0;
  double qromb = 0.0;
  double dqromb = 0.0;
  for (int j = 1; j <= 60; ++j) {
    const auto cur = static_cast<std::size_t>(j - 1);
    if (j == 1) {
      s[0] = 0.5 * width * (integrand(gb) + integrand(ga_lower));
    } else {
      const std::uint64_t it = std::uint64_t{1} << (j - 2);
      const double del = width / static_cast<double>(it);
      double u = seg.lnga + 0.5 * del;
      double sum = 0.0;
      for (std::uint64_t k = 0; k < it; ++k) {
        sum += integrand(std::exp(u));
        u += del;
      }
      s[cur] = 0.5 * (s[cur] + del * sum);
    }
    if (std::isnan(s[cur]) || (cur > 0 && std::isinf(s[cur]) && std::isinf(s[cur - 1]))) {
      qromb = s[cur] - s[cur];
      dqromb = qromb;
      break;
    }
    if (j >= kind.first_extrapolation_stage) {
      const std::size_t first = cur + 1 - 10;
      const auto ext = misc::polint(std::span<const double>(h).subspan(first, 10),
                                    std::span<const double>(s).subspan(first, 10), 0.0)
                           .unwrap();
      qromb = ext.y;
      dqromb = ext.dy;
      if (std::abs(qromb) * 1e-5 >= std::abs(dqromb)) return qromb;
    }
    if (j < 60) {
      s[cur + 1] = s[cur];
      h[cur + 1] = 0.25 * h[cur];
    }
  }
  report_non_convergence(kind, chi, q, ga, gb, qromb, dqromb);
  return qromb;
}

std::pair<double, double> syn_at_frequency(double nu, std::span<const double> gamma_bins,
                                           std::span<const double> n_distrib, double b_field,
                                           bool with_abs) {
  const double nu_b = constants::nu_b_per_gauss * b_field;
  const double chi = nu / nu_b;

  double j_sum = 0.0;
  for (std::size_t i = 0; i + 1 < gamma_bins.size(); ++i) {
    const auto seg = syn_segment(gamma_bins, n_distrib, i);
    if (!seg) continue;
    const double integral = romberg_over_ln_gamma(kEmission, chi, *seg);
    j_sum += std::pow(seg->gamma_i, seg->q) *
             ((seg->n_i * (nu_b * coefficients::syn_emissivity_coeff)) * integral);
  }

  double a_sum = 0.0;
  if (with_abs) {
    for (std::size_t i = 0; i + 1 < gamma_bins.size(); ++i) {
      const auto seg = syn_segment(gamma_bins, n_distrib, i);
      if (!seg) continue;
      const double integral = romberg_over_ln_gamma(kAbsorption, chi, *seg);
      a_sum += std::pow(seg->gamma_i, seg->q) *
               (seg->n_i * (nu_b * coefficients::syn_absorption_coeff) * integral) / (nu * nu);
    }
  }

  const double j = j_sum < 1e-200 ? 0.0 : j_sum;
  const double a = a_sum < 1e-200 ? 0.0 : a_sum;
  return {j, a};
}

// ===== inverse Compton ======================================================

double ic_powlaw_at(double nu, std::span<const double> freqs, std::span<const double> inu,
                    std::span<const double> g, std::span<const double> n) {
  double sum = 0.0;
  for (std::size_t i = 0; i + 1 < freqs.size(); ++i) {
    const double I_lo = at(inu, i);
    if (!(I_lo > 1e-200)) continue;
    const double I_hi = at(inu, i + 1);
    if (!(I_hi > 1e-200)) continue;

    const double nu_lo = freqs[i];
    const double nu_hi = freqs[i + 1];
    const double alpha = segment_index(nu_lo, I_lo, nu_hi, I_hi);
    const double gamma_kn = coefficients::energy_e_quarter / (constants::h * nu_hi);
    const double A = nu / (4.0 * nu_lo);
    const double B = nu / (4.0 * nu_hi);
    const double low = std::fmax(std::sqrt(A), at(g, 0));
    const double high = std::fmin(gamma_kn, at(g, g.size() - 1));
    if (!(high > low)) continue;
    const double u_lo = std::fmax(B, 0.25);
    const double weight = std::pow(A, -alpha);

    for (std::size_t k = 0; k + 1 < g.size(); ++k) {
      const double g_k = g[k];
      if (!(low <= g_k && g_k <= high)) continue;
      const double n_k = at(n, k);
      if (!(n_k > 1e-200)) continue;
      const double n_k1 = at(n, k + 1);
      if (!(n_k1 > 1e-200)) continue;

      const double g_k1 = g[k + 1];
      const double g_top = std::fmin(gamma_kn, g_k1);
      const double u_hi = std::fmin(g_top * g_top, A);
      if (!(u_hi > u_lo)) continue;

      const double p = segment_index(g_k, n_k, g_k1, n_k1);
      const double R = (p - 1.0) / 2.0;
      const double S = (2.0 * alpha - p - 1.0) / 2.0;
      const double y_top = 1.0 / (g_top * g_top);
      const double y_k = 1.0 / (g_k * g_k);
      const auto below = [&](double lo, double hi) {
        return sscr(y_top, y_k, lo, hi, R, S) - sscr(y_top, y_k, lo, hi, R + 1.0, S);
      };
      const auto cut = [&](double lo, double hi) {
        return sscs(y_top, 1.0, lo, hi, R, S) - sscs(y_top, 1.0, lo, hi, R + 1.0, S);
      };

      const double g_k2 = g_k * g_k;
      double X;
      if (A > 0.25 && A < g_k2) {
        X = below(u_lo, u_hi);
      } else if (A <= g_k2 && B <= g_k2) {
        X = cut(g_k2, u_hi) + below(u_lo, g_k2);
      } else if (B > g_k2 && g_top * g_top >= B) {
        X = cut(u_lo, u_hi);
      } else {
        X = 0.0;
      }
      sum = sum + std::pow(g_k, p) * (n_k * X) * I_lo * coefficients::sigma_t * weight;
    }
  }
  return sum;
}

// ===== Compton cooling ======================================================

constexpr double kKn4K = 2.61498035745506e-20;

using radiation::trans_kn;
using radiation::trans_kn_fit;

struct SegmentLogs {
  double l1, l2, l3, l4;

  explicit SegmentLogs(double r) {
    const double d = r - 1.0;
    const double L = std::log(r);
    l1 = 0.5 * ipow<2>(d) > 1e-6 ? L : d;
    l2 = ipow<3>(d) > 1e-6 ? ipow<2>(L) : ipow<2>(d);
    l3 = 1.5 * ipow<4>(d) > 1e-6 ? ipow<3>(L) : ipow<3>(d);
    l4 = 2.0 * ipow<5>(d) > 1e-6 ? ipow<4>(L) : ipow<4>(d);
  }
};

double segment_p0(const SegmentLogs& lg, double r, double s) {
  const double sm1 = s - 1.0;
  if (sm1 * sm1 * lg.l3 > 6e-6) return (1.0 - std::pow(r, 1.0 - s)) / sm1;
  return lg.l1 - 0.5 * sm1 * lg.l2;
}

double segment_p1(const SegmentLogs& lg, double r, double s) {
  const double sm1 = s - 1.0;
  if (sm1 * sm1 * lg.l4 / 8.0 > 1e-6) {
    return (1.0 - std::pow(r, 1.0 - s) * (1.0 + sm1 * lg.l1)) / (sm1 * sm1);
  }
  return lg.l2 / 2.0 - sm1 * lg.l3 / 3.0;
}

double cooling_segment(double x0, double x1, double y0, double q, bool with_kn) {
  const double r = x1 / x0;
  if (with_kn) {
    if (x0 >= 100.0) {
      const SegmentLogs lg(r);
      const double p = q + 2.0;
      return ((std::log(x0) - 1.8333333333333333) * segment_p0(lg, r, p) + segment_p1(lg, r, p)) *
             (4.5 * y0) / x0;
    }
    if (x0 >= 1.0) {
      const double I = misc::qromb_w2arg(trans_kn_fit, x0, x1, q).unwrap();
      return (y0 * I) * std::pow(x0, q);
    }
    if (x0 >= 0.001) {
      const double I = misc::qromb_w2arg(trans_kn, x0, x1, q).unwrap();
      return (y0 * I) * std::pow(x0, q);
    }
  }
  return (y0 * x0) * segment_p0(SegmentLogs(r), r, q);
}

double cooling_row_sum(std::span<const double> x, std::span<const double> y, bool with_kn) {
  if (x.empty()) fail_index_out_of_bounds();
  double sum = 0.0;
  for (std::size_t k = 1; k < x.size(); ++k) {
    const double y1 = y[k];
    const double y0 = y[k - 1];
    if (!(y1 > 1e-100 && y0 > 1e-100)) continue;
    const double x0 = x[k - 1];
    const double x1 = x[k];
    const double q = segment_index(x0, y0, x1, y1);
    sum = sum + cooling_segment(x0, x1, y0, q, with_kn);
  }
  return sum;
}

}  // namespace

std::pair<std::vector<double>, std::vector<double>> syn_emissivity_full(
    std::span<const double> freqs, std::span<const double> gamma_bins,
    std::span<const double> n_distrib, double b_field, bool with_abs) {
  std::vector<double> j_nu(freqs.size(), 0.0);
  std::vector<double> a_nu(freqs.size(), 0.0);
  for (std::size_t k = 0; k < freqs.size(); ++k) {
    const auto [j, a] = syn_at_frequency(freqs[k], gamma_bins, n_distrib, b_field, with_abs);
    j_nu[k] = j;
    if (with_abs) a_nu[k] = a;
  }
  return {std::move(j_nu), std::move(a_nu)};
}

std::vector<double> ic_iso_powlaw_full(std::span<const double> freqs, std::span<const double> inu,
                                       std::span<const double> g, std::span<const double> n) {
  std::vector<double> out(freqs.size());
  for (std::size_t j = 0; j < freqs.size(); ++j) out[j] = ic_powlaw_at(freqs[j], freqs, inu, g, n);
  return out;
}

std::vector<double> rad_cool_pwl(std::span<const double> gg, std::span<const double> freqs,
                                 std::span<const double> uu, bool with_kn) {
  const std::size_t n_nu = freqs.size();
  std::vector<double> X(gg.size() * n_nu);
  std::vector<double> Y(gg.size() * n_nu);
  for (std::size_t i = 0; i < gg.size(); ++i) {
    for (std::size_t k = 0; k < n_nu; ++k) {
      X[i * n_nu + k] = (kKn4K * gg[i]) * freqs[k];
      Y[i * n_nu + k] = (gg[i] * at(uu, k)) * kKn4K;
    }
  }
  const std::span<const double> xs(X);
  const std::span<const double> ys(Y);
  std::vector<double> out(gg.size());
  for (std::size_t i = 0; i < gg.size(); ++i) {
    const double sum =
        cooling_row_sum(xs.subspan(i * n_nu, n_nu), ys.subspan(i * n_nu, n_nu), with_kn);
    out[i] = (sum * coefficients::thomson_cooling_coeff) / (kKn4K * kKn4K);
  }
  return out;
}

}  // namespace ostrel::reference
