// The evaluator's hooks for the layers below it (see evaluator-hooks.h).
#include "core/evaluator-hooks.h"

namespace mox::interpreter {

Cell* position = nullptr;

} // namespace mox::interpreter

namespace mox::evaluator {

Hooks hooks = {};

} // namespace mox::evaluator
