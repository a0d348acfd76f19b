// point2D!: two 32-bit float coordinates written (x, y).
#include "datatypes/point2d.h"

#include <cmath>

#include "core/actions.h"
#include "core/datatype.h"
#include "core/hashtable.h"
#include "core/random.h"
#include "core/stack.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/time.h"

namespace mox::point2D {

namespace {

uint32_t bits_of(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

int32_t count_of(const Cell* p) { return type_of(p) == TYPE_POINT3D ? 3 : 2; }

uint32_t* word_of(Cell* p, int32_t i) {
    return i == 0 ? &p->data1 : i == 1 ? &p->data2 : &p->data3;
}

int32_t field_of(const Cell* element, int32_t count) {
    if (type_of(element) == TYPE_INTEGER) {
        int32_t i = get_integer(element);
        return i >= 1 && i <= count ? i : 0;
    }
    if (time::word_is(element, words::x)) return 1;
    if (time::word_is(element, words::y)) return 2;
    if (count == 3 && time::word_is(element, words::z)) return 3;
    return 0;
}

double number_of(const Cell* v) {
    return type_of(v) == TYPE_INTEGER ? get_integer(v) : get_float(v);
}

bool number_q(const Cell* v) { return type_of(v) == TYPE_INTEGER || type_of(v) == TYPE_FLOAT; }

} // namespace

Cell* make_cell(Cell* cell, float x, float y) {
    *cell = Cell{TYPE_POINT2D, bits_of(x), bits_of(y), 0};
    return cell;
}

Cell* push(float x, float y) { return make_cell(stack::push_cell(), x, y); }

float component(const Cell* p, int32_t i) {
    uint32_t w = i == 0 ? p->data1 : i == 1 ? p->data2 : p->data3;
    float f;
    std::memcpy(&f, &w, sizeof f);
    return f;
}

void set_component(Cell* p, int32_t i, float f) { *word_of(p, i) = bits_of(f); }

int32_t form_component(float f, Cell* buffer) {
    char text[float_::TEXT_SIZE];
    int length = float_::form_float(static_cast<double>(f), float_::KIND_POINT, text);
    string::concatenate_literal(buffer, text);
    return length;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    string::append_char(buffer, '(');
    int32_t n = form_component(x_of(value), buffer);
    string::concatenate_literal(buffer, ", ");
    n += form_component(y_of(value), buffer);
    string::append_char(buffer, ')');
    return limit - n - 4;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

// Equality is tolerant, strict equality exact, sameness bitwise; ordering
// goes by x unless the x components are almost equal, then by y. A pair!
// compares as the point of its coordinates.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    Cell other;
    if (type_of(value2) == TYPE_PAIR) {
        make_cell(&other, static_cast<float>(static_cast<int32_t>(value2->data2)),
                  static_cast<float>(static_cast<int32_t>(value2->data3)));
        value2 = &other;
    }
    if (type_of(value2) != TYPE_POINT2D) return COMPARE_NOT_COMPARABLE;
    float a[2] = {x_of(value1), y_of(value1)};
    float b[2] = {x_of(value2), y_of(value2)};
    switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_FIND:
        return float_::almost_equal32_q(a[0], b[0]) && float_::almost_equal32_q(a[1], b[1]) ? 0 : 1;
    case COMP_STRICT_EQUAL:
        return a[0] == b[0] && a[1] == b[1] ? 0 : 1;
    case COMP_SAME:
        return value1->data1 == value2->data1 && value1->data2 == value2->data2 ? 0 : 1;
    default: {
        int i = float_::almost_equal32_q(a[0], b[0]) ? 1 : 0;
        double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        return (d > 0) - (d < 0);
    }
    }
}

// ---------------------------------------------------------------------------
// Actions shared with point3D!
// ---------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t target = static_cast<uint32_t>(type);
    int32_t count = target == TYPE_POINT3D ? 3 : 2;
    uint32_t t = type_of(spec);
    float c[3] = {0, 0, 0};
    if (t == target) {
        *proto = *spec;
        return proto;
    }
    switch (t) {
    case TYPE_INTEGER:
    case TYPE_FLOAT:
        c[0] = c[1] = c[2] = static_cast<float>(number_of(spec));
        break;
    case TYPE_PAIR:
        c[0] = static_cast<float>(static_cast<int32_t>(spec->data2));
        c[1] = static_cast<float>(static_cast<int32_t>(spec->data3));
        break;
    case TYPE_POINT2D:
        if (count == 2) time::fire_typed(err::bad_to_arg, target, spec);
        c[0] = component(spec, 0);
        c[1] = component(spec, 1);
        break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
        int32_t n = block::rs_length_q(spec);
        if (n < count) fire(err::malconstruct, spec);
        const Cell* head = block::rs_head(spec);
        for (int32_t i = 0; i < count; i++) {
            if (!number_q(&head[i])) fire(err::malconstruct, spec);
            c[i] = static_cast<float>(number_of(&head[i]));
        }
        break;
    }
    default:
        if (is_any_string(t)) {
            Cell loaded;
            if (!time::load_text(spec, target, &loaded))
                time::fire_typed(err::bad_to_arg, target, spec);
            *proto = loaded;
            return proto;
        }
        time::fire_typed(err::bad_to_arg, target, spec);
    }
    *proto = Cell{target, 0, 0, 0};
    for (int32_t i = 0; i < count; i++) set_component(proto, i, c[i]);
    return proto;
}

