// The input checks name the argument and the problem.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "accurate/checks.hpp"

namespace checks = ostrel::models::checks;

static std::string message_of(void (*f)()) {
  try { f(); } catch (const std::invalid_argument& e) { return e.what(); }
  return "";
}

TEST(Checks, NameTheArgumentAndTheProblem) {
  EXPECT_EQ(message_of([] { checks::positive("B", -1.0); }), "B: must be positive");
  EXPECT_EQ(message_of([] { checks::positive("B", NAN); }), "B: must be finite");
  EXPECT_EQ(message_of([] { std::vector<double> g{1, 3, 2}; checks::grid("gamma", g); }),
            "gamma: grid is not strictly increasing");
  EXPECT_EQ(message_of([] {
              std::vector<double> g{1, 2}, v{1};
              checks::values_on("n", v, "gamma", g);
            }),
            "n: length 1 differs from the length 2 of gamma");
  EXPECT_EQ(message_of([] {
              std::vector<double> g{1, 2}, v{1, -1};
              checks::values_on("n", v, "gamma", g);
            }),
            "n: contains a negative value");
  EXPECT_EQ(message_of([] { std::vector<double> g{0.5, 2}; checks::lorentz_factors("gamma", g); }),
            "gamma: must be at least 1 (a Lorentz factor)");
  EXPECT_EQ(message_of([] { std::vector<double> x{3, 1, -1}; checks::points("nu", x); }),
            "nu: must be positive");
  EXPECT_EQ(message_of([] { checks::non_negative("u0", -1.0); }), "u0: must not be negative");
  EXPECT_EQ(message_of([] { std::vector<double> x{3, 1, 1}; checks::points("nu", x); }), "");
}
