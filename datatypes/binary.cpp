// binary!: the byte series, its text form #{...}, the base-2, 16, 58 and
// 64 codecs, and the actions that turn values into bytes. Every value is
// turned into its bytes (in a std::vector) before the binary is touched, so
// a failing append or change leaves it as it was and a value lying in the
// binary's own buffer is read before the buffer moves.
#include "datatypes/binary.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/bitset.h"
#include "datatypes/image.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"

namespace mox::binary {

using memory::SeriesBuffer;

// ---------------------------------------------------------------------------
// Cells and bytes
// ---------------------------------------------------------------------------

Cell* make_cell(Cell* cell, uint32_t capacity) {
    node_t node = memory::alloc_bytes(capacity);
    return make_series(cell, TYPE_BINARY, node);
}

Cell* make_from_bytes(const uint8_t* bytes, uint32_t length) {
    collector::Hold hold;
    Cell* c = stack::push_cell();
    make_cell(c, length);
    SeriesBuffer* b = memory::buffer_of(c);
    if (length) std::memcpy(b->head_ptr(), bytes, length);
    b->tail = b->head + length;
    return c;
}

int32_t ms_length_q(const Cell* binary) {
    SeriesBuffer* b = memory::buffer_of(binary);
    int64_t n = static_cast<int64_t>(b->used_bytes()) - static_cast<int32_t>(binary->data1);
    return n > 0 ? static_cast<int32_t>(n) : 0;
}

uint8_t* ms_head(const Cell* binary) {
    SeriesBuffer* b = memory::buffer_of(binary);
    return std::min(b->head_ptr() + binary->data1, b->tail_ptr());
}

// ---------------------------------------------------------------------------
// Decoders
// ---------------------------------------------------------------------------

namespace {

// Walks the characters of a text, skipping ";" comments up to the end of
// the line.
class Reader {
  public:
    Reader(const uint8_t* text, int32_t length, int32_t unit)
        : p_(text), end_(text + static_cast<size_t>(std::max(length, 0)) * unit),
          unit_(static_cast<uint32_t>(unit)) {}

    // The next character outside comments; false at the end.
    bool next(uint32_t* cp) {
        while (p_ < end_) {
            uint32_t c = string::get_char(p_, unit_);
            p_ += unit_;
            if (c == ';') {
                while (p_ < end_ && string::get_char(p_, unit_) != '\n') p_ += unit_;
                continue;
            }
            *cp = c;
            return true;
        }
        return false;
    }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
    uint32_t unit_;
};

node_t to_node(const std::vector<uint8_t>& bytes) {
    node_t node = memory::alloc_bytes(static_cast<uint32_t>(bytes.size()));
    SeriesBuffer* b = memory::buffer_of(node);
    if (!bytes.empty()) std::memcpy(b->head_ptr(), bytes.data(), bytes.size());
    b->tail = b->head + static_cast<uint32_t>(bytes.size());
    return node;
}

int hex_value(uint32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    return -1;
}

// Characters the base-58 and base-64 decoders skip: backspace, tab, line
// feed, form feed, carriage return, space and the apostrophe.
bool skipped(uint32_t c) {
    return c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == ' ' || c == '\'';
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

int alphabet_value(const char* alphabet, uint32_t c) {
    if (c == 0 || c > 127) return -1;
    const char* at = std::strchr(alphabet, static_cast<int>(c));
    return at ? static_cast<int>(at - alphabet) : -1;
}

} // namespace

node_t decode_base2(const uint8_t* text, int32_t length, int32_t unit) {
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(std::max(length, 0)) / 8);
    Reader in(text, length, unit);
    uint32_t c;
    uint32_t byte = 0;
    int bits = 0;
    while (in.next(&c)) {
        if (c <= ' ') continue;
        if (c != '0' && c != '1') return 0;
        byte = byte << 1 | (c - '0');
        if (++bits == 8) {
            out.push_back(static_cast<uint8_t>(byte));
            byte = 0;
            bits = 0;
        }
    }
    if (bits != 0) return 0;
    return to_node(out);
}

// A character above 127 fails rather than being folded to 7 bits, and an
// odd digit at the end fails rather than being dropped.
node_t decode_base16(const uint8_t* text, int32_t length, int32_t unit) {
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(std::max(length, 0)) / 2);
    Reader in(text, length, unit);
    uint32_t c;
    int high = -1;
    while (in.next(&c)) {
        if (c <= ' ') continue;
        int v = hex_value(c);
        if (v < 0) return 0;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) return 0;
    return to_node(out);
}

