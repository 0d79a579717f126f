#include "misc.hpp"

namespace ostrel::misc {

// TODO(stub): replaced by the real routines.
std::vector<double> tridag_ser(std::span<const double>, std::span<const double>,
                               std::span<const double>, std::span<const double>) {
  throw FatalError("not implemented: tridag_ser");
}
Result<Interpolated> polint(std::span<const double>, std::span<const double>, double) {
  throw FatalError("not implemented: polint");
}
Result<double> qromb_w2arg(Integrand2, double, double, double) {
  throw FatalError("not implemented: qromb_w2arg");
}

}  // namespace ostrel::misc
