// Native bodies of the series library functions: split, replace, extract,
// pad and rejoin.
//
// Each body runs in the frame of its function (slots as the Mox spec lays
// them out) and handles the shapes that come up in bulk work with the same
// actions the Mox body calls, minus the interpreter's dispatch; replace/all
// on text builds the new text in one pass instead of moving the tail at
// every match. Every other shape (and every error) is left to the Mox body,
// evaluated in the same frame, so the two cannot answer differently.
#include "library/series-bodies.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/cell.h"
#include "core/collector.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"

namespace mox::series_bodies {

namespace {

using routines::run_mox_body;

bool owned_q(const Cell* series) {
    return (memory::buffer_of(series->data2)->flags & memory::SERIES_OWNED) != 0;
}

// Holds collections off over bulk work whose values all stay reachable: a
// collection there would free nothing and only re-mark what was made so
// far; the one owed is paid at the next safe point. Stress mode keeps
// collecting, so that the loops meet moved buffers in the tests.
struct BulkScope {
    bool saved;
    BulkScope() : saved(collector::active_q) {
        if (!collector::stress) collector::active_q = false;
    }
    ~BulkScope() { collector::active_q = saved; }
    BulkScope(const BulkScope&) = delete;
    BulkScope& operator=(const BulkScope&) = delete;
};

// find from the position, as the Mox bodies call it (no refinement but
// /case); pushes the result: none or the position of the match. May collect.
Cell* find_at(Cell* pos, Cell* value, bool case_) {
    return actions::find(pos, value, nullptr, false, case_, false, false, nullptr, nullptr, false,
                         false, false, false);
}

// ---------------------------------------------------------------------------
// Searching unit-1 text
//
// Bulk text mostly sits in unit-1 (Latin-1) buffers; those are searched here
// directly, each candidate compared as find compares it: code point by code
// point, through the upper-case mapping unless the search is case-sensitive.
// ---------------------------------------------------------------------------

// The upper case of each unit-1 code point (some lie above 255).
const uint32_t* upper_table() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t c = 0; c < 256; c++) t[c] = unicode::to_upper(c);
        return t;
    }();
    return table.data();
}

// The code points of a text value from its index, or of a char!, upper-cased
// when fold is set.
std::vector<uint32_t> needle_of(const Cell* value, bool fold) {
    std::vector<uint32_t> points;
    if (type_of(value) == TYPE_CHAR) {
        points.push_back(value->data2);
    } else {
        int32_t length = string::ms_length_q(const_cast<Cell*>(value));
        for (int32_t i = 0; i < length; i++)
            points.push_back(string::abs_char_at(value, value->data1 + static_cast<uint32_t>(i)));
    }
    if (fold)
        for (uint32_t& cp : points) cp = unicode::to_upper(cp);
    return points;
}

// The offset of the first match of the needle in the unit-1 buffer at or
// after from, or -1. fold: the upper-case table, null for case-sensitive.
int64_t scan_latin1(const uint8_t* hay, uint32_t from, uint32_t total,
                    const std::vector<uint32_t>& needle, const uint32_t* fold) {
    uint32_t n = static_cast<uint32_t>(needle.size());
    if (n == 0 || total < n || from > total - n) return -1;
    uint32_t last = total - n;
    if (!fold) {
        for (uint32_t cp : needle)
            if (cp > 0xFF) return -1;
        for (uint32_t s = from; s <= last; s++) {
            const void* p = std::memchr(hay + s, static_cast<int>(needle[0]), last - s + 1);
            if (!p) return -1;
            s = static_cast<uint32_t>(static_cast<const uint8_t*>(p) - hay);
            uint32_t i = 1;
            while (i < n && hay[s + i] == needle[i]) i++;
            if (i == n) return s;
        }
        return -1;
    }
    for (uint32_t s = from; s <= last; s++) {
        if (fold[hay[s]] != needle[0]) continue;
        uint32_t i = 1;
        while (i < n && fold[hay[s + i]] == needle[i]) i++;
        if (i == n) return s;
    }
    return -1;
}

bool latin1_q(const Cell* str) { return string::buffer_of(str)->unit() == 1; }

// Units of a unit-1 string from its index (none past its tail).
uint32_t text_length(const Cell* str) {
    uint32_t used = string::buffer_of(str)->used_bytes();
    return used > str->data1 ? used - str->data1 : 0;
}

// ---------------------------------------------------------------------------
// split: series dlm /local pieces step pos
// ---------------------------------------------------------------------------

