// pair!: two signed 32-bit integers (data2 x, data3 y), written 10x20.
// Arithmetic whose result is not integral (an overflow, an inexact
// division, a float factor) escapes to point2D!.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::pair {

// Writes a pair! into the cell (flags cleared).
Cell* make_cell(Cell* cell, int32_t x, int32_t y);
Cell* push(int32_t x, int32_t y);
// Appends a pair! to the block. May collect.
Cell* make_in_block(node_t block, int32_t x, int32_t y);

// The arithmetic core on the running call's two arguments (the first a
// pair!): add, subtract, multiply, divide, remainder, or, and, xor.
Cell* do_math(int32_t op);
// A number (the first argument) with a pair!, point or tuple! (the second):
// the operands swap, and a subtraction adds the negated compound value.
Cell* number_first(int32_t op);

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
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
Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
Cell* pick(Cell* value, int32_t index, Cell* boxed);
Cell* reverse(Cell* series, Cell* part, Cell* skip);

// Registers pair!.
void init();

} // namespace mox::pair
