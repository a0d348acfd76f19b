// tuple!: 3 to 12 bytes written 1.2.3.
#include "datatypes/tuple.h"

#include <algorithm>
#include <cstring>

#include <cmath>

#include "core/datatype.h"
#include "core/random.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/time.h"

namespace mox::tuple {

Cell* make_cell(Cell* cell, const uint8_t* bytes, int32_t length) {
    int32_t n = std::clamp(length, 0, MAX_LENGTH);
    *cell =
        Cell{TYPE_TUPLE | static_cast<uint32_t>(std::max(n, 3)) << FLAG_TUPLE_SIZE_SHIFT, 0, 0, 0};
    if (n > 0) std::memcpy(&cell->data1, bytes, static_cast<size_t>(n));
    return cell;
}

Cell* push(int32_t length, const uint8_t* bytes) {
    return make_cell(stack::push_cell(), bytes, length);
}

uint32_t to_color(const Cell* t) {
    const uint8_t* b = bytes_of(t);
    uint32_t color = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    return length_of(t) == 3 ? color & 0xFFFFFF : color;
}

bool all_zero_q(const Cell* t) {
    const uint8_t* b = bytes_of(t);
    return std::all_of(b, b + length_of(t), [](uint8_t x) { return x == 0; });
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    char text[MAX_LENGTH * 4 + 1];
    int32_t n = 0;
    const uint8_t* b = bytes_of(value);
    for (int32_t i = 0; i < length_of(value); i++) {
        if (i > 0) text[n++] = '.';
        n += integer::form_signed(b[i], text + n);
    }
    text[n] = '\0';
    string::concatenate_literal(buffer, text);
    return limit - n;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

// Every comparison operator reads the same byte order.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_TUPLE) return COMPARE_NOT_COMPARABLE;
    const uint8_t* a = bytes_of(value1);
    const uint8_t* b = bytes_of(value2);
    int32_t n = std::max(length_of(value1), length_of(value2));
    for (int32_t i = 0; i < n; i++) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

int32_t length_q(Cell* t) { return length_of(t); }

namespace {

uint8_t* mutable_bytes(Cell* t) { return reinterpret_cast<uint8_t*>(&t->data1); }

void set_length(Cell* t, int32_t n) {
    t->header = (t->header & ~FLAG_TUPLE_SIZE_MASK) | static_cast<uint32_t>(n)
                                                          << FLAG_TUPLE_SIZE_SHIFT;
}

// Clamped as a double, so that no out-of-range value reaches a conversion;
// NaN gives 0.
uint8_t clamp_byte(double d) {
    if (!(d > 0)) return 0;
    if (d >= 255) return 255;
    return static_cast<uint8_t>(d);
}

// One byte op an integer through the integer core: an overflow into a float
// saturates.
uint8_t byte_op(int32_t b, int32_t n, int32_t op) {
    if (op == OP_DIV) {
        if (n == 0) fire(err::zero_divide);
        return clamp_byte(b / n);
    }
    Cell r;
    make_integer(&r, 0);
    integer::do_math_op(b, n, op, &r);
    if (type_of(&r) != TYPE_INTEGER) return get_float(&r) > 0 ? 255 : 0;
    return clamp_byte(get_integer(&r));
}

Cell* from_bytes(Cell* out, const uint8_t* bytes, int32_t n) { return make_cell(out, bytes, n); }

Cell* from_issue(Cell* out, const Cell* issue) {
    size_t length;
    const char* name = symbol::name_utf8(issue->data2, &length);
    uint8_t digits[8];
    if (length != 3 && length != 6 && length != 8) fire(err::invalid_data, issue);
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c >= '0' && c <= '9')
            digits[i] = static_cast<uint8_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digits[i] = static_cast<uint8_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digits[i] = static_cast<uint8_t>(c - 'A' + 10);
        else
            fire(err::invalid_data, issue);
    }
    uint8_t bytes[4];
    if (length == 3) {
        for (int i = 0; i < 3; i++) bytes[i] = static_cast<uint8_t>(digits[i] * 17);
        return from_bytes(out, bytes, 3);
    }
    int32_t n = static_cast<int32_t>(length / 2);
    for (int32_t i = 0; i < n; i++)
        bytes[i] = static_cast<uint8_t>(digits[2 * i] << 4 | digits[2 * i + 1]);
    return from_bytes(out, bytes, n);
}

Cell* from_block(Cell* out, Cell* spec) {
    int32_t n = block::rs_length_q(spec);
    if (n > MAX_LENGTH) time::fire_typed(err::bad_to_arg, TYPE_TUPLE, spec);
    uint8_t bytes[MAX_LENGTH];
    const Cell* head = block::rs_head(spec);
    for (int32_t i = 0; i < n; i++) {
        const Cell* v = &head[i];
        double d;
        switch (type_of(v)) {
        case TYPE_INTEGER:
            d = get_integer(v);
            break;
        case TYPE_CHAR:
            d = v->data2;
            break;
        case TYPE_FLOAT:
            d = std::trunc(get_float(v));
            break;
        default:
            d = -1;
        }
        if (!(d >= 0 && d <= 255)) time::fire_typed(err::bad_to_arg, TYPE_TUPLE, spec);
        bytes[i] = static_cast<uint8_t>(d);
    }
    return from_bytes(out, bytes, n);
}

} // namespace

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    switch (t) {
    case TYPE_TUPLE:
        *proto = *spec;
        return proto;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
        return from_block(proto, spec);
    case TYPE_ISSUE:
        return from_issue(proto, spec);
    case TYPE_BINARY: {
        uint32_t count;
        const uint8_t* p = integer::binary_bytes(spec, &count);
        uint8_t bytes[MAX_LENGTH];
        int32_t n = static_cast<int32_t>(std::min<uint32_t>(count, MAX_LENGTH));
        std::memcpy(bytes, p, static_cast<size_t>(n));
        return from_bytes(proto, bytes, n);
    }
    default:
        if (is_any_string(t)) {
            Cell loaded;
            if (!time::load_text(spec, TYPE_TUPLE, &loaded))
                time::fire_typed(err::bad_to_arg, TYPE_TUPLE, spec);
            *proto = loaded;
            return proto;
        }
        time::fire_typed(err::bad_to_arg, TYPE_TUPLE, spec);
    }
}

Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int32_t n = length_of(left);
    uint8_t out[MAX_LENGTH] = {};
    const uint8_t* a = bytes_of(left);
    switch (type_of(right)) {
    case TYPE_INTEGER:
        for (int32_t i = 0; i < n; i++) out[i] = byte_op(a[i], get_integer(right), op);
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
        for (int32_t i = 0; i < n; i++)
            out[i] = clamp_byte(std::trunc(float_::do_math_op(a[i], get_float(right), op)));
        break;
    case TYPE_TUPLE: {
        n = std::max(n, length_of(right));
        const uint8_t* b = bytes_of(right);
        for (int32_t i = 0; i < n; i++) out[i] = byte_op(a[i], b[i], op);
        break;
    }
    default:
        time::fire_typed(err::invalid_type, type_of(right));
    }
    return make_cell(left, out, n);
}

