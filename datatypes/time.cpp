// time!: seconds as a double, written h:mm:ss with an optional fraction.
// The comparison, absolute, negate and remainder are float!'s.
#include "datatypes/time.h"

#include <cmath>
#include <cstdio>

#include "core/actions.h"
#include "core/context.h"
#include "core/datatype.h"
#include "core/dtoa.h"
#include "core/evaluator-hooks.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"

namespace mox::time {

namespace {

constexpr double SECONDS_PER_HOUR = 3600.0;
constexpr double TOLERANCE = 1e-6;

[[noreturn]] void fire_bad_to(const Cell* spec) { fire_typed(err::bad_to_arg, TYPE_TIME, spec); }

// At most three values: hours and minutes integer!, seconds integer! or
// float!; only the first may be negative, and then negates the whole.
double from_block(Cell* spec) {
    int32_t count = block::rs_length_q(spec);
    if (count > 3) fire_bad_to(spec);
    Cell items[3];
    const Cell* head = block::rs_head(spec);
    for (int32_t i = 0; i < count; i++) items[i] = head[i];
    double parts[3] = {0, 0, 0};
    bool negative = false;
    for (int32_t i = 0; i < count; i++) {
        uint32_t t = type_of(&items[i]);
        double v;
        if (t == TYPE_INTEGER)
            v = get_integer(&items[i]);
        else if (t == TYPE_FLOAT && i == 2)
            v = get_float(&items[i]);
        else
            fire_bad_to(spec);
        if (std::isnan(v)) fire_bad_to(spec);
        if (v < 0) {
            if (i > 0) fire_bad_to(spec);
            negative = true;
            v = -v;
        }
        parts[i] = v;
    }
    double total = parts[0] * SECONDS_PER_HOUR + parts[1] * 60.0 + parts[2];
    return negative ? -total : total;
}

int32_t field_of(const Cell* element) {
    if (type_of(element) == TYPE_INTEGER) {
        int32_t i = get_integer(element);
        return i >= 1 && i <= 3 ? i : 0;
    }
    if (word_is(element, words::hour)) return 1;
    if (word_is(element, words::minute)) return 2;
    if (word_is(element, words::second)) return 3;
    return 0;
}

Cell* get_field(Cell* out, double seconds, int32_t field) {
    switch (field) {
    case 1:
        return make_integer(out, hour_of(seconds));
    case 2:
        return make_integer(out, minute_of(seconds));
    default:
        return make_float(out, second_of(seconds));
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Shared helpers
// ---------------------------------------------------------------------------

void fire_typed(err::Code code, uint32_t type, const Cell* arg2) {
    Cell datatype;
    make_datatype(&datatype, type);
    fire(code, &datatype, arg2);
}

bool word_is(const Cell* element, uint32_t symbol) {
    return is_any_word(type_of(element)) &&
           symbol::resolve(element->data2) == symbol::resolve(symbol);
}

bool load_text(Cell* spec, uint32_t type, Cell* out) {
    Cell* holder = stack::push_cell();
    make_none(holder);
    Cell* v = evaluator::load_value(spec, holder);
    bool ok =
        type_of(holder) == TYPE_BLOCK && block::rs_length_q(holder) == 1 && type_of(v) == type;
    if (ok) *out = *v;
    stack::top = holder;
    return ok;
}

Cell* system_field(const uint32_t* symbols, int32_t count) {
    if (!context::global || !words::system) return nullptr;
    Cell* v = context::symbol_value(context::global, words::system);
    for (int32_t i = 0; i < count; i++) {
        if (!v || type_of(v) != TYPE_OBJECT) return nullptr;
        int32_t index = object::find_field(v->data1, symbols[i]);
        if (index < 0) return nullptr;
        v = context::value_ptr(v->data1, index);
    }
    return v;
}

void store_back(Cell* value, Cell* gparent, Cell* previous, bool notify) {
    if (!gparent || !previous) return;
    uint32_t gt = type_of(gparent), pt = type_of(previous);
    if (gt == TYPE_OBJECT && is_any_word(pt)) {
        node_t ctx = gparent->data1;
        int32_t index = context::find_word(ctx, previous->data2, false);
        if (index < 0) return;
        Cell w = *previous;
        w.header = TYPE_WORD;
        w.data1 = ctx;
        w.data3 = static_cast<uint32_t>(index);
        context::set_in(&w, value, ctx, notify);
    } else if (gt == TYPE_NONE && is_any_word(pt)) {
        Cell w = *previous;
        w.header = TYPE_WORD;
        if (w.data1) context::set_in(&w, value, w.data1, false);
    } else if (is_any_block(gt) && pt == TYPE_INTEGER) {
        Cell v = *value;
        series::poke(gparent, get_integer(previous), &v, previous);
    }
}

// ---------------------------------------------------------------------------
// Cells and fields
// ---------------------------------------------------------------------------

Cell* box(Cell* cell, double seconds) {
    set_type(cell, TYPE_TIME);
    cell->data1 = 0;
    set_float(cell, seconds);
    return cell;
}

Cell* push(double seconds) { return make_float(stack::push_cell(), seconds, TYPE_TIME); }

Cell* make_in_block(node_t block, double seconds) {
    return make_float(memory::alloc_tail(block), seconds, TYPE_TIME);
}

int32_t hour_of(double seconds) {
    double h = std::trunc(seconds / SECONDS_PER_HOUR);
    if (float_::out_of_int_range_q(h)) fire_typed(err::type_limit, TYPE_INTEGER);
    return static_cast<int32_t>(h);
}

int32_t minute_of(double seconds) {
    double m = std::floor(std::fmod(std::fabs(seconds), SECONDS_PER_HOUR) / 60.0);
    return std::isnan(m) ? 0 : static_cast<int32_t>(m);
}

double second_of(double seconds) { return std::fmod(seconds, 60.0); }

double set_field(double seconds, int32_t field, double v) {
    bool negative = seconds < 0 || v < 0;
    double m = std::fabs(seconds);
    double a = std::fabs(v);
    switch (field) {
    case 1:
        m = m - std::floor(m / SECONDS_PER_HOUR) * SECONDS_PER_HOUR + a * SECONDS_PER_HOUR;
        break;
    case 2:
        m = m - (std::floor(std::fmod(m, SECONDS_PER_HOUR) / 60.0) - a) * 60.0;
        break;
    default:
        m = m - std::fmod(m, 60.0) + a;
        break;
    }
    return negative ? -m : m;
}

// The seconds keep six significant digits. A fraction that rounds up to a
// whole minute (59.9999999) carries into the minutes instead of printing as
// ":60". Hours too large for an integer keep their double digits.
int32_t form_seconds(double seconds, Cell* buffer, int32_t limit) {
    char text[dtoa::FORM_SIZE + 400];
    int n = 0;
    if (std::isnan(seconds) || std::isinf(seconds)) {
        char digits[float_::TEXT_SIZE];
        float_::form_float(seconds, float_::KIND_FLOAT, digits);
        n = std::snprintf(text, sizeof text, "%s:00:00", digits);
        string::concatenate_literal(buffer, text);
        return limit - n;
    }
    if (seconds < 0) {
        text[n++] = '-';
        seconds = -seconds;
    }
    char digits[float_::TEXT_SIZE];
    double s = std::fmod(seconds, 60.0);
    // Whole seconds need no float text.
    bool whole = s == std::floor(s);
    int length = whole ? 0 : float_::form_float(s, float_::KIND_TIME, digits);
    if (!whole && s >= TOLERANCE && digits[0] == '6' && digits[1] == '0' &&
        (length == 2 || digits[2] == '.')) {
        seconds = std::ceil(seconds);
        s = std::fmod(seconds, 60.0);
        whole = true;
    }
    double hours = std::floor(seconds / SECONDS_PER_HOUR);
    int minutes = static_cast<int>(std::floor(std::fmod(seconds, SECONDS_PER_HOUR) / 60.0));
    if (hours < 1e9) {
        char reversed[12];
        int k = 0;
        for (auto h = static_cast<uint32_t>(hours); k == 0 || h; h /= 10)
            reversed[k++] = static_cast<char>('0' + h % 10);
        while (k) text[n++] = reversed[--k];
        text[n++] = ':';
        text[n++] = static_cast<char>('0' + minutes / 10);
        text[n++] = static_cast<char>('0' + minutes % 10);
        text[n++] = ':';
    } else {
        n += std::snprintf(text + n, 360, "%.0f:%02d:", hours, minutes);
    }
    if (whole) {
        auto w = static_cast<int>(s);
        text[n++] = static_cast<char>('0' + w / 10);
        text[n++] = static_cast<char>('0' + w % 10);
        text[n] = '\0';
    } else if (s < TOLERANCE) {
        text[n++] = '0';
        text[n++] = '0';
        text[n] = '\0';
    } else {
        if (length == 1 || digits[1] == '.') text[n++] = '0';
        std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "%s", digits);
        n += length;
    }
    string::concatenate_literal(buffer, text);
    return limit - n;
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

// make and to alike; the prototype only receives the result.
Cell* make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    double seconds;
    if (is_any_string(t)) {
        Cell loaded;
        if (!load_text(spec, TYPE_TIME, &loaded)) fire_bad_to(spec);
        seconds = get_float(&loaded);
    } else {
        switch (t) {
        case TYPE_TIME:
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            seconds = get_float(spec);
            break;
        case TYPE_INTEGER:
            seconds = get_integer(spec);
            break;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            seconds = from_block(spec);
            break;
        default:
            fire_bad_to(spec);
        }
    }
    *proto = Cell{TYPE_TIME, 0, 0, 0};
    set_float(proto, seconds);
    return proto;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    return form_seconds(get_float(value), buffer, limit);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    int32_t field = field_of(element);
    if (!field) fire(err::invalid_path, path, element);
    if (!value) return get_field(stack::push_cell(), get_float(parent), field);
    uint32_t vt = type_of(value);
    double v;
    if (vt == TYPE_INTEGER)
        v = get_integer(value);
    else if (vt == TYPE_FLOAT && field == 3)
        v = get_float(value);
    else
        fire(err::invalid_arg, value);
    set_float(parent, set_field(get_float(parent), field, v));
    store_back(parent, gparent, previous, notify);
    return value;
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    int32_t field = field_of(boxed);
    if (!field) {
        if (is_any_word(type_of(boxed))) fire(err::cannot_use, boxed, value);
        fire(err::out_of_range, boxed);
    }
    return get_field(stack::push_cell(), get_float(value), field);
}

// time + date moves the date by the time.
Cell* add() {
    Cell* args = stack::arguments;
    if (type_of(args + 1) == TYPE_DATE) {
        Cell t = args[0];
        args[0] = args[1];
        args[1] = t;
        return date::add();
    }
    return float_::do_math(OP_ADD);
}

Cell* subtract() {
    if (type_of(stack::arguments + 1) == TYPE_DATE)
        actions::fire_not_related(&words::global::subtract, TYPE_TIME);
    return float_::do_math(OP_SUB);
}

Cell* multiply() {
    if (type_of(stack::arguments + 1) == TYPE_TIME)
        actions::fire_not_related(&words::global::multiply, TYPE_TIME);
    return float_::do_math(OP_MUL);
}

// A time divided by a time is their ratio.
Cell* divide() {
    bool ratio = type_of(stack::arguments + 1) == TYPE_TIME;
    Cell* result = float_::do_math(OP_DIV);
    if (ratio) set_type(result, TYPE_FLOAT);
    return result;
}

Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    float_::round(n, scale, even, down, half_down, floor, ceiling, half_ceiling);
    double seconds = type_of(n) == TYPE_INTEGER ? get_integer(n) : get_float(n);
    return make_float(n, seconds, TYPE_TIME);
}

namespace {

bool even_seconds(const Cell* number) {
    double s = get_float(number);
    double x = s < 0 ? s - TOLERANCE : s + TOLERANCE;
    double whole = std::trunc(std::fmod(x, 60.0));
    if (std::isnan(whole)) fire_typed(err::type_limit, TYPE_INTEGER);
    return std::fmod(whole, 2.0) == 0.0;
}

} // namespace

bool even_q(Cell* number) { return even_seconds(number); }
bool odd_q(Cell* number) { return !even_seconds(number); }

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::none();
    slots.set<A_MAKE>(&make)
        .set<A_TO>(&make)
        .set<A_FORM>(&form)
        .set<A_MOLD>(&mold)
        .set<A_EVAL_PATH>(&eval_path)
        .set<A_ADD>(&add)
        .set<A_DIVIDE>(&divide)
        .set<A_MULTIPLY>(&multiply)
        .set<A_ROUND>(&round)
        .set<A_SUBTRACT>(&subtract)
        .set<A_EVEN_Q>(&even_q)
        .set<A_ODD_Q>(&odd_q)
        .set<A_PICK>(&pick);
    for (Action a : {A_RANDOM, A_COMPARE, A_ABSOLUTE, A_NEGATE, A_REMAINDER})
        slots.slot[a - 1] = datatype::INHERIT;
    datatype::register_type(TYPE_TIME, TYPE_FLOAT, "time!", slots);
}

} // namespace mox::time
