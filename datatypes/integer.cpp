// integer! (see integer.h): helpers, the arithmetic core, conversions and
// the actions.
#include "datatypes/integer.h"

#include <cmath>
#include <cstdlib>

#include "core/actions.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/random.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/money.h"
#include "datatypes/number-text.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"

namespace mox::integer {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

int32_t get_last() { return get(stack::arguments); }

int32_t get_any() { return type_of(stack::arguments) == TYPE_INTEGER ? get(stack::arguments) : 0; }

Cell* box(int32_t i) { return make_integer(stack::arguments, i); }

Cell* make_at(Cell* cell, int32_t i) {
    set_type(cell, TYPE_INTEGER);
    cell->data2 = static_cast<uint32_t>(i);
    return cell;
}

Cell* make_in(node_t block, int32_t i) { return make_integer(memory::alloc_tail(block), i); }

Cell* push(int32_t i) { return make_integer(stack::push_cell(), i); }

int32_t sign(int32_t i) { return (i > 0) - (i < 0); }

int32_t abs(int32_t i) {
    if (i == INT32_MIN) fire(err::overflow);
    return i < 0 ? -i : i;
}

int32_t form_signed(int32_t i, char* out) {
    char digits[12];
    int32_t n = 0;
    // Work on the negative magnitude, which holds -2147483648 too.
    int32_t v = i < 0 ? i : -i;
    do {
        digits[n++] = static_cast<char>('0' - v % 10);
        v /= 10;
    } while (v != 0);
    int32_t length = 0;
    if (i < 0) out[length++] = '-';
    while (n > 0) out[length++] = digits[--n];
    out[length] = '\0';
    return length;
}

int32_t get_int(const Cell* value) {
    switch (type_of(value)) {
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
        double d = get_float(value);
        if (float_::out_of_int_range_q(d)) fire(err::out_of_range, value);
        return static_cast<int32_t>(d);
    }
    default:
        return get(value);
    }
}

int32_t secure_rand() { return random::secure_rand(); }

const uint8_t* binary_bytes(const Cell* binary, uint32_t* count) {
    memory::SeriesBuffer* b = memory::buffer_of(binary);
    uint32_t used = b->used_bytes();
    *count = binary->data1 < used ? used - binary->data1 : 0;
    return b->head_ptr() + binary->data1;
}

// ---------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------

int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* result) {
    int32_t r = 0;
    bool overflow = false;
    switch (op) {
    case OP_ADD:
        overflow = __builtin_add_overflow(left, right, &r);
        break;
    case OP_SUB:
        overflow = __builtin_sub_overflow(left, right, &r);
        break;
    case OP_MUL:
        overflow = __builtin_mul_overflow(left, right, &r);
        break;
    case OP_DIV:
        if (right == 0) fire(err::zero_divide);
        if (left == INT32_MIN && right == -1) fire(err::overflow);
        if (result && left % right != 0) {
            make_float(result, static_cast<double>(left) / right);
            return 0;
        }
        r = left / right;
        break;
    case OP_REM:
        if (right == 0) fire(err::zero_divide);
        if (left == INT32_MIN && right == -1) fire(err::overflow);
        r = left % right;
        break;
    case OP_OR:
        r = left | right;
        break;
    case OP_AND:
        r = left & right;
        break;
    default:
        r = left ^ right;
        break;
    }
    if (overflow) {
        if (result) {
            double x = left, y = right;
            make_float(result, op == OP_ADD ? x + y : op == OP_SUB ? x - y : x * y);
        }
        return r;
    }
    if (result) result->data2 = static_cast<uint32_t>(r);
    return r;
}

namespace {

[[noreturn]] void fire_invalid_type(uint32_t type) {
    Cell datatype;
    make_datatype(&datatype, type);
    fire(err::invalid_type, &datatype);
}

} // namespace

// The right operand decides: another integer (or a character) stays in the
// integer core; the float family takes over the operation; the compound
// types refuse what they cannot do with a scalar on the left.
Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    uint32_t type = type_of(right);
    switch (type) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
        do_math_op(get(left), get(right), op, left);
        return left;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
        return float_::do_math(op);
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
    case TYPE_TUPLE:
        if (op == OP_DIV) actions::fire_not_related(&words::global::divide, TYPE_INTEGER);
        if (type == TYPE_TUPLE && op == OP_SUB)
            actions::fire_not_related(&words::global::subtract, TYPE_INTEGER);
        return pair::number_first(op);
    case TYPE_DATE: {
        if (op != OP_ADD) actions::fire_not_related(&words::global::subtract, TYPE_INTEGER);
        Cell days = *left;
        *left = *right;
        *right = days;
        return date::add();
    }
    case TYPE_MONEY:
        return money::do_math(op);
    case TYPE_VECTOR: {
        Cell scalar = *left;
        *left = *right;
        return vector::do_math_scalar(op, left, &scalar, true);
    }
    default:
        fire_invalid_type(type);
    }
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

