// float!: the IEEE-754 double. percent! and time! are its children and share
// its storage, arithmetic core, comparison and rounding. Floats never raise
// on overflow or division by zero: they produce infinities and NaN, formed as
// "1.#INF", "-1.#INF" and "1.#NaN". Equality is tolerant (a few units in the
// last place); strict equality and sameness are exact.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::float_ {

// The formatter's flags, driven by system/options/float: pretty prints tiny
// magnitudes as zero and drops noise digits ending in 01 or 99.
extern bool pretty_print_q;
extern bool full_support_q;

// Text kinds of form_float.
enum TextKind : int {
    KIND_FLOAT32 = 0,   // a 32-bit element of a vector!
    KIND_FLOAT = 1,     // float!
    KIND_PERCENT32 = 2, // a 32-bit percent element
    KIND_PERCENT = 3,   // percent!
    KIND_TIME = 4,      // the seconds of a time!
    KIND_POINT = 5,     // a point2D! or point3D! component
};
// Room form_float needs, NUL included.
constexpr int TEXT_SIZE = 48;

inline double get(const Cell* value) { return get_float(value); }
// The running call's result cell becomes the float!.
Cell* box(double d);
Cell* make_at(Cell* cell, double d);
Cell* push(double d);
// A float! from the two halves of its bit pattern.
Cell* push64(uint32_t high, uint32_t low);
// Appends a float! from the two halves to the block. May collect.
Cell* append(node_t block, uint32_t high, uint32_t low);

double abs(double d);
// Rounds half up by adding the largest double below 0.5 and truncating;
// a result outside the 32-bit range raises type-limit.
int32_t round_to_int(double d);
bool NaN_q(double d);
bool NaN32_q(float f);
// An infinity or a NaN.
bool special_q(double d);
// Above 2147483647.0, below -2147483648.0, or NaN.
bool out_of_int_range_q(double d);
bool almost_equal_q(double a, double b);
bool almost_equal32_q(float a, float b);

// The text of value for the kind into out (TEXT_SIZE bytes, NUL-terminated);
// returns its length.
int form_float(double value, int kind, char* out);

// The arithmetic core on doubles: add, subtract, multiply, divide,
// remainder; any other code raises cannot-use.
double do_math_op(double x, double y, int32_t op);
// Mixed arithmetic on the running call's two argument cells (the left one
// may be integer!); the result is left in the first.
Cell* do_math(int32_t op);
// A random double between 0 and scale.
double random_scaled(double scale, bool secure);

// Actions. make and to share one routine, given the target type, so that
// percent! reuses it.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* absolute();
Cell* add();
Cell* subtract();
Cell* multiply();
Cell* divide();
Cell* remainder();
Cell* negate(Cell* number);
Cell* power();
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
bool even_q(Cell* number);
bool odd_q(Cell* number);

void init();

} // namespace mox::float_
