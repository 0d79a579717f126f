// Calls functions of the C++ interface of an installed ostrel and checks
// a property of each result; exits non-zero on failure.
#include <ostrel/ostrel.hpp>

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
  using ostrel::Vec;
  std::vector<double> gamma, n, q, gdot, diff;
  for (int i = 0; i < 64; ++i) {
    const double g = std::pow(10.0, 0.5 + 4.0 * i / 63.0);
    gamma.push_back(g);
    n.push_back(std::pow(g, -2.0));
    q.push_back(0.0);
    gdot.push_back(0.0);
    diff.push_back(1e-3 * g * g);
  }
  const auto evolved = ostrel::fp_findif_difu(1.0, gamma, n, gdot, diff, q, 1e200, 1.0);

  std::vector<double> freqs;
  for (int k = 0; k < 16; ++k) freqs.push_back(std::pow(10.0, 9.0 + 0.5 * k));
  const auto [j_nu, a_nu] = ostrel::syn_emissivity_full(freqs, gamma, evolved, 1.0, true);
  const auto j_ic = ostrel::ic_iso_monochrome_full(freqs, 1e-2, 1e10, evolved, gamma);

  bool ok = evolved.size() == gamma.size() && j_nu.size() == freqs.size() &&
            a_nu.size() == freqs.size() && j_ic.size() == freqs.size();
  for (std::size_t k = 0; ok && k < freqs.size(); ++k) {
    ok = std::isfinite(j_nu[k]) && j_nu[k] >= 0.0 && a_nu[k] >= 0.0 && j_ic[k] >= 0.0;
  }
  ok = ok && j_nu[4] > 0.0;

  // The rest of the interface, one call each, in the Python parameter order.
  const Vec beta = {0.0, 0.6};
  ok = ok && ostrel::get_c() == 29979245800.0 && ostrel::gofb(0.6) == ostrel::gofb(beta)[1] &&
       ostrel::bofg(ostrel::gofb(beta))[0] == 0.0 && ostrel::bofg(1.0) == 0.0;
  ok = ok && ostrel::eq_59_park1995(1.0, gamma).size() == gamma.size();
  const Vec blob = ostrel::rad_trans_blob(1e15, j_nu, a_nu);
  const Vec slab = ostrel::rad_trans_slab(1e15, j_nu, a_nu);
  const Vec ssc = ostrel::ic_iso_powlaw_full(freqs, blob, gamma, evolved);
  const Vec cool = ostrel::rad_cool_pwl(gamma, freqs, slab, true);
  const Vec cool_mono = ostrel::rad_cool_mono(gamma, 1e10, 1e-2, false);
  ok = ok && ssc.size() == freqs.size() && cool.size() == gamma.size() &&
       cool_mono.size() == gamma.size() && cool_mono[10] > 0.0;
  try {
    ostrel::fp_findif_difu(1.0, Vec{1.0}, Vec{1.0}, Vec{0.0}, Vec{1.0}, Vec{0.0}, 1.0, 1.0, true);
    ok = false;  // a one-point grid must fail
  } catch (const ostrel::FatalError&) {
  }
  std::puts(ok ? "consumer: ok" : "consumer: FAILED");
  return ok ? 0 : 1;
}
