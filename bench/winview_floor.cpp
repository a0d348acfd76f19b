// The floor under `view` of many faces: the Win32 calls the back end makes
// for a window of n buttons, without the language around them. Registers a
// top-level class and a superclass of BUTTON with a pointer slot, makes the
// window and n buttons (text, font, shown), moves every button once, then
// destroys the window, pumping messages after each phase as the back end's
// loop would. Prints the seconds of each phase:
//
//     winview-floor N      ->  view S update S unview S
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

WNDPROC button_proc = nullptr;
int slot = 0;

struct Record {
    int face;
};

LRESULT CALLBACK top_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK button_superproc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrW(hwnd, slot, reinterpret_cast<LONG_PTR>(new Record{1}));
    LRESULT r = CallWindowProcW(button_proc, hwnd, msg, wparam, lparam);
    if (msg == WM_NCDESTROY) delete reinterpret_cast<Record*>(GetWindowLongPtrW(hwnd, slot));
    return r;
}

void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

double now() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(freq.QuadPart);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    int n = argc > 1 ? _wtoi(argv[1]) : 1000;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof icc, 0x413D};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = &top_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.lpszClassName = L"FloorWindow";
    RegisterClassExW(&wc);
    WNDCLASSEXW bc{};
    bc.cbSize = sizeof bc;
    GetClassInfoExW(nullptr, L"BUTTON", &bc);
    bc.cbSize = sizeof bc;
    button_proc = bc.lpfnWndProc;
    bc.lpfnWndProc = &button_superproc;
    slot = (bc.cbWndExtra + static_cast<int>(sizeof(LONG_PTR)) - 1) &
           ~(static_cast<int>(sizeof(LONG_PTR)) - 1);
    bc.cbWndExtra = slot + static_cast<int>(sizeof(LONG_PTR));
    bc.hInstance = instance;
    bc.lpszClassName = L"FloorButton";
    RegisterClassExW(&bc);
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

    double t0 = now();
    RECT r{0, 0, 800, 600};
    DWORD style = WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRectEx(&r, style, FALSE, 0);
    HWND top = CreateWindowExW(0, L"FloorWindow", L"floor", style, 10, 10, r.right - r.left,
                               r.bottom - r.top, nullptr, nullptr, instance, nullptr);
    std::vector<HWND> buttons;
    for (int i = 0; i < n; i++) {
        HWND b = CreateWindowExW(
            0, L"FloorButton", L"b", WS_CHILD | WS_CLIPSIBLINGS | WS_VISIBLE | BS_MULTILINE,
            (i % 40) * 20, (i / 40) * 20, 18, 18, top, nullptr, instance, nullptr);
        BringWindowToTop(b);
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
        buttons.push_back(b);
    }
    ShowWindow(top, SW_SHOWDEFAULT);
    UpdateWindow(top);
    SetForegroundWindow(top);
    pump();
    double t1 = now();
    for (int i = 0; i < n; i++)
        SetWindowPos(buttons[i], nullptr, (i % 40) * 20 + 1, (i / 40) * 20, 0, 0,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
    pump();
    double t2 = now();
    SetWindowPos(top, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_HIDEWINDOW);
    DestroyWindow(top);
    pump();
    double t3 = now();
    std::printf("view %.4f update %.4f unview %.4f\n", t1 - t0, t2 - t1, t3 - t2);
    return 0;
}
