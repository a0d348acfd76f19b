// The comparison and logic natives. The seven comparisons are thin wrappers
// over the comparison entry of the action dispatch, which owns what each
// datatype means by equal and ordered; same? is an identity test of its
// own.
#include "evaluator/natives-compare.h"

#include "core/actions.h"
#include "core/datatype.h"
#include "core/natives.h"
#include "core/stack.h"
#include "datatypes/logic.h"

namespace mox::natives {

namespace {

template <CompareOp Op> void compare_star() { actions::compare_args(Op); }

void same_q_star() {
    Cell* args = stack::arguments;
    make_logic(args, same_values_q(args, args + 1));
}

// An unset! value counts as true.
void not_star() {
    Cell* args = stack::arguments;
    make_logic(args, !logic::truthy(args));
}

// Refinement order: /word.
void type_q_star(int32_t word) {
    Cell* args = stack::arguments;
    uint32_t t = type_of(args);
    if (word >= 0)
        *args = datatype::name_table[t].word;
    else
        make_datatype(args, t);
}

} // namespace

bool same_values_q(Cell* value1, Cell* value2) {
    uint32_t t = type_of(value1);
    if (t != type_of(value2)) return false;
    const Cell& a = *value1;
    const Cell& b = *value2;
    if (is_any_block(t) || is_any_string(t)) return a.data1 == b.data1 && a.data2 == b.data2;
    switch (t) {
    case TYPE_UNSET:
    case TYPE_NONE:
        return true;
    case TYPE_DATATYPE:
    case TYPE_LOGIC:
    case TYPE_OBJECT:
        return a.data1 == b.data1;
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_BITSET:
        return a.data2 == b.data2;
    case TYPE_BINARY:
    case TYPE_VECTOR:
    case TYPE_IMAGE:
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_POINT2D:
        return a.data1 == b.data1 && a.data2 == b.data2;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_PAIR:
    case TYPE_TIME:
    case TYPE_OP:
        return a.data2 == b.data2 && a.data3 == b.data3;
    case TYPE_TUPLE:
        return (a.header & FLAG_TUPLE_SIZE_MASK) == (b.header & FLAG_TUPLE_SIZE_MASK) &&
               actions::compare(value1, value2, COMP_SAME) == 0;
    case TYPE_MONEY:
        return actions::compare(value1, value2, COMP_SAME) == 0;
    default:
        return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3;
    }
}

void register_compare() { MOX_NATIVES_COMPARE(MOX_NATIVE_REGISTER) }

} // namespace mox::natives
