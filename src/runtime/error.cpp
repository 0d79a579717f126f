// The key functions of the runtime's exception types: their type information
// and virtual tables are emitted here, once, for both extension modules.
#include "error.hpp"
#include "pool.hpp"

namespace ostrel {

FatalError::~FatalError() = default;

namespace pool {

Interrupted::~Interrupted() = default;
const char* Interrupted::what() const noexcept { return "parallel map interrupted"; }

}  // namespace pool
}  // namespace ostrel
