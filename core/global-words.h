// Global words: every spelling finds its word in the global context by its
// canonical symbol, so foo, Foo and FOO share one value while each keeps its
// spelling. While the boot-time rooting flag is set, the global-word makers
// also keep a copy of each word in the root block and return that copy.
// The word datatypes themselves are in datatypes/word.h.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::word {

// All may collect. The returned cell lies in the global context, the root
// block or on the stack: copy it before anything else may collect.

// Finds or adds the word of symbol in the global context (canonical match
// with case_, else exact). A spelling added after another one of the word
// shares that one's slot. With spelling, a word found under another
// spelling is answered in the requested spelling (one such cell per
// spelling, kept in the root block).
Cell* make_global(uint32_t symbol, bool case_, bool spelling);
// The exact spelling's global word.
Cell* from_symbol(uint32_t symbol);
// The global word of a NUL-terminated UTF-8 name.
Cell* load(const char* name);
// Makes the cell a word! of the global context (its value unset! when new).
Cell* make_at(uint32_t symbol, Cell* cell);
Cell* make_in(node_t block, uint32_t symbol);
Cell* push_symbol(uint32_t symbol);

} // namespace mox::word

namespace mox::refinement {
// Appends to the root block a refinement! of the name (context 0, index -1)
// and returns it. May collect.
Cell* make_global(const char* name);
} // namespace mox::refinement

namespace mox::issue {
// Makes the cell an issue! of the global context (index -1). May collect.
Cell* make_at(Cell* cell, const char* name);
} // namespace mox::issue
