// Faces and their windows: the window classes, the per-window records,
// face creation, facet updates, destruction, fonts and text measurement.
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "core/console.h"
#include "core/context.h"
#include "core/externals.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value-pool.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "view/windows/dx.h"
#include "view/windows/internal.h"
#include "view/windows/text.h"

namespace mox::gui::win {

Symbols sym;

void init_symbols() {
    static bool done = false;
    if (done) return;
    done = true;
    const char* names[] = {
        "system",    "view",       "awake",    "type",      "offset",    "size",        "text",
        "image",     "color",      "menu",     "data",      "enabled?",  "visible?",    "selected",
        "flags",     "options",    "parent",   "pane",      "state",     "rate",        "para",
        "font",      "actors",     "extra",    "draw",      "metrics",   "dpi",         "misc",
        "colors",    "fonts",      "scroller", "window",    "panel",     "version",     "build",
        "product",   "stop",       "name",     "style",     "angle",     "anti-alias?", "bold",
        "italic",    "underline",  "strike",   "ClearType", "align",     "v-align",     "wrap?",
        "left",      "center",     "right",    "top",       "middle",    "bottom",      "hint",
        "cursor",    "I-beam",     "hand",     "cross",     "resize-ns", "resize-ew",   "resize-we",
        "wheel",     "track",      "up",       "down",      "page-up",   "page-down",   "end",
        "page-left", "page-right", "vertical", "horizontal"};
    uint32_t* out = &sym.system;
    for (size_t i = 0; i < std::size(names); i++) out[i] = symbol::make(names[i]);
    const char* types[FT_COUNT] = {"face",     "window",   "panel",     "base",      "rich-text",
                                   "button",   "toggle",   "check",     "radio",     "field",
                                   "area",     "text",     "text-list", "drop-down", "drop-list",
                                   "progress", "slider",   "scroller",  "group-box", "tab-panel",
                                   "camera",   "calendar", "screen"};
    for (int32_t i = 0; i < FT_COUNT; i++) sym.types[i] = symbol::make(types[i]);
    const char* flags[15] = {"all-over",   "focusable",  "tri-state", "scrollable", "password",
                             "no-sync",    "fullscreen", "popup",     "modal",      "resize",
                             "no-buttons", "no-max",     "no-min",    "no-title",   "no-border"};
    for (int32_t i = 0; i < 15; i++) sym.flag_words[i] = symbol::make(flags[i]);
}

// --- faces ----------------------------------------------------------------

bool same_word(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

Cell* facet(const Cell* face, uint32_t symbol) { return object::find_value(face->data1, symbol); }

void set_facet(const Cell* face, uint32_t symbol, const Cell* value) {
    int32_t i = object::find_field(face->data1, symbol);
    if (i >= 0) *context::value_ptr(face->data1, i) = *value;
}

FaceType face_type(const Cell* face) {
    if (type_of(face) != TYPE_OBJECT) return FT_OTHER;
    const Cell* t = facet(face, sym.type);
    if (!is_any_word(type_of(t))) return FT_OTHER;
    uint32_t canon = symbol::resolve(t->data2);
    for (int32_t i = 1; i < FT_COUNT; i++)
        if (symbol::resolve(sym.types[i]) == canon) return static_cast<FaceType>(i);
    return FT_OTHER;
}

HWND face_handle(const Cell* face) {
    if (type_of(face) != TYPE_OBJECT) return nullptr;
    Cell* state = facet(face, sym.state);
    if (type_of(state) != TYPE_BLOCK || block::rs_length_q(state) < 1) return nullptr;
    const Cell* h = block::rs_head(state);
    if (type_of(h) != TYPE_HANDLE) return nullptr;
    return reinterpret_cast<HWND>(handle::value_of(h));
}

float coord(const Cell* point, bool y) {
    if (type_of(point) == TYPE_PAIR)
        return static_cast<float>(static_cast<int32_t>(y ? point->data3 : point->data2));
    if (type_of(point) == TYPE_POINT2D) return y ? point2D::y_of(point) : point2D::x_of(point);
    return 0;
}

namespace {

uint32_t flag_bit(uint32_t symbol) {
    static const uint32_t bits[15] = {FF_ALL_OVER, FF_FOCUSABLE, FF_TRI_STATE,  FF_SCROLLABLE,
                                      FF_PASSWORD, FF_NO_SYNC,   FF_FULLSCREEN, FF_POPUP,
                                      FF_MODAL,    FF_RESIZE,    FF_NO_BUTTONS, FF_NO_MAX,
                                      FF_NO_MIN,   FF_NO_TITLE,  FF_NO_BORDER};
    for (int32_t i = 0; i < 15; i++)
        if (same_word(symbol, sym.flag_words[i])) return bits[i];
    return 0;
}

} // namespace

uint32_t get_flags(const Cell* flags) {
    uint32_t mask = 0;
    auto one = [&](const Cell* w) {
        uint32_t bit = flag_bit(w->data2);
        if (!bit) fire(err::invalid_arg, w);
        mask |= bit;
    };
    if (is_any_word(type_of(flags))) {
        one(flags);
    } else if (type_of(flags) == TYPE_BLOCK) {
        int32_t n = block::rs_length_q(flags);
        for (int32_t i = 0; i < n; i++) {
            const Cell* w = block::rs_head(flags) + i;
            if (is_any_word(type_of(w))) one(w);
        }
    }
    return mask;
}

// --- classes and records --------------------------------------------------

namespace {

struct ClassDef {
    const wchar_t* name;
    const wchar_t* base; // null: a class of our own
    ATOM atom;
    int32_t offset; // byte offset of the record slot
    WNDPROC base_proc;
};

enum ClassIndex : int32_t {
    C_WINDOW,
    C_PANEL,
    C_BASE,
    C_BASE_INTERNAL,
    C_CAMERA,
    C_BUTTON,
    C_LIST_BOX,
    C_PROGRESS,
    C_SLIDER,
    C_SCROLLER,
    C_TAB_PANEL,
    C_COMBO,
    C_FACE,
    C_CALENDAR,
    C_AREA,
    C_FIELD,
    C_COUNT
};

ClassDef classes[C_COUNT] = {
    {L"MoxWindow", nullptr, 0, 0, nullptr},
    {L"MoxPanel", nullptr, 0, 0, nullptr},
    {L"MoxBase", nullptr, 0, 0, nullptr},
    {L"MoxBaseInternal", nullptr, 0, 0, nullptr},
    {L"MoxCamera", nullptr, 0, 0, nullptr},
    {L"MoxButton", L"BUTTON", 0, 0, nullptr},
    {L"MoxListBox", L"ListBox", 0, 0, nullptr},
    {L"MoxProgress", L"msctls_progress32", 0, 0, nullptr},
    {L"MoxSlider", L"msctls_trackbar32", 0, 0, nullptr},
    {L"MoxScroller", L"SCROLLBAR", 0, 0, nullptr},
    {L"MoxTabpanel", L"SysTabControl32", 0, 0, nullptr},
    {L"MoxCombo", L"ComboBox", 0, 0, nullptr},
    {L"MoxFace", L"STATIC", 0, 0, nullptr},
    {L"MoxCalendar", L"SysMonthCal32", 0, 0, nullptr},
    {L"MoxArea", L"EDIT", 0, 0, nullptr},
    {L"MoxField", L"EDIT", 0, 0, nullptr},
};

template <int32_t I>
LRESULT CALLBACK super_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return control_proc(I, hwnd, msg, wparam, lparam);
}

template <int32_t... I>
constexpr WNDPROC super_procs_of(int32_t i, std::integer_sequence<int32_t, I...>) {
    constexpr WNDPROC table[] = {&super_proc<I>...};
    return table[i];
}
WNDPROC super_proc_at(int32_t i) {
    return super_procs_of(i, std::make_integer_sequence<int32_t, C_COUNT>{});
}

int32_t class_of(HWND hwnd) {
    ATOM atom = static_cast<ATOM>(GetClassLongPtrW(hwnd, GCW_ATOM));
    if (!atom) return -1;
    for (int32_t i = 0; i < C_COUNT; i++)
        if (classes[i].atom == atom) return i;
    return -1;
}

} // namespace

// A test run may make one system call fail, to show what the program does
// then: "GetClassInfoEx:BUTTON" (a base class), "LoadLibrary:DWrite.dll"
// (names as ASCII, compared exactly).
bool failing_call(const char* call, const wchar_t* name) {
    static const char* asked = std::getenv("MOX_TEST_FAIL_CALL");
    if (!asked) return false;
    size_t n = std::strlen(call);
    if (std::strncmp(asked, call, n) != 0 || asked[n] != ':') return false;
    const char* wanted = asked + n + 1;
    for (; *wanted && *name; wanted++, name++)
        if (static_cast<wchar_t>(*wanted) != *name) return false;
    return *wanted == 0 && *name == 0;
}

void register_classes() {
    for (int32_t i = 0; i < C_COUNT; i++) {
        ClassDef& c = classes[i];
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        if (c.base) {
            // A failed look-up skips the class (a superclass without its
            // base's procedure could not work): its faces then fail to be
            // made, which make-view reports.
            if (failing_call("GetClassInfoEx", c.base) || !GetClassInfoExW(nullptr, c.base, &wc)) {
                console::write_cstring("*** Error in GetClassInfoEx\n");
                continue;
            }
            wc.cbSize = sizeof wc;
            c.base_proc = wc.lpfnWndProc;
            wc.lpfnWndProc = super_proc_at(i);
        } else {
            wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
            wc.lpfnWndProc = i == C_BASE            ? &base_face_proc
                             : i == C_BASE_INTERNAL ? &base_internal_proc
                             : i == C_CAMERA        ? &camera_proc
                                                    : &window_proc;
            wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            wc.hIcon = LoadIconW(g.instance, MAKEINTRESOURCEW(1));
            wc.hbrBackground = reinterpret_cast<HBRUSH>(
                static_cast<INT_PTR>(i == C_CAMERA ? 2 : COLOR_BTNFACE + 1));
        }
        c.offset = (wc.cbWndExtra + static_cast<int32_t>(sizeof(LONG_PTR)) - 1) &
                   ~(static_cast<int32_t>(sizeof(LONG_PTR)) - 1);
        wc.cbWndExtra = c.offset + static_cast<int32_t>(sizeof(LONG_PTR));
        wc.hInstance = g.instance;
        wc.lpszClassName = c.name;
        c.atom = RegisterClassExW(&wc);
    }
}

void unregister_classes(HINSTANCE instance) {
    static const ClassIndex order[] = {
        C_WINDOW,   C_BASE,   C_BASE_INTERNAL, C_CAMERA, C_BUTTON, C_FIELD, C_COMBO,   C_LIST_BOX,
        C_PROGRESS, C_SLIDER, C_TAB_PANEL,     C_PANEL,  C_FACE,   C_AREA,  C_CALENDAR};
    for (ClassIndex i : order) {
        // A recycled atom must not make a later class's windows look ours.
        if (UnregisterClassW(classes[i].name, instance)) classes[i].atom = 0;
    }
}

WindowRecord* record_of(HWND hwnd) {
    if (!hwnd) return nullptr;
    int32_t c = class_of(hwnd);
    if (c < 0) return nullptr;
    return reinterpret_cast<WindowRecord*>(GetWindowLongPtrW(hwnd, classes[c].offset));
}

Cell* face_of(HWND hwnd) {
    WindowRecord* r = record_of(hwnd);
    if (!r || !r->face) return nullptr;
    Cell* face = value_pool::get(r->face);
    return face && type_of(face) == TYPE_OBJECT ? face : nullptr;
}

namespace {

// The record of a window being created: made on WM_NCCREATE with the face
// the creation parameters point at (a cell on the evaluation stack). May
// collect.
void attach_record(HWND hwnd, int32_t cls, LPARAM lparam) {
    auto* r = new WindowRecord;
    SetWindowLongPtrW(hwnd, classes[cls].offset, reinterpret_cast<LONG_PTR>(r));
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    const auto* face = static_cast<const Cell*>(cs->lpCreateParams);
    if (face && type_of(face) == TYPE_OBJECT) {
        r->face = value_pool::alloc(face);
        r->type = face_type(face);
    }
}

void detach_record(HWND hwnd, int32_t cls) {
    auto* r = reinterpret_cast<WindowRecord*>(GetWindowLongPtrW(hwnd, classes[cls].offset));
    if (!r) return;
    SetWindowLongPtrW(hwnd, classes[cls].offset, 0);
    value_pool::free(r->face);
    if (r->font) DeleteObject(r->font);
    if (r->render_target) release_render_target(r->render_target);
    // The thread's caret lives in this window (or is this caret face's).
    if (r->flags & (WF_CARET | WF_HAS_CARET)) DestroyCaret();
    if (r->cursor_icon) DestroyIcon(r->cursor_icon);
    delete r;
}

} // namespace

// The part of every procedure of ours that keeps the record: made before
// the window's first message is handled, freed after its last. Returns
// false when the record could not be made (creation then fails).
bool keep_record(HWND hwnd, UINT msg, LPARAM lparam, bool after) {
    int32_t cls = class_of(hwnd);
    if (cls < 0) return true;
    if (msg == WM_NCCREATE && !after) {
        return guarded([&] { attach_record(hwnd, cls, lparam); });
    } else if (msg == WM_NCDESTROY && after) {
        detach_record(hwnd, cls);
    }
    return true;
}

WNDPROC base_proc_of(int32_t cls) { return classes[cls].base_proc; }

// --- fonts ----------------------------------------------------------------

namespace {

uint32_t font_kind = 0;

void release_font(uintptr_t object) { DeleteObject(reinterpret_cast<HFONT>(object)); }

// The font's state block when it belongs to this very font object (a copied
// font shares its original's block and must not use its handles).
Cell* valid_font_state(const Cell* font) {
    Cell* state = facet(font, sym.state);
    if (type_of(state) != TYPE_BLOCK || state->data1 != 1) return nullptr;
    Cell* owner = block::rs_head(state) - 1;
    if (type_of(owner) != TYPE_OBJECT || owner->data1 != font->data1) return nullptr;
    if (block::rs_length_q(state) < 3) return nullptr;
    return state;
}

// Creates the GDI font of a font object at the current DPI (scaled) or at
// 96 DPI, and keeps it in the font's state block: [owner | scaled none
// unscaled], each handle entered in the external-resource registry. May
// collect.
HFONT make_font_at(const Cell* font_in, bool scaled) {
    Cell* base = stack::top;
    Cell* font = stack::push(font_in);
    const Cell* size_cell = facet(font, sym.size);
    int32_t size = type_of(size_cell) == TYPE_INTEGER ? get_integer(size_cell) : 0;
    if (size <= 0) {
        Cell* view = word::get_value(word::load("system"));
        size = 9;
        if (type_of(view) == TYPE_OBJECT) {
            Cell* v = facet(view, sym.view);
            if (type_of(v) == TYPE_OBJECT) {
                Cell* fonts = facet(v, sym.fonts);
                if (type_of(fonts) == TYPE_OBJECT) {
                    Cell* s = facet(fonts, sym.size);
                    if (type_of(s) == TYPE_INTEGER && get_integer(s) > 0) size = get_integer(s);
                }
            }
        }
    }
    int32_t dpi = scaled ? g.dpi_y : 96;
    int32_t height = -(size * dpi / 72);
    const Cell* angle = facet(font, sym.angle);
    int32_t orientation = type_of(angle) == TYPE_INTEGER ? get_integer(angle) * 10 : 0;
    const Cell* aa = facet(font, sym.anti_alias_q);
    DWORD quality = DEFAULT_QUALITY;
    if (type_of(aa) == TYPE_LOGIC && aa->data1)
        quality = ANTIALIASED_QUALITY;
    else if (type_of(aa) == TYPE_WORD && same_word(aa->data2, sym.ClearType))
        quality = CLEARTYPE_QUALITY;
    std::u16string name;
    Cell* name_cell = stack::push(facet(font, sym.name));
    if (type_of(name_cell) == TYPE_STRING) {
        int32_t length = -1;
        const char16_t* units = unicode::to_utf16_part(name_cell, &length, false);
        if (units) name.assign(units, static_cast<size_t>(length < 31 ? length : 31));
    } else {
        name = g.default_font_name.substr(0, 31);
    }
    int32_t weight = 0;
    bool italic = false, underline = false, strike = false;
    auto style_word = [&](const Cell* w) {
        if (!is_any_word(type_of(w))) return;
        if (same_word(w->data2, sym.bold))
            weight = 700;
        else if (same_word(w->data2, sym.italic))
            italic = true;
        else if (same_word(w->data2, sym.underline))
            underline = true;
        else if (same_word(w->data2, sym.strike))
            strike = true;
    };
    const Cell* style = facet(font, sym.style);
    if (type_of(style) == TYPE_BLOCK) {
        for (int32_t i = 0, n = block::rs_length_q(style); i < n; i++)
            style_word(block::rs_head(style) + i);
    } else {
        style_word(style);
    }
    HFONT h = CreateFontW(height, 0, 0, orientation, weight, italic, underline, strike,
                          DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, quality,
                          DEFAULT_PITCH, reinterpret_cast<LPCWSTR>(name.c_str()));
    Cell hcell;
    if (h) {
        handle::make_cell(&hcell, reinterpret_cast<uintptr_t>(h), handle::CLASS_FONT);
        hcell.data3 = externals::store(reinterpret_cast<uintptr_t>(h), font_kind);
    } else {
        make_none(&hcell);
    }
    Cell* kept = stack::push(&hcell);
    Cell* state = valid_font_state(font);
    if (!state) {
        Cell* blk = block::make_at(stack::push_cell(), 4);
        block::ms_append(blk, font);
        Cell none;
        make_none(&none);
        block::ms_append(blk, scaled ? kept : &none);
        block::ms_append(blk, &none);
        block::ms_append(blk, scaled ? &none : kept);
        blk->data1 = 1;
        set_facet(font, sym.state, blk);
    } else if (scaled) {
        if (type_of(block::rs_head(state) + 2) != TYPE_HANDLE) make_font_at(font, false);
        state = valid_font_state(font);
        if (state) block::rs_head(state)[0] = *kept;
    } else {
        block::rs_head(state)[2] = *kept;
    }
    stack::top = base;
    return h;
}

// The scaled font of a font object, made when missing. May collect.
HFONT font_handle(const Cell* font) {
    Cell* state = valid_font_state(font);
    if (state) {
        const Cell* h = block::rs_head(state);
        if (type_of(h) == TYPE_HANDLE && handle::value_of(h))
            return reinterpret_cast<HFONT>(handle::value_of(h));
    }
    return make_font_at(font, true);
}

// Releases the handles of a font's state block.
void free_font(const Cell* font) {
    Cell* state = valid_font_state(font);
    if (!state) return;
    bool released = false;
    // Slot 1 holds the DirectWrite text format, released like the fonts.
    for (int32_t i : {0, 1, 2}) {
        Cell* h = block::rs_head(state) + i;
        if (type_of(h) == TYPE_HANDLE) {
            externals::remove(h->data3, true);
            make_none(h);
            released = true;
        }
    }
    if (released) {
        Cell none;
        make_none(&none);
        set_facet(font, sym.state, &none);
    }
}

} // namespace

HFONT font_object_handle(const Cell* font) { return font_handle(font); }

void register_font_kind() {
    if (!font_kind) font_kind = externals::register_kind("font", &release_font);
}

Cell* font_state(const Cell* font) {
    Cell* base = stack::top;
    Cell* kept = stack::push(font);
    Cell* state = valid_font_state(kept);
    if (!state) {
        font_handle(kept);
        state = valid_font_state(kept);
    }
    stack::top = base;
    return state;
}

HFONT font_for(const Cell* face) {
    const Cell* font = facet(face, sym.font);
    if (type_of(font) == TYPE_OBJECT) {
        Cell* base = stack::top;
        HFONT h = font_handle(stack::push(font));
        stack::top = base;
        if (h) return h;
    }
    return g.default_font;
}

// --- para -----------------------------------------------------------------

namespace {

uint32_t para_flags(FaceType type, const Cell* para) {
    if (type_of(para) != TYPE_OBJECT) return 0;
    const Cell* align = facet(para, sym.align);
    const Cell* valign = facet(para, sym.v_align);
    const Cell* wrap_cell = facet(para, sym.wrap_q);
    bool wrap =
        type_of(wrap_cell) == TYPE_NONE || (type_of(wrap_cell) == TYPE_LOGIC && wrap_cell->data1);
    // left centre right, top middle bottom, default horizontal and vertical
    uint32_t h[3], v[3], dh, dv, extra = 0;
    switch (type) {
    case FT_BASE:
    case FT_RICH_TEXT:
        h[0] = 0;
        h[1] = 1;
        h[2] = 2;
        v[0] = 0;
        v[1] = 4;
        v[2] = 8;
        dh = type == FT_RICH_TEXT ? 0 : 1;
        dv = type == FT_RICH_TEXT ? 0 : 4;
        if (wrap) extra = 0x10;
        break;
    case FT_BUTTON:
    case FT_TOGGLE:
    case FT_CHECK:
    case FT_RADIO:
        h[0] = 0x100;
        h[1] = 0x300;
        h[2] = 0x200;
        v[0] = 0x400;
        v[1] = 0xC00;
        v[2] = 0x800;
        dh = type == FT_BUTTON || type == FT_TOGGLE ? 0x300 : 0x100;
        dv = 0xC00;
        break;
    case FT_FIELD:
    case FT_AREA:
    case FT_TEXT:
        h[0] = 0;
        h[1] = 1;
        h[2] = 2;
        v[0] = 0;
        v[1] = 0x200;
        v[2] = 0;
        dh = dv = 0;
        if (!wrap) extra = type == FT_TEXT ? 0x4000 : 0xC0;
        break;
    default:
        return 0;
    }
    uint32_t hb = dh, vb = dv;
    if (is_any_word(type_of(align))) {
        if (same_word(align->data2, sym.left))
            hb = h[0];
        else if (same_word(align->data2, sym.center))
            hb = h[1];
        else if (same_word(align->data2, sym.right))
            hb = h[2];
    }
    if (is_any_word(type_of(valign))) {
        if (same_word(valign->data2, sym.top))
            vb = v[0];
        else if (same_word(valign->data2, sym.middle))
            vb = v[1];
        else if (same_word(valign->data2, sym.bottom))
            vb = v[2];
    }
    return extra | hb | vb;
}

uint32_t para_mask(FaceType type) {
    switch (type) {
    case FT_BASE:
    case FT_RICH_TEXT:
        return 0x3F;
    case FT_BUTTON:
    case FT_TOGGLE:
    case FT_CHECK:
    case FT_RADIO:
        return 0xF00;
    case FT_FIELD:
    case FT_AREA:
    case FT_TEXT:
        return 0x42C3;
    default:
        return 0;
    }
}

} // namespace

uint32_t get_para_flags(FaceType type, const Cell* para) { return para_flags(type, para); }

namespace {

// --- creation -------------------------------------------------------------

void set_check(HWND hwnd, const Cell* data, bool three_state) {
    WPARAM state = BST_CHECKED;
    if (type_of(data) == TYPE_NONE)
        state = three_state ? BST_INDETERMINATE : BST_UNCHECKED;
    else if (type_of(data) == TYPE_LOGIC)
        state = data->data1 ? BST_CHECKED : BST_UNCHECKED;
    SendMessageW(hwnd, BM_SETCHECK, state, 0);
}

// The text of a string facet as UTF-16 (empty for anything else), its line
// feeds as edit controls hold them (CR LF) unless crlf is false. May
// collect.
std::u16string text_of(const Cell* value, bool crlf = true) {
    if (type_of(value) != TYPE_STRING) return {};
    Cell* base = stack::top;
    Cell* s = stack::push(value);
    int32_t length = -1;
    const char16_t* units = unicode::to_utf16_part(s, &length, crlf);
    std::u16string out =
        units ? std::u16string(units, static_cast<size_t>(length)) : std::u16string();
    stack::top = base;
    return out;
}

float ratio_of(const Cell* data) {
    if (type_of(data) == TYPE_FLOAT || type_of(data) == TYPE_PERCENT)
        return static_cast<float>(get_float(data));
    return 0;
}

// A selection offset between the face's text (characters, line feeds) and
// its edit control (UTF-16 units, CR LF). Offsets past the text's end are
// its end.
int32_t convert_selection(const std::u16string& text, int32_t offset, bool to_control) {
    int32_t chars = 0, units = 0;
    size_t at = 0;
    while (at < text.size()) {
        bool surrogates = (text[at] & 0xFC00) == 0xD800 && at + 1 < text.size() &&
                          (text[at + 1] & 0xFC00) == 0xDC00;
        int32_t width = surrogates ? 2 : 1;
        int32_t shown = width + (text[at] == u'\n' ? 1 : 0);
        if (to_control ? chars >= offset : units + shown > offset) break;
        chars++;
        units += shown;
        at += static_cast<size_t>(width);
    }
    return to_control ? units : chars;
}

} // namespace

void set_selection(HWND hwnd, const Cell* face) {
    const Cell* sel = facet(face, sym.selected);
    int32_t start = 0, end = 0;
    if (type_of(sel) == TYPE_PAIR) {
        int32_t a = static_cast<int32_t>(sel->data2), b = static_cast<int32_t>(sel->data3);
        int32_t low = a < b ? a : b, high = a < b ? b : a;
        start = low > 0 ? low - 1 : 0;
        end = high > 0 ? high : 0;
        std::u16string text = text_of(facet(face, sym.text), false);
        start = convert_selection(text, start, true);
        end = convert_selection(text, end, true);
    }
    SendMessageW(hwnd, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void get_selected(HWND hwnd, const Cell* face) {
    DWORD start = 0, end = 0;
    SendMessageW(hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    Cell v;
    if (start == end) {
        make_none(&v);
    } else {
        std::u16string text = text_of(facet(face, sym.text), false);
        pair::make_cell(&v, convert_selection(text, static_cast<int32_t>(start), false) + 1,
                        convert_selection(text, static_cast<int32_t>(end), false));
    }
    set_facet(face, sym.selected, &v);
}

void update_text_scrollbars(HWND hwnd, const Cell* face, const std::u16string* given) {
    if (type_of(facet(face, sym.text)) != TYPE_STRING) {
        ShowScrollBar(hwnd, SB_BOTH, FALSE);
        return;
    }
    std::u16string own;
    if (!given) own = text_of(facet(face, sym.text));
    const std::u16string& text = given ? *given : own;
    // The room the text has without either bar; each bar shown takes its
    // breadth from it.
    RECT client;
    GetClientRect(hwnd, &client);
    LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    int32_t bar_w = GetSystemMetrics(SM_CXVSCROLL), bar_h = GetSystemMetrics(SM_CYHSCROLL);
    int32_t room_w = client.right + (style & WS_VSCROLL ? bar_w : 0);
    int32_t room_h = client.bottom + (style & WS_HSCROLL ? bar_h : 0);
    // The control wraps its lines when it does not scroll them sideways,
    // whatever its para says.
    bool wrap = !(style & ES_AUTOHSCROLL);
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    DWORD m = GetTabbedTextExtentW(dc, L"M", 1, 0, nullptr);
    int32_t char_w = LOWORD(m), line_h = HIWORD(m);
    const UINT measure = DT_CALCRECT | DT_EXPANDTABS | DT_NOPREFIX;
    auto units = [&](size_t at) { return reinterpret_cast<LPCWSTR>(text.c_str() + at); };
    int32_t height = 0;
    bool vertical = false, horizontal = false;
    size_t longest_at = 0, longest = 0, at = 0;
    for (;;) {
        size_t end = text.find(u'\n', at);
        size_t stop = end == std::u16string::npos ? text.size() : end;
        size_t length = stop - at;
        if (length && text[stop - 1] == u'\r') length--;
        height += line_h;
        if (room_w < static_cast<int64_t>(length) * char_w) {
            if (wrap) {
                RECT r{0, 0, room_w, 0};
                DrawTextW(dc, units(at), static_cast<int>(length), &r, measure | DT_WORDBREAK);
                height += r.bottom - line_h;
            } else if (length > longest) {
                longest_at = at;
                longest = length;
                horizontal = true;
            }
        }
        if (height >= room_h) {
            vertical = true;
            if (wrap) break;
        }
        if (end == std::u16string::npos) break;
        at = end + 1;
    }
    if (horizontal) {
        // Measured in full: a long line is wider than a 16-bit extent.
        RECT r{0, 0, 0, 0};
        DrawTextW(dc, units(longest_at), static_cast<int>(longest), &r, measure | DT_SINGLELINE);
        horizontal = room_w - (vertical ? bar_w : 0) < r.right;
        if (horizontal) vertical = height >= room_h - bar_h;
    }
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    ShowScrollBar(hwnd, SB_VERT, vertical);
    ShowScrollBar(hwnd, SB_HORZ, horizontal);
}

void extend_text_limit(HWND hwnd, size_t n) {
    size_t length = static_cast<size_t>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
    if (static_cast<size_t>(SendMessageW(hwnd, EM_GETLIMITTEXT, 0, 0)) < n + length)
        SendMessageW(hwnd, EM_LIMITTEXT, n + length + 0x8000, 0);
}

namespace {

void update_data(HWND hwnd, const Cell* face, FaceType type);
void update_selected(HWND hwnd, const Cell* face, FaceType type);
void set_rate(HWND hwnd, const Cell* rate);

// The window of a face under a parent window: class, styles and the
// creation call, then the set-up of its type. Returns null when Windows
// refused the window. May collect.
HWND create_face_window(Cell* face, HWND parent) {
    FaceType type = face_type(face);
    if (type == FT_OTHER || type == FT_SCREEN) {
        Cell t = *facet(face, sym.type);
        fire(err::face_type, &t);
    }
    uint32_t flags = get_flags(facet(face, sym.flags));
    // A tab page fills its tab control's display area.
    HWND tab = nullptr;
    if (type == FT_PANEL && parent && face_type(facet(face, sym.parent)) == FT_TAB_PANEL) {
        tab = parent;
        fit_tab_page(face, tab);
    }
    Cell* offset_cell = facet(face, sym.offset);
    if (type_of(offset_cell) == TYPE_PAIR)
        point2D::make_cell(offset_cell, coord(offset_cell, false), coord(offset_cell, true));
    float x = coord(facet(face, sym.offset), false), y = coord(facet(face, sym.offset), true);
    const Cell* size_cell = facet(face, sym.size);
    bool size_pair = type_of(size_cell) == TYPE_PAIR;
    float w = coord(size_cell, false), h = coord(size_cell, true);

    DWORD style = WS_CHILD | WS_CLIPSIBLINGS, ex = 0;
    bool layered = false;
    const Cell* visible = facet(face, sym.visible_q);
    if (type_of(visible) == TYPE_LOGIC && visible->data1 && type != FT_WINDOW) style |= WS_VISIBLE;
    const Cell* para = facet(face, sym.para);
    if (type_of(para) == TYPE_OBJECT) style |= para_flags(type, para);
    const Cell* enabled = facet(face, sym.enabled_q);
    if (type_of(enabled) == TYPE_LOGIC && !enabled->data1) style |= WS_DISABLED;
    if (flags & FF_SCROLLABLE) style |= WS_HSCROLL | WS_VSCROLL;
    bool has_para = type_of(para) == TYPE_OBJECT;
    const wchar_t* cls = nullptr;
    switch (type) {
    case FT_BUTTON:
        cls = L"MoxButton";
        style |= BS_MULTILINE;
        break;
    case FT_TOGGLE:
        cls = L"MoxButton";
        style |= BS_PUSHLIKE | BS_AUTOCHECKBOX;
        break;
    case FT_CHECK:
        // Three states are cycled by the click handler, once per click.
        cls = L"MoxButton";
        style |= WS_TABSTOP | (flags & FF_TRI_STATE ? BS_3STATE : BS_AUTOCHECKBOX);
        break;
    case FT_RADIO:
        cls = L"MoxButton";
        style |= WS_TABSTOP | BS_RADIOBUTTON;
        break;
    case FT_PANEL:
    case FT_GROUP_BOX:
        cls = L"MoxPanel";
        style |= WS_CLIPCHILDREN;
        // Inside a layered window a panel is layered too (where the system
        // composes layered children).
        if (type == FT_PANEL && layered_children() && layered_q(parent)) {
            ex |= WS_EX_LAYERED;
            layered = true;
        }
        break;
    case FT_TAB_PANEL:
        cls = L"MoxTabpanel";
        break;
    case FT_FIELD:
        cls = L"MoxField";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        if (flags & FF_PASSWORD) style |= ES_PASSWORD;
        if (!has_para) style |= ES_NOHIDESEL;
        if (!(flags & FF_NO_BORDER)) ex |= WS_EX_CLIENTEDGE;
        break;
    case FT_AREA:
        cls = L"MoxArea";
        style |= WS_VSCROLL | WS_TABSTOP | ES_AUTOVSCROLL | ES_MULTILINE;
        if (!has_para) style |= WS_HSCROLL | ES_NOHIDESEL | ES_AUTOHSCROLL;
        if (!(flags & FF_NO_BORDER)) ex |= WS_EX_CLIENTEDGE;
        break;
    case FT_TEXT:
        cls = L"MoxFace";
        break;
    case FT_TEXT_LIST:
        cls = L"MoxListBox";
        style |= WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY;
        if (!(flags & FF_NO_BORDER)) ex |= WS_EX_CLIENTEDGE;
        break;
    case FT_DROP_DOWN:
        cls = L"MoxCombo";
        style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | CBS_HASSTRINGS;
        break;
    case FT_DROP_LIST:
        cls = L"MoxCombo";
        style |= CBS_DROPDOWNLIST | CBS_HASSTRINGS;
        break;
    case FT_PROGRESS:
        cls = L"MoxProgress";
        if (h > w) style |= PBS_VERTICAL;
        break;
    case FT_SLIDER:
        cls = L"MoxSlider";
        if (h > w) style |= TBS_VERT | TBS_DOWNISLEFT;
        break;
    case FT_SCROLLER:
        cls = L"MoxScroller";
        if (h > w) style |= SBS_VERT;
        break;
    case FT_BASE:
    case FT_RICH_TEXT:
        cls = L"MoxBase";
        style |= WS_CLIPCHILDREN;
        base_face_style(face, parent, &style, &ex, &layered);
        break;
    case FT_CAMERA:
        cls = L"MoxCamera";
        break;
    case FT_CALENDAR:
        cls = L"MoxCalendar";
        style |= 0x190;
        break;
    case FT_WINDOW: {
        cls = L"MoxWindow";
        style = WS_CLIPCHILDREN | WS_CAPTION;
        if (!(flags & FF_NO_MIN)) style |= WS_MINIMIZEBOX;
        if (!(flags & FF_NO_MAX)) style |= WS_MAXIMIZEBOX;
        if (!(flags & FF_NO_BUTTONS)) style |= WS_SYSMENU;
        if (flags & FF_POPUP) ex |= WS_EX_TOOLWINDOW;
        if (flags & FF_RESIZE)
            style |= WS_THICKFRAME;
        else
            style &= ~WS_MAXIMIZEBOX;
        if (flags & FF_NO_TITLE) style = WS_POPUP | WS_BORDER;
        if (flags & FF_NO_BORDER) {
            style = WS_POPUP;
            // A borderless window whose colour lets the desktop through,
            // or that asks to be composed by the system.
            if ((type_of(facet(face, sym.color)) == TYPE_TUPLE &&
                 transparent_color_q(facet(face, sym.color))) ||
                accelerated_q(face)) {
                ex |= WS_EX_LAYERED;
                layered = true;
            }
        }
        if (w < 0) w = 200;
        if (h < 0) h = 200;
        if (flags & FF_MODAL)
            parent = GetActiveWindow();
        else
            parent = nullptr;
        break;
    }
    default:
        break;
    }

    // A layered pop-up's children live in its companion pop-up.
    if (type != FT_WINDOW) parent = layered_parent(parent);
    HMENU bar = type == FT_WINDOW ? make_menu_bar(face) : nullptr;
    if (bar) style |= WS_SYSMENU;
    std::u16string text;
    if (type != FT_AREA) text = text_of(facet(face, sym.text));
    int32_t dx = dpi_scale(x), dy = dpi_scale(y), dw = dpi_scale(w), dh = dpi_scale(h);
    if (type == FT_WINDOW) {
        RECT r{0, 0, dw, dh};
        AdjustWindowRectEx(&r, style, bar != nullptr, ex);
        dw = r.right - r.left;
        dh = r.bottom - r.top;
    }
    bool popup = layered && (style & WS_POPUP);
    if (popup) {
        POINT p{dx, dy};
        ClientToScreen(parent, &p);
        dx = p.x;
        dy = p.y;
    }
    Cell* kept = stack::push(face);
    HWND hwnd = CreateWindowExW(ex, cls, reinterpret_cast<LPCWSTR>(text.c_str()), style, dx, dy, dw,
                                dh, parent, bar, g.instance, kept);
    if (!hwnd) {
        console::write_cstring("*** View Error: CreateWindowEx failed!\n");
        if (bar) DestroyMenu(bar);
        return nullptr;
    }
    if (tab) place_tab_page(hwnd, tab, dx, dy);
    set_cursor(hwnd, kept);
    WindowRecord* r = record_of(hwnd);
    if (r) {
        r->flags = size_pair ? WF_SIZE_PAIR : 0;
        r->face_flags = flags;
    }
    if (!popup) BringWindowToTop(hwnd);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(kept)), 0);
    switch (type) {
    case FT_BUTTON:
        set_button_images(hwnd, kept);
        break;
    case FT_TOGGLE:
        set_button_images(hwnd, kept);
        set_check(hwnd, facet(kept, sym.data), false);
        break;
    case FT_CHECK:
        set_check(hwnd, facet(kept, sym.data), flags & FF_TRI_STATE);
        break;
    case FT_RADIO:
        set_check(hwnd, facet(kept, sym.data), false);
        break;
    case FT_TEXT_LIST:
        set_list_data(hwnd, kept);
        break;
    case FT_DROP_DOWN:
    case FT_DROP_LIST:
        set_combo_data(hwnd, kept, type == FT_DROP_LIST);
        break;
    case FT_TAB_PANEL:
        set_tabs_data(hwnd, kept);
        break;
    case FT_CALENDAR:
        sync_calendar(hwnd, kept);
        set_calendar_color(hwnd, kept);
        break;
    case FT_BASE:
        init_base_face(hwnd, parent, kept, layered);
        attach_caret(hwnd, kept);
        break;
    case FT_RICH_TEXT:
        init_base_face(hwnd, parent, kept, layered);
        break;
    case FT_CAMERA:
        make_camera(hwnd, kept);
        break;
    case FT_SLIDER:
    case FT_PROGRESS: {
        int32_t length = static_cast<int32_t>(w > h ? w : h);
        if (type == FT_SLIDER)
            SendMessageW(hwnd, TBM_SETRANGE, TRUE, MAKELPARAM(0, length));
        else
            SendMessageW(hwnd, PBM_SETRANGE, 0, MAKELPARAM(0, length));
        update_data(hwnd, kept, type);
        break;
    }
    case FT_SCROLLER: {
        const Cell* sel = facet(kept, sym.selected);
        float page = ratio_of(sel);
        if (type_of(sel) != TYPE_FLOAT && type_of(sel) != TYPE_PERCENT) {
            page = 0.1f;
            Cell p;
            make_float(&p, 0.1, TYPE_PERCENT);
            set_facet(kept, sym.selected, &p);
        }
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        si.nMax = 100;
        si.nPage = static_cast<UINT>(page * 100 + 0.5f);
        SetScrollInfo(hwnd, SB_CTL, &si, TRUE);
        Cell zero;
        make_float(&zero, 0.0);
        set_facet(kept, sym.data, &zero);
        break;
    }
    case FT_FIELD: {
        if (type_of(facet(kept, sym.selected)) != TYPE_NONE) set_selection(hwnd, kept);
        const Cell* hint = option_value(kept, sym.hint);
        if (hint && type_of(hint) == TYPE_STRING) {
            std::u16string cue = text_of(hint);
            SendMessageW(hwnd, EM_SETCUEBANNER, 0, reinterpret_cast<LPARAM>(cue.c_str()));
        }
        break;
    }
    case FT_AREA: {
        // Tab stops every four average characters, or every tabs of them.
        static const uint32_t tabs = symbol::make("tabs");
        const Cell* n = option_value(kept, tabs);
        int stop = n && type_of(n) == TYPE_INTEGER && get_integer(n) > 0 && get_integer(n) < 0x10000
                       ? static_cast<int>(get_integer(n)) * 4
                       : 16;
        SendMessageW(hwnd, EM_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&stop));
        std::u16string t = text_of(facet(kept, sym.text));
        SendMessageW(hwnd, EM_LIMITTEXT, t.size() + 0x8000, 0);
        SetWindowTextW(hwnd, reinterpret_cast<LPCWSTR>(t.c_str()));
        update_text_scrollbars(hwnd, kept, &t);
        if (type_of(facet(kept, sym.selected)) != TYPE_NONE) set_selection(hwnd, kept);
        break;
    }
    case FT_GROUP_BOX: {
        // Transparent: the panel beneath paints the box's inside, which the
        // frame control itself leaves unpainted.
        HWND inner =
            CreateWindowExW(WS_EX_TRANSPARENT, L"BUTTON", reinterpret_cast<LPCWSTR>(text.c_str()),
                            WS_CHILD | WS_VISIBLE | WS_GROUP | BS_GROUPBOX, 0, 0, dw, dh, hwnd,
                            nullptr, g.instance, nullptr);
        if (inner) SendMessageW(inner, WM_SETFONT, reinterpret_cast<WPARAM>(g.default_font), 0);
        if (r) r->inner = inner;
        break;
    }
    case FT_WINDOW:
        if (!g.main_window) g.main_window = hwnd;
        if (layered) update_layered(hwnd, nullptr, kept);
        break;
    case FT_PANEL:
        if (layered) init_base_face(hwnd, parent, kept, true);
        break;
    default:
        break;
    }
    if (type_of(facet(kept, sym.rate)) != TYPE_NONE) set_rate(hwnd, facet(kept, sym.rate));
    stack::top = kept;
    return hwnd;
}

// --- updates --------------------------------------------------------------

// The face timer (id 1) from the rate facet: n times a second, or every
// time! span; none stops it.
void set_rate(HWND hwnd, const Cell* rate) {
    uint32_t ms = 0;
    if (type_of(rate) == TYPE_NONE) {
        KillTimer(hwnd, 1);
        return;
    }
    if (type_of(rate) == TYPE_INTEGER && get_integer(rate) >= 1) {
        ms = static_cast<uint32_t>(1000 / get_integer(rate));
    } else if (type_of(rate) == TYPE_TIME && get_float(rate) > 0) {
        ms = static_cast<uint32_t>(get_float(rate) * 1000.0);
    } else {
        fire(err::invalid_facet_type, rate);
    }
    SetTimer(hwnd, 1, ms, &timer_proc);
}

void update_data(HWND hwnd, const Cell* face, FaceType type) {
    const Cell* data = facet(face, sym.data);
    switch (type) {
    case FT_SLIDER:
    case FT_PROGRESS: {
        if (type_of(data) != TYPE_FLOAT && type_of(data) != TYPE_PERCENT) break;
        RECT rc;
        GetClientRect(hwnd, &rc);
        const Cell* size = facet(face, sym.size);
        float w = coord(size, false), h = coord(size, true);
        float length = h > w ? h : w;
        int32_t pos = static_cast<int32_t>(ratio_of(data) * length);
        if (type == FT_SLIDER) {
            if (h > w) pos = static_cast<int32_t>(length) - pos;
            SendMessageW(hwnd, TBM_SETPOS, TRUE, pos);
        } else {
            SendMessageW(hwnd, PBM_SETPOS, pos, 0);
        }
        break;
    }
    case FT_SCROLLER: {
        if (type_of(data) != TYPE_FLOAT) break;
        double ratio = get_float(data);
        ratio = ratio < 0 ? 0 : ratio > 1 ? 1 : ratio;
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        si.fMask = SIF_RANGE | SIF_POS;
        GetScrollInfo(hwnd, SB_CTL, &si);
        si.fMask = SIF_POS;
        si.nPos = si.nMin + static_cast<int32_t>(ratio * (si.nMax - si.nMin) + 0.5);
        SetScrollInfo(hwnd, SB_CTL, &si, TRUE);
        break;
    }
    case FT_CHECK: {
        WindowRecord* r = record_of(hwnd);
        set_check(hwnd, data, r && (r->face_flags & FF_TRI_STATE));
        break;
    }
    case FT_TOGGLE:
        set_check(hwnd, data, false);
        break;
    case FT_RADIO:
        set_check(hwnd, data, false);
        if (!(type_of(data) == TYPE_LOGIC && data->data1))
            SendMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(0, 3),
                         reinterpret_cast<LPARAM>(hwnd));
        break;
    case FT_TEXT_LIST:
        if (type_of(data) == TYPE_BLOCK) set_list_data(hwnd, face);
        break;
    case FT_DROP_DOWN:
    case FT_DROP_LIST:
        set_combo_data(hwnd, face, type == FT_DROP_LIST);
        break;
    case FT_TAB_PANEL:
        set_tabs_data(hwnd, face);
        break;
    case FT_CALENDAR:
        set_calendar_date(hwnd, face);
        break;
    default:
        break;
    }
}

void update_selected(HWND hwnd, const Cell* face, FaceType type) {
    const Cell* sel = facet(face, sym.selected);
    int32_t index = type_of(sel) == TYPE_INTEGER ? get_integer(sel) : 0;
    switch (type) {
    case FT_TEXT_LIST:
        SendMessageW(hwnd, LB_SETCURSEL, index > 0 ? index - 1 : -1, 0);
        break;
    case FT_DROP_DOWN:
    case FT_DROP_LIST:
        SendMessageW(hwnd, CB_SETCURSEL, index - 1, 0);
        break;
    case FT_FIELD:
    case FT_AREA:
        set_selection(hwnd, face);
        break;
    case FT_TAB_PANEL:
        if (index >= 1 && index - 1 != SendMessageW(hwnd, TCM_GETCURSEL, 0, 0))
            select_tab(hwnd, index - 1);
        break;
    case FT_WINDOW:
        // A window's selected face takes the keyboard focus (the console
        // gives it to its terminal face this way).
        if (type_of(sel) == TYPE_OBJECT) {
            if (HWND child = face_handle(sel)) SetFocus(child);
        }
        break;
    default:
        break;
    }
}

// Facet bits: the face field at position n owns bit n - 1.
constexpr uint32_t B_OFFSET = 1u << 1, B_SIZE = 1u << 2, B_TEXT = 1u << 3, B_IMAGE = 1u << 4,
                   B_COLOR = 1u << 5, B_DATA = 1u << 7, B_ENABLED = 1u << 8, B_VISIBLE = 1u << 9,
                   B_SELECTED = 1u << 10, B_FLAGS = 1u << 11, B_OPTIONS = 1u << 12,
                   B_RATE = 1u << 16, B_PARA = 1u << 18, B_FONT = 1u << 19, B_DRAW = 1u << 22,
                   B_MENU = 1u << 6;

// The geometry and visibility changes, which can wait for a batch.
constexpr uint32_t B_GEOMETRY = B_OFFSET | B_SIZE | B_VISIBLE;

// The change-bits cell of a face's state block, or null.
Cell* change_bits(const Cell* face) {
    Cell* state = facet(face, sym.state);
    if (type_of(state) != TYPE_BLOCK || block::rs_length_q(state) < 2) return nullptr;
    Cell* bits = block::rs_head(state) + 1;
    return type_of(bits) == TYPE_INTEGER ? bits : nullptr;
}

// The changes of bits applied to a face's window. May collect.
void apply_bits(Cell* face, HWND hwnd, uint32_t bits, HDWP* batch) {
    FaceType type = face_type(face);
    WindowRecord* r = record_of(hwnd);
    if (bits & (B_OFFSET | B_SIZE)) {
        Cell* offset_cell = facet(face, sym.offset);
        if (type_of(offset_cell) == TYPE_PAIR)
            point2D::make_cell(offset_cell, coord(offset_cell, false), coord(offset_cell, true));
        const Cell* size = facet(face, sym.size);
        if (r)
            r->flags =
                type_of(size) == TYPE_PAIR ? (r->flags | WF_SIZE_PAIR) : (r->flags & ~WF_SIZE_PAIR);
        int32_t cx = dpi_scale(coord(size, false)), cy = dpi_scale(coord(size, true));
        if (type == FT_WINDOW) {
            RECT rc{0, 0, cx, cy};
            AdjustWindowRectEx(&rc, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)),
                               GetMenu(hwnd) != nullptr,
                               static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
            cx = rc.right - rc.left;
            cy = rc.bottom - rc.top;
        }
        UINT swp = SWP_NOZORDER | SWP_NOACTIVATE;
        // A layered pop-up is placed in screen coordinates by follow_layered.
        if (!(bits & B_OFFSET) || layered_popup_q(hwnd)) swp |= SWP_NOMOVE;
        if (!(bits & B_SIZE)) swp |= SWP_NOSIZE;
        int32_t x = dpi_scale(coord(facet(face, sym.offset), false)),
                y = dpi_scale(coord(facet(face, sym.offset), true));
        if (batch && *batch) {
            if (bits & B_VISIBLE) {
                const Cell* v = facet(face, sym.visible_q);
                swp |= type_of(v) == TYPE_LOGIC && v->data1 ? SWP_SHOWWINDOW : SWP_HIDEWINDOW;
                bits &= ~B_VISIBLE;
            }
            // A failed batch is gone: the rest of it is applied one by one.
            *batch = DeferWindowPos(*batch, hwnd, nullptr, x, y, cx, cy, swp);
            if (!*batch) SetWindowPos(hwnd, nullptr, x, y, cx, cy, swp);
        } else {
            SetWindowPos(hwnd, nullptr, x, y, cx, cy, swp);
        }
        if (r && r->inner && (bits & B_SIZE))
            SetWindowPos(r->inner, nullptr, 0, 0, cx, cy, SWP_NOZORDER | SWP_NOMOVE);
        // A static control keeps what it drew when it grows: aligned text
        // must be drawn again where the new size puts it.
        if (type == FT_TEXT && (bits & B_SIZE)) InvalidateRect(hwnd, nullptr, TRUE);
        // A slider's or progress bar's range is its length: its position
        // follows the data on the new range.
        if ((bits & B_SIZE) && (type == FT_SLIDER || type == FT_PROGRESS)) {
            float w = coord(size, false), h = coord(size, true);
            auto length = static_cast<int32_t>(w > h ? w : h);
            if (type == FT_SLIDER)
                SendMessageW(hwnd, TBM_SETRANGEMAX, TRUE, length);
            else
                SendMessageW(hwnd, PBM_SETRANGE, 0, MAKELPARAM(0, length));
            update_data(hwnd, face, type);
        }
    }
    if (bits & B_TEXT) {
        if (type == FT_BASE || type == FT_RICH_TEXT) {
            InvalidateRect(hwnd, nullptr, TRUE);
        } else {
            std::u16string text = text_of(facet(face, sym.text));
            if (type == FT_AREA &&
                static_cast<size_t>(SendMessageW(hwnd, EM_GETLIMITTEXT, 0, 0)) < text.size() + 16)
                SendMessageW(hwnd, EM_LIMITTEXT, text.size() + 0x8000, 0);
            SetWindowTextW(r && r->inner ? r->inner : hwnd,
                           reinterpret_cast<LPCWSTR>(text.c_str()));
            if (type == FT_AREA) update_text_scrollbars(hwnd, face, &text);
        }
    }
    if (type == FT_AREA && (bits & B_SIZE) && !(bits & B_TEXT))
        update_text_scrollbars(hwnd, face, nullptr);
    if (bits & B_DATA) update_data(hwnd, face, type);
    if (bits & B_ENABLED) {
        const Cell* e = facet(face, sym.enabled_q);
        EnableWindow(hwnd, type_of(e) == TYPE_LOGIC ? e->data1 != 0 : TRUE);
    }
    if (bits & B_VISIBLE) {
        const Cell* v = facet(face, sym.visible_q);
        bool shown = type_of(v) == TYPE_LOGIC && v->data1;
        if (batch && *batch)
            *batch = DeferWindowPos(*batch, hwnd, nullptr, 0, 0, 0, 0,
                                    SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE |
                                        (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
        if (!batch || !*batch)
            ShowWindow(hwnd, shown ? (type == FT_BASE ? SW_SHOWNA : SW_SHOW) : SW_HIDE);
    }
    if (bits & B_SELECTED) update_selected(hwnd, face, type);
    if (type == FT_CAMERA) {
        if (bits & B_SIZE) resize_camera(hwnd);
        if (bits & B_SELECTED) {
            const Cell* sel = facet(face, sym.selected);
            if (type_of(sel) == TYPE_INTEGER) {
                if (select_camera(hwnd, get_integer(sel) - 1)) run_camera(hwnd, true);
            } else if (type_of(sel) == TYPE_NONE) {
                close_camera(hwnd);
            }
        }
    }
    if ((bits & B_GEOMETRY) && !batch) follow_layered(face);
    if (bits & B_FLAGS) {
        uint32_t flags = get_flags(facet(face, sym.flags));
        if (r) r->face_flags = flags;
        if (type == FT_FIELD) {
            SendMessageW(hwnd, EM_SETPASSWORDCHAR, flags & FF_PASSWORD ? 0x25CF : 0, 0);
            InvalidateRect(hwnd, nullptr, TRUE);
        }
    }
    if (bits & (B_OFFSET | B_VISIBLE | B_ENABLED))
        update_caret(hwnd, face, B_OFFSET, B_VISIBLE | B_ENABLED, bits);
    if (type == FT_TAB_PANEL) {
        if (bits & B_OFFSET) update_tab_panel(hwnd, face, 1);
        if (bits & B_SIZE) update_tab_panel(hwnd, face, 2);
        if (bits & B_VISIBLE) update_tab_panel(hwnd, face, 9);
    }
    if (bits & B_MENU) update_menu_bar(hwnd, face);
    if ((bits & B_IMAGE) && (type == FT_BUTTON || type == FT_TOGGLE)) set_button_images(hwnd, face);
    if (bits & B_OPTIONS) set_cursor(hwnd, face);
    if ((bits & B_COLOR) && type == FT_CALENDAR) set_calendar_color(hwnd, face);
    if (bits & B_RATE) set_rate(hwnd, facet(face, sym.rate));
    if (bits & B_FONT) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(face)), 0);
    bool base_face = type == FT_BASE || type == FT_RICH_TEXT;
    bool drawn_whole = base_face || type == FT_WINDOW || type == FT_PANEL;
    if ((bits & B_COLOR) && base_face && !layered_q(hwnd) &&
        transparent_color_q(facet(face, sym.color)))
        remake_layered(hwnd, face);
    else if ((bits & (B_COLOR | B_FONT | B_PARA | B_DRAW | B_TEXT | B_IMAGE)) && drawn_whole &&
             layered_q(hwnd))
        update_layered(hwnd, nullptr, face);
    else if (bits & (B_COLOR | B_FONT | B_PARA | B_DRAW | B_IMAGE))
        InvalidateRect(hwnd, nullptr, TRUE);
}

