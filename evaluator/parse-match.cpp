// PARSE matchers: one rule value against the input at one position, the
// repetition of one value, and the scans of to and thru.
//
// String and binary input is read straight from its buffer, one unit at a
// time through loops specialised per unit size (1, 2 or 4 bytes), so that a
// repeated char! or bitset! and a single-value to/thru cost a few
// instructions a unit. Case folding maps both sides to upper case through
// the runtime's one case table (a 256-entry copy serves Latin-1 units).
// Nothing here allocates except the compare action on block input and the
// lexer scan of a datatype on binary input; pointers into buffers are read
// afresh after those.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "core/actions.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "evaluator/lexer.h"
#include "evaluator/parse.h"

namespace mox::parse {

using memory::SeriesBuffer;

namespace {

// ---------------------------------------------------------------------------
// Units and folding
// ---------------------------------------------------------------------------

// A buffer seen as units from its head; valid until the next allocation.
struct Units {
    const uint8_t* base;
    uint32_t unit;
    uint32_t total;

    uint32_t at(uint32_t i) const { return string::get_char(base + i * unit, unit); }
};

Units units_of(const Cell* s) {
    SeriesBuffer* b = memory::buffer_of(s->data2);
    uint32_t unit = b->unit();
    return {b->head_ptr(), unit, b->used_bytes() / unit};
}

// Upper case of the Latin-1 code points, and whether no other Latin-1 code
// point shares a byte's upper case (so that a folded search for it may look
// for the byte alone).
struct FoldTables {
    std::array<uint32_t, 256> upper{};
    std::array<bool, 256> alone{};
};

const FoldTables& fold_tables() {
    static const FoldTables tables = [] {
        FoldTables t;
        for (uint32_t c = 0; c < 256; c++) t.upper[c] = unicode::to_upper(c);
        for (uint32_t c = 0; c < 256; c++) {
            int n = 0;
            for (uint32_t k = 0; k < 256; k++) n += t.upper[k] == t.upper[c];
            t.alone[c] = n == 1;
        }
        return t;
    }();
    return tables;
}

inline uint32_t up(uint32_t c) { return c < 256 ? fold_tables().upper[c] : unicode::to_upper(c); }
inline uint32_t fold(uint32_t c, bool on) { return on ? up(c) : c; }

// A bitset's bits: bit n is in byte n >> 3 under mask 0x80 >> (n & 7); a
// code point beyond them is in the set exactly when it is complemented.
struct Bits {
    const uint8_t* bytes;
    uint64_t count;
    bool complement;

    bool has(uint32_t c) const {
        return c < count ? (bytes[c >> 3] & (0x80 >> (c & 7))) != 0 : complement;
    }
};

Bits bits_of(const Cell* bitset) {
    SeriesBuffer* b = memory::buffer_of(bitset->data2);
    return {b->head_ptr(), uint64_t{b->used_bytes()} * 8,
            (b->flags & memory::SERIES_COMPLEMENT) != 0};
}

inline bool text_value_q(uint32_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL || t == TYPE_REF;
}

// The characters of a text value from its index.
struct Text {
    Units units;
    uint32_t start;
    uint32_t length;

