// Radiation kernels: synchrotron emission and self-absorption, inverse-Compton
// emission, Compton cooling rates and radiative transfer, with the format of
// their diagnostics.  All in cgs units; one header per concern.
#pragma once

#include "cooling.hpp"
#include "diagnostics.hpp"
#include "inverse_compton.hpp"
#include "synchrotron.hpp"
#include "transfer.hpp"
