// Character encodings and case (see unicode.h): the UTF-8 automaton and the
// validating decoder, the loaders that turn UTF-8, UTF-16 and Windows-1251
// text into string series, the encoders that give strings to the system,
// in-place widening of string buffers, case mapping and display widths.
#include "core/unicode.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

#include "core/collector.h"
#include "core/value.h"
#include "platform/utf8.h"

namespace mox::unicode {

// UTF-16 and UCS-2 units are read and written in the machine's order, which
// must be the little-endian order the system expects.
static_assert(std::endian::native == std::endian::little);

using memory::SeriesBuffer;

namespace {

// ---------------------------------------------------------------------------
// The UTF-8 automaton
// ---------------------------------------------------------------------------

// Bytes fall into twelve classes and the automaton has nine states, each a
// multiple of 12 so that state + class indexes the transition row directly.
// Class of a byte: 0 ASCII; 1 continuation 80-8F, 9 continuation 90-9F, 7
// continuation A0-BF; 2 lead C2-DF; 10 E0, 3 E1-EC and EE-EF, 4 ED; 11 F0, 6
// F1-F3, 5 F4; 8 never valid (C0, C1, F5-FF). Splitting the continuation
// bytes in three lets the states after E0, ED, F0 and F4 refuse overlong
// forms, surrogates and code points above U+10FFFF.
constexpr uint32_t ACCEPT = 0;
constexpr uint32_t REJECT = 12;
constexpr uint32_t NEED1 = 24;    // one continuation byte left
constexpr uint32_t NEED2 = 36;    // two left
constexpr uint32_t AFTER_E0 = 48; // A0-BF, then one more
constexpr uint32_t AFTER_ED = 60; // 80-9F, then one more
constexpr uint32_t AFTER_F0 = 72; // 90-BF, then two more
constexpr uint32_t NEED3 = 84;    // three left (after F1-F3)
constexpr uint32_t AFTER_F4 = 96; // 80-8F, then two more
constexpr uint32_t DFA_STATES = 9;

struct Automaton {
    uint8_t table[256 + DFA_STATES * 12]; // byte classes, then transitions
};

constexpr uint8_t byte_class(uint32_t b) {
    if (b < 0x80) return 0;
    if (b < 0x90) return 1;
    if (b < 0xA0) return 9;
    if (b < 0xC0) return 7;
    if (b < 0xC2) return 8;
    if (b < 0xE0) return 2;
    if (b == 0xE0) return 10;
    if (b == 0xED) return 4;
    if (b < 0xF0) return 3;
    if (b == 0xF0) return 11;
    if (b < 0xF4) return 6;
    if (b == 0xF4) return 5;
    return 8;
}

constexpr Automaton build_automaton() {
    Automaton a{};
    for (uint32_t b = 0; b < 256; b++) a.table[b] = byte_class(b);
    uint8_t* t = a.table + 256;
    for (uint32_t i = 0; i < DFA_STATES * 12; i++) t[i] = REJECT;
    auto on = [t](uint32_t state, uint32_t cls, uint32_t next) { t[state + cls] = next; };
    on(ACCEPT, 0, ACCEPT);
    on(ACCEPT, 2, NEED1);
    on(ACCEPT, 3, NEED2);
    on(ACCEPT, 4, AFTER_ED);
    on(ACCEPT, 5, AFTER_F4);
    on(ACCEPT, 6, NEED3);
    on(ACCEPT, 10, AFTER_E0);
    on(ACCEPT, 11, AFTER_F0);
    for (uint32_t cls : {1u, 7u, 9u}) {
        on(NEED1, cls, ACCEPT);
        on(NEED2, cls, NEED1);
        on(NEED3, cls, NEED2);
    }
    on(AFTER_E0, 7, NEED1);
    on(AFTER_ED, 1, NEED1);
    on(AFTER_ED, 9, NEED1);
    on(AFTER_F0, 9, NEED2);
    on(AFTER_F0, 7, NEED2);
    on(AFTER_F4, 1, NEED2);
    return a;
}

constexpr Automaton utf8_dfa = build_automaton();

// Spot checks against the published form of the tables.
static_assert(utf8_dfa.table[0xC2] == 2 && utf8_dfa.table[0xED] == 4 && utf8_dfa.table[0xFF] == 8);
static_assert(utf8_dfa.table[256 + ACCEPT + 5] == AFTER_F4 &&
              utf8_dfa.table[256 + NEED3 + 9] == NEED2);

// One character of possibly malformed text: the bytes the automaton takes
// before it accepts or rejects, never past end, and never the byte that makes
// it reject unless that is the first one.
inline const uint8_t* next_char(const uint8_t* p, const uint8_t* end) {
    const uint8_t* t = utf8_dfa.table;
    uint32_t state = t[256 + t[*p++]];
    while (state > REJECT && p < end) {
        uint32_t next = t[256 + state + t[*p]];
        if (next == REJECT) break;
        state = next;
        p++;
    }
    return p;
}

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------

[[noreturn]] void bad_char(uint32_t cp) {
    Cell c;
    make_char(&c, cp);
    fire(err::invalid_char, &c);
}

// invalid-utf8 with the bytes at the failing position. The bytes are copied
// before the binary is made: they may lie in a buffer that allocation moves.
[[noreturn]] void bad_utf8(const uint8_t* p, uint32_t available) {
    uint8_t bytes[4];
    uint32_t n = std::min(available, 4u);
    std::memcpy(bytes, p, n);
    node_t node = memory::alloc_bytes(n);
    SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), bytes, n);
    b->tail = b->head + n;
    Cell binary{TYPE_BINARY, 0, node, 0};
    collector::Root keep(&binary);
    fire(err::invalid_utf8, &binary);
}

