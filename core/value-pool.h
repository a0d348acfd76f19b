// The value-slot pool: native code keeps a Mox value alive and finds it
// again by a small integer (a window's extra bytes, an OS callback's user
// data). The pool is a block the collector marks; slots count from 1.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::value_pool {

void init();
void link_free(int32_t first);
// Stores a copy of the value and returns its slot number. May collect.
int32_t alloc(const Cell* value);
// The slot's cell, or nullptr for a number that is not a used slot.
Cell* get(int32_t slot);
// Frees a used slot; 0, out-of-range numbers and free slots are ignored.
void free(int32_t slot);
uint32_t capacity();
void mark();

} // namespace mox::value_pool
