// Raising errors: every failure of the runtime raises a language error
// through fire, which builds the error! value from the catalogue code and
// unwinds to the nearest try frame. fire never returns.
#pragma once

#include "core/cell.h"
#include "core/error-codes.h"

namespace mox {

[[noreturn]] void fire(err::Code code, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                       const Cell* arg3 = nullptr);
[[noreturn]] void fire_bad_make_arg(uint32_t type, const Cell* spec);

// Convenience for raising with scalar arguments.
[[noreturn]] void fire_int(err::Code code, int32_t value);

}  // namespace mox
