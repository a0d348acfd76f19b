// The math natives: sign tests, max and min, shift, to-hex, trigonometry in
// degrees or radians, logarithms and roots, and the constructors of pairs,
// points and money. Every body works in place: the first argument cell is
// rewritten into the result.
//
// Every conversion of a double to a 32-bit integer goes through a range test
// first: a cast of an out-of-range or non-finite double is undefined in C++,
// and these natives see user numbers of any size.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "core/actions.h"
#include "core/context.h"
#include "core/datatype.h"
#include "core/dtoa.h"
#include "core/natives.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/tuple.h"
#include "evaluator/natives-math.h"

namespace mox::natives {

namespace {

constexpr double EPSILON = 2.220446049250313e-16;
constexpr double LN2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;
constexpr double PI = 3.141592653589793;

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

bool int32_range_q(double d) { return d >= -2147483648.0 && d < 2147483648.0; }

// The double of an integer!, float!, percent! or time! cell.
double scalar_as_float(const Cell* c) {
    return type_of(c) == TYPE_INTEGER ? static_cast<double>(get_integer(c)) : get_float(c);
}

// A double rounded to single precision; magnitudes beyond the float range
// become infinities explicitly rather than through an undefined cast.
float to_f32(double d) {
    if (std::isfinite(d) && std::fabs(d) > static_cast<double>(FLT_MAX))
        return d > 0 ? INFINITY : -INFINITY;
    return static_cast<float>(d);
}

// Component i of a point: the 32-bit float in payload word i + 1.
float f32_of(const Cell* c, int32_t i) {
    float f;
    std::memcpy(&f, reinterpret_cast<const char*>(c) + 4 * (i + 1), sizeof f);
    return f;
}

void set_f32(Cell* c, int32_t i, float f) {
    std::memcpy(reinterpret_cast<char*>(c) + 4 * (i + 1), &f, sizeof f);
}

// Makes the arguments cell a float!: integers converted, percents relabelled.
double to_float(Cell* c) {
    double d = scalar_as_float(c);
    make_float(c, d);
    return d;
}

// An integer! as it is; a float! truncated toward zero when it fits 32 bits,
// else type-limit naming integer!.
int32_t to_int_strict(const Cell* c) {
    if (type_of(c) == TYPE_INTEGER) return get_integer(c);
    double d = get_float(c);
    if (!int32_range_q(d)) {
        Cell dt;
        make_datatype(&dt, TYPE_INTEGER);
        fire(err::type_limit, &dt);
    }
    return static_cast<int32_t>(d);
}

double to_radians(Cell* c, bool radians, int mode) {
    double d = to_float(c);
    return radians ? d : normalize_angle(d, mode);
}

// ---------------------------------------------------------------------------
// Sign tests
// ---------------------------------------------------------------------------

// -1, 0 or 1 for the first argument; NaN gives 0.
int32_t sign_of(const Cell* c) {
    switch (type_of(c)) {
    case TYPE_INTEGER: {
        int32_t i = get_integer(c);
        return (i > 0) - (i < 0);
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
        double d = get_float(c);
        return (d > 0.0) - (d < 0.0);
    }
    case TYPE_MONEY:
        return money::sign_q(c);
    default:
        fire_expect_arg(0, type_of(c));
    }
}

void negative_q_star() {
    Cell* a = stack::arguments;
    make_logic(a, sign_of(a) < 0);
}

void positive_q_star() {
    Cell* a = stack::arguments;
    make_logic(a, sign_of(a) > 0);
}

void sign_q_star() {
    Cell* a = stack::arguments;
    make_integer(a, sign_of(a));
}

void zero_q_star() {
    Cell* a = stack::arguments;
    bool zero;
    switch (type_of(a)) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
        zero = a->data2 == 0;
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
        zero = get_float(a) == 0.0;
        break;
    case TYPE_PAIR:
        zero = a->data2 == 0 && a->data3 == 0;
        break;
    case TYPE_TUPLE:
        zero = tuple::all_zero_q(a);
        break;
    case TYPE_MONEY:
        zero = money::zero_q(a);
        break;
    case TYPE_POINT2D:
        zero = f32_of(a, 0) == 0.0f && f32_of(a, 1) == 0.0f;
        break;
    case TYPE_POINT3D:
        zero = f32_of(a, 0) == 0.0f && f32_of(a, 1) == 0.0f && f32_of(a, 2) == 0.0f;
        break;
    default:
        zero = false;
        break;
    }
    make_logic(a, zero);
}

// An integer's payload holds no double: it is never NaN.
void nan_q_star() {
    Cell* a = stack::arguments;
    make_logic(a, type_of(a) != TYPE_INTEGER && std::isnan(get_float(a)));
}

// ---------------------------------------------------------------------------
// max and min
// ---------------------------------------------------------------------------

bool nan_number_q(const Cell* c) {
    uint32_t t = type_of(c);
    return (t == TYPE_FLOAT || t == TYPE_PERCENT) && std::isnan(get_float(c));
}

bool number_q(const Cell* c) {
    uint32_t t = type_of(c);
    return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT;
}

bool compound_q(const Cell* c) {
    uint32_t t = type_of(c);
    return t == TYPE_PAIR || t == TYPE_POINT2D || t == TYPE_POINT3D || t == TYPE_TUPLE;
}

int32_t pick_int(int32_t a, int32_t b, bool max) { return max ? (a < b ? b : a) : (b < a ? b : a); }

// A NaN in the second place always wins.
float pick_f32(float a, float b, bool max) {
    if (std::isnan(b)) return b;
    return max ? (a < b ? b : a) : (b < a ? b : a);
}

// The components of v as floats (a pair's integers converted).
void components_of(const Cell* v, float* out, int32_t n) {
    if (type_of(v) == TYPE_PAIR) {
        out[0] = static_cast<float>(static_cast<int32_t>(v->data2));
        out[1] = static_cast<float>(static_cast<int32_t>(v->data3));
        out[2] = 0.0f;
        return;
    }
    for (int32_t i = 0; i < n; i++) out[i] = f32_of(v, i);
}

// Component by component on a point of n components; returns false when
// the second value is not a scalar or a compatible compound.
bool point_max_min(Cell* v1, const Cell* v2, int32_t n, bool max) {
    float other[3];
    uint32_t t2 = type_of(v2);
    if (t2 == TYPE_INTEGER || t2 == TYPE_FLOAT) {
        float s = to_f32(scalar_as_float(v2));
        other[0] = other[1] = other[2] = s;
    } else if ((n == 2 && (t2 == TYPE_PAIR || t2 == TYPE_POINT2D)) ||
               (n == 3 && t2 == TYPE_POINT3D)) {
        components_of(v2, other, n);
    } else {
        return false;
    }
    for (int32_t i = 0; i < n; i++) set_f32(v1, i, pick_f32(f32_of(v1, i), other[i], max));
    return true;
}

bool pair_max_min(Cell* v1, Cell* v2, bool max) {
    switch (type_of(v2)) {
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
        if (type_of(v2) == TYPE_FLOAT && !int32_range_q(get_float(v2))) {
            float f = to_f32(get_float(v2));
            point2D::make_cell(v2, f, f);
            return pair_max_min(v1, v2, max);
        }
        int32_t n = to_int_strict(v2);
        pair::make_cell(v1, pick_int(static_cast<int32_t>(v1->data2), n, max),
                        pick_int(static_cast<int32_t>(v1->data3), n, max));
        return true;
    }
    case TYPE_PAIR:
        pair::make_cell(
            v1, pick_int(static_cast<int32_t>(v1->data2), static_cast<int32_t>(v2->data2), max),
            pick_int(static_cast<int32_t>(v1->data3), static_cast<int32_t>(v2->data3), max));
        return true;
    case TYPE_POINT2D: {
        float c[3];
        components_of(v1, c, 2);
        point2D::make_cell(v1, c[0], c[1]);
        return point_max_min(v1, v2, 2, max);
    }
    default:
        return false;
    }
}

