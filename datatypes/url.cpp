// url!: percent-decoding of URL and file text, and the percent-encoded mold.
#include "datatypes/url.h"

#include <string>
#include <vector>

#include "core/datatype.h"
#include "core/unicode.h"
#include "datatypes/string.h"
#include "io/http.h"

namespace mox::url {

namespace {

int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte of a "%XX" escape at p, or -1 when there is none.
int escape_at(const uint8_t* p, const uint8_t* end) {
    if (end - p < 3 || p[0] != '%') return -1;
    int high = hex_value(p[1]), low = hex_value(p[2]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

uint32_t sequence_length(uint8_t lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

// The URL table's escaped ASCII: control characters, space and " % ; < > [
// \ ] ^ ` { | } and DEL.
bool escaped_ascii(uint8_t c) {
    if (c < 33 || c == 127) return true;
    switch (c) {
    case '"':
    case '%':
    case ';':
    case '<':
    case '>':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
        return true;
    default:
        return false;
    }
}

} // namespace

bool url_char_q(uint8_t byte) { return byte < 128 && !escaped_ascii(byte); }

// Code points are gathered before anything is appended, so the text may lie
// in a series buffer.
void decode_utf8(const uint8_t* text, size_t length, Cell* target) {
    std::vector<uint32_t> points;
    const uint8_t* p = text;
    const uint8_t* end = text + length;
    while (p < end) {
        int byte = escape_at(p, end);
        if (byte >= 0) {
            uint32_t n = sequence_length(static_cast<uint8_t>(byte));
            uint8_t bytes[4] = {static_cast<uint8_t>(byte), 0, 0, 0};
            uint32_t k = 1;
            for (; k < n; k++) {
                int next = escape_at(p + 3 * k, end);
                if (next < 0) break;
                bytes[k] = static_cast<uint8_t>(next);
            }
            if (k == n) {
                // Malformed escaped UTF-8 raises invalid-utf8 here.
                uint32_t available = n;
                int32_t cp = unicode::decode_utf8_char(bytes, &available);
                points.push_back(static_cast<uint32_t>(cp < 0 ? bytes[0] : cp));
                p += 3 * n;
                continue;
            }
        }
        uint32_t available = static_cast<uint32_t>(end - p);
        int32_t cp = unicode::decode_utf8_char(p, &available);
        if (cp < 0) {
            // A sequence cut by the end of the text: its bytes as they are.
            points.push_back(*p++);
            continue;
        }
        points.push_back(static_cast<uint32_t>(cp));
        p += available;
    }
    if (!points.empty()) string::append_chars(target, points.data(), points.size());
}

void decode(Cell* source, Cell* target) {
    int32_t length = -1;
    const char* utf8 = unicode::to_utf8(source, &length);
    std::string bytes(utf8, static_cast<size_t>(length));
    decode_utf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), target);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    int32_t length = -1;
    const char* utf8 = unicode::to_utf8(value, &length);
    std::string bytes(utf8, static_cast<size_t>(length));
    static const char kHex[] = "0123456789ABCDEF";
    std::vector<uint32_t> out;
    for (unsigned char c : bytes) {
        if (part && static_cast<int32_t>(out.size()) >= limit) break;
        if (url_char_q(c)) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(static_cast<uint8_t>(kHex[c >> 4]));
            out.push_back(static_cast<uint8_t>(kHex[c & 15]));
        }
    }
    if (!out.empty()) string::append_chars(buffer, out.data(), out.size());
    return limit - static_cast<int32_t>(out.size());
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::inherit_all();
    slots.set<A_MOLD>(&mold).set<A_READ>(&read).set<A_WRITE>(&write);
    // Path joining and open come with the network services; make and to
    // from text are string!'s meanwhile.
    for (Action a : {A_EVAL_PATH, A_RANDOM, A_REFLECT, A_PUT, A_SORT, A_TRIM})
        slots.slot[a - 1] = nullptr;
    datatype::register_type(TYPE_URL, TYPE_STRING, "url!", slots);
}

} // namespace mox::url