Cell* add() { return do_math(OP_ADD); }
Cell* subtract() { return do_math(OP_SUB); }
Cell* multiply() { return do_math(OP_MUL); }
Cell* divide() { return do_math(OP_DIV); }
Cell* remainder() { return do_math(OP_REM); }
Cell* and_t() { return do_math(OP_AND); }
Cell* or_t() { return do_math(OP_OR); }
Cell* xor_t() { return do_math(OP_XOR); }

Cell* complement(Cell* value) {
    uint8_t* b = mutable_bytes(value);
    for (int32_t i = 0; i < length_of(value); i++) b[i] = static_cast<uint8_t>(255 - b[i]);
    return value;
}

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    if (seed) {
        random::seed(value->data1 ^ value->data2 ^ value->data3);
        return make_unset(value);
    }
    uint8_t* b = mutable_bytes(value);
    for (int32_t i = 0; i < length_of(value); i++) {
        int32_t r =
            secure ? random::rand_int(b[i] + 1, random::secure_rand) : random::rand_int(b[i] + 1);
        b[i] = static_cast<uint8_t>(r - 1);
    }
    return value;
}

// An integer element reads or sets a byte; setting none cuts the tuple
// before it (never below 3 bytes), and setting past the length lengthens it
// with zero bytes.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    if (type_of(element) != TYPE_INTEGER) time::fire_typed(err::invalid_type, type_of(element));
    int32_t index = get_integer(element);
    if (!value) return pick(parent, index, element);
    if (index < 1 || index > MAX_LENGTH) fire(err::out_of_range, element);
    uint8_t* b = mutable_bytes(parent);
    switch (type_of(value)) {
    case TYPE_INTEGER:
        b[index - 1] = clamp_byte(get_integer(value));
        if (index > length_of(parent)) set_length(parent, index);
        break;
    case TYPE_NONE:
        if (index > length_of(parent)) break;
        for (int32_t i = index - 1; i < MAX_LENGTH; i++) b[i] = 0;
        set_length(parent, std::max(index - 1, 3));
        break;
    default:
        time::fire_typed(err::invalid_type, type_of(value));
    }
    time::store_back(parent, gparent, previous, notify);
    return value;
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (index < 1 || index > length_of(value) || type_of(boxed) != TYPE_INTEGER)
        fire(err::out_of_range, boxed);
    return make_integer(stack::push_cell(), bytes_of(value)[index - 1]);
}

// /part limits the run reversed, /skip swaps records of that many bytes.
Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    int32_t n = length_of(series);
    if (part) {
        if (type_of(part) != TYPE_INTEGER) series::fire_refine_arg("part", part);
        if (get_integer(part) < 0) fire(err::out_of_range, part);
        n = std::min(n, get_integer(part));
    }
    int32_t size = 1;
    if (skip) {
        if (type_of(skip) != TYPE_INTEGER) series::fire_refine_arg("skip", skip);
        size = get_integer(skip);
        if (size < 1) fire(err::out_of_range, skip);
        if (size > n || n % size != 0) series::fire_refine_arg("skip", skip);
    }
    uint8_t* b = mutable_bytes(series);
    uint8_t copy[MAX_LENGTH];
    std::memcpy(copy, b, static_cast<size_t>(n));
    int32_t records = n / size;
    for (int32_t r = 0; r < records; r++)
        std::memcpy(b + r * size, copy + (records - 1 - r) * size, static_cast<size_t>(size));
    return series;
}

void init() {
    datatype::register_type(TYPE_TUPLE, 0, "tuple!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_RANDOM>(&random)
                                .set<A_TO>(&make)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_EVAL_PATH>(&eval_path)
                                .set<A_COMPARE>(&compare)
                                .set<A_ADD>(&add)
                                .set<A_DIVIDE>(&divide)
                                .set<A_MULTIPLY>(&multiply)
                                .set<A_REMAINDER>(&remainder)
                                .set<A_SUBTRACT>(&subtract)
                                .set<A_AND_T>(&and_t)
                                .set<A_COMPLEMENT>(&complement)
                                .set<A_OR_T>(&or_t)
                                .set<A_XOR_T>(&xor_t)
                                .set<A_LENGTH_Q>(&length_q)
                                .set<A_PICK>(&pick)
                                .set<A_REVERSE>(&reverse));
}

} // namespace mox::tuple