void split_body() {
    Cell* args = stack::arguments;
    Cell* dlm = &args[1];
    int32_t step = 1;
    if (type_of(dlm) == TYPE_STRING) {
        step = string::ms_length_q(dlm);
        if (step == 0) return run_mox_body();
    }
    BulkScope bulk;
    Cell* pieces = block::make_at(stack::push_cell(), 8);
    Cell* pos = stack::push(&args[0]);
    Cell* piece = stack::push_cell();
    Cell* base = stack::top;
    if (latin1_q(pos) && type_of(dlm) != TYPE_BITSET) {
        std::vector<uint32_t> needle = needle_of(dlm, false);
        Cell* found = stack::push(pos);
        for (;;) {
            memory::SeriesBuffer* buf = string::buffer_of(pos);
            int64_t at =
                scan_latin1(buf->head_ptr(), pos->data1, buf->used_bytes(), needle, nullptr);
            if (at < 0) break;
            found->data1 = static_cast<uint32_t>(at);
            actions::copy(pos, piece, found, false, nullptr);
            block::ms_append(pieces, piece);
            pos->data1 = found->data1 + static_cast<uint32_t>(step);
        }
    } else {
        for (;;) {
            Cell* found = find_at(pos, dlm, true);
            if (type_of(found) == TYPE_NONE) break;
            actions::copy(pos, piece, found, false, nullptr);
            block::ms_append(pieces, piece);
            // The match lies before the tail, so the skip stays inside.
            pos->data1 = found->data1 + static_cast<uint32_t>(step);
            stack::top = base;
        }
    }
    stack::top = base;
    actions::copy(pos, piece, nullptr, false, nullptr);
    block::ms_append(pieces, piece);
    args[0] = *pieces;
}

// ---------------------------------------------------------------------------
// replace: series pattern value /all /deep /case /local ...
// ---------------------------------------------------------------------------

// replace/all of a text pattern by a text or char in an unowned text: the
// matches are those the Mox body's find loop meets (each search starts after
// the previous match, and the new text is never searched), so the result is
// built once and written over the series from its index.
bool replace_text_q(Cell* args) {
    Cell* series = &args[0];
    Cell* pattern = &args[1];
    Cell* value = &args[2];
    if (!logic::truthy(&args[3]) || !is_any_string(type_of(series)) || owned_q(series))
        return false;
    if (type_of(pattern) != TYPE_STRING || pattern->data2 == series->data2) return false;
    if (type_of(value) == TYPE_STRING) return value->data2 != series->data2;
    return type_of(value) == TYPE_CHAR;
}

// The unit-1 case: the matches are found first, then the new text is
// written in one piece. May collect.
void replace_latin1(Cell* series, const Cell* pattern, const std::vector<uint32_t>& fill,
                    bool case_) {
    std::vector<uint32_t> needle = needle_of(pattern, !case_);
    const uint32_t* fold = case_ ? nullptr : upper_table();
    uint32_t plen = static_cast<uint32_t>(needle.size());
    uint32_t index = series->data1;
    std::vector<uint32_t> starts;
    uint32_t total;
    {
        memory::SeriesBuffer* buf = string::buffer_of(series);
        total = buf->used_bytes();
        int64_t at;
        for (uint32_t from = index;
             (at = scan_latin1(buf->head_ptr(), from, total, needle, fold)) >= 0;
             from = static_cast<uint32_t>(at) + plen)
            starts.push_back(static_cast<uint32_t>(at));
    }
    if (starts.empty()) return;
    uint64_t length = uint64_t{total} - index - uint64_t{starts.size()} * plen +
                      uint64_t{starts.size()} * fill.size();
    if (length > 0x7FF00000u) fire(err::no_memory);
    uint32_t n = static_cast<uint32_t>(length);
    if (n == 0) {
        string::ms_truncate(series, index);
        return;
    }
    Cell* out = string::make_at(stack::push_cell(), n, 1);
    uint8_t* to = memory::alloc_tail_bytes(out->data2, n);
    // Read the series only now: the allocation may have moved it.
    const uint8_t* from = string::buffer_of(series)->head_ptr();
    uint32_t done = index;
    for (uint32_t at : starts) {
        std::memcpy(to, from + done, at - done);
        to += at - done;
        for (uint32_t cp : fill) *to++ = static_cast<uint8_t>(cp);
        done = at + plen;
    }
    std::memcpy(to, from + done, total - done);
    string::ms_truncate(series, index);
    string::concatenate(series, out);
}

