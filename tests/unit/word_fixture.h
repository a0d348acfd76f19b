// Shared set-up for the tests of the hash tables, symbols, contexts, words
// and datatype!, and small builders for test values made straight from cells.
#pragma once

#include <initializer_list>
#include <string>

#include "core/collector.h"
#include "core/context.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime_fixture.h"

namespace mox::test {

inline void boot_words() { boot(); }

class WordsTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() { boot_words(); }
};

// A block of the given cells (tail after them), held by the cell out.
// May collect.
inline Cell* make_block(Cell* out, std::initializer_list<Cell> cells, uint32_t type = TYPE_BLOCK) {
    node_t node = memory::alloc_cells(static_cast<uint32_t>(cells.size()) + 4);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    Cell* c = b->cells();
    for (const Cell& v : cells) *c++ = v;
    b->tail = b->head + static_cast<uint32_t>(cells.size() * sizeof(Cell));
    return make_series(out, type, node);
}

inline Cell integer_cell(int32_t n) {
    Cell c;
    make_integer(&c, n);
    return c;
}

// An unbound word (context 0, index -1) of a spelling.
inline Cell word_cell(const char* name, uint32_t type = TYPE_WORD) {
    return Cell{type, 0, symbol::make(name), static_cast<uint32_t>(-1)};
}

// A string! of UTF-8 text pushed on the stack. May collect.
inline Cell* push_string(const std::string& utf8) {
    Cell* s = string::push_new(static_cast<uint32_t>(utf8.size()) + 1);
    string::append_utf8(s, utf8.data(), utf8.size());
    return s;
}

// Fills node frames with garbage, so that what is allocated next lands in a
// later frame that a collection can empty by moving its nodes.
inline void churn_nodes() {
    collector::Hold hold;
    for (uint32_t i = 0; i < memory::NODE_FRAME_SLOTS * 2; i++) memory::alloc_bytes(16);
}

// Collects three times, evacuating every node frame it can: the first cycle
// frees the churned garbage, the next ones move the nodes of the frames left
// sparse.
inline void collect_moving_nodes() {
    bool saved = collector::stress;
    collector::stress = true;
    for (int i = 0; i < 3; i++) collector::do_cycle();
    collector::stress = saved;
}

// A name no other test uses, so that interning order is under the test's
// control.
inline std::string fresh_name(const char* stem) {
    static int counter = 0;
    return std::string(stem) + "-t" + std::to_string(++counter);
}

} // namespace mox::test
