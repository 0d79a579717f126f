// Timing of the Compton kernels of ostrel_models at the sizes they are
// specified for (128 outputs, 128 seed frequencies, 128 Lorentz factors):
// median and minimum wall time of repeated calls, and the time per
// (gamma point, frequency) pair.  Not part of the build; from the worktree
// root, after building ostrel_models_kernels into build/cpp:
//
//   g++ -std=c++20 -O2 -ffp-contract=off -I src benchmarks/compton_kernels_timing.cpp
//       build/cpp/libostrel_models_kernels.a build/cpp/libostrel_kernels.a -lpthread
//       -o build/compton_timing          (one command)
//   RAYON_NUM_THREADS=1 build/compton_timing; RAYON_NUM_THREADS=2 build/compton_timing
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "accurate/kernels.hpp"
#include "pool.hpp"

namespace {

using Vec = std::vector<double>;
namespace m = ostrel::models;

Vec logspace(double a, double b, int k) {
  Vec v(k);
  for (int i = 0; i < k; ++i) v[i] = std::pow(10.0, a + (b - a) * i / (k - 1));
  return v;
}

template <class F>
void time(const char* name, double pairs, int reps, F&& f) {
  std::vector<double> t;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    t.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::sort(t.begin(), t.end());
  const double med = t[t.size() / 2];
  std::printf("%-22s median %8.3f ms  min %8.3f ms  %7.2f ns per pair\n", name, med, t.front(),
              med * 1e6 / pairs);
}

}  // namespace

int main() {
  const int N = 128;
  const Vec gamma = logspace(0.0, 7.0, N);
  Vec n;
  for (double g : gamma) n.push_back(1e3 * std::pow(g, -2.2) * std::exp(-g / 1e6));
  const Vec nu = logspace(9.0, 28.0, N);
  const Vec seed_nu = logspace(9.0, 17.0, N);
  Vec seed_u;
  for (double v : seed_nu) seed_u.push_back(1e-12 * std::pow(v / 1e10, -0.7) * std::exp(-v / 1e16));

  std::printf("W = %zu worker threads\n", ostrel::pool::current_num_threads());
  volatile double sink = m::compton_cooling(gamma, seed_nu, seed_u)[0];  // builds the F_KN table
  // Pairs: (gamma point, output frequency) times seed frequencies where there are any.
  time("inverse_compton", double(N) * N * N, 31,
       [&] { sink = m::inverse_compton(nu, gamma, n, seed_nu, seed_u)[5]; });
  time("inverse_compton_mono", double(N) * N, 201,
       [&] { sink = m::inverse_compton_mono(nu, gamma, n, 2.5e15, 1.0)[5]; });
  time("compton_cooling", double(N) * N, 201, [&] { sink = m::compton_cooling(gamma, seed_nu, seed_u)[5]; });
  time("compton_cooling_mono", double(N), 201, [&] { sink = m::compton_cooling_mono(gamma, 2.5e15, 1.0)[5]; });
  (void)sink;
}
