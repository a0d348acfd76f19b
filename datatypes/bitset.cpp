// bitset!: a bit array over a byte series plus the complement flag of its
// buffer, molded as the make expression that rebuilds it.
#include "datatypes/bitset.h"

#include <algorithm>
#include <cstring>

#include "core/collector.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"

namespace mox::bitset {

using memory::SeriesBuffer;

namespace {

uint32_t byte_count(const Cell* bitset) { return memory::buffer_of(bitset)->used_bytes(); }
uint8_t* bytes_of(const Cell* bitset) { return memory::buffer_of(bitset)->head_ptr(); }

bool is_word_not(const Cell* value) {
    return type_of(value) == TYPE_WORD &&
           symbol::resolve(value->data2) == symbol::resolve(words::not_);
}

// The symbol of the range word "-", made on first use (may collect then, so
// the entry points call it before reading any spec cell).
uint32_t minus_symbol() {
    static uint32_t sym = 0;
    if (!sym) sym = symbol::resolve(symbol::make("-"));
    return sym;
}

bool is_word_minus(const Cell* value) {
    return type_of(value) == TYPE_WORD && symbol::resolve(value->data2) == minus_symbol();
}

[[noreturn]] void fire_unusable(const Cell* value, Mode mode) {
    Cell datatype;
    make_datatype(&datatype, TYPE_BITSET);
    switch (mode) {
    case MODE_MAKE:
        fire(err::bad_make_arg, &datatype, value);
    case MODE_TO:
        fire(err::bad_to_arg, &datatype, value);
    default:
        fire(err::invalid_arg, value);
    }
}

// Sets or clears bit n. A bit beyond the array that already reads as wanted
// (set in a complemented set, clear in another) changes nothing; otherwise
// the array grows to cover it, new bytes filled to match the tail flag.
// May collect.
void put_bit(Cell* bs, uint32_t n, bool value) {
    uint32_t byte = n >> 3;
    SeriesBuffer* b = memory::buffer_of(bs);
    bool flag = (b->flags & memory::SERIES_COMPLEMENT) != 0;
    uint32_t used = b->used_bytes();
    if (byte >= used) {
        if (value == flag) return;
        uint32_t room = static_cast<uint32_t>(b->end() - b->head_ptr());
        if (byte >= room) {
            uint64_t want = std::max<uint64_t>(uint64_t{byte} + 1, uint64_t{b->size} * 2);
            if (want > 0x7FFFFFF0) fire(err::no_memory);
            b = memory::expand_series(b, static_cast<uint32_t>((want + 15) & ~uint64_t{15}));
        }
        std::memset(b->head_ptr() + used, flag ? 0xFF : 0x00, byte + 1 - used);
        b->tail = b->head + byte + 1;
    }
    uint8_t mask = static_cast<uint8_t>(0x80 >> (n & 7));
    uint8_t* p = b->head_ptr() + byte;
    *p = value ? static_cast<uint8_t>(*p | mask) : static_cast<uint8_t>(*p & ~mask);
}

// A bit number from a char! or integer! (a float! truncated); negative
// numbers raise out-of-range except in the test operation, where -1 stands
// for "beyond the array".
int64_t bit_of(const Cell* value, Operation op) {
    int64_t n;
    switch (type_of(value)) {
    case TYPE_CHAR:
        return value->data2;
    case TYPE_INTEGER:
        n = get_integer(value);
        break;
    default:
        n = integer::get_int(value);
    }
    if (n < 0) {
        if (op == OP_TEST) return -1;
        fire(err::out_of_range, value);
    }
    return n;
}

struct Walk {
    Cell* bs;
    Operation op;
    Mode mode;
    int64_t highest = -1;
};

// Applies the operation to one bit; for the test operation returns
// membership.
bool apply_bit(Walk& w, int64_t n) {
    switch (w.op) {
    case OP_MEASURE:
        w.highest = std::max(w.highest, n);
        return true;
    case OP_SET:
    case OP_CLEAR:
        put_bit(w.bs, static_cast<uint32_t>(n), w.op == OP_SET);
        return true;
    default:
        return test(w.bs, n);
    }
}

bool apply_range(Walk& w, int64_t from, int64_t to) {
    if (w.op == OP_MEASURE) return apply_bit(w, to);
    for (int64_t n = from; n <= to; n++)
        if (!apply_bit(w, n) && w.op == OP_TEST) return false;
    return true;
}

bool walk_value(Walk& w, const Cell* value);

// A block's values in order; a char! or integer! followed by the word "-"
// and a value of the same type is an inclusive range. The block is pushed
// so that its buffer is re-read after each bit (setting may allocate).
bool walk_block(Walk& w, const Cell* block) {
    Cell* saved = stack::top;
    Cell* blk = stack::push(block);
    bool all = true;
    for (uint32_t i = blk->data1; i < block::abs_length(blk); i++) {
        Cell* item = stack::push(block::ms_abs_at(blk, i));
        uint32_t t = type_of(item);
        if (t == TYPE_BINARY) fire(err::not_done);
        bool member;
        if ((t == TYPE_CHAR || t == TYPE_INTEGER) && i + 1 < block::abs_length(blk) &&
            is_word_minus(block::ms_abs_at(blk, i + 1))) {
            if (i + 2 >= block::abs_length(blk)) fire(err::past_end);
            Cell* last = stack::push(block::ms_abs_at(blk, i + 2));
            if (type_of(last) != t) fire(err::invalid_arg, last);
            int64_t from = bit_of(item, w.op), to = bit_of(last, w.op);
            if (to < from) fire(err::past_end);
            member = apply_range(w, from, to);
            i += 2;
        } else {
            member = walk_value(w, item);
        }
        stack::top = item;
        if (!member && w.op == OP_TEST) {
            all = false;
            break;
        }
    }
    stack::top = saved;
    return all;
}

bool walk_value(Walk& w, const Cell* value) {
    uint32_t t = type_of(value);
    switch (t) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_FLOAT:
        return apply_bit(w, bit_of(value, w.op));
    case TYPE_STRING: {
        Cell* saved = stack::top;
        Cell* str = stack::push(value);
        bool all = true;
        int32_t n = string::ms_length_q(str);
        for (int32_t i = 0; i < n; i++) {
            uint32_t cp = string::abs_char_at(str, str->data1 + static_cast<uint32_t>(i));
            if (!apply_bit(w, cp) && w.op == OP_TEST) {
                all = false;
                break;
            }
        }
        stack::top = saved;
        return all;
    }
    case TYPE_BLOCK:
        return walk_block(w, value);
    default:
        fire_unusable(value, w.mode);
    }
}

// The spec of make and to as a flagged rest: a block starting with the word
// not. *rest receives the spec (the block moved past "not" when flagged).
bool flagged_spec(const Cell* spec, Cell* rest) {
    *rest = *spec;
    if (type_of(spec) == TYPE_BLOCK && block::rs_length_q(spec) > 0 &&
        is_word_not(block::rs_head(spec))) {
        rest->data1 = block::clip_index(rest) + 1;
        return true;
    }
    return false;
}

Cell* make_from_spec(Cell* spec, Mode mode) {
    minus_symbol();
    uint32_t st = type_of(spec);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        if (mode == MODE_TO) fire_unusable(spec, mode);
        int32_t n = integer::get_int(spec);
        if (n < 0) fire(err::out_of_range, spec);
        return make_from_bytes(make_none(stack::push_cell()), nullptr,
                               (static_cast<uint32_t>(n) + 7) / 8, false);
    }
    if (st == TYPE_BITSET) {
        Cell* out = stack::push(spec);
        return copy(out, nullptr, nullptr, false, nullptr);
    }
    Cell* rest = make_none(stack::push_cell());
    bool flag = flagged_spec(spec, rest);
    const Cell* source = rest;
    if (type_of(rest) == TYPE_BLOCK && block::rs_length_q(rest) == 1 &&
        type_of(block::rs_head(rest)) == TYPE_BINARY)
        source = block::rs_head(rest);
    if (type_of(source) == TYPE_BINARY) {
        collector::Hold hold;
        SeriesBuffer* b = memory::buffer_of(source);
        uint32_t index = std::min(source->data1, b->used_bytes());
        return make_from_bytes(rest, b->head_ptr() + index, b->used_bytes() - index, flag);
    }
    Walk measure{nullptr, OP_MEASURE, mode};
    walk_value(measure, rest);
    uint32_t bytes =
        std::max<uint32_t>(1, static_cast<uint32_t>(((measure.highest + 8) & ~int64_t{7}) / 8));
    Cell* out = make_none(stack::push_cell());
    make_from_bytes(out, nullptr, bytes, flag);
    Walk fill{out, flag ? OP_CLEAR : OP_SET, mode};
    walk_value(fill, rest);
    *rest = *out;
    stack::top = rest + 1;
    return rest;
}

