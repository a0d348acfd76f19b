// function! and routine!: functions written in the language. A function!
// cell: header type 24 with the attribute flags; data1 the function's
// context node (its values live on the evaluation stack while it runs),
// data2 the spec block node (index 0), data3 the node of its 5-cell extra
// block:
//
//   0  the body, bound to the context (none without a body)
//   1  the cached argument template, or unset! before the first call
//   2  the code cell: integer! index of the C++ body that runs instead of
//      the body (evaluator/routines.h), or unset!
//   3  the op! made from the function, or unset!
//   4  the object! whose context binds self for the function, or unset!
//
// The function cell is also the owner cell of its context. A routine! has
// the same layout, an empty body block and always a code cell; its header
// bits 25-29 count its word! arguments (evaluator/routines.h makes them).
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/memory.h"

namespace mox::function {

constexpr uint32_t FLAG_NO_TRACE = 0x200;
constexpr uint32_t FLAG_TRACE = 0x400;
// A function of the boot source: its body fires no trace events, as a
// compiled body would not.
constexpr uint32_t FLAG_BOOT = 0x800;

constexpr int32_t EXTRA_BODY = 0;
constexpr int32_t EXTRA_TEMPLATE = 1;
constexpr int32_t EXTRA_CODE = 2;
constexpr int32_t EXTRA_OP = 3;
constexpr int32_t EXTRA_OBJECT = 4;
constexpr int32_t EXTRA_CELLS = 5;

// The extra block's cells; valid until the next allocation.
inline Cell* extra_of(const Cell* fn) { return memory::buffer_of(fn->data3)->cells(); }

// Checks a spec block against the function-spec grammar (script error
// bad-func-def with the spec, invalid-type-spec with a bad type item,
// dup-vars with a repeated argument) and returns the attribute flags.
uint32_t validate_spec(const Cell* spec);

// Pushes a new function! made from spec and body (null: no body) with the
// given header flags (FLAG_BOOT added while the boot source loads); the body is deep-copied and
// bound to a new context made from the spec. object: the object whose context binds self, or null.
// Returns the pushed cell. May collect.
Cell* push(const Cell* spec, const Cell* body, uint32_t flags, const Cell* object);

// Pushes false, then n - 1 none! cells: the slots of an unused refinement.
void push_refinement_defaults(int32_t n);

// Writes the N-th argument word (from 0: word!, lit-word!, get-word! and
// refinement! items count) of the spec of the callable the call word names
// into out, or none when its value is not a callable or its spec has fewer.
void spec_argument_word(const Cell* call, int32_t n, Cell* out);

// Registers function! and routine!.
void init_function();
void init_routine();

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* reflect(Cell* value, int32_t field_symbol);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

} // namespace mox::function