    uint32_t at(uint32_t i) const { return units.at(start + i); }
};

Text text_of(const Cell* value) {
    Units u = units_of(value);
    uint32_t start = std::min(value->data1, u.total);
    return {u, start, u.total - start};
}

// Whether the text matches the input's characters at i (before end).
bool text_at(const Units& in, uint32_t i, uint32_t end, const Text& t, bool folding) {
    if (uint64_t{i} + t.length > end) return false;
    for (uint32_t k = 0; k < t.length; k++)
        if (fold(in.at(i + k), folding) != fold(t.at(k), folding)) return false;
    return true;
}

// ---------------------------------------------------------------------------
// One value on string input
// ---------------------------------------------------------------------------

int32_t literal_string(const Units& in, uint32_t i, uint32_t end, const Cell* value, bool folding) {
    uint32_t t = type_of(value);
    if (text_value_q(t)) {
        Text text = text_of(value);
        return text_at(in, i, end, text, folding) ? static_cast<int32_t>(text.length) : -1;
    }
    if (i >= end) return -1;
    switch (t) {
    case TYPE_CHAR:
        return fold(in.at(i), folding) == fold(value->data2, folding) ? 1 : -1;
    case TYPE_BITSET:
        return bits_of(value).has(in.at(i)) ? 1 : -1;
    case TYPE_TAG: {
        Text text = text_of(value);
        if (uint64_t{i} + text.length + 2 > end) return -1;
        if (in.at(i) != '<' || in.at(i + text.length + 1) != '>') return -1;
        return text_at(in, i + 1, end, text, folding) ? static_cast<int32_t>(text.length + 2) : -1;
    }
    default:
        return -1;
    }
}

// ---------------------------------------------------------------------------
// One value on binary input: the value's bytes, compared as unsigned numbers
// with no case folding (bytes are not letters)
// ---------------------------------------------------------------------------

void append_utf8(std::string& out, uint32_t cp) {
    uint8_t buf[4];
    uint32_t n = unicode::cp_to_utf8(cp, buf);
    out.append(reinterpret_cast<const char*>(buf), n);
}

// What a value stands for on binary input.
enum ByteForm {
    NO_FORM, // a value that is no byte rule
    NEVER,   // a char! above 255: it names no byte, so it matches nowhere
    BYTES    // the bytes in out
};

// Text stands for its UTF-8 bytes, a char! or an integer! for the one byte
// of that number.
ByteForm bytes_of(const Cell* value, std::string& out) {
    uint32_t t = type_of(value);
    if (text_value_q(t) || t == TYPE_TAG) {
        Text s = text_of(value);
        if (t == TYPE_TAG) out.push_back('<');
        for (uint32_t k = 0; k < s.length; k++) append_utf8(out, s.at(k));
        if (t == TYPE_TAG) out.push_back('>');
        return BYTES;
    }
    if (t == TYPE_CHAR) {
        if (value->data2 > 255) return NEVER;
        out.push_back(static_cast<char>(value->data2));
        return BYTES;
    }
    if (t == TYPE_BINARY) {
        Units u = units_of(value);
        uint32_t start = std::min(value->data1, u.total);
        out.append(reinterpret_cast<const char*>(u.base + start), u.total - start);
        return BYTES;
    }
    if (t == TYPE_INTEGER) {
        int32_t n = get_integer(value);
        if (n < 0 || n > 255) return NO_FORM;
        out.push_back(static_cast<char>(n));
        return BYTES;
    }
    return NO_FORM;
}

bool bytes_at(const Units& in, uint32_t i, uint32_t end, const std::string& bytes) {
    return uint64_t{i} + bytes.size() <= end &&
           std::memcmp(in.base + i, bytes.data(), bytes.size()) == 0;
}

int32_t literal_binary(const Units& in, uint32_t i, uint32_t end, const Cell* value) {
    if (type_of(value) == TYPE_BITSET) return i < end && bits_of(value).has(in.base[i]) ? 1 : -1;
    std::string bytes;
    if (bytes_of(value, bytes) != BYTES) return -1;
    return bytes_at(in, i, end, bytes) ? static_cast<int32_t>(bytes.size()) : -1;
}

// ---------------------------------------------------------------------------
// One value on block input
// ---------------------------------------------------------------------------

} // namespace

// The compare action decides; a lit-word! or lit-path! rule matches the word
// or path of the same spelling, so it is compared under the word operators.
bool compare(Cell* input, uint32_t i, Cell* value, int32_t mode, Cell* scratch) {
    *scratch = *block::ms_abs_at(input, i);
    uint32_t t = type_of(value);
    int32_t op = mode;
    if (t == TYPE_LIT_WORD || t == TYPE_LIT_PATH)
        op = mode == MODE_STRICT ? COMP_STRICT_EQUAL_WORD : COMP_EQUAL_WORD;
    return actions::compare_star(scratch, value, op);
}

namespace {

// ---------------------------------------------------------------------------
// Tight loops per unit size
// ---------------------------------------------------------------------------

template <uint32_t U> inline uint32_t unit_at(const uint8_t* base, uint32_t i) {
    return string::get_char(base + i * U, U);
}

template <uint32_t U, typename Pred>
uint32_t run_of(const uint8_t* base, uint32_t i, uint32_t limit, Pred pred) {
    uint32_t k = i;
    while (k < limit && pred(unit_at<U>(base, k))) k++;
    return k - i;
}

template <uint32_t U, typename Pred>
int64_t first_of(const uint8_t* base, uint32_t i, uint32_t end, Pred pred) {
    for (uint32_t k = i; k < end; k++)
        if (pred(unit_at<U>(base, k))) return k;
    return -1;
}

// Dispatches a loop over the units on the unit size.
template <typename Pred>
uint32_t run_units(const Units& in, uint32_t i, uint32_t limit, Pred pred) {
    switch (in.unit) {
    case 1:
        return run_of<1>(in.base, i, limit, pred);
    case 2:
        return run_of<2>(in.base, i, limit, pred);
    default:
        return run_of<4>(in.base, i, limit, pred);
    }
}

template <typename Pred> int64_t first_unit(const Units& in, uint32_t i, uint32_t end, Pred pred) {
    switch (in.unit) {
    case 1:
        return first_of<1>(in.base, i, end, pred);
    case 2:
        return first_of<2>(in.base, i, end, pred);
    default:
        return first_of<4>(in.base, i, end, pred);
    }
}

// The first unit equal to cp (folded), from i.
int64_t find_char(const Units& in, uint32_t i, uint32_t end, uint32_t cp, bool folding) {
    if (i >= end) return -1;
    if (in.unit == 1 && cp < 256 && (!folding || fold_tables().alone[cp])) {
        const void* hit = std::memchr(in.base + i, static_cast<int>(cp), end - i);
        return hit ? static_cast<const uint8_t*>(hit) - in.base : -1;
    }
    if (!folding) return first_unit(in, i, end, [cp](uint32_t c) { return c == cp; });
    uint32_t target = up(cp);
    return first_unit(in, i, end, [target](uint32_t c) { return up(c) == target; });
}

int64_t find_bytes(const Units& in, uint32_t i, uint32_t end, const std::string& bytes,
                   uint32_t* units) {
    *units = static_cast<uint32_t>(bytes.size());
    if (bytes.empty()) return i <= end ? i : -1;
    for (uint32_t k = i; uint64_t{k} + bytes.size() <= end;) {
        const void* hit = std::memchr(in.base + k, static_cast<uint8_t>(bytes[0]), end - k);
        if (!hit) return -1;
        k = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - in.base);
        if (bytes_at(in, k, end, bytes)) return k;
        k++;
    }
    return -1;
}

} // namespace

