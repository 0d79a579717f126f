#include "pwl_integ.hpp"

#include "error.hpp"

namespace ostrel::pwl_integ {

// TODO(stub)
double power_integral(double, double) { throw FatalError("not implemented: power_integral"); }
double sscr(double, double, double, double, double, double) { throw FatalError("not implemented: sscr"); }
double sscs(double, double, double, double, double, double) { throw FatalError("not implemented: sscs"); }

}  // namespace ostrel::pwl_integ
