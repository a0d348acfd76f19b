// The datatype! datatype (ID 1): a type's name as its form and mold, and
// equality by type. The registry itself is in core/datatype.h.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::datatype {

// Registers datatype!.
void init();
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

} // namespace mox::datatype
