// Reads back the items of list and combo boxes and the selection of tab
// controls under a top-level window found by its title, which Win32 keeps
// and a script cannot see.
//
//     widget-probe TITLE
//     list CLASS SELECTED COUNT     then one line per item: item TEXT
//     tab CLASS SELECTED COUNT X Y W H (screen rectangle of the control)
//     slider CLASS RANGE-MAX POSITION
//     caret CLASS X Y W H               (the thread's caret, in its window)
//     button CLASS STATE text TEXT      (BM_GETSTATE of a button)
//     edit CLASS START END lines N vscroll 0|1 hscroll 0|1 tab X at X Y W H text TEXT
//         (selection in UTF-16 units, line count, scroll bars shown, the
//         x distance from the first character to the third, the screen
//         rectangle, the text with each line break as "|")
//     scroller POS PAGE MIN MAX X Y W H arrow A
//         (screen rectangle; the system's size of a line button)
//
//     widget-probe TITLE gesture ID X Y ARGUMENT [ID X Y ARGUMENT...]
// sends the window one WM_GESTURE per group, in order, each waiting for
// the window to handle it: gesture ID, the point X Y in its client area
// and the argument packed into the handle (x and y on the screen in bits
// 0-15 and 16-31, the argument in 32-63), as a test run of the program
// reads a handle the system does not know.
//
//     widget-probe TITLE paste N TEXT
// puts N letters on the clipboard, sends WM_PASTE to the edit control
// whose text is TEXT and prints "pasted LENGTH" (its text's length after).
//
//     widget-probe TITLE ime X Y
// posts the child at the client point X Y, in order: the start of an
// input method's composition, a press of the Left key, the end of the
// composition and another press of Left.
//
//     widget-probe TITLE menu
// sends each combo box a menu selection (item 0 of a menu of the probe's)
// and then the command a chosen menu item sends its owner.
#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

std::string utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

