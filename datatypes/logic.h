// logic!: true and false, and the truth test of the whole language: a value
// is false when it is none! or a logic! false; every other value is true,
// zero and empty series included. Holds the shared true-value and
// false-value cells and registers the datatype.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox {

// Shared constants: callers copy them, never write into them.
inline constexpr Cell true_value{TYPE_LOGIC, 1, 0, 0};
inline constexpr Cell false_value{TYPE_LOGIC, 0, 0, 0};

namespace logic {

inline uint32_t get(const Cell* value) { return value->data1; }

// The truth is stored as given; callers pass 0 or 1.
Cell* box(uint32_t truth);
// Appends a logic! cell to the block. May collect.
Cell* make_in(node_t block, uint32_t truth);
Cell* push(uint32_t truth);

// The truth of a value, without any check.
inline bool truthy(const Cell* value) {
    uint32_t t = type_of(value);
    return t != TYPE_NONE && (t != TYPE_LOGIC || value->data1 == 1);
}

// The strict test of the running call's result cell: unset! raises
// no-return.
bool true_q();
// The plain test, negated, of the running call's result cell.
bool false_q();
// With check, an unset! value raises no-value naming the word.
bool test_value(const Cell* value, bool check, const Cell* word);
// The plain test of the last pushed cell (the bottom cell when the stack is
// empty), negated and not.
bool top_false_q();
bool top_true_q();

// Actions.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* and_t();
Cell* or_t();
Cell* xor_t();
Cell* complement(Cell* value);

void init();

} // namespace logic
} // namespace mox
