// The runtime's symbols and global words (see words.h).
#include "core/words.h"

#include "core/collector.h"
#include "core/global-words.h"
#include "core/symbol.h"

namespace mox::words {

#define MOX_DEFINE_SYMBOL(name, text) uint32_t name = 0;
MOX_RUNTIME_SYMBOLS(MOX_DEFINE_SYMBOL)
#undef MOX_DEFINE_SYMBOL

namespace global {
#define MOX_DEFINE_WORD(name, text) Cell name = {TYPE_UNSET, 0, 0, 0};
MOX_RUNTIME_WORDS(MOX_DEFINE_WORD)
#undef MOX_DEFINE_WORD
} // namespace global

namespace refinements {
#define MOX_DEFINE_REFINEMENT(name, text) Cell name = {TYPE_UNSET, 0, 0, 0};
MOX_RUNTIME_REFINEMENTS(MOX_DEFINE_REFINEMENT)
#undef MOX_DEFINE_REFINEMENT
} // namespace refinements

Cell ooo = {TYPE_UNSET, 0, 0, 0};
uint32_t changed = 0;

namespace {

struct SymbolEntry {
    uint32_t* id;
    const char* text;
};
struct CellEntry {
    Cell* cell;
    const char* text;
};

#define MOX_SYMBOL_ENTRY(name, text) {&name, text},
const SymbolEntry kSymbols[] = {MOX_RUNTIME_SYMBOLS(MOX_SYMBOL_ENTRY)};
#undef MOX_SYMBOL_ENTRY

#define MOX_WORD_ENTRY(name, text) {&global::name, text},
const CellEntry kWords[] = {MOX_RUNTIME_WORDS(MOX_WORD_ENTRY)};
#undef MOX_WORD_ENTRY

#define MOX_REFINEMENT_ENTRY(name, text) {&refinements::name, text},
const CellEntry kRefinements[] = {MOX_RUNTIME_REFINEMENTS(MOX_REFINEMENT_ENTRY)};
#undef MOX_REFINEMENT_ENTRY

void mark() {
    for (const CellEntry& e : kWords) collector::mark_values(e.cell, e.cell + 1);
    for (const CellEntry& e : kRefinements) collector::mark_values(e.cell, e.cell + 1);
    collector::mark_values(&ooo, &ooo + 1);
}

} // namespace

void init() {
    static bool done = false;
    if (done) return;
    done = true;
    collector::register_callback(mark);
    for (const SymbolEntry& e : kSymbols) *e.id = symbol::make(e.text);
    for (const CellEntry& e : kWords) *e.cell = *word::load(e.text);
    for (const CellEntry& e : kRefinements) *e.cell = *refinement::make_global(e.text);
    issue::make_at(&ooo, "ooo");
    changed = global::changed.data2;
}

} // namespace mox::words
