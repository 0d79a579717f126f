#include "distribs.hpp"

#include "error.hpp"

namespace ostrel::distribs {

// TODO(stub)
std::vector<double> fp_findif_difu(std::span<const double>, std::span<const double>,
                                   std::span<const double>, std::span<const double>,
                                   std::span<const double>, double, double, double,
                                   std::optional<bool>) {
  throw FatalError("not implemented: fp_findif_difu");
}
std::vector<double> eq_59_park1995(double, std::span<const double>) {
  throw FatalError("not implemented: eq_59_park1995");
}

}  // namespace ostrel::distribs
