// function! and routine! (see function.h).
#include "datatypes/function.h"

#include <cstring>

#include "core/actions.h"
#include "core/context.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/string.h"

namespace mox::function {

namespace {

bool argument_q(uint32_t t) { return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD; }

bool same_symbol(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

// The value a word of a spec names (its binding, else the global word), or
// null when it has none.
const Cell* word_value(const Cell* word) {
    if (word->data1 && static_cast<int32_t>(word->data3) >= 0 &&
        context::record_of(word->data1)->data2 && !context::on_stack_q(word->data1))
        return context::value_ptr(word->data1, static_cast<int32_t>(word->data3));
    return context::symbol_value(context::global, word->data2);
}

// Every item of an argument's type block names a type or a set of types.
void check_type_block(const Cell* types) {
    memory::SeriesBuffer* b = memory::buffer_of(types->data2);
    for (const Cell* c = b->cells() + types->data1; c < b->cells_tail(); c++) {
        uint32_t t = type_of(c);
        if (t == TYPE_DATATYPE || t == TYPE_TYPESET) continue;
        if (t == TYPE_WORD) {
            const Cell* v = word_value(c);
            uint32_t vt = v ? type_of(v) : uint32_t{TYPE_UNSET};
            if (vt == TYPE_DATATYPE || vt == TYPE_TYPESET || vt == TYPE_WORD) continue;
        }
        Cell item = *c;
        fire(err::invalid_type_spec, &item);
    }
}

[[noreturn]] void bad_spec(const Cell* spec) {
    Cell whole = *spec;
    fire(err::bad_func_def, &whole);
}

} // namespace

// ---------------------------------------------------------------------------
// Specs
// ---------------------------------------------------------------------------

uint32_t validate_spec(const Cell* spec) {
    memory::SeriesBuffer* b = memory::buffer_of(spec->data2);
    const Cell* begin = b->cells() + spec->data1;
    const Cell* end = b->cells_tail();
    if (begin > end) begin = end;
    uint32_t flags = 0;
    const Cell* c = begin;
    if (c < end && type_of(c) == TYPE_BLOCK) {
        memory::SeriesBuffer* ab = memory::buffer_of(c->data2);
        for (const Cell* a = ab->cells() + c->data1; a < ab->cells_tail(); a++) {
            if (type_of(a) != TYPE_WORD) bad_spec(spec);
            if (same_symbol(a->data2, words::trace))
                flags |= FLAG_TRACE;
            else if (same_symbol(a->data2, words::no_trace))
                flags |= FLAG_NO_TRACE;
        }
        c++;
    }
    bool seen_return = false, seen_local = false;
    for (; c < end; c++) {
        uint32_t t = type_of(c);
        const Cell* next = c + 1 < end ? c + 1 : nullptr;
        uint32_t nt = next ? type_of(next) : uint32_t{TYPE_NONE_ID};
        if (argument_q(t)) {
            if (seen_local && t != TYPE_WORD) bad_spec(spec);
            if (seen_return && !seen_local) bad_spec(spec);
            if (nt == TYPE_BLOCK) {
                check_type_block(next);
                c++;
                if (c + 1 < end && type_of(c + 1) == TYPE_STRING && c + 2 < end &&
                    type_of(c + 2) == TYPE_BLOCK)
                    bad_spec(spec);
            } else if (nt == TYPE_STRING && c + 2 < end && type_of(c + 2) == TYPE_BLOCK) {
                bad_spec(spec);
            }
        } else if (t == TYPE_STRING) {
            continue;
        } else if (t == TYPE_SET_WORD) {
            if (!same_symbol(c->data2, words::return_) || seen_return || seen_local) bad_spec(spec);
            seen_return = true;
            if (nt != TYPE_BLOCK) bad_spec(spec);
            c++;
            if (c + 1 < end) {
                uint32_t after = type_of(c + 1);
                if (after != TYPE_REFINEMENT && after != TYPE_STRING) bad_spec(spec);
            }
        } else if (t == TYPE_REFINEMENT) {
            if (same_symbol(c->data2, words::refinements::local.data2))
                seen_local = true;
            else if (seen_local || seen_return)
                bad_spec(spec);
            if (next && !argument_q(nt) && nt != TYPE_REFINEMENT && nt != TYPE_SET_WORD &&
                nt != TYPE_STRING)
                bad_spec(spec);
        } else {
            bad_spec(spec);
        }
    }
    // Arguments and refinements share one name space.
    for (const Cell* a = begin; a < end; a++) {
        if (!argument_q(type_of(a)) && type_of(a) != TYPE_REFINEMENT) continue;
        for (const Cell* p = begin; p < a; p++) {
            if (!argument_q(type_of(p)) && type_of(p) != TYPE_REFINEMENT) continue;
            if (same_symbol(p->data2, a->data2)) {
                Cell item = *a;
                fire(err::dup_vars, &item);
            }
        }
    }
    return flags;
}

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

Cell* push(const Cell* spec, const Cell* body, uint32_t flags, const Cell* object) {
    Cell* base = stack::top;
    Cell* result = stack::push_cell();
    // The spec always starts at its head: one at another index is copied.
    Cell* s = stack::push(spec);
    if (s->data1 != 0) s = block::clone(s, false, false);
    Cell* b = nullptr;
    if (body) {
        Cell* original = stack::push(body);
        block::clip_index(original);
        b = block::clone(original, true, true);
    }
    Cell* extra = stack::push_cell();
    block::make_at(extra, EXTRA_CELLS);
    for (int32_t i = 0; i < EXTRA_CELLS; i++) make_unset(block::alloc_tail(extra));
    node_t context = context::make_from_spec(s, true, false, context::KIND_FUNCTION);
    if (boot::loading) flags |= FLAG_BOOT;
    *result = Cell{TYPE_FUNCTION | flags, context, s->data2, extra->data2};
    *context::owner_of(context) = *result;
    Cell* cells = extra_of(result);
    if (b) {
        cells[EXTRA_BODY] = *b;
        context::bind(b, context, false);
    } else {
        make_none(&cells[EXTRA_BODY]);
    }
    if (object) extra_of(result)[EXTRA_OBJECT] = *object;
    stack::top = base + 1;
    return result;
}

void push_refinement_defaults(int32_t n) {
    make_logic(stack::push_cell(), false);
    for (int32_t i = 1; i < n; i++) make_none(stack::push_cell());
}

void spec_argument_word(const Cell* call, int32_t n, Cell* out) {
    make_none(out);
    if (!is_any_word(type_of(call))) return;
    Cell* callable = context::symbol_value(call->data1, call->data2);
    if (!callable) return;
    switch (type_of(callable)) {
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_OP:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
        break;
    default:
        return;
    }
    memory::SeriesBuffer* spec = memory::buffer_of(callable->data2);
    for (Cell* c = spec->cells(); c < spec->cells_tail(); c++) {
        uint32_t t = type_of(c);
        if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_REFINEMENT)
            continue;
        if (n-- == 0) {
            *out = *c;
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

// make function! [spec body]. May collect.
Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (type_of(spec) != TYPE_BLOCK || block::rs_length_q(spec) < 2) {
        Cell bad = *spec;
        fire(err::bad_func_def, &bad);
    }
    const Cell* items = block::rs_head(spec);
    if (type_of(&items[0]) != TYPE_BLOCK || type_of(&items[1]) != TYPE_BLOCK) {
        Cell bad = *spec;
        fire(err::bad_func_def, &bad);
    }
    Cell* fn_spec = stack::push(&items[0]);
    Cell* fn_body = stack::push(&block::rs_head(spec)[1]);
    uint32_t flags = validate_spec(fn_spec);
    Cell* fn = push(fn_spec, fn_body, flags, nullptr);
    *proto = *fn;
    stack::top = fn_spec;
    return proto;
}

// May collect.
Cell* reflect(Cell* value, int32_t field_symbol) {
    uint32_t field = symbol::resolve(static_cast<uint32_t>(field_symbol));
    Cell* result = stack::push_cell();
    if (field == symbol::resolve(words::spec)) {
        make_series(result, TYPE_BLOCK, value->data2);
    } else if (field == symbol::resolve(words::body)) {
        *result = extra_of(value)[EXTRA_BODY];
    } else if (field == symbol::resolve(words::words)) {
        Cell* fn = stack::push(value);
        Cell* list = stack::push_cell();
        int32_t n = context::word_count(fn->data1);
        block::make_at(list, n);
        for (int32_t i = 0; i < n; i++) {
            Cell word = *context::symbol_at(fn->data1, i);
            set_type(&word, TYPE_WORD);
            word.data1 = fn->data1;
            word.data3 = static_cast<uint32_t>(i);
            *block::alloc_tail(list) = word;
        }
        *result = *list;
        stack::top = result + 1;
    } else {
        fire(err::not_done);
    }
    return result;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    const char* text = type_of(value) == TYPE_ROUTINE ? "?routine?" : "?function?";
    string::concatenate_literal(buffer, text);
    return limit - static_cast<int32_t>(std::strlen(text));
}

// May collect.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    Cell* saved = stack::top;
    Cell* v = stack::push(value);
    bool routine = type_of(v) == TYPE_ROUTINE;
    const char* head = routine ? "routine " : "func ";
    string::concatenate_literal(buffer, head);
    limit -= static_cast<int32_t>(std::strlen(head));
    Cell* spec = stack::push_cell();
    make_series(spec, TYPE_BLOCK, v->data2);
    limit = block::mold(spec, buffer, false, all, flat, part, limit, indent);
    Cell* body = stack::push(&extra_of(v)[EXTRA_BODY]);
    if (type_of(body) == TYPE_BLOCK) {
        limit = block::mold(body, buffer, false, all, flat, part, limit, indent);
    } else {
        string::concatenate_literal(buffer, " ");
        limit = actions::mold(body, buffer, false, all, flat, part, limit - 1, indent);
    }
    stack::top = saved;
    return limit;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value1) != type_of(value2)) return COMPARE_NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_STRICT_EQUAL:
    case COMP_SORT:
    case COMP_CASE_SORT:
    case COMP_SAME:
    case COMP_FIND:
        return value1->data3 == value2->data3 ? 0 : (value1->data3 < value2->data3 ? -1 : 1);
    default:
        return COMPARE_NOT_COMPARABLE;
    }
}

void init_function() {
    datatype::register_type(TYPE_FUNCTION, TYPE_CONTEXT, "function!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_REFLECT>(&reflect)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare));
}

void init_routine() {
    datatype::register_type(TYPE_ROUTINE, TYPE_FUNCTION, "routine!",
                            // make comes from the evaluator's routines (start-up
                            // provides it).
                            datatype::ActionSlots::none()
                                .inherit<A_REFLECT>()
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare));
}

} // namespace mox::function