// Big-endian base-58 digits to bytes. Each leading "1" is one zero byte; the
// rest is converted by repeated multiply-and-add on a byte array.
node_t decode_base58(const uint8_t* text, int32_t length, int32_t unit) {
    std::vector<uint8_t> digits;
    Reader in(text, length, unit);
    uint32_t c;
    while (in.next(&c)) {
        if (skipped(c)) continue;
        int v = alphabet_value(kBase58, c);
        if (v < 0) return 0;
        digits.push_back(static_cast<uint8_t>(v));
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) zeros++;
    std::vector<uint8_t> number; // little-endian
    for (size_t i = zeros; i < digits.size(); i++) {
        uint32_t carry = digits[i];
        for (uint8_t& b : number) {
            carry += 58u * b;
            b = static_cast<uint8_t>(carry);
            carry >>= 8;
        }
        while (carry) {
            number.push_back(static_cast<uint8_t>(carry));
            carry >>= 8;
        }
    }
    std::vector<uint8_t> out(zeros, 0);
    out.insert(out.end(), number.rbegin(), number.rend());
    return to_node(out);
}

// The classes of the characters below 128 for base 64: a value 0-63, or
// one of these.
enum : int8_t { B64_BAD = -1, B64_SKIP = -2, B64_PAD = -3, B64_COMMENT = -4 };

struct Base64Table {
    int8_t of[128];
    constexpr Base64Table() : of() {
        for (int8_t& c : of) c = B64_BAD;
        for (int i = 0; i < 64; i++)
            of[static_cast<unsigned char>(kBase64[i])] = static_cast<int8_t>(i);
        for (int c : {8, 9, 10, 12, 13, 32, 39}) of[c] = B64_SKIP;
        of['='] = B64_PAD;
        of[';'] = B64_COMMENT;
    }
};
constexpr Base64Table kBase64Table;