// Applies the pending changes of a face, except those of keep, which stay
// pending. With a batch (a DeferWindowPos handle, replaced by each call)
// only the geometry and visibility are applied, into the batch: the
// caller ends it and lets the layered faces follow. A change that raises
// an error stays pending with the others of its update. May collect.
void apply_changes(Cell* face, uint32_t keep = 0, HDWP* batch = nullptr) {
    // Any change may move a rich-text face's text; one without a window
    // (a box that only measures, such as the console's) has no change
    // bits, so this is all an update does for it.
    if (face_type(face) == FT_RICH_TEXT) mark_stale(face);
    HWND hwnd = face_handle(face);
    if (!hwnd) return;
    Cell* bits_cell = change_bits(face);
    if (!bits_cell) return;
    uint32_t pending = static_cast<uint32_t>(get_integer(bits_cell));
    if (batch) keep = ~B_GEOMETRY;
    uint32_t bits = pending & ~keep;
    make_integer(bits_cell, static_cast<int32_t>(pending & keep));
    try {
        apply_bits(face, hwnd, bits, batch);
    } catch (...) {
        if (Cell* again = change_bits(face))
            make_integer(again,
                         static_cast<int32_t>(get_integer(again)) | static_cast<int32_t>(bits));
        throw;
    }
}

