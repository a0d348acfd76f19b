// none!: the no-value-here value that lookups and series actions return.
// Holds the shared none-value cell and the helpers that make none values,
// and registers the datatype.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox {

// Shared constant: callers copy it, never write into it.
inline constexpr Cell none_value{TYPE_NONE, 0, 0, 0};

namespace none {

// The running call's result cell becomes none!.
Cell* box();
// Appends a none! cell to the block. May collect.
Cell* make_in(node_t block);
Cell* push();

// Actions.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
// The series actions that none! answers with none.
Cell* clear(Cell* series);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
// -1: none has no length.
int32_t length_q(Cell* series);

void init();

} // namespace none
} // namespace mox
