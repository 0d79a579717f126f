// Cubic lookup of a uniformly tabulated function (see tabulated.hpp).
#include "accurate/tabulated.hpp"

#include <stdexcept>
#include <utility>

namespace ostrel::models {

UniformTable::UniformTable(double x0, double step, std::vector<double> y)
    : x0_(x0), step_(step), per_unit_(1.0 / step), y_(std::move(y)) {
  if (y_.size() < 4) throw std::logic_error("UniformTable: fewer than four points");
  last_ = x0_ + static_cast<double>(y_.size() - 1) * step_;
  k_max_ = y_.size() - 3;
}

}  // namespace ostrel::models
