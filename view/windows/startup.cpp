// Start-up of the Windows view back end (version, DPI, metrics, default
// font, classes), screens, and the platform routines that need no window
// of their own.
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <cstring>

#include "core/context.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "view/windows/backend.h"
#include "view/windows/dx.h"
#include "view/windows/internal.h"

namespace mox::gui::win {

State g;

namespace {

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
using DwmIsCompositionEnabledFn = HRESULT(WINAPI*)(BOOL*);

GetDpiForMonitorFn dpi_for_monitor() {
    static GetDpiForMonitorFn fn = [] {
        HMODULE shcore = LoadLibraryW(L"shcore.dll");
        return shcore ? reinterpret_cast<GetDpiForMonitorFn>(
                            reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")))
                      : nullptr;
    }();
    return fn;
}

int32_t monitor_dpi(HMONITOR monitor) {
    UINT x = 0, y = 0;
    GetDpiForMonitorFn fn = dpi_for_monitor();
    if (fn && SUCCEEDED(fn(monitor, 0, &x, &y)) && x) return static_cast<int32_t>(x);
    return GetDeviceCaps(g.screen_dc, LOGPIXELSX);
}

void set_cursor_monitor_dpi() {
    POINT p{0, 0};
    GetCursorPos(&p);
    set_dpi(monitor_dpi(MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST)));
}

void put_color(Cell* map, uint32_t key, int index) {
    COLORREF c = GetSysColor(index);
    const uint8_t bytes[3] = {GetRValue(c), GetGValue(c), GetBValue(c)};
    Cell v;
    tuple::make_cell(&v, bytes, 3);
    put_word(map, key, &v);
}

} // namespace

// The back end's teardown: the classes (those whose windows are still open
// stay), then the device, then the factories. The process does not call it
// when it ends: its exit hook releases the device and the factories only.
void cleanup() {
    unregister_classes(g.instance);
    dx_shutdown();
}

void set_dpi(int32_t dpi) {
    if (dpi <= 0) dpi = 96;
    g.dpi_x = g.dpi_y = dpi;
    g.dpi = static_cast<float>(dpi);
    g.scale = g.dpi / 96.0f;
}

int32_t push_dpi(HWND hwnd) {
    g.dpi_scopes++;
    int32_t saved = g.dpi_x;
    if (hwnd) {
        UINT dpi = GetDpiForWindow(GetAncestor(hwnd, GA_ROOT));
        if (dpi) set_dpi(static_cast<int32_t>(dpi));
    }
    return saved;
}

void pop_dpi(int32_t saved) {
    g.dpi_scopes--;
    if (saved == g.dpi_x) return;
    HWND active = GetActiveWindow();
    if (g.dpi_scopes == 0 && active && IsWindowVisible(active)) {
        UINT dpi = GetDpiForWindow(active);
        set_dpi(dpi ? static_cast<int32_t>(dpi) : saved);
    } else {
        set_dpi(saved);
    }
}

// The message font of the non-client metrics at the current DPI becomes
// the default GUI font (and a window's own copy); its name and point size
// go to system/view/fonts. May collect.
void set_default_font(HWND hwnd) {
    WindowRecord* r = record_of(hwnd);
    if (r && r->font) {
        DeleteObject(r->font);
        r->font = nullptr;
    }
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof ncm;
    static auto for_dpi = reinterpret_cast<SystemParametersInfoForDpiFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    BOOL ok =
        for_dpi ? for_dpi(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0, static_cast<UINT>(g.dpi_y))
                : SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
    if (ok) {
        g.default_font_name.assign(reinterpret_cast<const char16_t*>(ncm.lfMessageFont.lfFaceName));
        Cell* view = system_view();
        if (view) {
            Cell* base = stack::top;
            Cell* fonts = stack::push(facet(view, sym.fonts));
            if (type_of(fonts) == TYPE_OBJECT) {
                Cell* name = stack::push_cell();
                make_series(name, TYPE_STRING,
                            unicode::load_utf16(g.default_font_name.data(),
                                                static_cast<uint32_t>(g.default_font_name.size()),
                                                nullptr, false));
                set_facet(fonts, sym.system, name);
                Cell size;
                make_integer(&size, -(ncm.lfMessageFont.lfHeight * 72 / g.dpi_y));
                set_facet(fonts, sym.size, &size);
            }
            stack::top = base;
        }
        HFONT font = CreateFontIndirectW(&ncm.lfMessageFont);
        if (font) {
            if (g.default_font && g.default_font != GetStockObject(DEFAULT_GUI_FONT))
                DeleteObject(g.default_font);
            g.default_font = font;
        }
        if (r) r->font = CreateFontIndirectW(&ncm.lfMessageFont);
    }
    if (!g.default_font) g.default_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void get_metrics() {
    Cell* view = system_view();
    if (!view) return;
    Cell* base = stack::top;
    Cell* metrics = stack::push(facet(view, sym.metrics));
    if (type_of(metrics) == TYPE_OBJECT) {
        Cell v;
        make_integer(&v, g.dpi_x);
        set_facet(metrics, sym.dpi, &v);
        Cell* misc = stack::push(facet(metrics, sym.misc));
        if (type_of(misc) == TYPE_MAP) {
            pair::make_cell(&v, GetSystemMetrics(SM_CXVSCROLL), GetSystemMetrics(SM_CYVSCROLL));
            put_word(misc, sym.scroller, &v);
        }
        Cell* colors = stack::push(facet(metrics, sym.colors));
        if (type_of(colors) == TYPE_MAP) {
            put_color(colors, sym.text, COLOR_WINDOWTEXT);
            put_color(colors, sym.window, COLOR_WINDOW);
            put_color(colors, sym.panel, COLOR_BTNFACE);
        }
    }
    stack::top = base;
}

bool wanted() {
    const char* env = std::getenv("MOX_NULL_GUI");
    return !(env && std::strcmp(env, "1") == 0);
}

void init_star() {
    init_symbols();
    if (!g.ready) {
        g.ready = true;
        g.pid = GetCurrentProcessId();
        g.screen_dc = GetDC(nullptr);
        g.instance = GetModuleHandleW(nullptr);
        OSVERSIONINFOEXW v{};
        v.dwOSVersionInfoSize = sizeof v;
        auto rtl = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
        if (rtl) rtl(&v);
        g.major = v.dwMajorVersion;
        g.minor = v.dwMinorVersion;
        g.build = v.dwBuildNumber;
        g.product = v.wProductType ? v.wProductType : 1;
        INITCOMMONCONTROLSEX icc{sizeof icc, 0x413D};
        InitCommonControlsEx(&icc);
        if (HMODULE dwm = LoadLibraryA("dwmapi.dll")) {
            auto fn = reinterpret_cast<DwmIsCompositionEnabledFn>(
                reinterpret_cast<void*>(GetProcAddress(dwm, "DwmIsCompositionEnabled")));
            BOOL on = FALSE;
            if (fn && SUCCEEDED(fn(&on))) g.composition = on;
            FreeLibrary(dwm);
        }
        g.win10 = g.major >= 10;
        g.win8 = g.major >= 10 || (g.major >= 6 && g.minor >= 2);
        g.xp = g.major < 6;
        g.win11 = g.build >= 22000;
        set_cursor_monitor_dpi();
        register_classes();
        register_font_kind();
        dx_init();
        exit_hook = &dx_shutdown;
    }
    Cell* platform = stack::arguments;
    if (type_of(platform) == TYPE_OBJECT) {
        Cell v;
        const uint8_t version[3] = {static_cast<uint8_t>(g.major), static_cast<uint8_t>(g.minor),
                                    0};
        tuple::make_cell(&v, version, 3);
        set_facet(platform, sym.version, &v);
        make_integer(&v, static_cast<int32_t>(g.build));
        set_facet(platform, sym.build, &v);
        make_integer(&v, g.product);
        set_facet(platform, sym.product, &v);
    }
    set_default_font(nullptr);
    get_metrics();
    make_none(stack::arguments);
}

// --- screens --------------------------------------------------------------

namespace {

BOOL CALLBACK monitor_enum(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) return TRUE;
    auto* out = reinterpret_cast<Cell*>(data);
    Cell* entry = block::make_in(out, 4);
    const RECT& r = info.rcMonitor;
    pair::make_cell(block::alloc_tail(entry), r.left, r.top);
    pair::make_cell(block::alloc_tail(entry), r.right - r.left, r.bottom - r.top);
    make_float(block::alloc_tail(entry), monitor_dpi(monitor) / 96.0);
    handle::make_in_block(entry, reinterpret_cast<uintptr_t>(monitor), handle::CLASS_MONITOR);
    return TRUE;
}

} // namespace

void fetch_all_screens_star() {
    Cell* out = block::make_at(stack::push_cell(), 4);
    // The callback allocates; an error there must not cross the system's
    // frames, so it is caught inside and the list ends early.
    struct Guard {
        static BOOL CALLBACK proc(HMONITOR m, HDC dc, LPRECT r, LPARAM data) {
            BOOL more = FALSE;
            guarded([&] { more = monitor_enum(m, dc, r, data); });
            return more;
        }
    };
    EnumDisplayMonitors(nullptr, nullptr, &Guard::proc, reinterpret_cast<LPARAM>(out));
    *stack::arguments = *out;
}

void get_current_screen_star() {
    POINT p{0, 0};
    GetCursorPos(&p);
    HMONITOR m = MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST);
    handle::box(reinterpret_cast<uintptr_t>(m), handle::CLASS_MONITOR);
}