[[noreturn]] void too_large() { fire(err::no_memory); }

// Byte sizes handed to the memory manager must stay below its limit.
inline uint32_t checked_bytes(uint64_t n) {
    if (n > 0x7FF00000u) too_large();
    return static_cast<uint32_t>(n);
}

inline uint32_t unit_for(uint32_t max_cp) { return max_cp <= 0xFF ? 1 : max_cp <= 0xFFFF ? 2 : 4; }

inline void set_unit(SeriesBuffer* b, uint32_t unit) {
    b->flags = (b->flags & ~memory::SERIES_UNIT_MASK) | unit;
}

inline uint32_t unit_at(const uint8_t* p, uint32_t unit) {
    switch (unit) {
    case 1:
        return *p;
    case 2:
        return *reinterpret_cast<const uint16_t*>(p);
    default:
        return *reinterpret_cast<const uint32_t*>(p);
    }
}

// ---------------------------------------------------------------------------
// Loading text into a string series
// ---------------------------------------------------------------------------

// The number of plain bytes at p, up to 8: ASCII, and (with crlf) not CR.
// Such bytes need neither decoding nor line-end folding in any of the
// loaders' encodings. The lowest flagged byte of the CR test is exact.
inline uint32_t plain_ascii_run(const uint8_t* p, bool crlf) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    constexpr uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    uint64_t stops = w & highs;
    if (crlf) {
        const uint64_t cr = w ^ (ones * '\r');
        stops |= (cr - ones) & ~cr & highs;
    }
    return stops ? static_cast<uint32_t>(std::countr_zero(stops)) / 8 : 8;
}

// Walks the input one character at a time, folding line ends under crlf, and
// hands each code point to emit; runs of plain ASCII go to emit_run (start,
// count) instead, up to 8 bytes at a time. decode(p, &n) returns the code
// point of the sequence at p and its length in n (n holds the bytes
// available on entry), or -1 when the input ends inside the sequence.
// Returns the bytes left over.
template <typename Decode, typename Emit, typename EmitRun>
uint32_t walk(const uint8_t* p, const uint8_t* end, bool crlf, Decode decode, Emit emit,
              EmitRun emit_run) {
    while (p < end) {
        while (end - p >= 8) {
            const uint32_t run = plain_ascii_run(p, crlf);
            if (run) {
                emit_run(p, run);
                p += run;
            }
            if (run < 8) break;
        }
        if (p == end) break;
        uint32_t n = static_cast<uint32_t>(end - p);
        int32_t cp = decode(p, &n);
        if (cp < 0) return static_cast<uint32_t>(end - p);
        p += n;
        if (crlf && cp == '\r') {
            if (p < end && *p == '\n') continue;
            cp = '\n';
        }
        emit(static_cast<uint32_t>(cp));
    }
    return 0;
}