// ---------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------

uint32_t repeat_char(const Cell* input, uint32_t cp, bool folding, uint32_t limit) {
    uint32_t i = input->data1;
    if (!folding) return run_units(units_of(input), i, limit, [cp](uint32_t c) { return c == cp; });
    uint32_t target = up(cp);
    const auto& upper = fold_tables().upper;
    return run_units(units_of(input), i, limit, [target, &upper](uint32_t c) {
        return (c < 256 ? upper[c] : unicode::to_upper(c)) == target;
    });
}

uint32_t repeat_charset(const Cell* input, const Cell* bitset, uint32_t limit) {
    Bits bits = bits_of(bitset);
    return run_units(units_of(input), input->data1, limit,
                     [&bits](uint32_t c) { return bits.has(c); });
}

InputKind kind_of(uint32_t type) {
    if (type == TYPE_BINARY) return INPUT_BINARY;
    return is_any_block(type) ? INPUT_BLOCK : INPUT_STRING;
}

uint32_t total_of(const Cell* input) { return units_of(input).total; }

int32_t match_literal(Cell* input, Cell* value, int32_t mode, uint32_t end, Cell* scratch) {
    uint32_t i = input->data1;
    bool folding = mode != MODE_STRICT;
    switch (kind_of(type_of(input))) {
    case INPUT_STRING:
        return literal_string(units_of(input), i, end, value, folding);
    case INPUT_BINARY:
        return literal_binary(units_of(input), i, end, value);
    default:
        if (i >= end) return -1;
        return compare(input, i, value, mode, scratch) ? 1 : -1;
    }
}