// Four values give three bytes. "=" ends the data: with 3 values pending it
// gives 2 bytes, with 2 one byte. A last group of 2 or 3 values without "="
// decodes the same way; a lone value, a pad after fewer than 2 values or a
// character outside the alphabet fails. The bytes are written straight into
// the new series, which is sized for the whole text first.
template <uint32_t Unit> node_t decode_base64_units(const uint8_t* text, int32_t length) {
    const uint8_t* p = text;
    const uint8_t* end = text + static_cast<size_t>(std::max(length, 0)) * Unit;
    std::vector<uint8_t> out((static_cast<size_t>(std::max(length, 0)) + 3) / 4 * 3);
    uint8_t* o = out.data();
    uint32_t group = 0;
    int pending = 0;
    bool padded = false;
    while (p < end) {
        uint32_t c = Unit == 1 ? *p : string::get_char(p, Unit);
        p += Unit;
        int v = c < 128 ? kBase64Table.of[c] : int{B64_BAD};
        if (v >= 0) {
            group = group << 6 | static_cast<uint32_t>(v);
            if (++pending == 4) {
                o[0] = static_cast<uint8_t>(group >> 16);
                o[1] = static_cast<uint8_t>(group >> 8);
                o[2] = static_cast<uint8_t>(group);
                o += 3;
                group = 0;
                pending = 0;
            }
        } else if (v == B64_SKIP) {
            continue;
        } else if (v == B64_COMMENT) {
            while (p < end && (Unit == 1 ? *p : string::get_char(p, Unit)) != '\n') p += Unit;
        } else if (v == B64_PAD) {
            padded = true;
            break;
        } else {
            return 0;
        }
    }
    if (pending == 3) {
        *o++ = static_cast<uint8_t>(group >> 10);
        *o++ = static_cast<uint8_t>(group >> 2);
    } else if (pending == 2) {
        *o++ = static_cast<uint8_t>(group >> 4);
    } else if (pending == 1 || padded) {
        return 0;
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return to_node(out);
}

node_t decode_base64(const uint8_t* text, int32_t length, int32_t unit) {
    switch (unit) {
    case 1:
        return decode_base64_units<1>(text, length);
    case 2:
        return decode_base64_units<2>(text, length);
    default:
        return decode_base64_units<4>(text, length);
    }
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

namespace {

constexpr uint32_t LINE_BYTES = 32;
constexpr uint32_t ONE_LINE_MAX = 30;

// Appends a line feed and n levels of indentation; returns the characters
// appended.
int32_t new_line(Cell* buffer, int32_t n) {
    string::append_char(buffer, '\n');
    string::append_indent(buffer, n, 0);
    return 1 + 4 * n;
}

int32_t mold_bytes(Cell* value, Cell* buffer, bool only, bool flat, Cell* part, int32_t limit,
                   int32_t indent) {
    uint32_t n = static_cast<uint32_t>(ms_length_q(value));
    if (!only) {
        string::concatenate_literal(buffer, "#{");
        limit -= 2;
    }
    bool lines = n > ONE_LINE_MAX && !flat;
    if (lines) limit -= new_line(buffer, indent + 1);
    static const char kHex[] = "0123456789ABCDEF";
    for (uint32_t i = 0; i < n; i++) {
        // Appending may move the buffer: the byte is read afresh each time.
        uint8_t byte = ms_head(value)[i];
        uint32_t digits[2] = {static_cast<uint8_t>(kHex[byte >> 4]),
                              static_cast<uint8_t>(kHex[byte & 15])};
        string::append_chars(buffer, digits, 2);
        limit -= 2;
        if (lines && (i + 1) % LINE_BYTES == 0) limit -= new_line(buffer, indent + 1);
        if (part && limit <= 0) return limit;
    }
    if (lines && n % LINE_BYTES != 0) limit -= new_line(buffer, indent);
    if (!only) {
        string::append_char(buffer, '}');
        limit -= 1;
    }
    return limit;
}

} // namespace

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    return mold_bytes(value, buffer, false, false, part, limit, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return mold_bytes(value, buffer, only, flat, part, limit, indent);
}

// Bytes compare as unsigned numbers; a shorter run that matches the start of
// a longer one is the lesser. Unequal lengths are unequal at once.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_BINARY) return COMPARE_NOT_COMPARABLE;
    if (value1->data2 == value2->data2 && value1->data1 == value2->data1) return 0;
    if (op == COMP_SAME) return -1;
    int32_t n1 = ms_length_q(value1), n2 = ms_length_q(value2);
    bool equality =
        op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (equality && n1 != n2) return 1;
    int32_t common = std::min(n1, n2);
    int diff =
        common ? std::memcmp(ms_head(value1), ms_head(value2), static_cast<size_t>(common)) : 0;
    if (diff != 0) return diff < 0 ? -1 : 1;
    return (n1 > n2) - (n1 < n2);
}

// ---------------------------------------------------------------------------
// Encoders
// ---------------------------------------------------------------------------

uint64_t encode_capacity(int32_t base, uint64_t length) {
    switch (base) {
    case 2:
        return length * 8;
    case 16:
        return length * 2;
    case 58:
        return length * 138 / 100 + 1;
    default:
        return (length + 2) / 3 * 4;
    }
}

uint32_t encode_base2(char* out, const uint8_t* bytes, uint32_t length) {
    char* p = out;
    for (uint32_t i = 0; i < length; i++)
        for (int bit = 7; bit >= 0; bit--) *p++ = static_cast<char>('0' + ((bytes[i] >> bit) & 1));
    return static_cast<uint32_t>(p - out);
}

uint32_t encode_base16(char* out, const uint8_t* bytes, uint32_t length) {
    static const char kHex[] = "0123456789ABCDEF";
    for (uint32_t i = 0; i < length; i++) {
        out[2 * i] = kHex[bytes[i] >> 4];
        out[2 * i + 1] = kHex[bytes[i] & 15];
    }
    return length * 2;
}

uint32_t encode_base64(char* out, const uint8_t* bytes, uint32_t length) {
    char* p = out;
    uint32_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t v = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
        p[0] = kBase64[v >> 18];
        p[1] = kBase64[(v >> 12) & 63];
        p[2] = kBase64[(v >> 6) & 63];
        p[3] = kBase64[v & 63];
        p += 4;
    }
    uint32_t rest = length - i;
    if (rest) {
        uint32_t v = uint32_t{bytes[i]} << 16 | (rest == 2 ? uint32_t{bytes[i + 1]} << 8 : 0);
        p[0] = kBase64[v >> 18];
        p[1] = kBase64[(v >> 12) & 63];
        p[2] = rest == 2 ? kBase64[(v >> 6) & 63] : '=';
        p[3] = '=';
        p += 4;
    }
    return static_cast<uint32_t>(p - out);
}

