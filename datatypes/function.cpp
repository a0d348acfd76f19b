// function! and routine! (see function.h).
#include "datatypes/function.h"

#include "core/context.h"
#include "core/memory.h"

namespace mox::function {

void spec_argument_word(const Cell* call, int32_t n, Cell* out) {
    make_none(out);
    if (!is_any_word(type_of(call))) return;
    Cell* callable = context::symbol_value(call->data1, call->data2);
    if (!callable) return;
    switch (type_of(callable)) {
    case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP: case TYPE_FUNCTION: case TYPE_ROUTINE:
        break;
    default:
        return;
    }
    memory::SeriesBuffer* spec = memory::buffer_of(callable->data2);
    for (Cell* c = spec->cells(); c < spec->cells_tail(); c++) {
        uint32_t t = type_of(c);
        if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_REFINEMENT)
            continue;
        if (n-- == 0) {
            *out = *c;
            return;
        }
    }
}

}  // namespace mox::function
