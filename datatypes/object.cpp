// object! (see object.h).
//
// Objects are built on the evaluation stack: the object cell being made is
// a stack cell, so the collector rewrites its context node if the node's
// frame is evacuated, and every buffer is re-read through it after an
// allocation.
#include "datatypes/object.h"

#include <algorithm>
#include <cstring>

#include "core/actions.h"
#include "core/collector.h"
#include "core/context.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/evaluator-hooks.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"

namespace mox::object {

namespace {

uint32_t class_counter = CLASS_ERROR;
constexpr uint32_t NO_HANDLER = 0xFFFF0000u;
const Cell shared_none{TYPE_NONE, 0, 0, 0};
const Cell shared_unset{TYPE_UNSET, 0, 0, 0};

inline bool same_symbol(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

inline uint32_t on_change_symbol() { return words::global::on_change_star.data2; }
inline uint32_t on_deep_change_symbol() { return words::global::on_deep_change_star.data2; }

inline bool handler_symbol_q(uint32_t s) {
    return same_symbol(s, on_change_symbol()) || same_symbol(s, on_deep_change_symbol());
}

// The /local slots of a function spec: the refinement and the words after it.
int32_t locals_of(const Cell* function) {
    memory::SeriesBuffer* spec = memory::buffer_of(function->data2);
    int32_t n = 0;
    for (Cell* c = spec->cells(); c < spec->cells_tail(); c++) {
        uint32_t t = type_of(c);
        if (n == 0) {
            if (t == TYPE_REFINEMENT && same_symbol(c->data2, words::global::local.data2)) n = 1;
        } else if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD) {
            n++;
        } else if (t == TYPE_REFINEMENT) {
            break;
        }
    }
    return n;
}

// The record cell of a handler (0 on-change*, 1 on-deep-change*).
inline Cell* record_cell(const Cell* object, int which) {
    return memory::buffer_of(object->data3)->cells() + which;
}

// Makes a copy of the object with the same words and values (its own
// context, same type and class, no record) on the stack and returns it.
Cell* push_copy(const Cell* source) {
    Cell* result = stack::push(source);
    result->data3 = 0;
    result->header &= HEADER_TYPE_MASK;
    context::clone(result, context::KIND_OBJECT);
    *context::owner_of(result->data1) = *result;
    // A context may hold fewer values than words (a global-like context);
    // the copy's missing values stay unset.
    const node_t from = source->data1;
    const node_t values = context::record_of(from)->data2;
    int32_t n = context::word_count(result->data1);
    if (!values || context::on_stack_q(from))
        n = 0;
    else
        n = std::min<int32_t>(n, memory::buffer_of(values)->used_bytes() / sizeof(Cell));
    if (n > 0) std::memcpy(get_values(result->data1), get_values(from), sizeof(Cell) * n);
    return result;
}

// Replaces value i of the object's context by its deep copy.
void deep_copy_value(Cell* object, int32_t i) {
    Cell* saved = stack::top;
    Cell* v = stack::push(context::value_ptr(object->data1, i));
    Cell* d = stack::push_cell();
    actions::copy(v, d, nullptr, true, nullptr);
    d->header = (d->header & ~FLAG_NEW_LINE) | (v->header & FLAG_NEW_LINE);
    *context::value_ptr(object->data1, i) = *d;
    stack::top = saved;
}

// Binds a method body copied for a derived object to the object, then to the
// method's own words, exactly as two bind passes would. Bodies hold many
// uses of few words, so each word's outcome is worked out once per walk.
class BodyBinder {
  public:
    BodyBinder(node_t object_context, node_t function_context)
        : object_(object_context), function_(function_context) {
        for (Entry& e : table_) e.key = EMPTY;
    }

    void walk(node_t series, uint32_t index) {
        if (cycles::find(series)) return;
        cycles::Scope scope(series);
        memory::SeriesBuffer* b = memory::buffer_of(series);
        Cell* end = b->cells_tail();
        for (Cell* c = b->cells() + index; c < end; c++) {
            uint32_t t = type_of(c);
            if (t >= TYPE_WORD && t <= TYPE_REFINEMENT) {
                const Entry& e = outcome(c->data2, t == TYPE_WORD);
                if (e.in_function >= 0) {
                    c->data1 = function_;
                    c->data3 = static_cast<uint32_t>(e.in_function);
                } else if (e.in_object != ABSENT) {
                    c->data1 = object_;
                    c->data3 = static_cast<uint32_t>(e.in_object);
                }
            } else if (is_any_block(t)) {
                walk(c->data2, c->data1);
            }
        }
    }

