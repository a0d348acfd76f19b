// float! (see float.h): helpers, text forms, the arithmetic core,
// conversions, rounding and the actions.
#include "datatypes/float.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "core/actions.h"
#include "core/datatype.h"
#include "core/dtoa.h"
#include "core/evaluator-hooks.h"
#include "core/memory.h"
#include "core/random.h"
#include "core/stack.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/number-text.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"

namespace mox::float_ {

bool pretty_print_q = true;
bool full_support_q = false;

namespace {

constexpr double EPSILON = 2.220446049250313e-16;
constexpr double BELOW_HALF = 0.49999999999999994; // the largest double below 0.5

uint64_t bits_of(double d) {
    uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

double from_bits(uint64_t b) {
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

[[noreturn]] void fire_with_type(err::Code code, uint32_t type, const Cell* arg2 = nullptr) {
    Cell datatype;
    make_datatype(&datatype, type);
    fire(code, &datatype, arg2);
}

} // namespace

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

Cell* box(double d) { return make_float(stack::arguments, d); }

Cell* make_at(Cell* cell, double d) { return make_float(cell, d); }

Cell* push(double d) { return make_float(stack::push_cell(), d); }

Cell* push64(uint32_t high, uint32_t low) {
    return push(from_bits(static_cast<uint64_t>(high) << 32 | low));
}

Cell* append(node_t block, uint32_t high, uint32_t low) {
    return make_float(memory::alloc_tail(block),
                      from_bits(static_cast<uint64_t>(high) << 32 | low));
}

double abs(double d) { return from_bits(bits_of(d) & ~(uint64_t{1} << 63)); }

int32_t round_to_int(double d) {
    double r = std::trunc(d + BELOW_HALF);
    if (out_of_int_range_q(r)) fire_with_type(err::type_limit, TYPE_INTEGER);
    return static_cast<int32_t>(r);
}

bool NaN_q(double d) {
    uint64_t b = bits_of(d);
    return (b & 0x7FF0000000000000) == 0x7FF0000000000000 && (b & 0x000FFFFFFFFFFFFF) != 0;
}

bool NaN32_q(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return (b & 0x7F800000) == 0x7F800000 && (b & 0x007FFFFF) != 0;
}

bool special_q(double d) { return (bits_of(d) & 0x7FF0000000000000) == 0x7FF0000000000000; }

bool out_of_int_range_q(double d) { return d > 2147483647.0 || d < -2147483648.0 || std::isnan(d); }

namespace {

// Bit patterns mapped to keys that order like the numbers, so that the
// distance between two keys counts the doubles between them.
uint64_t ordered_key(double d) {
    uint64_t b = bits_of(d);
    return (b >> 63) ? ~b + 1 : b | uint64_t{1} << 63;
}

uint32_t ordered_key32(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return (b >> 31) ? ~b + 1 : b | uint32_t{1} << 31;
}

} // namespace

// An infinity is equal only to itself: it lies next to the largest finite
// double in key order, yet no rounding error makes one from the other.
bool almost_equal_q(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::isinf(a) || std::isinf(b)) return false;
    if (std::fabs(a - b) < EPSILON) return true;
    uint64_t ka = ordered_key(a), kb = ordered_key(b);
    return (ka > kb ? ka - kb : kb - ka) <= 10;
}

bool almost_equal32_q(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::isinf(a) || std::isinf(b)) return false;
    uint32_t ka = ordered_key32(a), kb = ordered_key32(b);
    return (ka > kb ? ka - kb : kb - ka) <= 10;
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

namespace {

// The text the C format "%.<precision>g" gives, from correctly rounded
// digits, with the exponent already clean: no "+", no leading zeros.
int format_g(double value, int precision, char* out) {
    char digits[dtoa::DIGITS_SIZE];
    int point;
    bool negative;
    int n = dtoa::shortest_digits(value, precision, false, digits, &point, &negative);
    if (point == dtoa::POINT_ZERO) {
        std::strcpy(out, digits);
        return static_cast<int>(std::strlen(out));
    }
    int exponent = point - 1;
    return dtoa::layout_digits(digits, n, point, negative, exponent < -4 || exponent >= precision,
                               false, out);
}

int print_kind(double value, int kind, char* out) {
    switch (kind) {
    case KIND_FLOAT32:
    case KIND_PERCENT32:
    case KIND_POINT:
        return format_g(value, 7, out);
    case KIND_TIME:
        return dtoa::form_float(value, 6, false, out);
    case KIND_PERCENT:
        return format_g(value, 13, out);
    default:
        return format_g(value, 16, out);
    }
}

// Digits past the precision of the value: a text of full length whose last
// two digits (before the exponent, if any) are 01 or 99.
bool noisy(const char* text, int length) {
    const char* e = std::strchr(text, 'e');
    const char* last;
    if (e) {
        if (e - text <= 16) return false;
        last = e - 2;
    } else {
        const char* start = text[0] == '-' ? text + 1 : text;
        if (length <= (start[0] == '0' ? 17 : 16)) return false;
        last = text + length - 2;
    }
    return (last[0] == '0' && last[1] == '1') || (last[0] == '9' && last[1] == '9');
}

} // namespace

int form_float(double value, int kind, char* out) {
    if (special_q(value)) {
        const char* text = NaN_q(value) ? "1.#NaN" : value < 0 ? "-1.#INF" : "1.#INF";
        std::strcpy(out, text);
        return static_cast<int>(std::strlen(out));
    }
    bool percent = kind == KIND_PERCENT32 || kind == KIND_PERCENT;
    if (pretty_print_q && std::fabs(value) < EPSILON) {
        const char* text = percent ? "0%" : kind == KIND_POINT ? "0" : "0.0";
        std::strcpy(out, text);
        return static_cast<int>(std::strlen(out));
    }
    int length = print_kind(value, kind, out);
    if (pretty_print_q && noisy(out, length)) {
        bool single = kind == KIND_FLOAT32 || kind == KIND_TIME || kind == KIND_POINT;
        length = format_g(value, single ? 5 : 14, out);
    }
    if (percent) {
        out[length++] = '%';
        out[length] = '\0';
    } else if (kind != KIND_TIME && kind != KIND_POINT && !std::strchr(out, '.')) {
        char* e = std::strchr(out, 'e');
        char* at = e ? e : out + length;
        std::memmove(at + 2, at, out + length + 1 - at);
        at[0] = '.';
        at[1] = '0';
        length += 2;
    }
    return length;
}

// ---------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------

double do_math_op(double x, double y, int32_t op) {
    switch (op) {
    case OP_ADD:
        return x + y;
    case OP_SUB:
        return x - y;
    case OP_MUL:
        return x * y;
    case OP_DIV:
        return x / y;
    case OP_REM:
        if (y * 0.0 == 0.0) return std::fmod(x, y);
        if (std::isnan(y) || !std::isfinite(x)) return std::nan("");
        return x;
    default: {
        Cell word, datatype;
        stack::get_call(&word);
        make_datatype(&datatype, TYPE_FLOAT);
        fire(err::cannot_use, &word, &datatype);
    }
    }
}

// The result is time! when either side is, else percent! when the left is,
// else float!: 50% * 2 is 100%, 2 * 50% is 1.0.
Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    uint32_t lt = type_of(left), rt = type_of(right);
    switch (rt) {
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
        break;
    case TYPE_CHAR:
        if (lt == TYPE_TIME || lt == TYPE_PERCENT) fire_with_type(err::invalid_type, rt);
        break;
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
    case TYPE_TUPLE:
        if (lt == TYPE_TIME) fire_with_type(err::invalid_type, rt);
        if (op == OP_SUB || op == OP_DIV)
            actions::fire_not_related(
                op == OP_SUB ? &words::global::subtract : &words::global::divide, rt);
        return pair::number_first(op);
    case TYPE_MONEY:
        if (lt == TYPE_TIME) fire_with_type(err::invalid_type, rt);
        return money::do_math(op);
    case TYPE_VECTOR:
        if (lt != TYPE_TIME) {
            Cell scalar = *left;
            *left = *right;
            return vector::do_math_scalar(op, left, &scalar, true);
        }
        fire_with_type(err::invalid_type, rt);
    default:
        fire_with_type(err::invalid_type, rt);
    }
    double x = lt == TYPE_INTEGER ? get_integer(left) : get_float(left);
    double y = rt == TYPE_INTEGER || rt == TYPE_CHAR ? get_integer(right) : get_float(right);
    uint32_t type = lt == TYPE_TIME || rt == TYPE_TIME ? TYPE_TIME
                    : lt == TYPE_PERCENT               ? TYPE_PERCENT
                                                       : TYPE_FLOAT;
    return make_float(left, do_math_op(x, y, op), type);
}

double random_scaled(double scale, bool secure) {
    if (!secure) return scale * (random::rand() / 2147483647.0);
    double r1 = integer::secure_rand();
    double r2 = integer::secure_rand();
    return scale * (r2 + r1 / 2147483647.0) / 2147483648.0;
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

namespace {

// The [mantissa exponent] block form: m * 10^e with e truncated.
double from_block(const Cell* block, uint32_t target) {
    memory::SeriesBuffer* b = memory::buffer_of(block);
    uint32_t cells = b->used_bytes() / sizeof(Cell);
    if (cells < block->data1 || cells - block->data1 != 2)
        fire_with_type(err::bad_to_arg, target, block);
    const Cell* items = b->cells() + block->data1;
    double parts[2];
    for (int i = 0; i < 2; i++) {
        uint32_t t = type_of(&items[i]);
        if (t == TYPE_INTEGER)
            parts[i] = get_integer(&items[i]);
        else if (t == TYPE_FLOAT)
            parts[i] = get_float(&items[i]);
        else
            fire_with_type(err::bad_to_arg, target, block);
    }
    // A negative exponent divides by the power of ten, which is exact up to
    // 10^22, so that [1.5 -5] gives the double nearest 1.5e-5.
    double e = std::trunc(parts[1]);
    if (e < 0 && e >= -308) return parts[0] / std::pow(10.0, -e);
    return parts[0] * std::pow(10.0, e);
}

} // namespace

Cell* make(Cell* proto, Cell* spec, int32_t type) { return to(proto, spec, type); }

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    if (seed) {
        random::seed(value->data2 ^ value->data3);
        return make_unset(value);
    }
    set_float(value, random_scaled(get(value), secure));
    return value;
}

namespace {

// Text: float! reads it with the float scanner (a comma reads as a point);
// percent! loads it as one number, alone in the text. May collect.
double from_text(Cell* spec, uint32_t target) {
    int32_t count = string::ms_length_q(spec);
    if (count == 0) fire_with_type(err::bad_to_arg, target, spec);
    if (target == TYPE_FLOAT) {
        int32_t failure = 0;
        double d = lexer::scan_float(string::ms_head(spec), count, string::buffer_of(spec)->unit(),
                                     &failure);
        if (failure) fire_with_type(err::bad_to_arg, target, spec);
        return d;
    }
    Cell* holder = stack::push_cell();
    make_none(holder);
    Cell* v = evaluator::load_value(spec, holder);
    uint32_t t = type_of(v);
    double d;
    if (type_of(holder) != TYPE_BLOCK || block::rs_length_q(holder) != 1)
        fire_with_type(err::bad_to_arg, target, spec);
    if (t == TYPE_INTEGER)
        d = get_integer(v);
    else if (t == TYPE_FLOAT || t == TYPE_PERCENT)
        d = get_float(v);
    else
        fire_with_type(err::bad_to_arg, target, spec);
    stack::top = holder;
    return d;
}

} // namespace

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    uint32_t target = static_cast<uint32_t>(type);
    double d;
    if (is_any_string(type_of(spec))) return make_float(proto, from_text(spec, target), target);
    switch (type_of(spec)) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
        d = get_integer(spec);
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
        d = get_float(spec);
        break;
    case TYPE_BINARY: {
        uint32_t count;
        const uint8_t* p = integer::binary_bytes(spec, &count);
        uint64_t bits = 0;
        for (uint32_t i = 0; i < count && i < 8; i++) bits = bits << 8 | p[i];
        d = from_bits(bits);
        break;
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
        d = from_block(spec, target);
        break;
    case TYPE_MONEY:
        d = money::to_float(spec);
        break;
    default:
        fire_with_type(err::bad_to_arg, target, spec);
    }
    return make_float(proto, d, target);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    char text[TEXT_SIZE];
    int length = form_float(get(value), KIND_FLOAT, text);
    string::concatenate_literal(buffer, text);
    return limit - length;
}

