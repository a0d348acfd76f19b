// Native body of sum: a block of integers and floats is added up here, in
// the order and with the arithmetic of the Mox body (32-bit integers that
// widen to float on overflow, float as soon as a float is met); any other
// series or value is left to the Mox body, evaluated in the same frame, so
// the two cannot answer differently.
#include "library/math-time-bodies.h"

#include <cstdint>

#include "core/cell.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/stack.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"

namespace mox::math_time_bodies {

namespace {

using routines::run_mox_body;

// Adds up the values from the block's position; false when one of them is
// neither integer! nor float!. Nothing here allocates.
bool add_numbers(const Cell* values, Cell* out) {
    const uint32_t t = type_of(values);
    if (t != TYPE_BLOCK && t != TYPE_PAREN && t != TYPE_HASH) return false;
    const uint32_t length = block::abs_length(values);
    const Cell* cells = memory::buffer_of(values->data2)->cells();
    bool is_float = values->data1 < length && type_of(&cells[values->data1]) == TYPE_FLOAT;
    int32_t whole = 0;
    double real = 0.0;
    for (uint32_t i = values->data1; i < length; i++) {
        const Cell* v = &cells[i];
        if (type_of(v) == TYPE_INTEGER) {
            if (is_float) {
                real += get_integer(v);
            } else if (int32_t next; __builtin_add_overflow(whole, get_integer(v), &next)) {
                real = static_cast<double>(whole) + static_cast<double>(get_integer(v));
                is_float = true;
            } else {
                whole = next;
            }
        } else if (type_of(v) == TYPE_FLOAT) {
            if (!is_float) real = whole;
            is_float = true;
            real += get_float(v);
        } else {
            return false;
        }
    }
    if (is_float)
        make_float(out, real);
    else
        make_integer(out, whole);
    return true;
}

void sum_body() {
    Cell result;
    if (add_numbers(stack::arguments, &result)) {
        *stack::arguments = result;
        return;
    }
    run_mox_body();
}

} // namespace

void register_bodies() { routines::bind_native_body("sum", &sum_body); }

} // namespace mox::math_time_bodies
