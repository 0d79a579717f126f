// Small utilities shared by the C++ tests: grids, special values and the
// text of a fatal error.  Not a test file itself (CMake compiles test_*.cpp).
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "error.hpp"

namespace ostrel::testing_support {

using Vec = std::vector<double>;

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// The texts of the fatal errors, as the kernels name them.
namespace message = ostrel::message;
inline constexpr const char* kOutOfBounds = message::kIndexOutOfBounds;

// The message of the FatalError that f() throws, or "<no error>" when it
// returns normally (which then fails any comparison with a message).
template <class F>
std::string fatal_text(F&& f) {
  try {
    f();
  } catch (const ostrel::FatalError& e) {
    return e.what();
  }
  return "<no error>";
}

// n points evenly spaced in log10 from 10^lo to 10^hi.
inline Vec logspace(double lo, double hi, int n) {
  Vec v(n);
  for (int i = 0; i < n; ++i) v[i] = std::pow(10.0, lo + (hi - lo) * i / (n - 1));
  return v;
}

// n points in geometric progression from lo to hi.
inline Vec log_grid(double lo, double hi, std::size_t n) {
  Vec v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = lo * std::pow(hi / lo, double(i) / double(n - 1));
  return v;
}

}  // namespace ostrel::testing_support