void replace_body() {
    Cell* args = stack::arguments;
    if (!replace_text_q(args) || string::ms_length_q(&args[1]) == 0) return run_mox_body();
    Cell* series = &args[0];
    BulkScope bulk;
    bool case_ = logic::truthy(&args[5]);
    uint32_t plen = static_cast<uint32_t>(string::ms_length_q(&args[1]));
    std::vector<uint32_t> fill = needle_of(&args[2], false);
    bool narrow_fill = true;
    for (uint32_t cp : fill)
        if (cp > 0xFF) narrow_fill = false;
    if (latin1_q(series) && narrow_fill) return replace_latin1(series, &args[1], fill, case_);
    Cell* pos = stack::push(series);
    Cell* out = stack::push_cell();
    make_none(out);
    Cell* base = stack::top;
    for (;;) {
        Cell* found = find_at(pos, &args[1], case_);
        if (type_of(found) == TYPE_NONE) break;
        uint32_t at = found->data1;
        stack::top = base;
        if (type_of(out) == TYPE_NONE)
            string::make_at(out, static_cast<uint32_t>(string::ms_length_q(series)),
                            string::buffer_of(series)->unit(), type_of(series));
        string::concatenate(out, pos, static_cast<int32_t>(at - pos->data1));
        if (type_of(&args[2]) == TYPE_CHAR)
            string::append_char(out, args[2].data2);
        else
            string::concatenate(out, &args[2]);
        pos->data1 = at + plen;
    }
    stack::top = base;
    if (type_of(out) != TYPE_NONE) {
        string::concatenate(out, pos);
        string::ms_truncate(series, series->data1);
        string::concatenate(series, out);
    }
}

// ---------------------------------------------------------------------------
// extract: series width /index pos /into output
// ---------------------------------------------------------------------------

void extract_body() {
    Cell* args = stack::arguments;
    Cell* series = &args[0];
    int32_t width = get_integer(&args[1]);
    uint32_t type = type_of(series);
    if (width < 1 || logic::truthy(&args[2]) || logic::truthy(&args[4]) ||
        (type != TYPE_BLOCK && type != TYPE_STRING))
        return run_mox_body();
    BulkScope bulk;
    Cell* out = stack::push_cell();
    uint32_t w = static_cast<uint32_t>(width);
    if (type == TYPE_BLOCK) {
        uint32_t length = static_cast<uint32_t>(block::rs_length_q(series));
        uint32_t count = length == 0 ? 0 : (length - 1) / w + 1;
        block::make_at(out, static_cast<int32_t>(length / w));
        if (count > 0) {
            Cell* to = reinterpret_cast<Cell*>(
                memory::alloc_tail_bytes(out->data2, count * static_cast<uint32_t>(sizeof(Cell))));
            // Read the series only now: the allocation may have moved it.
            const Cell* from = block::rs_head(series);
            for (uint32_t k = 0; k < count; k++) to[k] = from[k * w];
        }
    } else {
        uint32_t length = static_cast<uint32_t>(string::ms_length_q(series));
        uint32_t count = length == 0 ? 0 : (length - 1) / w + 1;
        string::make_at(out, length / w, 1);
        if (latin1_q(series) && count > 0) {
            uint8_t* to = memory::alloc_tail_bytes(out->data2, count);
            const uint8_t* from = string::buffer_of(series)->head_ptr() + series->data1;
            for (uint32_t k = 0; k < count; k++) to[k] = from[k * w];
        } else {
            for (uint32_t i = 0; i < length; i += w)
                string::append_char(out, string::abs_char_at(series, series->data1 + i));
        }
    }
    args[0] = *out;
}

// ---------------------------------------------------------------------------
// pad: str n /left /with c
// ---------------------------------------------------------------------------

