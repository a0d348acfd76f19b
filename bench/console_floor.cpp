// The floor under the GUI console's printing: the same screens drawn at the
// same points with Direct2D and DirectWrite, without the language around
// them. A window with the console's client size takes N numbered lines; at
// every 22nd line (the console's redraw batching) and after the last, the
// window is drawn: the background cleared, then one text layout a line for
// the last page of lines, each drawn one row below the other, and the
// window's scroll bar brought to the end of the lines (the console's screen
// has one, moved once a drawing). Messages are pumped after each drawing,
// as the console's loop would. Prints the seconds from the first line to
// the last drawing; "nobar" leaves the scroll bar out:
//
//     console-floor N [WIDTH HEIGHT [nobar]]   ->  S
#include <windows.h>

#include <d2d1.h>
#include <dwrite.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <string>

namespace {

constexpr int kBatch = 22;      // a redraw every 22nd printed line
constexpr float kPadLeft = 3;   // the console's left margin
constexpr float kFontSize = 11; // points, the console's default font

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_PAINT) {
        ValidateRect(hwnd, nullptr);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

template <class T> void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int n = argc > 1 ? _wtoi(argv[1]) : 10000;
    const int width = argc > 3 ? _wtoi(argv[2]) : 641;
    const int height = argc > 3 ? _wtoi(argv[3]) : 481;
    const bool bar = !(argc > 4 && std::wcscmp(argv[4], L"nobar") == 0);
    const DWORD style = WS_OVERLAPPEDWINDOW | (bar ? WS_VSCROLL : 0);

    WNDCLASSW wc{};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ConsoleFloor";
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    RegisterClassW(&wc);
    RECT rc{0, 0, width, height};
    AdjustWindowRect(&rc, WS_OVERLAPPEDWINDOW, FALSE);
    if (bar) rc.right += GetSystemMetrics(SM_CXVSCROLL);
    HWND hwnd = CreateWindowW(L"ConsoleFloor", L"Console floor", style, 50, 50, rc.right - rc.left,
                              rc.bottom - rc.top, nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    pump();

    ID2D1Factory* factory = nullptr;
    IDWriteFactory* dwrite = nullptr;
    ID2D1HwndRenderTarget* target = nullptr;
    ID2D1SolidColorBrush* ink = nullptr;
    IDWriteTextFormat* format = nullptr;
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                                 reinterpret_cast<void**>(&factory))) ||
        FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                   reinterpret_cast<IUnknown**>(&dwrite))) ||
        FAILED(factory->CreateHwndRenderTarget(
            D2D1::RenderTargetProperties(),
            D2D1::HwndRenderTargetProperties(hwnd, D2D1::SizeU(width, height)), &target)) ||
        FAILED(target->CreateSolidColorBrush(D2D1::ColorF(0, 0, 0), &ink)) ||
        FAILED(dwrite->CreateTextFormat(L"Consolas", nullptr, DWRITE_FONT_WEIGHT_NORMAL,
                                        DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                        kFontSize * 96 / 72, L"en-us", &format))) {
        std::fputs("console-floor: no Direct2D or DirectWrite\n", stderr);
        return 1;
    }
    // The row height the layouts report, as the console measures it.
    float row = 17;
    {
        IDWriteTextLayout* probe = nullptr;
        if (SUCCEEDED(dwrite->CreateTextLayout(L"XXXXXXXXXX", 10, format, 1e6f, 1e6f, &probe))) {
            DWRITE_TEXT_METRICS m{};
            if (SUCCEEDED(probe->GetMetrics(&m)) && m.height > 0)
                row = static_cast<float>(static_cast<int>(m.height));
            probe->Release();
        }
    }
    const int page = static_cast<int>(height / row);
    const float box_width = static_cast<float>(width - 20);

    std::deque<std::wstring> lines;
    auto draw = [&] {
        if (bar) {
            SCROLLINFO si{};
            si.cbSize = sizeof si;
            si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
            si.nMin = 1;
            si.nMax = static_cast<int>(lines.size());
            si.nPage = static_cast<UINT>(page);
            si.nPos = std::max(1, si.nMax - page + 1);
            SetScrollInfo(hwnd, SB_VERT, &si, TRUE);
        }
        target->BeginDraw();
        target->Clear(D2D1::ColorF(252 / 255.0f, 252 / 255.0f, 252 / 255.0f));
        size_t first = lines.size() > static_cast<size_t>(page) ? lines.size() - page : 0;
        float y = 0;
        for (size_t i = first; i < lines.size(); i++) {
            IDWriteTextLayout* layout = nullptr;
            const std::wstring& s = lines[i];
            if (SUCCEEDED(dwrite->CreateTextLayout(s.c_str(), static_cast<UINT32>(s.size()), format,
                                                   box_width, row, &layout))) {
                target->DrawTextLayout(D2D1::Point2F(kPadLeft, y), layout, ink);
                layout->Release();
            }
            y += row;
        }
        target->EndDraw();
        pump();
    };

    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    for (int i = 1; i <= n; i++) {
        lines.push_back(std::to_wstring(i));
        if (lines.size() > 1000) lines.pop_front(); // the console keeps 1000 lines
        if (i % kBatch == 0) draw();
    }
    if (n % kBatch != 0) draw();
    QueryPerformanceCounter(&t1);
    std::printf("%.4f\n", static_cast<double>(t1.QuadPart - t0.QuadPart) / f.QuadPart);

    release(format);
    release(ink);
    release(target);
    release(dwrite);
    release(factory);
    DestroyWindow(hwnd);
    return 0;
}