namespace {

[[noreturn]] void fire_bad_to(uint32_t type, const Cell* spec) {
    Cell datatype;
    make_datatype(&datatype, type);
    fire(err::bad_to_arg, &datatype, spec);
}

// A double truncated toward zero; out of range raises type-limit.
int32_t from_double(double d) {
    if (float_::out_of_int_range_q(d)) {
        Cell datatype;
        make_datatype(&datatype, TYPE_INTEGER);
        fire(err::type_limit, &datatype);
    }
    return static_cast<int32_t>(d);
}

// One to eight hexadecimal digits of an issue's name.
int32_t from_issue(const Cell* issue) {
    size_t length = 0;
    const char* name = symbol::name_utf8(issue->data2, &length);
    if (length < 1 || length > 8) fire(err::invalid_data, issue);
    uint32_t v = 0;
    for (size_t i = 0; i < length; i++) {
        char c = name[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            fire(err::invalid_data, issue);
        v = v << 4 | digit;
    }
    return static_cast<int32_t>(v);
}

} // namespace

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (type_of(spec) == TYPE_LOGIC) return make_integer(proto, spec->data1 != 0);
    return to(proto, spec, type);
}

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    if (seed) {
        random::seed(value->data2);
        return make_unset(value);
    }
    int32_t n = get(value);
    if (n != 0)
        value->data2 =
            static_cast<uint32_t>(random::rand_int(n, secure ? secure_rand : random::rand));
    return value;
}

// Text reads from the index to the tail with apostrophes as digit
// separators; a bad character or overflow is a bad to argument.
Cell* to(Cell* proto, Cell* spec, int32_t type) {
    if (is_any_string(type_of(spec))) {
        int32_t count = string::ms_length_q(spec);
        uint32_t unit = string::buffer_of(spec)->unit();
        int32_t failure = 0;
        int32_t n = lexer::scan_integer(string::ms_head(spec), count, unit, &failure);
        if (failure) fire_bad_to(TYPE_INTEGER, spec);
        return make_integer(proto, n);
    }
    switch (type_of(spec)) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
        return make_integer(proto, get(spec));
    case TYPE_FLOAT:
    case TYPE_PERCENT:
        return make_integer(proto, from_double(get_float(spec)));
    case TYPE_TIME:
        return make_integer(proto, from_double(get_float(spec) + 0.5));
    case TYPE_BINARY: {
        uint32_t count;
        const uint8_t* p = binary_bytes(spec, &count);
        uint32_t v = 0;
        for (uint32_t i = 0; i < count && i < 4; i++) v = v << 8 | p[i];
        return make_integer(proto, static_cast<int32_t>(v));
    }
    case TYPE_ISSUE:
        return make_integer(proto, from_issue(spec));
    case TYPE_MONEY:
        return make_integer(proto, money::to_integer(spec));
    case TYPE_DATE:
        return make_integer(proto, date::to_epoch(spec));
    default:
        fire_bad_to(TYPE_INTEGER, spec);
    }
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    char text[12];
    int32_t length = form_signed(get(value), text);
    string::concatenate_literal(buffer, text);
    return limit - length;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

// Mixed comparisons with the float family run under the float rules (and
// their tolerance).
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint32_t type = type_of(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && type != TYPE_INTEGER) return 1;
    switch (type) {
    case TYPE_INTEGER:
    case TYPE_CHAR: {
        int32_t a = get(value1), b = get(value2);
        return (a > b) - (a < b);
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
        Cell as_float;
        make_float(&as_float, get(value1));
        return float_::compare(&as_float, value2, op);
    }
    case TYPE_MONEY: {
        int32_t r = money::compare(value2, value1, op);
        return r == COMPARE_NOT_COMPARABLE ? r : -r;
    }
    default:
        return COMPARE_NOT_COMPARABLE;
    }
}

Cell* absolute() {
    Cell* value = stack::arguments;
    value->data2 = static_cast<uint32_t>(abs(get(value)));
    return value;
}