// The shortest text that reads back as the same double.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    char text[dtoa::FORM_SIZE];
    int length = dtoa::form_float(get(value), 0, true, text);
    string::concatenate_literal(buffer, text);
    return limit - length;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint32_t type = type_of(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && type != type_of(value1))
        return 1;
    double a = get(value1), b;
    switch (type) {
    case TYPE_INTEGER:
        b = get_integer(value2);
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
        b = get(value2);
        break;
    case TYPE_MONEY: {
        int32_t r = money::compare(value2, value1, op);
        return r == COMPARE_NOT_COMPARABLE ? r : -r;
    }
    default:
        return COMPARE_NOT_COMPARABLE;
    }
    switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
        return almost_equal_q(a, b) ? 0 : 1;
    case COMP_STRICT_EQUAL:
        return a == b ? 0 : 1;
    case COMP_SAME:
        return bits_of(a) == bits_of(b) ? 0 : 1;
    default:
        break;
    }
    // A NaN makes every ordering test answer false.
    if (std::isnan(a) || std::isnan(b)) {
        if (op == COMP_LESSER || op == COMP_LESSER_EQUAL) return 1;
        if (op == COMP_GREATER || op == COMP_GREATER_EQUAL) return -1;
        return 0;
    }
    return (a > b) - (a < b);
}