void pad_body() {
    Cell* args = stack::arguments;
    Cell* str = &args[0];
    if (type_of(str) != TYPE_STRING || owned_q(str)) return run_mox_body();
    int32_t count = get_integer(&args[1]) - string::ms_length_q(str);
    uint32_t cp = logic::truthy(&args[3]) ? args[4].data2 : ' ';
    bool left = logic::truthy(&args[2]);
    if (count > 0 && cp < 256) {
        // The fill fits every unit width: the string grows once in place,
        // without the generic insert's dispatch and duplication.
        uint32_t unit = string::buffer_of(str)->unit();
        uint32_t length = static_cast<uint32_t>(string::total_length(str));
        uint32_t at = left ? std::min(str->data1, length) : length;
        uint32_t bytes = static_cast<uint32_t>(count) * unit;
        memory::alloc_tail_bytes(str->data2, bytes);
        uint8_t* from = string::buffer_of(str)->head_ptr() + size_t{at} * unit;
        std::memmove(from + bytes, from, size_t{length - at} * unit);
        if (unit == 1) {
            std::memset(from, static_cast<int>(cp), bytes);
        } else {
            for (uint32_t i = 0; i < bytes; i += unit) string::put_char(from + i, unit, cp);
        }
    } else if (count > 0) {
        Cell* fill = stack::push_cell();
        make_char(fill, cp);
        Cell* at = stack::push(str);
        if (!left) at->data1 = static_cast<uint32_t>(string::total_length(str));
        actions::insert(at, fill, -1, false, count);
    }
    str->data1 = 0;
}

// ---------------------------------------------------------------------------
// rejoin: block
// ---------------------------------------------------------------------------

// Values that reduce leaves as they are.
bool inert_q(uint32_t t) {
    switch (t) {
    case TYPE_NONE:
    case TYPE_LOGIC:
    case TYPE_BLOCK:
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_PAIR:
    case TYPE_PERCENT:
    case TYPE_TUPLE:
    case TYPE_BINARY:
    case TYPE_TIME:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_DATE:
    case TYPE_MONEY:
    case TYPE_REF:
        return true;
    default:
        return false;
    }
}

// Appends the values of the block to the unit-1 string! when all of them are
// unit-1 strings or chars below 256, as append would, in one piece; false
// (nothing done) otherwise. May collect.
bool join_latin1(Cell* joined, const Cell* rest) {
    if (type_of(joined) != TYPE_STRING || !latin1_q(joined)) return false;
    uint64_t total = 0;
    {
        int32_t n = block::rs_length_q(rest);
        const Cell* items = block::rs_head(rest);
        for (int32_t i = 0; i < n; i++) {
            const Cell* item = &items[i];
            if (type_of(item) == TYPE_CHAR && item->data2 <= 0xFF) {
                total += 1;
            } else if (type_of(item) == TYPE_STRING && latin1_q(item)) {
                total += text_length(item);
            } else {
                return false;
            }
        }
    }
    if (total == 0) return true;
    if (total > 0x7FF00000u) fire(err::no_memory);
    uint8_t* to = memory::alloc_tail_bytes(joined->data2, static_cast<uint32_t>(total));
    // The items are read only now: the allocation may have moved buffers.
    int32_t n = block::rs_length_q(rest);
    const Cell* items = block::rs_head(rest);
    for (int32_t i = 0; i < n; i++) {
        const Cell* item = &items[i];
        if (type_of(item) == TYPE_CHAR) {
            *to++ = static_cast<uint8_t>(item->data2);
            continue;
        }
        uint32_t length = text_length(item);
        std::memcpy(to, string::buffer_of(item)->head_ptr() + item->data1, length);
        to += length;
    }
    return true;
}

// A block of values that evaluate to themselves is its own reduction: the
// join starts from its first value and appends the others.
void rejoin_body() {
    Cell* args = stack::arguments;
    Cell* blk = &args[0];
    int32_t length = block::rs_length_q(blk);
    if (length == 0) return run_mox_body();
    {
        const Cell* items = block::rs_head(blk);
        for (int32_t i = 0; i < length; i++)
            if (!inert_q(type_of(&items[i]))) return run_mox_body();
    }
    BulkScope bulk;
    Cell* first = stack::push(block::rs_head(blk));
    Cell* joined = stack::push_cell();
    if (is_any_string(type_of(first)) || is_any_block(type_of(first)) ||
        type_of(first) == TYPE_BINARY) {
        actions::copy(first, joined, nullptr, false, nullptr);
    } else {
        string::make_at(joined, 16, 1);
        actions::form(first, joined, nullptr, INT32_MAX);
    }
    Cell* rest = stack::push(blk);
    rest->data1++;
    if (!join_latin1(joined, rest)) actions::append(joined, rest, -1, false, 1);
    args[0] = *joined;
}

} // namespace

void register_bodies() {
    routines::bind_native_body("split", &split_body);
    routines::bind_native_body("replace", &replace_body);
    routines::bind_native_body("extract", &extract_body);
    routines::bind_native_body("pad", &pad_body);
    routines::bind_native_body("rejoin", &rejoin_body);
}

} // namespace mox::series_bodies
