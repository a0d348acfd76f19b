// The series and set natives: union, intersect, unique, difference and
// exclude routed to the datatype that owns the values, complement?, extend,
// the percent and base encodings, the case changes and the new-line marker.
//
// Text read out of a series buffer is copied into system memory (or handed
// to a routine that reads it whole before allocating) before anything here
// allocates, so no pointer into a buffer outlives an allocation.
#include <algorithm>
#include <cstdint>
#include <string>

#include "core/datatype.h"
#include "core/natives.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/url.h"
#include "evaluator/natives-series.h"

namespace mox::natives {

namespace {

// ---------------------------------------------------------------------------
// Set operations
// ---------------------------------------------------------------------------

bool block_set_q(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_HASH; }

// The bitset operation codes of the set operations.
int32_t bitwise_op(int32_t op) {
    switch (op) {
    case series::SET_UNION:
        return 5;
    case series::SET_INTERSECT:
        return 6;
    case series::SET_DIFFERENCE:
        return 7;
    default:
        return op;
    }
}

// The shared body of the five set operations; set2 is absent for unique.
void set_op(bool case_, int32_t skip, int32_t op) {
    Cell* set1 = stack::arguments;
    Cell* set2 = op == series::SET_UNIQUE ? nullptr : set1 + 1;
    const uint32_t t1 = type_of(set1);
    if (set2) {
        const uint32_t t2 = type_of(set2);
        if (block_set_q(t1) ? !block_set_q(t2) : t1 != t2) {
            Cell expected, found;
            make_datatype(&expected, t1);
            make_datatype(&found, t2);
            fire(err::expect_val, &expected, &found);
        }
    }
    Cell* skip_cell = skip >= 0 ? set1 + skip : nullptr;
    switch (t1) {
    case TYPE_BLOCK:
    case TYPE_HASH:
        block::do_set_op(set1, set2, case_, skip_cell, op);
        return;
    case TYPE_STRING:
        string::do_set_op(set1, set2, case_, skip_cell, op);
        return;
    case TYPE_BITSET:
        bitset::do_bitwise(set1, set2, bitwise_op(op));
        return;
    case TYPE_TYPESET:
        typeset::do_bitwise(op);
        return;
    case TYPE_DATE:
        if (op == series::SET_DIFFERENCE) {
            date::difference(set1, set2);
            return;
        }
        break;
    default:
        break;
    }
    fire_expect_arg(0, t1);
}

// Refinement order: /case, /skip size.
template <int32_t Op> void set_op_star(int32_t case_, int32_t skip) {
    set_op(case_ >= 0, skip, Op);
}

void complement_q_star() {
    Cell* a = stack::arguments;
    if (type_of(a) != TYPE_BITSET) fire_expect_arg(0, type_of(a));
    make_logic(a, bitset::complement_q(a));
}

// Refinement order: /case. A map! spec gives its live key/value pairs;
// objects are not extended.
void extend_star(int32_t case_) {
    Cell* a = stack::arguments;
    if (type_of(a) != TYPE_MAP) fire(err::not_done);
    Cell* spec = a + 1;
    if (type_of(spec) == TYPE_MAP) spec = map::reflect(spec, static_cast<int32_t>(words::body));
    map::extend(a, spec, case_ >= 0);
}

// ---------------------------------------------------------------------------
// Percent encoding
// ---------------------------------------------------------------------------

void dehex_star() {
    Cell* a = stack::arguments;
    Cell* out = string::push_new(static_cast<uint32_t>(std::max(1, string::ms_length_q(a))));
    url::decode(a, out);
    *a = *out;
}

// A string! is encoded with the strict table, every other text type with
// the URL table. The encoder sizes the new string once it has measured the
// escaped text.
void enhex_star() {
    Cell* a = stack::arguments;
    Cell* out = string::push_new(1);
    url::encode(a, out, type_of(a) == TYPE_STRING ? url::ENCODE_STRICT : url::ENCODE_URL);
    *a = *out;
}

// ---------------------------------------------------------------------------
// Base encodings
// ---------------------------------------------------------------------------

// The bytes of a binary! from its index, or the UTF-8 of a string! from its
// index, copied out of the buffer.
std::string source_bytes(const Cell* value) {
    if (type_of(value) != TYPE_BINARY) return unicode::utf8_of(value);
    memory::SeriesBuffer* b = memory::buffer_of(value->data2);
    const uint8_t* p = b->head_ptr() + value->data1;
    const uint8_t* end = b->tail_ptr();
    return p < end ? std::string(p, end) : std::string();
}

// The base argument of /base (64 without it); another base raises
// invalid-arg with the value.
int32_t base_of(int32_t base) {
    if (base < 0) return 64;
    const Cell* b = stack::arguments + base;
    int32_t n = get_integer(b);
    if (n != 2 && n != 16 && n != 58 && n != 64) fire(err::invalid_arg, b);
    return n;
}

// Refinement order: /base base-value.
void enbase_star(int32_t base) {
    Cell* a = stack::arguments;
    const int32_t n = base_of(base);
    const std::string in = source_bytes(a);
    const uint64_t room = binary::encode_capacity(n, in.size());
    if (room > INT32_MAX) fire(err::too_long);
    Cell* out = string::push_new(static_cast<uint32_t>(std::max<uint64_t>(1, room)));
    memory::SeriesBuffer* b = string::buffer_of(out);
    auto* text = reinterpret_cast<char*>(b->head_ptr());
    const auto* bytes = reinterpret_cast<const uint8_t*>(in.data());
    const auto length = static_cast<uint32_t>(in.size());
    const uint32_t written = n == 2    ? binary::encode_base2(text, bytes, length)
                             : n == 16 ? binary::encode_base16(text, bytes, length)
                             : n == 58 ? binary::encode_base58(text, bytes, length)
                                       : binary::encode_base64(text, bytes, length);
    b->tail = b->head + written;
    *a = *out;
}

// Refinement order: /base base-value. A text the decoder refuses gives none.
void debase_star(int32_t base) {
    Cell* a = stack::arguments;
    const int32_t n = base_of(base);
    Cell* text = stack::push(a);
    make_none(a);
    memory::SeriesBuffer* b = string::buffer_of(text);
    const uint32_t unit = b->unit();
    const int32_t length = std::max(0, string::ms_length_q(text));
    const uint8_t* start =
        length ? b->head_ptr() + static_cast<size_t>(text->data1) * unit : b->head_ptr();
    const int32_t u = static_cast<int32_t>(unit);
    node_t node = n == 2    ? binary::decode_base2(start, length, u)
                  : n == 16 ? binary::decode_base16(start, length, u)
                  : n == 58 ? binary::decode_base58(start, length, u)
                            : binary::decode_base64(start, length, u);
    if (node) make_series(a, TYPE_BINARY, node);
}

// ---------------------------------------------------------------------------
// Case
// ---------------------------------------------------------------------------

// Refinement order: /part limit.
template <bool Upper> void change_case_star(int32_t part) {
    Cell* a = stack::arguments;
    string::change_case(a, part >= 0 ? a + part : nullptr, Upper);
}

// ---------------------------------------------------------------------------
// New-line markers
// ---------------------------------------------------------------------------

void mark(Cell* c, bool on) {
    if (on)
        c->header |= FLAG_NEW_LINE;
    else
        c->header &= ~FLAG_NEW_LINE;
}

// Refinement order: /all, /skip size.
void new_line_star(int32_t all, int32_t skip) {
    Cell* a = stack::arguments;
    const bool value = a[1].data1 != 0;
    const uint32_t tail = block::abs_length(a);
    if (all < 0 && skip < 0) {
        if (a->data1 < tail) mark(block::ms_abs_at(a, a->data1), value);
        return;
    }
    int32_t size = 1;
    if (skip >= 0) {
        size = get_integer(a + skip);
        if (size <= 0) fire(err::out_of_range, a + skip);
    }
    for (uint32_t i = a->data1; i < tail; i++)
        mark(block::ms_abs_at(a, i),
             (i - a->data1) % static_cast<uint32_t>(size) == 0 ? value : !value);
}

void new_line_q_star() {
    Cell* a = stack::arguments;
    const bool marked = a->data1 < block::abs_length(a) &&
                        (block::ms_abs_at(a, a->data1)->header & FLAG_NEW_LINE) != 0;
    make_logic(a, marked);
}

} // namespace

void register_series() { MOX_NATIVES_SERIES(MOX_NATIVE_REGISTER) }

} // namespace mox::natives
