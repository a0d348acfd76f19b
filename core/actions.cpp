// Action dispatch (see actions.h): lookup with its errors, the direct forms,
// the comparison entry and the arithmetic and comparison fast paths.
#include "core/actions.h"

#include <algorithm>
#include <cstring>

#include "core/collector.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"

namespace mox::actions {

namespace {

template <Action A> typename ActionSig<A>::type as(ActionFn fn) {
    return reinterpret_cast<typename ActionSig<A>::type>(fn);
}

// A new path of the same type holding the path's cells from its position up
// to and including the element at position. May collect.
void cut_path(Cell* path, int32_t position, Cell* out) {
    memory::SeriesBuffer* b = memory::buffer_of(path);
    int32_t available =
        static_cast<int32_t>(b->used_bytes() / sizeof(Cell)) - static_cast<int32_t>(path->data1);
    int32_t n = position + 1 < available ? position + 1 : available;
    if (n < 0) n = 0;
    node_t node = memory::alloc_cells(static_cast<uint32_t>(n ? n : 1));
    b = memory::buffer_of(path);
    memory::SeriesBuffer* copy = memory::buffer_of(node);
    std::memcpy(copy->cells(), b->cells() + path->data1, n * sizeof(Cell));
    copy->tail = copy->head + n * sizeof(Cell);
    make_series(out, type_of(path), node);
}

} // namespace

// ---------------------------------------------------------------------------
// Lookup
// ---------------------------------------------------------------------------

ActionFn (*port_action)(const Cell* port, uint32_t action) = nullptr;

ActionFn lookup_checked(uint32_t type, const Cell* value, uint32_t action) {
    if (type == TYPE_PORT && action >= A_APPEND && type_of(value) == TYPE_PORT && port_action)
        if (ActionFn fn = port_action(value, action)) return fn;
    ActionFn fn = datatype::slot_of(type, action);
    if (!fn) fire_expect_arg(0, type);
    return fn;
}

ActionFn lookup(const Cell* value, uint32_t action) {
    return lookup_checked(type_of(value), value, action);
}

ActionFn lookup_arg(uint32_t action) { return lookup(stack::arguments, action); }

ActionFn lookup_path(const Cell* value, uint32_t action, const Cell* path, const Cell* element,
                     int32_t position) {
    ActionFn fn = datatype::slot_of(type_of(value), action);
    if (fn) return fn;
    Cell type;
    make_datatype(&type, type_of(value));
    if (!path) fire(err::bad_path_type2, element, &type);
    Cell whole = *path;
    Cell cut;
    make_none(&cut);
    collector::Root keep_whole(&whole), keep_cut(&cut);
    cut_path(&whole, position, &cut);
    fire(err::bad_path_type, &whole, &type, &cut);
}

void fire_not_related(const Cell* word, uint32_t type) {
    Cell datatype;
    make_datatype(&datatype, type);
    fire(err::not_related, word, &datatype);
}

// ---------------------------------------------------------------------------
// Direct forms
// ---------------------------------------------------------------------------

namespace {

uint32_t target_type(const Cell* proto) {
    return type_of(proto) == TYPE_DATATYPE ? proto->data1 : type_of(proto);
}

} // namespace

Cell* make(Cell* proto, Cell* spec) {
    uint32_t type = target_type(proto);
    return as<A_MAKE>(lookup_checked(type, proto, A_MAKE))(proto, spec, static_cast<int32_t>(type));
}

Cell* to(Cell* proto, Cell* spec) {
    uint32_t type = target_type(proto);
    return as<A_TO>(lookup_checked(type, proto, A_TO))(proto, spec, static_cast<int32_t>(type));
}

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    return lookup_as<A_RANDOM>(value)(value, seed, secure, only);
}

Cell* reflect(Cell* value, int32_t field_symbol) {
    uint32_t type = type_of(value);
    return as<A_REFLECT>(lookup_checked(type, value, A_REFLECT))(value, field_symbol);
}

// Every allowance at or below 0 means the same (exhausted): starting from 0
// keeps the implementations' subtractions from overflowing.
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    return lookup_as<A_FORM>(value)(value, buffer, part, std::max(limit, 0));
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return lookup_as<A_MOLD>(value)(value, buffer, only, all, flat, part, std::max(limit, 0),
                                    indent);
}

