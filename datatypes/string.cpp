// string!: storage routines, loading text from bytes, and the actions that
// make and change strings (make, to, form, eval-path, append, insert, change,
// swap, take, the set operations) and the registration (see string.h).
//
// Every change that adds text goes through splice: the text comes from a
// string cell the collector sees (the value itself, or a string built for it
// on the stack), so the target can grow and widen while the source stays
// readable. A source in the target's own buffer is copied first.
#include "datatypes/string.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/console.h"
#include "core/datatype.h"
#include "core/dtoa.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/vector.h"

namespace mox::string {

using memory::SeriesBuffer;

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFFFFF0;

inline uint32_t len_of(const SeriesBuffer* b) { return b->used_bytes() / b->unit(); }
inline uint8_t* unit_at(SeriesBuffer* b, uint32_t offset) {
    return b->head_ptr() + offset * b->unit();
}

// The unit a code point needs when appended, and when written or inserted
// at an index.
inline uint32_t append_unit(uint32_t cp) { return cp < 0x80 ? 1 : cp <= 0xFFFF ? 2 : 4; }
inline uint32_t store_unit(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// Makes room for extra bytes after the tail, at least doubling the buffer so
// that appending one character at a time stays linear. May collect.
SeriesBuffer* reserve(Cell* str, uint64_t extra) {
    SeriesBuffer* b = buffer_of(str);
    if (static_cast<uint64_t>(b->end() - b->tail_ptr()) >= extra) return b;
    uint64_t needed = uint64_t{b->used_bytes()} + extra;
    if (needed > MAX_BYTES) fire(err::no_memory);
    uint64_t size = std::min(std::max(needed, uint64_t{b->size} * 2), MAX_BYTES);
    return memory::expand_series(b, static_cast<uint32_t>(size));
}

SeriesBuffer* widen_for(Cell* str, uint32_t unit) {
    SeriesBuffer* b = buffer_of(str);
    return unit > b->unit() ? widen_unit(str, unit) : b;
}

// A new string pushed on the stack holding count units of the node's buffer
// from the offset (same unit). May collect.
Cell* push_snapshot(const Cell* str, uint32_t offset, uint32_t count) {
    Cell* copy = stack::push(str);
    SeriesBuffer* b = buffer_of(str);
    Cell* out = stack::push_cell();
    make_at(out, count, b->unit());
    b = buffer_of(copy);
    SeriesBuffer* ob = buffer_of(out);
    std::memcpy(ob->head_ptr(), unit_at(b, offset), count * b->unit());
    ob->tail = ob->head + count * b->unit();
    *copy = *out;
    stack::pop(1);
    return copy;
}

// Replaces removed units at the offset of str by count units of source (a
// string cell from source_index) repeated dup times. The target is widened
// to the source's unit first. May collect.
void splice(Cell* str, uint32_t offset, uint32_t removed, const Cell* source, uint32_t source_index,
            uint32_t count, uint32_t dup) {
    uint64_t total = uint64_t{count} * dup;
    if (total > MAX_BYTES) fire(err::no_memory);
    uint32_t su = buffer_of(source)->unit();
    SeriesBuffer* b = widen_for(str, su);
    uint32_t unit = b->unit();
    uint32_t len = len_of(b);
    offset = std::min(offset, len);
    removed = std::min(removed, len - offset);
    count = std::min(count,
                     len_of(buffer_of(source)) - std::min(source_index, len_of(buffer_of(source))));
    total = uint64_t{count} * dup;
    uint64_t new_len = uint64_t{len} - removed + total;
    if (new_len * unit > MAX_BYTES) fire(err::no_memory);
    if (total > removed) b = reserve(str, (total - removed) * unit);
    SeriesBuffer* sb = buffer_of(source);
    uint8_t* at = unit_at(b, offset);
    std::memmove(at + total * unit, at + uint64_t{removed} * unit, (len - offset - removed) * unit);
    const uint8_t* from = unit_at(sb, source_index);
    if (su == unit) {
        std::memcpy(at, from, uint64_t{count} * unit);
    } else {
        for (uint32_t i = 0; i < count; i++)
            put_char(at + i * unit, unit, get_char(from + i * su, su));
    }
    if (dup > 1 && count > 0) memory::repeat_bytes(at, count * unit, dup);
    b->tail = b->head + static_cast<uint32_t>(new_len * unit);
}

// A word or symbol's name as UTF-8 bytes, copied out of its buffer.
std::string name_of(const Cell* value) {
    uint32_t t = type_of(value);
    if (t == TYPE_SYMBOL) {
        SeriesBuffer* b = memory::buffer_of(value->data3);
        return std::string(reinterpret_cast<const char*>(b->head_ptr()), b->used_bytes());
    }
    size_t n = 0;
    const char* p = symbol::name_utf8(value->data2, &n);
    return std::string(p, n);
}

inline bool text_value_q(uint32_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL || t == TYPE_REF;
}

// The text that append, insert and change add for a value: a string cell
// (the value, or one built for it on the stack) and the units to take from
// its index. part >= 0 limits the units, counting a tag's brackets.
Cell* source_text(Cell* target, Cell* value, int32_t part, uint32_t* count) {
    uint32_t t = type_of(value);
    Cell* src;
    if (text_value_q(t)) {
        uint32_t len = static_cast<uint32_t>(ms_length_q(value));
        src = value->data2 == target->data2 ? push_snapshot(value, value->data1, len) : value;
    } else if (t == TYPE_CHAR) {
        src = push_new(1, append_unit(value->data2));
        append_char(src, value->data2);
    } else if (t == TYPE_TAG) {
        src = push_new(static_cast<uint32_t>(ms_length_q(value)) + 2);
        append_char(src, '<');
        concatenate(src, value);
        append_char(src, '>');
    } else if (is_any_block(t)) {
        src = push_new(16);
        Cell* limit = make_integer(stack::push_cell(), part);
        Cell* item = stack::push_cell();
        int32_t allowance = part >= 0 ? part : INT32_MAX;
        for (uint32_t i = value->data1; i < series::abs_length(value); i++) {
            if (part >= 0 && allowance < 1) break;
            *item = series::buffer_of(value)->cells()[i];
            allowance = actions::form(item, src, part >= 0 ? limit : nullptr, allowance);
        }
    } else {
        src = push_new(16);
        actions::form(value, src, nullptr, INT32_MAX);
    }
    uint32_t n = static_cast<uint32_t>(ms_length_q(src));
    *count = part >= 0 ? std::min(n, static_cast<uint32_t>(part)) : n;
    return src;
}

// Whether a value holds text that swap can exchange characters with.
inline bool swappable_q(uint32_t t) { return is_any_string(t) || t == TYPE_BINARY; }

// Writes a code point into a string, or a byte into a binary!.
void write_unit(Cell* s, uint32_t offset, uint32_t cp) {
    if (type_of(s) == TYPE_BINARY)
        *unit_at(buffer_of(s), offset) = static_cast<uint8_t>(cp);
    else
        overwrite_char_at(s, offset, cp);
}

// The key of a record: its first character, upper-cased unless case_.
uint32_t record_key(Cell* str, uint32_t offset, bool case_) {
    uint32_t cp = abs_char_at(str, offset);
    return case_ ? cp : unicode::to_upper(cp);
}

// The keys of every record of a string from its index.
std::unordered_set<uint32_t> record_keys(Cell* str, bool case_, int32_t size) {
    std::unordered_set<uint32_t> keys;
    uint32_t len = static_cast<uint32_t>(ms_length_q(str));
    for (uint32_t r = 0; r < len; r += static_cast<uint32_t>(size))
        keys.insert(record_key(str, str->data1 + r, case_));
    return keys;
}

// The record's first character is tested; the whole record is kept. other
// (the keys of the second set) filters the records when given; taken holds
// the keys already in the result, so each test is one hash lookup.
void set_pass(Cell* result, Cell* src, const std::unordered_set<uint32_t>* other, bool keep_found,
              bool case_, int32_t size, std::unordered_set<uint32_t>& taken) {
    uint32_t len = static_cast<uint32_t>(ms_length_q(src));
    for (uint32_t r = 0; r < len; r += static_cast<uint32_t>(size)) {
        uint32_t start = src->data1 + r;
        uint32_t key = record_key(src, start, case_);
        if (other && (other->count(key) != 0) != keep_found) continue;
        if (!taken.insert(key).second) continue;
        uint32_t end = std::min(len, r + static_cast<uint32_t>(size)) + src->data1;
        for (uint32_t i = start; i < end; i++)
            overwrite_char(result, static_cast<uint32_t>(total_length(result)),
                           abs_char_at(src, i));
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Making strings
// ---------------------------------------------------------------------------

Cell* make_at(Cell* slot, uint32_t units, uint32_t unit, uint32_t type) {
    node_t node = memory::alloc_units(units, unit);
    *slot = Cell{type, 0, node, 0};
    return slot;
}

Cell* ms_make_at(Cell* slot, uint32_t units, uint32_t unit) {
    if (units == 0) return make_at(slot, 1, 1);
    return make_at(slot, units, unit);
}

Cell* push_new(uint32_t units, uint32_t unit) {
    Cell* slot = stack::push_cell();
    make_none(slot);
    return make_at(slot, units, unit);
}

Cell* push(const Cell* str) { return stack::push(str); }

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

int32_t ms_length_q(Cell* str) { return series::get_length(str, false); }

int32_t total_length(const Cell* str) { return static_cast<int32_t>(len_of(buffer_of(str))); }

uint8_t* ms_head(Cell* str) {
    ms_length_q(str);
    return unit_at(buffer_of(str), str->data1);
}

uint8_t* ms_tail(const Cell* str) { return buffer_of(str)->tail_ptr(); }

bool ms_tail_q(const Cell* str) { return series::ms_tail_q(str); }

uint32_t abs_char_at(const Cell* str, uint32_t offset) {
    SeriesBuffer* b = buffer_of(str);
    return get_char(unit_at(b, offset), b->unit());
}

int32_t find_char(Cell* str, uint32_t cp) {
    int32_t len = ms_length_q(str);
    SeriesBuffer* b = buffer_of(str);
    uint32_t unit = b->unit();
    const uint8_t* p = unit_at(b, str->data1);
    for (int32_t i = 0; i < len; i++)
        if (get_char(p + i * unit, unit) == cp) return i;
    return -1;
}

bool has_char_q(Cell* str, uint32_t cp, bool case_sensitive, int32_t step) {
    int32_t len = ms_length_q(str);
    SeriesBuffer* b = buffer_of(str);
    uint32_t unit = b->unit();
    const uint8_t* p = unit_at(b, str->data1);
    if (!case_sensitive) cp = unicode::to_upper(cp);
    for (int32_t i = 0; i < len; i += std::max(step, 1)) {
        uint32_t c = get_char(p + i * unit, unit);
        if (!case_sensitive) c = unicode::to_upper(c);
        if (c == cp) return true;
    }
    return false;
}

bool match_literal_q(Cell* str, const char* text) {
    uint32_t len = static_cast<uint32_t>(ms_length_q(str));
    size_t n = std::strlen(text);
    if (n > len) return false;
    for (size_t i = 0; i < n; i++)
        if (abs_char_at(str, str->data1 + static_cast<uint32_t>(i)) !=
            static_cast<uint8_t>(text[i]))
            return false;
    return true;
}

// ---------------------------------------------------------------------------
// Changing
// ---------------------------------------------------------------------------

void ms_reset(Cell* str) {
    SeriesBuffer* b = buffer_of(str);
    b->tail = b->head;
    b->flags = (b->flags & ~memory::SERIES_UNIT_MASK) | 1;
    str->data1 = 0;
}

void ms_truncate(Cell* str, uint32_t n) {
    SeriesBuffer* b = buffer_of(str);
    if (len_of(b) > n) b->tail = b->head + n * b->unit();
}

void remove_char(Cell* str, uint32_t offset) { remove_chars(str, offset, 1); }

void remove_chars(Cell* str, uint32_t offset, uint32_t n) {
    SeriesBuffer* b = buffer_of(str);
    uint32_t len = len_of(b);
    if (offset >= len) return;
    n = std::min(n, len - offset);
    uint8_t* at = unit_at(b, offset);
    uint32_t bytes = n * b->unit();
    std::memmove(at, at + bytes, b->tail_ptr() - at - bytes);
    b->tail -= bytes;
}

void append_char(Cell* str, uint32_t cp) {
    widen_for(str, append_unit(cp));
    SeriesBuffer* b = reserve(str, buffer_of(str)->unit());
    put_char(b->tail_ptr(), b->unit(), cp);
    b->tail += b->unit();
}

void overwrite_char(Cell* str, uint32_t offset, uint32_t cp) {
    if (offset < len_of(buffer_of(str))) return overwrite_char_at(str, offset, cp);
    widen_for(str, store_unit(cp));
    SeriesBuffer* b = reserve(str, buffer_of(str)->unit());
    put_char(b->tail_ptr(), b->unit(), cp);
    b->tail += b->unit();
}

void overwrite_char_at(Cell* str, uint32_t offset, uint32_t cp) {
    SeriesBuffer* b = widen_for(str, store_unit(cp));
    put_char(unit_at(b, offset), b->unit(), cp);
}

void insert_char(Cell* str, uint32_t offset, uint32_t cp) {
    widen_for(str, store_unit(cp));
    SeriesBuffer* b = reserve(str, buffer_of(str)->unit());
    uint32_t unit = b->unit();
    offset = std::min(offset, len_of(b));
    uint8_t* at = unit_at(b, offset);
    std::memmove(at + unit, at, b->tail_ptr() - at);
    put_char(at, unit, cp);
    b->tail += unit;
}

void move_chars(Cell* from, Cell* to, uint32_t n) {
    uint32_t src = from->data1;
    n = std::min(n, static_cast<uint32_t>(ms_length_q(from)));
    uint32_t dst = std::min(to->data1, static_cast<uint32_t>(total_length(to)));
    for (uint32_t i = 0; i < n; i++) insert_char(to, dst + i, abs_char_at(from, src + i));
    remove_chars(from, src, n);
}

SeriesBuffer* widen_unit(Cell* str, uint32_t unit) {
    SeriesBuffer* b = buffer_of(str);
    uint32_t from = b->unit();
    if (unit <= from) return b;
    if (from == 1) return unit == 2 ? unicode::latin1_to_ucs2(b) : unicode::latin1_to_ucs4(b);
    return unicode::ucs2_to_ucs4(b);
}

node_t convert_unit(node_t source, uint32_t unit, node_t target) {
    collector::Root keep_source(&source);
    uint32_t len = len_of(memory::buffer_of(source));
    uint32_t bytes = len * unit;
    if (!target) {
        target = memory::alloc_units(len, unit);
    } else {
        collector::Root keep_target(&target);
        SeriesBuffer* t = memory::buffer_of(target);
        if (static_cast<uint32_t>(t->end() - t->head_ptr()) < bytes)
            memory::expand_buffer(t, bytes);
    }
    SeriesBuffer* s = memory::buffer_of(source);
    SeriesBuffer* t = memory::buffer_of(target);
    t->flags = (t->flags & ~memory::SERIES_UNIT_MASK) | unit;
    uint32_t su = s->unit();
    for (uint32_t i = 0; i < len; i++)
        put_char(t->head_ptr() + i * unit, unit, get_char(s->head_ptr() + i * su, su));
    t->tail = t->head + bytes;
    return target;
}

void concatenate(Cell* str, const Cell* value, int32_t part) {
    uint32_t t = type_of(value);
    if (t == TYPE_SYMBOL || is_any_word(t)) {
        std::string name = name_of(value);
        if (part >= 0 && static_cast<size_t>(part) < name.size()) {
            const uint8_t* p = unicode::skip_utf8_chars(
                reinterpret_cast<const uint8_t*>(name.data()),
                reinterpret_cast<const uint8_t*>(name.data() + name.size()),
                static_cast<uint32_t>(part));
            name.resize(static_cast<size_t>(p - reinterpret_cast<const uint8_t*>(name.data())));
        }
        return append_utf8(str, name.data(), name.size());
    }
    Cell* saved = stack::top;
    const Cell* src = value;
    SeriesBuffer* vb = buffer_of(value);
    uint32_t index = std::min(value->data1, len_of(vb));
    uint32_t count = len_of(vb) - index;
    if (part >= 0) count = std::min(count, static_cast<uint32_t>(part));
    if (value->data2 == str->data2) {
        src = push_snapshot(value, index, count);
        index = 0;
    }
    splice(str, len_of(buffer_of(str)), 0, src, index, count, 1);
    stack::top = saved;
}

void overwrite(Cell* str, const Cell* value, uint32_t offset) {
    Cell* saved = stack::top;
    SeriesBuffer* vb = buffer_of(value);
    uint32_t index = std::min(value->data1, len_of(vb));
    uint32_t count = len_of(vb) - index;
    const Cell* src = value;
    if (value->data2 == str->data2) {
        src = push_snapshot(value, index, count);
        index = 0;
    }
    uint32_t len = len_of(buffer_of(str));
    offset = std::min(offset, len);
    splice(str, offset, std::min(count, len - offset), src, index, count, 1);
    stack::top = saved;
}

void append_chars(Cell* str, const uint32_t* points, size_t n) {
    if (n == 0) return;
    uint32_t top = *std::max_element(points, points + n);
    widen_for(str, append_unit(top));
    SeriesBuffer* b = reserve(str, uint64_t{n} * buffer_of(str)->unit());
    uint32_t unit = b->unit();
    uint8_t* p = b->tail_ptr();
    for (size_t i = 0; i < n; i++, p += unit) put_char(p, unit, points[i]);
    b->tail += static_cast<uint32_t>(n) * unit;
}

void concatenate_literal(Cell* str, const char* text) {
    append_bytes(str, reinterpret_cast<const uint8_t*>(text),
                 static_cast<uint32_t>(std::strlen(text)));
}

void append_bytes(Cell* str, const uint8_t* bytes, uint32_t n) {
    std::vector<uint32_t> points(bytes, bytes + n);
    append_chars(str, points.data(), points.size());
}

void append_utf8(Cell* str, const char* utf8, size_t length) {
    std::vector<uint32_t> points;
    points.reserve(length);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8);
    const uint8_t* end = p + length;
    while (p < end) {
        if (*p < 0x80) {
            points.push_back(*p++);
            continue;
        }
        uint32_t available = static_cast<uint32_t>(end - p);
        int32_t cp = unicode::decode_utf8_char(p, &available);
        if (cp < 0) break;
        points.push_back(static_cast<uint32_t>(cp));
        p += available;
    }
    append_chars(str, points.data(), points.size());
}

void rotate(Cell* str, uint32_t offset, uint32_t n) {
    SeriesBuffer* b = buffer_of(str);
    uint32_t len = len_of(b);
    n = std::min(n, len);
    offset = std::min(offset, len - n);
    uint32_t unit = b->unit();
    std::vector<uint8_t> run(unit_at(b, len - n), b->tail_ptr());
    uint8_t* at = unit_at(b, offset);
    std::memmove(at + n * unit, at, (len - n - offset) * unit);
    std::memcpy(at, run.data(), run.size());
}

int32_t append_indent(Cell* str, int32_t n, int32_t limit) {
    for (int32_t i = 0; i < n; i++) concatenate_literal(str, "    ");
    return limit - 4 * n;
}

Cell* change_case(Cell* value, Cell* part, bool upper) {
    if (type_of(value) == TYPE_CHAR) {
        value->data2 = unicode::change_case(value->data2, upper);
        return value;
    }
    int32_t len = ms_length_q(value);
    int32_t count = part ? series::part_count(value, part) : len;
    count = std::clamp(count, 0, len);
    uint32_t index = value->data1;
    for (uint32_t i = index; i < index + static_cast<uint32_t>(count); i++)
        overwrite_char_at(value, i, unicode::change_case(abs_char_at(value, i), upper));
    series::notify(value, upper ? series::Change::uppercase : series::Change::lowercase, nullptr,
                   static_cast<int32_t>(index), count);
    return value;
}

// ---------------------------------------------------------------------------
// Numbers and hexadecimal text
// ---------------------------------------------------------------------------

std::array<char, 3> byte_to_hex(uint8_t byte) {
    static constexpr char digits[] = "0123456789ABCDEF";
    return {digits[byte >> 4], digits[byte & 15], 0};
}

std::array<char, 9> to_hex(int32_t n, bool short_form) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::array<char, 9> out{};
    uint32_t u = static_cast<uint32_t>(n);
    for (int i = 7; i >= 0; i--, u >>= 4) out[static_cast<size_t>(i)] = digits[u & 15];
    if (short_form) {
        if (n == 0) return {'0', '0', 0};
        size_t skip = 0;
        while (out[skip] == '0') skip++;
        std::array<char, 9> digits_only{};
        std::memcpy(digits_only.data(), out.data() + skip, 8 - skip);
        return digits_only;
    }
    return out;
}

double to_float(const uint8_t* start, const uint8_t* end) {
    int rest = 0;
    return dtoa::string_to_double(reinterpret_cast<const char*>(start),
                                  reinterpret_cast<const char*>(end), 0, &rest);
}

// ---------------------------------------------------------------------------
// Loading text from bytes
// ---------------------------------------------------------------------------

Cell* load_at(const uint8_t* src, uint32_t size, Cell* slot, int32_t encoding) {
    if (!slot) slot = make_none(stack::push_cell());
    node_t node;
    if (encoding == ENCODING_UTF8) {
        node = unicode::load_utf8(src, size, 0, nullptr, false);
    } else if (encoding == ENCODING_UTF16LE) {
        std::vector<char16_t> units(size);
        if (size) std::memcpy(units.data(), src, size * sizeof(char16_t));
        node = unicode::load_utf16(units.data(), size, nullptr, false);
    } else {
        console::write_cstring("*** Loading Error: input encoding unsupported\n");
        sys_quit_status(0);
    }
    *slot = Cell{TYPE_STRING, 0, node, 0};
    return slot;
}

Cell* load_in(const uint8_t* src, uint32_t size, node_t block, int32_t encoding) {
    collector::Root keep(&block);
    Cell* loaded = load_at(src, size, nullptr, encoding);
    Cell* cell = memory::alloc_tail(block);
    *cell = *loaded;
    stack::pop(1);
    return cell;
}

Cell* load(const uint8_t* src, uint32_t size, int32_t encoding) {
    return load_at(src, size, nullptr, encoding);
}

Cell* decode_utf8(const Cell* binary, Cell* slot) {
    node_t node = unicode::load_utf8_binary(binary);
    *slot = Cell{TYPE_STRING, 0, node, 0};
    return slot;
}

// ---------------------------------------------------------------------------
// Actions: making and converting
// ---------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t st = type_of(spec);
    if (type == TYPE_BINARY && st == TYPE_MONEY)
        fire_bad_make_arg(static_cast<uint32_t>(type), spec);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        int32_t n = integer::get_int(spec);
        if (n < 0) fire(err::out_of_range, spec);
        Cell* result = make_none(stack::push_cell());
        return make_at(result, static_cast<uint32_t>(n), 1, static_cast<uint32_t>(type));
    }
    auto to_fn = datatype::get<A_TO>(static_cast<uint32_t>(type));
    if (!to_fn) fire_bad_make_arg(static_cast<uint32_t>(type), spec);
    return to_fn(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    uint32_t st = type_of(spec);
    Cell* result;
    if (st == TYPE_NONE) {
        Cell dt;
        make_datatype(&dt, static_cast<uint32_t>(type));
        fire(err::bad_to_arg, &dt, spec);
    } else if (is_any_block(st)) {
        result = push_new(16);
        insert(result, spec, -1, false, 1, true);
    } else if (is_any_string(st)) {
        result = make_none(stack::push_cell());
        series::copy(spec, result, nullptr, false, nullptr);
    } else if (st == TYPE_REFINEMENT) {
        result = push_new(16);
        if (type != TYPE_STRING) append_char(result, '/');
        concatenate(result, spec);
    } else if (st == TYPE_BINARY) {
        result = decode_utf8(spec, make_none(stack::push_cell()));
    } else {
        result = push_new(16);
        actions::form(spec, result, nullptr, INT32_MAX);
    }
    set_type(result, static_cast<uint32_t>(type));
    result->header &= ~FLAG_NEW_LINE;
    return result;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    int32_t len = ms_length_q(value);
    concatenate(buffer, value, part ? std::clamp(limit, 0, len) : len);
    return limit - len;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    uint32_t et = type_of(element);
    if (et == TYPE_INTEGER) {
        if (!value) return series::pick(parent, get_integer(element), element);
        return series::poke(parent, get_integer(element), value, element);
    }
    if (et == TYPE_WORD) {
        Cell none;
        make_none(&none);
        fire(err::invalid_path, path ? path : &none, element);
    }
    if (!value)
        return select(parent, element, nullptr, false, case_, false, false, nullptr, nullptr, false,
                      false);
    Cell* found = find(parent, element, nullptr, false, case_, false, false, nullptr, nullptr,
                       false, false, false, false);
    if (type_of(found) == TYPE_NONE) {
        Cell none;
        make_none(&none);
        fire(err::bad_path_set, path ? path : &none, element);
    }
    return series::poke(found, 2, value, nullptr);
}

// ---------------------------------------------------------------------------
// Actions: adding and exchanging text
// ---------------------------------------------------------------------------

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    Cell* saved = stack::top;
    ms_length_q(series);
    uint32_t index = series->data1;
    uint32_t offset = append ? static_cast<uint32_t>(total_length(series)) : index;
    uint32_t count = 0;
    Cell* src = source_text(series, value, part, &count);
    uint64_t total = uint64_t{count} * static_cast<uint32_t>(std::max(dup, 1));
    if (total > MAX_BYTES) fire(err::no_memory);
    series::Change before = append ? series::Change::append : series::Change::insert;
    series::Change after = append ? series::Change::appended : series::Change::inserted;
    bool told = series::notify(series, before, value, static_cast<int32_t>(offset),
                               static_cast<int32_t>(total));
    splice(series, offset, 0, src, src->data1, count, static_cast<uint32_t>(std::max(dup, 1)));
    if (told)
        series::notify(series, after, value, static_cast<int32_t>(offset),
                       static_cast<int32_t>(total));
    stack::top = saved;
    series->data1 = append ? 0 : index + static_cast<uint32_t>(total);
    return series;
}