// The windows of a pane's faces stacked in the pane's order, the last one
// on top; a tab panel's pages likewise among themselves (a batch moves
// windows of one parent only).
void restack_pane(const Cell* pane, int32_t depth) {
    if (type_of(pane) != TYPE_BLOCK || depth > 256) return;
    Cell* base = stack::top;
    std::vector<HWND> windows;
    int32_t n = block::rs_length_q(pane);
    for (int32_t i = 0; i < n; i++) {
        const Cell* face = block::rs_head(pane) + i;
        if (type_of(face) != TYPE_OBJECT) continue;
        if (HWND hwnd = face_handle(face)) windows.push_back(hwnd);
        if (face_type(face) == FT_TAB_PANEL) stack::push(facet(face, sym.pane));
    }
    Cell* pages_end = stack::top;
    HDWP batch = windows.empty() ? nullptr : BeginDeferWindowPos(static_cast<int>(windows.size()));
    for (HWND hwnd : windows)
        if (batch)
            batch = DeferWindowPos(batch, hwnd, HWND_TOP, 0, 0, 0, 0,
                                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    if (batch) EndDeferWindowPos(batch);
    for (Cell* pages = base; pages < pages_end; pages++) restack_pane(pages, depth + 1);
    stack::top = base;
}

// Frees the native side of a face tree, children first; a window face's
// window is closed by a posted WM_CLOSE that passes without a close event.
void free_faces(Cell* face, bool post_close, int32_t depth) {
    HWND hwnd = face_handle(face);
    if (!hwnd || depth > 256) return;
    FaceType type = face_type(face);
    if (type == FT_WINDOW)
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_HIDEWINDOW);
    KillTimer(hwnd, 1);
    Cell* pane = facet(face, sym.pane);
    if (type_of(pane) == TYPE_BLOCK) {
        Cell* base = stack::top;
        Cell* p = stack::push(pane);
        for (int32_t i = 0; i < block::rs_length_q(p); i++) {
            Cell* child = stack::push(block::rs_head(p) + i);
            free_faces(child, false, depth + 1);
            stack::top = child;
        }
        stack::top = base;
    }
    WindowRecord* r = record_of(hwnd);
    if (type == FT_CAMERA) close_camera(hwnd);
    // Pop-ups are owned by the top-level window: they would outlive a pane.
    if (type == FT_PANEL || type == FT_GROUP_BOX || layered_popup_q(hwnd)) DestroyWindow(hwnd);
    r = record_of(hwnd);
    if (type == FT_WINDOW) {
        Cell none;
        make_none(&none);
        set_facet(face, sym.selected, &none);
        if (r) r->close_passes = true;
    }
    if (r) {
        value_pool::free(r->face);
        r->face = 0;
    }
    Cell none;
    make_none(&none);
    set_facet(face, sym.state, &none);
    if (post_close && IsWindow(hwnd)) PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

} // namespace

