// percent!: a float! child; only its text form is its own.
#include "datatypes/percent.h"

#include "core/datatype.h"
#include "core/memory.h"
#include "datatypes/float.h"
#include "datatypes/string.h"

namespace mox::percent {

Cell* make_cell(Cell* cell, double fraction) {
    *cell = Cell{TYPE_PERCENT, 0, 0, 0};
    set_float(cell, fraction);
    return cell;
}

Cell* make_in_block(node_t block, double fraction) {
    return make_cell(memory::alloc_tail(block), fraction);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    char text[float_::TEXT_SIZE];
    int length = float_::form_float(get_float(value) * 100.0, float_::KIND_PERCENT, text);
    string::concatenate_literal(buffer, text);
    return limit - length;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::none();
    slots.set<A_FORM>(&form).set<A_MOLD>(&mold);
    for (Action a : {A_MAKE, A_RANDOM, A_TO, A_COMPARE, A_ABSOLUTE, A_ADD, A_DIVIDE, A_MULTIPLY,
                     A_NEGATE, A_POWER, A_REMAINDER, A_ROUND, A_SUBTRACT, A_EVEN_Q, A_ODD_Q})
        slots.slot[a - 1] = datatype::INHERIT;
    datatype::register_type(TYPE_PERCENT, TYPE_FLOAT, "percent!", slots);
}

} // namespace mox::percent