template <typename U, typename Decode>
void store_units(uint8_t* out, const uint8_t* p, const uint8_t* end, bool crlf, Decode decode) {
    U* o = reinterpret_cast<U*>(out);
    walk(
        p, end, crlf, decode, [&o](uint32_t cp) { *o++ = static_cast<U>(cp); },
        [&o](const uint8_t* ascii, uint32_t count) {
            if constexpr (sizeof(U) == 1) {
                std::memcpy(o, ascii, count);
            } else {
                for (uint32_t k = 0; k < count; k++) o[k] = ascii[k];
            }
            o += count;
        });
}

// A buffer with room for chars units of the given unit from its head: the
// target's own buffer (its unit widened when needed) or a new series.
SeriesBuffer* prepare_target(node_t* node, uint32_t chars, uint32_t unit) {
    uint32_t room = checked_bytes(uint64_t{std::max(chars, 1u)} * unit);
    if (!*node) {
        *node = memory::alloc_units(std::max(chars, 1u), unit);
        return memory::buffer_of(*node);
    }
    SeriesBuffer* b = memory::buffer_of(*node);
    assert(b->unit() == 1 || b->unit() == 2 || b->unit() == 4);
    if (static_cast<uint32_t>(b->end() - b->head_ptr()) < room) b = memory::expand_buffer(b, room);
    set_unit(b, unit);
    return b;
}

// The loaders' common body: measure, make room, store. Collections are held
// off so that the input may lie in a series buffer; the only allocations are
// the target's and, on malformed input, the error's.
template <typename Decode>
node_t load_text(const uint8_t* p, const uint8_t* end, node_t target, int32_t* remaining, bool crlf,
                 Decode decode) {
    collector::Hold hold;
    uint32_t chars = 0, max_cp = 0;
    // ASCII runs add characters but never widen the unit.
    uint32_t left = walk(
        p, end, crlf, decode,
        [&](uint32_t cp) {
            chars++;
            max_cp = std::max(max_cp, cp);
        },
        [&](const uint8_t*, uint32_t count) { chars += count; });
    uint32_t unit = unit_for(max_cp);
    if (target) unit = std::max(unit, memory::buffer_of(target)->unit());
    SeriesBuffer* b = prepare_target(&target, chars, unit);
    const uint8_t* stop = end - left;
    switch (unit) {
    case 1:
        store_units<uint8_t>(b->head_ptr(), p, stop, crlf, decode);
        break;
    case 2:
        store_units<uint16_t>(b->head_ptr(), p, stop, crlf, decode);
        break;
    default:
        store_units<uint32_t>(b->head_ptr(), p, stop, crlf, decode);
        break;
    }
    b->tail = b->head + chars * unit;
    if (remaining) *remaining = static_cast<int32_t>(left);
    return target;
}

// ASCII and the two-byte sequences of the Latin and most other alphabets
// are decoded in line; everything else, malformed input included, by the
// validating decoder.
constexpr auto decode_utf8 = [](const uint8_t* p, uint32_t* n) {
    if (p[0] < 0x80) {
        *n = 1;
        return static_cast<int32_t>(p[0]);
    }
    if (*n >= 2 && p[0] >= 0xC2 && p[0] <= 0xDF && (p[1] & 0xC0) == 0x80) {
        *n = 2;
        return static_cast<int32_t>((p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu));
    }
    return decode_utf8_char(p, n);
};

// ---------------------------------------------------------------------------
// Encoding string values
// ---------------------------------------------------------------------------

// Characters of a string value from its position: all of them, or n when n
// is not negative and smaller.
uint32_t chars_wanted(const Cell* str, int32_t n) {
    SeriesBuffer* b = memory::buffer_of(str);
    uint32_t total = b->used_bytes() / b->unit();
    uint32_t rest = str->data1 < total ? total - str->data1 : 0;
    return n >= 0 && static_cast<uint32_t>(n) < rest ? static_cast<uint32_t>(n) : rest;
}

