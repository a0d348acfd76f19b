// The graphics devices, the render-target records of windows and their DIB
// copies, colours and matrices.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "core/stack.h"
#include "core/symbol.h"
#include "datatypes/error.h"
#include "datatypes/image-store.h"
#include "datatypes/word.h"
#include "view/windows/dx.h"
#include "view/windows/internal.h"
#include "view/windows/text.h"

namespace mox::gui::win {

Devices dx;

namespace {

template <typename T> void release(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

int32_t live_targets = 0;

// The render caches of images hold one of these: the bitmap belongs to the
// device that made it, so releasing the device empties every one of them.
struct CachedBitmap {
    ID2D1Bitmap* bitmap;
};
std::unordered_set<CachedBitmap*> cached_bitmaps;

void release_cached(void* p) {
    auto* c = static_cast<CachedBitmap*>(p);
    if (!c) return;
    cached_bitmaps.erase(c);
    if (c->bitmap) c->bitmap->Release();
    delete c;
}

bool gpu_wanted() {
    Cell* system = word::get_value(word::load("system"));
    if (type_of(system) != TYPE_OBJECT) return true;
    Cell* view = facet(system, sym.view);
    if (type_of(view) != TYPE_OBJECT) return true;
    static const uint32_t gpu_q = symbol::make("GPU?");
    const Cell* v = facet(view, gpu_q);
    return !(type_of(v) == TYPE_LOGIC && !v->data1);
}

bool create_d3d(D3D_DRIVER_TYPE type, ID3D11Device** device, ID3D11DeviceContext** context) {
    HRESULT hr =
        D3D11CreateDevice(nullptr, type, nullptr,
                          D3D11_CREATE_DEVICE_BGRA_SUPPORT | D3D11_CREATE_DEVICE_SINGLETHREADED,
                          nullptr, 0, D3D11_SDK_VERSION, device, nullptr, context);
    return SUCCEEDED(hr);
}

bool make_device(D3D_DRIVER_TYPE type) { return create_d3d(type, &dx.d3d, &dx.d3d_context); }

// Making a Direct3D device is the slowest step of start-up (under Wine it
// brings up the whole GL stack: about 0.2 s). The hardware device is made
// on a thread of its own from the process's first moment, while the
// library loads and the first windows are made, and taken over when the
// first drawing needs it. After the hand-over the device is used by the
// GUI thread alone, so it keeps its single-threaded flag. The system may
// give the making thread windows of the device's own, which go with their
// thread: it stays, serving their messages, until the device is released.
HANDLE early_thread = nullptr;
DWORD early_thread_id = 0;
HANDLE early_made = nullptr; // set once the thread's attempt is over
bool early_taken = false;    // its device went to dx
ID3D11Device* early_d3d = nullptr;
ID3D11DeviceContext* early_d3d_context = nullptr;
// Set when dx_create_dev left the device to the thread: the first use
// finishes it (dx_ready).
bool device_pending = false;

DWORD WINAPI make_early_device(void*) {
    bool made = create_d3d(D3D_DRIVER_TYPE_HARDWARE, &early_d3d, &early_d3d_context);
    if (!made) {
        release(early_d3d);
        release(early_d3d_context);
    }
    // The queue exists before the end is posted to it.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(early_made);
    if (!made) return 0;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}

// Ends the thread once its device is gone (or was never taken).
void end_early_thread() {
    if (!early_thread) return;
    PostThreadMessageW(early_thread_id, WM_QUIT, 0, 0);
    // Bounded: a thread held up in its windows' messages is left parked.
    WaitForSingleObject(early_thread, 5000);
    CloseHandle(early_thread);
    CloseHandle(early_made);
    early_thread = early_made = nullptr;
    early_taken = false;
}

// Waits for the thread's attempt and hands its device (null when it
// failed) to dx.
void take_early_device() {
    if (!early_thread || early_taken) return;
    WaitForSingleObject(early_made, INFINITE);
    early_taken = true;
    dx.d3d = early_d3d;
    dx.d3d_context = early_d3d_context;
    early_d3d = nullptr;
    early_d3d_context = nullptr;
    if (!dx.d3d) end_early_thread();
}

// Waits for the thread's attempt and releases its device unused.
void drop_early_device() {
    if (!early_thread || early_taken) return;
    WaitForSingleObject(early_made, INFINITE);
    release(early_d3d_context);
    release(early_d3d);
    end_early_thread();
}

// The Direct3D device (the thread's when it made a hardware one), then the
// Direct2D device and context on it. False when no device could be made.
bool finish_device(bool hardware) {
    bool try_hardware = hardware;
    if (hardware && early_thread && !early_taken) {
        take_early_device();
        try_hardware = false; // the thread tried already
    } else {
        drop_early_device();
    }
    if (!dx.d3d && !(try_hardware && make_device(D3D_DRIVER_TYPE_HARDWARE))) {
        if (!make_device(D3D_DRIVER_TYPE_WARP)) return false;
        dx.warp = true;
    }
    IDXGIDevice1* dxgi_device = nullptr;
    ID2D1Device* d2d_device = nullptr;
    IDXGIAdapter* adapter = nullptr;
    bool ok =
        SUCCEEDED(dx.d3d->QueryInterface(__uuidof(IDXGIDevice1),
                                         reinterpret_cast<void**>(&dxgi_device))) &&
        SUCCEEDED(dx.factory->CreateDevice(dxgi_device, &d2d_device)) &&
        SUCCEEDED(d2d_device->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &dx.context)) &&
        SUCCEEDED(dxgi_device->GetAdapter(&adapter)) &&
        SUCCEEDED(adapter->GetParent(__uuidof(IDXGIFactory2), reinterpret_cast<void**>(&dx.dxgi)));
    release(dxgi_device);
    release(d2d_device);
    release(adapter);
    if (!ok) {
        dx_release_dev();
        return false;
    }
    return true;
}

void bind_target_bitmap(RenderTarget* rt, IDXGISwapChain1* chain) {
    IDXGISurface1* surface = nullptr;
    if (FAILED(chain->GetBuffer(0, __uuidof(IDXGISurface1), reinterpret_cast<void**>(&surface))))
        return;
    dx.context->SetDpi(g.dpi, g.dpi);
    D2D1_BITMAP_PROPERTIES1 props = {{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
                                     g.dpi,
                                     g.dpi,
                                     D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
                                     nullptr};
    ID2D1Bitmap1* bitmap = nullptr;
    if (SUCCEEDED(dx.context->CreateBitmapFromDxgiSurface(surface, &props, &bitmap)))
        rt->target = bitmap;
    surface->Release();
    rt->context = dx.context;
}

// The test switch MOX_TEST_NO_SWAPCHAIN=1 makes the target of every window
// drawn on screen (its swap chain, or the bitmap that stands for one) fail
// as a system that refuses them would.
bool swap_chains_refused() {
    static const bool refused = [] {
        const char* v = std::getenv("MOX_TEST_NO_SWAPCHAIN");
        return v && std::strcmp(v, "1") == 0;
    }();
    return refused;
}

// The test switch MOX_TEST_SWAPCHAIN=1 gives windows swap chains under Wine
// too, so that the swap-chain paths (the copy out of a back buffer, a lost
// device met with swap chains) run there.
bool swap_chains_forced() {
    static const bool forced = [] {
        const char* v = std::getenv("MOX_TEST_SWAPCHAIN");
        return v && std::strcmp(v, "1") == 0;
    }();
    return forced;
}

bool create_swap_chain(HWND hwnd, RenderTarget* rt) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    DXGI_SWAP_CHAIN_DESC1 desc{};
    desc.Width = static_cast<UINT>(rc.right > 0 ? rc.right : 1);
    desc.Height = static_cast<UINT>(rc.bottom > 0 ? rc.bottom : 1);
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount = 1;
    desc.Scaling = DXGI_SCALING_STRETCH;
    desc.SwapEffect = DXGI_SWAP_EFFECT_SEQUENTIAL;
    desc.AlphaMode = DXGI_ALPHA_MODE_UNSPECIFIED;
    desc.Flags = 0;
    rt->swap_flags = 0;
    IDXGISwapChain1* chain = nullptr;
    if (FAILED(dx.dxgi->CreateSwapChainForHwnd(dx.d3d, hwnd, &desc, nullptr, nullptr, &chain)))
        return false;
    rt->swap_chain = chain;
    bind_target_bitmap(rt, chain);
    return rt->target != nullptr;
}

void free_dib(RenderTarget* rt) {
    release(rt->staging);
    if (rt->dib_dc) {
        if (rt->dib_old) SelectObject(rt->dib_dc, rt->dib_old);
        DeleteDC(rt->dib_dc);
    }
    if (rt->dib) DeleteObject(rt->dib);
    rt->dib_dc = nullptr;
    rt->dib = nullptr;
    rt->dib_old = nullptr;
    rt->dib_pixels = nullptr;
    rt->dib_width = rt->dib_height = 0;
}

} // namespace

void dx_start_device() {
    if (early_thread || dx.d3d) return;
    early_made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!early_made) return;
    early_thread = CreateThread(nullptr, 0, &make_early_device, nullptr, 0, &early_thread_id);
    if (!early_thread) {
        CloseHandle(early_made);
        early_made = nullptr;
    }
}

