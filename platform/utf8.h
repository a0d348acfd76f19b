// The UTF-8 encoder of every layer. It lives here, below the runtime, because
// the POSIX layer's own wide-string conversions need it as much as the
// runtime does; it needs nothing itself, and is constexpr so that tables
// built at compile time (the URL escapes) use it too.
#pragma once

#include <cstdint>

namespace mox::platform {

// Writes the 1-4 bytes of cp, which must not exceed U+10FFFF, and returns
// their number. Surrogates are encoded like any other code point: a string
// may hold one, and whether it may reach the outside is the caller's call,
// as is what a larger value means.
template <typename Byte> constexpr int encode_utf8(uint32_t cp, Byte* out) {
    if (cp < 0x80) {
        out[0] = static_cast<Byte>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<Byte>(0xC0 | cp >> 6);
        out[1] = static_cast<Byte>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<Byte>(0xE0 | cp >> 12);
        out[1] = static_cast<Byte>(0x80 | (cp >> 6 & 0x3F));
        out[2] = static_cast<Byte>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<Byte>(0xF0 | cp >> 18);
    out[1] = static_cast<Byte>(0x80 | (cp >> 12 & 0x3F));
    out[2] = static_cast<Byte>(0x80 | (cp >> 6 & 0x3F));
    out[3] = static_cast<Byte>(0x80 | (cp & 0x3F));
    return 4;
}

} // namespace mox::platform
