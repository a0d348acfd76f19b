// The ownership table and the deep-change notification of objects (see
// ownership.h).
//
// Binding and unbinding walk nested blocks and objects with an explicit
// work list rather than recursion, so a deeply nested or cyclic value
// cannot exhaust the native stack; they run with collections held off, so
// the nodes on the work list stay where they are.
#include "datatypes/ownership.h"

#include <unordered_set>
#include <vector>

#include "core/collector.h"
#include "core/context.h"
#include "core/evaluator-hooks.h"
#include "core/hashtable.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/object.h"
#include "datatypes/word.h"

namespace mox::ownership {

namespace {

constexpr int32_t TABLE_SIZE = 1000;
constexpr int32_t RECORD_CELLS = 3;
constexpr uint32_t NO_HANDLER = 0xFFFF0000u;

node_t table = 0;

// The action words of the change events, in series::Change order.
const char* const change_names[] = {
    "append", "appended",   "insert",  "inserted", "change",    "changed",  "clear",  "cleared",
    "move",   "moved",      "poke",    "poked",    "put",       "put-ed",   "remove", "removed",
    "random", "randomized", "reverse", "reversed", "sort",      "sorted",   "swap",   "swaped",
    "take",   "taken",      "trim",    "trimmed",  "uppercase", "lowercase"};
static_assert(sizeof change_names / sizeof *change_names ==
              static_cast<size_t>(series::Change::lowercase) + 1);
uint32_t change_symbols[sizeof change_names / sizeof *change_names];

// The values that carry an ownership flag on their buffer (an image on its
// node, when it has one): the series and bitset!.
bool flagged_kind_q(uint32_t t) { return is_series(t) || t == TYPE_BITSET; }

bool owned_q(node_t node) { return (memory::buffer_of(node)->flags & memory::SERIES_OWNED) != 0; }

bool owner_context_q(node_t context) {
    return (context::record_of(context)->header & FLAG_CONTEXT_OWNER) != 0;
}

void mark_table() { hashtable::gc_mark(&table); }
void sweep_table() { hashtable::sweep_weak(table); }

// One value to bind or unbind, with the owner's field word it is reached by.
struct Item {
    Cell value;
    Cell word;
};

// Pushes the cells of a block from index, or the fields of an object, as
// further items. The cells are copied: the walk holds collections off.
void push_contents(std::vector<Item>& work, const Cell* value, const Cell* word) {
    const uint32_t t = type_of(value);
    if (is_any_block(t)) {
        memory::SeriesBuffer* b = memory::buffer_of(value->data2);
        for (const Cell* c = b->cells() + value->data1; c < b->cells_tail(); c++)
            work.push_back({*c, *word});
        return;
    }
    const node_t ctx = value->data1;
    for (int32_t i = 0, n = object::field_count(ctx); i < n; i++)
        work.push_back({*context::value_ptr(ctx, i), *object::get_word(ctx, i)});
}

// The walk shared by bind and unbind; the fields of the object whose
// context is skip (the owner itself) are not walked.
template <typename Visit> void walk(const Cell* value, const Cell* word, node_t skip, Visit visit) {
    collector::Hold hold;
    std::vector<Item> work{{*value, *word}};
    std::unordered_set<node_t> objects{skip};
    while (!work.empty()) {
        Item item = work.back();
        work.pop_back();
        const uint32_t t = type_of(&item.value);
        if (t == TYPE_OBJECT) {
            if (!objects.insert(item.value.data1).second || owner_context_q(item.value.data1))
                continue;
            push_contents(work, &item.value, &item.word);
        } else if (flagged_kind_q(t) && item.value.data2 && visit(item) && is_any_block(t)) {
            push_contents(work, &item.value, &item.word);
        }
    }
}

// ---------------------------------------------------------------------------
// The owner's handler
// ---------------------------------------------------------------------------

// Calls the owner's on-deep-change* with owner, word, target, action, new,
// index and part; a handler field that holds no function is ignored. May
// collect.
void call_on_deep_change(Cell* owner, const Cell* word, const Cell* target, series::Change event,
                         const Cell* new_value, int32_t index, int32_t part) {
    if (!owner->data3) fire(err::invalid_obj_evt, owner);
    const uint32_t x = memory::buffer_of(owner->data3)->cells()[1].data2;
    if (x >= NO_HANDLER) return;
    const auto field = static_cast<int32_t>(x >> 16);
    Cell* saved = stack::top;
    Cell* handler = stack::push(context::value_ptr(owner->data1, field));
    if (type_of(handler) != TYPE_FUNCTION) {
        stack::top = saved;
        return;
    }
    Cell* args = stack::push(owner);
    Cell* w = stack::push(word);
    set_type(w, TYPE_WORD);
    stack::push(target);
    word::make_at(change_symbols[static_cast<int>(event)], stack::push_cell());
    if (new_value)
        stack::push(new_value);
    else
        make_none(stack::push_cell());
    make_integer(stack::push_cell(), index);
    make_integer(stack::push_cell(), part);
    Cell* out = stack::push_cell();
    evaluator::call_value(handler, args, 7, out);
    stack::top = saved;
}

int32_t check_hook(Cell* value, series::Change event, const Cell* new_value, int32_t index,
                   int32_t count) {
    return check(value, event, new_value, index, count);
}

} // namespace

void init() {
    for (size_t i = 0; i < sizeof change_names / sizeof *change_names; i++)
        change_symbols[i] = symbol::make(change_names[i]);
    table = hashtable::init(TABLE_SIZE, 0, hashtable::KIND_WEAK, RECORD_CELLS);
    collector::register_callback(&mark_table);
    collector::register_sweeper(&sweep_table);
    series::ownership = {&check_hook, &owner_of, &bind_object, &unbind};
}

void bind(Cell* value, Cell* owner, Cell* field_word) {
    const Cell o = *owner;
    walk(value, field_word, o.data1, [&o](Item& item) {
        // A flag without a record is left by an owner that died.
        const node_t node = item.value.data2;
        if (owned_q(node) && hashtable::get_key(table, node)) return false;
        memory::buffer_of(node)->flags |= memory::SERIES_OWNED;
        Cell* cells = hashtable::put_key(table, node);
        cells[0] = item.value;
        cells[1] = o;
        cells[2] = item.word;
        return true;
    });
}

void bind_object(Cell* value, Cell* owner, Cell* field_word) {
    bind(value, owner, field_word);
    context::record_of(owner->data1)->header |= FLAG_CONTEXT_OWNER;
}

void unbind(Cell* value) {
    Cell none;
    make_none(&none);
    walk(value, &none, 0, [](Item& item) {
        const node_t node = item.value.data2;
        if (!owned_q(node)) return false;
        memory::buffer_of(node)->flags &= ~memory::SERIES_OWNED;
        if (Cell* cells = hashtable::get_key(table, node))
            for (int32_t i = 0; i < RECORD_CELLS; i++) make_unset(cells + i);
        hashtable::delete_key(table, node);
        return true;
    });
}

void unbind_range(Cell* block, int32_t index, int32_t count) {
    for (int32_t i = 0; i < count; i++) {
        const uint32_t at = static_cast<uint32_t>(index + i);
        memory::SeriesBuffer* b = memory::buffer_of(block->data2);
        if (b->cells() + at >= b->cells_tail()) return;
        Cell v = b->cells()[at];
        unbind(&v);
    }
}

Cell* owner_of(node_t node) {
    if (!table || !node || !owned_q(node)) return nullptr;
    Cell* cells = hashtable::get_key(table, node);
    return cells ? cells + 1 : nullptr;
}

int32_t check(Cell* value, series::Change event, const Cell* new_value, int32_t index,
              int32_t part) {
    if (!flagged_kind_q(type_of(value))) return 0;
    Cell* cells = owner_of(value->data2);
    if (!cells || !cells[0].data3) return 0;
    Cell* saved = stack::top;
    Cell* owner = stack::push(cells);
    Cell* word = stack::push(cells + 1);
    Cell* target = stack::push(value);
    Cell* fresh = new_value ? stack::push(new_value) : nullptr;
    call_on_deep_change(owner, word, target, event, fresh, index, part);
    stack::top = saved;
    return 1;
}

} // namespace mox::ownership