// A pair! operand serves a point2D! only.
Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int32_t count = count_of(left);
    uint32_t rt = type_of(right);
    double r[3];
    switch (rt) {
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_PERCENT:
        r[0] = r[1] = r[2] = number_of(right);
        break;
    case TYPE_PAIR:
        if (count == 3) time::fire_typed(err::invalid_type, rt);
        r[0] = static_cast<int32_t>(right->data2);
        r[1] = static_cast<int32_t>(right->data3);
        break;
    default:
        if (rt != type_of(left)) time::fire_typed(err::invalid_type, rt);
        for (int32_t i = 0; i < count; i++) r[i] = component(right, i);
    }
    float out[3];
    for (int32_t i = 0; i < count; i++)
        out[i] = static_cast<float>(float_::do_math_op(component(left, i), r[i], op));
    for (int32_t i = 0; i < count; i++) set_component(left, i, out[i]);
    return left;
}

Cell* absolute() {
    Cell* p = stack::arguments;
    for (int32_t i = 0; i < count_of(p); i++) set_component(p, i, std::fabs(component(p, i)));
    return p;
}

Cell* add() { return do_math(OP_ADD); }
Cell* subtract() { return do_math(OP_SUB); }
Cell* multiply() { return do_math(OP_MUL); }
Cell* divide() { return do_math(OP_DIV); }
Cell* remainder() { return do_math(OP_REM); }

Cell* negate(Cell* number) {
    for (int32_t i = 0; i < count_of(number); i++)
        set_component(number, i, 0.0f - component(number, i));
    return number;
}

// point2D! swaps x and y, point3D! x and z.
Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    int32_t last = count_of(series) - 1;
    float x = component(series, 0);
    set_component(series, 0, component(series, last));
    set_component(series, last, x);
    return series;
}

// Each component rounds as a float!; a pair! or point scale gives each
// component its own scale.
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    int32_t count = count_of(n);
    uint32_t st = scale ? type_of(scale) : 0;
    if (st == TYPE_MONEY) {
        Cell word;
        stack::get_call(&word);
        actions::fire_not_related(&word, TYPE_MONEY);
    }
    float out[3];
    for (int32_t i = 0; i < count; i++) {
        Cell value, sc;
        make_float(&value, component(n, i));
        Cell* s = scale;
        if (st == TYPE_PAIR) {
            s = make_integer(&sc, static_cast<int32_t>(i == 0 ? scale->data2 : scale->data3));
            if (i == 2) s = nullptr;
        } else if (st == TYPE_POINT2D || st == TYPE_POINT3D) {
            s = i < count_of(scale) ? make_float(&sc, component(scale, i)) : nullptr;
        }
        float_::round(&value, s, even, down, half_down, floor, ceiling, half_ceiling);
        out[i] = static_cast<float>(type_of(&value) == TYPE_INTEGER ? get_integer(&value)
                                                                    : get_float(&value));
    }
    for (int32_t i = 0; i < count; i++) set_component(n, i, out[i]);
    return n;
}

// /seed hashes the component bytes.
Cell* random(Cell* value, bool seed, bool secure, bool only) {
    int32_t count = count_of(value);
    if (seed) {
        uint32_t bytes[3] = {value->data1, value->data2, value->data3};
        random::seed(hashtable::murmur3(bytes, static_cast<size_t>(count) * 4));
        return make_unset(value);
    }
    for (int32_t i = 0; i < count; i++) {
        float c = component(value, i);
        if (c != 0) set_component(value, i, static_cast<float>(float_::random_scaled(c, secure)));
    }
    return value;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    int32_t field = field_of(element, count_of(parent));
    if (!field) fire(err::invalid_path, path, element);
    if (!value) return make_float(stack::push_cell(), component(parent, field - 1));
    if (!number_q(value)) time::fire_typed(err::invalid_type, type_of(value));
    set_component(parent, field - 1, static_cast<float>(number_of(value)));
    time::store_back(parent, gparent, previous, notify);
    return value;
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    int32_t field = field_of(boxed, count_of(value));
    if (!field) {
        if (is_any_word(type_of(boxed))) fire(err::cannot_use, boxed, value);
        fire(err::out_of_range, boxed);
    }
    return make_float(stack::push_cell(), component(value, field - 1));
}

void init() {
    datatype::register_type(TYPE_POINT2D, 0, "point2D!",
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
                                .set<A_PICK>(&pick)
                                .set<A_REVERSE>(&reverse));
}

} // namespace mox::point2D
