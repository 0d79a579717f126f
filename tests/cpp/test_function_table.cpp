// The function table against the hand-written stubs: every function's stub
// line, its parameter names, kinds, default and result, and the order of
// __all__ are what the table (and so the module built from it) has.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "bindings/ostrel/functions.hpp"

namespace {

using ostrel::python::Kind;

std::string annotation(Kind kind) {
  switch (kind) {
    case Kind::real: return "_Float";
    case Kind::vector: return "_Vector";
    case Kind::flag: return "bool";
    case Kind::optional_flag: return "bool | None";
    case Kind::real_or_vector: break;
  }
  return "?";
}

template <class R>
std::string result_annotation() {
  if constexpr (std::is_same_v<R, double>) return "float";
  if constexpr (std::is_same_v<R, ostrel::Vec>) return "list[float]";
  if constexpr (std::is_same_v<R, std::pair<ostrel::Vec, ostrel::Vec>>) {
    return "tuple[list[float], list[float]]";
  }
  return "?";
}

// The stub of one row, in the normal form of normalise().
template <class F>
std::string expected_stub(const F& f) {
  using Traits = ostrel::python::KernelTraits<std::decay_t<decltype(f.kernel)>>;
  const std::string name = f.name;
  if constexpr (std::is_same_v<typename Traits::Result, void>) {  // per element
    return "@overload def " + name + "(" + f.params[0] + ": _Vector) -> list[float]: ... " +
           "@overload def " + name + "(" + f.params[0] + ": _Float) -> float: ...";
  } else {
    std::string line = "def " + name + "(";
    for (std::size_t i = 0; i < f.params.size(); ++i) {
      if (i != 0) line += ", ";
      line += std::string(f.params[i]) + ": " + annotation(Traits::kinds[i]);
      if (i >= f.required) line += " = None";
    }
    return line + ") -> " + result_annotation<typename Traits::Result>() + ":";
  }
}

// Whitespace runs as one space, none just inside brackets, no trailing comma.
std::string normalise(const std::string& text) {
  std::string out;
  for (char ch : text) {
    const bool space = ch == ' ' || ch == '\n' || ch == '\t';
    if (space && (out.empty() || out.back() == ' ')) continue;
    out += space ? ' ' : ch;
  }
  for (const auto& [from, to] : {std::pair{"( ", "("}, {" )", ")"}, {"[ ", "["}, {" ]", "]"},
                                 {",)", ")"}, {",]", "]"}}) {
    for (std::size_t at; (at = out.find(from)) != std::string::npos;) out.replace(at, 2, to);
  }
  return out;
}

std::string stub_text() {
  std::ifstream in(OSTREL_STUB_PATH);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return normalise(buffer.str());
}

TEST(FunctionTable, StubsDeclareEveryRowAsTheModuleDefinesIt) {
  const std::string stub = stub_text();
  ASSERT_FALSE(stub.empty()) << OSTREL_STUB_PATH;
  std::vector<std::string> names;
  std::vector<std::string> lines;
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (names.push_back(ostrel::python::kFunction<I>.name), ...);
    (lines.push_back(expected_stub(ostrel::python::kFunction<I>)), ...);
  }(std::make_index_sequence<ostrel::python::kFunctionCount>{});
  for (const std::string& line : lines) EXPECT_NE(stub.find(line), std::string::npos) << line;
  std::string all = "__all__ = [";
  for (std::size_t i = 0; i < names.size(); ++i) all += (i ? ", \"" : "\"") + names[i] + "\"";
  EXPECT_NE(stub.find(all + "]"), std::string::npos) << all;
}

TEST(FunctionTable, DocstringOpensWithTheTextSignature) {
  // The one row with a parameter that may be left out, and one without any.
  EXPECT_STREQ(ostrel::python::kDocstring<4>.data(),
               "fp_findif_difu(dt_in, gamma_bins, nin, gdot_in, din, qin, tesc_in, tlc, "
               "check_params=None)\n--\n\n");
  EXPECT_STREQ(ostrel::python::kDocstring<0>.data(),
               "get_c()\n--\n\nExample retrieving constant from constants file can be improved "
               "by using macros");
}

}  // namespace