// The bytes as one big-endian number, divided by 58 on a scratch copy; each
// leading zero byte is one "1".
uint32_t encode_base58(char* out, const uint8_t* bytes, uint32_t length) {
    uint32_t zeros = 0;
    while (zeros < length && bytes[zeros] == 0) zeros++;
    std::vector<uint8_t> number(bytes + zeros, bytes + length);
    std::string digits;
    size_t start = 0;
    while (start < number.size()) {
        uint32_t remainder = 0;
        for (size_t k = start; k < number.size(); k++) {
            uint32_t acc = remainder << 8 | number[k];
            number[k] = static_cast<uint8_t>(acc / 58);
            remainder = acc % 58;
        }
        digits += kBase58[remainder];
        while (start < number.size() && number[start] == 0) start++;
    }
    std::memset(out, '1', zeros);
    std::copy(digits.rbegin(), digits.rend(), out + zeros);
    return zeros + static_cast<uint32_t>(digits.size());
}

// ---------------------------------------------------------------------------
// Value to bytes
// ---------------------------------------------------------------------------

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFFFFF0;

enum class Mode { append, change, to };

[[noreturn]] void fire_bad_to(const Cell* value) {
    Cell datatype;
    make_datatype(&datatype, TYPE_BINARY);
    fire(err::bad_to_arg, &datatype, value);
}

void put_utf8(std::vector<uint8_t>& out, uint32_t cp) {
    uint8_t buf[4];
    uint32_t n = unicode::cp_to_utf8(cp, buf);
    out.insert(out.end(), buf, buf + n);
}

// Keeps at most limit bytes added since mark (limit below 0: no limit).
void cut(std::vector<uint8_t>& out, size_t mark, int64_t limit) {
    if (limit >= 0 && out.size() - mark > static_cast<uint64_t>(limit))
        out.resize(mark + static_cast<size_t>(limit));
}

// The bytes a value stands for, appended to out. limit caps the bytes of a
// text, binary, tuple or char (below 0: no cap). For a block, count caps the
// values taken (below 0: all) while a byte budget (only) caps the bytes
// across all of them. The value is copied to the evaluation stack first:
// forming may allocate. May collect.
void value_bytes(const Cell* value_in, std::vector<uint8_t>& out, int64_t limit, int64_t count,
                 Mode mode) {
    Cell* saved = stack::top;
    Cell* value = stack::push(value_in);
    uint32_t t = type_of(value);
    size_t mark = out.size();
    switch (t) {
    case TYPE_CHAR:
        put_utf8(out, value->data2);
        break;
    case TYPE_INTEGER: {
        int32_t n = get_integer(value);
        if (n > 255 || n < -128) fire(err::invalid_arg, value);
        out.push_back(static_cast<uint8_t>(n));
        break;
    }
    case TYPE_BINARY: {
        int32_t n = ms_length_q(value);
        const uint8_t* p = ms_head(value);
        out.insert(out.end(), p, p + n);
        break;
    }
    case TYPE_TUPLE: {
        const uint8_t* p = tuple::bytes_of(value);
        out.insert(out.end(), p, p + tuple::length_of(value));
        break;
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
        if (cycles::find(value->data2)) fire(err::no_cycle);
        cycles::Scope walk(value->data2);
        SeriesBuffer* b = memory::buffer_of(value);
        uint32_t total = b->used_bytes() / sizeof(Cell);
        for (uint32_t i = value->data1; i < total && count != 0; i++, count--) {
            if (limit >= 0 && static_cast<int64_t>(out.size() - mark) >= limit) break;
            int64_t left = limit < 0 ? -1 : limit - static_cast<int64_t>(out.size() - mark);
            Cell* item = stack::push(memory::buffer_of(value)->cells() + i);
            value_bytes(item, out, left, -1, mode == Mode::to ? Mode::append : mode);
            stack::top = item;
            total = memory::buffer_of(value)->used_bytes() / sizeof(Cell);
        }
        stack::top = saved;
        return;
    }
    default:
        if (is_any_string(t)) {
            SeriesBuffer* b = memory::buffer_of(value);
            uint32_t unit = b->unit();
            uint32_t len = static_cast<uint32_t>(std::max(string::ms_length_q(value), 0));
            const uint8_t* p = memory::buffer_of(value)->head_ptr() + size_t{value->data1} * unit;
            out.reserve(out.size() + len);
            for (uint32_t i = 0; i < len; i++) {
                uint32_t cp = string::get_char(p + size_t{i} * unit, unit);
                if (cp < 0x80)
                    out.push_back(static_cast<uint8_t>(cp));
                else
                    put_utf8(out, cp);
                if (limit >= 0 && out.size() - mark >= static_cast<uint64_t>(limit)) break;
            }
        } else if (mode == Mode::change) {
            Cell* text = string::push_new(16);
            actions::form(value, text, nullptr, INT32_MAX);
            value_bytes(text, out, limit, -1, mode);
        } else {
            fire_bad_to(value);
        }
    }
    cut(out, mark, limit);
    stack::top = saved;
}