// The most UTF-8 bytes a character stored in units of that size can take.
constexpr uint32_t utf8_room(uint32_t unit) { return unit == 1 ? 2 : unit == 2 ? 3 : 4; }

inline const uint8_t* position_ptr(const Cell* str) {
    SeriesBuffer* b = memory::buffer_of(str);
    return b->head_ptr() + str->data1 * b->unit();
}

uint8_t* encode_utf8(const uint8_t* s, uint32_t unit, uint32_t n, uint8_t* out, bool crlf) {
    for (uint32_t i = 0; i < n; i++, s += unit) {
        uint32_t cp = unit_at(s, unit);
        if (cp < 0x80) {
            if (cp == '\n' && crlf) *out++ = '\r';
            *out++ = static_cast<uint8_t>(cp);
        } else {
            out += cp_to_utf8(cp, out);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Case tables
// ---------------------------------------------------------------------------

int32_t upper_table[0x10000];
int32_t lower_table[0x10000];

void fill_case_table(int32_t* table, std::span<const CasePair> pairs) {
    std::memset(table, 0, 0x10000 * sizeof(int32_t));
    for (const CasePair& p : pairs) table[p.cp] = static_cast<int32_t>(p.mapped);
}

uint32_t astral_case(uint32_t cp, std::span<const CasePair> pairs) {
    if (cp < pairs.front().cp || cp > pairs.back().cp) return cp;
    auto it = std::lower_bound(pairs.begin(), pairs.end(), cp,
                               [](const CasePair& p, uint32_t c) { return p.cp < c; });
    return it->cp == cp ? it->mapped : cp;
}

bool in_ranges(uint32_t cp, std::span<const Range> ranges) {
    if (cp < ranges.front().first || cp > ranges.back().last) return false;
    auto it = std::upper_bound(ranges.begin(), ranges.end(), cp,
                               [](uint32_t c, const Range& r) { return c < r.first; });
    return it != ranges.begin() && cp <= (it - 1)->last;
}

} // namespace

// ---------------------------------------------------------------------------
// UTF-8 on byte pointers
// ---------------------------------------------------------------------------

const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t* cp) {
    const uint8_t* t = utf8_dfa.table;
    uint32_t type = t[*p];
    uint32_t c = (0xFFu >> type) & *p++;
    uint32_t state = t[256 + type];
    while (state != ACCEPT && state != REJECT) {
        uint32_t b = *p++;
        c = (b & 0x3F) | c << 6;
        state = t[256 + state + t[b]];
    }
    *cp = state == ACCEPT ? static_cast<int32_t>(c) : -1;
    return p;
}

uint32_t count_utf8_chars(const uint8_t* start, const uint8_t* end) {
    uint32_t n = 0;
    while (start < end) {
        start = *start < 0x80 ? start + 1 : next_char(start, end);
        n++;
    }
    return n;
}

const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n) {
    while (n-- > 0 && p < end) p = *p < 0x80 ? p + 1 : next_char(p, end);
    return p;
}

uint32_t utf8_char_size(uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

uint32_t cp_utf8_size(uint32_t cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= 0x10FFFF) return 4;
    bad_char(cp);
}

uint32_t utf8_length(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    uint32_t bytes = 0;
    for (; start < end; start += unit) bytes += cp_utf8_size(unit_at(start, unit));
    return bytes;
}

uint32_t cp_to_utf8(uint32_t cp, uint8_t* out) {
    if (cp > 0x10FFFF) bad_char(cp);
    return static_cast<uint32_t>(platform::encode_utf8(cp, out));
}

uint32_t cp_to_utf8_bounded(uint32_t cp, uint8_t* out, int32_t room) {
    if (room < 1) {
        if (cp > 0x10FFFF) bad_char(cp);
        return 0;
    }
    uint8_t bytes[4];
    uint32_t n = std::min(cp_to_utf8(cp, bytes), static_cast<uint32_t>(room));
    std::memcpy(out, bytes, n);
    return n;
}