std::string mold_utf8(const Cell* value, bool all, int32_t limit) {
    Cell* saved = stack::top;
    // The value may lie in a buffer that the allocation moves.
    Cell* v = stack::push(value);
    Cell* buffer = make_none(stack::push_cell());
    make_series(buffer, TYPE_STRING, memory::alloc_units(64, 1));
    mold(v, buffer, false, all, false, nullptr, limit, 0);
    std::string text = unicode::utf8_of(buffer);
    stack::top = saved;
    return text;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    auto fn = as<A_EVAL_PATH>(lookup_path(parent, A_EVAL_PATH, path, element, position));
    return fn(parent, element, value, path, gparent, previous, position, case_, get, tail, notify);
}

// The element-wise comparison of blocks, objects and maps, whose callers have
// matched the two types already. Routines and functions are equal only when
// they are the same one.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    auto fn = lookup_as<A_COMPARE>(value1);
    switch (type_of(value1)) {
    case TYPE_LOGIC:
        return static_cast<int32_t>(value1->data1) - static_cast<int32_t>(value2->data1);
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_OP: {
        int32_t a = static_cast<int32_t>(value1->data1);
        int32_t b = static_cast<int32_t>(value2->data1);
        return (a > b) - (a < b);
    }
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
        return (value1->data3 > value2->data3) - (value1->data3 < value2->data3);
    default:
        return fn(value1, value2, op);
    }
}

bool compare_star(Cell* value1, Cell* value2, int32_t op) {
    if (op < COMP_EQUAL || op > COMP_FIND || op == COMP_SORT || op == COMP_CASE_SORT)
        sys_quit(101, 0);
    int32_t c = lookup_as<A_COMPARE>(value1)(value1, value2, op);
    switch (op) {
    case COMP_NOT_EQUAL:
        return c != 0;
    case COMP_LESSER:
    case COMP_LESSER_EQUAL:
    case COMP_GREATER:
    case COMP_GREATER_EQUAL:
        if (c == COMPARE_NOT_COMPARABLE) fire(err::invalid_compare, value1, value2);
        if (op == COMP_LESSER) return c < 0;
        if (op == COMP_LESSER_EQUAL) return c <= 0;
        if (op == COMP_GREATER) return c > 0;
        return c >= 0;
    default:
        return c == 0;
    }
}

Cell* negate(Cell* number) { return lookup_as<A_NEGATE>(number)(number); }

Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    return lookup_as<A_ROUND>(n)(n, scale, even, down, half_down, floor, ceiling, half_ceiling);
}

bool even_q(Cell* number) { return lookup_as<A_EVEN_Q>(number)(number); }
bool odd_q(Cell* number) { return lookup_as<A_ODD_Q>(number)(number); }
Cell* complement(Cell* value) { return lookup_as<A_COMPLEMENT>(value)(value); }

Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return lookup_as<A_APPEND>(series)(series, value, part, only, dup, true);
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return lookup_as<A_INSERT>(series)(series, value, part, only, dup, false);
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return lookup_as<A_CHANGE>(series)(series, value, part, only, dup);
}

Cell* clear(Cell* series) { return lookup_as<A_CLEAR>(series)(series); }

Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types) {
    return lookup_as<A_COPY>(value)(value, dest, part, deep, types);
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    return lookup_as<A_FIND>(series)(series, value, part, only, case_, same, any, with, skip, last,
                                     reverse, tail, match);
}

int32_t length_q(Cell* series) { return lookup_as<A_LENGTH_Q>(series)(series); }

Cell* move(Cell* origin, Cell* target, Cell* part) {
    return lookup_as<A_MOVE>(origin)(origin, target, part);
}

Cell* pick(Cell* series, int32_t index, Cell* boxed) {
    return lookup_as<A_PICK>(series)(series, index, boxed);
}

Cell* poke(Cell* series, int32_t index, Cell* data, Cell* boxed) {
    return lookup_as<A_POKE>(series)(series, index, data, boxed);
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    return lookup_as<A_PUT>(series)(series, key, value, case_);
}