void dx_settle_start() {
    // A thread ended in the middle of bringing up the graphics stack can
    // leave its locks held for the system's own teardown. The wait is
    // bounded: the process is ending.
    if (early_made && GetCurrentThreadId() != early_thread_id)
        WaitForSingleObject(early_made, 10000);
}

void dx_init() {
    if (dx.unavailable || dx.factory) return;
    if (g.xp || !text_init()) {
        drop_early_device();
        dx.unavailable = true;
        return;
    }
    dx.wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    D2D1_FACTORY_OPTIONS options{D2D1_DEBUG_LEVEL_NONE};
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1),
                                 &options, reinterpret_cast<void**>(&dx.factory)))) {
        drop_early_device();
        dx.unavailable = true;
        return;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                     __uuidof(IWICImagingFactory), reinterpret_cast<void**>(&dx.wic));
    image::set_render_release(&release_cached);
    if (!dx_create_dev()) dx.unavailable = true;
}

bool dx_create_dev() {
    if (!dx.factory) return false;
    if (dx.d3d || device_pending) dx_release_dev();
    // DirectComposition is looked up only: nothing here composes with it.
    if (g.win8) LoadLibraryA("dcomp.dll");
    bool hardware = gpu_wanted();
    dx.warp = !hardware;
    // The thread's device is finished at its first use, so that start-up
    // goes on meanwhile.
    if (hardware && early_thread && !early_taken) {
        device_pending = true;
        return true;
    }
    return finish_device(hardware);
}