// The bytes append, insert and change write for the value and its /part
// argument (below 0 when absent). A block's /part counts values, or with
// /only bytes across all of its values; any other value's /part counts its
// bytes. Without /part nothing is capped, and /part 0 adds nothing.
std::vector<uint8_t> bytes_for(const Cell* value, int32_t part, bool only, Mode mode) {
    std::vector<uint8_t> out;
    uint32_t t = type_of(value);
    bool block = t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH;
    if (block && !only)
        value_bytes(value, out, -1, part, mode);
    else
        value_bytes(value, out, part, -1, mode);
    return out;
}

// Replaces removed bytes at offset (from the buffer head) by count copies of
// the run; grows the buffer when short. May collect.
void splice(Cell* series, uint32_t offset, uint32_t removed, const std::vector<uint8_t>& run,
            uint32_t count) {
    uint64_t added = uint64_t{run.size()} * count;
    SeriesBuffer* b = memory::buffer_of(series);
    uint64_t size = uint64_t{b->used_bytes()} - removed + added;
    if (added > MAX_BYTES || size > MAX_BYTES) fire(err::no_memory);
    uint32_t head_room = static_cast<uint32_t>(b->head - arena::ref(b->data()));
    if (size + head_room > b->size)
        b = memory::expand_series(
            b, static_cast<uint32_t>(std::max<uint64_t>(size + head_room, uint64_t{b->size} * 2)));
    uint8_t* at = b->head_ptr() + offset;
    uint32_t after = b->used_bytes() - offset - removed;
    std::memmove(at + added, at + removed, after);
    if (!run.empty()) {
        std::memcpy(at, run.data(), run.size());
        memory::repeat_bytes(at, static_cast<uint32_t>(run.size()), count);
    }
    b->tail = b->head + static_cast<uint32_t>(size);
}

} // namespace

// ---------------------------------------------------------------------------
// Changing
// ---------------------------------------------------------------------------

void check_byte(const Cell* value) {
    uint32_t t = type_of(value);
    if (t == TYPE_INTEGER) {
        int32_t n = get_integer(value);
        if (n <= 255 && n >= -128) return;
    } else if (t == TYPE_CHAR) {
        return;
    }
    fire(err::invalid_arg, value);
}