// --- routines -------------------------------------------------------------

namespace {

// The window of a face under parent, made in the parent's DPI scope; null
// when it cannot be made (the failure is reported). May collect.
HWND make_view(Cell* face, HWND parent) {
    int32_t saved = push_dpi(parent);
    HWND hwnd = nullptr;
    try {
        hwnd = create_face_window(face, parent);
    } catch (...) {
        pop_dpi(saved);
        throw;
    }
    pop_dpi(saved);
    return hwnd;
}

// A widget made again under the same parent, in the same place among its
// siblings: an edit control takes its wrapping only when it is made. The
// face's state then holds the new window. May collect.
void recreate_widget(HWND hwnd, Cell* face) {
    HWND parent = GetParent(hwnd);
    HWND before = GetWindow(hwnd, GW_HWNDPREV);
    bool focused = GetFocus() == hwnd;
    DestroyWindow(hwnd);
    HWND fresh = make_view(face, parent);
    if (!fresh) return;
    Cell* state = facet(face, sym.state);
    if (type_of(state) == TYPE_BLOCK && block::rs_length_q(state) > 0)
        handle::make_cell(block::rs_head(state), reinterpret_cast<uintptr_t>(fresh),
                          handle::CLASS_WINDOW);
    SetWindowPos(fresh, before ? before : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (focused) SetFocus(fresh);
}

} // namespace

void make_view_star() {
    Cell* a = stack::arguments;
    HWND hwnd = make_view(a, reinterpret_cast<HWND>(handle::value_of(a + 1)));
    // A face whose window could not be made is left out, as the language
    // side does with the null handle; the failure was reported.
    handle::box(reinterpret_cast<uintptr_t>(hwnd),
                hwnd ? handle::CLASS_WINDOW : handle::CLASS_NULL);
}

namespace {

// The window whose children a face's geometry can be batched with, or
// null: faces without pending geometry, and those whose move does more
// than a window position (windows, tab panels, group boxes, areas,
// cameras, carets, layered pop-ups placed on the screen), go alone.
HWND batch_parent(const Cell* face) {
    const Cell* bits = change_bits(face);
    HWND hwnd = face_handle(face);
    if (!g.win8 || !hwnd || !bits || !(static_cast<uint32_t>(get_integer(bits)) & B_GEOMETRY))
        return nullptr;
    WindowRecord* r = record_of(hwnd);
    switch (face_type(face)) {
    case FT_WINDOW:
    case FT_TAB_PANEL:
    case FT_GROUP_BOX:
    case FT_AREA:
    case FT_CAMERA:
        return nullptr;
    case FT_BASE:
        if (r && (r->flags & WF_CARET)) return nullptr;
        break;
    default:
        break;
    }
    if (layered_popup_q(hwnd)) return nullptr;
    return GetParent(hwnd);
}

// Waits for the compositor, so that what a batch moves shows in one frame
// (dwmapi is looked up: older systems have none).
void dwm_flush() {
    using Flush = HRESULT(WINAPI*)();
    static HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
    static const Flush flush =
        dwm ? reinterpret_cast<Flush>(reinterpret_cast<void*>(GetProcAddress(dwm, "DwmFlush")))
            : nullptr;
    if (flush) flush();
}

// Ends a batch and lets the layered faces of its faces (the block's
// items from..to) follow them. May collect.
void flush_batch(HDWP batch, Cell* faces, int32_t from, int32_t to) {
    if (batch) EndDeferWindowPos(batch);
    for (int32_t i = from; i < to && i < block::rs_length_q(faces); i++) {
        Cell* face = stack::push(block::rs_head(faces) + i);
        if (face_handle(face)) follow_layered(face);
        stack::top = face;
    }
}

// Several faces at once: everything but their geometry first; then the
// geometry of the faces that share a parent window moves in one batch per
// parent. May collect.
void update_views(Cell* faces) {
    int32_t batched = 0;
    for (int32_t i = 0; i < block::rs_length_q(faces); i++) {
        Cell* face = stack::push(block::rs_head(faces) + i);
        bool later = batch_parent(face) != nullptr;
        batched += later;
        apply_changes(face, later ? B_GEOMETRY : 0);
        stack::top = face;
    }
    if (batched > 1) dwm_flush();
    HWND parent = nullptr;
    HDWP batch = nullptr;
    int32_t run = 0;
    for (int32_t i = 0; i < block::rs_length_q(faces); i++) {
        Cell* face = stack::push(block::rs_head(faces) + i);
        HWND p = batch_parent(face);
        if (p) {
            if (p != parent) {
                if (parent) flush_batch(batch, faces, run, i);
                parent = p;
                run = i;
                batch = BeginDeferWindowPos(8);
            }
            apply_changes(face, 0, &batch);
        }
        stack::top = face;
    }
    if (parent) flush_batch(batch, faces, run, block::rs_length_q(faces));
}

} // namespace

void update_view_star() {
    Cell* a = stack::arguments;
    if (type_of(a) == TYPE_BLOCK) {
        int32_t n = block::rs_length_q(a);
        for (int32_t i = 0; i < n; i++) {
            const Cell* v = block::rs_head(a) + i;
            if (type_of(v) != TYPE_OBJECT) time::fire_typed(err::invalid_type, type_of(v));
        }
        update_views(a);
    } else if (type_of(a) == TYPE_OBJECT) {
        if (face_type(a) != FT_SCREEN) apply_changes(a);
    } else {
        time::fire_typed(err::invalid_type, type_of(a));
    }
    make_none(stack::arguments);
}

void destroy_view_star() {
    Cell* a = stack::arguments;
    bool owns_loop = type_of(a + 1) == TYPE_LOGIC && a[1].data1;
    free_faces(a, true, 0);
    if (owns_loop) end_owning_level();
    make_none(stack::arguments);
}

void show_window_star() {
    HWND hwnd = reinterpret_cast<HWND>(handle::value_of(stack::arguments));
    if (IsWindow(hwnd)) {
        if (IsWindowVisible(hwnd)) {
            UpdateWindow(hwnd);
        } else {
            // A window shown by a button release's handler (a modal one runs
            // its own loop there) gets the mouse: the pressed control would
            // keep its capture until the release reached it.
            if (button_up_q()) ReleaseCapture();
            ShowWindow(hwnd, SW_SHOWDEFAULT);
            UpdateWindow(hwnd);
            SetForegroundWindow(hwnd);
            // The window's selected face takes the focus it was shown with
            // (an alert's OK button): activation alone leaves it on the
            // window where no window manager hands it over.
            if (Cell* face = face_of(hwnd)) {
                const Cell* sel = facet(face, sym.selected);
                if (type_of(sel) == TYPE_OBJECT) {
                    if (HWND child = face_handle(sel)) SetFocus(child);
                }
            }
        }
        if (Cell* face = face_of(hwnd)) {
            Cell* base = stack::top;
            follow_layered(stack::push(face));
            stack::top = base;
        }
    }
    make_none(stack::arguments);
}

void refresh_window_star() {
    HWND hwnd = reinterpret_cast<HWND>(handle::value_of(stack::arguments));
    if (IsWindow(hwnd)) UpdateWindow(hwnd);
    make_none(stack::arguments);
}

void redraw_star() {
    HWND hwnd = face_handle(stack::arguments);
    // A layered window gets no paint messages: it is drawn anew here.
    if (hwnd && layered_q(hwnd) && record_of(hwnd) && record_of(hwnd)->type != FT_WINDOW) {
        update_layered(hwnd, nullptr, stack::arguments);
    } else if (hwnd) {
        InvalidateRect(hwnd, nullptr, FALSE);
        UpdateWindow(hwnd);
    }
    make_none(stack::arguments);
}

void update_text_star() {
    Cell* a = stack::arguments;
    HWND hwnd = face_handle(a);
    if (hwnd) {
        int32_t n = GetWindowTextLengthW(hwnd);
        if (n >= 0) {
            std::u16string text(static_cast<size_t>(n) + 1, u'\0');
            n = GetWindowTextW(hwnd, reinterpret_cast<LPWSTR>(text.data()), n + 1);
            Cell s;
            make_series(&s, TYPE_STRING,
                        unicode::load_utf16(text.data(), static_cast<uint32_t>(n), nullptr, true));
            set_facet(a, sym.text, &s);
        }
    }
    make_none(stack::arguments);
}

void update_font_star() {
    Cell* a = stack::arguments;
    int32_t index = get_integer(a + 1);
    if (index == 0 || index == 1 || index == 2 || index == 3 || index == 5) {
        free_font(a);
        make_font_at(a, true);
    }
    make_none(stack::arguments);
}

void update_para_star() {
    Cell* a = stack::arguments;
    HWND hwnd = face_handle(a);
    FaceType type = face_type(a);
    uint32_t mask = para_mask(type);
    if (hwnd && type == FT_AREA) {
        recreate_widget(hwnd, a);
    } else if (hwnd && mask) {
        LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
        style = (style & ~static_cast<LONG_PTR>(mask)) | para_flags(type, facet(a, sym.para));
        SetWindowLongPtrW(hwnd, GWL_STYLE, style);
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    make_none(stack::arguments);
}

void size_text_star() {
    Cell* a = stack::arguments;
    Cell* text = a + 1;
    if (type_of(text) == TYPE_NONE)
        text = facet(a, sym.text);
    else if (type_of(text) != TYPE_STRING)
        time::fire_typed(err::invalid_type, type_of(text));
    if (type_of(text) != TYPE_STRING) {
        make_none(a);
        return;
    }
    std::u16string units = text_of(text);
    HWND hwnd = face_handle(a);
    if (!hwnd) hwnd = GetDesktopWindow();
    HDC dc = GetWindowDC(hwnd);
    // Without Direct2D the faces the program paints itself draw their text
    // with GDI+, so they are measured by it too, wrapped in the window's
    // width as the painter wraps it.
    FaceType type = face_type(a);
    if (dx.unavailable &&
        (type == FT_BASE || type == FT_RICH_TEXT || type == FT_WINDOW || type == FT_PANEL)) {
        RECT client{};
        GetClientRect(hwnd, &client);
        GdipRect box{};
        if (measure_text_gdiplus(dc, units, a, static_cast<float>(client.right), &box)) {
            ReleaseDC(hwnd, dc);
            point2D::make_cell(a, dpi_unscale(box.width * 0.98f), dpi_unscale(box.height));
            return;
        }
    }
    HFONT font = font_for(a);
    HGDIOBJ old = SelectObject(dc, font);
    RECT rc{0, 0, 0x7FFFFFFF, 0};
    DrawTextW(dc, reinterpret_cast<LPCWSTR>(units.c_str()), -1, &rc,
              DT_CALCRECT | DT_EXPANDTABS | DT_WORDBREAK);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    point2D::make_cell(a, dpi_unscale(static_cast<float>(rc.right)),
                       dpi_unscale(static_cast<float>(rc.bottom)));
}

void on_change_facet_star() {
    Cell* a = stack::arguments;
    // The windows of new faces in a pane are made by the language side's
    // show of them; here they take their places in the pane's order. A
    // change inside data is applied in place where the widget allows it,
    // else (and for the other facets) as an update of the face.
    Cell* state = facet(a, sym.state);
    Cell* bits = type_of(state) == TYPE_BLOCK && block::rs_length_q(state) > 1 &&
                         type_of(block::rs_head(state) + 1) == TYPE_INTEGER
                     ? block::rs_head(state) + 1
                     : nullptr;
    if (bits && is_any_word(type_of(a + 1)) && same_word(a[1].data2, sym.pane) &&
        is_any_word(type_of(a + 3)) && face_type(a) != FT_TAB_PANEL) {
        static const uint32_t placed[] = {symbol::make("inserted"), symbol::make("appended"),
                                          symbol::make("poked"), symbol::make("changed"),
                                          symbol::make("moved")};
        for (uint32_t action : placed)
            if (same_word(a[3].data2, action)) restack_pane(facet(a, sym.pane), 0);
    }
    if (!bits || !is_any_word(type_of(a + 1)) || same_word(a[1].data2, sym.pane)) {
        make_none(stack::arguments);
        return;
    }
    bool in_place = false;
    if (same_word(a[1].data2, sym.data)) {
        static const uint32_t sort = symbol::make("sort");
        FaceType type = face_type(a);
        int32_t index = type_of(a + 5) == TYPE_INTEGER ? get_integer(a + 5) : 0;
        int32_t part = type_of(a + 6) == TYPE_INTEGER ? get_integer(a + 6) : 0;
        bool sorted = is_any_word(type_of(a + 3)) && same_word(a[3].data2, sort);
        if ((type == FT_TEXT_LIST && !sorted) ||
            ((type == FT_DROP_DOWN || type == FT_DROP_LIST) && part != 0)) {
            update_list_data(a, a + 2, a + 3, index, part, type != FT_TEXT_LIST);
            in_place = true;
        } else if (type == FT_TAB_PANEL) {
            update_tabs_data(a, a + 2, a + 3, index, part);
            in_place = true;
        }
        // The handlers may have destroyed the face meanwhile.
        state = facet(a, sym.state);
        bits = type_of(state) == TYPE_BLOCK && block::rs_length_q(state) > 1 &&
                       type_of(block::rs_head(state) + 1) == TYPE_INTEGER
                   ? block::rs_head(state) + 1
                   : nullptr;
        if (!bits) {
            in_place = true;
        } else {
            int32_t b = get_integer(bits);
            make_integer(bits, in_place ? b & ~static_cast<int32_t>(B_DATA)
                                        : b | static_cast<int32_t>(B_DATA));
        }
    }
    if (!in_place) apply_changes(a);
    make_none(stack::arguments);
}

} // namespace mox::gui::win