void get_screen_size_star() {
    int32_t w = GetDeviceCaps(g.screen_dc, HORZRES), h = GetDeviceCaps(g.screen_dc, VERTRES);
    pair::make_cell(stack::arguments, w * 96 / g.dpi_x, h * 96 / g.dpi_y);
}

// --- routines not yet backed by the graphics layer ------------------------

void detach_image_star() {
    ownership::unbind(stack::arguments);
    make_none(stack::arguments);
}

void update_scroller_star() {
    Cell* a = stack::arguments;
    int32_t index = get_integer(a + 1);
    HWND hwnd = face_handle(facet(a, sym.parent));
    if (hwnd) {
        static uint32_t position = symbol::make("position"), page_size = symbol::make("page-size"),
                        max_size = symbol::make("max-size"), vertical_q = symbol::make("vertical?");
        const Cell* v = facet(a, vertical_q);
        int bar = type_of(v) == TYPE_LOGIC && v->data1 ? SB_VERT : SB_HORZ;
        auto integer = [&](uint32_t s) {
            const Cell* c = facet(a, s);
            return type_of(c) == TYPE_INTEGER ? get_integer(c) : 0;
        };
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        // Setting a shown bar to the values it has already costs a redraw of
        // the bar and changes nothing (a console re-sends its bar's values at
        // every drawing; under Wine each redraw costs several milliseconds).
        SCROLLINFO have{};
        have.cbSize = sizeof have;
        have.fMask = SIF_ALL;
        LONG_PTR shown_style = bar == SB_VERT ? WS_VSCROLL : WS_HSCROLL;
        bool known =
            (GetWindowLongPtrW(hwnd, GWL_STYLE) & shown_style) && GetScrollInfo(hwnd, bar, &have);
        if (index == 0) {
            si.fMask = SIF_POS | SIF_DISABLENOSCROLL;
            si.nPos = integer(position);
            if (!known || have.nPos != si.nPos) SetScrollInfo(hwnd, bar, &si, TRUE);
        } else if (index == 1 || index == 3) {
            // The position goes with the range: a bar brought up to date
            // (range, then position) is drawn once, not twice.
            si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
            si.nMin = 1;
            si.nMax = integer(max_size);
            si.nPage = static_cast<UINT>(integer(page_size));
            si.nPos = integer(position);
            if (!known || have.nMin != si.nMin || have.nMax != si.nMax || have.nPage != si.nPage ||
                have.nPos != si.nPos)
                SetScrollInfo(hwnd, bar, &si, TRUE);
        } else if (index == 4) {
            const Cell* shown = facet(a, sym.visible_q);
            ShowScrollBar(hwnd, bar, type_of(shown) == TYPE_LOGIC && shown->data1);
        }
    }
    make_none(stack::arguments);
}

namespace {

// send-event runs its Mox body here: its native body sends through the
// null back end.
void registered() { install_face_capture(); }

} // namespace

const Backend backend = {
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
    &registered,
    &dx_start_device,
    &dx_settle_start,
    true,
};

} // namespace mox::gui::win