// memcpy for the few bytes a string built piece by piece usually gets,
// without the library call: two overlapping loads and stores cover 4 to 16
// bytes, three single bytes cover 1 to 3.
namespace {
inline void copy_bytes(unsigned char* dst, const unsigned char* src, uint32_t n) {
    if (n > 16) {
        std::memcpy(dst, src, n);
    } else if (n >= 8) {
        uint64_t a, b;
        std::memcpy(&a, src, 8);
        std::memcpy(&b, src + n - 8, 8);
        std::memcpy(dst, &a, 8);
        std::memcpy(dst + n - 8, &b, 8);
    } else if (n >= 4) {
        uint32_t a, b;
        std::memcpy(&a, src, 4);
        std::memcpy(&b, src + n - 4, 4);
        std::memcpy(dst, &a, 4);
        std::memcpy(dst + n - 4, &b, 4);
    } else if (n) {
        unsigned char a = src[0], m = src[n / 2], z = src[n - 1];
        dst[0] = a;
        dst[n / 2] = m;
        dst[n - 1] = z;
    }
}
} // namespace

bool append_in_place(Cell* str, Cell* value) {
    if (type_of(str) != TYPE_STRING || !text_value_q(type_of(value)) || value->data2 == str->data2)
        return false;
    SeriesBuffer* b = buffer_of(str);
    SeriesBuffer* sb = buffer_of(value);
    uint32_t unit = b->unit();
    if ((b->flags & memory::SERIES_OWNED) || sb->unit() != unit) return false;
    // Counted in bytes: a division by the unit costs more than the copy.
    uint32_t used = sb->used_bytes();
    uint32_t from = static_cast<uint32_t>(std::min(uint64_t{value->data1} * unit, uint64_t{used}));
    uint32_t bytes = used - from;
    if (static_cast<uint32_t>(b->end() - b->tail_ptr()) < bytes) return false;
    copy_bytes(b->tail_ptr(), sb->head_ptr() + from, bytes);
    b->tail += bytes;
    str->data1 = 0;
    return true;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    uint32_t room = static_cast<uint32_t>(ms_length_q(series));
    if (room == 0) return insert(series, value, -1, only, dup, false);
    Cell* saved = stack::top;
    uint32_t index = series->data1;
    uint32_t count = 0;
    Cell* src = source_text(series, value, -1, &count);
    uint32_t reps = static_cast<uint32_t>(std::max(dup, 1));
    uint64_t total = uint64_t{count} * reps;
    if (total > MAX_BYTES) fire(err::no_memory);
    uint64_t wanted = part >= 0 ? static_cast<uint64_t>(part) : total;
    uint32_t removed = static_cast<uint32_t>(std::min<uint64_t>(wanted, room));
    bool told = series::notify(series, series::Change::change, value, static_cast<int32_t>(index),
                               static_cast<int32_t>(removed));
    splice(series, index, removed, src, src->data1, count, reps);
    if (told)
        series::notify(series, series::Change::changed, value, static_cast<int32_t>(index),
                       static_cast<int32_t>(total));
    stack::top = saved;
    series->data1 = index + static_cast<uint32_t>(total);
    return series;
}

