// The null GUI back end (see gui.h): the platform routines without windows.
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "core/context.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/event.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/routines.h"
#include "view/backend.h"
#include "view/gui.h"

namespace mox::gui {

namespace {

constexpr int32_t CHAR_W = 8;
constexpr int32_t CHAR_H = 16;
// Cells of one live message record: face window offset key picked orientation.
constexpr int32_t RECORD_CELLS = 6;
// The event type number of close.
constexpr uint32_t CLOSE_EVENT = 28;

struct Display {
    int32_t x, y, w, h;
    double scale;
    uint32_t id;
};

struct Level {
    bool exit;
};

struct State {
    bool ready = false;
    Cell* log = nullptr;     // block of logged calls (root block cell)
    Cell* records = nullptr; // live message records
    Cell* queue = nullptr;   // queued events
    int32_t queue_head = 0;
    std::vector<uint32_t> live; // references of the live records, in order
    uint32_t next_reference = 1;
    uintptr_t next_handle = 0x100;
    std::vector<Display> displays{{0, 0, 1280, 1024, 1.0, 1}};
    uint32_t next_display_id = 2;
    int32_t current_display = 0;
    int32_t failures = 0;
    uint8_t version[3] = {10, 0, 0};
    std::vector<Level> levels;
    std::unordered_map<uintptr_t, uint32_t> handle_names; // window handle -> name symbol
};

State& st() {
    static State s;
    return s;
}

struct Symbols {
    uint32_t system, view, awake, type, state, text, extra, parent, pane, handles, window, screen,
        rich_text, stop, metrics, dpi, misc, colors, fonts, scroller, panel, size, version, build,
        product, para, wrap_q, none_;
};
Symbols sym;

void ensure() {
    State& s = st();
    if (s.ready) return;
    s.ready = true;
    Cell blk;
    make_none(&blk);
    s.log = root_append(&blk);
    s.records = root_append(&blk);
    s.queue = root_append(&blk);
    block::make_at(s.log, 16);
    block::make_at(s.records, 16);
    block::make_at(s.queue, 16);
    const char* names[] = {"system",    "view",     "awake",   "type",    "state",   "text",
                           "extra",     "parent",   "pane",    "handles", "window",  "screen",
                           "rich-text", "stop",     "metrics", "dpi",     "misc",    "colors",
                           "fonts",     "scroller", "panel",   "size",    "version", "build",
                           "product",   "para",     "wrap?",   "none"};
    uint32_t* out = &sym.system;
    for (size_t i = 0; i < std::size(names); i++) out[i] = symbol::make(names[i]);
}

Cell* args() { return stack::arguments; }

bool same(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

// A field of an object (a shared none when absent: read only).
Cell* field(const Cell* object, uint32_t symbol) {
    return object::find_value(object->data1, symbol);
}

// Sets a field without running the object's change handler.
void set_quiet(const Cell* object, uint32_t symbol, const Cell* value) {
    int32_t i = object::find_field(object->data1, symbol);
    if (i >= 0) *context::value_ptr(object->data1, i) = *value;
}

bool type_is(const Cell* face, uint32_t symbol) {
    const Cell* t = field(face, sym.type);
    return is_any_word(type_of(t)) && same(t->data2, symbol);
}

// The name a face goes by in the log: its extra when that is a word, else
// its type word (none for anything else).
uint32_t face_name(const Cell* face) {
    if (type_of(face) != TYPE_OBJECT) return sym.none_;
    const Cell* extra = field(face, sym.extra);
    if (type_of(extra) == TYPE_WORD) return extra->data2;
    const Cell* t = field(face, sym.type);
    return is_any_word(type_of(t)) ? t->data2 : sym.none_;
}

// The state block's first cell, or null when the face has none.
Cell* state_values(const Cell* face) {
    Cell* state = field(face, sym.state);
    if (type_of(state) != TYPE_BLOCK || block::rs_length_q(state) < 2) return nullptr;
    return block::rs_head(state);
}

// Logging: log_begin pushes a new entry block holding the routine's word;
// the add helpers append to it; log_end appends it to the log.
Cell* log_begin(const char* routine) {
    // Interned once per routine name (the names are literals).
    static std::unordered_map<const char*, uint32_t> names;
    auto it = names.find(routine);
    uint32_t name = it != names.end() ? it->second : (names[routine] = symbol::make(routine));
    Cell* entry = block::make_at(stack::push_cell(), 6);
    word::make_at(name, block::alloc_tail(entry));
    return entry;
}
void log_word(Cell* entry, uint32_t symbol) { word::make_at(symbol, block::alloc_tail(entry)); }
// The value goes on the stack first: the allocation may move what it
// refers to.
void log_value(Cell* entry, const Cell* value) {
    Cell* v = stack::push(value);
    Cell* slot = block::alloc_tail(entry);
    *slot = *v;
    stack::top = v;
}
void log_face(Cell* entry, const Cell* face) { log_word(entry, face_name(face)); }
void log_end(Cell* entry) { block::ms_append(st().log, entry); }
// A routine whose only argument worth logging is a face.
void log_face_call(const char* routine, const Cell* face) {
    Cell* base = stack::top;
    Cell* e = log_begin(routine);
    log_face(e, face);
    log_end(e);
    stack::top = base;
}
void log_plain(const char* routine) {
    Cell* base = stack::top;
    log_end(log_begin(routine));
    stack::top = base;
}

double coordinate(const Cell* point, bool y) {
    if (type_of(point) == TYPE_PAIR) return static_cast<int32_t>(y ? point->data3 : point->data2);
    if (type_of(point) == TYPE_POINT2D) return y ? point2D::y_of(point) : point2D::x_of(point);
    return 0;
}

// The columns at which a face's text wraps on the grid, 0 for none: a
// rich-text face with a width wraps unless its para says otherwise, as the
// real back ends' layouts do. The grid breaks a row at its last column,
// inside words too, so that a long line without blanks is seen whole.
int32_t wrap_columns(const Cell* face) {
    if (type_of(face) != TYPE_OBJECT || !type_is(face, sym.rich_text)) return 0;
    const Cell* para = field(face, sym.para);
    if (type_of(para) == TYPE_OBJECT) {
        const Cell* wrap = field(para, sym.wrap_q);
        if (type_of(wrap) == TYPE_LOGIC && !wrap->data1) return 0;
    }
    double width = coordinate(field(face, sym.size), false);
    return width > 0 ? std::max(1, static_cast<int32_t>(width / CHAR_W)) : 0;
}

// A walk over a text's characters on the grid: the row and column each
// character takes, rows ending at line feeds and, when wrapping, after
// `wrap` columns.
struct GridWalk {
    const uint8_t* p;
    uint32_t unit;
    int32_t n, wrap;
    int32_t row = 0, col = 0;

    GridWalk(Cell* text, int32_t wrap_at)
        : p(string::ms_head(text)), unit(string::buffer_of(text)->unit()),
          n(string::ms_length_q(text)), wrap(wrap_at) {}
    uint32_t at(int32_t i) const {
        return string::get_char(p + static_cast<size_t>(i) * unit, unit);
    }
    // A wrapped row is full and character i goes on the next one.
    bool wraps_before(int32_t i) const { return wrap > 0 && col == wrap && at(i) != '\n'; }
    // Moves past character i.
    void step(int32_t i) {
        if (wraps_before(i)) {
            row++;
            col = 0;
        }
        if (at(i) == '\n') {
            row++;
            col = 0;
        } else {
            col++;
        }
    }
};

// Text measurement on the grid: the longest row's characters by the row
// count.
void measure(Cell* text, int32_t wrap, int32_t* columns, int32_t* lines) {
    GridWalk g(text, wrap);
    int32_t longest = 0;
    for (int32_t i = 0; i < g.n; i++) {
        if (g.at(i) == '\n' && g.col > longest) longest = g.col;
        g.step(i);
        if (g.col > longest) longest = g.col;
    }
    *columns = longest;
    *lines = g.row + 1;
}

// Caret position (1-based) to its column and row on the grid; a caret
// before the first character of a wrapped row stands at that row's start.
void caret_place(Cell* text, int32_t pos, int32_t wrap, int32_t* column, int32_t* line) {
    GridWalk g(text, wrap);
    int32_t end = pos - 1;
    if (end < 0) end = 0;
    if (end > g.n) end = g.n;
    for (int32_t i = 0; i < end; i++) g.step(i);
    if (end < g.n && g.wraps_before(end)) {
        g.row++;
        g.col = 0;
    }
    *column = g.col;
    *line = g.row;
}

// The text position (1-based) nearest to a point, and of the character
// under it (the same on a grid, but never past the last character). A
// point past the end of a wrapped row gives the row's last place.
int32_t point_to_caret(Cell* text, double x, double y, bool on_char, int32_t wrap) {
    GridWalk g(text, wrap);
    int32_t target_line = y < 0 ? 0 : static_cast<int32_t>(y / CHAR_H);
    double cx = on_char ? x / CHAR_W : x / CHAR_W + 0.5;
    int32_t target_col = cx < 0 ? 0 : static_cast<int32_t>(cx);
    int32_t i = 0;
    for (; i < g.n; i++) {
        if (g.row == target_line && g.wraps_before(i)) {
            if (on_char) i--;
            break;
        }
        if (g.wraps_before(i)) {
            g.row++;
            g.col = 0;
        }
        if (g.row == target_line && (g.col == target_col || g.at(i) == '\n')) break;
        g.step(i);
    }
    if (on_char && i == g.n && g.n > 0 && (g.row > target_line || g.col > 0)) i = g.n - 1;
    return i + 1;
}

// The live record of a back-end event, or null once its message is done.
Cell* record_of(const Cell* event) {
    State& s = st();
    if (event->header & event::FLAG_MADE) return nullptr;
    for (size_t i = s.live.size(); i-- > 0;)
        if (s.live[i] == event->data2)
            return block::rs_head(s.records) + static_cast<ptrdiff_t>(i) * RECORD_CELLS;
    return nullptr;
}

Cell* get_event_field(const Cell* event, int32_t field) {
    Cell* record = record_of(event);
    if (!record) return make_none(stack::push_cell());
    switch (field) {
    case event::F_FACE:
        return stack::push(record + 0);
    case event::F_WINDOW:
        return stack::push(record + 1);
    case event::F_OFFSET:
        return stack::push(record + 2);
    case event::F_KEY:
        return stack::push(record + 3);
    case event::F_PICKED:
        return stack::push(record + 4);
    case event::F_ORIENTATION:
        return stack::push(record + 5);
    default:
        return make_none(stack::push_cell());
    }
}

// The window of a face: the first window up its parent chain.
void window_of(const Cell* face, Cell* out) {
    Cell f = *face;
    for (int depth = 0; depth < 64 && type_of(&f) == TYPE_OBJECT; depth++) {
        if (type_is(&f, sym.window)) {
            *out = f;
            return;
        }
        f = *field(&f, sym.parent);
    }
    make_none(out);
}

} // namespace

namespace {

// The metrics and default font a real back end reads from the system:
// 96 dpi, 17x17 scroll bars, fixed colours, the UI font at 9 points.
void fill_metrics() {
    Cell* view = system_view();
    if (!view) return;
    Cell* base = stack::top;
    Cell* metrics = stack::push(field(view, sym.metrics));
    Cell* fonts = stack::push(field(view, sym.fonts));
    Cell v;
    if (type_of(metrics) == TYPE_OBJECT) {
        make_integer(&v, 96);
        set_quiet(metrics, sym.dpi, &v);
        Cell* misc = stack::push(field(metrics, sym.misc));
        if (type_of(misc) == TYPE_MAP) {
            pair::make_cell(&v, 17, 17);
            put_word(misc, sym.scroller, &v);
        }
        Cell* colors = stack::push(field(metrics, sym.colors));
        if (type_of(colors) == TYPE_MAP) {
            const uint8_t text[3] = {0, 0, 0}, window[3] = {255, 255, 255},
                          panel[3] = {240, 240, 240};
            tuple::make_cell(&v, text, 3);
            put_word(colors, sym.text, &v);
            tuple::make_cell(&v, window, 3);
            put_word(colors, sym.window, &v);
            tuple::make_cell(&v, panel, 3);
            put_word(colors, sym.panel, &v);
        }
    }
    if (type_of(fonts) == TYPE_OBJECT) {
        Cell* name = string::push_new(8);
        string::append_utf8(name, "Segoe UI", 8);
        set_quiet(fonts, sym.system, name);
        make_integer(&v, 9);
        set_quiet(fonts, sym.size, &v);
    }
    stack::top = base;
}

} // namespace

// The record of a made event is filled from its own values; the global
// event cell then refers to it until awake returns.
void dispatch(const Cell* made, Cell* out) {
    ensure();
    State& s = st();
    Cell* base = stack::top;
    Cell* ev = stack::push(made);
    Cell* values = stack::top;
    for (int32_t f :
         {event::F_FACE, event::F_WINDOW, event::F_OFFSET, event::F_KEY, event::F_PICKED})
        event::get_field(ev, f);
    make_none(stack::push_cell()); // orientation
    if (type_of(values + 1) != TYPE_OBJECT) window_of(values, values + 1);
    uint32_t reference = s.next_reference++;
    if (s.next_reference == 0) s.next_reference = 1;
    for (int32_t i = 0; i < RECORD_CELLS; i++) block::ms_append(s.records, values + i);
    s.live.push_back(reference);
    Cell global;
    event::make_os_cell(&global, static_cast<int32_t>(ev->data1), reference,
                        ev->data3 & ~event::KEY_MASK);
    Cell* result = stack::push_cell();
    call_awake(&global, result);
    s.live.pop_back();
    for (int32_t i = 0; i < RECORD_CELLS; i++) block::ms_remove_last(s.records);
    *out = *result;
    stack::top = base;
}

void init_star() {
    ensure();
    State& s = st();
    Cell* platform = args();
    if (type_of(platform) == TYPE_OBJECT) {
        Cell v;
        tuple::make_cell(&v, s.version, 3);
        set_quiet(platform, sym.version, &v);
        make_integer(&v, s.version[0] >= 10 ? 19045 : 7601);
        set_quiet(platform, sym.build, &v);
        make_integer(&v, 1);
        set_quiet(platform, sym.product, &v);
    }
    fill_metrics();
    make_none(args());
}

void fetch_all_screens_star() {
    ensure();
    State& s = st();
    Cell* out = block::make_at(stack::push_cell(), static_cast<int32_t>(s.displays.size()));
    for (const Display& d : s.displays) {
        Cell* entry = block::make_in(out, 4);
        pair::make_cell(block::alloc_tail(entry), d.x, d.y);
        pair::make_cell(block::alloc_tail(entry), d.w, d.h);
        make_float(block::alloc_tail(entry), d.scale);
        handle::make_in_block(entry, d.id, handle::CLASS_MONITOR);
    }
    *args() = *out;
}

void get_current_screen_star() {
    ensure();
    State& s = st();
    if (s.displays.empty()) {
        make_none(args());
        return;
    }
    int32_t i = s.current_display < static_cast<int32_t>(s.displays.size()) ? s.current_display : 0;
    handle::box(s.displays[static_cast<size_t>(i)].id, handle::CLASS_MONITOR);
}

void get_screen_size_star() {
    ensure();
    State& s = st();
    int32_t id = get_integer(args());
    for (const Display& d : s.displays)
        if (static_cast<int32_t>(d.id) == id) {
            pair::make_cell(args(), d.w, d.h);
            return;
        }
    pair::make_cell(args(), 0, 0);
}

void size_text_star() {
    ensure();
    Cell* a = args();
    Cell* text = a + 1;
    if (type_of(text) == TYPE_NONE)
        text = field(a, sym.text);
    else if (type_of(text) != TYPE_STRING)
        time::fire_typed(err::invalid_type, type_of(text));
    if (type_of(text) != TYPE_STRING) {
        make_none(a);
        return;
    }
    Cell t = *text;
    int32_t columns, lines;
    measure(&t, wrap_columns(a), &columns, &lines);
    point2D::make_cell(a, static_cast<float>(columns * CHAR_W), static_cast<float>(lines * CHAR_H));
}

void on_change_facet_star() {
    ensure();
    Cell* a = args();
    Cell* base = stack::top;
    Cell* e = log_begin("on-change-facet");
    log_face(e, a);
    log_value(e, a + 1);
    log_value(e, a + 3);
    log_value(e, a + 5);
    log_value(e, a + 6);
    log_end(e);
    stack::top = base;
    make_none(args());
}

void update_text_star() {
    ensure();
    log_face_call("update-text", args());
    make_none(args());
}

void update_font_star() {
    ensure();
    Cell* base = stack::top;
    Cell* e = log_begin("update-font");
    log_value(e, args() + 1);
    log_end(e);
    stack::top = base;
    make_none(args());
}

void update_para_star() {
    ensure();
    Cell* base = stack::top;
    Cell* e = log_begin("update-para");
    log_face(e, args());
    log_value(e, args() + 1);
    log_end(e);
    stack::top = base;
    make_none(args());
}

namespace {
// Frees a face tree's native side as the real back end does: children
// first, then the face's state becomes none.
void free_faces(const Cell* face, int depth) {
    if (depth > 64 || type_of(face) != TYPE_OBJECT || !state_values(face)) return;
    Cell pane = *field(face, sym.pane);
    if (type_of(&pane) == TYPE_BLOCK) {
        Cell* base = stack::top;
        Cell* p = stack::push(&pane);
        int32_t n = block::rs_length_q(p);
        for (int32_t i = 0; i < n; i++) {
            Cell child = block::rs_head(p)[i];
            free_faces(&child, depth + 1);
        }
        stack::top = base;
    }
    Cell none;
    make_none(&none);
    set_quiet(face, sym.state, &none);
}
} // namespace

void destroy_view_star() {
    ensure();
    State& s = st();
    Cell* a = args();
    bool empty = type_of(a + 1) == TYPE_LOGIC && a[1].data1;
    Cell* base = stack::top;
    Cell* e = log_begin("destroy-view");
    log_face(e, a);
    log_value(e, a + 1);
    log_end(e);
    stack::top = base;
    free_faces(a, 0);
    if (empty && !s.levels.empty()) s.levels.back().exit = true;
    make_none(args());
}

void detach_image_star() {
    ensure();
    log_plain("detach-image");
    make_none(args());
}

namespace {
void update_one(const Cell* face) {
    if (type_is(face, sym.screen)) return;
    Cell* base = stack::top;
    Cell* e = log_begin("update-view");
    log_face(e, face);
    Cell* values = state_values(face);
    Cell bits;
    if (values && type_of(values + 1) == TYPE_INTEGER)
        bits = values[1];
    else
        make_integer(&bits, 0);
    log_value(e, &bits);
    log_end(e);
    stack::top = base;
    values = state_values(face);
    if (values && type_of(values + 1) == TYPE_INTEGER) make_integer(values + 1, 0);
}
} // namespace

void update_view_star() {
    ensure();
    Cell* a = args();
    if (type_of(a) == TYPE_BLOCK) {
        int32_t n = block::rs_length_q(a);
        for (int32_t i = 0; i < n; i++) {
            const Cell* v = block::rs_head(a) + i;
            if (type_of(v) != TYPE_OBJECT) time::fire_typed(err::invalid_type, type_of(v));
        }
        for (int32_t i = 0; i < n; i++) {
            Cell face = block::rs_head(a)[i];
            Cell* kept = stack::push(&face);
            update_one(kept);
            stack::top = kept;
        }
    } else if (type_of(a) == TYPE_OBJECT) {
        update_one(a);
    } else {
        time::fire_typed(err::invalid_type, type_of(a));
    }
    make_none(args());
}

namespace {
void log_handle_call(const char* routine, const Cell* h) {
    State& s = st();
    Cell* base = stack::top;
    Cell* e = log_begin(routine);
    auto it = s.handle_names.find(handle::value_of(h));
    log_word(e, it == s.handle_names.end() ? sym.none_ : it->second);
    log_end(e);
    stack::top = base;
}
} // namespace

void refresh_window_star() {
    ensure();
    log_handle_call("refresh-window", args());
    make_none(args());
}

void redraw_star() {
    ensure();
    if (state_values(args())) log_face_call("redraw", args());
    make_none(args());
}

void show_window_star() {
    ensure();
    log_handle_call("show-window", args());
    make_none(args());
}

void make_view_star() {
    ensure();
    State& s = st();
    Cell* a = args();
    Cell* base = stack::top;
    Cell* e = log_begin("make-view");
    log_face(e, a);
    auto it = s.handle_names.find(handle::value_of(a + 1));
    log_word(e, it == s.handle_names.end() ? sym.none_ : it->second);
    log_end(e);
    stack::top = base;
    if (s.failures > 0) {
        s.failures--;
        handle::box(0, handle::CLASS_NULL);
        return;
    }
    uintptr_t h = s.next_handle;
    s.next_handle += 4;
    s.handle_names[h] = face_name(a);
    handle::box(h, handle::CLASS_WINDOW);
}

void draw_image_star() {
    ensure();
    record_draw_image(args(), args() + 1);
    make_none(args());
}

void draw_face_star() {
    ensure();
    if (state_values(args())) record_draw_face(face_name(args()), args() + 1);
    make_none(args());
}

void append_log(Cell* entry) {
    ensure();
    log_end(entry);
}

// Queued events go to awake in order until the level is told to end, its
// window is destroyed, or the queue runs dry; with no-wait? the events
// queued now are handled and the call returns.
void do_event_loop_star() {
    ensure();
    State& s = st();
    bool no_wait = type_of(args()) == TYPE_LOGIC && args()->data1;
    if (s.levels.size() >= 64) fire(err::too_deep);
    s.levels.push_back(Level{false});
    size_t level = s.levels.size() - 1;
    int32_t end = block::rs_length_q(s.queue);
    Cell* base = stack::top;
    Cell* result = make_none(stack::push_cell());
    while (!s.levels[level].exit && s.queue_head < block::rs_length_q(s.queue)) {
        if (no_wait && s.queue_head >= end) break;
        Cell* ev = stack::push(block::rs_head(s.queue) + s.queue_head);
        s.queue_head++;
        uint32_t type = ev->data1;
        dispatch(ev, result);
        if (type == CLOSE_EVENT && type_of(result) == TYPE_WORD && same(result->data2, sym.stop))
            s.levels[level].exit = true;
        stack::top = result + 1;
    }
    if (s.queue_head >= block::rs_length_q(s.queue)) {
        block::ms_clear(s.queue);
        s.queue_head = 0;
    }
    s.levels.pop_back();
    stack::top = base;
    make_logic(args(), true);
}

void exit_event_loop_star() {
    ensure();
    State& s = st();
    log_plain("exit-event-loop");
    if (!s.levels.empty()) s.levels.back().exit = true;
    make_none(args());
}

void request_font_star() {
    ensure();
    log_plain("request-font");
    make_none(args());
}

void request_file_star() {
    ensure();
    log_plain("request-file");
    make_none(args());
}

void request_dir_star() {
    ensure();
    log_plain("request-dir");
    make_none(args());
}

void text_box_metrics_star() {
    ensure();
    Cell* a = args();
    if (!type_is(a, sym.rich_text)) {
        Cell t = *field(a, sym.type);
        fire(err::face_type, &t);
    }
    Cell* text = field(a, sym.text);
    if (type_of(text) != TYPE_STRING) {
        make_none(a);
        return;
    }
    // The layout is rebuilt when stale; on a grid, rebuilding is marking it
    // fresh.
    Cell* handles = field(a, sym.handles);
    if (type_of(handles) == TYPE_BLOCK && block::rs_length_q(handles) > 0) {
        Cell* last = block::rs_head(handles) + block::rs_length_q(handles) - 1;
        make_logic(last, false);
    }
    Cell t = *text;
    Cell* kept = stack::push(&t);
    int32_t type = get_integer(a + 2);
    int32_t wrap = wrap_columns(a);
    int32_t column, line;
    switch (type) {
    case 0:
    case 6: {
        int32_t pos = type_of(a + 1) == TYPE_INTEGER ? get_integer(a + 1) : 1;
        caret_place(kept, pos, wrap, &column, &line);
        point2D::make_cell(a, static_cast<float>(column * CHAR_W),
                           static_cast<float>((line + (type == 6 ? 1 : 0)) * CHAR_H));
        break;
    }
    case 1:
    case 5:
        make_integer(a, point_to_caret(kept, coordinate(a + 1, false), coordinate(a + 1, true),
                                       type == 5, wrap));
        break;
    case 2:
        make_float(a, CHAR_H);
        break;
    case 3: {
        int32_t columns, lines;
        measure(kept, wrap, &columns, &lines);
        point2D::make_cell(a, static_cast<float>(columns * CHAR_W),
                           static_cast<float>(lines * CHAR_H));
        break;
    }
    case 4: {
        int32_t columns, lines;
        measure(kept, wrap, &columns, &lines);
        make_integer(a, lines);
        break;
    }
    default:
        make_none(a);
    }
    stack::top = kept;
}

void update_scroller_star() {
    ensure();
    Cell* base = stack::top;
    Cell* e = log_begin("update-scroller");
    log_value(e, args() + 1);
    log_end(e);
    stack::top = base;
    make_none(args());
}

void set_dark_mode_star() {
    ensure();
    log_face_call("set-dark-mode", args());
    make_none(args());
}

void support_dark_mode_q_star() { make_logic(args(), false); }

void toggle_GPU_star() {
    ensure();
    log_plain("toggle-GPU");
    make_none(args());
}

bool send_os(Cell* event, bool queued) {
    ensure();
    State& s = st();
    Cell* base = stack::top;
    Cell* face = event::get_field(event, event::F_FACE);
    bool ok = type_of(face) == TYPE_OBJECT;
    stack::top = base;
    if (ok) {
        if (queued) {
            block::ms_append(s.queue, event);
        } else {
            Cell* result = make_none(stack::push_cell());
            dispatch(event, result);
            stack::top = base;
        }
    }
    return ok;
}

void send_event_os_star() {
    Cell* a = args();
    bool ok = send_os(a, type_of(a + 1) == TYPE_LOGIC && a[1].data1);
    make_logic(args(), ok);
}

void null_gui_log_star() {
    ensure();
    State& s = st();
    *args() = *s.log;
    block::make_at(s.log, 16);
}

void null_gui_screens_star() {
    ensure();
    State& s = st();
    Cell* a = args();
    std::vector<Display> displays;
    int32_t n = block::rs_length_q(a);
    for (int32_t i = 0; i < n; i++) {
        const Cell* entry = block::rs_head(a) + i;
        if (type_of(entry) != TYPE_BLOCK || block::rs_length_q(entry) < 3)
            fire(err::invalid_arg, entry);
        const Cell* v = block::rs_head(entry);
        if (type_of(v) != TYPE_PAIR || type_of(v + 1) != TYPE_PAIR ||
            (type_of(v + 2) != TYPE_FLOAT && type_of(v + 2) != TYPE_INTEGER))
            fire(err::invalid_arg, entry);
        double scale = type_of(v + 2) == TYPE_FLOAT ? get_float(v + 2) : get_integer(v + 2);
        if (scale <= 0) fire(err::invalid_arg, entry);
        // A display at the same place keeps its handle.
        uint32_t id = 0;
        for (const Display& d : s.displays)
            if (d.x == static_cast<int32_t>(v->data2) && d.y == static_cast<int32_t>(v->data3))
                id = d.id;
        for (const Display& d : displays)
            if (d.id == id) id = 0;
        if (!id) id = s.next_display_id++;
        displays.push_back(Display{static_cast<int32_t>(v->data2), static_cast<int32_t>(v->data3),
                                   static_cast<int32_t>(v[1].data2),
                                   static_cast<int32_t>(v[1].data3), scale, id});
    }
    s.displays = displays;
    int32_t current = type_of(a + 1) == TYPE_INTEGER ? get_integer(a + 1) - 1 : 0;
    s.current_display = current >= 0 && current < n ? current : 0;
    make_none(args());
}

void null_gui_fail_star() {
    ensure();
    st().failures = type_of(args()) == TYPE_INTEGER ? get_integer(args()) : 0;
    make_none(args());
}

void null_gui_version_star() {
    ensure();
    Cell* a = args();
    if (type_of(a) != TYPE_TUPLE) fire(err::invalid_arg, a);
    const uint8_t* b = tuple::bytes_of(a);
    State& s = st();
    for (int i = 0; i < 3; i++) s.version[i] = b[i];
    make_none(args());
}

namespace {

// send-event's native body sends through this back end.
void bind_send_event() { routines::bind_native_body("send-event", &send_event_body); }

} // namespace

const Backend null_backend = {
    &init_star,
    &fetch_all_screens_star,
    &get_current_screen_star,
    &get_screen_size_star,
    &size_text_star,
    &on_change_facet_star,
    &update_text_star,
    &update_font_star,
    &update_para_star,
    &destroy_view_star,
    &detach_image_star,
    &update_view_star,
    &refresh_window_star,
    &redraw_star,
    &show_window_star,
    &make_view_star,
    &draw_image_star,
    &draw_face_star,
    &do_event_loop_star,
    &exit_event_loop_star,
    &request_font_star,
    &request_file_star,
    &request_dir_star,
    &text_box_metrics_star,
    &update_scroller_star,
    &set_dark_mode_star,
    &support_dark_mode_q_star,
    &toggle_GPU_star,
    &send_event_os_star,
    {&get_event_field},
    &bind_send_event,
    nullptr,
    nullptr,
    false,
};

} // namespace mox::gui
