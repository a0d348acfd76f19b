// point3D!: a coordinate triple of 32-bit floats (data1 x, data2 y, data3
// z), written (x, y, z).
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::point3D {

// Writes a point3D! into the cell (flags cleared).
Cell* make_cell(Cell* cell, float x, float y, float z);
Cell* push(float x, float y, float z);

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

// Registers point3D! (its arithmetic, paths and conversions are point2D!'s).

// Registers point3D!.
void init();

} // namespace mox::point3D