bool tuple_max_min(Cell* v1, const Cell* v2, bool max) {
    uint8_t bytes[12];
    int32_t n = tuple::length_of(v1);
    std::memcpy(bytes, tuple::bytes_of(v1), static_cast<size_t>(n));
    uint32_t t2 = type_of(v2);
    if (t2 == TYPE_INTEGER || t2 == TYPE_FLOAT) {
        int32_t s = to_int_strict(v2);
        s = s < 0 ? 0 : s > 255 ? 255 : s;
        for (int32_t i = 0; i < n; i++) bytes[i] = static_cast<uint8_t>(pick_int(bytes[i], s, max));
    } else if (t2 == TYPE_TUPLE && tuple::length_of(v2) == n) {
        const uint8_t* other = tuple::bytes_of(v2);
        for (int32_t i = 0; i < n; i++)
            bytes[i] = static_cast<uint8_t>(pick_int(bytes[i], other[i], max));
    } else {
        return false;
    }
    tuple::make_cell(v1, bytes, n);
    return true;
}

void max_min(bool max) {
    Cell* v1 = stack::arguments;
    Cell* v2 = v1 + 1;
    if (nan_number_q(v1) && number_q(v2)) return;
    if (nan_number_q(v2) && number_q(v1)) {
        *v1 = *v2;
        return;
    }
    if (compound_q(v2) && (type_of(v1) == TYPE_INTEGER || type_of(v1) == TYPE_FLOAT))
        std::swap(*v1, *v2);
    bool done = false;
    switch (type_of(v1)) {
    case TYPE_PAIR:
        done = pair_max_min(v1, v2, max);
        break;
    case TYPE_POINT2D:
        done = point_max_min(v1, v2, 2, max);
        break;
    case TYPE_POINT3D:
        done = point_max_min(v1, v2, 3, max);
        break;
    case TYPE_TUPLE:
        done = tuple_max_min(v1, v2, max);
        break;
    default:
        break;
    }
    if (done) return;
    bool lesser = actions::compare_star(v1, v2, COMP_LESSER);
    if (lesser == max) *v1 = *v2;
}

