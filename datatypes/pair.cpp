// pair!: two 32-bit integers written 10x20.
#include "datatypes/pair.h"

#include <cmath>

#include "core/actions.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/random.h"
#include "core/stack.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"

namespace mox::pair {

namespace {

int32_t x_of(const Cell* p) { return static_cast<int32_t>(p->data2); }
int32_t y_of(const Cell* p) { return static_cast<int32_t>(p->data3); }

// A double truncated toward zero; invalid-arg with the culprit when it is
// NaN, infinite or outside the 32-bit range.
int32_t truncated(double d, const Cell* culprit) {
    double t = std::trunc(d);
    if (float_::out_of_int_range_q(t)) fire(err::invalid_arg, culprit);
    return static_cast<int32_t>(t);
}

int32_t field_of(const Cell* element) {
    if (type_of(element) == TYPE_INTEGER) {
        int32_t i = get_integer(element);
        return i == 1 || i == 2 ? i : 0;
    }
    if (time::word_is(element, words::x)) return 1;
    if (time::word_is(element, words::y)) return 2;
    return 0;
}

// Redoes the operation in point2D! arithmetic on the pair as it was.
Cell* escape(const Cell* original, double rx, double ry, int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    point2D::make_cell(left, static_cast<float>(x_of(original)),
                       static_cast<float>(y_of(original)));
    point2D::make_cell(right, static_cast<float>(rx), static_cast<float>(ry));
    return point2D::do_math(op);
}

// Component-wise through the integer core; a component that is no longer
// an integer sends the whole operation to point2D!.
Cell* integral(int32_t rx, int32_t ry, int32_t op) {
    Cell* left = stack::arguments;
    Cell original = *left;
    Cell cx, cy;
    make_integer(&cx, 0);
    make_integer(&cy, 0);
    integer::do_math_op(x_of(left), rx, op, &cx);
    integer::do_math_op(y_of(left), ry, op, &cy);
    if (type_of(&cx) != TYPE_INTEGER || type_of(&cy) != TYPE_INTEGER)
        return escape(&original, rx, ry, op);
    return make_cell(left, get_integer(&cx), get_integer(&cy));
}

} // namespace

Cell* make_cell(Cell* cell, int32_t x, int32_t y) {
    *cell = Cell{TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    return cell;
}

Cell* push(int32_t x, int32_t y) { return make_cell(stack::push_cell(), x, y); }

Cell* make_in_block(node_t block, int32_t x, int32_t y) {
    return make_cell(memory::alloc_tail(block), x, y);
}

Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    switch (type_of(right)) {
    case TYPE_INTEGER:
        return integral(get_integer(right), get_integer(right), op);
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        double f = get_float(right);
        if (op == OP_MUL || op == OP_DIV) {
            if (std::isnan(f) || (op == OP_MUL && std::isinf(f))) fire(err::invalid_arg, right);
            Cell original = *left;
            float x = static_cast<float>(float_::do_math_op(x_of(&original), f, op));
            float y = static_cast<float>(float_::do_math_op(y_of(&original), f, op));
            return point2D::make_cell(left, x, y);
        }
        int32_t n = truncated(f, right);
        return integral(n, n, op);
    }
    case TYPE_PAIR:
        return integral(x_of(right), y_of(right), op);
    case TYPE_POINT2D:
        point2D::make_cell(left, static_cast<float>(x_of(left)), static_cast<float>(y_of(left)));
        return point2D::do_math(op);
    default:
        time::fire_typed(err::invalid_type, type_of(right));
    }
}