Cell* remove(Cell* series, Cell* part, Cell* key) {
    return lookup_as<A_REMOVE>(series)(series, part, key);
}

Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    return lookup_as<A_REVERSE>(series)(series, part, skip);
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse) {
    return lookup_as<A_SELECT>(series)(series, value, part, only, case_, same, any, with, skip,
                                       last, reverse);
}

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable) {
    return lookup_as<A_SORT>(series)(series, case_, skip, comparator, part, all, reverse, stable);
}

Cell* swap(Cell* series1, Cell* series2) { return lookup_as<A_SWAP>(series1)(series1, series2); }

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    return lookup_as<A_TAKE>(series)(series, part, deep, last);
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    return lookup_as<A_TRIM>(series)(series, head, tail, auto_, lines, all, with);
}

Cell* create(Cell* port) { return lookup_as<A_CREATE>(port)(port); }
Cell* close(Cell* port) { return lookup_as<A_CLOSE>(port)(port); }
Cell* delete_(Cell* file) { return lookup_as<A_DELETE>(file)(file); }

Cell* modify(Cell* target, Cell* field, Cell* value, bool case_) {
    return lookup_as<A_MODIFY>(target)(target, field, value, case_);
}

Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return lookup_as<A_OPEN>(port)(port, new_, read, write, seek, allow);
}

Cell* open_q(Cell* port) { return lookup_as<A_OPEN_Q>(port)(port); }
Cell* query(Cell* target) { return lookup_as<A_QUERY>(target)(target); }

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    return lookup_as<A_READ>(source)(source, part, seek, binary, lines, info, as);
}

Cell* rename(Cell* from, Cell* to) { return lookup_as<A_RENAME>(from)(from, to); }
Cell* update(Cell* port) { return lookup_as<A_UPDATE>(port)(port); }

Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
            Cell* part, Cell* seek, Cell* allow, Cell* as) {
    return lookup_as<A_WRITE>(destination)(destination, data, binary, lines, info, append, part,
                                           seek, allow, as);
}

// ---------------------------------------------------------------------------
// Fast paths
// ---------------------------------------------------------------------------

namespace {

// The action of each arithmetic operator code; 0 for the codes that have
// none on the fast paths.
Action math_action(int32_t op) {
    switch (op) {
    case OP_ADD:
        return A_ADD;
    case OP_SUB:
        return A_SUBTRACT;
    case OP_MUL:
        return A_MULTIPLY;
    case OP_OR:
        return A_OR_T;
    case OP_AND:
        return A_AND_T;
    case OP_XOR:
        return A_XOR_T;
    default:
        sys_quit(101, 0);
    }
}

// 32-bit arithmetic; add, subtract and multiply past the range give the
// float! of the double-precision result.
void integer_math(int32_t op, int32_t a, int32_t b, Cell* out) {
    int32_t r = 0;
    bool overflow = false;
    switch (op) {
    case OP_ADD:
        overflow = __builtin_add_overflow(a, b, &r);
        break;
    case OP_SUB:
        overflow = __builtin_sub_overflow(a, b, &r);
        break;
    case OP_MUL:
        overflow = __builtin_mul_overflow(a, b, &r);
        break;
    case OP_OR:
        r = a | b;
        break;
    case OP_AND:
        r = a & b;
        break;
    default:
        r = a ^ b;
        break;
    }
    if (!overflow) {
        make_integer(out, r);
        return;
    }
    double x = a, y = b;
    make_float(out, op == OP_ADD ? x + y : op == OP_SUB ? x - y : x * y);
}

// The slow path: the operator's action in a native frame named by the word.
// The operands are copied first: they may lie in the cells the frame reuses.
Cell* action_math(Action action, const Cell* word, const Cell* value1, const Cell* value2) {
    Cell a = *value1, b = *value2;
    stack::mark_native(word);
    stack::push(&a);
    stack::push(&b);
    Cell* result = as<A_ADD>(lookup_arg(action))();
    stack::set_last(result);
    stack::unwind();
    return stack::top - 1;
}

Cell* math_cells(int32_t op, const Cell* word, const Cell* value1, const Cell* value2,
                 bool floats) {
    Action action = math_action(op);
    if (type_of(value1) == TYPE_INTEGER && type_of(value2) == TYPE_INTEGER) {
        Cell r;
        integer_math(op, get_integer(value1), get_integer(value2), &r);
        return stack::push(&r);
    }
    if (floats && op <= OP_MUL && type_of(value1) == TYPE_FLOAT && type_of(value2) == TYPE_FLOAT) {
        double x = get_float(value1), y = get_float(value2);
        Cell r;
        make_float(&r, op == OP_ADD ? x + y : op == OP_SUB ? x - y : x * y);
        return stack::push(&r);
    }
    return action_math(action, word, value1, value2);
}

// The pushed result replaces the last cell before it.
Cell* replace_top() {
    stack::top[-2] = stack::top[-1];
    stack::pop(1);
    return stack::top - 1;
}

void check_compare_op(int32_t op) {
    if (op < COMP_EQUAL || op > COMP_GREATER_EQUAL) sys_quit(101, 0);
}

bool integer_compare(int32_t op, int32_t a, int32_t b) {
    switch (op) {
    case COMP_NOT_EQUAL:
        return a != b;
    case COMP_LESSER:
        return a < b;
    case COMP_LESSER_EQUAL:
        return a <= b;
    case COMP_GREATER:
        return a > b;
    case COMP_GREATER_EQUAL:
        return a >= b;
    default:
        return a == b;
    }
}

// The answer of a comparison, leaving nothing on the stack.
bool compare_cells(int32_t op, const Cell* word, const Cell* value1, const Cell* value2) {
    check_compare_op(op);
    if (type_of(value1) == TYPE_INTEGER && type_of(value2) == TYPE_INTEGER)
        return integer_compare(op, get_integer(value1), get_integer(value2));
    Cell a = *value1, b = *value2;
    stack::mark_native(word);
    stack::push(&a);
    stack::push(&b);
    bool answer = compare_args(op)->data1 != 0;
    stack::unwind();
    stack::pop(1);
    return answer;
}

} // namespace

