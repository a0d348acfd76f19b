// integer!: the 32-bit signed integer. Its arithmetic never wraps silently:
// add, subtract and multiply past the range and inexact division give a
// float!, and the few results that cannot be expressed at all (negate or
// absolute of -2147483648, -2147483648 / -1, rounding past the range) raise
// math error overflow. Mixed arithmetic with other numeric types is routed
// from here to theirs.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::integer {

inline int32_t get(const Cell* value) { return get_integer(value); }
// The running call's result cell as an integer: get_last without a type
// check, get_any 0 for any other type.
int32_t get_last();
int32_t get_any();
// The running call's result cell becomes the integer!.
Cell* box(int32_t i);
// Sets the type (other header bits kept) and the value.
Cell* make_at(Cell* cell, int32_t i);
// Appends an integer! cell to the block. May collect.
Cell* make_in(node_t block, int32_t i);
Cell* push(int32_t i);

int32_t sign(int32_t i);
// |i|; -2147483648 raises math overflow.
int32_t abs(int32_t i);
// Decimal text of i into out (at least 12 bytes, NUL-terminated); returns
// its length.
int32_t form_signed(int32_t i, char* out);
// A number cell as a 32-bit integer: a float!, percent! or time! truncated
// toward zero (out of range or NaN raises out-of-range with the value); any
// other type its second payload word.
int32_t get_int(const Cell* value);
// A non-negative 31-bit number from the system's secure source.
int32_t secure_rand();
// The bytes of a binary! from its position: returns where they start and
// stores their count (0 when the position lies at or past the tail).
const uint8_t* binary_bytes(const Cell* binary, uint32_t* count);

// The arithmetic core: left op right (MathOp codes). With a result cell, an
// add, subtract or multiply overflow and an inexact division turn that cell
// into the exact float! result; otherwise the integer result is stored in its
// second payload word. Division and remainder by 0 raise zero-divide,
// -2147483648 by -1 raises overflow.
int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* result);
// Mixed arithmetic on the running call's two argument cells; the result is
// left in the first.
Cell* do_math(int32_t op);

// Actions.
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
Cell* and_t();
Cell* or_t();
Cell* xor_t();
Cell* negate(Cell* number);
Cell* power();
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
bool even_q(Cell* number);
bool odd_q(Cell* number);
Cell* complement(Cell* value);

void init();

} // namespace mox::integer