  private:
    static constexpr uint32_t EMPTY = 0xFFFFFFFFu;
    static constexpr int32_t ABSENT = -2;
    static constexpr uint32_t SLOTS = 256;
    struct Entry {
        uint32_t key;
        int32_t in_object; // ABSENT, -1 for self, else the field
        int32_t in_function;
    };

    Entry compute(uint32_t symbol, bool plain_word) const {
        Entry e{0, ABSENT, context::find_word(function_, symbol, true)};
        if (plain_word && words::self && symbol::resolve(symbol) == symbol::resolve(words::self)) {
            e.in_object = -1;
        } else {
            int32_t i = context::find_word(object_, symbol, true);
            if (i >= 0) e.in_object = i;
        }
        return e;
    }

    const Entry& outcome(uint32_t symbol, bool plain_word) {
        const uint32_t key = symbol << 1 | (plain_word ? 1u : 0u);
        uint32_t i = (key * 2654435761u) >> 24;
        for (uint32_t n = 0; n < SLOTS; n++, i = (i + 1) & (SLOTS - 1)) {
            if (table_[i].key == key) return table_[i];
            if (table_[i].key == EMPTY) {
                if (used_ * 4 >= SLOTS * 3) break;
                used_++;
                table_[i] = compute(symbol, plain_word);
                table_[i].key = key;
                return table_[i];
            }
        }
        spill_ = compute(symbol, plain_word);
        return spill_;
    }

