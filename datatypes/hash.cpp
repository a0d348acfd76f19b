// hash!: a block with a hash index. Searching, changing, sorting and
// trimming are block!'s, which keep the index current; this module makes
// hashes, copies them with their index and writes their text.
#include "datatypes/hash.h"

#include <algorithm>

#include "core/datatype.h"
#include "core/hashtable.h"
#include "core/stack.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"

namespace mox::hash {

Cell* make_cell(Cell* cell) {
    node_t table = hashtable::init(static_cast<int32_t>(block::abs_length(cell)), cell->data2,
                                   hashtable::KIND_HASH);
    set_type(cell, TYPE_HASH);
    cell->data3 = table;
    return cell;
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        Cell* out = block::push_only_star(std::max(integer::get_int(spec), 1));
        return make_cell(out);
    }
    if (t == TYPE_HASH) return copy(spec, nullptr, nullptr, false, nullptr);
    if (t == TYPE_BLOCK) return make_cell(set_type(block::clone(spec, false, false), TYPE_BLOCK));
    return make_cell(block::to(proto, spec, TYPE_BLOCK));
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    if (type_of(spec) == TYPE_HASH) return copy(spec, nullptr, nullptr, false, nullptr);
    return make_cell(block::to(proto, spec, TYPE_BLOCK));
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    if (!only) {
        string::concatenate_literal(buffer, "make hash! ");
        limit -= 11;
    }
    return block::mold(value, buffer, only, all, flat, part, limit, indent);
}

Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types) {
    Cell* source = stack::push(value);
    bool whole = source->data1 == 0 && !part && !deep && !types && source->data3;
    Cell* out = block::copy(source, dest ? dest : make_none(stack::push_cell()), part, deep, types);
    if (type_of(out) != TYPE_BLOCK && type_of(out) != TYPE_HASH) return out;
    if (whole) {
        node_t table = hashtable::copy(source->data3, out->data2);
        set_type(out, TYPE_HASH);
        out->data3 = table;
    } else {
        make_cell(out);
    }
    return out;
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::inherit_all();
    slots.set<A_MAKE>(&make).set<A_TO>(&to).set<A_MOLD>(&mold).set<A_COPY>(&copy);
    for (Action a :
         {A_RANDOM,    A_ABSOLUTE, A_ADD,      A_DIVIDE, A_MULTIPLY, A_NEGATE, A_POWER,
          A_REMAINDER, A_ROUND,    A_SUBTRACT, A_EVEN_Q, A_ODD_Q,    A_AND_T,  A_COMPLEMENT,
          A_OR_T,      A_XOR_T,    A_CREATE,   A_CLOSE,  A_DELETE,   A_OPEN})
        slots.slot[a - 1] = nullptr;
    datatype::register_type(TYPE_HASH, TYPE_BLOCK, "hash!", slots);
}

} // namespace mox::hash
