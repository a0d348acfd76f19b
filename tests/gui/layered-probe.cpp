// Reads back, through Win32, every window of the process that owns the
// top-level window with the given title, and acts on that window as the
// layered-window tests need.
//
//     layered-probe list TITLE
//         window HWND CLASS X Y W H parent HWND owner HWND style HEX exstyle HEX visible 0|1
//             region X1 Y1 X2 Y2
//         (screen rectangles; top-level windows first, each followed by its
//         children depth first; 0 for no parent or owner; the window
//         region's bounds, -1 -1 -1 -1 without one) and last
//         origin X Y client W H (the titled window's client area)
//     layered-probe char TITLE C      posts WM_CHAR C to the window
//     layered-probe rect TITLE MESSAGE WPARAM X Y W H
//         sends the message (WM_DPICHANGED, WM_MOVING, WM_SIZING: numbers)
//         with a pointer to the rectangle, written into the owning process
//         first (the system may not carry the rectangle across processes
//         for these messages)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

DWORD target_pid = 0;

std::string utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

void print_window(HWND hwnd) {
    wchar_t cls[128] = {0};
    GetClassNameW(hwnd, cls, 128);
    RECT r;
    GetWindowRect(hwnd, &r);
    RECT region{0, 0, 0, 0};
    bool clipped = GetWindowRgnBox(hwnd, &region) != ERROR;
    std::printf("window %p %s %ld %ld %ld %ld parent %p owner %p style %08lx exstyle %08lx "
                "visible %d region %ld %ld %ld %ld\n",
                static_cast<void*>(hwnd), utf8(cls).c_str(), r.left, r.top, r.right - r.left,
                r.bottom - r.top,
                static_cast<void*>(GetAncestor(hwnd, GA_PARENT) == GetDesktopWindow()
                                       ? nullptr
                                       : GetAncestor(hwnd, GA_PARENT)),
                static_cast<void*>(GetWindow(hwnd, GW_OWNER)),
                static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_EXSTYLE)),
                IsWindowVisible(hwnd) ? 1 : 0, clipped ? region.left : -1L,
                clipped ? region.top : -1L, clipped ? region.right : -1L,
                clipped ? region.bottom : -1L);
}

BOOL CALLBACK each_child(HWND hwnd, LPARAM) {
    print_window(hwnd);
    return TRUE;
}

BOOL CALLBACK each_top(HWND hwnd, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != target_pid) return TRUE;
    wchar_t cls[128] = {0};
    GetClassNameW(hwnd, cls, 128);
    if (std::wcsncmp(cls, L"Mox", 3) != 0) return TRUE;
    print_window(hwnd);
    EnumChildWindows(hwnd, &each_child, 0);
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: layered-probe list|char|rect TITLE ...\n");
        return 2;
    }
    SetProcessDPIAware();
    std::wstring command = argv[1];
    HWND hwnd = FindWindowW(nullptr, argv[2]);
    if (!hwnd) {
        std::printf("none\n");
        return 1;
    }
    GetWindowThreadProcessId(hwnd, &target_pid);
    if (command == L"list") {
        EnumWindows(&each_top, 0);
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        RECT client;
        GetClientRect(hwnd, &client);
        std::printf("origin %ld %ld client %ld %ld\n", origin.x, origin.y, client.right,
                    client.bottom);
    } else if (command == L"char" && argc > 3) {
        PostMessageW(hwnd, WM_CHAR, argv[3][0], 1);
    } else if (command == L"rect" && argc > 8) {
        UINT msg = static_cast<UINT>(_wtoi(argv[3]));
        WPARAM wparam = static_cast<WPARAM>(_wtoi(argv[4]));
        RECT rect{_wtoi(argv[5]), _wtoi(argv[6]), _wtoi(argv[5]) + _wtoi(argv[7]),
                  _wtoi(argv[6]) + _wtoi(argv[8])};
        HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, target_pid);
        void* remote = process ? VirtualAllocEx(process, nullptr, sizeof rect,
                                                MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)
                               : nullptr;
        if (!remote || !WriteProcessMemory(process, remote, &rect, sizeof rect, nullptr)) {
            std::printf("cannot write the rectangle\n");
            return 1;
        }
        // Whether the system copies the rectangle from this process or
        // hands the address on, the same rectangle is found there.
        if (void* local =
                VirtualAlloc(remote, sizeof rect, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
            std::memcpy(local, &rect, sizeof rect);
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(hwnd, msg, wparam, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG,
                            20000, &answer);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        CloseHandle(process);
        std::printf("sent\n");
    } else {
        std::fprintf(stderr, "unknown command\n");
        return 2;
    }
    std::fflush(stdout);
    return 0;
}