bool dx_ready() {
    if (dx.context) return true;
    if (!device_pending) return false;
    device_pending = false;
    if (finish_device(true)) return true;
    dx.unavailable = true;
    return false;
}

void dx_release_dev() {
    device_pending = false;
    drop_early_device();
    for (CachedBitmap* c : cached_bitmaps) release(c->bitmap);
    release(dx.context);
    if (dx.d3d_context) {
        dx.d3d_context->ClearState();
        dx.d3d_context->Flush();
    }
    release(dx.d3d_context);
    release(dx.d3d);
    release(dx.dxgi);
    // The thread that made the device goes with it.
    end_early_thread();
}

void dx_cleanup() {
    release(dx.wic);
    release(dx.factory);
    text_cleanup();
}

RenderTarget* render_target_of(HWND hwnd) {
    WindowRecord* r = record_of(hwnd);
    return r ? r->render_target : nullptr;
}

RenderTarget* get_render_target(HWND hwnd, bool offscreen) {
    WindowRecord* r = record_of(hwnd);
    if (!r || !dx_ready()) return nullptr;
    if (r->render_target) return r->render_target;
    auto* rt = new RenderTarget;
    rt->brushes.reserve(BRUSH_CACHE_SIZE);
    bool made;
    // Every paint of a window is copied out through its DIB. Under Wine a
    // swap chain made for a window puts a GL surface over its client area,
    // which hides every later copy: the first frame stays on screen for
    // good. There windows draw into a plain target bitmap.
    if (!offscreen && swap_chains_refused()) {
        made = false;
    } else if (offscreen || (dx.wine && !swap_chains_forced())) {
        RECT rc;
        GetClientRect(hwnd, &rc);
        rt->context = dx.context;
        rt->target = create_bitmap(dx.context, static_cast<uint32_t>(std::max<LONG>(rc.right, 1)),
                                   static_cast<uint32_t>(std::max<LONG>(rc.bottom, 1)),
                                   D2D1_BITMAP_OPTIONS_TARGET);
        made = rt->target != nullptr;
    } else {
        made = create_swap_chain(hwnd, rt);
    }
    if (!made) {
        release_render_target(rt);
        // Reported, not raised: the caller is painting. The drawing is
        // dropped and the next paint tries again.
        Cell* base = stack::top;
        Cell* face = face_of(hwnd);
        Cell* arg = face ? stack::push(face) : make_none(stack::push_cell());
        error::report_error(err::no_create, arg, nullptr, nullptr);
        stack::top = base;
        return nullptr;
    }
    r->render_target = rt;
    live_targets++;
    return rt;
}