void set_byte(uint8_t* at, const Cell* value) {
    check_byte(value);
    *at = static_cast<uint8_t>(value->data2);
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    uint32_t index = static_cast<uint32_t>(series->data1);
    uint32_t length = memory::buffer_of(series)->used_bytes();
    if (index > length) series->data1 = index = length;
    uint32_t offset = append ? length : index;
    std::vector<uint8_t> run = bytes_for(value, part, only, Mode::append);
    uint32_t reps = static_cast<uint32_t>(std::max(dup, 1));
    if (dup < 1 || run.empty()) return series;
    uint64_t total = uint64_t{run.size()} * reps;
    if (total > MAX_BYTES) fire(err::no_memory);
    bool told = series::notify(series, series::Change::append, value, static_cast<int32_t>(offset),
                               static_cast<int32_t>(total));
    if (told) {
        length = memory::buffer_of(series)->used_bytes();
        offset = std::min(offset, length);
    }
    splice(series, offset, 0, run, reps);
    if (told)
        series::notify(series, series::Change::appended, value, static_cast<int32_t>(offset),
                       static_cast<int32_t>(total));
    series->data1 = append ? 0 : offset + static_cast<uint32_t>(total);
    return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    uint32_t length = memory::buffer_of(series)->used_bytes();
    if (series->data1 > length) series->data1 = length;
    uint32_t index = series->data1;
    std::vector<uint8_t> run = bytes_for(value, -1, only, Mode::change);
    uint32_t reps = static_cast<uint32_t>(std::max(dup, 1));
    uint64_t total = uint64_t{run.size()} * reps;
    if (total > MAX_BYTES) fire(err::no_memory);
    uint64_t wanted = part >= 0 ? static_cast<uint64_t>(part) : total;
    bool told = series::notify(series, series::Change::change, value, static_cast<int32_t>(index),
                               static_cast<int32_t>(std::min<uint64_t>(wanted, length - index)));
    length = memory::buffer_of(series)->used_bytes();
    index = std::min(index, length);
    uint32_t removed = static_cast<uint32_t>(std::min<uint64_t>(wanted, length - index));
    splice(series, index, removed, run, reps);
    if (told)
        series::notify(series, series::Change::changed, value, static_cast<int32_t>(index),
                       static_cast<int32_t>(total));
    series->data1 = index + static_cast<uint32_t>(total);
    return series;
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    if ((auto_ || lines) && !all && !with) fire(err::not_done);
    std::vector<uint8_t> set;
    if (with) {
        uint32_t wt = type_of(with);
        if (wt == TYPE_CHAR || wt == TYPE_INTEGER) {
            if (with->data2 > 255) fire(err::invalid_arg, with);
            set.push_back(static_cast<uint8_t>(with->data2));
        } else if (wt == TYPE_BINARY) {
            set.assign(ms_head(with), ms_head(with) + ms_length_q(with));
        } else if (is_any_string(wt)) {
            Cell* text = stack::push(with);
            uint32_t unit = string::buffer_of(text)->unit();
            int32_t n = string::ms_length_q(text);
            const uint8_t* p = string::ms_head(text);
            for (int32_t i = 0; i < n; i++) {
                uint32_t c = string::get_char(p + size_t(i) * unit, unit);
                if (c <= 255) set.push_back(static_cast<uint8_t>(c));
            }
            stack::pop(1);
        } else {
            fire(err::invalid_arg, with);
        }
    }
    int32_t before = ms_length_q(series);
    bool told = series::notify(series, series::Change::trim, nullptr,
                               static_cast<int32_t>(series->data1), before);
    uint32_t length = memory::buffer_of(series)->used_bytes();
    if (series->data1 > length) series->data1 = length;
    uint32_t index = series->data1;
    SeriesBuffer* b = memory::buffer_of(series);
    uint8_t* start = b->head_ptr() + index;
    uint8_t* end = b->tail_ptr();
    uint8_t* out;
    if (with || all) {
        if (set.empty()) set.push_back(0);
        bool drop[256] = {};
        for (uint8_t c : set) drop[c] = true;
        out = std::remove_if(start, end, [&](uint8_t c) { return drop[c]; });
    } else {
        bool strip_head = head || !tail, strip_tail = tail || !head;
        uint8_t* first = start;
        uint8_t* last = end;
        if (strip_head)
            while (first < last && *first == 0) first++;
        if (strip_tail)
            while (last > first && last[-1] == 0) last--;
        std::memmove(start, first, static_cast<size_t>(last - first));
        out = start + (last - first);
    }
    b->tail = arena::ref(out);
    if (told)
        series::notify(series, series::Change::trimmed, nullptr, static_cast<int32_t>(index),
                       static_cast<int32_t>(out - start));
    return series;
}

// ---------------------------------------------------------------------------
// Conversion
// ---------------------------------------------------------------------------

