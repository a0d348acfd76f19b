// The window procedures of base faces (MoxBase: base, rich-text and the
// faces built on them, painted by the program itself) and of the companion
// pop-ups that host the children of a layered pop-up face
// (MoxBaseInternal).
#include <windows.h>

#include <imm.h>

#include "core/stack.h"
#include "datatypes/image-store.h"
#include "datatypes/tuple.h"
#include "view/windows/dx.h"
#include "view/windows/internal.h"

// The few GDI+ entries the painter uses (the flat API, statuses 0 = Ok).
extern "C" {
int WINAPI GdipCreateFromHDC(HDC dc, void** graphics);
int WINAPI GdipDrawImageRectI(void* graphics, void* image, INT x, INT y, INT w, INT h);
int WINAPI GdipDeleteGraphics(void* graphics);
int WINAPI GdipSetTextRenderingHint(void* graphics, int hint);
int WINAPI GdipCreateFontFromDC(HDC dc, void** font);
int WINAPI GdipDeleteFont(void* font);
int WINAPI GdipCreateStringFormat(INT flags, WORD language, void** format);
int WINAPI GdipSetStringFormatAlign(void* format, int align);
int WINAPI GdipSetStringFormatLineAlign(void* format, int align);
int WINAPI GdipSetStringFormatTrimming(void* format, int trimming);
int WINAPI GdipDeleteStringFormat(void* format);
int WINAPI GdipCreateSolidFill(DWORD argb, void** brush);
int WINAPI GdipDeleteBrush(void* brush);
int WINAPI GdipDrawString(void* graphics, const WCHAR* text, INT length, const void* font,
                          const mox::gui::win::GdipRect* layout, const void* format,
                          const void* brush);
int WINAPI GdipMeasureString(void* graphics, const WCHAR* text, INT length, const void* font,
                             const mox::gui::win::GdipRect* layout, const void* format,
                             mox::gui::win::GdipRect* bounds, INT* fitted, INT* lines);
}

namespace mox::gui::win {

namespace {

constexpr int32_t E_SCROLL = 35;

// A paint in progress: handlers that pump messages must not start another.
bool painting = false;

// An input method is composing text in a face holding a caret: its keys
// are the method's, not special keys of the face.
bool composing = false;

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

// A base face that is not layered, when no device draws it: its colour,
// image and text through GDI+. May collect.
void paint_without_device(HWND hwnd, Cell* face) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    if (dc) paint_image_gdiplus(hwnd, dc, face);
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
        if (!(r->flags & WF_HAS_CARET)) break;
        composing = true;
        composition_font(hwnd, found);
        break;
    case WM_IME_ENDCOMPOSITION:
        if (r->flags & WF_HAS_CARET) composing = false;
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

bool draw_text_gdiplus(void* graphics, HDC dc, const std::u16string& text, const Cell* font,
                       const Cell* para, float width, float height, GdipRect* measured) {
    // Anti-aliased with grid fit: what the system's own controls look like.
    GdipSetTextRenderingHint(graphics, 3);
    Cell* base = stack::top;
    HFONT handle = type_of(font) == TYPE_OBJECT ? font_object_handle(stack::push(font)) : nullptr;
    if (!handle) handle = g.default_font;
    COLORREF color = GetSysColor(COLOR_WINDOWTEXT);
    const Cell* fc = type_of(font) == TYPE_OBJECT ? facet(font, sym.color) : nullptr;
    if (fc && type_of(fc) == TYPE_TUPLE) {
        const uint8_t* b = tuple::bytes_of(fc);
        color = RGB(b[0], b[1], b[2]);
    }
    uint32_t flags = get_para_flags(FT_BASE, para);
    stack::top = base;
    HGDIOBJ old = SelectObject(dc, handle);
    void* gfont = nullptr;
    void* format = nullptr;
    bool done = false;
    if (GdipCreateFontFromDC(dc, &gfont) == 0 && gfont) {
        // Without word breaks the text stays on its lines.
        INT format_flags = static_cast<INT>((flags & 0x10 ? 0 : 0x1000) | 0x80000000u);
        if (GdipCreateStringFormat(format_flags, 0, &format) == 0 && format) {
            GdipSetStringFormatAlign(format, static_cast<int>(flags & 3));
            GdipSetStringFormatLineAlign(format, static_cast<int>((flags >> 2) & 3));
            GdipSetStringFormatTrimming(format, 0);
            GdipRect layout{0, 0, width, height};
            void* brush = nullptr;
            DWORD argb =
                0xFF000000u | (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
            if (measured) {
                done = GdipMeasureString(graphics, reinterpret_cast<const WCHAR*>(text.c_str()),
                                         static_cast<INT>(text.size()), gfont, &layout, format,
                                         measured, nullptr, nullptr) == 0;
            } else if (GdipCreateSolidFill(argb, &brush) == 0 && brush) {
                done = GdipDrawString(graphics, reinterpret_cast<const WCHAR*>(text.c_str()),
                                      static_cast<INT>(text.size()), gfont, &layout, format,
                                      brush) == 0;
                GdipDeleteBrush(brush);
            }
            GdipDeleteStringFormat(format);
        }
        GdipDeleteFont(gfont);
    }
    SelectObject(dc, old);
    return done;
}

bool draw_face_text_gdiplus(const Cell* face, HDC dc, const RECT& rc) {
    const Cell* text = facet(face, sym.text);
    if (type_of(text) != TYPE_STRING) return false;
    std::u16string units = wide_text(text);
    void* graphics = nullptr;
    if (GdipCreateFromHDC(dc, &graphics) != 0 || !graphics) return false;
    Cell* base = stack::top;
    Cell* kept = stack::push(face);
    bool done = draw_text_gdiplus(graphics, dc, units, facet(kept, sym.font), facet(kept, sym.para),
                                  static_cast<float>(rc.right - rc.left),
                                  static_cast<float>(rc.bottom - rc.top));
    stack::top = base;
    GdipDeleteGraphics(graphics);
    return done;
}

bool measure_text_gdiplus(HDC dc, const std::u16string& text, const Cell* face, float width,
                          GdipRect* measured) {
    void* graphics = nullptr;
    if (GdipCreateFromHDC(dc, &graphics) != 0 || !graphics) return false;
    Cell* base = stack::top;
    Cell* kept = stack::push(face);
    bool done = draw_text_gdiplus(graphics, dc, text, facet(kept, sym.font), facet(kept, sym.para),
                                  width, 0, measured);
    stack::top = base;
    GdipDeleteGraphics(graphics);
    return done;
}

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
    if (type_of(img) == TYPE_IMAGE && rc.right > 0 && rc.bottom > 0) {
        if (void* bitmap = image::lock_gdiplus(img)) {
            void* graphics = nullptr;
            if (GdipCreateFromHDC(dc, &graphics) == 0 && graphics) {
                painted =
                    GdipDrawImageRectI(graphics, bitmap, 0, 0, rc.right, rc.bottom) == 0 || painted;
                GdipDeleteGraphics(graphics);
            }
            image::unlock_gdiplus(bitmap);
        }
    }
    WindowRecord* r = record_of(hwnd);
    if (r && r->type == FT_BASE && draw_face_text_gdiplus(face, dc, rc)) painted = true;
    return painted;
}

bool ime_composing_q() { return composing; }

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