void drop_render_target(HWND hwnd) {
    WindowRecord* r = record_of(hwnd);
    if (!r || !r->render_target) return;
    RenderTarget* rt = r->render_target;
    r->render_target = nullptr;
    live_targets--;
    release_render_target(rt);
}

void release_render_target(RenderTarget* rt) {
    if (!rt) return;
    for (BrushEntry& e : rt->brushes) e.brush->Release();
    for (Backdrop& b : rt->backdrops)
        if (b.brush) b.brush->Release();
    release(rt->target);
    release(rt->swap_chain);
    free_dib(rt);
    delete rt;
}

int32_t live_render_targets() { return live_targets; }

void resize_render_target(RenderTarget* rt, int32_t width, int32_t height) {
    if (!rt) return;
    release(rt->target);
    release(rt->staging);
    if (width < 1) width = 1;
    if (height < 1) height = 1;
    if (!rt->swap_chain) {
        rt->target = create_bitmap(rt->context, static_cast<uint32_t>(width),
                                   static_cast<uint32_t>(height), D2D1_BITMAP_OPTIONS_TARGET);
        return;
    }
    if (FAILED(rt->swap_chain->ResizeBuffers(0, static_cast<UINT>(width), static_cast<UINT>(height),
                                             DXGI_FORMAT_B8G8R8A8_UNORM, rt->swap_flags))) {
        std::fputs("resizing failed\n", stdout);
        std::fflush(stdout);
        return;
    }
    bind_target_bitmap(rt, rt->swap_chain);
}

HDC copy_to_dib(HWND hwnd) {
    RenderTarget* rt = render_target_of(hwnd);
    if (!dx.d3d || !rt || (!rt->swap_chain && !rt->target)) return nullptr;
    RECT rc;
    GetClientRect(hwnd, &rc);
    int32_t w = rc.right, h = rc.bottom;
    if (w < 1 || h < 1) return nullptr;
    if (!rt->staging || rt->dib_width != w || rt->dib_height != h) {
        free_dib(rt);
        D3D11_TEXTURE2D_DESC desc{};
        desc.Width = static_cast<UINT>(w);
        desc.Height = static_cast<UINT>(h);
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc.Count = 1;
        desc.Usage = D3D11_USAGE_STAGING;
        desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        if (FAILED(dx.d3d->CreateTexture2D(&desc, nullptr, &rt->staging))) return nullptr;
        void* bits = nullptr;
        rt->dib_dc = CreateCompatibleDC(g.screen_dc);
        rt->dib = rt->dib_dc ? make_dib_section(g.screen_dc, w, h, &bits) : nullptr;
        if (!rt->dib || !bits) {
            free_dib(rt);
            return nullptr;
        }
        rt->dib_old = SelectObject(rt->dib_dc, rt->dib);
        rt->dib_pixels = static_cast<uint8_t*>(bits);
        rt->dib_width = w;
        rt->dib_height = h;
    }
    // The pixels: the swap chain's back buffer, or the texture behind the
    // plain target bitmap.
    ID3D11Resource* buffer = nullptr;
    if (rt->swap_chain) {
        rt->swap_chain->GetBuffer(0, __uuidof(ID3D11Resource), reinterpret_cast<void**>(&buffer));
    } else {
        IDXGISurface* surface = nullptr;
        if (SUCCEEDED(rt->target->GetSurface(&surface))) {
            surface->QueryInterface(__uuidof(ID3D11Resource), reinterpret_cast<void**>(&buffer));
            surface->Release();
        }
    }
    if (!buffer) return nullptr;
    D3D11_TEXTURE2D_DESC have{}, want{};
    ID3D11Texture2D* texture = nullptr;
    if (SUCCEEDED(buffer->QueryInterface(__uuidof(ID3D11Texture2D),
                                         reinterpret_cast<void**>(&texture)))) {
        texture->GetDesc(&have);
        texture->Release();
    }
    rt->staging->GetDesc(&want);
    // A buffer of another size (a resize not yet followed) has no pixels
    // for this client area.
    if (have.Width != want.Width || have.Height != want.Height) {
        buffer->Release();
        return nullptr;
    }
    dx.d3d_context->CopyResource(rt->staging, buffer);
    buffer->Release();
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(dx.d3d_context->Map(rt->staging, 0, D3D11_MAP_READ, 0, &mapped))) return nullptr;
    size_t row = static_cast<size_t>(w) * 4;
    for (int32_t y = 0; y < h; y++)
        std::memcpy(rt->dib_pixels + row * static_cast<size_t>(y),
                    static_cast<const uint8_t*>(mapped.pData) +
                        static_cast<size_t>(mapped.RowPitch) * y,
                    row);
    dx.d3d_context->Unmap(rt->staging, 0);
    GdiFlush();
    return rt->dib_dc;
}

