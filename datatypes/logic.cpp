// logic! (see logic.h).
#include "datatypes/logic.h"

#include "core/datatype.h"
#include "core/memory.h"
#include "core/random.h"
#include "core/stack.h"
#include "core/value.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"

namespace mox::logic {

Cell* box(uint32_t truth) {
    *stack::arguments = Cell{TYPE_LOGIC, truth, 0, 0};
    return stack::arguments;
}

Cell* make_in(node_t block, uint32_t truth) {
    Cell* c = memory::alloc_tail(block);
    *c = Cell{TYPE_LOGIC, truth, 0, 0};
    return c;
}

Cell* push(uint32_t truth) {
    Cell* c = stack::push_cell();
    *c = Cell{TYPE_LOGIC, truth, 0, 0};
    return c;
}

bool true_q() {
    if (type_of(stack::arguments) == TYPE_UNSET) fire(err::no_return);
    return truthy(stack::arguments);
}

bool false_q() { return !truthy(stack::arguments); }

bool test_value(const Cell* value, bool check, const Cell* word) {
    if (check && type_of(value) == TYPE_UNSET) fire(err::no_value, word);
    return truthy(value);
}

bool top_false_q() { return !truthy(stack::get_top()); }

bool top_true_q() { return truthy(stack::get_top()); }

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

// make converts numbers by their value (0 is false); to does not.
Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_INTEGER:
        return make_logic(proto, get_integer(spec) != 0);
    case TYPE_FLOAT:
    case TYPE_PERCENT:
        return make_logic(proto, !(get_float(spec) == 0.0));
    default:
        return to(proto, spec, type);
    }
}

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    if (seed) {
        random::seed(value->data1);
        return make_unset(value);
    }
    int32_t draw = secure ? integer::secure_rand() : random::rand();
    return make_logic(value, draw > 0x3FFFFFFF);
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_LOGIC:
        return copy_cell(spec, proto);
    case TYPE_NONE:
        return make_logic(proto, false);
    default:
        return make_logic(proto, true);
    }
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    bool t = value->data1 != 0;
    string::concatenate_literal(buffer, t ? "true" : "false");
    return limit - (t ? 4 : 5);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    if (!all) return form(value, buffer, part, limit);
    bool t = value->data1 != 0;
    string::concatenate_literal(buffer, t ? "#(true)" : "#(false)");
    return limit - (t ? 7 : 8);
}

// false sorts before true; there is no order for the comparison operators.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_LOGIC || !unset::unordered_op_q(op)) return COMPARE_NOT_COMPARABLE;
    return static_cast<int32_t>(value1->data1) - static_cast<int32_t>(value2->data1);
}

namespace {

// The second operand of a logic operator must be logic! too.
Cell* bitwise(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (type_of(right) != TYPE_LOGIC) fire_expect_arg(1, type_of(right));
    switch (op) {
    case OP_AND:
        left->data1 &= right->data1;
        break;
    case OP_OR:
        left->data1 |= right->data1;
        break;
    default:
        left->data1 ^= right->data1;
        break;
    }
    return left;
}

} // namespace

Cell* and_t() { return bitwise(OP_AND); }
Cell* or_t() { return bitwise(OP_OR); }
Cell* xor_t() { return bitwise(OP_XOR); }

Cell* complement(Cell* value) {
    value->data1 ^= 1;
    return value;
}

void init() {
    datatype::register_type(TYPE_LOGIC, 0, "logic!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_RANDOM>(&random)
                                .set<A_TO>(&to)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare)
                                .set<A_AND_T>(&and_t)
                                .set<A_COMPLEMENT>(&complement)
                                .set<A_OR_T>(&or_t)
                                .set<A_XOR_T>(&xor_t));
}

} // namespace mox::logic
