// Contexts: a context maps words to value cells. There is one global
// context, one per function (arguments, refinements, locals) and one per
// object. A word value carries its binding (context node and slot index), so
// reading or setting it is a direct index into the context's values.
//
// A context is a node whose buffer holds two cells: the context record (a
// context! cell: data1 the word table, a hash table over the block of word
// cells; data2 the values block node, or with FLAG_CONTEXT_ON_STACK the
// reference of the first value cell on the evaluation stack, 0 when no call
// runs) and the owner cell (the object! or function! value, else unset!).
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::context {

enum Kind : uint32_t { KIND_GLOBAL = 0, KIND_FUNCTION = 1, KIND_OBJECT = 2 };

// The global context's node (made at start-up).
extern node_t global;

// The context record and owner cells of a context node.
Cell* record_of(node_t context);
Cell* owner_of(node_t context);

// The word cell that names symbol in the context when it holds the symbol
// exactly, else the global word of the symbol (context 0: the global word).
// May collect.
Cell* resolve_word(node_t context, uint32_t symbol);
// The value of a symbol the context holds (the global context's value when
// the given context keeps its values on the stack); nullptr when absent.
Cell* symbol_value(node_t context, uint32_t symbol);

}  // namespace mox::context
