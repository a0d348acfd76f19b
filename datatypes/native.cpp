// native!, action! and op! (see native.h).
#include "datatypes/native.h"

#include <cstring>

#include "core/actions-entry.h"
#include "core/actions.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/natives.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/string.h"

namespace mox::native {

namespace {

bool callable_q(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// The shape of a native's or action's spec: the kinds of its items and the
// words of its type blocks, names and doc strings left out. A routine of the
// tables reads its arguments by position and trusts their types, so a spec
// of another shape would hand it values it cannot take.
uint64_t spec_shape(uint32_t node) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint32_t v) {
        for (int k = 0; k < 4; k++) h = (h ^ ((v >> (8 * k)) & 0xFF)) * 1099511628211ull;
    };
    memory::SeriesBuffer* b = memory::buffer_of(node);
    for (const Cell* c = b->cells(); c < b->cells_tail(); c++) {
        uint32_t t = type_of(c);
        if (t == TYPE_STRING) continue;
        mix(t);
        if (t != TYPE_BLOCK) continue;
        memory::SeriesBuffer* inner = memory::buffer_of(c->data2);
        for (const Cell* w = inner->cells(); w < inner->cells_tail(); w++) {
            mix(type_of(w));
            if (is_any_word(type_of(w))) {
                mix(symbol::resolve(w->data2));
            } else { // a datatype! or typeset! value: its bits
                mix(w->data1);
                mix(w->data2);
                mix(w->data3);
            }
        }
        mix(0xFFFFFFFF);
    }
    return h | 1; // never 0, which marks a slot not made yet
}

// The spec of make native!/action!: a block of exactly a spec block and an
// id naming a filled slot of the table. An empty slot is refused here, so
// that no call can reach it.
int32_t checked_id(Cell* spec, uint32_t type) {
    if (type_of(spec) != TYPE_BLOCK || block::rs_length_q(spec) != 2) fire_bad_make_arg(type, spec);
    const Cell* items = block::rs_head(spec);
    if (type_of(&items[0]) != TYPE_BLOCK || type_of(&items[1]) != TYPE_INTEGER)
        fire_bad_make_arg(type, spec);
    int32_t id = get_integer(&items[1]);
    bool filled =
        type == TYPE_NATIVE ? natives::lookup(id) != nullptr : actions_entry::lookup(id) != nullptr;
    if (!filled || !spec_fits(type, id, &items[0])) fire_bad_make_arg(type, spec);
    return id;
}

// Whether a callable's spec describes an infix operator: two plain-word
// arguments (a lit-word or get-word only as the second), no refinement but
// /local or /extern, anything after return: ignored.
bool op_spec_q(const Cell* callable) {
    memory::SeriesBuffer* b = memory::buffer_of(callable->data2);
    int32_t args = 0;
    for (const Cell* c = b->cells(); c < b->cells_tail(); c++) {
        switch (type_of(c)) {
        case TYPE_WORD:
            args++;
            break;
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
            if (args == 0) return false;
            args++;
            break;
        case TYPE_SET_WORD:
            if (symbol::resolve(c->data2) == symbol::resolve(words::return_)) return args == 2;
            break;
        case TYPE_REFINEMENT: {
            uint32_t s = symbol::resolve(c->data2);
            if (s == symbol::resolve(words::global::local.data2) ||
                s == symbol::resolve(words::refinements::extern_.data2))
                return args == 2;
            return false;
        }
        default:
            break;
        }
    }
    return args == 2;
}

// The extra block of a function! or routine! value.
Cell* function_extra(const Cell* fn) { return memory::buffer_of(fn->data3)->cells(); }

} // namespace

bool spec_fits(uint32_t type, int32_t id, const Cell* spec) {
    // The first spec a slot is made with (the boot image's) sets its shape.
    static uint64_t shapes[2][128];
    if (id < 1 || id >= 128) return false;
    uint64_t& known = shapes[type == TYPE_ACTION][id];
    uint64_t shape = spec_shape(spec->data2);
    if (known == 0) known = shape;
    return known == shape;
}

