// The routines that draw: draw on an image, draw-face during a paint,
// toggle-GPU; and the paint of faces drawn with Direct2D.
#include <windows.h>

#include <vector>

#include "core/stack.h"
#include "datatypes/image-store.h"
#include "datatypes/series.h"
#include "view/draw-renderer.h"
#include "view/windows/dx-renderer.h"
#include "view/windows/dx.h"
#include "view/windows/internal.h"

namespace mox::gui::win {

namespace {

constexpr int32_t E_DRAWING = 34;

// Under Wine the GL layer rasterises what was drawn only when it is
// flushed or read back. A face drawn piece by piece (a console's lines) is
// flushed every few pieces, so that the first are rasterised while the next
// are laid out rather than all of them at the copy out.
constexpr int32_t FLUSH_EVERY = 4;

// The drawings in progress, innermost last: draw-face adds to the one of
// its window.
struct Active {
    HWND hwnd;
    D2DRenderer* renderer;
    int32_t pieces;
};
std::vector<Active> active;

Active* active_entry(HWND hwnd) {
    for (auto it = active.rbegin(); it != active.rend(); ++it)
        if (it->hwnd == hwnd) return &*it;
    return nullptr;
}

D2DRenderer* active_of(HWND hwnd) {
    Active* a = active_entry(hwnd);
    return a ? a->renderer : nullptr;
}

// The face's content through a renderer: its draw block, else its drawing
// event with the renderer active for draw-face. True when the renderer
// drew. May collect.
bool render_face(D2DRenderer& r, HWND hwnd, Cell* face) {
    bool drawn = false;
    guarded([&] {
        Cell* commands = stack::push(facet(face, sym.draw));
        if (type_of(commands) == TYPE_BLOCK) {
            do_draw(r, commands, true, true);
            drawn = r.drew();
            return;
        }
        if (!r.begin()) {
            r.end();
            return;
        }
        active.push_back({hwnd, &r, 0});
        guarded([&] { make_event(hwnd, WM_PAINT, 0, 0, 0, E_DRAWING); });
        active.pop_back();
        r.end();
        drawn = true;
    });
    return drawn;
}

} // namespace

// May collect.
bool paint_face(HWND hwnd, Cell* face, bool layered) {
    if (!face || !dx_ready()) return false;
    // BeginPaint comes first: a lost device found while drawing invalidates
    // the window again, and that must outlive this paint.
    PAINTSTRUCT ps;
    HDC dc = layered ? nullptr : BeginPaint(hwnd, &ps);
    int32_t saved_dpi = push_dpi(hwnd);
    bool drawn;
    {
        D2DRenderer r(hwnd, nullptr, true, layered);
        drawn = render_face(r, hwnd, face);
    }
    pop_dpi(saved_dpi);
    if (layered) return drawn;
    if (HDC mem = drawn ? copy_to_dib(hwnd) : nullptr) {
        RenderTarget* rt = render_target_of(hwnd);
        BitBlt(dc, 0, 0, rt->dib_width, rt->dib_height, mem, 0, 0, SRCCOPY);
    }
    EndPaint(hwnd, &ps);
    return drawn;
}

// May collect.
bool draw_face_into_image(HWND hwnd, Cell* face, Cell* image) {
    // A face's drawing actor that takes the face's own picture would draw
    // it again without end: that picture is taken as the screen shows it.
    if (!face || active_of(hwnd) || !dx_ready()) return false;
    int32_t saved_dpi = push_dpi(hwnd);
    bool drawn;
    {
        D2DRenderer r(hwnd, image, true);
        drawn = render_face(r, hwnd, face);
        if (drawn) r.write_back(image);
    }
    pop_dpi(saved_dpi);
    return drawn;
}

void draw_image_star() {
    Cell* img = stack::arguments;
    Cell* commands = stack::arguments + 1;
    if (image::width_of(img) == 0 || image::height_of(img) == 0 || !image::store_of(img)) {
        make_none(stack::arguments);
        return;
    }
    {
        D2DRenderer r(nullptr, img, false);
        try {
            do_draw(r, commands, false, false);
        } catch (...) {
            // What was drawn before the error stays drawn.
            r.write_back(img);
            throw;
        }
        r.write_back(img);
    }
    Cell none;
    make_none(&none);
    series::notify(img, series::Change::poke, &none, -1, -1);
    make_none(stack::arguments);
}

void draw_face_star() {
    Cell* face = stack::arguments;
    Cell* commands = stack::arguments + 1;
    HWND hwnd = face_handle(face);
    Active* a = hwnd ? active_entry(hwnd) : nullptr;
    if (a) {
        parse_draw(*a->renderer, commands, true);
        // Drawing can run code that draws other faces, which may move the
        // list: the entry is looked up again.
        a = active_entry(hwnd);
        if (a && dx.wine && a->renderer->to_window() && ++a->pieces % FLUSH_EVERY == 0) {
            dx.context->Flush();
            if (dx.d3d_context) dx.d3d_context->Flush();
        }
    }
    make_none(stack::arguments);
}

// The windows' records belong to the old device: they go as after a lost
// device, and every window paints again on the new one.
void toggle_GPU_star() {
    if (dx.factory) recover_lost_device();
    make_none(stack::arguments);
}

} // namespace mox::gui::win