Cell* math(int32_t op, const Cell* word, const Cell* value1, const Cell* value2) {
    return math_cells(op, word, value1, value2, true);
}

Cell* math_int(int32_t op, const Cell* word, const Cell* value, int32_t i) {
    Cell right;
    make_integer(&right, i);
    return math_cells(op, word, value, &right, false);
}

Cell* math_top(int32_t op, const Cell* word, const Cell* value) {
    math_cells(op, word, stack::top - 1, value, true);
    return replace_top();
}

Cell* math_top_int(int32_t op, const Cell* word, int32_t i) {
    math_int(op, word, stack::top - 1, i);
    return replace_top();
}

Cell* compare_values(int32_t op, const Cell* word, const Cell* value1, const Cell* value2) {
    Cell r;
    make_logic(&r, compare_cells(op, word, value1, value2));
    return stack::push(&r);
}

Cell* compare_int(int32_t op, const Cell* word, const Cell* value, int32_t i) {
    Cell right;
    make_integer(&right, i);
    return compare_values(op, word, value, &right);
}

Cell* compare_top(int32_t op, const Cell* word, const Cell* value) {
    Cell* left = stack::top - 1;
    return make_logic(left, compare_cells(op, word, left, value));
}

Cell* compare_top_int(int32_t op, const Cell* word, int32_t i) {
    Cell right;
    make_integer(&right, i);
    return compare_top(op, word, &right);
}

bool compare_q(int32_t op, const Cell* word, const Cell* value1, const Cell* value2, bool negate) {
    return compare_cells(op, word, value1, value2) != negate;
}

bool compare_int_q(int32_t op, const Cell* word, const Cell* value, int32_t i, bool negate) {
    Cell right;
    make_integer(&right, i);
    return compare_cells(op, word, value, &right) != negate;
}

bool compare_last_q(int32_t op, const Cell* word, const Cell* value1, const Cell* value2) {
    bool answer = compare_cells(op, word, value1, value2);
    make_logic(stack::arguments, answer);
    return answer;
}

bool compare_last_int_q(int32_t op, const Cell* word, const Cell* value, int32_t i) {
    Cell right;
    make_integer(&right, i);
    return compare_last_q(op, word, value, &right);
}

Cell* compare_args(int32_t op) {
    Cell* args = stack::arguments;
    return make_logic(args, compare_star(args, args + 1, op));
}

} // namespace mox::actions