int32_t decode_utf8_char(const uint8_t* p, uint32_t* available) {
    uint32_t avail = *available;
    if (avail == 0) return -1;
    uint32_t b = p[0];
    if (b < 0x80) {
        *available = 1;
        return static_cast<int32_t>(b);
    }
    auto cont = [p](uint32_t i) { return p[i] >= 0x80 && p[i] <= 0xBF; };
    uint32_t cp, len;
    if (b < 0xC0) {
        bad_utf8(p, avail);
    } else if (b < 0xE0) {
        if (avail < 2) return -1;
        if (!cont(1)) bad_utf8(p, avail);
        cp = (b - 0xC0) << 6 | (p[1] - 0x80);
        len = 2;
    } else if (b < 0xF0) {
        if (avail < 3) return -1;
        if (!cont(1) || !cont(2)) bad_utf8(p, avail);
        cp = (b - 0xE0) << 12 | (p[1] - 0x80) << 6 | (p[2] - 0x80);
        if (cp >= 0xDC00 && cp <= 0xDCFF) bad_utf8(p, avail);
        len = 3;
    } else if (b < 0xF8) {
        if (avail < 4) return -1;
        if (!cont(1) || !cont(2) || !cont(3)) bad_utf8(p, avail);
        cp = (b - 0xF0) << 18 | (p[1] - 0x80) << 12 | (p[2] - 0x80) << 6 | (p[3] - 0x80);
        if (cp > 0x10FFFF) bad_utf8(p, avail);
        len = 4;
    } else {
        bad_utf8(p, avail);
    }
    *available = len;
    return static_cast<int32_t>(cp);
}

// ---------------------------------------------------------------------------
// UTF-8 and string values
// ---------------------------------------------------------------------------

node_t load_utf8(const uint8_t* bytes, uint32_t length, node_t target, int32_t* remaining,
                 bool crlf) {
    const uint8_t* end = bytes + length;
    if (length > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) bytes += 3;
    return load_text(bytes, end, target, remaining, crlf, decode_utf8);
}

node_t load_utf8_binary(const Cell* binary) {
    SeriesBuffer* b = memory::buffer_of(binary);
    const uint8_t* start = b->head_ptr() + binary->data1;
    const uint8_t* end = b->tail_ptr();
    return load_utf8_bytes(start, std::max(start, end));
}

node_t load_utf8_bytes(const uint8_t* start, const uint8_t* end) {
    return load_utf8(start, static_cast<uint32_t>(end - start), 0, nullptr, false);
}

const char* to_utf8(Cell* str, int32_t* length) { return to_utf8_crlf(str, length, false); }

const char* to_utf8_crlf(Cell* str, int32_t* length, bool crlf) {
    uint32_t n = chars_wanted(str, *length);
    uint32_t unit = memory::buffer_of(str)->unit();
    uint8_t* out = memory::scratch_buffer(str, checked_bytes((uint64_t{n} + 1) * utf8_room(unit)));
    uint8_t* end = encode_utf8(position_ptr(str), unit, n, out, crlf);
    *end = 0;
    *length = static_cast<int32_t>(end - out);
    return reinterpret_cast<const char*>(out);
}

std::string utf8_of(const Cell* str) {
    uint32_t n = chars_wanted(str, -1);
    uint32_t unit = memory::buffer_of(str)->unit();
    std::string out(size_t{n} * utf8_room(unit), '\0');
    uint8_t* start = reinterpret_cast<uint8_t*>(out.data());
    out.resize(static_cast<size_t>(encode_utf8(position_ptr(str), unit, n, start, false) - start));
    return out;
}

uint32_t encode_utf8_part(const Cell* str, uint8_t* out, int32_t n, bool nul) {
    uint32_t count = chars_wanted(str, n);
    uint8_t* end =
        encode_utf8(position_ptr(str), memory::buffer_of(str)->unit(), count, out, false);
    if (nul) *end = 0;
    return static_cast<uint32_t>(end - out);
}

