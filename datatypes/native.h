// native!, action! and op!: the built-in callables and the infix form of a
// two-argument callable.
//
// A native! or action! cell: data1 the id (the slot of the natives table,
// 1 .. 120, or the action id, 1 .. 62), data2 the spec block node, data3 the
// node of a 2-cell extra block: [none, the cached argument template or
// none]. An op! cell is a copy of its source callable's cell whose header
// keeps the source's type in bits 16-23; its payload is the source's.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::native {

constexpr uint32_t OP_SOURCE_SHIFT = 16;

// The type an op! wraps (native!, action!, function! or routine!).
inline uint32_t op_source_type(const Cell* op) { return (op->header >> OP_SOURCE_SHIFT) & 0xFF; }

// Registers native!, action! and op!.
void init_native();
void init_action();
void init_op();

// Whether a spec block may be given to the native (type native!) or action
// (action!) in slot id: the first spec a slot is made with fixes the kinds
// and types of its arguments, which its routine relies on; later specs must
// match them (names and doc strings may differ).
bool spec_fits(uint32_t type, int32_t id, const Cell* spec);
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* reflect(Cell* value, int32_t field_symbol);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

} // namespace mox::native