Cell* number_first(int32_t op) {
    Cell* args = stack::arguments;
    uint32_t type = type_of(args + 1);
    Cell number = args[0];
    args[0] = args[1];
    args[1] = number;
    if (op == OP_SUB) {
        if (type == TYPE_PAIR)
            negate(args);
        else
            point2D::negate(args);
        op = OP_ADD;
    }
    if (type == TYPE_PAIR) return do_math(op);
    if (type == TYPE_TUPLE) return tuple::do_math(op);
    return point2D::do_math(op);
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    switch (t) {
    case TYPE_PAIR:
        *proto = *spec;
        return proto;
    case TYPE_INTEGER:
        return make_cell(proto, get_integer(spec), get_integer(spec));
    case TYPE_FLOAT: {
        int32_t n = truncated(get_float(spec), spec);
        return make_cell(proto, n, n);
    }
    case TYPE_POINT2D: {
        int32_t x = truncated(point2D::x_of(spec), spec);
        int32_t y = truncated(point2D::y_of(spec), spec);
        return make_cell(proto, x, y);
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
        if (block::rs_length_q(spec) < 2) fire(err::malconstruct, spec);
        Cell items[2] = {block::rs_head(spec)[0], block::rs_head(spec)[1]};
        int32_t c[2];
        for (int32_t i = 0; i < 2; i++) {
            uint32_t it = type_of(&items[i]);
            if (it == TYPE_INTEGER)
                c[i] = get_integer(&items[i]);
            else if (it == TYPE_FLOAT)
                c[i] = truncated(get_float(&items[i]), &items[i]);
            else
                fire(err::malconstruct, spec);
        }
        return make_cell(proto, c[0], c[1]);
    }
    default:
        if (is_any_string(t)) {
            Cell loaded;
            if (!time::load_text(spec, TYPE_PAIR, &loaded))
                time::fire_typed(err::bad_to_arg, TYPE_PAIR, spec);
            *proto = loaded;
            return proto;
        }
        time::fire_typed(err::bad_to_arg, TYPE_PAIR, spec);
    }
}

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    if (seed) {
        random::seed(value->data2 ^ value->data3);
        return make_unset(value);
    }
    auto draw = [secure](int32_t c) {
        if (c == 0) return 0;
        return secure ? random::rand_int(c, random::secure_rand) : random::rand_int(c);
    };
    int32_t x = draw(x_of(value));
    int32_t y = draw(y_of(value));
    return make_cell(value, x, y);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    char text[32];
    int32_t n = integer::form_signed(x_of(value), text);
    text[n++] = 'x';
    n += integer::form_signed(y_of(value), text + n);
    string::concatenate_literal(buffer, text);
    return limit - n;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    int32_t field = field_of(element);
    if (!field) fire(err::invalid_path, path, element);
    if (!value) return make_integer(stack::push_cell(), field == 1 ? x_of(parent) : y_of(parent));
    if (type_of(value) != TYPE_INTEGER) time::fire_typed(err::invalid_type, type_of(value));
    (field == 1 ? parent->data2 : parent->data3) = value->data2;
    time::store_back(parent, gparent, previous, notify);
    return value;
}

// x decides, then y. Against a point2D! the pair compares as a point.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) == TYPE_POINT2D) {
        Cell point;
        point2D::make_cell(&point, static_cast<float>(x_of(value1)),
                           static_cast<float>(y_of(value1)));
        return point2D::compare(&point, value2, op);
    }
    if (type_of(value2) != TYPE_PAIR) return COMPARE_NOT_COMPARABLE;
    int32_t x1 = x_of(value1), x2 = x_of(value2);
    if (x1 != x2) return x1 < x2 ? -1 : 1;
    int32_t y1 = y_of(value1), y2 = y_of(value2);
    return (y1 > y2) - (y1 < y2);
}

Cell* absolute() {
    Cell* p = stack::arguments;
    return make_cell(p, integer::abs(x_of(p)), integer::abs(y_of(p)));
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
    number->data2 = 0u - number->data2;
    number->data3 = 0u - number->data3;
    return number;
}

// Each component rounds as an integer!; a pair! scale gives each its own.
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    uint32_t st = scale ? type_of(scale) : 0;
    if (st == TYPE_MONEY) {
        Cell word;
        stack::get_call(&word);
        actions::fire_not_related(&word, TYPE_MONEY);
    }
    int32_t out[2];
    for (int32_t i = 0; i < 2; i++) {
        Cell value, sc;
        make_integer(&value, i == 0 ? x_of(n) : y_of(n));
        Cell* s = scale;
        if (st == TYPE_PAIR) s = make_integer(&sc, i == 0 ? x_of(scale) : y_of(scale));
        integer::round(&value, s, even, down, half_down, floor, ceiling, half_ceiling);
        out[i] = type_of(&value) == TYPE_INTEGER ? get_integer(&value)
                                                 : truncated(get_float(&value), &value);
    }
    return make_cell(n, out[0], out[1]);
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    int32_t field = field_of(boxed);
    if (!field) {
        if (is_any_word(type_of(boxed))) fire(err::cannot_use, boxed, value);
        fire(err::out_of_range, boxed);
    }
    return make_integer(stack::push_cell(), field == 1 ? x_of(value) : y_of(value));
}

Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    uint32_t x = series->data2;
    series->data2 = series->data3;
    series->data3 = x;
    return series;
}

void init() {
    datatype::register_type(TYPE_PAIR, 0, "pair!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_RANDOM>(&random)
                                .set<A_TO>(&make)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_EVAL_PATH>(&eval_path)
                                .set<A_COMPARE>(&compare)
                                .set<A_ABSOLUTE>(&absolute)
                                .set<A_ADD>(&add)
                                .set<A_DIVIDE>(&divide)
                                .set<A_MULTIPLY>(&multiply)
                                .set<A_NEGATE>(&negate)
                                .set<A_REMAINDER>(&remainder)
                                .set<A_ROUND>(&round)
                                .set<A_SUBTRACT>(&subtract)
                                .set<A_AND_T>(&and_t)
                                .set<A_OR_T>(&or_t)
                                .set<A_XOR_T>(&xor_t)
                                .set<A_PICK>(&pick)
                                .set<A_REVERSE>(&reverse));
}

} // namespace mox::pair