ID2D1Bitmap1* create_bitmap(ID2D1DeviceContext* context, uint32_t width, uint32_t height,
                            D2D1_BITMAP_OPTIONS options, const void* pixels, uint32_t pitch) {
    if (!context) return nullptr;
    D2D1_BITMAP_PROPERTIES1 props = {{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
                                     g.dpi,
                                     g.dpi,
                                     options,
                                     nullptr};
    ID2D1Bitmap1* bitmap = nullptr;
    if (FAILED(context->CreateBitmap(D2D1::SizeU(width, height), pixels, pitch, &props, &bitmap)))
        return nullptr;
    return bitmap;
}

ID2D1SolidColorBrush* solid_brush(RenderTarget* rt, uint32_t color, bool* owned) {
    *owned = false;
    for (BrushEntry& e : rt->brushes)
        if (e.color == color) return e.brush;
    ID2D1SolidColorBrush* brush = nullptr;
    D2D1_COLOR_F c = to_dx_color(color);
    if (FAILED(rt->context->CreateSolidColorBrush(c, &brush))) return nullptr;
    if (rt->brushes.size() < BRUSH_CACHE_SIZE)
        rt->brushes.push_back({color, brush});
    else
        *owned = true;
    return brush;
}

D2D1_COLOR_F to_dx_color(uint32_t color) {
    return {static_cast<float>(color & 0xFF) / 255.0f,
            static_cast<float>((color >> 8) & 0xFF) / 255.0f,
            static_cast<float>((color >> 16) & 0xFF) / 255.0f,
            static_cast<float>(255 - (color >> 24)) / 255.0f};
}

ID2D1Bitmap* cached_bitmap(const Cell* img) {
    auto* c = static_cast<CachedBitmap*>(image::get_cached_bitmap(img));
    return c ? c->bitmap : nullptr;
}

void set_cached_bitmap(const Cell* img, ID2D1Bitmap* bitmap) {
    auto* c = static_cast<CachedBitmap*>(image::get_cached_bitmap(img));
    if (!c) {
        c = new CachedBitmap{nullptr};
        cached_bitmaps.insert(c);
        image::set_cached_bitmap(img, c);
    }
    if (c->bitmap) c->bitmap->Release();
    bitmap->AddRef();
    c->bitmap = bitmap;
}

namespace {

BOOL CALLBACK drop_child(HWND hwnd, LPARAM) {
    if (render_target_of(hwnd)) {
        drop_render_target(hwnd);
        InvalidateRect(hwnd, nullptr, FALSE);
    }
    return TRUE;
}

BOOL CALLBACK drop_top(HWND hwnd, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != GetCurrentProcessId()) return TRUE;
    drop_child(hwnd, 0);
    EnumChildWindows(hwnd, &drop_child, 0);
    return TRUE;
}

BOOL CALLBACK release_child(HWND hwnd, LPARAM) {
    drop_render_target(hwnd);
    return TRUE;
}

BOOL CALLBACK release_top(HWND hwnd, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != GetCurrentProcessId()) return TRUE;
    drop_render_target(hwnd);
    EnumChildWindows(hwnd, &release_child, 0);
    return TRUE;
}

} // namespace

