// The path family (see path.h).
#include "datatypes/path.h"

#include <algorithm>

#include "core/actions.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/stack.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"

namespace mox {

namespace {

// Writes the values from the index separated by "/", each formed or molded
// (indentation 0). May collect.
int32_t slash_values(Cell* value, Cell* buffer, bool mold, bool only, bool all, bool flat,
                     Cell* part, int32_t limit) {
    if (cycles::detect_q(value, buffer, &limit, mold, &block::append_ascii)) return limit;
    cycles::Scope walk(value->data2);
    for (uint32_t i = std::min(value->data1, block::abs_length(value));
         i < block::abs_length(value); i++) {
        Cell* saved = stack::top;
        Cell* v = stack::push(block::ms_abs_at(value, i));
        limit = mold ? actions::mold(v, buffer, only, all, flat, part, limit, 0)
                     : actions::form(v, buffer, part, limit);
        stack::top = saved;
        if (part && limit < 1) break;
        if (i + 1 < block::abs_length(value)) {
            string::append_char(buffer, '/');
            limit--;
        }
    }
    return limit;
}

Cell* push_as(Cell* blk, uint32_t type) { return stack::push(set_type(blk, type)); }

} // namespace

namespace path {

Cell* make_at(Cell* slot, int32_t size) { return block::make_at(slot, size, TYPE_PATH); }

Cell* push(Cell* blk) { return push_as(blk, TYPE_PATH); }

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_PERCENT:
        return set_type(block::push_only_star(integer::get_int(spec)), static_cast<uint32_t>(type));
    default:
        if (!is_any_block(type_of(spec))) fire_bad_make_arg(static_cast<uint32_t>(type), spec);
        return block::to(proto, spec, type);
    }
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    if (t != TYPE_OBJECT && t != TYPE_TYPESET && t != TYPE_MAP) return block::to(proto, spec, type);
    Cell* out = block::push_only_star(1);
    block::ms_append(out, spec);
    return set_type(out, static_cast<uint32_t>(type));
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    return slash_values(value, buffer, false, false, false, false, part, limit);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return slash_values(value, buffer, true, only, all, flat, part, limit);
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::inherit_all();
    slots.set<A_MAKE>(&make).set<A_TO>(&to).set<A_FORM>(&form).set<A_MOLD>(&mold).set<A_COPY>(
        &block::copy);
    for (Action a : {A_RANDOM, A_SORT, A_TRIM}) slots.slot[a - 1] = nullptr;
    datatype::register_type(TYPE_PATH, TYPE_BLOCK, "path!", slots);
    datatype::register_type(TYPE_LIT_PATH, TYPE_PATH, "lit-path!",
                            datatype::ActionSlots::inherit_all().set<A_MOLD>(&lit_path::mold));
    datatype::register_type(TYPE_SET_PATH, TYPE_PATH, "set-path!",
                            datatype::ActionSlots::inherit_all().set<A_MOLD>(&set_path::mold));
    datatype::register_type(TYPE_GET_PATH, TYPE_PATH, "get-path!",
                            datatype::ActionSlots::inherit_all().set<A_MOLD>(&get_path::mold));
}

} // namespace path

namespace lit_path {

Cell* push(Cell* blk) { return push_as(blk, TYPE_LIT_PATH); }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    string::append_char(buffer, '\'');
    return path::mold(value, buffer, only, all, flat, part, limit - 1, indent);
}

} // namespace lit_path

namespace set_path {

Cell* push(Cell* blk) { return push_as(blk, TYPE_SET_PATH); }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    limit = path::mold(value, buffer, only, all, flat, part, limit, indent);
    string::append_char(buffer, ':');
    return limit - 1;
}

} // namespace set_path

namespace get_path {

Cell* push(Cell* blk) { return push_as(blk, TYPE_GET_PATH); }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    string::append_char(buffer, ':');
    return path::mold(value, buffer, only, all, flat, part, limit - 1, indent);
}

} // namespace get_path

} // namespace mox
