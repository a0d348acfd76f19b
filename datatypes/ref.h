// ref!: a reference written @name (string cell, type 50, parent string!).
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::ref {

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);

// Registers ref! (after string!).
void init();

} // namespace mox::ref
