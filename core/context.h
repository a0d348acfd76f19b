// Contexts: a context maps words to value cells. There is one global
// context, one per function (arguments, refinements, locals) and one per
// object. A word value carries its binding (context node and slot index), so
// reading or setting it is a direct index into the context's values.
//
// A context is a node whose buffer holds two cells: the context record (a
// context! cell: data1 the word table, a hash table over the block of word
// cells; data2 the values block node, or with FLAG_CONTEXT_ON_STACK the
// reference of the first value cell on the evaluation stack, 0 when no call
// runs; the kind in header bits 11-12) and the owner cell (the object! or
// function! value, else unset!).
//
// The word cells of a context are {word!, context node, symbol, index}.
// Words are found by their canonical symbol (case flag set) or by the exact
// spelling. The global context may hold several spellings of one word: each
// variant's word cell carries the slot index of the first spelling, and a
// lookup answers that index, so foo, Foo and FOO always share one value.
//
// Context nodes are taken by value: functions that may collect say so, and
// callers keep the node where the collector can relocate it.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/collector.h"
#include "core/hashtable.h"
#include "core/memory.h"

namespace mox::context {

enum Kind : uint32_t { KIND_GLOBAL = 0, KIND_FUNCTION = 1, KIND_OBJECT = 2 };

// The global context's node (made at start-up, a collector root).
extern node_t global;

// The global context's value cells, cached for word lookups. The values
// block only moves when it grows (its node then names another buffer) or
// when the collector runs, so the cache holds while neither happened.
struct GlobalValues {
    int32_t cycles;  // collector::stats.cycles when cached, -1 for none
    node_t node;     // the values block node
    uint32_t buffer; // the reference its node slot held
    Cell* cells;
};
extern GlobalValues global_values_cache;
// Fills the cache again and returns the cells.
Cell* refresh_global_values();
inline Cell* global_values() {
    const GlobalValues& g = global_values_cache;
    if (g.cycles == collector::stats.cycles && g.buffer == *arena::at<uint32_t>(g.node))
        return g.cells;
    return refresh_global_values();
}
// Makes the global context for 4000 words. May collect.
void make_global();

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// The context record and owner cells of a context node; valid until the
// next allocation.
inline Cell* record_of(node_t context) { return memory::buffer_of(context)->cells(); }
inline Cell* owner_of(node_t context) { return memory::buffer_of(context)->cells() + 1; }
inline uint32_t kind_of(node_t context) {
    return (record_of(context)->header & FLAG_CONTEXT_KIND_MASK) >> FLAG_CONTEXT_KIND_SHIFT;
}
inline bool on_stack_q(node_t context) {
    return record_of(context)->header & FLAG_CONTEXT_ON_STACK;
}
// The word table and the block of word cells.
inline node_t table_of(node_t context) { return record_of(context)->data1; }
inline node_t symbols_node(node_t context) { return hashtable::record_of(table_of(context))->data; }
inline Cell* symbols_buffer(node_t context) {
    return memory::buffer_of(symbols_node(context))->cells();
}
inline int32_t word_count(node_t context) {
    return static_cast<int32_t>(memory::buffer_of(symbols_node(context))->used_bytes() /
                                sizeof(Cell));
}

// ---------------------------------------------------------------------------
// Construction (all may collect)
// ---------------------------------------------------------------------------

// A context for n words (0 counts as 1): with a source table, a copy of it
// (words included); the values block is empty with room for n unset! cells
// (none with on_stack).
node_t create(int32_t n, bool on_stack, bool self, node_t source, uint32_t kind);
// A context of the word!, get-word!, lit-word! and refinement! cells of a
// spec block (from its first cell); without on_stack the values block holds
// one unset! per word.
node_t make_from_spec(const Cell* spec, bool on_stack, bool self, uint32_t kind);
// A copy of the context of an object! or function! value with the same words
// in the same order, re-pointed to the copy, which the value then names.
// The values block holds one unset! per word.
node_t clone(Cell* value, uint32_t kind);
// Adds every set-word! of the block from its index; true when words were
// added.
bool collect_set_words(node_t context, const Cell* block);

// ---------------------------------------------------------------------------
// Finding and adding words
// ---------------------------------------------------------------------------

// The index of the word for symbol (canonical with case_ set, else exact),
// stored through out too. When absent: with add, the word cell is appended,
// -1 is returned and its index stored through out (may collect); without
// add, -1.
int32_t find_or_add(node_t context, uint32_t symbol, bool case_, bool add, int32_t* out);
int32_t find_word(node_t context, uint32_t symbol, bool case_);
// The existing index, or -1 after adding the word (its index through out).
int32_t add_word(node_t context, uint32_t symbol, bool case_, int32_t* out);
// The index of the word, added with an unset! value when absent. May collect.
int32_t add(node_t context, const Cell* word);
// Adds the word with a copy of the value: the new value cell, or nullptr
// when the word was there already. May collect.
Cell* add_value(node_t context, const Cell* word, const Cell* value);
// Stores a copy of the value in the word's slot, adding both when missing.
// May collect.
void put(node_t context, const Cell* word, const Cell* value);

// The word cell found for symbol (canonical with case_, else exact), or
// nullptr; valid until the next allocation.
Cell* find_word_cell(node_t context, uint32_t symbol, bool case_);
// The context's word cell for symbol when it holds that exact spelling, else
// the global word (context 0: the global word); symbol 0, which names
// nothing, gives a none! cell not to be written. May collect.
Cell* resolve_word(node_t context, uint32_t symbol);
// The value of a symbol in the context (in the global context when the
// given one keeps its values on the stack); nullptr when absent.
Cell* symbol_value(node_t context, uint32_t symbol);
// Word cell index of the word table.
inline Cell* symbol_at(node_t context, int32_t index) { return symbols_buffer(context) + index; }
inline Cell* get_word(node_t context, int32_t index) { return symbol_at(context, index); }
// Value cell index (no checks).
inline Cell* value_ptr(node_t context, int32_t index) {
    const Cell* record = record_of(context);
    if (record->header & FLAG_CONTEXT_ON_STACK) return arena::at<Cell>(record->data2) + index;
    return memory::buffer_of(record->data2)->cells() + index;
}

// ---------------------------------------------------------------------------
// Reading and writing
// ---------------------------------------------------------------------------

// The value cell of a word in a context. A bound word needs a context with
// values (else not-in-context); an unbound self is the owner of the word's
// own context, any other unbound word raises no-value.
Cell* word_value_ptr(const Cell* word, node_t context);
// The object change notification: called with the owner object, the word,
// the old value and the new one (all copies on the stack). The object module
// installs object::call_on_change here when it starts.
using ChangeHandler = void (*)(Cell* owner, Cell* word, Cell* old, Cell* value);
extern ChangeHandler on_change;

// Stores value through word in the context (see context.cpp); with notify
// an object with an event record hears of it through on_change. Returns the
// value slot. May collect (the handler runs Mox code).
Cell* set_in(Cell* word, const Cell* value, node_t context, bool notify);

// Stores a copy of value through a bound word when nothing but the store
// is to be done: a context with values that is not an object's. False
// (nothing stored) otherwise; the caller then takes set_in.
inline bool set_plain(const Cell* word, const Cell* value) {
    node_t context = word->data1;
    int32_t index = static_cast<int32_t>(word->data3);
    if (!context || index < 0) return false;
    if (context == global) {
        global_values()[index] = *value;
        return true;
    }
    const Cell* record = record_of(context);
    if (!record->data2 ||
        ((record->header & FLAG_CONTEXT_KIND_MASK) >> FLAG_CONTEXT_KIND_SHIFT) == KIND_OBJECT)
        return false;
    Cell copy = *value;
    *value_ptr(context, index) = copy;
    return true;
}

// Compiled-code setters: the value is the stack's last cell. They mark the
// field-set flag in object contexts and never notify.
Cell* value_ptr_checked(node_t context, int32_t index);
Cell* set_checked(node_t context, int32_t index);
void set_checked_reset(node_t context, int32_t index);
Cell* set_from_top(node_t context, int32_t index);
void set_from_top_reset(node_t context, int32_t index);
// Pushes a copy of value index, then stores the previous last cell there.
void swap_value(node_t context, int32_t index);
void push_value(node_t context, int32_t index);
Cell* push_word(node_t context, int32_t index);
Cell* push_get_word(node_t context, int32_t index);
Cell* push_refinement(node_t context, int32_t index);

// ---------------------------------------------------------------------------
// Binding
// ---------------------------------------------------------------------------

// Binds the word to the context when it holds the word (canonical match);
// returns the index or -1.
int32_t bind_word(node_t context, Cell* word);
// Binds every word!, set-word!, lit-word!, get-word! and refinement! of the
// block from its index, descending into blocks, parens, paths and hash!
// values; with self, the word self gets index -1 in the context. Blocks
// already being walked are skipped, so cyclic blocks end.
void bind(const Cell* block, node_t context, bool self);

} // namespace mox::context