// May collect.
Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (type == TYPE_OP) {
        uint32_t source = type_of(spec);
        if (!callable_q(source)) {
            Cell dt;
            make_datatype(&dt, source);
            fire(err::invalid_type, &dt);
        }
        if (!op_spec_q(spec)) fire(err::bad_op_spec);
        Cell op = *spec;
        op.header = (source << OP_SOURCE_SHIFT) | TYPE_OP;
        if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) function_extra(spec)[3] = *spec;
        *proto = op;
        return proto;
    }
    int32_t id = checked_id(spec, static_cast<uint32_t>(type));
    Cell* extra = stack::push_cell();
    block::make_at(extra, 2);
    make_none(block::alloc_tail(extra));
    make_none(block::alloc_tail(extra));
    *proto = Cell{static_cast<uint32_t>(type), static_cast<uint32_t>(id),
                  block::rs_head(spec)->data2, extra->data2};
    stack::pop(1);
    return proto;
}

// May collect.
Cell* reflect(Cell* value, int32_t field_symbol) {
    uint32_t field = symbol::resolve(static_cast<uint32_t>(field_symbol));
    Cell* result = stack::push_cell();
    if (field == symbol::resolve(words::spec)) {
        make_series(result, TYPE_BLOCK, value->data2);
        return result;
    }
    if (field == symbol::resolve(words::body)) {
        uint32_t source = type_of(value) == TYPE_OP ? op_source_type(value) : type_of(value);
        if (source == TYPE_FUNCTION || source == TYPE_ROUTINE)
            *result = function_extra(value)[0];
        else
            make_integer(result, static_cast<int32_t>(value->data1));
        return result;
    }
    fire(err::not_done);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    const char* text = type_of(value) == TYPE_NATIVE   ? "?native?"
                       : type_of(value) == TYPE_ACTION ? "?action?"
                                                       : "?op?";
    string::concatenate_literal(buffer, text);
    return limit - static_cast<int32_t>(std::strlen(text));
}

// May collect.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    Cell* v = stack::push(value);
    Cell* spec = stack::push_cell();
    make_series(spec, TYPE_BLOCK, v->data2);
    uint32_t type = type_of(v);
    const char* head = type == TYPE_NATIVE   ? "make native! ["
                       : type == TYPE_ACTION ? "make action! ["
                                             : "make op! ";
    string::concatenate_literal(buffer, head);
    limit -= static_cast<int32_t>(std::strlen(head));
    if (type == TYPE_OP && op_source_type(v) == TYPE_FUNCTION) {
        string::concatenate_literal(buffer, "func ");
        limit = block::mold(spec, buffer, false, all, flat, part, limit - 5, indent);
        Cell* body = stack::push(&function_extra(v)[0]);
        if (type_of(body) == TYPE_BLOCK)
            limit = block::mold(body, buffer, false, all, flat, part, limit, indent);
    } else {
        if (type == TYPE_OP) {
            string::concatenate_literal(buffer, "[");
            limit--;
        }
        limit = block::mold(spec, buffer, false, all, flat, part, limit, indent);
        string::concatenate_literal(buffer, "]");
        limit--;
    }
    stack::top = v;
    return limit;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value1) != type_of(value2)) return COMPARE_NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_STRICT_EQUAL:
    case COMP_SORT:
    case COMP_CASE_SORT:
    case COMP_SAME:
    case COMP_FIND:
        return value1->data1 == value2->data1 ? 0 : (value1->data1 < value2->data1 ? -1 : 1);
    default:
        return COMPARE_NOT_COMPARABLE;
    }
}

void init_native() {
    datatype::register_type(TYPE_NATIVE, 0, "native!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_REFLECT>(&reflect)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare));
}

void init_action() {
    datatype::register_type(TYPE_ACTION, TYPE_NATIVE, "action!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .inherit<A_REFLECT>()
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare));
}

void init_op() {
    datatype::register_type(TYPE_OP, TYPE_NATIVE, "op!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .inherit<A_REFLECT>()
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare));
}

} // namespace mox::native
