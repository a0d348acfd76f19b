// The ownership table: which object owns a series, and through which field.
//
// An object with an on-deep-change* handler owns the series stored in its
// fields (and the series nested in them): when one of them is changed in
// place, the owner's handler hears which field changed and how. A flag on
// the series buffer (memory::SERIES_OWNED) keeps the common case, a series
// nobody owns, at one bit test; only flagged series are looked up.
//
// The table is a weak keyed hash table (hashtable::KIND_WEAK) keyed by the
// series node, each record holding three cells: the owned value, the owner
// object! and the owner's field word. It keeps nothing alive: records whose
// series or owner died are dropped after each collection.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "datatypes/series.h"

namespace mox::ownership {

// Makes the table and installs its entry points in series::ownership. May
// collect.
void init();

// Records the owner of a series or bitset (a series already owned keeps its
// first owner), of every series nested in a block from its index, and of
// the field values of an object that is not an owner itself. May collect.
void bind(Cell* value, Cell* owner, Cell* field_word);
// bind, then marks the owner's context as an owner.
void bind_object(Cell* value, Cell* owner, Cell* field_word);
// The reverse of bind for the value and what it holds.
void unbind(Cell* value);
// unbind on count cells of a block from index.
void unbind_range(Cell* block, int32_t index, int32_t count);

// The owner cell of a series node, followed by the field word; null when
// the series is not owned. Valid until the next allocation.
Cell* owner_of(node_t node);

// Tells the owner of an owned value about a change (the action word of
// event, the new value or none, the index and count) through its
// on-deep-change* handler; returns 1 when the owner has change handlers.
// Runs Mox code: may collect.
int32_t check(Cell* value, series::Change event, const Cell* new_value, int32_t index,
              int32_t part);

// The context record flag of an object that owns its series.
constexpr uint32_t FLAG_CONTEXT_OWNER = 0x10000;

} // namespace mox::ownership