uint32_t encode_utf8_into(const Cell* str, uint8_t* out, int32_t room, int32_t n, bool nul) {
    if (room < 1) return 0;
    uint32_t count = chars_wanted(str, n);
    uint32_t unit = memory::buffer_of(str)->unit();
    const uint8_t* s = position_ptr(str);
    // The NUL keeps its byte; a character that does not fit whole is left
    // out, so the text written is always well formed.
    int32_t left = nul ? room - 1 : room;
    uint8_t* o = out;
    for (uint32_t i = 0; i < count; i++, s += unit) {
        uint32_t cp = unit_at(s, unit);
        if (static_cast<int32_t>(cp_utf8_size(cp)) > left) break;
        uint32_t w = cp_to_utf8_bounded(cp, o, left);
        o += w;
        left -= static_cast<int32_t>(w);
    }
    if (nul) *o = 0;
    return static_cast<uint32_t>(o - out);
}

// ---------------------------------------------------------------------------
// UTF-16LE
// ---------------------------------------------------------------------------

const char16_t* to_utf16(Cell* str, int32_t* length) {
    int32_t n = -1;
    const char16_t* text = to_utf16_part(str, &n, true);
    if (length && text) *length = n;
    return text;
}

const char16_t* to_utf16_part(Cell* str, int32_t* length, bool crlf) {
    uint32_t n = chars_wanted(str, *length);
    uint32_t unit = memory::buffer_of(str)->unit();
    uint64_t extra = 0;
    const uint8_t* s = position_ptr(str);
    for (uint32_t i = 0; i < n; i++, s += unit) {
        uint32_t cp = unit_at(s, unit);
        if (cp > 0x10FFFF) return nullptr;
        if (cp == '\n' || cp >= 0x10000) extra++;
    }
    uint8_t* buffer = memory::scratch_buffer(str, checked_bytes((uint64_t{n} + extra + 1) * 2));
    auto* out = reinterpret_cast<char16_t*>(buffer);
    char16_t* o = out;
    s = position_ptr(str);
    for (uint32_t i = 0; i < n; i++, s += unit) {
        uint32_t cp = unit_at(s, unit);
        if (cp == '\n' && crlf) *o++ = u'\r';
        o += cp_to_utf16(cp, o);
    }
    *o = 0;
    *length = static_cast<int32_t>(o - out);
    return out;
}

node_t load_utf16(const char16_t* units, uint32_t count, Cell* target, bool cr) {
    collector::Hold hold;
    uint32_t unit = 1;
    for (uint32_t i = 0; i < count; i++) {
        if ((units[i] & 0xF800) == 0xD800) {
            unit = 4;
            break;
        }
        if (units[i] > 0xFF) unit = 2;
    }
    node_t node = target ? target->data2 : 0;
    if (!node && count == 0) {
        node = memory::alloc_units(1, 2);
        memory::set_series_flags(node, memory::SERIES_UTF16);
        return node;
    }
    auto is_trail = [](char16_t u) { return (u & 0xFC00) == 0xDC00; };
    // Characters to store: pairs join, dropped CRs go.
    uint32_t chars = 0;
    for (uint32_t i = 0; i < count; i++) {
        char16_t u = units[i];
        if (cr && u == u'\r') continue;
        if (unit == 4 && (u & 0xFC00) == 0xD800 && i + 1 < count && is_trail(units[i + 1])) i++;
        chars++;
    }
    SeriesBuffer* b = prepare_target(&node, chars, unit);
    b->flags |= memory::SERIES_UTF16;
    uint8_t* out = b->head_ptr();
    for (uint32_t i = 0; i < count; i++) {
        uint32_t u = units[i];
        if (cr && u == '\r') continue;
        switch (unit) {
        case 1:
            *out++ = static_cast<uint8_t>(u);
            break;
        case 2:
            *reinterpret_cast<uint16_t*>(out) = static_cast<uint16_t>(u);
            out += 2;
            break;
        default:
            if ((u & 0xFC00) == 0xD800 && i + 1 < count && is_trail(units[i + 1])) {
                u = (((u & 0x3FF) << 10) | (units[++i] & 0x3FF)) + 0x10000;
            }
            *reinterpret_cast<uint32_t*>(out) = u;
            out += 4;
            break;
        }
    }
    b->tail = b->head + chars * unit;
    return node;
}

