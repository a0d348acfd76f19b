// function! and routine!: values of functions written in the language. A
// function! cell: data1 the context node, data2 the spec block node, data3
// the node of its 5-cell extra block (body, -, entry, -, object context).
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::function {

// Writes the N-th argument word (from 0: word!, lit-word!, get-word! and
// refinement! items count) of the spec of the callable the call word names
// into out, or none when its value is not a callable or its spec has fewer.
void spec_argument_word(const Cell* call, int32_t n, Cell* out);

}  // namespace mox::function
