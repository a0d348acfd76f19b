// string!: comparison and searching (compare, find, select) and the
// one-position matchers shared with PARSE (see string.h).
//
// Case-insensitive comparison maps both code points to upper case through
// the one case table of the unicode module; nothing else folds. Searches
// read the series and the value in place and never allocate once the value
// has been turned into text, so raw buffer pointers stay valid while they
// scan.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "core/actions.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"

namespace mox::string {

using memory::SeriesBuffer;

namespace {

// Characters read from a string buffer, or from code points decoded from a
// word's name into system memory.
struct Text {
    std::vector<uint32_t> points;
    const uint8_t* base = nullptr;
    uint32_t unit = 4;
    uint32_t length = 0;

    uint32_t at(uint32_t i) const { return get_char(base + i * unit, unit); }
};

inline bool text_type_q(uint32_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL || t == TYPE_REF;
}

void decode_name(Text& text, const char* p, size_t n) {
    const uint8_t* s = reinterpret_cast<const uint8_t*>(p);
    const uint8_t* end = s + n;
    while (s < end) {
        int32_t cp;
        s = unicode::fast_decode_utf8_char(s, &cp);
        text.points.push_back(static_cast<uint32_t>(cp));
    }
    text.base = reinterpret_cast<const uint8_t*>(text.points.data());
    text.unit = 4;
    text.length = static_cast<uint32_t>(text.points.size());
}

// The characters of a string-like value from its index, or of a word's or
// symbol's name. Valid until the next allocation.
Text text_of(const Cell* value) {
    Text text;
    uint32_t t = type_of(value);
    if (is_any_word(t)) {
        size_t n = 0;
        const char* p = symbol::name_utf8(value->data2, &n);
        decode_name(text, p, n);
        return text;
    }
    if (t == TYPE_SYMBOL) {
        SeriesBuffer* b = memory::buffer_of(value->data3);
        decode_name(text, reinterpret_cast<const char*>(b->head_ptr()), b->used_bytes());
        return text;
    }
    SeriesBuffer* b = buffer_of(value);
    uint32_t len = b->used_bytes() / b->unit();
    uint32_t index = std::min(value->data1, len);
    text.unit = b->unit();
    text.base = b->head_ptr() + index * text.unit;
    text.length = len - index;
    return text;
}

inline uint32_t fold(uint32_t cp, bool on) { return on ? unicode::to_upper(cp) : cp; }

inline int32_t sign_of(int64_t d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

inline bool equality_op_q(int32_t op) {
    return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
}

// What find looks for: one unit (a code point, a byte, a number), any unit
// of a bitset, or a run of characters.
struct Matcher {
    enum Kind { UNIT, BITSET, TEXT, INTEGER, FLOAT } kind = UNIT;
    uint32_t cp = 0;
    double number = 0;
    const Cell* value = nullptr; // the bitset, or the string holding the text
    Text text;
    bool fold = false;

    uint32_t length() const { return kind == TEXT ? text.length : 1; }
};

bool bit_q(const Cell* bitset, uint32_t cp) {
    SeriesBuffer* b = memory::buffer_of(bitset->data2);
    if (uint64_t{cp} >= uint64_t{b->used_bytes()} * 8)
        return (b->flags & memory::SERIES_COMPLEMENT) != 0;
    return (b->head_ptr()[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

// Whether the candidate starting at unit s of the series matches.
bool matches_at(const Matcher& m, const uint8_t* base, uint32_t unit, uint32_t s) {
    const uint8_t* p = base + s * unit;
    switch (m.kind) {
    case Matcher::UNIT:
        return fold(get_char(p, unit), m.fold) == m.cp;
    case Matcher::BITSET:
        return bit_q(m.value, get_char(p, unit));
    case Matcher::INTEGER:
        return get_char(p, unit) == m.cp;
    case Matcher::FLOAT: {
        if (unit == 8) {
            double d;
            std::memcpy(&d, p, 8);
            return d == m.number;
        }
        float f;
        std::memcpy(&f, p, 4);
        return static_cast<double>(f) == m.number;
    }
    case Matcher::TEXT:
        for (uint32_t i = 0; i < m.text.length; i++)
            if (fold(get_char(p + i * unit, unit), m.fold) != fold(m.text.at(i), m.fold))
                return false;
        return true;
    }
    return false;
}

// Searches the series as find does; returns the unit offset of the match,
// or -1, and its length in units in *length. May collect (a value that is
// neither text nor a unit is formed into a string first).
int64_t locate(Cell* series, Cell* value, Cell* part, bool case_, bool same, bool any, Cell* with,
               Cell* skip, bool last, bool reverse, bool match, uint32_t* length) {
    uint32_t st = type_of(series);
    if (any || with) fire(err::not_done);
    int32_t step = 1;
    if (skip) {
        if (type_of(skip) != TYPE_INTEGER) series::fire_refine_arg("skip", skip);
        step = get_integer(skip);
        if (step < 1) fire(err::out_of_range, skip);
    }
    int64_t n = -1;
    if (part) {
        n = series::part_count(series, part);
        if (n < 1) return -1;
    }
    if (reverse && match) return -1;

    Matcher m;
    m.fold = is_any_string(st) && !case_ && !same;
    uint32_t vt = type_of(value);
    bool unit_series = st == TYPE_BINARY || st == TYPE_VECTOR;
    if (vt == TYPE_CHAR) {
        m.cp = fold(value->data2, m.fold);
    } else if (vt == TYPE_BITSET) {
        m.kind = Matcher::BITSET;
        m.value = value;
    } else if (unit_series && vt == TYPE_INTEGER) {
        m.kind = Matcher::INTEGER;
        m.cp = value->data2;
    } else if (unit_series && vt == TYPE_FLOAT) {
        m.kind = Matcher::FLOAT;
        m.number = get_float(value);
    } else {
        if (vt == TYPE_BINARY && st != TYPE_BINARY) fire(err::invalid_arg, value);
        m.kind = Matcher::TEXT;
        m.value = value;
        if (!text_type_q(vt) && vt != TYPE_BINARY && vt != TYPE_WORD) {
            Cell* formed = push_new(16);
            actions::form(value, formed, nullptr, INT32_MAX);
            m.value = formed;
        }
    }

    // No allocation from here on: buffer pointers stay valid.
    if (m.kind == Matcher::TEXT) {
        m.text = text_of(m.value);
        if (m.text.length == 0) return -1;
    }
    SeriesBuffer* b = buffer_of(series);
    uint32_t unit = b->unit();
    int64_t total = b->used_bytes() / unit;
    int64_t pos = series->data1;
    if (total == 0) return -1;
    if (!reverse && pos >= total) return -1;
    pos = std::min(pos, total);
    int64_t len = m.length();
    int64_t lo, hi; // candidates lie in [lo, hi)
    if (reverse) {
        hi = pos;
        lo = n >= 0 ? std::max<int64_t>(pos - n, 0) : 0;
    } else {
        lo = pos;
        hi = n >= 0 ? std::min(pos + n, total) : total;
    }
    const uint8_t* base = b->head_ptr();
    *length = static_cast<uint32_t>(len);
    if (last || reverse) {
        if (hi - len < lo) return -1;
        int64_t start = lo + (hi - len - lo) / step * step;
        for (int64_t s = start; s >= lo; s -= step) {
            if (matches_at(m, base, unit, static_cast<uint32_t>(s))) return s;
            if (match) break;
        }
        return -1;
    }
    for (int64_t s = lo; s + len <= hi; s += step) {
        if (matches_at(m, base, unit, static_cast<uint32_t>(s))) return s;
        if (match) break;
    }
    return -1;
}

} // namespace

// ---------------------------------------------------------------------------
// Comparison
// ---------------------------------------------------------------------------

int32_t compare_strings(const Cell* s1, const Cell* s2, int32_t op, bool match) {
    bool series_pair = !is_any_word(type_of(s1)) && type_of(s1) != TYPE_SYMBOL &&
                       !is_any_word(type_of(s2)) && type_of(s2) != TYPE_SYMBOL;
    bool same_position = series_pair && s1->data2 == s2->data2 && s1->data1 == s2->data1;
    if (op == COMP_SAME) return same_position ? 0 : -1;
    if (same_position && (equality_op_q(op) || !match)) return 0;
    Text a = text_of(s1), b = text_of(s2);
    bool folding = op != COMP_STRICT_EQUAL && op != COMP_CASE_SORT;
    uint32_t n;
    if (match) {
        if (b.length == 0) return op == COMP_FIND ? 1 : 0;
        if (a.length < b.length) return 1;
        n = b.length;
    } else {
        if (a.length != b.length && (equality_op_q(op) || b.length == 0)) return 1;
        n = std::min(a.length, b.length);
    }
    for (uint32_t i = 0; i < n; i++) {
        uint32_t c1 = fold(a.at(i), folding), c2 = fold(b.at(i), folding);
        if (c1 != c2) return sign_of(int64_t{c1} - c2);
    }
    if (match) return 0;
    return sign_of(int64_t{a.length} - b.length);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint32_t t1 = type_of(value1), t2 = type_of(value2);
    if (t1 != t2) {
        bool loose = op == COMP_EQUAL || op == COMP_NOT_EQUAL;
        if (!loose || !is_any_string(t1) || !is_any_string(t2)) return COMPARE_NOT_COMPARABLE;
    }
    return compare_strings(value1, value2, op, false);
}

bool tag_bracketed_q(const Cell* str, int32_t length) {
    Text t = text_of(str);
    if (length < 0 || t.length < static_cast<uint32_t>(length) + 2) return false;
    return t.at(0) == '<' && t.at(static_cast<uint32_t>(length) + 1) == '>';
}

bool char_in_bitset_q(const Cell* str, const Cell* bitset) {
    Text t = text_of(str);
    return t.length > 0 && bit_q(bitset, t.at(0));
}

bool match_value_q(const Cell* str, const Cell* value, int32_t op) {
    uint32_t vt = type_of(value);
    if (text_type_q(vt)) return compare_strings(str, value, op, true) == 0;
    Text here = text_of(str);
    if (vt == TYPE_CHAR) {
        bool folding = op != COMP_STRICT_EQUAL;
        return here.length > 0 && fold(here.at(0), folding) == fold(value->data2, folding);
    }
    if (vt == TYPE_TAG) {
        Text tag = text_of(value);
        if (!tag_bracketed_q(str, static_cast<int32_t>(tag.length))) return false;
        bool folding = op != COMP_STRICT_EQUAL;
        for (uint32_t i = 0; i < tag.length; i++)
            if (fold(here.at(i + 1), folding) != fold(tag.at(i), folding)) return false;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// find and select
// ---------------------------------------------------------------------------

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    Cell* saved = stack::top;
    uint32_t length = 0;
    int64_t at =
        locate(series, value, part, case_, same, any, with, skip, last, reverse, match, &length);
    stack::top = saved;
    Cell* result = stack::push_cell();
    if (at < 0) return make_none(result);
    *result = *series;
    int64_t after = length;
    if (tail && length == 1 && skip) after = get_integer(skip);
    // A skip past the end leaves the result at the tail, not beyond it.
    SeriesBuffer* b = buffer_of(series);
    result->data1 = static_cast<uint32_t>(
        std::min<int64_t>(at + (tail ? after : 0), b->used_bytes() / b->unit()));
    return result;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse) {
    Cell* saved = stack::top;
    uint32_t length = 0;
    int64_t at =
        locate(series, value, part, case_, same, any, with, skip, last, reverse, false, &length);
    stack::top = saved;
    Cell* result = stack::push_cell();
    make_none(result);
    if (at < 0) return result;
    uint32_t pick = static_cast<uint32_t>(at) + length;
    SeriesBuffer* b = buffer_of(series);
    if (pick >= b->used_bytes() / b->unit()) return result;
    uint32_t cp = abs_char_at(series, pick);
    uint32_t t = type_of(series);
    if (t == TYPE_BINARY) return make_integer(result, static_cast<int32_t>(cp));
    if (t == TYPE_VECTOR)
        return vector::read_value(b->head_ptr() + size_t{pick} * b->unit(), series->data3,
                                  b->unit(), result);
    return make_char(result, cp);
}

} // namespace mox::string
