// Standard output, standard error and the console device on Windows. The
// handles are read at every use, so a handle replaced after start-up (a
// console attached later, a redirection made by a test) is honoured.
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/windows/wide.h"

namespace mox::platform {

namespace {

HANDLE out() { return GetStdHandle(STD_OUTPUT_HANDLE); }

bool is_console(HANDLE h) {
    DWORD mode;
    return h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

// Bytes are UTF-8. A console gets them as UTF-16, since it would read bytes
// in its own code page; anything else gets them as they are. Failures are
// not reported: output to a closed handle is lost.
void write_handle(HANDLE h, const void* bytes, size_t count) {
    if (!h || h == INVALID_HANDLE_VALUE || !count) return;
    if (is_console(h)) {
        std::u16string wide = windows::to_utf16(static_cast<const char*>(bytes), count);
        DWORD written;
        WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    auto p = static_cast<const char*>(bytes);
    while (count) {
        DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(h, p, chunk, &written, nullptr) || !written) return;
        p += written;
        count -= written;
    }
}

void device_write(const char16_t* units, size_t count) {
    DWORD written;
    WriteConsoleW(out(), units, static_cast<DWORD>(count), &written, nullptr);
}

bool device_info(ScreenInfo* s) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(out(), &info)) return false;
    *s = ScreenInfo{info.dwSize.X,
                    info.dwSize.Y,
                    info.dwCursorPosition.X,
                    info.dwCursorPosition.Y,
                    info.wAttributes,
                    info.srWindow.Left,
                    info.srWindow.Top,
                    info.srWindow.Right,
                    info.srWindow.Bottom,
                    info.dwMaximumWindowSize.X,
                    info.dwMaximumWindowSize.Y};
    return true;
}

void device_cursor(int x, int y) {
    SetConsoleCursorPosition(out(), COORD{static_cast<SHORT>(x), static_cast<SHORT>(y)});
}

void device_attribute(uint16_t attribute) { SetConsoleTextAttribute(out(), attribute); }

void device_fill(int x, int y, uint32_t count, uint16_t attribute) {
    COORD at{static_cast<SHORT>(x), static_cast<SHORT>(y)};
    DWORD done;
    FillConsoleOutputCharacterW(out(), L' ', count, at, &done);
    FillConsoleOutputAttribute(out(), attribute, count, at, &done);
}

constexpr ConsoleDevice kDevice{device_write, device_info, device_cursor, device_attribute,
                                device_fill};

} // namespace

bool stdout_is_console() { return is_console(out()); }

void write_stdout(const void* bytes, size_t count) { write_handle(out(), bytes, count); }
void write_stderr(const void* bytes, size_t count) {
    write_handle(GetStdHandle(STD_ERROR_HANDLE), bytes, count);
}

const ConsoleDevice& console_device() { return kDevice; }

} // namespace mox::platform