BOOL CALLBACK visit(HWND child, LPARAM) {
    wchar_t cls[128] = {0};
    GetClassNameW(child, cls, 128);
    std::wstring name(cls);
    bool list = name == L"MoxListBox", combo = name == L"MoxCombo";
    if (list || combo) {
        UINT count_msg = list ? LB_GETCOUNT : CB_GETCOUNT,
             sel_msg = list ? LB_GETCURSEL : CB_GETCURSEL;
        UINT text_msg = list ? LB_GETTEXT : CB_GETLBTEXT;
        LRESULT count = SendMessageW(child, count_msg, 0, 0);
        std::printf("list %s %ld %ld\n", utf8(cls).c_str(),
                    static_cast<long>(SendMessageW(child, sel_msg, 0, 0)),
                    static_cast<long>(count));
        for (LRESULT i = 0; i < count; i++) {
            wchar_t text[256] = {0};
            SendMessageW(child, text_msg, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            std::printf("item %s\n", utf8(text).c_str());
        }
    } else if (name == L"MoxArea" || name == L"MoxField") {
        DWORD start = 0, end = 0;
        SendMessageW(child, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        LONG style = GetWindowLongW(child, GWL_STYLE);
        LRESULT first = SendMessageW(child, EM_POSFROMCHAR, 0, 0),
                third = SendMessageW(child, EM_POSFROMCHAR, 2, 0);
        // Edit controls answer their text only to WM_GETTEXT.
        wchar_t text[512] = {0};
        DWORD_PTR got = 0;
        SendMessageTimeoutW(child, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 2000, &got);
        std::wstring shown;
        for (const wchar_t* c = text; *c; c++) {
            if (*c == L'\n')
                shown += L'|';
            else if (*c != L'\r')
                shown += *c;
        }
        RECT r;
        GetWindowRect(child, &r);
        std::printf("edit %s %lu %lu lines %ld vscroll %d hscroll %d tab %d at %ld %ld %ld %ld "
                    "text %s\n",
                    utf8(cls).c_str(), start, end,
                    static_cast<long>(SendMessageW(child, EM_GETLINECOUNT, 0, 0)),
                    (style & WS_VSCROLL) ? 1 : 0, (style & WS_HSCROLL) ? 1 : 0,
                    static_cast<short>(LOWORD(third)) - static_cast<short>(LOWORD(first)), r.left,
                    r.top, r.right - r.left, r.bottom - r.top, utf8(shown.c_str()).c_str());
    } else if (name == L"MoxScroller") {
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        si.fMask = SIF_ALL;
        GetScrollInfo(child, SB_CTL, &si);
        RECT r;
        GetWindowRect(child, &r);
        std::printf("scroller %d %u %d %d %ld %ld %ld %ld arrow %d\n", si.nPos, si.nPage, si.nMin,
                    si.nMax, r.left, r.top, r.right - r.left, r.bottom - r.top,
                    GetSystemMetrics(SM_CXVSCROLL));
    } else if (name == L"MoxSlider") {
        std::printf("slider %s %ld %ld\n", utf8(cls).c_str(),
                    static_cast<long>(SendMessageW(child, TBM_GETRANGEMAX, 0, 0)),
                    static_cast<long>(SendMessageW(child, TBM_GETPOS, 0, 0)));
    } else if (name == L"MoxButton") {
        wchar_t text[256] = {0};
        GetWindowTextW(child, text, 256);
        std::printf("button %s %ld text %s\n", utf8(cls).c_str(),
                    static_cast<long>(SendMessageW(child, BM_GETSTATE, 0, 0)), utf8(text).c_str());
    } else if (name == L"MoxTabpanel") {
        RECT r;
        GetWindowRect(child, &r);
        std::printf("tab %s %ld %ld %ld %ld %ld %ld\n", utf8(cls).c_str(),
                    static_cast<long>(SendMessageW(child, TCM_GETCURSEL, 0, 0)),
                    static_cast<long>(SendMessageW(child, TCM_GETITEMCOUNT, 0, 0)), r.left, r.top,
                    r.right - r.left, r.bottom - r.top);
    }
    return TRUE;
}

BOOL CALLBACK find_edit(HWND child, LPARAM found) {
    wchar_t cls[128] = {0}, text[256] = {0};
    GetClassNameW(child, cls, 128);
    std::wstring name(cls);
    if (name != L"MoxArea" && name != L"MoxField") return TRUE;
    DWORD_PTR got = 0;
    SendMessageTimeoutW(child, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        2000, &got);
    auto* wanted = reinterpret_cast<std::pair<const wchar_t*, HWND>*>(found);
    if (std::wstring(text) != wanted->first) return TRUE;
    wanted->second = child;
    return FALSE;
}

int paste(HWND hwnd, int n, const wchar_t* text) {
    std::pair<const wchar_t*, HWND> wanted{text, nullptr};
    EnumChildWindows(hwnd, &find_edit, reinterpret_cast<LPARAM>(&wanted));
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, (static_cast<size_t>(n) + 1) * sizeof(wchar_t));
    if (!wanted.second || !data || !OpenClipboard(nullptr)) {
        std::printf("none\n");
        return 1;
    }
    auto* letters = static_cast<wchar_t*>(GlobalLock(data));
    for (int i = 0; i < n; i++) letters[i] = L'x';
    letters[n] = 0;
    GlobalUnlock(data);
    EmptyClipboard();
    SetClipboardData(CF_UNICODETEXT, data);
    CloseClipboard();
    SendMessageW(wanted.second, WM_PASTE, 0, 0);
    std::printf("pasted %ld\n",
                static_cast<long>(SendMessageW(wanted.second, WM_GETTEXTLENGTH, 0, 0)));
    return 0;
}

BOOL CALLBACK menu_to_combo(HWND child, LPARAM menu) {
    wchar_t cls[128] = {0};
    GetClassNameW(child, cls, 128);
    if (std::wstring(cls) != L"MoxCombo") return TRUE;
    SendMessageW(child, WM_MENUSELECT, MAKEWPARAM(0, MF_STRING), menu);
    SendMessageW(child, WM_COMMAND, 0, 0);
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: widget-probe TITLE\n");
        return 2;
    }
    SetProcessDPIAware();
    HWND hwnd = FindWindowW(nullptr, argv[1]);
    if (!hwnd) {
        std::printf("none\n");
        return 1;
    }
    if (argc > 2 && std::wstring(argv[2]) == L"gesture") {
        for (int i = 3; i + 3 < argc; i += 4) {
            POINT p{_wtoi(argv[i + 1]), _wtoi(argv[i + 2])};
            ClientToScreen(hwnd, &p);
            uint64_t packed = (static_cast<uint64_t>(_wtoi(argv[i + 3])) << 32) |
                              (static_cast<uint64_t>(p.y & 0xFFFF) << 16) |
                              static_cast<uint64_t>(p.x & 0xFFFF);
            SendMessageW(hwnd, WM_GESTURE, static_cast<WPARAM>(_wtoi(argv[i])),
                         static_cast<LPARAM>(packed));
        }
        return 0;
    }
    if (argc > 4 && std::wstring(argv[2]) == L"paste") return paste(hwnd, _wtoi(argv[3]), argv[4]);
    if (argc > 4 && std::wstring(argv[2]) == L"ime") {
        HWND child = ChildWindowFromPoint(hwnd, POINT{_wtoi(argv[3]), _wtoi(argv[4])});
        LPARAM left = 1 | (0x4B << 16) | (1 << 24);
        PostMessageW(child, WM_IME_STARTCOMPOSITION, 0, 0);
        PostMessageW(child, WM_KEYDOWN, VK_LEFT, left);
        PostMessageW(child, WM_IME_ENDCOMPOSITION, 0, 0);
        PostMessageW(child, WM_KEYDOWN, VK_LEFT, left);
        return 0;
    }
    if (argc > 2 && std::wstring(argv[2]) == L"menu") {
        HMENU menu = CreatePopupMenu();
        AppendMenuW(menu, MF_STRING, 1, L"Item");
        EnumChildWindows(hwnd, &menu_to_combo, reinterpret_cast<LPARAM>(menu));
        DestroyMenu(menu);
        return 0;
    }
    if (argc > 7 && std::wstring(argv[2]) == L"dpi") {
        // The window went to a display of another DPI: the new DPI and the
        // rectangle the system suggests.
        WORD dpi = static_cast<WORD>(_wtoi(argv[3]));
        RECT suggested{_wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[4]) + _wtoi(argv[6]),
                       _wtoi(argv[5]) + _wtoi(argv[7])};
        SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        return 0;
    }
    EnumChildWindows(hwnd, &visit, 0);
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &gui) && gui.hwndCaret) {
        wchar_t cls[128] = {0};
        GetClassNameW(gui.hwndCaret, cls, 128);
        RECT r = gui.rcCaret;
        std::printf("caret %s %ld %ld %ld %ld\n", utf8(cls).c_str(), r.left, r.top,
                    r.right - r.left, r.bottom - r.top);
    }
    std::fflush(stdout);
    return 0;
}