Cell* absolute() {
    Cell* value = stack::arguments;
    set_float(value, abs(get(value)));
    return value;
}

Cell* add() { return do_math(OP_ADD); }
Cell* subtract() { return do_math(OP_SUB); }
Cell* multiply() { return do_math(OP_MUL); }
Cell* divide() { return do_math(OP_DIV); }
Cell* remainder() { return do_math(OP_REM); }

Cell* negate(Cell* number) {
    set_float(number, 0.0 - get(number));
    return number;
}

Cell* power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    uint32_t type = type_of(exponent);
    if (type != TYPE_INTEGER && type != TYPE_FLOAT) fire_expect_arg(1, type);
    double y = type == TYPE_INTEGER ? get_integer(exponent) : get(exponent);
    set_float(base, std::pow(get(base), y));
    return base;
}

// Rounds value / scale to a whole number, then scales back. Scales below 1
// are applied through their inverse, so that 0.01 rounds 3.14159 to exactly
// 3.14; scales too small to invert lend their power of two to the value.
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    uint32_t type = type_of(n);
    uint32_t scale_type = scale ? type_of(scale) : 0;
    if (scale_type == TYPE_MONEY) {
        Cell word;
        stack::get_call(&word);
        actions::fire_not_related(&word, TYPE_MONEY);
    }
    double value = get(n);
    double sc = type == TYPE_PERCENT ? 0.01 : 1.0;
    if (scale) {
        if (scale_type == TYPE_INTEGER)
            sc = get_integer(scale);
        else if (scale_type == TYPE_FLOAT || scale_type == TYPE_PERCENT || scale_type == TYPE_TIME)
            sc = get(scale);
        else
            fire_with_type(err::invalid_type, scale_type);
        sc = std::fabs(sc);
        if (type == TYPE_PERCENT) sc /= 100.0;
    }
    if (sc == 0.0) return n;
    // Beyond 2^53 times the scale every double is a multiple of it already;
    // none of those fits the integer an integer! scale asks for.
    if (std::fabs(value) * 0x1p-53 > sc) {
        if (scale_type == TYPE_INTEGER) fire(err::overflow);
        return n;
    }

    bool inverse = sc < 1.0;
    int shift = 0;
    double v;
    if (!inverse) {
        v = value / sc;
    } else {
        if (sc < 0x1p-1021) {
            sc = std::frexp(sc, &shift);
            value = std::ldexp(value, -shift);
        }
        sc = 1.0 / sc;
        v = value * sc;
    }

    double a = std::fabs(v);
    auto signed_ = [v](double x) { return v < 0 ? -x : x; };
    double r;
    if (down)
        r = signed_(std::floor(a));
    else if (floor)
        r = std::floor(v);
    else if (ceiling)
        r = std::ceil(v);
    else {
        double below = std::floor(a);
        double half = below + 0.5;
        if (a < half)
            r = signed_(below);
        else if (a > half)
            r = signed_(std::ceil(a));
        else if (even)
            r = signed_(std::fmod(a, 2.0) >= 1.0 ? std::ceil(a) : below);
        else if (half_down)
            r = signed_(below);
        else if (half_ceiling)
            r = std::ceil(v);
        else
            r = signed_(std::ceil(a));
    }

    double result;
    if (!inverse) {
        result = r * sc;
        if (std::fabs(result) == DBL_MAX || (std::isinf(result) && std::isfinite(value)))
            fire(err::overflow);
    } else {
        result = r / sc;
        if (shift) result = std::ldexp(result, shift);
    }

    if (scale_type == TYPE_INTEGER) {
        if (out_of_int_range_q(result)) fire(err::overflow);
        return integer::make_at(n, static_cast<int32_t>(result));
    }
    return make_float(n, result, scale ? scale_type : type);
}

namespace {

// The parity of the value truncated toward zero; the low bit of the
// truncated value taken to 32 bits is that parity, so no conversion is
// needed and no magnitude is out of reach. Infinities and NaN have none.
bool even(const Cell* number) {
    double t = std::trunc(get(number));
    if (!std::isfinite(t)) fire_with_type(err::type_limit, TYPE_INTEGER);
    return std::fmod(t, 2.0) == 0.0;
}

} // namespace

bool even_q(Cell* number) { return even(number); }
bool odd_q(Cell* number) { return !even(number); }

void init() {
    datatype::register_type(TYPE_FLOAT, 0, "float!",
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
                                .set<A_ODD_Q>(&odd_q));
}

} // namespace mox::float_