void max_star() { max_min(true); }
void min_star() { max_min(false); }

// ---------------------------------------------------------------------------
// Bits and hexadecimal text
// ---------------------------------------------------------------------------

// Refinement order: /left, /logical.
void shift_star(int32_t left, int32_t logical) {
    Cell* a = stack::arguments;
    int32_t data = get_integer(a);
    int32_t bits = get_integer(a + 1);
    if (bits < 0) bits = 0;
    int32_t result;
    if (left >= 0) {
        result = bits < 32 ? static_cast<int32_t>(static_cast<uint32_t>(data) << bits) : 0;
    } else if (logical >= 0) {
        result = bits < 32 ? static_cast<int32_t>(static_cast<uint32_t>(data) >> bits) : 0;
    } else {
        result = bits < 32 ? data >> bits : (data < 0 ? -1 : 0);
    }
    make_integer(a, result);
}

// Refinement order: /size length.
void to_hex_star(int32_t size) {
    Cell* a = stack::arguments;
    static const char digits[] = "0123456789ABCDEF";
    char text[8];
    for (int i = 0; i < 8; i++)
        text[i] = digits[(static_cast<uint32_t>(get_integer(a)) >> (28 - 4 * i)) & 15];
    int32_t keep = 8;
    if (size >= 0) {
        const Cell* length = a + size;
        if (get_integer(length) <= 0) fire(err::invalid_arg, length);
        if (get_integer(length) < 8) keep = get_integer(length);
    }
    uint32_t sym = symbol::make_sized(text + 8 - keep, static_cast<size_t>(keep));
    *a = Cell{TYPE_ISSUE, context::global, sym, static_cast<uint32_t>(-1)};
}

// ---------------------------------------------------------------------------
// Trigonometry
// ---------------------------------------------------------------------------

