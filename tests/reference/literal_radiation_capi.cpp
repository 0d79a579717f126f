// C entry points of the literal reference, for loading with ctypes (the
// speed-up benchmark and the Python comparison tests).  Each returns 0 on
// success and 1 when the kernel ended with a fatal error, whose message is
// copied (truncated, NUL-terminated) into `error` of size `error_size`.
#include <cstddef>
#include <cstring>
#include <exception>
#include <span>

#include "literal_radiation.hpp"

namespace {

template <class Call>
int guarded(char* error, std::size_t error_size, Call&& call) {
  try {
    call();
    return 0;
  } catch (const std::exception& e) {
    if (error != nullptr && error_size > 0) {
      std::strncpy(error, e.what(), error_size - 1);
      error[error_size - 1] = '\0';
    }
    return 1;
  }
}

std::span<const double> view(const double* data, std::size_t n) { return {data, n}; }

}  // namespace

extern "C" {

int ostrel_ref_syn_emissivity_full(const double* freqs, std::size_t n_freqs, const double* gamma,
                                   std::size_t n_gamma, const double* n_distrib, std::size_t n_n,
                                   double b_field, int with_abs, double* j_out, double* a_out,
                                   char* error, std::size_t error_size) {
  return guarded(error, error_size, [&] {
    const auto [j, a] = ostrel::reference::syn_emissivity_full(
        view(freqs, n_freqs), view(gamma, n_gamma), view(n_distrib, n_n), b_field, with_abs != 0);
    std::memcpy(j_out, j.data(), j.size() * sizeof(double));
    std::memcpy(a_out, a.data(), a.size() * sizeof(double));
  });
}

int ostrel_ref_ic_iso_powlaw_full(const double* freqs, std::size_t n_freqs, const double* inu,
                                  std::size_t n_inu, const double* g, std::size_t n_g,
                                  const double* n, std::size_t n_n, double* out, char* error,
                                  std::size_t error_size) {
  return guarded(error, error_size, [&] {
    const auto r = ostrel::reference::ic_iso_powlaw_full(view(freqs, n_freqs), view(inu, n_inu),
                                                         view(g, n_g), view(n, n_n));
    std::memcpy(out, r.data(), r.size() * sizeof(double));
  });
}

int ostrel_ref_rad_cool_pwl(const double* gg, std::size_t n_gg, const double* freqs,
                            std::size_t n_freqs, const double* uu, std::size_t n_uu, int with_kn,
                            double* out, char* error, std::size_t error_size) {
  return guarded(error, error_size, [&] {
    const auto r = ostrel::reference::rad_cool_pwl(view(gg, n_gg), view(freqs, n_freqs),
                                                   view(uu, n_uu), with_kn != 0);
    std::memcpy(out, r.data(), r.size() * sizeof(double));
  });
}

}  // extern "C"
