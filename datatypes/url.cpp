// url!: percent-decoding and -encoding of URL and file text, the
// percent-encoded mold, URLs built from blocks and path joining.
#include "datatypes/url.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/context.h"
#include "core/datatype.h"
#include "core/evaluator-hooks.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/port.h"
#include "datatypes/string.h"
#include "platform/utf8.h"

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
constexpr bool escaped_ascii(uint8_t c) {
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

constexpr bool strict_char_q(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The escaped text of every one-byte character (code points 0-255) under
// one table: the character itself when kept, else its UTF-8 bytes as %XX
// escapes (two of them from 128 on). Texts are padded to 8 bytes so that a
// writer may copy 8 at a time.
struct Escapes {
    uint8_t length[256]{};
    uint8_t text[256][8]{};
};
constexpr Escapes make_escapes(bool url) {
    Escapes e;
    for (int c = 0; c < 256; c++) {
        const bool kept = c < 128 && (url ? !escaped_ascii(static_cast<uint8_t>(c))
                                          : strict_char_q(static_cast<uint8_t>(c)));
        if (kept) {
            e.text[c][0] = static_cast<uint8_t>(c);
            e.length[c] = 1;
            continue;
        }
        uint8_t bytes[4] = {};
        const int n = platform::encode_utf8(static_cast<uint32_t>(c), bytes);
        for (int k = 0; k < n; k++) {
            e.text[c][3 * k] = '%';
            e.text[c][3 * k + 1] = static_cast<uint8_t>(kHexDigits[bytes[k] >> 4]);
            e.text[c][3 * k + 2] = static_cast<uint8_t>(kHexDigits[bytes[k] & 15]);
        }
        e.length[c] = static_cast<uint8_t>(3 * n);
    }
    return e;
}
constexpr Escapes kStrictEscapes = make_escapes(false);
constexpr Escapes kUrlEscapes = make_escapes(true);

// The characters one UTF-8 byte becomes.
inline uint32_t escaped_length(const Escapes& e, uint8_t b) { return b < 128 ? e.length[b] : 3; }

// Calls put with each UTF-8 byte of the n characters at p (units of the
// given width) until put answers false.
template <typename Put>
void for_each_utf8_byte(const uint8_t* p, uint32_t unit, uint32_t n, Put put) {
    for (uint32_t i = 0; i < n; i++) {
        uint8_t bytes[4];
        const uint32_t size = unicode::cp_to_utf8(string::get_char(p + i * unit, unit), bytes);
        for (uint32_t k = 0; k < size; k++)
            if (!put(bytes[k])) return;
    }
}

template <typename U> U unit_at(const uint8_t* p, uint32_t i) {
    U u;
    std::memcpy(&u, p + i * sizeof(U), sizeof(U));
    return u;
}

// The escaped length of n characters of the unit type U.
template <typename U> int64_t measure_chars(const Escapes& e, const uint8_t* p, uint32_t n) {
    int64_t count = 0;
    for (uint32_t i = 0; i < n; i++) {
        const uint32_t cp = unit_at<U>(p, i);
        count += cp < 256 ? e.length[cp] : 3 * unicode::cp_utf8_size(cp);
    }
    return count;
}

// Writes the escaped text of n characters of the unit type U; out has room
// for all of it. Characters from 256 up are escaped byte by byte.
template <typename U>
void write_chars(const Escapes& e, const uint8_t* p, uint32_t n, uint8_t* out, uint8_t* stop) {
    for (uint32_t i = 0; i < n; i++) {
        const uint32_t cp = unit_at<U>(p, i);
        if (cp < 256) {
            // A kept character is stored alone: an 8-byte copy for every
            // character makes each store overlap the last, which costs far
            // more than the branch.
            const uint32_t length = e.length[cp];
            if (length == 1)
                *out = e.text[cp][0];
            else if (stop - out >= 8)
                std::memcpy(out, e.text[cp], 8);
            else
                std::memcpy(out, e.text[cp], length);
            out += length;
            continue;
        }
        uint8_t bytes[4];
        const uint32_t size = unicode::cp_to_utf8(cp, bytes);
        for (uint32_t k = 0; k < size; k++, out += 3) {
            out[0] = '%';
            out[1] = static_cast<uint8_t>(kHexDigits[bytes[k] >> 4]);
            out[2] = static_cast<uint8_t>(kHexDigits[bytes[k] & 15]);
        }
    }
}

int64_t measure(const Escapes& e, const uint8_t* p, uint32_t unit, uint32_t n) {
    switch (unit) {
    case 1:
        return measure_chars<uint8_t>(e, p, n);
    case 2:
        return measure_chars<uint16_t>(e, p, n);
    default:
        return measure_chars<uint32_t>(e, p, n);
    }
}

void write(const Escapes& e, const uint8_t* p, uint32_t unit, uint32_t n, uint8_t* out,
           uint8_t* stop) {
    switch (unit) {
    case 1:
        return write_chars<uint8_t>(e, p, n, out, stop);
    case 2:
        return write_chars<uint16_t>(e, p, n, out, stop);
    default:
        return write_chars<uint32_t>(e, p, n, out, stop);
    }
}

// The formed text of a value appended to out. May collect.
void append_formed(Cell* out, Cell* value) { actions::form(value, out, nullptr, INT32_MAX); }

bool last_char_q(Cell* str, uint32_t cp) {
    const int32_t n = string::ms_length_q(str);
    return n > 0 && string::abs_char_at(str, str->data1 + static_cast<uint32_t>(n - 1)) == cp;
}

// The URL built from the values of a block: scheme://host, then :port when
// the third value is an integer!, then each remaining value after a "/",
// or after a "#" when it is an issue!. May collect.
Cell* from_block(Cell* spec) {
    const int32_t n = block::ms_length_q(spec);
    if (n == 0) {
        Cell dt;
        make_datatype(&dt, TYPE_URL);
        fire(err::bad_to_arg, &dt, spec);
    }
    Cell* out = string::push_new(32);
    Cell* item = stack::push_cell();
    auto at = [&](int32_t i) {
        *item = block::ms_head(spec)[i];
        return item;
    };
    append_formed(out, at(0));
    string::concatenate_literal(out, "://");
    if (n > 1) append_formed(out, at(1));
    int32_t i = 2;
    if (n > 2 && type_of(at(2)) == TYPE_INTEGER) {
        string::append_char(out, ':');
        append_formed(out, at(2));
        i = 3;
    }
    // An issue! right after the host is a fragment too: a "/" before it
    // would make it a path.
    for (; i < n; i++) {
        at(i);
        string::append_char(out, type_of(item) == TYPE_ISSUE ? '#' : '/');
        append_formed(out, item);
    }
    stack::pop(1);
    set_type(out, TYPE_URL);
    return out;
}

bool block_spec_q(uint32_t type, const Cell* spec) {
    const uint32_t st = type_of(spec);
    return type == TYPE_URL && (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH);
}

} // namespace

bool url_char_q(uint8_t byte) { return byte < 128 && !escaped_ascii(byte); }

int32_t encode(Cell* source, Cell* target, int32_t mode, int32_t limit) {
    const Escapes& e = mode == ENCODE_STRICT ? kStrictEscapes : kUrlEscapes;
    const uint32_t n = static_cast<uint32_t>(string::ms_length_q(source));
    const uint32_t unit = string::buffer_of(source)->unit();
    // Without a limit the text goes a character at a time through the
    // escape table; with one, a UTF-8 byte at a time.
    const bool whole = limit == INT32_MAX;
    int64_t count = 0;
    if (whole) {
        count = measure(e, string::ms_head(source), unit, n);
    } else {
        for_each_utf8_byte(string::ms_head(source), unit, n, [&](uint8_t b) {
            if (count >= limit) return false;
            count += escaped_length(e, b);
            return true;
        });
    }
    if (count > INT32_MAX) fire(err::too_long);
    if (count == 0) return 0;
    // The escaped text is ASCII: it goes straight into a one-byte target,
    // through system memory into a wider one.
    std::string wide;
    uint8_t* out;
    if (string::buffer_of(target)->unit() == 1) {
        memory::SeriesBuffer* b = string::buffer_of(target);
        if (b->end() - b->tail_ptr() < count)
            memory::expand_series(b, b->used_bytes() + static_cast<uint32_t>(count));
        out = memory::alloc_tail_bytes(target->data2, static_cast<uint32_t>(count));
    } else {
        wide.resize(static_cast<size_t>(count));
        out = reinterpret_cast<uint8_t*>(wide.data());
    }
    uint8_t* const stop = out + count;
    if (whole) {
        write(e, string::ms_head(source), unit, n, out, stop);
    } else {
        uint8_t* o = out;
        for_each_utf8_byte(string::ms_head(source), unit, n, [&](uint8_t b) {
            if (o >= stop) return false;
            if (b < 128) {
                std::memcpy(o, e.text[b], e.length[b]);
                o += e.length[b];
            } else {
                o[0] = '%';
                o[1] = static_cast<uint8_t>(kHexDigits[b >> 4]);
                o[2] = static_cast<uint8_t>(kHexDigits[b & 15]);
                o += 3;
            }
            return true;
        });
    }
    if (!wide.empty())
        string::append_bytes(target, reinterpret_cast<const uint8_t*>(wide.data()),
                             static_cast<uint32_t>(count));
    return static_cast<int32_t>(count);
}

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

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (block_spec_q(static_cast<uint32_t>(type), spec)) return from_block(spec);
    return string::make(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    if (block_spec_q(static_cast<uint32_t>(type), spec)) return from_block(spec);
    return string::to(proto, spec, type);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return limit - encode(value, buffer, ENCODE_URL, part ? limit : INT32_MAX);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    if (value) {
        Cell none;
        make_none(&none);
        fire(err::bad_path_set, path ? path : &none, element);
    }
    Cell* out = string::push_new(static_cast<uint32_t>(string::ms_length_q(parent)) + 16);
    string::concatenate(out, parent);
    Cell* formed = string::push_new(16);
    append_formed(formed, element);
    const bool slash_before = last_char_q(out, '/');
    const bool slash_after =
        string::ms_length_q(formed) > 0 && string::abs_char_at(formed, formed->data1) == '/';
    if (slash_before && slash_after)
        formed->data1++;
    else if (!slash_before && !slash_after)
        string::append_char(out, '/');
    string::concatenate(out, formed);
    stack::pop(1);
    set_type(out, type_of(parent));
    return out;
}

Cell* to_port(Cell* url) {
    Cell* parts = stack::push_cell();
    const uint32_t parser_symbol = symbol::make("url-parser");
    const uint32_t parse_symbol = symbol::make("parse-url");
    Cell* parser = context::symbol_value(context::global, parser_symbol);
    if (parser && type_of(parser) == TYPE_OBJECT) {
        Cell* fn = object::find_value(parser->data1, parse_symbol);
        if (type_of(fn) == TYPE_FUNCTION) {
            Cell* callee = stack::push(fn);
            Cell* text = string::push_new(static_cast<uint32_t>(string::ms_length_q(url)));
            string::concatenate(text, url);
            set_type(text, TYPE_URL);
            evaluator::call_value(callee, text, 1, parts);
        }
    }
    if (type_of(parts) != TYPE_OBJECT) fire(err::invalid_arg, url);
    return port::make(parts, parts, TYPE_PORT);
}

Cell* open(Cell* url, bool new_, bool read, bool write, bool seek, Cell* allow) {
    Cell* saved = stack::top;
    *url = *actions::open(to_port(url), new_, read, write, seek, allow);
    stack::top = saved;
    return url;
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::inherit_all();
    slots.set<A_MAKE>(&make)
        .set<A_TO>(&to)
        .set<A_MOLD>(&mold)
        .set<A_EVAL_PATH>(&eval_path)
        .set<A_OPEN>(&open);
    // Reading and writing a URL is io's (simple_io::init provides them).
    for (Action a : {A_READ, A_WRITE}) slots.slot[a - 1] = nullptr;
    for (Action a : {A_RANDOM, A_REFLECT, A_PUT, A_SORT, A_TRIM}) slots.slot[a - 1] = nullptr;
    datatype::register_type(TYPE_URL, TYPE_STRING, "url!", slots);
}

} // namespace mox::url
