// Environment variables and the current directory on Windows.
#include <windows.h>

#include <cstdlib>

#include "platform/platform.h"

namespace mox::platform {

namespace {

const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

} // namespace

char16_t* get_current_dir(int* length) {
    // The size can change between the two calls (another thread or a
    // callback changing directory): ask again until it fits.
    for (DWORD size = GetCurrentDirectoryW(0, nullptr); size;) {
        auto* buf = static_cast<char16_t*>(std::malloc(size * sizeof(char16_t)));
        if (!buf) return nullptr;
        DWORD n = GetCurrentDirectoryW(size, reinterpret_cast<wchar_t*>(buf));
        if (n && n < size) {
            if (length) *length = static_cast<int>(n);
            return buf;
        }
        std::free(buf);
        size = n;
    }
    return nullptr;
}

bool set_current_dir(const char16_t* path) { return SetCurrentDirectoryW(wide(path)) != 0; }

bool set_env(const char16_t* name, const char16_t* value) {
    return SetEnvironmentVariableW(wide(name), value ? wide(value) : nullptr) != 0;
}

int get_env(const char16_t* name, char16_t* buf, int size) {
    return static_cast<int>(GetEnvironmentVariableW(wide(name), reinterpret_cast<wchar_t*>(buf),
                                                    static_cast<DWORD>(size)));
}

} // namespace mox::platform
