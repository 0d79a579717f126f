// Conversion of the arguments of the accurate kernels, with errors that name
// the argument.
//
// ostrel_models.kernels hands over contiguous 1-D float64 arrays and floats,
// which pass through without a copy.  Anything else is converted here the
// same way, or refused: a complex value (whose imaginary part would be lost
// silently), an array of anything but real numbers, one of more dimensions,
// a scalar outside the range of a double (10**400).
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

namespace ostrel::models::binding {

namespace nb = nanobind;

using Array = nb::ndarray<const double, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

// A one-dimensional array of real numbers as contiguous float64.
Array vector(nb::handle value, const char* name);

// A real number as a double.
double scalar(nb::handle value, const char* name);

}  // namespace ostrel::models::binding
