// Power-law interpolation of tabulated functions (see power_law.hpp).
#include "accurate/power_law.hpp"

#include <algorithm>
#include <limits>

namespace ostrel::models::power_law {

double log_ratio(double a, double b) {
  const double r = b / a;
  // A ratio in the normal range is exact to half an ulp; its logarithm is then
  // better than the difference of two logarithms of large magnitude.
  if (r > 1e-300 && r < 1e300) return std::log(r);
  return std::log(b) - std::log(a);
}

int scale_exponent(double ln_max) {
  if (!std::isfinite(ln_max) || std::fabs(ln_max) <= 350.0) return 0;
  return static_cast<int>(std::floor(ln_max / std::log(2.0)));
}

Table::Table(std::span<const double> x, std::span<const double> f)
    : x_(x.begin(), x.end()), ln_x_(x.size()) {
  for (std::size_t j = 0; j < x_.size(); ++j) ln_x_[j] = std::log(x_[j]);
  const std::size_t n = x_.size() > 0 ? x_.size() - 1 : 0;
  seg_.resize(n);
  ln_max_ = -std::numeric_limits<double>::infinity();
  for (std::size_t j = 0; j < n; ++j) {
    Segment& s = seg_[j];
    s.ln_x0 = ln_x_[j];
    s.width = log_ratio(x_[j], x_[j + 1]);
    s.inv_width = 1.0 / s.width;
    s.live = f[j] > 0.0 && f[j + 1] > 0.0;
    s.ln_f0 = s.live ? std::log(f[j]) : -std::numeric_limits<double>::infinity();
    s.rise = s.live ? log_ratio(f[j], f[j + 1]) : 0.0;
    if (s.live) {
      any_live_ = true;
      ln_max_ = std::max({ln_max_, s.ln_f0, s.ln_f1()});
    }
  }
}

std::size_t Table::find(double x) const {
  const auto it = std::upper_bound(x_.begin(), x_.end(), x);
  const auto j = static_cast<std::size_t>(it - x_.begin());
  return j == 0 ? 0 : std::min(j - 1, seg_.size() - 1);
}

}  // namespace ostrel::models::power_law