namespace {

void put_be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

Cell* push_bytes(const std::vector<uint8_t>& bytes) {
    return make_from_bytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

} // namespace

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    std::vector<uint8_t> out;
    switch (t) {
    case TYPE_INTEGER:
        put_be32(out, spec->data2);
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
        put_be32(out, spec->data3);
        put_be32(out, spec->data2);
        break;
    case TYPE_ISSUE: {
        size_t length = 0;
        const char* name = symbol::name_utf8(spec->data2, &length);
        std::vector<uint8_t> text(name, name + length);
        node_t node = decode_base16(text.data(), static_cast<int32_t>(text.size()), 1);
        if (!node) fire(err::invalid_data, spec);
        return make_series(stack::push_cell(), TYPE_BINARY, node);
    }
    case TYPE_BITSET: {
        SeriesBuffer* b = memory::buffer_of(spec);
        out.assign(b->head_ptr(), b->tail_ptr());
        break;
    }
    case TYPE_BINARY:
        out.assign(ms_head(spec), ms_head(spec) + ms_length_q(spec));
        break;
    case TYPE_IMAGE:
        return image::extract_data(spec, image::CHANNEL_ARGB);
    default:
        value_bytes(spec, out, -1, -1, Mode::to);
    }
    return push_bytes(out);
}

// ---------------------------------------------------------------------------
// Bitwise
// ---------------------------------------------------------------------------

namespace {

// A op B into a new binary as long as the longer operand; past the shorter
// one or~ and xor~ copy the longer one's bytes and and~ gives zeros.
Cell* bitwise(int32_t op) {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    if (type_of(b) != TYPE_BINARY) fire(err::invalid_arg, b);
    uint32_t na = static_cast<uint32_t>(ms_length_q(a)), nb = static_cast<uint32_t>(ms_length_q(b));
    uint32_t n = std::max(na, nb);
    node_t node = memory::alloc_bytes(n);
    SeriesBuffer* out = memory::buffer_of(node);
    uint8_t* o = out->head_ptr();
    const uint8_t* pa = ms_head(a);
    const uint8_t* pb = ms_head(b);
    for (uint32_t i = 0; i < n; i++) {
        bool in_a = i < na, in_b = i < nb;
        uint8_t x = in_a ? pa[i] : 0, y = in_b ? pb[i] : 0;
        switch (op) {
        case OP_AND:
            o[i] = in_a && in_b ? static_cast<uint8_t>(x & y) : 0;
            break;
        case OP_OR:
            o[i] = static_cast<uint8_t>(x | y);
            break;
        default:
            o[i] = static_cast<uint8_t>(x ^ y);
        }
    }
    out->tail = out->head + n;
    a->data1 = 0;
    a->data2 = node;
    return a;
}

} // namespace

Cell* and_t() { return bitwise(OP_AND); }
Cell* or_t() { return bitwise(OP_OR); }
Cell* xor_t() { return bitwise(OP_XOR); }

Cell* complement(Cell* value) {
    int32_t n = ms_length_q(value);
    uint8_t* p = ms_head(value);
    for (int32_t i = 0; i < n; i++) p[i] = static_cast<uint8_t>(~p[i]);
    return value;
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::none();
    slots.set<A_TO>(&to).set<A_FORM>(&form).set<A_MOLD>(&mold).set<A_COMPARE>(&compare);
    slots.set<A_AND_T>(&and_t).set<A_OR_T>(&or_t).set<A_XOR_T>(&xor_t);
    slots.set<A_COMPLEMENT>(&complement).set<A_APPEND>(&insert).set<A_INSERT>(&insert);
    slots.set<A_CHANGE>(&change).set<A_TRIM>(&trim);
    for (Action a :
         {A_MAKE,    A_RANDOM, A_REFLECT, A_EVAL_PATH, A_AT,   A_BACK, A_CLEAR,  A_COPY, A_FIND,
          A_HEAD,    A_HEAD_Q, A_INDEX_Q, A_LENGTH_Q,  A_MOVE, A_NEXT, A_PICK,   A_POKE, A_REMOVE,
          A_REVERSE, A_SELECT, A_SORT,    A_SKIP,      A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE, A_MODIFY})
        slots.slot[a - 1] = datatype::INHERIT;
    datatype::register_type(TYPE_BINARY, TYPE_STRING, "binary!", slots);
}

} // namespace mox::binary
