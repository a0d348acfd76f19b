// Reads back what Windows itself knows of a top-level window found by its
// title: the window rectangle, the client size and the client origin on the
// screen, then each child window (depth first) with its class, its
// rectangle relative to its parent's client area, its screen centre, its
// styles, its check state, the extent of its text in the message font and
// its text; then the window that has the keyboard focus. The GUI tests hold
// these against the faces that made the windows.
//
//     win-probe TITLE [TEXT...]
//     window X Y W H client W H origin X Y dpi D style HEX
//     child DEPTH CLASS X Y W H center X Y style HEX exstyle HEX check N extent W H text TEXT
//     focus CLASS text TEXT
//     measure W H TEXT                  (each TEXT's extent in the message font)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

// The text's extent in the system's message font, the font of faces that
// name none: what a face sized from its text was measured as, by another
// route (and another process) than the one that sized it.
SIZE extent_of(const wchar_t* text) {
    SIZE size{0, 0};
    static HFONT font = [] {
        NONCLIENTMETRICSW ncm{};
        ncm.cbSize = sizeof ncm;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
        return CreateFontIndirectW(&ncm.lfMessageFont);
    }();
    if (!font || !*text) return size;
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return size;
}

void print_children(HWND parent, int depth) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[128] = {0}, text[256] = {0};
        DWORD_PTR got = 0;
        GetClassNameW(child, cls, 128);
        // Edit controls answer their text only to WM_GETTEXT.
        SendMessageTimeoutW(child, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 2000, &got);
        RECT r;
        GetWindowRect(child, &r);
        POINT p{r.left, r.top};
        ScreenToClient(parent, &p);
        // Only buttons answer BM_GETCHECK; other classes may give it a meaning.
        LRESULT checked = 0;
        if (SendMessageW(child, WM_GETDLGCODE, 0, 0) & DLGC_BUTTON)
            checked = SendMessageW(child, BM_GETCHECK, 0, 0);
        SIZE extent = extent_of(text);
        std::printf(
            "child %d %s %ld %ld %ld %ld center %ld %ld style %08lx exstyle %08lx check %ld "
            "extent %ld %ld text %s\n",
            depth, utf8(cls).c_str(), p.x, p.y, r.right - r.left, r.bottom - r.top,
            (r.left + r.right) / 2, (r.top + r.bottom) / 2,
            static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
            static_cast<unsigned long>(GetWindowLongW(child, GWL_EXSTYLE)),
            static_cast<long>(checked), extent.cx, extent.cy, utf8(text).c_str());
        print_children(child, depth + 1);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: win-probe TITLE [TEXT...]\n");
        return 2;
    }
    SetProcessDPIAware();
    HWND hwnd = FindWindowW(nullptr, argv[1]);
    if (!hwnd) {
        std::printf("none\n");
        return 1;
    }
    RECT w, c;
    GetWindowRect(hwnd, &w);
    GetClientRect(hwnd, &c);
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    std::printf("window %ld %ld %ld %ld client %ld %ld origin %ld %ld dpi %u style %08lx\n", w.left,
                w.top, w.right - w.left, w.bottom - w.top, c.right, c.bottom, origin.x, origin.y,
                GetDpiForWindow(hwnd), static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_STYLE)));
    print_children(hwnd, 1);
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &gui) && gui.hwndFocus) {
        wchar_t cls[128] = {0}, text[256] = {0};
        DWORD_PTR got = 0;
        GetClassNameW(gui.hwndFocus, cls, 128);
        SendMessageTimeoutW(gui.hwndFocus, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 2000, &got);
        std::printf("focus %s text %s\n", utf8(cls).c_str(), utf8(text).c_str());
    }
    for (int i = 2; i < argc; i++) {
        SIZE size = extent_of(argv[i]);
        std::printf("measure %ld %ld %s\n", size.cx, size.cy, utf8(argv[i]).c_str());
    }
    std::fflush(stdout);
    return 0;
}
