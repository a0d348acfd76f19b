// Layered windows: base faces whose colour lets what lies below show
// through. Their whole bitmap, with per-pixel alpha, goes to the system by
// UpdateLayeredWindow. Where the system composes layered child windows
// (Windows 8 and later) such a face is a child window like any other;
// elsewhere, and under Wine, whose layered child windows show at the wrong
// place, it is a top-level pop-up owned by the window, placed in screen
// coordinates, clipped to its parent's client area by a region and moved,
// shown and hidden together with it by follow_layered.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "view/windows/dx.h"
#include "view/windows/internal.h"

namespace mox::gui::win {

namespace {

// The pixels of a face when no device draws it: its colour over the whole
// client area, premultiplied, in a DIB of its own.
struct DeviceLessFill {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;

    ~DeviceLessFill() {
        if (old) SelectObject(dc, old);
        if (bitmap) DeleteObject(bitmap);
        if (dc) DeleteDC(dc);
    }

    bool make(const Cell* face, int32_t w, int32_t h) {
        void* bits = nullptr;
        dc = CreateCompatibleDC(nullptr);
        bitmap = make_dib_section(dc, w, h, &bits);
        if (!dc || !bitmap || !bits) return false;
        old = SelectObject(dc, bitmap);
        uint32_t pixel = 0;
        const Cell* color = facet(face, sym.color);
        if (type_of(color) == TYPE_TUPLE) {
            const uint8_t* b = tuple::bytes_of(color);
            uint32_t alpha = tuple::length_of(color) > 3 ? 255u - b[3] : 255u;
            auto pre = [&](uint8_t c) { return (c * alpha + 127) / 255; };
            pixel = alpha << 24 | pre(b[0]) << 16 | pre(b[1]) << 8 | pre(b[2]);
        }
        auto* p = static_cast<uint32_t*>(bits);
        for (size_t i = 0, n = static_cast<size_t>(w) * h; i < n; i++) p[i] = pixel;
        return true;
    }
};

bool face_visible(const Cell* face) {
    const Cell* v = facet(face, sym.visible_q);
    return !(type_of(v) == TYPE_LOGIC && !v->data1) && type_of(v) != TYPE_NONE;
}

// The visible part of a w x h pop-up whose top-left sits at x, y in a
// client area of cw x ch: the region, or the whole window again.
void set_clip_region(HWND hwnd, WindowRecord* r, int32_t x, int32_t y, int32_t w, int32_t h,
                     int32_t cw, int32_t ch) {
    int32_t x1 = x >= 0 ? 0 : (x + w < 0 ? w : -x), y1 = y >= 0 ? 0 : (y + h < 0 ? h : -y);
    int32_t x2 = x + w > cw ? cw - x : w, y2 = y + h > ch ? ch - y : h;
    if (x2 < x1) x2 = x1;
    if (y2 < y1) y2 = y1;
    bool whole = x1 == 0 && y1 == 0 && x2 == w && y2 == h;
    if (whole && !r->clipped) return;
    HWND targets[2] = {hwnd, r->companion};
    for (HWND t : targets) {
        if (!t) continue;
        // The system owns a region once it is set: a new one each time.
        SetWindowRgn(t, whole ? nullptr : CreateRectRgn(x1, y1, x2, y2), FALSE);
    }
    r->clipped = !whole;
}

// The face's pixels to the system through its DIB copy (its colour alone
// when there is no device). May collect.
BOOL draw_layered(HWND hwnd, const POINT* screen, Cell* face) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    SIZE size{rc.right, rc.bottom};
    if (size.cx <= 0 || size.cy <= 0) return FALSE;
    HDC dc = paint_face(hwnd, face, true) ? copy_to_dib(hwnd) : nullptr;
    DeviceLessFill fill;
    if (!dc && fill.make(face, size.cx, size.cy)) dc = fill.dc;
    if (!dc) return FALSE;
    if (WindowRecord* r = record_of(hwnd)) r->unpainted = false;
    POINT origin{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    return UpdateLayeredWindow(hwnd, nullptr, const_cast<POINT*>(screen), &size, dc, &origin, 0,
                               &blend, ULW_ALPHA);
}

// A layered face made as a pop-up (not a child, not a window face) that is
// hidden: nothing shows its pixels until follow_one shows it.
bool hidden_popup(HWND hwnd) {
    WindowRecord* r = record_of(hwnd);
    return r && r->type != FT_WINDOW && !(GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD) &&
           !IsWindowVisible(hwnd);
}

// May collect (a pop-up drawn as it is shown).
void follow_one(HWND hwnd, WindowRecord* r, Cell* face) {
    HWND owner = r->owner;
    if (!IsWindow(owner)) return;
    const Cell* offset = facet(face, sym.offset);
    POINT p{dpi_scale(coord(offset, false)), dpi_scale(coord(offset, true))};
    POINT client = p;
    ClientToScreen(owner, &p);
    RECT wr, oc;
    GetWindowRect(hwnd, &wr);
    if (p.x != wr.left || p.y != wr.top) {
        SetWindowPos(hwnd, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        if (r->companion)
            SetWindowPos(r->companion, nullptr, p.x, p.y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    GetClientRect(owner, &oc);
    set_clip_region(hwnd, r, client.x, client.y, wr.right - wr.left, wr.bottom - wr.top, oc.right,
                    oc.bottom);
    bool shown =
        face_visible(face) && IsWindowVisible(owner) && !IsIconic(GetAncestor(owner, GA_ROOT));
    if (shown && r->unpainted) {
        Cell* base = stack::top;
        draw_layered(hwnd, nullptr, stack::push(face));
        stack::top = base;
        r = record_of(hwnd);
        if (!r) return;
    }
    if (shown != (IsWindowVisible(hwnd) != FALSE)) {
        ShowWindow(hwnd, shown ? SW_SHOWNA : SW_HIDE);
        if (r->companion) ShowWindow(r->companion, shown ? SW_SHOWNA : SW_HIDE);
    }
}

void follow_tree(Cell* face, int32_t depth) {
    if (depth > 256) return;
    HWND hwnd = face_handle(face);
    if (!hwnd) return;
    WindowRecord* r = record_of(hwnd);
    if (r && r->popup) follow_one(hwnd, r, face);
    Cell* pane = facet(face, sym.pane);
    if (type_of(pane) != TYPE_BLOCK) return;
    Cell* base = stack::top;
    Cell* p = stack::push(pane);
    for (int32_t i = 0; i < block::rs_length_q(p); i++) {
        Cell* child = stack::push(block::rs_head(p) + i);
        if (type_of(child) == TYPE_OBJECT) follow_tree(child, depth + 1);
        stack::top = child;
    }
    stack::top = base;
}

// A face tree's windows are about to go: timers stop, and no face keeps
// the handle of a window that will be destroyed.
void forget_windows(Cell* face, int32_t depth) {
    HWND hwnd = face_handle(face);
    if (!hwnd || depth > 256) return;
    KillTimer(hwnd, 1);
    Cell* pane = facet(face, sym.pane);
    if (type_of(pane) == TYPE_BLOCK) {
        Cell* base = stack::top;
        Cell* p = stack::push(pane);
        for (int32_t i = 0; i < block::rs_length_q(p); i++) {
            Cell* child = stack::push(block::rs_head(p) + i);
            if (type_of(child) == TYPE_OBJECT) forget_windows(child, depth + 1);
            stack::top = child;
        }
        stack::top = base;
    }
    Cell none;
    make_none(&none);
    set_facet(face, sym.state, &none);
}

// Makes the windows of a face tree under parent through the platform's
// make-view, each face getting a new state block. May collect.
void make_windows(Cell* face, HWND parent, int32_t depth) {
    if (depth > 256) return;
    Cell* base = stack::top;
    Cell* platform = stack::push(word::get_value(word::load("system")));
    for (const char* name : {"view", "platform", "make-view"}) {
        if (type_of(platform) != TYPE_OBJECT) {
            stack::top = base;
            return;
        }
        *platform = *facet(platform, symbol::make(name));
    }
    Cell* args = stack::push(face);
    handle::make_cell(stack::push_cell(), reinterpret_cast<uintptr_t>(parent),
                      handle::CLASS_WINDOW);
    Cell* made = make_none(stack::push_cell());
    interpreter::call_value(platform, args, 2, made);
    Cell* state = block::make_at(stack::push_cell(), 4);
    block::ms_append(state, made);
    Cell v;
    make_integer(&v, 0);
    block::ms_append(state, &v);
    make_none(&v);
    block::ms_append(state, &v);
    make_logic(&v, false);
    block::ms_append(state, &v);
    set_facet(args, sym.state, state);
    HWND hwnd = reinterpret_cast<HWND>(handle::value_of(made));
    Cell* pane = facet(args, sym.pane);
    if (type_of(pane) == TYPE_BLOCK) {
        Cell* p = stack::push(pane);
        for (int32_t i = 0; i < block::rs_length_q(p); i++) {
            Cell* child = stack::push(block::rs_head(p) + i);
            if (type_of(child) == TYPE_OBJECT) make_windows(child, hwnd, depth + 1);
            stack::top = child;
        }
    }
    stack::top = base;
}

} // namespace

void remake_layered(HWND hwnd, Cell* face) {
    HWND parent = GetParent(hwnd);
    HWND above = GetWindow(hwnd, GW_HWNDPREV);
    Cell* base = stack::top;
    Cell* kept = stack::push(face);
    forget_windows(kept, 0);
    DestroyWindow(hwnd);
    make_windows(kept, parent, 0);
    HWND now = face_handle(kept);
    if (now && above && !layered_popup_q(now))
        SetWindowPos(now, above, 0, 0, 0, 0,
                     SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW | SWP_NOACTIVATE | SWP_NOCOPYBITS |
                         SWP_NOOWNERZORDER | SWP_NOSENDCHANGING);
    stack::top = base;
}

bool layered_children() {
    static int32_t children = -1;
    if (children < 0) {
        // A test switch picks either path on any system.
        const char* path = std::getenv("MOX_TEST_LAYERED_PATH");
        if (path && std::strcmp(path, "child") == 0) {
            children = 1;
        } else if (path && std::strcmp(path, "popup") == 0) {
            children = 0;
        } else {
            bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
            children = g.win8 && !wine;
        }
    }
    return children != 0;
}

bool layered_q(HWND hwnd) { return hwnd && (GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED); }

bool layered_popup_q(HWND hwnd) {
    WindowRecord* r = record_of(hwnd);
    return r && r->popup;
}

bool transparent_color_q(const Cell* color) {
    if (type_of(color) != TYPE_TUPLE) return true;
    return tuple::length_of(color) > 3 && tuple::bytes_of(color)[3] != 0;
}

bool accelerated_q(const Cell* face) {
    static const uint32_t accelerated = symbol::make("accelerated");
    const Cell* on = option_value(face, accelerated);
    return on && type_of(on) == TYPE_LOGIC && on->data1;
}

void base_face_style(const Cell* face, HWND parent, DWORD* style, DWORD* ex, bool* layered) {
    *layered = false;
    // An accelerated face is composed by the system as a layered window,
    // whatever its colour.
    bool own = transparent_color_q(facet(face, sym.color)) || accelerated_q(face);
    if (layered_children()) {
        if (layered_q(parent) || own) {
            *ex |= WS_EX_LAYERED;
            *layered = true;
        }
        return;
    }
    if (own) {
        *ex |= WS_EX_LAYERED | WS_EX_TOOLWINDOW;
        // Shown by init_base_face once it has its first bitmap and place.
        *style = (*style & ~(WS_CHILD | WS_VISIBLE)) | WS_POPUP;
        *layered = true;
    }
}

HWND layered_parent(HWND parent) {
    WindowRecord* r = record_of(parent);
    if (!r || !r->popup) return parent;
    if (r->companion) return r->companion;
    RECT wr;
    GetWindowRect(parent, &wr);
    HWND c = CreateWindowExW(WS_EX_LAYERED, L"MoxBaseInternal", L"", WS_POPUP, wr.left, wr.top,
                             wr.right - wr.left, wr.bottom - wr.top, parent, nullptr, g.instance,
                             nullptr);
    if (!c) return parent;
    // The companion's own background is the key colour, so only the
    // children it hosts show over the face.
    SetLayeredWindowAttributes(c, COMPANION_KEY, 0, LWA_COLORKEY);
    if (IsWindowVisible(parent)) ShowWindow(c, SW_SHOWNA);
    r->companion = c;
    return c;
}

void init_base_face(HWND hwnd, HWND parent, Cell* face, bool layered) {
    WindowRecord* r = record_of(hwnd);
    if (!r) return;
    r->owner = parent;
    r->companion = nullptr;
    r->captures = 0;
    if (!layered) return;
    r->popup = !(GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD);
    const Cell* offset = facet(face, sym.offset);
    POINT p{dpi_scale(coord(offset, false)), dpi_scale(coord(offset, true))};
    if (r->popup) ClientToScreen(parent, &p);
    Cell* base = stack::top;
    Cell* kept = stack::push(face);
    update_layered(hwnd, r->popup ? &p : nullptr, kept);
    r = record_of(hwnd);
    if (r && r->popup) {
        follow_one(hwnd, r, kept);
    } else if (face_visible(kept) && IsWindowVisible(parent)) {
        ShowWindow(hwnd, SW_SHOWNA);
    }
    stack::top = base;
}

BOOL update_layered(HWND hwnd, const POINT* screen, Cell* face) {
    if (!layered_q(hwnd)) {
        InvalidateRect(hwnd, nullptr, TRUE);
        return FALSE;
    }
    // A hidden pop-up is drawn when it is shown. A window's pop-ups are
    // made with it, hidden: drawing them then would hold the window's
    // making until the graphics device is ready, which start-up makes
    // meanwhile on a thread. Its place is still set.
    if (hidden_popup(hwnd)) {
        record_of(hwnd)->unpainted = true;
        if (screen)
            SetWindowPos(hwnd, nullptr, screen->x, screen->y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return TRUE;
    }
    return draw_layered(hwnd, screen, face);
}

void follow_layered(Cell* face) {
    if (layered_children()) return;
    Cell* base = stack::top;
    follow_tree(stack::push(face), 0);
    stack::top = base;
}

void paint_layered_tree(HDC dc, Cell* face, int32_t x, int32_t y, int32_t depth) {
    HWND hwnd = face_handle(face);
    if (!hwnd || depth > 256 || !face_visible(face)) return;
    Cell* base = stack::top;
    Cell* kept = stack::push(face);
    if (layered_q(hwnd)) {
        RECT rc;
        GetClientRect(hwnd, &rc);
        HDC src = paint_face(hwnd, kept, true) ? copy_to_dib(hwnd) : nullptr;
        DeviceLessFill fill;
        if (!src && fill.make(kept, rc.right, rc.bottom)) src = fill.dc;
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        if (src) AlphaBlend(dc, x, y, rc.right, rc.bottom, src, 0, 0, rc.right, rc.bottom, blend);
    }
    Cell* pane = facet(kept, sym.pane);
    if (type_of(pane) == TYPE_BLOCK) {
        Cell* p = stack::push(pane);
        for (int32_t i = 0; i < block::rs_length_q(p); i++) {
            Cell* child = stack::push(block::rs_head(p) + i);
            if (type_of(child) == TYPE_OBJECT) {
                const Cell* off = facet(child, sym.offset);
                paint_layered_tree(dc, child, x + dpi_scale(coord(off, false)),
                                   y + dpi_scale(coord(off, true)), depth + 1);
            }
            stack::top = child;
        }
    }
    stack::top = base;
}

} // namespace mox::gui::win
