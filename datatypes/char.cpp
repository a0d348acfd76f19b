// char! (see char.h).
#include "datatypes/char.h"

#include <cmath>

#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"

namespace mox::char_ {

Cell* push(uint32_t cp) { return make_char(stack::push_cell(), cp); }

Cell* make_in(node_t block, uint32_t cp) { return make_char(memory::alloc_tail(block), cp); }

namespace {

[[noreturn]] void fire_with_type(err::Code code, uint32_t type, const Cell* arg2 = nullptr) {
    Cell datatype;
    make_datatype(&datatype, type);
    fire(code, &datatype, arg2);
}

} // namespace

// A float right operand counts by its value truncated toward zero; one that
// no 32-bit integer holds gives a result outside the range, so it raises the
// same overflow before any conversion.
Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int32_t r;
    switch (type_of(right)) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
        r = get_integer(right);
        break;
    case TYPE_FLOAT: {
        double t = std::trunc(get_float(right));
        if (float_::out_of_int_range_q(t)) fire(err::overflow);
        r = static_cast<int32_t>(t);
        break;
    }
    default:
        fire_with_type(err::invalid_type, type_of(right));
    }
    // Division truncates; every other operation is given a scratch cell, in
    // which an overflow shows as a float!.
    Cell scratch;
    make_integer(&scratch, 0);
    int32_t v = integer::do_math_op(get_integer(left), r, op, op == OP_DIV ? nullptr : &scratch);
    if (type_of(&scratch) != TYPE_INTEGER || v < 0 || v > static_cast<int32_t>(MAX_CODE_POINT))
        fire(err::overflow);
    left->data2 = static_cast<uint32_t>(v);
    return left;
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type) { return to(proto, spec, type); }

namespace {

// The character at a string's position; a string at its tail has none.
uint32_t char_at(const Cell* str) {
    memory::SeriesBuffer* b = memory::buffer_of(str);
    uint32_t unit = b->unit();
    if (str->data1 >= b->used_bytes() / unit) fire_with_type(err::bad_to_arg, TYPE_CHAR, str);
    return string::get_char(b->head_ptr() + str->data1 * unit, unit);
}

} // namespace

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    if (is_any_string(t)) return make_char(proto, char_at(spec));
    int64_t cp;
    switch (t) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
        cp = get_integer(spec);
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        double d = std::trunc(get_float(spec));
        cp = d >= 0.0 && d <= MAX_CODE_POINT ? static_cast<int64_t>(d) : -1;
        break;
    }
    case TYPE_BINARY: {
        // The sequence must be whole: an empty or cut binary has no
        // character to give.
        uint32_t available;
        const uint8_t* p = integer::binary_bytes(spec, &available);
        int32_t decoded = available ? unicode::decode_utf8_char(p, &available) : -1;
        if (decoded < 0) fire_with_type(err::bad_to_arg, TYPE_CHAR, spec);
        return make_char(proto, static_cast<uint32_t>(decoded));
    }
    default:
        fire_with_type(err::bad_to_arg, TYPE_CHAR, spec);
    }
    if (cp < 0 || cp > MAX_CODE_POINT) fire(err::out_of_range, spec);
    return make_char(proto, static_cast<uint32_t>(cp));
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    string::append_char(buffer, value->data2);
    return limit - 1;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    uint32_t cp = value->data2; // read before the buffer grows
    string::concatenate_literal(buffer, "#\"");
    int32_t n = string::append_escaped_char(buffer, cp, all);
    string::append_char(buffer, '"');
    return limit - n - 3;
}

// By code point, without case folding: #"a" and #"A" differ.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint32_t t = type_of(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t != TYPE_CHAR) return 1;
    if (t != TYPE_CHAR && t != TYPE_INTEGER) return COMPARE_NOT_COMPARABLE;
    int32_t a = get_integer(value1), b = get_integer(value2);
    return (a > b) - (a < b);
}

Cell* add() { return do_math(OP_ADD); }
Cell* subtract() { return do_math(OP_SUB); }
Cell* multiply() { return do_math(OP_MUL); }
Cell* divide() { return do_math(OP_DIV); }
Cell* remainder() { return do_math(OP_REM); }
Cell* and_t() { return do_math(OP_AND); }
Cell* or_t() { return do_math(OP_OR); }
Cell* xor_t() { return do_math(OP_XOR); }

void init() {
    datatype::register_type(TYPE_CHAR, TYPE_INTEGER, "char!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .inherit<A_RANDOM>()
                                .set<A_TO>(&to)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare)
                                .inherit<A_ABSOLUTE>()
                                .set<A_ADD>(&add)
                                .set<A_DIVIDE>(&divide)
                                .set<A_MULTIPLY>(&multiply)
                                .set<A_REMAINDER>(&remainder)
                                .set<A_SUBTRACT>(&subtract)
                                .inherit<A_EVEN_Q>()
                                .inherit<A_ODD_Q>()
                                .set<A_AND_T>(&and_t)
                                .set<A_OR_T>(&or_t)
                                .set<A_XOR_T>(&xor_t));
}

} // namespace mox::char_
