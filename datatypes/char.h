// char!: one Unicode code point, 0 to 0x10FFFF, an integer with its own
// construction, text forms, comparison and range-checked arithmetic. Random,
// absolute, even? and odd? are integer!'s, inherited at registration, so
// integer! registers first.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::char_ {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;

Cell* push(uint32_t cp);
// Appends a char! cell to the block. May collect.
Cell* make_in(node_t block, uint32_t cp);

// Arithmetic on the running call's two argument cells; the character stays
// in the first. A result outside the code point range raises math overflow.
Cell* do_math(int32_t op);

// Actions.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* add();
Cell* subtract();
Cell* multiply();
Cell* divide();
Cell* remainder();
Cell* and_t();
Cell* or_t();
Cell* xor_t();

void init();

} // namespace mox::char_
