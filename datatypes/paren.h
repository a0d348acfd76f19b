// paren!: a block that the interpreter evaluates where it meets it. It
// shares the block storage and every block action but molding, which writes
// its values in parentheses.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::paren {

// Makes the block-kind cell a paren! and pushes a copy of it.
Cell* push(Cell* blk);

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);

// Registers paren! (after block!).
void init();

} // namespace mox::paren
