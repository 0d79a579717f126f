// What the radiation kernels print: numbers in the diagnostics' format and the
// reports of integrations that did not converge.
#pragma once

#include <cstdio>
#include <string>

namespace ostrel::radiation {

// x as the diagnostics print it: the shortest decimal that reads back as x,
// written out without exponent ("0.0000001", "2", "-1.5"); "NaN", "inf" and
// "-inf" for the special values.
std::string plain_shortest_decimal(double x);

// Writes text to the stream in one locked write and flushes it, so that the
// reports of tasks on different workers do not mix.
void write_whole(std::FILE* stream, const std::string& text);

// A Romberg integration over one power-law segment [ga, gb] of the electron
// distribution (index q) at chi = nu/nu_B that stopped without converging,
// with its last estimate qromb and last correction dqromb.
struct NonConvergence {
  const char* label;  // the integration: "RMA" (emission) or "ARMA" (absorption)
  double chi;
  double q;
  double ga;
  double gb;
  double qromb;
  double dqromb;
};

// The report block: "<label>_qromb error" and one "name = value" line per
// quantity, each line ending in a newline.
std::string non_convergence_block(const NonConvergence& report);

// The verdict line, without newline: "<label>_qromb: too many steps".
std::string non_convergence_verdict(const char* label);

}  // namespace ostrel::radiation
