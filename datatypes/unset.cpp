// unset! (see unset.h).
#include "datatypes/unset.h"

#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "datatypes/string.h"

namespace mox::unset {

Cell* box() { return make_unset(stack::arguments); }

Cell* make_in(node_t block) { return memory::alloc_tail(block); }

Cell* push() { return make_unset(stack::push_cell()); }

// make and to ignore the spec: there is only one unset value.
Cell* make(Cell* proto, Cell* spec, int32_t type) { return push(); }

Cell* to(Cell* proto, Cell* spec, int32_t type) { return push(); }

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) { return limit; }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    const char* text = all ? "#(unset)" : "unset";
    string::concatenate_literal(buffer, text);
    return limit - (all ? 8 : 5);
}

// Equality only: unset values are all equal and have no order.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_UNSET || !unordered_op_q(op)) return COMPARE_NOT_COMPARABLE;
    return 0;
}

void init() {
    datatype::register_type(TYPE_UNSET, 0, "unset!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_TO>(&to)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare));
}

} // namespace mox::unset