Cell* swap(Cell* series1, Cell* series2) {
    if (!swappable_q(type_of(series2))) fire(err::invalid_arg, series2);
    if (series::ms_tail_q(series1) || series::ms_tail_q(series2)) return series1;
    uint32_t i1 = series1->data1, i2 = series2->data1;
    uint32_t c1 = abs_char_at(series1, i1), c2 = abs_char_at(series2, i2);
    if (type_of(series1) == TYPE_BINARY && c2 > 0xFF)
        fire_int(err::out_of_range, static_cast<int32_t>(c2));
    if (type_of(series2) == TYPE_BINARY && c1 > 0xFF)
        fire_int(err::out_of_range, static_cast<int32_t>(c1));
    bool told1 =
        series::notify(series1, series::Change::swap, series2, static_cast<int32_t>(i1), 1);
    bool told2 =
        series::notify(series2, series::Change::swap, series1, static_cast<int32_t>(i2), 1);
    write_unit(series1, i1, c2);
    write_unit(series2, i2, c1);
    if (told1)
        series::notify(series1, series::Change::swaped, series2, static_cast<int32_t>(i1), 1);
    if (told2)
        series::notify(series2, series::Change::swaped, series1, static_cast<int32_t>(i2), 1);
    return series1;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    uint32_t t = type_of(series);
    Cell* result = series::take(series, part, deep, last);
    if (part || type_of(result) == TYPE_NONE || total_length(result) != 1) return result;
    if (t == TYPE_VECTOR)
        return vector::read_value(buffer_of(result)->head_ptr(), result->data3,
                                  buffer_of(result)->unit(), result);
    uint32_t cp = abs_char_at(result, 0);
    return t == TYPE_BINARY ? make_integer(result, static_cast<int32_t>(cp))
                            : make_char(result, cp);
}

