// Fatal errors of the kernels.
//
// A kernel that cannot go on (a failed input check, an index outside a
// vector, an integration that does not converge) throws one exception type,
// FatalError, carrying the message the caller sees.  The Python call frame
// turns it into PanicException; the worker pool carries it from a worker
// thread back to the calling thread.
#pragma once

#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ostrel {

class FatalError : public std::runtime_error {
 public:
  explicit FatalError(const std::string& message) : std::runtime_error(message) {}
};

// The texts of the fatal errors, each written once: the kernels throw them
// and the tests compare with them.
namespace message {

// An element read past the end of a vector.
inline constexpr char kIndexOutOfBounds[] = "ndarray: index out of bounds";
// A vector of one length where another length is needed (element-wise
// arithmetic): "ndarray: could not broadcast array from shape: [3] to: [5]".
inline std::string broadcast(std::size_t from, std::size_t to) {
  return "ndarray: could not broadcast array from shape: [" + std::to_string(from) + "] to: [" +
         std::to_string(to) + "]";
}
// An input check of the Fokker-Planck step.
inline constexpr char kFokkerPlanckInput[] =
    "FP_FinDif_difu: at least one input parameter is not correctly defined";
// Zero pivots of the tridiagonal solver, in its first row and in a later one.
inline constexpr char kTridagStage1[] = "tridag_ser: error at code stage 1";
inline constexpr char kTridagStage2[] = "tridag_ser: error at code stage 2";
// Errors of the routines that return a Result (see below): polynomial
// interpolation through points of different counts or two equal abscissae,
// Romberg integration that does not converge.
inline constexpr char kPolintSizes[] = "polint: xa and ya have different sizes";
inline constexpr char kPolintFailure[] = "polint: calculation failure";
inline constexpr char kQrombTooManySteps[] = "qromb: too many steps";
// The fatal error of a Result error: "called `Result::unwrap()` on an `Err`
// value: \"qromb: too many steps\"".
inline std::string unwrap(const char* error) {
  return std::string("called `Result::unwrap()` on an `Err` value: \"") + error + "\"";
}

}  // namespace message

[[noreturn]] inline void fail_index_out_of_bounds() { throw FatalError(message::kIndexOutOfBounds); }

[[noreturn]] inline void fail_broadcast(std::size_t from, std::size_t to) {
  throw FatalError(message::broadcast(from, to));
}

// Checked element read: the index-out-of-range fatal error where the element
// does not exist.
inline double at(std::span<const double> v, std::size_t i) {
  if (i >= v.size()) fail_index_out_of_bounds();
  return v[i];
}

// The value of a numerical routine that may fail with an error text instead
// (polint, qromb_w2arg).  unwrap() turns the error into the fatal error every
// caller reports.
template <class T>
class Result {
 public:
  static Result ok(T value) { return Result(std::move(value), nullptr); }
  static Result err(const char* message) { return Result(T{}, message); }

  bool is_ok() const { return error_ == nullptr; }
  const char* error() const { return error_; }
  const T& value() const { return value_; }

  T unwrap() const {
    if (error_ != nullptr) fail_unwrap(error_);
    return value_;
  }

  [[noreturn]] static void fail_unwrap(const char* error) {
    throw FatalError(message::unwrap(error));
  }

 private:
  Result(T value, const char* error) : value_(std::move(value)), error_(error) {}
  T value_;
  const char* error_;
};

}  // namespace ostrel