Cell* add() { return do_math(OP_ADD); }
Cell* subtract() { return do_math(OP_SUB); }
Cell* multiply() { return do_math(OP_MUL); }
Cell* divide() { return do_math(OP_DIV); }
Cell* remainder() { return do_math(OP_REM); }
Cell* and_t() { return do_math(OP_AND); }
Cell* or_t() { return do_math(OP_OR); }
Cell* xor_t() { return do_math(OP_XOR); }

Cell* negate(Cell* number) {
    int32_t v = get(number);
    if (v == INT32_MIN) fire(err::overflow);
    number->data2 = static_cast<uint32_t>(-v);
    return number;
}

namespace {

// Exponentiation by squaring; false when a product leaves the 32-bit range.
bool power_by_squaring(int32_t base, int32_t exponent, int32_t* result) {
    int32_t r = 1;
    while (exponent != 0) {
        if ((exponent & 1) && __builtin_mul_overflow(r, base, &r)) return false;
        exponent >>= 1;
        if (exponent != 0 && __builtin_mul_overflow(base, base, &base)) return false;
    }
    *result = r;
    return true;
}

} // namespace

// An integer result when one exists; a float! exponent, a negative one or a
// result past the range go through the float power of the same base.
Cell* power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    uint32_t type = type_of(exponent);
    if (type != TYPE_INTEGER && type != TYPE_FLOAT) fire_expect_arg(1, type);
    int32_t r;
    if (type == TYPE_INTEGER && get(exponent) >= 0 &&
        power_by_squaring(get(base), get(exponent), &r))
        return make_at(base, r);
    make_float(base, get(base));
    return float_::power();
}

// Rounds to a multiple of the scale in 64 bits, so that every result the
// 32-bit range holds is found (-2147483648 and its neighbours included) and
// only a result outside that range raises overflow.
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (scale && type_of(scale) == TYPE_MONEY) {
        Cell word;
        stack::get_call(&word);
        actions::fire_not_related(&word, TYPE_MONEY);
    }
    int64_t value = get(n);
    int64_t sc = 1;
    if (scale) {
        if (type_of(scale) != TYPE_INTEGER) {
            make_float(n, static_cast<double>(value));
            return float_::round(n, scale, even, down, half_down, floor, ceiling, half_ceiling);
        }
        sc = std::abs(static_cast<int64_t>(get(scale)));
        if (sc == 0) return n;
    }
    int64_t a = std::abs(value);
    int64_t m = a % sc;
    if (m == 0) return n;
    int64_t d = sc - m;

    // away: the next multiple farther from zero; else the nearer one.
    bool away;
    if (down)
        away = false;
    else if (floor)
        away = value < 0;
    else if (ceiling)
        away = value >= 0;
    else if (m != d)
        away = m > d;
    else if (even)
        away = (a / sc) % 2 != 0;
    else if (half_down)
        away = false;
    else if (half_ceiling)
        away = value >= 0;
    else
        away = true;

    int64_t magnitude = away ? a + d : a - m;
    int64_t result = value < 0 ? -magnitude : magnitude;
    if (result < INT32_MIN || result > INT32_MAX) fire(err::overflow);
    n->data2 = static_cast<uint32_t>(static_cast<int32_t>(result));
    return n;
}

bool even_q(Cell* number) { return (get(number) & 1) == 0; }
bool odd_q(Cell* number) { return (get(number) & 1) != 0; }

Cell* complement(Cell* value) {
    value->data2 = ~value->data2;
    return value;
}

void init() {
    datatype::register_type(TYPE_INTEGER, 0, "integer!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_RANDOM>(&random)
                                .set<A_TO>(&to)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare)
                                .set<A_ABSOLUTE>(&absolute)
                                .set<A_ADD>(&add)
                                .set<A_DIVIDE>(&divide)
                                .set<A_MULTIPLY>(&multiply)
                                .set<A_NEGATE>(&negate)
                                .set<A_POWER>(&power)
                                .set<A_REMAINDER>(&remainder)
                                .set<A_ROUND>(&round)
                                .set<A_SUBTRACT>(&subtract)
                                .set<A_EVEN_Q>(&even_q)
                                .set<A_ODD_Q>(&odd_q)
                                .set<A_AND_T>(&and_t)
                                .set<A_COMPLEMENT>(&complement)
                                .set<A_OR_T>(&or_t)
                                .set<A_XOR_T>(&xor_t));
}

} // namespace mox::integer
