// The symbol! datatype (ID 13): only its compare action. The symbol table
// itself is in core/symbol.h.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::symbol {

// Registers symbol!.
void init();
// The compare action of symbol!: the two names as strings under op.
int32_t compare(Cell* value1, Cell* value2, int32_t op);

} // namespace mox::symbol
