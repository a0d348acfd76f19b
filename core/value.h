// Raising errors: every failure of the runtime raises a language error
// through fire, which builds the error! value from the catalogue code and
// unwinds to the nearest try frame. fire never returns.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/error-codes.h"

namespace mox {

[[noreturn]] void fire(err::Code code, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                       const Cell* arg3 = nullptr);
[[noreturn]] void fire_bad_make_arg(uint32_t type, const Cell* spec);

// Convenience for raising with scalar arguments.
[[noreturn]] void fire_int(err::Code code, int32_t value);

// Whether a typeset! cell holds a type: type t is the bit 0x80 >> (t mod 8)
// of byte t / 8 of its twelve payload bytes.
inline bool typeset_has(const Cell* typeset, uint32_t type) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&typeset->data1);
    return type < 96 && (bytes[type >> 3] & (0x80 >> (type & 7)));
}

// Argument checks of the running call (index from 0 in the callable's spec).
// A value whose type is not in the typeset raises script error expect-arg
// naming the call, the value's datatype and the argument word.
const Cell* type_check(const Cell* typeset, int32_t index, const Cell* value);
int32_t type_check_at(const Cell* typeset, int32_t index);
void type_check_refinement(const Cell* refinement, const Cell* typeset, int32_t index,
                           const Cell* value);
// An unset! value raises expect-arg naming unset!.
const Cell* check_set_arg(int32_t index, const Cell* value);
[[noreturn]] void fire_expect_arg(int32_t index, uint32_t type);

// What raising needs of the error! datatype, which lives above core.
// error::init fills the table before anything can raise; until then a raise
// ends the process with a message, as no error value can be made.
namespace raising {
struct Hooks {
    // Makes the error! value of the catalogue code (error::create).
    Cell* (*create)(err::Code code, const Cell* arg1, const Cell* arg2, const Cell* arg3);
    // The word of the index-th argument in the spec of the call's function
    // (for expect-arg).
    void (*argument_word)(const Cell* call, int32_t index, Cell* out);
    // Records where the error was raised while the frames are still there:
    // the call, the code near the failure, the active calls.
    void (*locate)(Cell* error);
    // Shows an error that nothing catches; does not return.
    void (*report_uncaught)(Cell* error);
};
extern Hooks hooks;
} // namespace raising

} // namespace mox