double cut_tiny(double d) { return std::fabs(d) < EPSILON ? 0.0 : d; }

// Refinement order: /radians (for every trigonometric native).
void sine_star(int32_t radians) {
    Cell* a = stack::arguments;
    make_float(a, cut_tiny(std::sin(to_radians(a, radians >= 0, 2))));
}

void cosine_star(int32_t radians) {
    Cell* a = stack::arguments;
    make_float(a, cut_tiny(std::cos(to_radians(a, radians >= 0, 1))));
}

void tangent_star(int32_t radians) {
    Cell* a = stack::arguments;
    double r = to_radians(a, radians >= 0, 0);
    double t = r == PI / 2 ? INFINITY : r == -PI / 2 ? -INFINITY : std::tan(r);
    make_float(a, t);
}

template <double (*Fn)(double)> void arc_star(int32_t radians) {
    Cell* a = stack::arguments;
    double r = Fn(to_float(a));
    make_float(a, radians >= 0 ? r : r * 180.0 / PI);
}

void arctangent2_star(int32_t radians) {
    Cell* a = stack::arguments;
    double r = std::atan2(scalar_as_float(a), scalar_as_float(a + 1));
    make_float(a, radians >= 0 ? r : r * 180.0 / PI);
}

// ---------------------------------------------------------------------------
// Logarithms and roots: domain errors give NaN or infinities, not errors.
// ---------------------------------------------------------------------------

double log2_of(double x) { return std::log(x) / LN2; }
double log10_of(double x) { return std::log10(x); }
double ln_of(double x) { return std::log(x); }
double exp_of(double x) { return std::pow(E, x); }
double sqrt_of(double x) { return std::sqrt(x); }
double asin_of(double x) { return std::asin(x); }
double acos_of(double x) { return std::acos(x); }
double atan_of(double x) { return std::atan(x); }

template <double (*Fn)(double)> void float_fn_star() {
    Cell* a = stack::arguments;
    make_float(a, Fn(to_float(a)));
}

// ---------------------------------------------------------------------------
// Constructors
// ---------------------------------------------------------------------------

// Truncated toward zero; a float that cannot be a 32-bit integer raises
// invalid-arg with itself.
int32_t pair_component(const Cell* c) {
    if (type_of(c) == TYPE_INTEGER) return get_integer(c);
    double d = get_float(c);
    if (!int32_range_q(d)) fire(err::invalid_arg, c);
    return static_cast<int32_t>(d);
}

void as_pair_star() {
    Cell* a = stack::arguments;
    int32_t x = pair_component(a);
    int32_t y = pair_component(a + 1);
    pair::make_cell(a, x, y);
}

void as_point2d_star() {
    Cell* a = stack::arguments;
    point2D::make_cell(a, to_f32(scalar_as_float(a)), to_f32(scalar_as_float(a + 1)));
}

void as_point3d_star() {
    Cell* a = stack::arguments;
    point3D::make_cell(a, to_f32(scalar_as_float(a)), to_f32(scalar_as_float(a + 1)),
                       to_f32(scalar_as_float(a + 2)));
}

// The currency is the index of the word's code in the currency list, kept
// in byte 4 of the money! cell.
void as_money_star() {
    Cell* a = stack::arguments;
    size_t length;
    const char* name = symbol::name_utf8(a->data2, &length);
    const int32_t currency =
        money::find_currency(reinterpret_cast<const uint8_t*>(name), static_cast<int32_t>(length));
    if (currency < 0) fire(err::bad_denom, a);
    Cell result;
    if (type_of(a + 1) == TYPE_INTEGER)
        money::from_integer(&result, get_integer(a + 1));
    else
        money::from_float(&result, get_float(a + 1), false);
    reinterpret_cast<uint8_t*>(&result)[4] = static_cast<uint8_t>(currency);
    *a = result;
}

} // namespace

void register_math() { MOX_NATIVES_MATH(MOX_NATIVE_REGISTER) }

} // namespace mox::natives
