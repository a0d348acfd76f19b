// paren! (see paren.h).
#include "datatypes/paren.h"

#include "core/datatype.h"
#include "core/stack.h"
#include "datatypes/block.h"

namespace mox::paren {

Cell* push(Cell* blk) { return stack::push(set_type(blk, TYPE_PAREN)); }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return block::mold_values(value, buffer, only, all, flat, part, limit, indent, '(', ')');
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::inherit_all();
    slots.set<A_MOLD>(&mold);
    slots.slot[A_TRIM - 1] = nullptr;
    datatype::register_type(TYPE_PAREN, TYPE_BLOCK, "paren!", slots);
}

} // namespace mox::paren