void ascii_to_utf16(const char* text, char16_t* out) {
    while ((*out++ = static_cast<unsigned char>(*text++))) {
    }
}

uint32_t cp_to_utf16(uint32_t cp, char16_t* out) {
    if (cp < 0x10000) {
        out[0] = static_cast<char16_t>(cp);
        return 1;
    }
    if (cp > 0x10FFFF) return 0;
    cp -= 0x10000;
    out[0] = static_cast<char16_t>(0xD800 | cp >> 10);
    out[1] = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    return 2;
}

// ---------------------------------------------------------------------------
// Widening in place
// ---------------------------------------------------------------------------

namespace {

// Rewrites the units from last to first so that the wider copy can overlap
// the narrower one.
template <typename From, typename To> SeriesBuffer* widen(SeriesBuffer* b) {
    assert(b->unit() == sizeof(From));
    uint32_t len = b->used_bytes() / sizeof(From);
    uint32_t needed = checked_bytes(uint64_t{len} * sizeof(To) + sizeof(To));
    if (static_cast<uint32_t>(b->end() - b->head_ptr()) < needed)
        b = memory::expand_series(b, needed);
    const From* src = reinterpret_cast<const From*>(b->head_ptr());
    To* dst = reinterpret_cast<To*>(b->head_ptr());
    for (uint32_t i = len; i-- > 0;) dst[i] = src[i];
    b->tail = b->head + len * static_cast<uint32_t>(sizeof(To));
    set_unit(b, sizeof(To));
    return b;
}

} // namespace

SeriesBuffer* latin1_to_ucs2(SeriesBuffer* buffer) { return widen<uint8_t, uint16_t>(buffer); }
SeriesBuffer* latin1_to_ucs4(SeriesBuffer* buffer) { return widen<uint8_t, uint32_t>(buffer); }
SeriesBuffer* ucs2_to_ucs4(SeriesBuffer* buffer) { return widen<uint16_t, uint32_t>(buffer); }

// ---------------------------------------------------------------------------
// Case and width
// ---------------------------------------------------------------------------

void init_case_tables() {
    fill_case_table(upper_table, upper_bmp);
    fill_case_table(lower_table, lower_bmp);
}

uint32_t change_case(uint32_t cp, bool upper) {
    if (cp <= 0xFFFF) {
        int32_t mapped = (upper ? upper_table : lower_table)[cp];
        return mapped ? static_cast<uint32_t>(mapped) : cp;
    }
    return astral_case(cp, upper ? upper_astral : lower_astral);
}

uint32_t toggle_case(uint32_t cp) {
    uint32_t up = change_case(cp, true);
    return up != cp ? up : change_case(cp, false);
}

int char_width(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    if (in_ranges(cp, zero_width_ranges)) return 0;
    if (in_ranges(cp, wide_ranges)) return 2;
    return 1;
}

int char_width_cjk(uint32_t cp) { return in_ranges(cp, ambiguous_ranges) ? 2 : char_width(cp); }

node_t load_cp1251(const uint8_t* bytes, uint32_t length, node_t target, bool crlf) {
    auto decode = [](const uint8_t* p, uint32_t* n) {
        *n = 1;
        return static_cast<int32_t>(*p < 0x80 ? *p : cp1251_high[*p - 0x80]);
    };
    return load_text(bytes, bytes + length, target, nullptr, crlf, decode);
}

} // namespace mox::unicode

namespace mox::memory {

uint8_t* scratch_buffer(Cell* str, uint32_t bytes) {
    if (str->data3) {
        SeriesBuffer* b = buffer_of(str->data3);
        if (static_cast<uint32_t>(b->end() - b->head_ptr()) < bytes) b = expand_buffer(b, bytes);
        return b->head_ptr();
    }
    node_t node = alloc_bytes(bytes);
    str->data3 = node;
    return buffer_of(node)->head_ptr();
}

} // namespace mox::memory
