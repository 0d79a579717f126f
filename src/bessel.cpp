#include "bessel.hpp"

#include "error.hpp"

namespace ostrel::bessel {

// TODO(stub)
double gamma_product(double) { throw FatalError("not implemented: gamma_product"); }
std::complex<double> i_nu(double, std::complex<double>) { throw FatalError("not implemented: i_nu"); }
std::complex<double> i_nu_with_gamma(double, std::complex<double>, double) {
  throw FatalError("not implemented: i_nu");
}

}  // namespace ostrel::bessel