int32_t repeat_value(Cell* input, Cell* value, int32_t mode, uint32_t end, int32_t max,
                     uint32_t* units, Cell* scratch) {
    uint32_t i = input->data1;
    *units = 0;
    if (i >= end) return 0;
    bool folding = mode != MODE_STRICT;
    InputKind kind = kind_of(type_of(input));
    uint32_t t = type_of(value);
    // Bounded loops stop after max units; every fast path matches one unit
    // per repetition.
    uint32_t limit =
        max < 0 ? end : static_cast<uint32_t>(std::min<int64_t>(end, int64_t{i} + max));
    if (kind == INPUT_STRING && t == TYPE_CHAR) {
        *units = repeat_char(input, value->data2, folding, limit);
        return static_cast<int32_t>(*units);
    }
    if (kind != INPUT_BLOCK && t == TYPE_BITSET) {
        *units = repeat_charset(input, value, limit);
        return static_cast<int32_t>(*units);
    }
    if (kind == INPUT_BLOCK) {
        int32_t count = 0;
        for (uint32_t k = i; k < end && (max < 0 || count < max); k++, count++)
            if (!compare(input, k, value, mode, scratch)) break;
        *units = static_cast<uint32_t>(count);
        return count;
    }
    bool text_like = text_value_q(t) || t == TYPE_TAG || t == TYPE_BINARY ||
                     (kind == INPUT_BINARY && (t == TYPE_CHAR || t == TYPE_INTEGER));
    if (!text_like) return 0;
    int32_t count = 0;
    uint32_t at = i;
    while (max < 0 || count < max) {
        Units in = units_of(input);
        int32_t n = kind == INPUT_STRING ? literal_string(in, at, end, value, folding)
                                         : literal_binary(in, at, end, value);
        // An empty text would match for ever without consuming anything.
        if (n <= 0) break;
        at += static_cast<uint32_t>(n);
        count++;
    }
    *units = at - i;
    return count;
}

int64_t search(Cell* input, Cell* value, int32_t mode, uint32_t end, uint32_t* units,
               Cell* scratch) {
    uint32_t i = input->data1;
    bool folding = mode != MODE_STRICT;
    uint32_t t = type_of(value);
    InputKind kind = kind_of(type_of(input));
    *units = 1;
    if (kind == INPUT_BLOCK) {
        for (uint32_t k = i; k < end; k++)
            if (compare(input, k, value, mode, scratch)) return k;
        return -1;
    }
    Units in = units_of(input);
    if (t == TYPE_BITSET) {
        Bits bits = bits_of(value);
        if (kind == INPUT_BINARY)
            return first_of<1>(in.base, i, end, [&bits](uint32_t c) { return bits.has(c); });
        return first_unit(in, i, end, [&bits](uint32_t c) { return bits.has(c); });
    }
    if (kind == INPUT_STRING) {
        if (t == TYPE_CHAR) return find_char(in, i, end, value->data2, folding);
        if (!text_value_q(t) && t != TYPE_TAG) fire(err::parse_rule, value);
        Text text = text_of(value);
        *units = text.length + (t == TYPE_TAG ? 2 : 0);
        if (text.length == 0 && t != TYPE_TAG) return i <= end ? i : -1;
        uint32_t first = t == TYPE_TAG ? '<' : text.at(0);
        for (uint32_t k = i; uint64_t{k} + *units <= end; k++) {
            int64_t hit = find_char(in, k, end, first, folding);
            if (hit < 0 || uint64_t(hit) + *units > end) return -1;
            k = static_cast<uint32_t>(hit);
            if (literal_string(in, k, end, value, folding) >= 0) return k;
        }
        return -1;
    }
    std::string bytes;
    ByteForm form = bytes_of(value, bytes);
    if (form == NO_FORM) fire(err::parse_rule, value);
    if (form == NEVER) return -1;
    return find_bytes(in, i, end, bytes, units);
}

int32_t match_datatype_binary(Cell* input, const Cell* types, uint32_t end, Cell* scratch) {
    uint32_t i = input->data1;
    if (i >= end) return -1;
    // The scan reads the bytes up to the end (or the /part limit), as a
    // binary! value of its own, and a syntax error means no match.
    Cell* mark = stack::top;
    Cell* args = stack::arguments;
    stack::Frame* frame = stack::ctop;
    Cell* source = stack::push(input);
    Units in = units_of(input);
    bool cut = end < in.total;
    if (cut) {
        Cell* part = binary::make_from_bytes(in.base + i, end - i);
        *source = *part;
        stack::top = source + 1;
    }
    int32_t position = 0;
    int32_t type = 0;
    stack::mark_try(nullptr);
    try {
        type = lexer::scan_string(scratch, source, -1, true, true, true, false, &position, nullptr,
                                  nullptr);
    } catch (const stack::Unwind& u) {
        if (u.code != stack::EXIT_ERROR) throw;
        type = 0;
    }
    stack::ctop = frame;
    stack::arguments = args;
    stack::top = mark;
    if (type <= 0 || position <= 0) return -1;
    uint32_t scanned = type_of(scratch);
    bool ok =
        type_of(types) == TYPE_DATATYPE ? scanned == types->data1 : typeset_has(types, scanned);
    return ok ? position : -1;
}

} // namespace mox::parse
