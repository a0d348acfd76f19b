// The path family: path!, lit-path!, set-path! and get-path!, blocks whose
// values are written separated by slashes. They share the block storage and
// the block actions; path! makes, converts, forms and molds its own way and
// the other three differ from it only in the mark they mold with (a leading
// "'", a trailing ":", a leading ":"). Paths cannot be sorted or trimmed.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox {

namespace path {

// Writes an empty path! with room for size cells into slot. May collect.
Cell* make_at(Cell* slot, int32_t size);
// Makes the block-kind cell a path! and pushes a copy of it.
Cell* push(Cell* blk);

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);

// Registers path!, lit-path!, set-path! and get-path! (after block!).
void init();

} // namespace path

namespace lit_path {
Cell* push(Cell* blk);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
} // namespace lit_path

namespace set_path {
Cell* push(Cell* blk);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
} // namespace set_path

namespace get_path {
Cell* push(Cell* blk);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
} // namespace get_path

} // namespace mox