Cell* do_set_op(Cell* set1, Cell* set2, bool case_, Cell* skip, int32_t op) {
    int32_t size = 1;
    if (skip) {
        if (type_of(skip) != TYPE_INTEGER || get_integer(skip) < 1)
            series::fire_refine_arg("skip", skip);
        size = get_integer(skip);
    }
    uint32_t len1 = static_cast<uint32_t>(ms_length_q(set1));
    uint32_t len2 = set2 ? static_cast<uint32_t>(ms_length_q(set2)) : 0;
    uint32_t unit = std::max(buffer_of(set1)->unit(), set2 ? buffer_of(set2)->unit() : 1u);
    Cell* result = push_new(std::max(1u, len1 + (op == series::SET_UNION ? len2 : 0)), unit);
    std::unordered_set<uint32_t> taken;
    switch (op) {
    case series::SET_UNIQUE:
        set_pass(result, set1, nullptr, false, case_, size, taken);
        break;
    case series::SET_UNION:
        set_pass(result, set1, nullptr, false, case_, size, taken);
        set_pass(result, set2, nullptr, false, case_, size, taken);
        break;
    case series::SET_INTERSECT:
    case series::SET_EXCLUDE: {
        const std::unordered_set<uint32_t> keys2 = record_keys(set2, case_, size);
        set_pass(result, set1, &keys2, op == series::SET_INTERSECT, case_, size, taken);
        break;
    }
    default: {
        const std::unordered_set<uint32_t> keys1 = record_keys(set1, case_, size);
        const std::unordered_set<uint32_t> keys2 = record_keys(set2, case_, size);
        set_pass(result, set1, &keys2, false, case_, size, taken);
        set_pass(result, set2, &keys1, false, case_, size, taken);
        break;
    }
    }
    set1->data1 = 0;
    set1->data2 = result->data2;
    set1->data3 = 0;
    return set1;
}

