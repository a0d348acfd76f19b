// hash!: a block that keeps a hash index over its values (block cell layout,
// type 36, parent block!; data3 the node of a hashtable::KIND_HASH table
// indexing every value of the block). block!'s actions keep the index
// current; the ones here make, copy and mold the type itself.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::hash {

// Turns the block in the cell into a hash! over the same buffer, indexing
// every value. May collect.
Cell* make_cell(Cell* cell);

// make: a number gives an empty hash with that capacity, a block or hash is
// copied, anything else goes through block!'s to. to: a hash is copied,
// anything else through block!'s to. Both push the result. May collect.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
// "make hash! " and the block mold (without /only).
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
// block!'s copy; a whole shallow copy takes a copy of the index, any other
// copy a new index over its values. May collect.
Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types);

// Registers hash! (after block!).
void init();

} // namespace mox::hash
