// The native body of view-face-set, the change handler that every face's
// on-change* calls: the common sets are done here, the others run the Mox
// body. The native path takes only sets whose every step is plain: no
// trace, no pane, font, para or selected word, a field or text face's text
// with no options and never its data, old and new values that are scalars,
// strings, blocks or objects, and a size or offset only when old and new are
// pairs or none. While the runner keeps to Mox bodies none of it is bound.
#include "core/actions.h"
#include "core/context.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "view/gui.h"

namespace mox::gui {

namespace {

struct Symbols {
    uint32_t system, view, debug_q, auto_sync_q, reactivity, check, type, state, extra, pane, font,
        para, selected, size, offset, field, text, data, options, edge, actors, window, rich_text,
        platform, update_view, show, view_text_data_strict, view_react_check, relations,
        debug_info_q;
    bool ready = false;
};
Symbols sym;

void ensure_symbols() {
    if (sym.ready) return;
    const char* names[] = {"system",
                           "view",
                           "debug?",
                           "auto-sync?",
                           "reactivity",
                           "check",
                           "type",
                           "state",
                           "extra",
                           "pane",
                           "font",
                           "para",
                           "selected",
                           "size",
                           "offset",
                           "field",
                           "text",
                           "data",
                           "options",
                           "edge",
                           "actors",
                           "window",
                           "rich-text",
                           "platform",
                           "update-view",
                           "show",
                           "view-text-data-strict",
                           "view-react-check",
                           "relations",
                           "debug-info?"};
    uint32_t* out = &sym.system;
    for (size_t i = 0; i < std::size(names); i++) out[i] = symbol::make(names[i]);
    sym.ready = true;
}

bool same(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

Cell* field(const Cell* object, uint32_t symbol) {
    return object::find_value(object->data1, symbol);
}

bool word_is(const Cell* value, uint32_t symbol) {
    return is_any_word(type_of(value)) && same(value->data2, symbol);
}

bool truthy(const Cell* v) {
    uint32_t t = type_of(v);
    return !(t == TYPE_NONE || (t == TYPE_LOGIC && !v->data1));
}

// Values whose set needs no ownership step but a string's or a block's.
bool plain(const Cell* v) {
    switch (type_of(v)) {
    case TYPE_NONE:
    case TYPE_LOGIC:
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_PAIR:
    case TYPE_TUPLE:
    case TYPE_POINT2D:
    case TYPE_PERCENT:
    case TYPE_CHAR:
    case TYPE_WORD:
    case TYPE_STRING:
    case TYPE_BLOCK:
    case TYPE_OBJECT:
    case TYPE_UNSET:
        return true;
    default:
        return false;
    }
}

// Calls a global function with count arguments from args; the result goes
// to out. A pending exit is raised.
void call_global(uint32_t name, const Cell* args, int32_t count, Cell* out) {
    Cell* fn = stack::push(word::get_value(word::from_symbol(name)));
    interpreter::call_value(fn, args, count, out);
}

// show of a realised face that is no group, no window and has no pending
// records: update-view when it has change bits. Anything else goes to show.
void show_face(Cell* face, Cell* view) {
    Cell* state = field(face, sym.state);
    Cell* values = block::rs_head(state);
    bool simple = !truthy(field(face, sym.pane)) && !word_is(field(face, sym.type), sym.window) &&
                  (type_of(values + 2) == TYPE_NONE ||
                   (type_of(values + 2) == TYPE_BLOCK && block::rs_length_q(values + 2) == 0));
    Cell* base = stack::top;
    Cell* out = make_none(stack::push_cell());
    if (!simple) {
        call_global(sym.show, face, 1, out);
    } else if (type_of(values + 1) == TYPE_INTEGER && values[1].data2 != 0) {
        Cell* platform = stack::push(field(view, sym.platform));
        Cell* routine = stack::push(field(platform, sym.update_view));
        interpreter::call_value(routine, face, 1, out);
    }
    stack::top = base;
}

bool boot_function(const Cell* v) {
    return type_of(v) == TYPE_FUNCTION && (v->header & function::FLAG_BOOT);
}

// True when checking the reactions of a field set cannot do anything: the
// library's own view-react-check and check run, and there is no relation
// (check then stops at once).
bool no_reactions(const Cell* reactivity) {
    const Cell* relations = field(reactivity, sym.relations);
    return boot_function(word::get_value(word::from_symbol(sym.view_react_check))) &&
           boot_function(field(reactivity, sym.check)) && type_of(relations) == TYPE_BLOCK &&
           block::rs_length_q(relations) == 0;
}

// True when the set of word from old to value was done here; false when the
// Mox steps must run (nothing has happened then). May collect.
bool set_natively(Cell* face, Cell* word, Cell* old, Cell* value) {
    ensure_symbols();
    Cell* system = word::get_value(word::from_symbol(sym.system));
    if (type_of(system) != TYPE_OBJECT) return false;
    Cell* view = stack::push(field(system, sym.view));
    if (type_of(view) != TYPE_OBJECT || truthy(field(view, sym.debug_q))) return false;
    const uint32_t w = word->data2;
    if (same(w, sym.state) || same(w, sym.extra)) return true;
    for (uint32_t s : {sym.pane, sym.font, sym.para, sym.selected})
        if (same(w, s)) return false;
    if (!plain(old) || !plain(value)) return false;
    if (same(w, sym.size) || same(w, sym.offset)) {
        // Sure here: pairs and nones (a pair never equals none).
        auto sure = [](uint32_t t) { return t == TYPE_PAIR || t == TYPE_NONE; };
        const uint32_t t = type_of(old);
        if (!sure(t) || !sure(type_of(value))) return false;
        if (t == type_of(value) &&
            (t == TYPE_NONE || actions::compare_star(old, value, COMP_EQUAL)))
            return true;
    }
    const Cell* type = field(face, sym.type);
    const bool synced = word_is(type, sym.field) || word_is(type, sym.text);
    if (synced) {
        if (same(w, sym.data)) return false;
        if (same(w, sym.text) && type_of(field(face, sym.options)) == TYPE_BLOCK) return false;
    }
    const int32_t index = object::find_field(face->data1, w);
    if (index < 0) return false;

    // Ownership: the old series stops reporting to the face, the new one
    // starts (edge and actors values are never owned); a block set again on
    // its own series keeps its owner.
    auto owned_kind = [](const Cell* v) {
        return type_of(v) == TYPE_STRING || type_of(v) == TYPE_BLOCK;
    };
    const bool kept =
        type_of(value) == TYPE_BLOCK && type_of(old) == TYPE_BLOCK && old->data2 == value->data2;
    if (!kept && series::ownership.unbind) {
        if (owned_kind(old)) series::ownership.unbind(old);
        if (owned_kind(value)) {
            series::ownership.unbind(value);
            if (!same(w, sym.edge) && !same(w, sym.actors) && series::ownership.bind_object)
                series::ownership.bind_object(value, face, word);
        }
    }
    if (synced && same(w, sym.text)) {
        Cell* out = make_none(stack::push_cell());
        Cell* args = stack::push(face);
        stack::push(value);
        call_global(sym.view_text_data_strict, args, 2, out);
        int32_t data = object::find_field(face->data1, sym.data);
        if (data >= 0) *context::value_ptr(face->data1, data) = *out;
    }
    // The reactions on the field, when the reactivity module is there (the
    // system object is read again: the call above may have moved it).
    system = word::get_value(word::from_symbol(sym.system));
    Cell* reactivity = field(system, sym.reactivity);
    if (type_of(reactivity) == TYPE_OBJECT && !no_reactions(reactivity)) {
        uint32_t t = type_of(field(reactivity, sym.check));
        if (t == TYPE_FUNCTION || t == TYPE_ROUTINE || t == TYPE_NATIVE) {
            Cell* out = make_none(stack::push_cell());
            Cell* args = stack::push(face);
            word::push_symbol(w);
            call_global(sym.view_react_check, args, 2, out);
        }
    }
    Cell* state = field(face, sym.state);
    if (type_of(state) == TYPE_BLOCK && block::rs_length_q(state) >= 2) {
        Cell* values = block::rs_head(state);
        if (type_of(values + 1) == TYPE_INTEGER && index < 31) values[1].data2 |= 1u << index;
        if (truthy(values) && truthy(field(view, sym.auto_sync_q))) show_face(face, view);
    } else if (word_is(field(face, sym.type), sym.rich_text)) {
        Cell* out = make_none(stack::push_cell());
        Cell* platform = stack::push(field(view, sym.platform));
        Cell* routine = stack::push(field(platform, sym.update_view));
        interpreter::call_value(routine, face, 1, out);
    }
    return true;
}

} // namespace

// view-face-set face word old new, its slots then its four /local ones.
void face_set_body() {
    Cell* a = stack::arguments;
    if (set_natively(a, a + 1, a + 2, a + 3)) {
        if (!stack::pending) make_unset(a);
        return;
    }
    if (stack::pending) return;
    routines::run_mox_body();
}

// on-face-deep-change* owner word target action new index part state forced?,
// then its /local slots: a series change in a face with no state (one not
// shown) is neither traced nor recorded, so it ends here without the Mox
// body, unless traces are on or debug-info? is not the library's own.
void face_deep_change_body() {
    Cell* a = stack::arguments;
    ensure_symbols();
    Cell* system = word::get_value(word::from_symbol(sym.system));
    const Cell* view = type_of(system) == TYPE_OBJECT ? field(system, sym.view) : nullptr;
    const bool quiet = view && type_of(view) == TYPE_OBJECT && !truthy(field(view, sym.debug_q)) &&
                       boot_function(word::get_value(word::from_symbol(sym.debug_info_q)));
    const bool inert = !truthy(a + 7) || word_is(a + 1, sym.state) || word_is(a + 1, sym.extra);
    if (quiet && inert) {
        make_unset(a);
        return;
    }
    routines::run_mox_body();
}

} // namespace mox::gui
