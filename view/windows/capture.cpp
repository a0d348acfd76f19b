// Faces turned into images (`to image!` of a face): a camera's current
// frame, a screen grab, a base face drawn again into an image, and
// for every other window what it shows. Wine's PrintWindow paints nothing
// for windows that paint themselves, so there the pixels are copied from
// the window's device context; layered pop-ups, which are windows of their
// own, are painted over the copy at their places.
#include <windows.h>

#include <cstring>

#include "core/stack.h"
#include "core/value-pool.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/image-store.h"
#include "datatypes/image.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "view/gui.h"
#include "view/windows/dx.h"
#include "view/windows/internal.h"

namespace mox::gui::win {

HBITMAP make_dib_section(HDC dc, int32_t w, int32_t h, void** bits) {
    *bits = nullptr;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, bits, nullptr, 0);
    if (!bitmap) *bits = nullptr;
    return bitmap;
}

namespace {

#ifndef PW_RENDERFULLCONTENT
constexpr UINT PW_RENDERFULLCONTENT = 2;
#endif

bool under_wine() {
    static const bool wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// A memory DC over a top-down 32-bit DIB of w x h, cleared to 0.
struct Surface {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint8_t* bits = nullptr;
    int32_t w = 0, h = 0;

    ~Surface() {
        if (old) SelectObject(dc, old);
        if (bitmap) DeleteObject(bitmap);
        if (dc) DeleteDC(dc);
    }

    bool make(int32_t width, int32_t height) {
        if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return false;
        void* p = nullptr;
        dc = CreateCompatibleDC(nullptr);
        bitmap = dc ? make_dib_section(dc, width, height, &p) : nullptr;
        if (!bitmap || !p) return false;
        old = SelectObject(dc, bitmap);
        bits = static_cast<uint8_t*>(p);
        w = width;
        h = height;
        std::memset(bits, 0, static_cast<size_t>(w) * h * 4);
        return true;
    }

    // What GDI copied carries no alpha: those pixels are opaque.
    void opaque() {
        for (size_t i = 3, n = static_cast<size_t>(w) * h * 4; i < n; i += 4) bits[i] = 255;
    }

    // The pixels as an image (premultiplied: what layered drawing left).
    // May collect.
    void to_image(Cell* out, bool premultiplied) {
        GdiFlush();
        image::make_from_pixels(out, bits, static_cast<uint32_t>(w), static_cast<uint32_t>(h),
                                static_cast<uint32_t>(w) * 4, premultiplied ? 1 : 0);
    }
};

// A screen grab of the display the screen face stands for, from its own
// origin. May collect.
void grab_screen(const Cell* face, Cell* out) {
    const Cell* offset = facet(face, sym.offset);
    const Cell* size = facet(face, sym.size);
    const Cell* data = facet(face, sym.data);
    double scale = type_of(data) == TYPE_FLOAT && get_float(data) > 0 ? get_float(data) : 1.0;
    int32_t x = static_cast<int32_t>(coord(offset, false)),
            y = static_cast<int32_t>(coord(offset, true));
    int32_t w = static_cast<int32_t>(coord(size, false) * scale + 0.5),
            h = static_cast<int32_t>(coord(size, true) * scale + 0.5);
    Surface s;
    if (!s.make(w, h)) return;
    HDC screen = GetDC(nullptr);
    BitBlt(s.dc, 0, 0, w, h, screen, x, y, SRCCOPY | CAPTUREBLT);
    ReleaseDC(nullptr, screen);
    s.opaque();
    s.to_image(out, false);
}

} // namespace

void face_to_image(const Cell* face_in, Cell* out) {
    make_none(out);
    Cell* base = stack::top;
    Cell* face = stack::push(face_in);
    FaceType type = face_type(face);
    if (type == FT_SCREEN) {
        grab_screen(face, out);
        stack::top = base;
        return;
    }
    HWND hwnd = face_handle(face);
    if (!hwnd || !IsWindow(hwnd)) {
        stack::top = base;
        return;
    }
    if (type == FT_CAMERA) {
        get_camera_frame(hwnd, out);
        stack::top = base;
        return;
    }
    RECT wr;
    GetWindowRect(hwnd, &wr);
    int32_t w = wr.right - wr.left, h = wr.bottom - wr.top;
    bool base_face = type == FT_BASE || type == FT_RICH_TEXT;
    // A base face draws itself: its content is drawn again into the image,
    // whatever covers it on the screen. A layered one without a draw block
    // takes the layered path below, which adds its layered children.
    if (base_face && dx_ready() && w > 0 && h > 0 &&
        (type_of(facet(face, sym.draw)) == TYPE_BLOCK || !layered_q(hwnd))) {
        Cell* img = image::make_filled(stack::push_cell(), static_cast<uint32_t>(w),
                                       static_cast<uint32_t>(h), 0);
        if (draw_face_into_image(hwnd, face, img)) {
            *out = *img;
            stack::top = base;
            return;
        }
    }
    Surface s;
    if (!s.make(w, h)) {
        stack::top = base;
        return;
    }
    if (base_face && layered_q(hwnd)) {
        // Its own pixels with their transparency, and its layered children.
        paint_layered_tree(s.dc, face, 0, 0, 0);
        s.to_image(out, true);
        stack::top = base;
        return;
    }
    if (under_wine() || !PrintWindow(hwnd, s.dc, layered_children() ? PW_RENDERFULLCONTENT : 0)) {
        HDC dc = GetWindowDC(hwnd);
        BitBlt(s.dc, 0, 0, w, h, dc, 0, 0, SRCCOPY);
        ReleaseDC(hwnd, dc);
    }
    s.opaque();
    if (!layered_children()) {
        // Layered pop-ups below, at their places inside the window
        // rectangle.
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        int32_t x = origin.x - wr.left, y = origin.y - wr.top;
        Cell* pane = facet(face, sym.pane);
        if (type_of(pane) == TYPE_BLOCK) {
            Cell* p = stack::push(pane);
            for (int32_t i = 0; i < block::rs_length_q(p); i++) {
                Cell* child = stack::push(block::rs_head(p) + i);
                if (type_of(child) == TYPE_OBJECT) {
                    const Cell* off = facet(child, sym.offset);
                    paint_layered_tree(s.dc, child, x + dpi_scale(coord(off, false)),
                                       y + dpi_scale(coord(off, true)), 1);
                }
                stack::top = child;
            }
        }
    }
    s.to_image(out, false);
    stack::top = base;
}

namespace {

// `to image!` of an object: faces (face? says which) become their picture.
// May collect.
bool face_image(const Cell* object, Cell* out) {
    Cell fn = *word::get_value(word::load("face?"));
    if (type_of(&fn) != TYPE_FUNCTION) return false;
    Cell* base = stack::top;
    Cell* arg = stack::push(object);
    Cell* answer = make_none(stack::push_cell());
    interpreter::call_value(&fn, arg, 1, answer);
    bool face = type_of(answer) == TYPE_LOGIC && answer->data1;
    if (face) face_to_image(arg, out);
    stack::top = base;
    return face;
}

} // namespace

void install_face_capture() { image::face_to_image = &face_image; }

} // namespace mox::gui::win
