// vector!: a packed series of numbers or characters of one element type and
// size (string cell layout, type 35, parent string!). data1 head index in
// elements, data2 node of a buffer whose unit is the element size, data3 the
// element type: char! or integer! of 1, 2 or 4 bytes, float! of 4 or 8,
// percent! of 8 (the fraction: 50% is 0.5).
//
// Integer elements of 1 and 2 bytes read sign-extended, char! elements
// zero-extended (a code point is never negative); 4-byte floats widen to
// double. Stores keep the low bytes of an integer and round a float to the
// element's precision.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::vector {

// Elements from the head index to the tail (0 when the index lies past it).
int32_t ms_length_q(const Cell* vec);
// Cuts the vector at its head index.
void ms_clear(Cell* vec);
// Appends one 32-bit word at the tail of a 4-byte vector. May collect.
void ms_append_int(Cell* vec, int32_t value);
// Writes an empty vector with room for count elements of the type and size
// (bytes) into the cell; an overflowing size raises no-memory. May collect.
Cell* make_cell(Cell* cell, uint32_t count, uint32_t type, uint32_t size);

// The element at the address as a value, written to out / pushed.
Cell* read_value(const uint8_t* at, uint32_t type, uint32_t size, Cell* out);
Cell* push_value(const uint8_t* at, uint32_t type, uint32_t size);
// Raises invalid-arg unless the value's type is the vector's element type.
void check_value(const Cell* vec, const Cell* value);
// Stores a checked value at the address in the element size.
void store_value(uint8_t* at, const Cell* value, uint32_t size);

// A new block with one value per element from the head index, pushed. May
// collect.
Cell* to_block(const Cell* vec);

// element op scalar for every element from the head index, in place; with
// scalar_first, scalar op element. Integer elements wrap around on overflow
// and divide truncating toward zero; a float scalar for an integer vector is
// truncated (NaN, infinite or out of range raises invalid-arg). Returns the
// vector.
Cell* do_math_scalar(int32_t op, Cell* vec, const Cell* scalar, bool scalar_first = false);
// do_math_scalar for each of count operations (OP_ADD, OP_SUB or OP_MUL,
// element op scalar) in turn, with integer scalars: the vector's elements
// end as they would after the calls one after another. Returns the vector.
Cell* do_math_chain(Cell* vec, const int32_t* ops, const int32_t* scalars, int32_t count);
// The arithmetic actions: with another vector of the same element type, a
// new vector of the shorter length and the larger element size replaces the
// first argument; with a scalar, do_math_scalar. May collect.
Cell* do_math(int32_t op);

Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
// append and insert: a block's values (at most part of them) or one value,
// dup times; every value is checked before the vector changes. May collect.
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
// Replaces part elements (the written count without /part) by a block's
// values, a vector's elements or one value, dup times. May collect.
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);

// Registers vector! (after string!).
void init();

} // namespace mox::vector
