// Graphics devices of the Windows view back end: the Direct2D factory, the
// Direct3D 11 device (hardware, or WARP when that fails), the one Direct2D
// device context every drawing shares, the DXGI factory that makes swap
// chains; the render-target record of a window drawn with Direct2D; colour
// conversion and the 3x2 / 4x4 matrix helpers the renderer combines.
//
// GUI thread only. COM pointers live in C++ records outside the collector's
// heap; cells only ever hold handle-table indexes to them.
#pragma once

#include <windows.h>

#include <d2d1_1.h>
#include <d3d11.h>
#include <dxgi1_2.h>
#include <wincodec.h>

#include <cstdint>
#include <vector>

#include "core/cell.h"

namespace mox::gui::win {

// Module state of the graphics devices.
struct Devices {
    bool unavailable = false; // no Direct2D: GDI paths only
    bool warp = false;        // the device in use is WARP
    bool occluded = false;    // the last Present reported occlusion
    bool wine = false;        // running under Wine: its layers apply
    ID2D1Factory1* factory = nullptr;
    ID3D11Device* d3d = nullptr;
    ID3D11DeviceContext* d3d_context = nullptr;
    ID2D1DeviceContext* context = nullptr;
    IDXGIFactory2* dxgi = nullptr;
    IWICImagingFactory* wic = nullptr;
};
extern Devices dx;

// A solid brush kept for one colour integer.
struct BrushEntry {
    uint32_t color;
    ID2D1SolidColorBrush* brush;
};

// A coloured span behind rich text (filled before the text is drawn).
struct Backdrop {
    uint32_t start;
    uint32_t length;
    ID2D1Brush* brush;
};

constexpr size_t BRUSH_CACHE_SIZE = 64;

// The render-target record of one window drawn with Direct2D (or of one
// image drawing, without swap chain).
struct RenderTarget {
    ID2D1DeviceContext* context = nullptr; // the shared context, or a WIC target's
    std::vector<BrushEntry> brushes;       // at most BRUSH_CACHE_SIZE
    std::vector<Backdrop> backdrops;
    ID2D1Bitmap1* target = nullptr; // back buffer bitmap, or a plain target bitmap
    IDXGISwapChain1* swap_chain = nullptr;
    UINT swap_flags = 0;
    ID3D11Texture2D* staging = nullptr; // the DIB copy's staging texture
    HDC dib_dc = nullptr;
    HBITMAP dib = nullptr;
    HGDIOBJ dib_old = nullptr;
    uint8_t* dib_pixels = nullptr; // top-down premultiplied BGRA
    int32_t dib_width = 0;
    int32_t dib_height = 0;
};

// Starts making the graphics device on a thread of its own, so that it is
// ready by the first drawing; called first thing when the back end is
// chosen, before the library loads.
void dx_start_device();
// Lets that thread finish before the process ends (a no-op once the device
// was taken over, and on the thread itself).
void dx_settle_start();
// Start-up of the devices (gui/init): factories, then dx_create_dev. Sets
// dx.unavailable when Direct2D cannot be loaded.
void dx_init();
// (Re)creates the device: releases the old one first; the hardware driver
// when system/view/GPU? is true, else WARP; a failed hardware attempt is
// retried once with WARP. False when no device could be made. A hardware
// device still being made by dx_start_device's thread is left pending:
// true is returned and dx_ready finishes it.
bool dx_create_dev();
// True when the device and its Direct2D context are there, finishing a
// pending one first (waiting for its thread). Every use of dx.context
// starts here.
bool dx_ready();
// Drops every image's cached render bitmap and releases the device objects.
void dx_release_dev();
// Releases the factories (after dx_release_dev) at the back end's teardown.
void dx_cleanup();
// The back end's teardown at process end: every window's record, then the
// device, then the factories; nothing is drawn afterwards.
void dx_shutdown();

// The record of a window (made on first use); null when there is no device
// or no target could be made (then reported as an Access Error naming the
// face, not raised). offscreen: a record made now gets a plain target
// bitmap instead of a swap chain (layered windows show their pixels through
// the DIB copy only, and some systems refuse their swap chains). May
// collect.
RenderTarget* get_render_target(HWND hwnd, bool offscreen = false);
// The record a window keeps, or null (never makes one).
RenderTarget* render_target_of(HWND hwnd);
// Releases a window's record and clears it from the window.
void drop_render_target(HWND hwnd);
// Releases a record's objects and frees it.
void release_render_target(RenderTarget* rt);
// Follows a size change of the window (device pixels).
void resize_render_target(RenderTarget* rt, int32_t width, int32_t height);
// Copies the window's current back buffer into the record's DIB section and
// returns the memory DC holding it, or null (no record, empty client area,
// a failed copy).
HDC copy_to_dib(HWND hwnd);
// A new bitmap of the context: premultiplied BGRA at the current DPI.
ID2D1Bitmap1* create_bitmap(ID2D1DeviceContext* context, uint32_t width, uint32_t height,
                            D2D1_BITMAP_OPTIONS options, const void* pixels = nullptr,
                            uint32_t pitch = 0);
// A solid brush of a colour integer for a record: a cached one (owned by the
// cache) or, once the cache is full, one for this use (*owned set: the
// caller releases it).
ID2D1SolidColorBrush* solid_brush(RenderTarget* rt, uint32_t color, bool* owned);

// Colour integer (bits 0-7 red, 8-15 green, 16-23 blue, 24-31
// transparency) to a Direct2D colour.
D2D1_COLOR_F to_dx_color(uint32_t color);

// The number of windows that hold a render-target record (tests read it).
int32_t live_render_targets();

// --- matrices ---------------------------------------------------------------
// 3x2 matrices in the Direct2D layout. With order 0 the result is m x op,
// with order 1 op x m (op applies first).
using Matrix = D2D1_MATRIX_3X2_F;
struct Matrix4 {
    float m[4][4];
};

Matrix matrix_identity();
Matrix matrix_mul(const Matrix& a, const Matrix& b);
Matrix matrix_combine(const Matrix& m, const Matrix& op, int order);
Matrix matrix_translate(const Matrix& m, float tx, float ty, int order);
Matrix matrix_scale(const Matrix& m, float sx, float sy, float cx, float cy, int order);
Matrix matrix_rotate(const Matrix& m, float degrees, float cx, float cy, int order);
Matrix matrix_skew(const Matrix& m, float ax, float ay, float cx, float cy, int order);
// The inverse; false (and m unchanged in out) when m is singular.
bool matrix_invert(const Matrix& m, Matrix* out);
D2D1_POINT_2F matrix_apply(const Matrix& m, float x, float y);
Matrix4 matrix4_identity();
Matrix4 matrix4_mul(const Matrix4& a, const Matrix4& b);

// The render bitmap cached in an image node for window drawing (owned by
// the node: no reference added), or null; set_cached_bitmap gives the node
// a reference of its own to the bitmap.
ID2D1Bitmap* cached_bitmap(const Cell* image);
void set_cached_bitmap(const Cell* image, ID2D1Bitmap* bitmap);

// Lost-device recovery (and toggle-GPU): releases the render-target record
// of every window of this process and re-creates the device.
void recover_lost_device();

// Paints a face drawn with Direct2D (base and rich-text faces; windows and
// panels with a draw block): its draw block through the dialect, else the
// face's drawing event inside a drawing. Always renders into the window's
// back buffer without presenting; unless layered, it then shows the pixels
// through the DIB copy between BeginPaint and EndPaint (presents into child
// windows are not shown everywhere). layered: render only, and copy_to_dib
// gives the pixels afterwards. False when nothing was drawn. May collect.
bool paint_face(HWND hwnd, Cell* face, bool layered);

// Draws a window's face (colour, image, text, then its draw block or its
// drawing event) into an image of the window's pixel size instead of into
// the window. image: a stack cell. False when nothing could be drawn (no
// device, or the face is drawing already). May collect.
bool draw_face_into_image(HWND hwnd, Cell* face, Cell* image);

// The device lost test switch: MOX_TEST_LOSE_DEVICE=1 makes the first
// Present fail as if the device were removed. True once, when it fires.
bool take_test_device_loss();

} // namespace mox::gui::win
