// triple!: three signed 32-bit integers in data1..data3 (type 31, no
// parent), made only by the runtime; it can only be written.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::triple {

// "make triple! [a b c]".
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);

// Registers triple!.
void init();

} // namespace mox::triple
