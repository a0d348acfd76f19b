// Contexts (see context.h): construction, the word-table probe, reading and
// writing through words, the object change notification and binding.
#include "core/context.h"

#include <cassert>

#include "core/collector.h"
#include "core/cycles.h"
#include "core/global-words.h"
#include "core/hashtable.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"

namespace mox::context {

node_t global = 0;
GlobalValues global_values_cache = {-1, 0, 0, nullptr};

Cell* refresh_global_values() {
    GlobalValues& g = global_values_cache;
    g.node = record_of(global)->data2;
    g.buffer = *arena::at<uint32_t>(g.node);
    g.cells = memory::buffer_of(g.node)->cells();
    g.cycles = collector::stats.cycles;
    return g.cells;
}
ChangeHandler on_change = nullptr;

namespace {

constexpr int32_t GLOBAL_WORDS = 4000;

void mark() { collector::mark_context(&global); }

inline hashtable::Record* table_record(node_t context) {
    return hashtable::record_of(record_of(context)->data1);
}

inline bool is_self(uint32_t symbol) {
    return words::self && symbol::resolve(symbol) == symbol::resolve(words::self);
}

// The position of the word cell holding symbol (canonical with case_, else
// exact), or -1 with the empty bucket that ended the probe in *empty.
int32_t probe(node_t context, uint32_t symbol, bool case_, int64_t* empty) {
    hashtable::Record* r = table_record(context);
    const uint32_t* flags = hashtable::flags_of(r);
    const int32_t* buckets = hashtable::buckets_of(r);
    const Cell* words = memory::buffer_of(r->data)->cells();
    uint32_t canonical = symbol::resolve(symbol);
    uint32_t mask = static_cast<uint32_t>(r->bucket_count) - 1;
    uint32_t i = hashtable::mix32(canonical) & mask;
    for (uint32_t step = 1, n = 0; n <= mask; n++, i = (i + step++) & mask) {
        uint32_t state = hashtable::state_at(flags, i);
        if (state == hashtable::BUCKET_EMPTY) {
            *empty = i;
            return -1;
        }
        if (state != hashtable::BUCKET_LIVE) continue;
        uint32_t s = words[buckets[i]].data2;
        if (s == symbol || (case_ && symbol::resolve(s) == canonical)) return buckets[i];
    }
    *empty = -1;
    return -1;
}

inline void mark_field(node_t context, int32_t index) {
    if (kind_of(context) == KIND_OBJECT) symbol_at(context, index)->header |= FLAG_FIELD_SET;
}

inline Cell* last_cell() { return stack::top - 1; }

// Sets the values block's tail to hold exactly one cell per word (its
// capacity was prefilled with unset!).
void fit_values(node_t context) {
    Cell* record = record_of(context);
    if ((record->header & FLAG_CONTEXT_ON_STACK) || !record->data2) return;
    memory::SeriesBuffer* b = memory::buffer_of(record->data2);
    b->tail = b->head + static_cast<uint32_t>(word_count(context)) * sizeof(Cell);
    assert(b->tail <= arena::ref(b->end()));
}

void bind_series(node_t series, uint32_t index, node_t context, bool self) {
    if (cycles::find(series)) return;
    cycles::Scope walk(series);
    memory::SeriesBuffer* b = memory::buffer_of(series);
    Cell* end = b->cells_tail();
    for (Cell* c = b->cells() + index; c < end; c++) {
        uint32_t t = type_of(c);
        if (t >= TYPE_WORD && t <= TYPE_REFINEMENT) {
            if (self && t == TYPE_WORD && is_self(c->data2)) {
                c->data1 = context;
                c->data3 = static_cast<uint32_t>(-1);
            } else {
                bind_word(context, c);
            }
        } else if (is_any_block(t)) {
            bind_series(c->data2, c->data1, context, self);
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

node_t create(int32_t n, bool on_stack, bool self, node_t source, uint32_t kind) {
    collector::Hold hold;
    if (n <= 0) n = 1;
    node_t table =
        source ? hashtable::copy_record(source) : hashtable::init(n, 0, hashtable::KIND_WORDS, 2);
    node_t values = on_stack ? 0 : memory::alloc_unset_cells(static_cast<uint32_t>(n));
    node_t context = memory::alloc_cells(2);
    memory::SeriesBuffer* b = memory::buffer_of(context);
    uint32_t header = TYPE_CONTEXT | (kind << FLAG_CONTEXT_KIND_SHIFT);
    if (on_stack) header |= FLAG_CONTEXT_ON_STACK;
    if (self) header |= FLAG_CONTEXT_SELF;
    b->cells()[0] = Cell{header, table, values, 0};
    make_unset(b->cells() + 1);
    b->tail = b->head + 2 * sizeof(Cell);
    if (source) {
        // The copied word cells name the new context.
        Cell* words = symbols_buffer(context);
        for (int32_t i = 0, count = word_count(context); i < count; i++) words[i].data1 = context;
    }
    return context;
}

void make_global() {
    if (global) return;
    global = create(GLOBAL_WORDS, false, false, 0, KIND_GLOBAL);
    global_values_cache.cycles = -1;
    collector::register_callback(mark);
}

node_t make_from_spec(const Cell* spec, bool on_stack, bool self, uint32_t kind) {
    collector::Hold hold;
    node_t series = spec->data2;
    auto length = static_cast<int32_t>(memory::buffer_of(series)->used_bytes() / sizeof(Cell));
    node_t context = create(length, on_stack, self, 0, kind);
    for (int32_t i = 0; i < length; i++) {
        const Cell* c = memory::buffer_of(series)->cells() + i;
        uint32_t t = type_of(c);
        if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT)
            find_or_add(context, c->data2, true, true, nullptr);
    }
    if (!on_stack) fit_values(context);
    return context;
}

node_t clone(Cell* value, uint32_t kind) {
    collector::Hold hold;
    node_t old = value->data1;
    Cell* record = record_of(old);
    bool on_stack = record->header & FLAG_CONTEXT_ON_STACK;
    bool self = record->header & FLAG_CONTEXT_SELF;
    node_t context = create(word_count(old), on_stack, self, record->data1, kind);
    fit_values(context);
    value->data1 = context;
    return context;
}

bool collect_set_words(node_t context, const Cell* block) {
    collector::Hold hold;
    node_t series = block->data2;
    uint32_t index = block->data1;
    int32_t before = word_count(context);
    for (uint32_t i = index;; i++) {
        memory::SeriesBuffer* b = memory::buffer_of(series);
        if (i >= b->used_bytes() / sizeof(Cell)) break;
        Cell word = b->cells()[i];
        if (type_of(&word) == TYPE_SET_WORD) add(context, &word);
    }
    return word_count(context) > before;
}

// ---------------------------------------------------------------------------
// Finding and adding words
// ---------------------------------------------------------------------------

int32_t find_or_add(node_t context, uint32_t symbol, bool case_, bool add, int32_t* out) {
    int64_t empty = -1;
    int32_t position = probe(context, symbol, case_, &empty);
    if (position >= 0) {
        auto index = static_cast<int32_t>(symbol_at(context, position)->data3);
        if (out) *out = index;
        return index;
    }
    if (!add) return -1;
    collector::Hold hold;
    hashtable::Record* r = table_record(context);
    if (r->occupied >= r->upper) {
        hashtable::resize(record_of(context)->data1, hashtable::words_grow_request(r));
        probe(context, symbol, case_, &empty);
    }
    assert(empty >= 0);
    int32_t n = word_count(context);
    *memory::alloc_tail(symbols_node(context)) =
        Cell{TYPE_WORD, context, symbol, static_cast<uint32_t>(n)};
    r = table_record(context);
    hashtable::set_state_at(hashtable::flags_of(r), static_cast<uint32_t>(empty),
                            hashtable::BUCKET_LIVE);
    hashtable::buckets_of(r)[empty] = n;
    r->count++;
    r->occupied++;
    if (out) *out = n;
    return -1;
}

int32_t find_word(node_t context, uint32_t symbol, bool case_) {
    return find_or_add(context, symbol, case_, false, nullptr);
}

int32_t add_word(node_t context, uint32_t symbol, bool case_, int32_t* out) {
    return find_or_add(context, symbol, case_, true, out);
}

int32_t add(node_t context, const Cell* word) {
    collector::Hold hold;
    int32_t n = -1;
    int32_t index = find_or_add(context, word->data2, true, true, &n);
    if (index >= 0) return index;
    Cell* record = record_of(context);
    if (!(record->header & FLAG_CONTEXT_ON_STACK) && record->data2)
        memory::alloc_tail(record->data2);
    return n;
}

Cell* add_value(node_t context, const Cell* word, const Cell* value) {
    collector::Hold hold;
    Cell copy = *value;
    int32_t n = -1;
    if (find_or_add(context, word->data2, true, true, &n) >= 0) return nullptr;
    Cell* record = record_of(context);
    if ((record->header & FLAG_CONTEXT_ON_STACK) || !record->data2) return nullptr;
    Cell* slot = memory::alloc_tail(record->data2);
    *slot = copy;
    return slot;
}

void put(node_t context, const Cell* word, const Cell* value) {
    collector::Hold hold;
    Cell copy = *value;
    int32_t index = add(context, word);
    *value_ptr_checked(context, index) = copy;
}

Cell* find_word_cell(node_t context, uint32_t symbol, bool case_) {
    int64_t empty;
    int32_t position = probe(context, symbol, case_, &empty);
    return position < 0 ? nullptr : symbol_at(context, position);
}

Cell* resolve_word(node_t context, uint32_t symbol) {
    // Symbol 0 names nothing (a frame pushed without a word).
    static const Cell no_word = {TYPE_NONE, 0, 0, 0};
    if (!symbol) return const_cast<Cell*>(&no_word);
    if (context) {
        if (Cell* found = find_word_cell(context, symbol, false)) return found;
    }
    return word::from_symbol(symbol);
}

Cell* symbol_value(node_t context, uint32_t symbol) {
    if (on_stack_q(context)) context = global;
    int32_t index = find_word(context, symbol, true);
    if (index < 0 || !record_of(context)->data2) return nullptr;
    return value_ptr(context, index);
}

// ---------------------------------------------------------------------------
// Reading and writing
// ---------------------------------------------------------------------------

Cell* word_value_ptr(const Cell* word, node_t context) {
    auto index = static_cast<int32_t>(word->data3);
    if (index != -1 && context) {
        if (!record_of(context)->data2) fire(err::not_in_context, word);
        return value_ptr(context, index);
    }
    // An unbound self is the object it was bound for; a word bound to no
    // context at all has no value.
    if (index == -1 && word->data1 && is_self(word->data2)) return owner_of(word->data1);
    fire(err::no_value, word);
}

// Stores value through word in the context: an unbound word is first looked
// up by its exact spelling (added when absent) and takes the found index. A
// context without values refuses (not-defined). In an object context the
// word is marked as set, and with notify an object that has an event record
// hears of the change: the handler sees the old value (a copy pushed on the
// stack) and the new one, and the stack is as before afterwards.
Cell* set_in(Cell* word, const Cell* value, node_t context, bool notify) {
    Cell copy = *value;
    if (!context) fire(err::not_defined, word);
    if (static_cast<int32_t>(word->data3) == -1) {
        collector::Hold hold;
        int32_t index = find_word(context, word->data2, false);
        if (index < 0) {
            Cell w = *word;
            index = add(context, &w);
        }
        word->data3 = static_cast<uint32_t>(index);
    }
    // The record and the owner share the context's buffer; nothing below
    // allocates before the handler runs.
    Cell* record = record_of(context);
    const Cell* owner = record + 1;
    if (!record->data2) fire(err::not_defined, word);
    auto index = static_cast<int32_t>(word->data3);
    Cell* slot = value_ptr(context, index);
    if (record->header & FLAG_CONTEXT_ON_STACK) {
        *slot = copy;
        return slot;
    }
    if (((record->header & FLAG_CONTEXT_KIND_MASK) >> FLAG_CONTEXT_KIND_SHIFT) == KIND_OBJECT) {
        Cell* field = symbol_at(context, index);
        if (!(field->header & FLAG_FIELD_SET)) field->header |= FLAG_FIELD_SET;
        if (notify && owner->data3 != 0 && on_change) {
            collector::Root keep(&context);
            Cell* saved_top = stack::top;
            Cell* old = stack::push(slot);
            Cell* own = stack::push(owner);
            Cell* w = stack::push(word);
            Cell* fresh = stack::push(&copy);
            *slot = copy;
            on_change(own, w, old, fresh);
            stack::top = saved_top;
            return value_ptr(context, index);
        }
    }
    *slot = copy;
    return slot;
}

Cell* value_ptr_checked(node_t context, int32_t index) {
    if (!record_of(context)->data2) fire(err::not_defined, symbol_at(context, index));
    return value_ptr(context, index);
}

Cell* set_checked(node_t context, int32_t index) {
    if (type_of(last_cell()) == TYPE_UNSET) fire(err::need_value, symbol_at(context, index));
    return set_from_top(context, index);
}

void set_checked_reset(node_t context, int32_t index) {
    set_checked(context, index);
    stack::reset();
}

Cell* set_from_top(node_t context, int32_t index) {
    Cell* slot = value_ptr_checked(context, index);
    *slot = *last_cell();
    mark_field(context, index);
    return slot;
}

void set_from_top_reset(node_t context, int32_t index) {
    set_from_top(context, index);
    stack::reset();
}

void swap_value(node_t context, int32_t index) {
    Cell previous = *last_cell();
    Cell* slot = value_ptr_checked(context, index);
    stack::push(slot);
    *slot = previous;
    mark_field(context, index);
}

void push_value(node_t context, int32_t index) { stack::push(value_ptr_checked(context, index)); }

Cell* push_word(node_t context, int32_t index) { return stack::push(symbol_at(context, index)); }

Cell* push_get_word(node_t context, int32_t index) {
    return set_type(push_word(context, index), TYPE_GET_WORD);
}

Cell* push_refinement(node_t context, int32_t index) {
    return set_type(push_word(context, index), TYPE_REFINEMENT);
}

// ---------------------------------------------------------------------------
// Binding
// ---------------------------------------------------------------------------

int32_t bind_word(node_t context, Cell* word) {
    int32_t index = find_word(context, word->data2, true);
    if (index >= 0) {
        word->data1 = context;
        word->data3 = static_cast<uint32_t>(index);
    }
    return index;
}

void bind(const Cell* block, node_t context, bool self) {
    bind_series(block->data2, block->data1, context, self);
}

} // namespace mox::context
