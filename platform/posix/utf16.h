// UTF-16 <-> UTF-8 for the POSIX layer, whose system calls take UTF-8 while
// the platform interface speaks UTF-16. Unpaired surrogates and malformed
// UTF-8 become U+FFFD, so every input converts.
#pragma once

#include <string>

namespace mox::platform::posix {

std::string to_utf8(const char16_t* text);
std::string to_utf8(const char16_t* text, size_t count);
std::u16string to_utf16(const char* text);

} // namespace mox::platform::posix