bool truthy_bit(const Cell* v) {
    switch (type_of(v)) {
    case TYPE_NONE:
        return false;
    case TYPE_LOGIC:
        return v->data1 != 0;
    case TYPE_INTEGER:
        return get_integer(v) != 0;
    case TYPE_FLOAT:
        return get_float(v) != 0.0;
    default:
        return true;
    }
}

int64_t path_bit(const Cell* element) {
    uint32_t t = type_of(element);
    if (t != TYPE_CHAR && t != TYPE_INTEGER) {
        Cell datatype;
        make_datatype(&datatype, t);
        fire(err::invalid_type, &datatype);
    }
    return bit_of(element, OP_TEST);
}

} // namespace

// ---------------------------------------------------------------------------
// Cells and the core operation
// ---------------------------------------------------------------------------

Cell* make_from_bytes(Cell* cell, const uint8_t* bytes, uint32_t length, bool complement) {
    collector::Hold hold;
    node_t node = memory::alloc_bytes(length);
    SeriesBuffer* b = memory::buffer_of(node);
    uint8_t* out = b->head_ptr();
    for (uint32_t i = 0; i < length; i++) {
        uint8_t v = bytes ? bytes[i] : 0;
        out[i] = complement ? static_cast<uint8_t>(~v) : v;
    }
    b->tail = b->head + length;
    if (complement) b->flags |= memory::SERIES_COMPLEMENT;
    return make_series(cell, TYPE_BITSET, node);
}

