// Global words (see global-words.h).
#include "core/global-words.h"

#include <unordered_map>

#include "core/collector.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"

namespace mox::word {

namespace {

// Root-block cells that answer a word in a spelling other than the one it
// was found under: one per spelling (the slot of a word never changes), so
// looking variants up again and again adds nothing.
std::unordered_map<uint32_t, uint32_t>* variant_cells = nullptr;

Cell* root_cell(uint32_t index) { return memory::buffer_of(root.data2)->cells() + index; }

Cell* variant_cell(uint32_t symbol, const Cell* found) {
    if (!variant_cells) variant_cells = new std::unordered_map<uint32_t, uint32_t>();
    auto it = variant_cells->find(symbol);
    if (it != variant_cells->end()) return root_cell(it->second);
    Cell word = *found;
    word.data2 = symbol;
    Cell* kept = root_append(&word);
    (*variant_cells)[symbol] = static_cast<uint32_t>(kept - memory::buffer_of(root.data2)->cells());
    return kept;
}

// While the boot-time rooting flag is set, the root block keeps a copy of
// each global word handed out, and that copy is the answer.
Cell* rooted(Cell* word) { return boot_rooting ? root_append(word) : word; }

} // namespace

Cell* make_global(uint32_t symbol, bool case_, bool spelling) {
    collector::Hold hold;
    node_t g = context::global;
    if (Cell* found = context::find_word_cell(g, symbol, case_)) {
        if (spelling && found->data2 != symbol) return variant_cell(symbol, found);
        return found;
    }
    // A new spelling of a word the context holds shares that word's slot;
    // its own value cell keeps the values block in step with the words.
    const Cell* same = case_ ? nullptr : context::find_word_cell(g, symbol, true);
    int32_t shared = same ? static_cast<int32_t>(same->data3) : -1;
    int32_t n = -1;
    context::find_or_add(g, symbol, case_, true, &n);
    memory::alloc_tail(context::record_of(g)->data2);
    Cell* word = context::symbol_at(g, n);
    if (shared >= 0) word->data3 = static_cast<uint32_t>(shared);
    return word;
}

Cell* from_symbol(uint32_t symbol) { return rooted(make_global(symbol, false, true)); }

Cell* load(const char* name) { return rooted(make_global(symbol::make(name), true, true)); }

Cell* make_at(uint32_t symbol, Cell* cell) {
    Cell word = {TYPE_WORD, context::global, symbol, static_cast<uint32_t>(-1)};
    word.data3 = static_cast<uint32_t>(context::add(context::global, &word));
    *cell = word;
    return cell;
}

Cell* make_in(node_t block, uint32_t symbol) {
    Cell word;
    make_at(symbol, &word);
    Cell* cell = memory::alloc_tail(block);
    *cell = word;
    return cell;
}

Cell* push_symbol(uint32_t symbol) { return make_at(symbol, stack::push_cell()); }

} // namespace mox::word

namespace mox::refinement {

Cell* make_global(const char* name) {
    Cell value = {TYPE_REFINEMENT, 0, symbol::make(name), static_cast<uint32_t>(-1)};
    return root_append(&value);
}

} // namespace mox::refinement

namespace mox::issue {

Cell* make_at(Cell* cell, const char* name) {
    uint32_t symbol = symbol::make(name);
    *cell = Cell{TYPE_ISSUE, context::global, symbol, static_cast<uint32_t>(-1)};
    return cell;
}

} // namespace mox::issue
