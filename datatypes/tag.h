// tag!: a string written between angle brackets (string cell, type 44,
// parent string!).
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::tag {

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);

// Registers tag! (after string!).
void init();

} // namespace mox::tag
