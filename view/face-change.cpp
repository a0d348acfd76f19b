// The common case of a face field set, done natively: face!/on-change*
// asks view-face-changed? first and runs its own Mox steps only when this
// answers false. The native path takes only sets whose every step is plain:
// no trace, no pane, font, para, selected, size or offset word, a field or
// text face's text with no options, and old and new values that are scalars
// or strings. Everything else, and every set while the runner keeps to Mox
// bodies, goes the Mox way.
#include "core/context.h"
#include "core/symbol.h"
#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "view/gui.h"

namespace mox::gui {

namespace {

struct Symbols {
    uint32_t system, view, debug_q, auto_sync_q, reactivity, check, type, state, extra, pane,
        font, para, selected, size, offset, field, text, data, options, edge, actors, window,
        rich_text, platform, update_view, show, view_text_data_strict, view_react_check;
    bool ready = false;
};
Symbols sym;

void ensure_symbols() {
    if (sym.ready) return;
    const char* names[] = {"system", "view", "debug?", "auto-sync?", "reactivity", "check",
                           "type", "state", "extra", "pane", "font", "para", "selected", "size",
                           "offset", "field", "text", "data", "options", "edge", "actors",
                           "window", "rich-text", "platform", "update-view", "show",
                           "view-text-data-strict", "view-react-check"};
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

// Values whose set needs no ownership step but a string's.
bool plain(const Cell* v) {
    switch (type_of(v)) {
    case TYPE_NONE: case TYPE_LOGIC: case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_PAIR:
    case TYPE_TUPLE: case TYPE_POINT2D: case TYPE_PERCENT: case TYPE_CHAR: case TYPE_WORD:
    case TYPE_STRING: case TYPE_UNSET:
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

}  // namespace

// view-face-changed? face word old new: true when the set was handled here.
void face_changed_star() {
    Cell* a = stack::arguments;
    Cell* face = a;
    Cell* word = a + 1;
    Cell* old = a + 2;
    Cell* value = a + 3;
    auto finish = [&](bool handled) { make_logic(a, handled); };
    if (routines::mox_bodies) return finish(false);
    ensure_symbols();
    Cell* system = word::get_value(word::from_symbol(sym.system));
    if (type_of(system) != TYPE_OBJECT) return finish(false);
    Cell* view = stack::push(field(system, sym.view));
    if (type_of(view) != TYPE_OBJECT || truthy(field(view, sym.debug_q))) return finish(false);
    const uint32_t w = word->data2;
    if (same(w, sym.state) || same(w, sym.extra)) return finish(true);
    for (uint32_t s : {sym.pane, sym.font, sym.para, sym.selected, sym.size, sym.offset})
        if (same(w, s)) return finish(false);
    if (!plain(old) || !plain(value)) return finish(false);
    const Cell* type = field(face, sym.type);
    const bool synced = word_is(type, sym.field) || word_is(type, sym.text);
    if (synced) {
        if (same(w, sym.data)) return finish(false);
        if (same(w, sym.text) && type_of(field(face, sym.options)) == TYPE_BLOCK)
            return finish(false);
    }
    const int32_t index = object::find_field(face->data1, w);
    if (index < 0) return finish(false);

    // Ownership: the old string stops reporting to the face, the new one
    // starts (edge and actors values are never owned).
    if (type_of(old) == TYPE_STRING && series::ownership.unbind) series::ownership.unbind(old);
    if (type_of(value) == TYPE_STRING && series::ownership.unbind) {
        series::ownership.unbind(value);
        if (!same(w, sym.edge) && !same(w, sym.actors) && series::ownership.bind_object) {
            Cell* field_word = word::push_symbol(w);
            series::ownership.bind_object(value, face, field_word);
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
    if (type_of(reactivity) == TYPE_OBJECT) {
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
        if (type_of(values + 1) == TYPE_INTEGER && index < 31)
            values[1].data2 |= 1u << index;
        if (truthy(values) && truthy(field(view, sym.auto_sync_q))) show_face(face, view);
    } else if (word_is(field(face, sym.type), sym.rich_text)) {
        Cell* out = make_none(stack::push_cell());
        Cell* platform = stack::push(field(view, sym.platform));
        Cell* routine = stack::push(field(platform, sym.update_view));
        interpreter::call_value(routine, face, 1, out);
    }
    finish(true);
}

}  // namespace mox::gui
