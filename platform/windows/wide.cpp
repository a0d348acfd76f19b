// UTF-16 <-> UTF-8 conversion for the Windows layer (see wide.h).
#include "platform/windows/wide.h"

#include <windows.h>

namespace mox::platform::windows {

std::string to_utf8(const char16_t* text, size_t count) {
    if (!count) return {};
    auto wide = reinterpret_cast<const wchar_t*>(text);
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(count), nullptr, 0, nullptr,
                                nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(count), out.data(), n, nullptr, nullptr);
    return out;
}

std::string to_utf8(const char16_t* text) {
    return to_utf8(text, std::char_traits<char16_t>::length(text));
}

std::u16string to_utf16(const char* text, size_t count) {
    if (!count) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(count), nullptr, 0);
    std::u16string out(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(count),
                        reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

} // namespace mox::platform::windows
