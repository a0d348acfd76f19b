// UTF-16 <-> UTF-8 for the Windows layer, through the system's converters.
// Invalid input converts to U+FFFD rather than failing.
#pragma once

#include <string>

namespace mox::platform::windows {

std::string to_utf8(const char16_t* text, size_t count);
std::string to_utf8(const char16_t* text);
std::u16string to_utf16(const char* text, size_t count);

} // namespace mox::platform::windows
