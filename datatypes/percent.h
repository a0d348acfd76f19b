// percent!: a float! child holding the fraction as a double (50% is 0.5),
// written with the number times 100 and "%".
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::percent {

// Writes a percent! of the fraction into the cell (flags cleared).
Cell* make_cell(Cell* cell, double fraction);
// Appends a percent! to the block. May collect.
Cell* make_in_block(node_t block, double fraction);

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);

// Registers percent! (after float!).
void init();

} // namespace mox::percent
