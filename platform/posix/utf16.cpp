// UTF-16 <-> UTF-8 conversion for the POSIX layer (see utf16.h).
#include "platform/posix/utf16.h"

#include <cstdint>

#include "platform/utf8.h"

namespace mox::platform::posix {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void append_utf8(std::string& out, char32_t cp) {
    char bytes[4];
    out.append(bytes, static_cast<size_t>(encode_utf8(cp, bytes)));
}

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    }
}

// Decodes one sequence at s (NUL-terminated); advances s past what it used.
char32_t decode_utf8(const unsigned char*& s) {
    unsigned char b = *s++;
    if (b < 0x80) return b;
    int extra;
    char32_t cp, min;
    if (b >= 0xC2 && b <= 0xDF) {
        extra = 1, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        extra = 2, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        extra = 3, cp = b & 0x07, min = 0x10000;
    } else {
        return kReplacement;
    }
    for (int i = 0; i < extra; i++) {
        if ((*s & 0xC0) != 0x80) return kReplacement; // the NUL stops here too
        cp = cp << 6 | (*s++ & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
    return cp;
}

} // namespace

std::string to_utf8(const char16_t* text, size_t count) {
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; i++) {
        char32_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = kReplacement;
        }
        append_utf8(out, u);
    }
    return out;
}

std::string to_utf8(const char16_t* text) {
    size_t n = 0;
    while (text[n]) n++;
    return to_utf8(text, n);
}

std::u16string to_utf16(const char* text) {
    std::u16string out;
    auto s = reinterpret_cast<const unsigned char*>(text);
    while (*s) append_utf16(out, decode_utf8(s));
    return out;
}

} // namespace mox::platform::posix
