// Symbols of the runtime library seen by the kernels and the bindings.  The
// library is built with hidden visibility; what both extension modules share
// (the worker pool, the error types whose type information must be one) is
// marked with OSTREL_RUNTIME_API.
#pragma once

#define OSTREL_RUNTIME_API __attribute__((visibility("default")))
