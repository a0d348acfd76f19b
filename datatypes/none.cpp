// none! (see none.h).
#include "datatypes/none.h"

#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"

namespace mox::none {

Cell* box() { return make_none(stack::arguments); }

Cell* make_in(node_t block) { return make_none(memory::alloc_tail(block)); }

Cell* push() { return make_none(stack::push_cell()); }

Cell* make(Cell* proto, Cell* spec, int32_t type) { return push(); }

Cell* to(Cell* proto, Cell* spec, int32_t type) { return push(); }

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    string::concatenate_literal(buffer, "none");
    return limit - 4;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    if (!all) return form(value, buffer, part, limit);
    string::concatenate_literal(buffer, "#(none)");
    return limit - 7;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_NONE || !unset::unordered_op_q(op)) return COMPARE_NOT_COMPARABLE;
    return 0;
}

// The series actions leave none in the first argument cell, which is the
// result slot when they run as the call's action.
Cell* clear(Cell* series) { return make_none(series); }

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    return make_none(series);
}

Cell* remove(Cell* series, Cell* part, Cell* key) { return make_none(series); }

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse) {
    return make_none(series);
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) { return make_none(series); }

int32_t length_q(Cell* series) { return -1; }

void init() {
    datatype::register_type(TYPE_NONE, 0, "none!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_TO>(&to)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare)
                                .set<A_CLEAR>(&clear)
                                .set<A_FIND>(&find)
                                .set<A_REMOVE>(&remove)
                                .set<A_SELECT>(&select)
                                .set<A_TAKE>(&take)
                                .set<A_LENGTH_Q>(&length_q));
}

} // namespace mox::none
