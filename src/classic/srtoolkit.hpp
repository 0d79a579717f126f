// Special-relativity helpers: Lorentz factor from speed and back.
#pragma once

namespace ostrel::srtoolkit {

// Lorentz factor gamma = 1/sqrt(1 - beta^2) of a speed beta = v/c.  No guard:
// |beta| = 1 gives +inf, |beta| > 1 and NaN give NaN.
double gofb(double beta);

// Speed beta = sqrt(1 - 1/gamma^2) of a Lorentz factor.  gamma <= 1 (a
// particle at rest or an unphysical value) gives 0; NaN gives NaN.
double bofg(double gamma);

}  // namespace ostrel::srtoolkit