// ---------------------------------------------------------------------------
// Registration
// ---------------------------------------------------------------------------

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::none();
    slots.set<A_MAKE>(&make)
        .set<A_TO>(&to)
        .set<A_FORM>(&form)
        .set<A_MOLD>(&mold)
        .set<A_EVAL_PATH>(&eval_path)
        .set<A_COMPARE>(&compare)
        .set<A_APPEND>(&insert)
        .set<A_CHANGE>(&change)
        .set<A_FIND>(&find)
        .set<A_INSERT>(&insert)
        .set<A_SELECT>(&select)
        .set<A_SORT>(&sort)
        .set<A_SWAP>(&swap)
        .set<A_TAKE>(&take)
        .set<A_TRIM>(&trim);
    for (Action a : {A_RANDOM, A_REFLECT, A_AT,       A_BACK, A_CLEAR,  A_COPY,  A_HEAD,
                     A_HEAD_Q, A_INDEX_Q, A_LENGTH_Q, A_MOVE, A_NEXT,   A_PICK,  A_POKE,
                     A_REMOVE, A_REVERSE, A_SKIP,     A_TAIL, A_TAIL_Q, A_MODIFY})
        slots.slot[a - 1] = datatype::INHERIT;
    datatype::register_type(TYPE_STRING, TYPE_SERIES, "string!", slots);
}

} // namespace mox::string
