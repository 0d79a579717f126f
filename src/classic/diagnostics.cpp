#include "diagnostics.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

namespace ostrel::radiation {

std::string plain_shortest_decimal(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  // Shortest round-trip digits d.ddd and exponent e from the scientific form,
  // then the same digits placed around the decimal point.
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  std::string out;
  if (sci.front() == '-') {
    out.push_back('-');
    sci.remove_prefix(1);
  }
  const std::size_t e_pos = sci.find('e');
  std::string digits;
  for (char ch : sci.substr(0, e_pos)) {
    if (ch != '.') digits.push_back(ch);
  }
  const bool negative_exponent = sci[e_pos + 1] == '-';
  long exponent = 0;
  for (char ch : sci.substr(e_pos + 2)) exponent = exponent * 10 + (ch - '0');
  if (negative_exponent) exponent = -exponent;

  const long point = exponent + 1;  // digits before the decimal point
  const auto n_digits = static_cast<long>(digits.size());
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= n_digits) {
    out += digits;
    out.append(static_cast<std::size_t>(point - n_digits), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out.push_back('.');
    out.append(digits, static_cast<std::size_t>(point));
  }
  return out;
}

void write_whole(std::FILE* stream, const std::string& text) {
  flockfile(stream);
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
  funlockfile(stream);
}

std::string non_convergence_block(const NonConvergence& report) {
  return std::string(report.label) + "_qromb error\n" +
         "chi    = " + plain_shortest_decimal(report.chi) + "\n" +
         "q      = " + plain_shortest_decimal(report.q) + "\n" +
         "ga     = " + plain_shortest_decimal(report.ga) + "\n" +
         "gb     = " + plain_shortest_decimal(report.gb) + "\n" +
         "qromb  = " + plain_shortest_decimal(report.qromb) + "\n" +
         "dqromb = " + plain_shortest_decimal(report.dqromb) + "\n";
}

std::string non_convergence_verdict(const char* label) {
  return std::string(label) + "_qromb: too many steps";
}

}  // namespace ostrel::radiation
