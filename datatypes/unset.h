// unset!: the value of nothing, the result of an expression that yields no
// value. Holds the shared unset-value cell and the helpers that make unset
// values, and registers the datatype.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/datatype.h"

namespace mox {

// Shared constant: callers copy it, never write into it.
inline constexpr Cell unset_value{TYPE_UNSET, 0, 0, 0};

namespace unset {

// The operators under which values without an order (unset!, none!, logic!)
// still compare: the equality tests, the sort modes and find.
inline bool unordered_op_q(int32_t op) {
    return (op >= COMP_EQUAL && op <= COMP_STRICT_EQUAL) || (op >= COMP_SORT && op <= COMP_SAME) ||
           op == COMP_FIND;
}

// The running call's result cell becomes unset!.
Cell* box();
// Appends an unset! cell to the block. May collect.
Cell* make_in(node_t block);
Cell* push();

// Actions.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

void init();

} // namespace unset
} // namespace mox