bool complement_q(const Cell* bitset) {
    return (memory::buffer_of(bitset)->flags & memory::SERIES_COMPLEMENT) != 0;
}

bool test(const Cell* bitset, int64_t n) {
    if (n < 0 || (n >> 3) >= byte_count(bitset)) return complement_q(bitset);
    return (bytes_of(bitset)[n >> 3] & (0x80 >> (n & 7))) != 0;
}

int64_t process(const Cell* spec, Cell* bitset, Operation op, Mode mode) {
    minus_symbol();
    Walk w{bitset, op, mode};
    bool result = walk_value(w, spec);
    return op == OP_MEASURE ? w.highest : result ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type) { return make_from_spec(spec, MODE_MAKE); }

Cell* to(Cell* proto, Cell* spec, int32_t type) { return make_from_spec(spec, MODE_TO); }

// "make bitset! #{...}", or "make bitset! [not #{...}]" listing the
// non-members of a complemented set.
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    bool complement = complement_q(value);
    string::concatenate_literal(buffer, complement ? "make bitset! [not #{" : "make bitset! #{");
    limit -= complement ? 20 : 15;
    uint32_t n = byte_count(value);
    for (uint32_t i = 0; i < n; i++) {
        if (part && limit <= 0) return limit;
        uint8_t byte = bytes_of(value)[i];
        if (complement) byte = static_cast<uint8_t>(~byte);
        string::concatenate_literal(buffer, string::byte_to_hex(byte).data());
        limit -= 2;
    }
    string::concatenate_literal(buffer, complement ? "}]" : "}");
    return limit - (complement ? 2 : 1);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    int64_t n = path_bit(element);
    if (!value) return make_logic(stack::push_cell(), test(parent, n));
    return poke(parent, static_cast<int32_t>(n), value, element);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_BITSET) return COMPARE_NOT_COMPARABLE;
    if (op == COMP_SAME) return value1->data2 == value2->data2 ? 0 : 1;
    uint32_t n1 = byte_count(value1), n2 = byte_count(value2);
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    bool c1 = complement_q(value1), c2 = complement_q(value2);
    if (c1 != c2) return c1 ? 1 : -1;
    const uint8_t* a = bytes_of(value1);
    const uint8_t* b = bytes_of(value2);
    for (uint32_t i = n1; i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

Cell* complement(Cell* value) {
    Cell* out = stack::push(value);
    copy(out, nullptr, nullptr, false, nullptr);
    SeriesBuffer* b = memory::buffer_of(out);
    for (uint8_t* p = b->head_ptr(); p < b->tail_ptr(); p++) *p = static_cast<uint8_t>(~*p);
    b->flags ^= memory::SERIES_COMPLEMENT;
    *value = *out;
    stack::pop(1);
    return value;
}

Cell* negate(Cell* value) { return complement(value); }

Cell* do_bitwise(Cell* set1, const Cell* set2, int32_t op) {
    if (type_of(set2) != TYPE_BITSET) {
        Cell datatype;
        make_datatype(&datatype, type_of(set2));
        fire(err::invalid_type, &datatype);
    }
    bool f1 = complement_q(set1), f2 = complement_q(set2);
    uint32_t n1 = byte_count(set1), n2 = byte_count(set2);
    uint32_t n = std::max(n1, n2);
    bool flag;
    switch (op) {
    case OP_OR:
        flag = f1 || f2;
        break;
    case OP_AND:
        flag = f1 && f2;
        break;
    case OP_XOR:
        flag = f1 != f2;
        break;
    default:
        flag = f1 && !f2;
    }
    Cell* out = make_none(stack::push_cell());
    make_from_bytes(out, nullptr, n, false);
    SeriesBuffer* ob = memory::buffer_of(out);
    if (flag) ob->flags |= memory::SERIES_COMPLEMENT;
    uint8_t* o = ob->head_ptr();
    const uint8_t* a = bytes_of(set1);
    const uint8_t* b = bytes_of(set2);
    const uint8_t fa = f1 ? 0xFF : 0, fb = f2 ? 0xFF : 0;
    for (uint32_t i = 0; i < n; i++) {
        uint8_t x = i < n1 ? a[i] : fa, y = i < n2 ? b[i] : fb;
        switch (op) {
        case OP_OR:
            o[i] = static_cast<uint8_t>(x | y);
            break;
        case OP_AND:
            o[i] = static_cast<uint8_t>(x & y);
            break;
        case OP_XOR:
            o[i] = static_cast<uint8_t>(x ^ y);
            break;
        default:
            o[i] = static_cast<uint8_t>(x & ~y);
        }
    }
    *set1 = *out;
    stack::pop(1);
    return set1;
}

namespace {

Cell* and_t() { return do_bitwise(stack::arguments, stack::arguments + 1, OP_AND); }
Cell* or_t() { return do_bitwise(stack::arguments, stack::arguments + 1, OP_OR); }
Cell* xor_t() { return do_bitwise(stack::arguments, stack::arguments + 1, OP_XOR); }

// Runs a changing operation between the owner's before and after notices.
Cell* change_bits(Cell* bs, const Cell* spec, Operation op, series::Change before,
                  series::Change after) {
    bool told = series::notify(bs, before, spec, 0, 0);
    process(spec, bs, op, MODE_OTHER);
    if (told) series::notify(bs, after, spec, 0, 0);
    return bs;
}

} // namespace

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    return change_bits(series, value, OP_SET, series::Change::append, series::Change::appended);
}

