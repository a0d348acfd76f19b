// Native bodies of VID: put-axis for pairs, and the GUI rules' processors,
// which layout runs over every window it makes. Each processor walks the
// face tree as foreach-face does (a face, then the faces of its pane, in
// pane order) and tests its condition in C++. They take only trees of plain
// faces: objects whose type is a word, colour none or a tuple, parent none
// or a plain face, pane none or a block, no state, and the library's own
// change handler; the tree no deeper than MAX_DEPTH, foreach-face the
// library's own and no reaction anywhere. Other trees, and every face that
// a condition might take where the rule does more than set a colour, go to
// the Mox body before anything has changed. Under --mox-bodies none of this
// is bound.
#include "core/actions.h"
#include "core/context.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/word.h"
#include "evaluator/routines.h"
#include "view/gui.h"

namespace mox::gui {

namespace {

constexpr int MAX_DEPTH = 64;

struct Symbols {
    uint32_t type, color, parent, pane, state, text, on_change, foreach_face, system, reactivity,
        check, relations, view_react_check, window, panel, group_box, tab_panel, text_word, slider,
        radio, check_word, button, cancel_captions, x, y;
    bool ready = false;
};
Symbols sym;

void ensure_symbols() {
    if (sym.ready) return;
    const char* names[] = {"type",
                           "color",
                           "parent",
                           "pane",
                           "state",
                           "text",
                           "on-change*",
                           "foreach-face",
                           "system",
                           "reactivity",
                           "check",
                           "relations",
                           "view-react-check",
                           "window",
                           "panel",
                           "group-box",
                           "tab-panel",
                           "text",
                           "slider",
                           "radio",
                           "check",
                           "button",
                           "cancel-captions",
                           "x",
                           "y"};
    uint32_t* out = &sym.type;
    for (size_t i = 0; i < std::size(names); i++) out[i] = symbol::make(names[i]);
    sym.ready = true;
}

Cell* field(const Cell* object, uint32_t symbol) {
    return object::find_value(object->data1, symbol);
}

bool same(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

bool word_in(const Cell* v, std::initializer_list<uint32_t> words) {
    if (type_of(v) != TYPE_WORD) return false;
    for (uint32_t w : words)
        if (same(v->data2, w)) return true;
    return false;
}

bool boot_function(const Cell* v) {
    return type_of(v) == TYPE_FUNCTION && (v->header & function::FLAG_BOOT);
}

bool has(const Cell* object, uint32_t symbol) {
    return object::find_field(object->data1, symbol) >= 0;
}

// A face whose condition reads cannot fail or run code.
bool plain_face(const Cell* f) {
    if (type_of(f) != TYPE_OBJECT) return false;
    for (uint32_t s : {sym.type, sym.color, sym.parent, sym.pane, sym.state, sym.text})
        if (!has(f, s)) return false;
    const uint32_t color = type_of(field(f, sym.color));
    const uint32_t pane = type_of(field(f, sym.pane));
    const uint32_t text = type_of(field(f, sym.text));
    return type_of(field(f, sym.type)) == TYPE_WORD &&
           (color == TYPE_NONE || color == TYPE_TUPLE) &&
           (pane == TYPE_NONE || pane == TYPE_BLOCK) &&
           (text == TYPE_NONE || text == TYPE_STRING) &&
           type_of(field(f, sym.state)) == TYPE_NONE && boot_function(field(f, sym.on_change));
}

// The parent of a face in a plain tree: none, or a plain face that may
// have a state (a shown window or panel).
bool plain_parent(const Cell* p) {
    if (type_of(p) == TYPE_NONE) return true;
    if (type_of(p) != TYPE_OBJECT) return false;
    for (uint32_t s : {sym.type, sym.color, sym.parent})
        if (!has(p, s)) return false;
    const uint32_t color = type_of(field(p, sym.color));
    const uint32_t parent = type_of(field(p, sym.parent));
    return type_of(field(p, sym.type)) == TYPE_WORD &&
           (color == TYPE_NONE || color == TYPE_TUPLE) &&
           (parent == TYPE_NONE || parent == TYPE_OBJECT);
}

// Calls visit(face) for every object of root's pane tree, as foreach-face
// orders them; false when the tree is not plain (nothing visited after).
template <class Visit> bool walk(const Cell* root, int depth, Visit& visit) {
    if (depth > MAX_DEPTH) return false;
    const Cell* pane = field(root, sym.pane);
    if (type_of(pane) != TYPE_BLOCK) return true;
    const int32_t n = block::rs_length_q(pane);
    for (int32_t i = 0; i < n; i++) {
        // Re-read: a visit may collect.
        Cell* child = stack::push(block::rs_head(field(root, sym.pane)) + i);
        if (type_of(child) == TYPE_OBJECT) {
            if (!plain_face(child) || !plain_parent(field(child, sym.parent))) return false;
            if (!visit(child)) return false;
            if (!walk(child, depth + 1, visit)) return false;
        }
        stack::top = child;
    }
    return true;
}

// The tree under root is plain and no step of a processor can raise or
// reach a reaction.
bool plain_tree(Cell* root) {
    if (type_of(root) != TYPE_OBJECT || !has(root, sym.pane)) return false;
    const uint32_t pane = type_of(field(root, sym.pane));
    if (pane != TYPE_NONE && pane != TYPE_BLOCK) return false;
    Cell* system = word::get_value(word::from_symbol(sym.system));
    if (type_of(system) != TYPE_OBJECT) return false;
    const Cell* reactivity = field(system, sym.reactivity);
    if (type_of(reactivity) == TYPE_OBJECT) {
        const Cell* relations = field(reactivity, sym.relations);
        if (type_of(relations) != TYPE_BLOCK || block::rs_length_q(relations) != 0) return false;
        if (!boot_function(field(reactivity, sym.check))) return false;
    }
    if (!boot_function(word::get_value(word::from_symbol(sym.view_react_check)))) return false;
    if (!boot_function(word::get_value(word::from_symbol(sym.foreach_face)))) return false;
    auto any = [](Cell*) { return true; };
    Cell* base = stack::top;
    const bool ok = walk(root, 0, any);
    stack::top = base;
    return ok;
}

// Runs visit over a plain tree; false (nothing visited) when it is not.
template <class Visit> bool over_plain_tree(Cell* root, Visit& visit) {
    ensure_symbols();
    if (!plain_tree(root)) return false;
    Cell* base = stack::top;
    const bool ok = walk(root, 0, visit);
    stack::top = base;
    return ok;
}

// The object a processor was defined in (its cancel-captions), or null.
const Cell* processors_object() {
    const Cell* fn = context::owner_of(stack::top_frame()->function_context);
    const Cell* object = &function::extra_of(fn)[function::EXTRA_OBJECT];
    return type_of(object) == TYPE_OBJECT ? object : nullptr;
}

// color-backgrounds root: a text, slider, radio, check, group-box,
// tab-panel or panel face without a colour takes the colour of its parent
// when that is a window, panel, group-box or tab-panel.
void color_backgrounds_body() {
    Cell* a = stack::arguments;
    auto paint = [](Cell* face) {
        const Cell* parent = field(face, sym.parent);
        if (type_of(field(face, sym.color)) == TYPE_NONE && type_of(parent) == TYPE_OBJECT &&
            word_in(field(parent, sym.type),
                    {sym.window, sym.panel, sym.group_box, sym.tab_panel}) &&
            word_in(field(face, sym.type), {sym.text_word, sym.slider, sym.radio, sym.check_word,
                                            sym.group_box, sym.tab_panel, sym.panel})) {
            Cell* value = stack::push(field(parent, sym.color));
            Cell* w = word::push_symbol(sym.color);
            context::bind_word(face->data1, w);
            context::set_in(w, value, face->data1, true);
        }
        return true;
    };
    if (!over_plain_tree(a, paint)) return routines::run_mox_body();
    make_unset(a);
}

// color-tabpanel-children root: nothing to do unless a face's parent is a
// panel in a tab-panel; such a tree goes to the Mox body.
void color_tabpanel_children_body() {
    Cell* a = stack::arguments;
    auto none_taken = [](Cell* face) {
        const Cell* parent = field(face, sym.parent);
        if (type_of(field(face, sym.color)) != TYPE_NONE || type_of(parent) != TYPE_OBJECT ||
            !word_in(field(parent, sym.type), {sym.panel}))
            return true;
        const Cell* grand = field(parent, sym.parent);
        if (type_of(grand) != TYPE_OBJECT) return true;
        return plain_parent(grand) && !word_in(field(grand, sym.type), {sym.tab_panel});
    };
    if (!over_plain_tree(a, none_taken)) return routines::run_mox_body();
    make_unset(a);
}

// OK-Cancel root: nothing to do unless a button in a parent face has a
// cancel caption for its text; such a tree goes to the Mox body.
void ok_cancel_body() {
    Cell* a = stack::arguments;
    const Cell* object = processors_object();
    if (!object) return routines::run_mox_body();
    ensure_symbols();
    Cell* captions = stack::push(field(object, sym.cancel_captions));
    if (type_of(captions) != TYPE_BLOCK) return routines::run_mox_body();
    for (int32_t i = 0, n = block::rs_length_q(captions); i < n; i++)
        if (type_of(block::rs_head(captions) + i) != TYPE_STRING) return routines::run_mox_body();
    auto none_taken = [captions](Cell* face) {
        Cell* text = field(face, sym.text);
        if (!word_in(field(face, sym.type), {sym.button}) ||
            type_of(field(face, sym.parent)) != TYPE_OBJECT || type_of(text) != TYPE_STRING)
            return true;
        Cell* mine = stack::push(text);
        for (int32_t i = 0, n = block::rs_length_q(captions); i < n; i++) {
            Cell* caption = stack::push(block::rs_head(captions) + i);
            if (actions::compare_star(mine, caption, COMP_EQUAL)) return false;
        }
        return true;
    };
    if (!over_plain_tree(a, none_taken)) return routines::run_mox_body();
    make_unset(a);
}

// put-axis pos axis value, then its /local x y: a pair with the axis
// coordinate replaced by an integer. Other kinds go to the Mox body.
void put_axis_body() {
    Cell* a = stack::arguments;
    if (type_of(a) != TYPE_PAIR || type_of(a + 2) != TYPE_INTEGER) return routines::run_mox_body();
    ensure_symbols();
    auto x = static_cast<int32_t>(a->data2);
    auto y = static_cast<int32_t>(a->data3);
    if (same(a[1].data2, sym.x)) x = get_integer(a + 2);
    if (same(a[1].data2, sym.y)) y = get_integer(a + 2);
    pair::make_cell(a, x, y);
}

} // namespace

// Binds the native bodies of the face handlers and of the VID processors.
void register_vid_bodies() {
    routines::bind_native_body("view-face-set", &face_set_body);
    routines::bind_native_body("on-face-deep-change*", &face_deep_change_body);
    routines::bind_native_body("system/view/VID/put-axis", &put_axis_body);
    routines::bind_native_body("system/view/VID/GUI-rules/processors/color-backgrounds",
                               &color_backgrounds_body);
    routines::bind_native_body("system/view/VID/GUI-rules/processors/color-tabpanel-children",
                               &color_tabpanel_children_body);
    routines::bind_native_body("system/view/VID/GUI-rules/processors/OK-Cancel", &ok_cancel_body);
}

} // namespace mox::gui
