// The window procedures of base faces (MoxBase: base, rich-text and the
// faces built on them, painted by the program itself) and of the companion
// pop-ups that host the children of a layered pop-up face
// (MoxBaseInternal).
#include <windows.h>

#include <imm.h>

#include "core/image-store.h"
#include "datatypes/tuple.h"
#include "evaluator/stack.h"
#include "view/windows/dx.h"
#include "view/windows/internal.h"

// The few GDI+ entries the painter uses (the flat API, statuses 0 = Ok).
extern "C" {
int WINAPI GdipCreateFromHDC(HDC dc, void** graphics);
int WINAPI GdipDrawImageRectI(void* graphics, void* image, INT x, INT y, INT w, INT h);
int WINAPI GdipDeleteGraphics(void* graphics);
}

namespace mox::gui::win {

namespace {

constexpr int32_t E_SCROLL = 35;

// A paint in progress: handlers that pump messages must not start another.
bool painting = false;

// A composition in a face holding a caret uses the face's font. (The
// context is taken only for that: holding it from WM_IME_SETCONTEXT on
// costs Wine's thread its caret.)
void composition_font(HWND hwnd, const Cell* face) {
    if (!face || type_of(facet(face, sym.font)) != TYPE_OBJECT) return;
    Cell* base = stack::top;
    HFONT font = font_for(stack::push(face));
    stack::top = base;
    LOGFONTW lf{};
    if (!font || GetObjectW(font, sizeof lf, &lf) != sizeof lf) return;
    if (HIMC context = ImmGetContext(hwnd)) {
        ImmSetCompositionFontW(context, &lf);
        ImmReleaseContext(hwnd, context);
    }
}

// A base face that is not layered, when no device draws it: its colour.
void paint_without_device(HWND hwnd, Cell* face) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    if (dc) {
        const Cell* color = facet(face, sym.color);
        if (type_of(color) == TYPE_TUPLE) {
            const uint8_t* b = tuple::bytes_of(color);
            HBRUSH brush = CreateSolidBrush(RGB(b[0], b[1], b[2]));
            FillRect(dc, &ps.rcPaint, brush);
            DeleteObject(brush);
        }
    }
    EndPaint(hwnd, &ps);
}

LRESULT handle_base(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    WindowRecord* r = record_of(hwnd);
    Cell* found = face_of(hwnd);
    if (!r) return DefWindowProcW(hwnd, msg, wparam, lparam);
    switch (msg) {
    case WM_MOUSEACTIVATE:
        // A layered face never takes activation from its window.
        if (!layered_q(hwnd)) break;
        SetForegroundWindow(r->popup ? r->owner : GetParent(hwnd));
        return MA_NOACTIVATE;
    case WM_LBUTTONDOWN:
        // Presses and releases pair up: the capture ends with the last one.
        if (r->captures++ == 0) SetCapture(hwnd);
        return 0;
    case WM_LBUTTONUP:
        if (r->captures <= 0) break;
        r->captures--;
        ReleaseCapture();
        return 0;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lparam) != hwnd) r->captures = 0;
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_IME_STARTCOMPOSITION:
        if (r->flags & WF_HAS_CARET) composition_font(hwnd, found);
        break;
    case WM_SIZE: {
        int32_t w = static_cast<int16_t>(LOWORD(lparam)), h = static_cast<int16_t>(HIWORD(lparam));
        if (RenderTarget* rt = render_target_of(hwnd)) resize_render_target(rt, w, h);
        if (r->companion)
            SetWindowPos(r->companion, nullptr, 0, 0, w, h,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        if (layered_q(hwnd) && found) {
            Cell* base = stack::top;
            update_layered(hwnd, nullptr, stack::push(found));
            stack::top = base;
        } else {
            InvalidateRect(hwnd, nullptr, TRUE);
        }
        return 0;
    }
    case WM_PAINT:
    case WM_DISPLAYCHANGE:
    case WM_PRINT:
    case WM_PRINTCLIENT: {
        if (painting) return 0;
        // Layered faces are drawn whole by update_layered.
        if (layered_q(hwnd) || !found || msg != WM_PAINT) break;
        Cell* base = stack::top;
        Cell* face = stack::push(found);
        painting = true;
        if (!paint_face(hwnd, face, false)) paint_without_device(hwnd, face);
        painting = false;
        stack::top = base;
        return 0;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
        // A control's scroll bar is its own business.
        if (lparam) break;
        make_event(hwnd, msg, wparam, lparam, 0, E_SCROLL);
        return 0;
    case WM_NCHITTEST: {
        LRESULT hit = DefWindowProcW(hwnd, msg, wparam, lparam);
        r->over_client = hit == HTCLIENT;
        return hit;
    }
    case WM_SETCURSOR: {
        WindowRecord* target = record_of(reinterpret_cast<HWND>(wparam));
        if (target && target->cursor && target->over_client) {
            SetCursor(target->cursor);
            return 1;
        }
        break;
    }
    case WM_COMMAND:
        process_command(hwnd, wparam, lparam);
        return 0;
    case WM_WINDOWPOSCHANGED: {
        // The layered pop-ups among the face's children follow it (a pop-up
        // face itself is placed by follow_layered, which brought it here).
        const auto* wp = reinterpret_cast<const WINDOWPOS*>(lparam);
        bool changed = !(wp->flags & SWP_NOMOVE) || !(wp->flags & SWP_NOSIZE) ||
                       (wp->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW));
        if (found && changed && !r->popup && type_of(facet(found, sym.pane)) == TYPE_BLOCK) {
            Cell* base = stack::top;
            follow_layered(stack::push(found));
            stack::top = base;
        }
        break;
    }
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

} // namespace

bool paint_image_gdiplus(HWND hwnd, HDC dc, const Cell* face) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    bool painted = false;
    const Cell* color = facet(face, sym.color);
    if (type_of(color) == TYPE_TUPLE) {
        const uint8_t* b = tuple::bytes_of(color);
        HBRUSH brush = CreateSolidBrush(RGB(b[0], b[1], b[2]));
        FillRect(dc, &rc, brush);
        DeleteObject(brush);
        painted = true;
    }
    const Cell* img = facet(face, sym.image);
    if (type_of(img) != TYPE_IMAGE || rc.right <= 0 || rc.bottom <= 0) return painted;
    void* bitmap = image::lock_gdiplus(img);
    if (!bitmap) return painted;
    void* graphics = nullptr;
    if (GdipCreateFromHDC(dc, &graphics) == 0 && graphics) {
        painted = GdipDrawImageRectI(graphics, bitmap, 0, 0, rc.right, rc.bottom) == 0 || painted;
        GdipDeleteGraphics(graphics);
    }
    image::unlock_gdiplus(bitmap);
    return painted;
}

LRESULT CALLBACK base_face_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (!keep_record(hwnd, msg, lparam, false)) return FALSE;
    LRESULT result = 0;
    bool handled = guarded([&] { result = handle_base(hwnd, msg, wparam, lparam); });
    if (!handled) result = DefWindowProcW(hwnd, msg, wparam, lparam);
    keep_record(hwnd, msg, lparam, true);
    return result;
}

LRESULT CALLBACK base_internal_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT rc;
        GetClientRect(hwnd, &rc);
        HBRUSH key = CreateSolidBrush(COMPANION_KEY);
        FillRect(reinterpret_cast<HDC>(wparam), &rc, key);
        DeleteObject(key);
        return 1;
    }
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    default:
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

} // namespace mox::gui::win