Cell* remove(Cell* series, Cell* part, Cell* key) {
    if (!key) {
        Cell word;
        stack::get_call(&word);
        Cell none;
        make_none(&none);
        fire(err::missing_arg, &word, &none);
    }
    return change_bits(series, key, OP_CLEAR, series::Change::remove, series::Change::removed);
}

Cell* clear(Cell* series) {
    bool told = series::notify(series, series::Change::clear, nullptr, 0, 0);
    SeriesBuffer* b = memory::buffer_of(series);
    std::memset(b->head_ptr(), 0, b->used_bytes());
    b->flags &= ~memory::SERIES_COMPLEMENT;
    if (told) series::notify(series, series::Change::cleared, nullptr, 0, 0);
    return series;
}

Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types) {
    Cell* out = dest ? dest : value;
    node_t node = memory::copy_series(memory::buffer_of(value));
    memory::buffer_of(node)->flags &= ~memory::SERIES_OWNED;
    *out = Cell{TYPE_BITSET, 0, node, 0};
    return out;
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    Cell* result = make_none(stack::push_cell());
    if (process(value, series, OP_TEST, MODE_OTHER)) return make_logic(result, true);
    return make_none(result);
}

int32_t length_q(Cell* series) { return static_cast<int32_t>(byte_count(series) * 8); }

Cell* pick(Cell* series, int32_t index, Cell* boxed) {
    int64_t n = boxed ? path_bit(boxed) : index;
    return make_logic(stack::push_cell(), test(series, n));
}

Cell* poke(Cell* series, int32_t index, Cell* data, Cell* boxed) {
    int64_t n = boxed ? path_bit(boxed) : index;
    if (n < 0) fire(err::out_of_range, boxed ? boxed : data);
    bool told = series::notify(series, series::Change::poke, data, static_cast<int32_t>(n), 1);
    put_bit(series, static_cast<uint32_t>(n), truthy_bit(data));
    if (told) series::notify(series, series::Change::poked, data, static_cast<int32_t>(n), 1);
    return data;
}

void init() {
    datatype::register_type(TYPE_BITSET, 0, "bitset!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_REFLECT>(&series::reflect)
                                .set<A_TO>(&to)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_EVAL_PATH>(&eval_path)
                                .set<A_COMPARE>(&compare)
                                .set<A_NEGATE>(&negate)
                                .set<A_AND_T>(&and_t)
                                .set<A_COMPLEMENT>(&complement)
                                .set<A_OR_T>(&or_t)
                                .set<A_XOR_T>(&xor_t)
                                .set<A_APPEND>(&insert)
                                .set<A_INSERT>(&insert)
                                .set<A_CLEAR>(&clear)
                                .set<A_COPY>(&copy)
                                .set<A_FIND>(&find)
                                .set<A_LENGTH_Q>(&length_q)
                                .set<A_PICK>(&pick)
                                .set<A_POKE>(&poke)
                                .set<A_REMOVE>(&remove)
                                .set<A_MODIFY>(&series::modify));
}

} // namespace mox::bitset
