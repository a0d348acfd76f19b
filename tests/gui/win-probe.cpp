// Reads back what Windows itself knows of a top-level window found by its
// title: the window rectangle, the client size and the client origin on the
// screen, then each child window (depth first) with its class, its
// rectangle relative to its parent's client area, its screen centre, its
// styles and its text. The GUI tests hold these against the faces that made
// the windows.
//
//     win-probe TITLE
//     window X Y W H client W H origin X Y dpi D
//     child DEPTH CLASS X Y W H center X Y style HEX exstyle HEX text TEXT
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
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
        std::printf(
            "child %d %s %ld %ld %ld %ld center %ld %ld style %08lx exstyle %08lx text %s\n", depth,
            utf8(cls).c_str(), p.x, p.y, r.right - r.left, r.bottom - r.top, (r.left + r.right) / 2,
            (r.top + r.bottom) / 2, static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
            static_cast<unsigned long>(GetWindowLongW(child, GWL_EXSTYLE)), utf8(text).c_str());
        print_children(child, depth + 1);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: win-probe TITLE\n");
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
    std::printf("window %ld %ld %ld %ld client %ld %ld origin %ld %ld dpi %u\n", w.left, w.top,
                w.right - w.left, w.bottom - w.top, c.right, c.bottom, origin.x, origin.y,
                GetDpiForWindow(hwnd));
    print_children(hwnd, 1);
    std::fflush(stdout);
    return 0;
}