void recover_lost_device() {
    EnumWindows(&drop_top, 0);
    // Message-only windows are not enumerated: the text measuring window
    // among them draws through its own record.
    HWND msg = nullptr;
    while ((msg = FindWindowExW(HWND_MESSAGE, msg, nullptr, nullptr))) drop_top(msg, 0);
    dx_create_dev();
}

void dx_shutdown() {
    drop_early_device();
    if (!dx.factory) return;
    // Windows still open hold swap chains and bitmaps of the device: their
    // records go first, as after a lost device but with no repaint.
    EnumWindows(&release_top, 0);
    HWND msg = nullptr;
    while ((msg = FindWindowExW(HWND_MESSAGE, msg, nullptr, nullptr))) release_top(msg, 0);
    dx_release_dev();
    dx_cleanup();
}

bool take_test_device_loss() {
    static bool pending = [] {
        const char* v = std::getenv("MOX_TEST_LOSE_DEVICE");
        return v && std::strcmp(v, "1") == 0;
    }();
    if (!pending) return false;
    pending = false;
    std::fputs("test: device lost\n", stdout);
    std::fflush(stdout);
    return true;
}

// --- matrices ---------------------------------------------------------------

Matrix matrix_identity() { return {1, 0, 0, 1, 0, 0}; }

// a x b: a applies first.
Matrix matrix_mul(const Matrix& a, const Matrix& b) {
    return {a._11 * b._11 + a._12 * b._21,         a._11 * b._12 + a._12 * b._22,
            a._21 * b._11 + a._22 * b._21,         a._21 * b._12 + a._22 * b._22,
            a._31 * b._11 + a._32 * b._21 + b._31, a._31 * b._12 + a._32 * b._22 + b._32};
}

Matrix matrix_combine(const Matrix& m, const Matrix& op, int order) {
    return order ? matrix_mul(op, m) : matrix_mul(m, op);
}

Matrix matrix_translate(const Matrix& m, float tx, float ty, int order) {
    return matrix_combine(m, {1, 0, 0, 1, tx, ty}, order);
}

Matrix matrix_scale(const Matrix& m, float sx, float sy, float cx, float cy, int order) {
    Matrix op{sx, 0, 0, sy, 0, 0};
    if (cx != 0 || cy != 0) {
        op._31 = cx - sx * cx;
        op._32 = cy - sy * cy;
    }
    return matrix_combine(m, op, order);
}

Matrix matrix_rotate(const Matrix& m, float degrees, float cx, float cy, int order) {
    double a = degrees * 3.14159265358979323846 / 180.0;
    float c = static_cast<float>(std::cos(a)), s = static_cast<float>(std::sin(a));
    Matrix op{c, s, -s, c, cx - c * cx + s * cy, cy - s * cx - c * cy};
    return matrix_combine(m, op, order);
}

Matrix matrix_skew(const Matrix& m, float ax, float ay, float cx, float cy, int order) {
    float tx = static_cast<float>(std::tan(ax * 3.14159265358979323846 / 180.0));
    float ty = static_cast<float>(std::tan(ay * 3.14159265358979323846 / 180.0));
    Matrix op{1, ty, tx, 1, -cy * tx, -cx * ty};
    return matrix_combine(m, op, order);
}

bool matrix_invert(const Matrix& m, Matrix* out) {
    double det = static_cast<double>(m._11) * m._22 - static_cast<double>(m._12) * m._21;
    if (det == 0 || !std::isfinite(det)) {
        *out = m;
        return false;
    }
    double i11 = m._22 / det, i12 = -m._12 / det, i21 = -m._21 / det, i22 = m._11 / det;
    *out = {static_cast<float>(i11),
            static_cast<float>(i12),
            static_cast<float>(i21),
            static_cast<float>(i22),
            static_cast<float>(-(m._31 * i11 + m._32 * i21)),
            static_cast<float>(-(m._31 * i12 + m._32 * i22))};
    return true;
}

D2D1_POINT_2F matrix_apply(const Matrix& m, float x, float y) {
    return {x * m._11 + y * m._21 + m._31, x * m._12 + y * m._22 + m._32};
}

Matrix4 matrix4_identity() {
    Matrix4 r{};
    for (int i = 0; i < 4; i++) r.m[i][i] = 1;
    return r;
}

Matrix4 matrix4_mul(const Matrix4& a, const Matrix4& b) {
    Matrix4 r{};
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            for (int k = 0; k < 4; k++) r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

} // namespace mox::gui::win