    node_t object_;
    node_t function_;
    Entry table_[SLOTS];
    Entry spill_{};
    uint32_t used_ = 0;
};

void rebind_body(Cell* body, node_t object_context, node_t function_context) {
    BodyBinder(object_context, function_context).walk(body->data2, body->data1);
}

void rebind_value(Cell* object, int32_t i) {
    Cell* saved = stack::top;
    Cell* f = stack::push(context::value_ptr(object->data1, i));
    rebind_function(f, object->data1);
    *context::value_ptr(object->data1, i) = *f;
    stack::top = saved;
}

// Appends a field's value as mold shows it.
int32_t mold_field_value(Cell* v, Cell* buffer, bool all, bool flat, Cell* part, int32_t limit,
                         int32_t indent) {
    if (type_of(v) == TYPE_NONE_ID) {
        string::concatenate_literal(buffer, "unset!");
        return limit - 6;
    }
    if (type_of(v) == TYPE_WORD) {
        string::append_char(buffer, '\'');
        limit--;
    }
    return actions::mold(v, buffer, false, all, flat, part, limit, indent);
}

// The comparison of two field values: the direct form for values of one
// kind, else the order of their type IDs.
int32_t compare_values(Cell* a, Cell* b, int32_t op) {
    uint32_t ta = type_of(a), tb = type_of(b);
    auto number = [](uint32_t t) {
        return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT;
    };
    if (ta == tb || (is_any_word(ta) && is_any_word(tb)) || (number(ta) && number(tb))) {
        if (ta == TYPE_UNSET || ta == TYPE_NONE) return 0;
        int32_t r = actions::compare(a, b, op);
        return r == COMPARE_NOT_COMPARABLE ? 1 : r;
    }
    return ta < tb ? -1 : 1;
}

void on_change_hook(Cell* owner, Cell* word, Cell* old, Cell* value) {
    call_on_change(owner, word, old, value);
}

} // namespace

uint32_t new_class_id() { return ++class_counter; }

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

Cell* make_at(Cell* cell, int32_t n) {
    node_t ctx = context::create(n, false, true, 0, context::KIND_OBJECT);
    *cell = Cell{TYPE_OBJECT, ctx, 0, 0};
    *context::owner_of(ctx) = *cell;
    return cell;
}

namespace {

// What an owner owns through a field: a series, a bitset, or the series of
// a nested object.
bool owned_kind_q(uint32_t t) { return is_series(t) || t == TYPE_BITSET || t == TYPE_OBJECT; }

// Makes the object the owner of what its fields hold, each through its
// field's word. May collect.
void own_fields(Cell* object) {
    if (!series::ownership.bind_object) return;
    for (int32_t i = 0, n = field_count(object->data1); i < n; i++) {
        Cell* saved = stack::top;
        Cell* v = stack::push(context::value_ptr(object->data1, i));
        if (owned_kind_q(type_of(v))) {
            Cell* w = stack::push(get_word(object->data1, i));
            series::ownership.bind_object(v, object, w);
        }
        stack::top = saved;
    }
}

// Gives up what the object's fields hold, whoever owns it; the object
// stops being an owner. May collect.
void release_fields(Cell* object) {
    if (series::ownership.unbind)
        for (int32_t i = 0, n = field_count(object->data1); i < n; i++) {
            Cell* saved = stack::top;
            series::ownership.unbind(stack::push(context::value_ptr(object->data1, i)));
            stack::top = saved;
        }
    context::record_of(object->data1)->header &= ~ownership::FLAG_CONTEXT_OWNER;
}

} // namespace

void init_events(Cell* object) {
    const int32_t indexes[2] = {find_field(object->data1, on_change_symbol()),
                                find_field(object->data1, on_deep_change_symbol())};
    object->data3 = 0;
    if (indexes[0] < 0 && indexes[1] < 0) {
        *context::owner_of(object->data1) = *object;
        return;
    }
    Cell pairs[2];
    for (int k = 0; k < 2; k++) {
        pairs[k] = Cell{TYPE_PAIR, 0, NO_HANDLER, 0};
        if (indexes[k] < 0) continue;
        Cell* handler = context::value_ptr(object->data1, indexes[k]);
        uint32_t t = type_of(handler);
        if (t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
            Cell word = *get_word(object->data1, indexes[k]);
            set_type(&word, TYPE_WORD);
            Cell dt;
            make_datatype(&dt, t);
            fire(err::bad_field_set, &word, &dt);
        }
        pairs[k].data2 =
            static_cast<uint32_t>(indexes[k]) << 16 | static_cast<uint32_t>(locals_of(handler));
        pairs[k].data3 = handler->data2;
    }
    node_t record = memory::alloc_cells(2);
    memory::SeriesBuffer* b = memory::buffer_of(record);
    b->cells()[0] = pairs[0];
    b->cells()[1] = pairs[1];
    b->tail = b->head + 2 * sizeof(Cell);
    object->data3 = record;
    *context::owner_of(object->data1) = *object;
    if (indexes[1] >= 0) own_fields(object);
}

void clone_series(Cell* object) {
    for (int32_t i = 0, n = field_count(object->data1); i < n; i++) {
        uint32_t t = type_of(context::value_ptr(object->data1, i));
        if (is_series(t)) {
            deep_copy_value(object, i);
            if (is_any_block(t)) {
                Cell* saved = stack::top;
                Cell* v = stack::push(context::value_ptr(object->data1, i));
                context::bind(v, object->data1, true);
                stack::top = saved;
            }
        } else if (t == TYPE_FUNCTION) {
            rebind_value(object, i);
        }
    }
}

void rebind_function(Cell* function, node_t object_context) {
    collector::Root keep(&object_context);
    node_t extra = function->data3;
    if (!extra || memory::buffer_of(extra)->used_bytes() < function::EXTRA_CELLS * sizeof(Cell) ||
        type_of(function::extra_of(function) + function::EXTRA_BODY) != TYPE_BLOCK)
        fire(err::bad_func_def, function);
    Cell* saved = stack::top;
    Cell* old_body = stack::push(function::extra_of(function) + function::EXTRA_BODY);
    context::clone(function, context::KIND_FUNCTION);
    Cell* body = block::clone(old_body, true, true);
    rebind_body(body, object_context, function->data1);
    node_t fresh = memory::alloc_cells(function::EXTRA_CELLS);
    memory::SeriesBuffer* nb = memory::buffer_of(fresh);
    Cell* cells = nb->cells();
    for (int32_t i = 0; i < function::EXTRA_CELLS; i++) make_unset(cells + i);
    nb->tail = nb->head + function::EXTRA_CELLS * sizeof(Cell);
    cells[function::EXTRA_BODY] = *body;
    cells[function::EXTRA_OBJECT] = *context::owner_of(object_context);
    function->data3 = fresh;
    *context::owner_of(function->data1) = *function;
    stack::top = saved;
}

Cell* make_from_spec(Cell* spec, Cell* prototype, bool only) {
    Cell* result;
    if (prototype && type_of(prototype) == TYPE_OBJECT) {
        result = push_copy(prototype);
    } else {
        result = make_at(stack::push_cell(), 4);
        result->data2 = new_class_id();
    }
    context::collect_set_words(result->data1, spec);
    const uint32_t total = block::abs_length(spec);
    for (uint32_t i = spec->data1; i < total; i++) {
        Cell item = *block::ms_abs_at(spec, i);
        if (type_of(&item) != TYPE_SET_WORD) continue;
        uint32_t j = i + 1;
        while (j < total && type_of(block::ms_abs_at(spec, j)) == TYPE_SET_WORD) j++;
        Cell value = shared_none;
        if (j < total) value = *block::ms_abs_at(spec, j);
        if (!only && type_of(&value) == TYPE_WORD) {
            uint32_t s = value.data2;
            if (same_symbol(s, words::true_) || same_symbol(s, words::yes) ||
                same_symbol(s, words::on))
                make_logic(&value, true);
            else if (same_symbol(s, words::false_) || same_symbol(s, words::no) ||
                     same_symbol(s, words::off))
                make_logic(&value, false);
            else if (same_symbol(s, words::none))
                make_none(&value);
        }
        clear_new_line(&value);
        int32_t index = find_field(result->data1, item.data2);
        *context::value_ptr(result->data1, index) = value;
    }
    init_events(result);
    return result;
}

// ---------------------------------------------------------------------------
// Lookup
// ---------------------------------------------------------------------------

Cell* find_value(node_t context, uint32_t symbol) {
    int32_t i = find_field(context, symbol);
    return i < 0 ? const_cast<Cell*>(&shared_none) : context::value_ptr(context, i);
}

int32_t find_field(node_t context, uint32_t symbol) {
    return context::find_word(context, symbol, true);
}

Cell* get_word(node_t context, int32_t index) { return context::symbol_at(context, index); }

Cell* get_values(node_t context) { return context::value_ptr(context, 0); }

int32_t field_count(node_t context) { return context::word_count(context); }

void clear_value_marks(node_t series) {
    memory::SeriesBuffer* b = memory::buffer_of(series);
    for (Cell* c = b->cells(); c < b->cells_tail(); c++) clear_new_line(c);
}

// ---------------------------------------------------------------------------
// Notification and assignment
// ---------------------------------------------------------------------------

// An object that owns its series hands ownership over with the field: the
// old series stops reporting to it, the new one starts.
static void pass_ownership(Cell* object, Cell* word, Cell* old, Cell* value) {
    if (record_cell(object, 1)->data2 >= NO_HANDLER || !series::ownership.bind_object) return;
    if (is_series(type_of(old)) || type_of(old) == TYPE_BITSET) {
        const Cell* record = series::ownership.owner_of(old->data2);
        if (record && record->data1 == object->data1) series::ownership.unbind(old);
    } else if (type_of(old) == TYPE_OBJECT) {
        series::ownership.unbind(old);
    }
    if (owned_kind_q(type_of(value))) series::ownership.bind_object(value, object, word);
}

void call_on_change(Cell* object, Cell* word, Cell* old, Cell* value) {
    if (!object->data3) return;
    pass_ownership(object, word, old, value);
    const uint32_t x = record_cell(object, 0)->data2;
    if (x >= NO_HANDLER) return;
    const auto index = static_cast<int32_t>(x >> 16);
    Cell* saved = stack::top;
    Cell* handler = stack::push(context::value_ptr(object->data1, index));
    if (type_of(handler) != TYPE_FUNCTION) fire(err::invalid_obj_evt, handler);
    if (record_cell(object, 0)->data3 != handler->data2) {
        Cell* r = record_cell(object, 0);
        r->data2 = static_cast<uint32_t>(index) << 16 | static_cast<uint32_t>(locals_of(handler));
        r->data3 = handler->data2;
    }
    Cell* args = stack::push(word);
    set_type(args, TYPE_WORD);
    if (args->data1 != object->data1) context::bind_word(object->data1, args);
    stack::push(old);
    stack::push(value);
    Cell* out = stack::push_cell();
    evaluator::call_value(handler, args, 3, out);
    stack::top = saved;
}

void set_many(Cell* object, Cell* value, bool any, bool only, bool some) {
    const uint32_t vt = type_of(value);
    const bool from_block = !only && vt == TYPE_BLOCK;
    const bool from_object = !only && vt == TYPE_OBJECT;
    const bool events = object->data3 != 0;
    const int32_t n = field_count(object->data1);
    if (!any && !some && !only) {
        int32_t count = n;
        if (from_block) count = std::min(count, block::rs_length_q(value));
        if (from_object) count = std::min(count, field_count(value->data1));
        for (int32_t i = 0; i < count; i++) {
            const Cell* v = from_block    ? block::ms_abs_at(value, value->data1 + i)
                            : from_object ? context::value_ptr(value->data1, i)
                                          : value;
            if (type_of(v) == TYPE_UNSET) {
                Cell w = *get_word(object->data1, i);
                fire(err::need_value, set_type(&w, TYPE_WORD));
            }
        }
    }
    for (int32_t i = 0; i < n; i++) {
        Cell* saved = stack::top;
        Cell* w = stack::push(get_word(object->data1, i));
        set_type(w, TYPE_WORD);
        w->header &= HEADER_TYPE_MASK;
        if (events && handler_symbol_q(w->data2)) {
            stack::top = saved;
            continue;
        }
        Cell* v;
        if (from_block) {
            v = block::rs_length_q(value) > i
                    ? stack::push(block::ms_abs_at(value, value->data1 + static_cast<uint32_t>(i)))
                    : stack::push(&shared_none);
        } else if (from_object) {
            int32_t j = find_field(value->data1, w->data2);
            if (j < 0) {
                stack::top = saved;
                continue;
            }
            v = stack::push(context::value_ptr(value->data1, j));
        } else {
            v = stack::push(value);
        }
        if (!(some && type_of(v) == TYPE_NONE)) context::set_in(w, v, object->data1, true);
        stack::top = saved;
    }
}

int32_t serialize(Cell* object, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                  int32_t limit, bool mold, int32_t indent) {
    cycles::Scope walk(object->data1);
    bool first = true;
    for (int32_t i = 0, n = field_count(object->data1); i < n; i++) {
        if (part && limit < 1) break;
        Cell* saved = stack::top;
        Cell* w = stack::push(get_word(object->data1, i));
        if (!all && handler_symbol_q(w->data2)) {
            stack::top = saved;
            continue;
        }
        w->header = TYPE_WORD;
        Cell* v = stack::push(context::value_ptr(object->data1, i));
        if (!first && (flat || !mold)) {
            string::append_char(buffer, mold ? ' ' : '\n');
            limit--;
        }
        if (mold && !flat && !only) limit = string::append_indent(buffer, indent + 1, limit);
        limit = word::form(w, buffer, part, limit);
        string::concatenate_literal(buffer, ": ");
        limit -= 2;
        limit = mold_field_value(v, buffer, all, flat, part, limit, indent + 1);
        if (mold && !flat) {
            string::append_char(buffer, '\n');
            limit--;
        }
        first = false;
        stack::top = saved;
    }
    return limit;
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

int32_t mold_framed(Cell* object, const char* header, Cell* buffer, bool only, bool all, bool flat,
                    Cell* part, int32_t limit, int32_t indent) {
    if (!only) {
        string::concatenate_literal(buffer, header);
        limit -= static_cast<int32_t>(std::strlen(header));
        if (!flat) {
            string::append_char(buffer, '\n');
            limit--;
        }
    }
    limit = serialize(object, buffer, only, all, flat, part, limit, true, indent);
    if (!only) {
        if (!flat) limit = string::append_indent(buffer, indent, limit);
        string::append_char(buffer, ']');
        limit--;
    }
    return limit;
}

// make: from the object! datatype or a prototype object, with a block spec
// (evaluated in the new object) or an object spec (merged in).
Cell* make(Cell* proto, Cell* spec, int32_t type) {
    const uint32_t st = type_of(spec);
    if (st != TYPE_BLOCK && st != TYPE_OBJECT) fire(err::malconstruct, spec);
    const bool from_proto = type_of(proto) == TYPE_OBJECT;
    Cell* result = from_proto ? push_copy(proto) : make_at(stack::push_cell(), 4);
    const int32_t before = field_count(result->data1);
    if (st == TYPE_OBJECT) {
        for (int32_t i = 0, n = field_count(spec->data1); i < n; i++) {
            Cell* saved = stack::top;
            Cell* w = stack::push(get_word(spec->data1, i));
            set_type(w, TYPE_WORD);
            Cell* v = stack::push(context::value_ptr(spec->data1, i));
            context::put(result->data1, w, v);
            stack::top = saved;
        }
        clone_series(result);
    } else {
        context::collect_set_words(result->data1, spec);
        context::bind(spec, result->data1, true);
        if (from_proto) clone_series(result);
        Cell* out = stack::push_cell();
        evaluator::do_block(spec, out);
        stack::pop(1);
        Cell* words = context::symbols_buffer(result->data1);
        for (int32_t i = 0, n = field_count(result->data1); i < n; i++)
            words[i].header &= ~FLAG_FIELD_SET;
        clear_value_marks(context::record_of(result->data1)->data2);
    }
    const bool added = field_count(result->data1) > before;
    if (added || !from_proto) result->data2 = new_class_id();
    init_events(result);
    return result;
}

Cell* reflect(Cell* value, int32_t field_symbol) {
    const auto field = static_cast<uint32_t>(field_symbol);
    Cell* result = stack::push_cell();
    const int32_t n = field_count(value->data1);
    if (same_symbol(field, words::class_)) {
        make_integer(result, static_cast<int32_t>(value->data2));
    } else if (same_symbol(field, words::events_q)) {
        make_logic(result, value->data3 != 0);
    } else if (same_symbol(field, words::owner)) {
        make_logic(result,
                   (context::record_of(value->data1)->header & ownership::FLAG_CONTEXT_OWNER) != 0);
    } else if (same_symbol(field, words::words) || same_symbol(field, words::changed)) {
        const bool changed = same_symbol(field, words::changed);
        block::make_at(result, n);
        for (int32_t i = 0; i < n; i++) {
            Cell w = *get_word(value->data1, i);
            if (changed && !(w.header & FLAG_FIELD_SET)) continue;
            w.header = TYPE_WORD;
            block::ms_append(result, &w);
        }
    } else if (same_symbol(field, words::values)) {
        block::make_at(result, n);
        for (int32_t i = 0; i < n; i++) {
            Cell v = *context::value_ptr(value->data1, i);
            block::ms_append(result, &v);
        }
    } else if (same_symbol(field, words::body)) {
        block::make_at(result, 2 * n);
        for (int32_t i = 0; i < n; i++) {
            Cell w = *get_word(value->data1, i);
            w.header = TYPE_SET_WORD | FLAG_NEW_LINE;
            block::ms_append(result, &w);
            Cell v = *context::value_ptr(value->data1, i);
            if (type_of(&v) == TYPE_WORD)
                set_type(&v, TYPE_LIT_WORD);
            else if (type_of(&v) == TYPE_PATH)
                set_type(&v, TYPE_LIT_PATH);
            block::ms_append(result, &v);
        }
    } else {
        fire(err::not_done);
    }
    return result;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    if (cycles::find(value->data1)) {
        string::concatenate_literal(buffer, "...");
        return limit - 3;
    }
    return serialize(value, buffer, false, false, false, part, limit, false, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    if (cycles::find(value->data1)) {
        string::concatenate_literal(buffer, "make object! [...]");
        return limit - 18;
    }
    return mold_framed(value, "make object! [", buffer, only, all, flat, part, limit, indent);
}

// Paths into objects: the element word names a field (the binding is cached
// in the element); a missing field is unset at the tail of a get-path, else
// an error.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    const uint32_t et = type_of(element);
    if (et != TYPE_WORD && et != TYPE_SET_WORD && et != TYPE_GET_WORD && et != TYPE_LIT_WORD)
        fire(err::invalid_path, path, element);
    const node_t ctx = parent->data1;
    auto missing = [&]() -> Cell* {
        if (get && tail) return const_cast<Cell*>(&shared_unset);
        fire(tail ? err::invalid_path : err::unset_path, path, element);
    };
    int32_t index = static_cast<int32_t>(element->data3);
    if (element->data1 != ctx || index < 0 || index >= field_count(ctx)) {
        index = find_field(ctx, element->data2);
        if (index < 0) return missing();
        element->data1 = ctx;
        element->data3 = static_cast<uint32_t>(index);
    }
    if (value) {
        if (same_symbol(element->data2, words::self)) fire(err::invalid_path, path, element);
        Cell w = *element;
        w.header = TYPE_WORD;
        context::set_in(&w, value, ctx, notify);
        return value;
    }
    Cell* found = context::value_ptr(ctx, index);
    if (type_of(found) == TYPE_UNSET) return missing();
    return found;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_OBJECT) return COMPARE_NOT_COMPARABLE;
    const node_t a = value1->data1, b = value2->data1;
    if (a == b) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find(a) && cycles::find(b)) return 0;
    const int32_t na = field_count(a), nb = field_count(b);
    if (na != nb) return na > nb ? 1 : -1;
    cycles::Scope walk_a(a);
    cycles::Scope walk_b(b);
    for (int32_t i = 0; i < na; i++) {
        uint32_t sa = symbol::resolve(get_word(value1->data1, i)->data2);
        uint32_t sb = symbol::resolve(get_word(value2->data1, i)->data2);
        if (sa != sb) return sa < sb ? -1 : 1;
        Cell* saved = stack::top;
        Cell* va = stack::push(context::value_ptr(value1->data1, i));
        Cell* vb = stack::push(context::value_ptr(value2->data1, i));
        int32_t r = compare_values(va, vb, op);
        stack::top = saved;
        if (r != 0) return r;
    }
    return 0;
}

Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types) {
    if (part) series::fire_refine_arg("part", part);
    Cell* result = push_copy(value);
    const int32_t n = field_count(result->data1);
    if (types) {
        if (cycles::find(value->data1)) fire(err::no_cycle);
        cycles::Scope walk(value->data1);
        Cell* values = stack::push_cell();
        make_series(values, TYPE_BLOCK, context::record_of(result->data1)->data2);
        block::copy_types(values, 0, n, 1, types, deep);
        stack::pop(1);
    } else if (deep) {
        for (int32_t i = 0; i < n; i++)
            if (is_series(type_of(context::value_ptr(result->data1, i))))
                deep_copy_value(result, i);
    }
    for (int32_t i = 0; i < n; i++)
        if (type_of(context::value_ptr(result->data1, i)) == TYPE_FUNCTION) rebind_value(result, i);
    init_events(result);
    *dest = *result;
    return dest;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse) {
    const uint32_t t = type_of(value);
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD) {
        Cell dt;
        make_datatype(&dt, t);
        fire(err::invalid_type, &dt);
    }
    return stack::push(find_value(series->data1, value->data2));
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    if (type_of(key) != TYPE_WORD) {
        Cell dt;
        make_datatype(&dt, type_of(key));
        fire(err::invalid_key_type, &dt);
    }
    Cell* saved = stack::top;
    Cell* element = stack::push(key);
    eval_path(series, element, value, element, nullptr, nullptr, 0, case_, false, true, true);
    stack::top = saved;
    return value;
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool case_) {
    if (is_any_word(type_of(field)) && same_symbol(field->data2, words::changed)) {
        if (type_of(value) != TYPE_NONE) fire(err::invalid_arg, value);
        Cell* words = context::symbols_buffer(target->data1);
        for (int32_t i = 0, n = field_count(target->data1); i < n; i++)
            words[i].header &= ~FLAG_FIELD_SET;
    } else if (is_any_word(type_of(field)) && same_symbol(field->data2, words::owner)) {
        if (type_of(value) != TYPE_LOGIC) fire(err::invalid_arg, value);
        if (value->data1)
            own_fields(target);
        else
            release_fields(target);
    } else if (is_any_word(type_of(field)) && same_symbol(field->data2, words::owned) &&
               type_of(value) == TYPE_NONE) {
        // Whoever owns the object's series, they stop telling it.
        release_fields(target);
    } else {
        series::modify(target, field, value, case_);
    }
    return value;
}

void init() {
    datatype::register_type(TYPE_OBJECT, 0, "object!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_REFLECT>(&reflect)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_EVAL_PATH>(&eval_path)
                                .set<A_COMPARE>(&compare)
                                .set<A_COPY>(&copy)
                                .set<A_PUT>(&put)
                                .set<A_SELECT>(&select)
                                .set<A_MODIFY>(&modify));
    context::on_change = &on_change_hook;
}

} // namespace mox::object
