// block!: the storage routines, the actions that make, copy and change
// blocks, path access, the block side of the set operations and the
// registration (see block.h). Searching, comparing, sorting and molding are
// in block-search.cpp and block-mold.cpp.
//
// Every change of a buffer is checked before the first cell moves, so that a
// failing action leaves the block as it was. A source that shares the target's
// buffer is copied out first: inserting or changing a block with a part of
// itself behaves as if the source had been copied before the call. A hash!
// keeps its index in step: an insertion shifts the stored positions and puts
// the new cells, a cell replaced in place leaves the index and enters it
// again, and the other changes that move cells rebuild the index.
#include "datatypes/block.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/actions.h"
#include "core/collector.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/hashtable.h"
#include "core/stack.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"

namespace mox::block {

using memory::SeriesBuffer;
using series::Change;

LoadText load_text = nullptr;
CallFunction2 call_comparator = nullptr;

namespace {

// The cell that holds a block made by make_in without a parent.
Cell scratch = unset_value;
bool scratch_rooted = false;

void mark_scratch() { collector::mark_values(&scratch, &scratch + 1); }

// Blocks hold at most this many cells, so that every byte count fits 31 bits.
constexpr int64_t MAX_CELLS = 0x7FFFFFF;

uint32_t checked_cells(int64_t cells) {
    if (cells < 0 || cells > MAX_CELLS) fire(err::no_memory);
    return static_cast<uint32_t>(cells);
}

inline int32_t as_int(uint32_t n) { return static_cast<int32_t>(n); }

bool hashed_q(const Cell* blk) { return type_of(blk) == TYPE_HASH && blk->data3 != 0; }

void rehash(Cell* blk) {
    if (hashed_q(blk)) hashtable::rehash(blk->data3, as_int(abs_length(blk)));
}

void hash_put(Cell* blk, uint32_t i) {
    if (hashed_q(blk)) hashtable::put_at(blk->data3, as_int(i));
}

// Keeps a hash! index in step after count cells were inserted at pos of a
// block that held total cells: the positions after them shift, then each new
// cell is put (a put that rebuilt the table has indexed them all). May
// collect.
void hash_inserted(Cell* blk, uint32_t pos, uint32_t count, uint32_t total) {
    if (!hashed_q(blk)) return;
    if (pos < total &&
        hashtable::refresh(blk->data3, as_int(count), as_int(pos), as_int(total - pos), true)) {
        rehash(blk);
        return;
    }
    for (uint32_t i = pos; i < pos + count; i++) {
        bool rebuilt = false;
        hashtable::put_at(blk->data3, as_int(i), &rebuilt);
        if (rebuilt) return;
    }
}

// Room for cells cells from the buffer head; doubled asks for twice that
// when the buffer must grow. May collect.
void reserve(Cell* blk, uint32_t cells, bool doubled) {
    SeriesBuffer* b = buffer_of(blk);
    uint64_t need = uint64_t{cells} * sizeof(Cell);
    if (b->head + need <= arena::ref(b->end())) return;
    if (doubled && need * 2 <= uint64_t{MAX_CELLS} * sizeof(Cell)) need *= 2;
    memory::expand_series(b, static_cast<uint32_t>(need));
}

// A new buffer holding copies of count cells of src from cell from, with room
// for at least one cell. Nothing may allocate before the caller stores the
// node. May collect.
node_t copy_cells(const Cell* src, uint32_t from, uint32_t count) {
    node_t node = memory::alloc_cells(count ? count : 1);
    SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->cells(), ms_abs_at(src, from), count * sizeof(Cell));
    b->tail = b->head + count * sizeof(Cell);
    return node;
}

// Pushes a block! holding copies of count cells of src from its index.
// May collect.
Cell* push_copy(const Cell* src, uint32_t count) {
    Cell* out = make_none(stack::push_cell());
    uint32_t from = std::min(src->data1, abs_length(src));
    node_t node = copy_cells(src, from, count);
    return make_series(out, TYPE_BLOCK, node);
}

// The type of a copy: a hash! copy is a block! until the hash! datatype gives
// it an index of its own.
uint32_t copy_type(const Cell* value) {
    return type_of(value) == TYPE_HASH ? uint32_t{TYPE_BLOCK} : type_of(value);
}

bool copyable_q(uint32_t t) {
    return is_series(t) || t == TYPE_BITSET || t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_MAP;
}

// Replaces cell i of blk by its copy, keeping the cell's header flags.
// May collect.
void replace_by_copy(Cell* blk, uint32_t i, bool deep, Cell* types) {
    Cell* saved = stack::top;
    Cell* value = stack::push(ms_abs_at(blk, i));
    Cell* dest = make_unset(stack::push_cell());
    Cell* result = actions::copy(value, dest, nullptr, deep, types);
    if (i < abs_length(blk)) {
        Cell* slot = ms_abs_at(blk, i);
        uint32_t flags = slot->header & ~HEADER_TYPE_MASK;
        *slot = *result;
        slot->header = (result->header & HEADER_TYPE_MASK) | flags;
    }
    stack::top = saved;
}

// The node of a block entered by a deep walk. A block met again inside
// itself would be copied for ever: the cycle stack is emptied and internal
// error no-cycle raised.
node_t deep_entry(node_t node) {
    if (cycles::find(node)) {
        cycles::reset();
        fire(err::no_cycle);
    }
    return node;
}

// Pushes the body block of an object! or map!. May collect.
Cell* push_body(Cell* spec) {
    return stack::push(actions::reflect(spec, static_cast<int32_t>(words::body)));
}

// Pushes a block of the datatypes in a typeset!. May collect.
Cell* push_types(const Cell* set) {
    const Cell bits = *set;
    Cell* out = push_only_star(8);
    for (uint32_t t = 1; t <= datatype::top_id; t++) {
        if (!type_in_q(&bits, t)) continue;
        Cell dt;
        ms_append(out, make_datatype(&dt, t));
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------
// Reading and cutting
// ---------------------------------------------------------------------------

int32_t ms_length_q(const Cell* blk) { return as_int(abs_length(blk)) - as_int(blk->data1); }

int32_t rs_length_q(const Cell* blk) { return std::max(ms_length_q(blk), 0); }

bool ms_next(Cell* blk) {
    uint32_t n = abs_length(blk);
    if (blk->data1 < n) blk->data1++;
    return blk->data1 >= n;
}

uint32_t clip_index(Cell* blk) {
    uint32_t n = abs_length(blk);
    if (blk->data1 > n) blk->data1 = n;
    return blk->data1;
}

Cell* ms_head(Cell* blk) { return ms_abs_at(blk, clip_index(blk)); }

Cell* rs_head(const Cell* blk) { return ms_abs_at(blk, std::min(blk->data1, abs_length(blk))); }

Cell* ms_tail(const Cell* blk) { return buffer_of(blk)->cells_tail(); }

bool ms_tail_q(const Cell* blk) { return blk->data1 >= abs_length(blk); }

Cell* ms_abs_at(const Cell* blk, uint32_t i) { return buffer_of(blk)->cells() + i; }

void ms_clear(Cell* blk) { ms_clear_at(blk, clip_index(blk)); }

void ms_clear_at(Cell* blk, uint32_t i) {
    SeriesBuffer* b = buffer_of(blk);
    if (i < abs_length(blk)) b->tail = b->head + i * sizeof(Cell);
}

void ms_remove_last(Cell* blk) {
    SeriesBuffer* b = buffer_of(blk);
    if (b->tail > b->head) b->tail -= sizeof(Cell);
    clip_index(blk);
}

bool type_in_q(const Cell* types, uint32_t type) {
    if (type_of(types) == TYPE_DATATYPE) return types->data1 == type;
    const auto* bits = reinterpret_cast<const uint8_t*>(&types->data1);
    return type < 96 && (bits[type >> 3] & (0x80 >> (type & 7))) != 0;
}

// ---------------------------------------------------------------------------
// Building
// ---------------------------------------------------------------------------

Cell* make_at(Cell* slot, int32_t size, uint32_t type) {
    node_t node = memory::alloc_cells(size < 1 ? 1 : static_cast<uint32_t>(size));
    return make_series(slot, type, node);
}

Cell* make_fixed(Cell* slot, int32_t size, bool external) {
    uint32_t n = size < 1 ? 1 : static_cast<uint32_t>(size);
    node_t node =
        external ? memory::alloc_external_buffer(n, sizeof(Cell), 0) : memory::alloc_unset_cells(n);
    return make_series(slot, TYPE_BLOCK, node);
}

namespace {

// Appends the fresh block to parent, or keeps it in the scratch cell.
// May collect.
Cell* store_in(Cell* parent, Cell* fresh) {
    if (!parent) {
        if (!scratch_rooted) {
            collector::register_callback(&mark_scratch);
            scratch_rooted = true;
        }
        scratch = *fresh;
        return &scratch;
    }
    Cell* slot = memory::alloc_tail(parent->data2);
    *slot = *fresh;
    return slot;
}

} // namespace

Cell* make_in(Cell* parent, int32_t size) {
    Cell fresh = unset_value;
    collector::Root keep(&fresh);
    make_at(&fresh, size);
    return store_in(parent, &fresh);
}

Cell* make_fixed_in(Cell* parent) {
    Cell fresh = unset_value;
    collector::Root keep(&fresh);
    make_fixed(&fresh, 1, false);
    return store_in(parent, &fresh);
}

Cell* push(const Cell* value) { return stack::push(value); }

Cell* push_only_star(int32_t size) { return make_at(make_none(stack::push_cell()), size); }

Cell* alloc_tail(Cell* blk) { return memory::alloc_tail(blk->data2); }

Cell* ms_append(Cell* blk, const Cell* value) {
    Cell copy = *value;
    node_t node = blk->data2;
    collector::Root keep_value(&copy), keep_block(&node);
    Cell* slot = memory::alloc_tail(node);
    *slot = copy;
    return slot;
}

void ms_append_block(Cell* blk, const Cell* src) {
    uint32_t n = static_cast<uint32_t>(rs_length_q(src));
    if (n == 0) return;
    uint8_t* to = memory::alloc_tail_bytes(blk->data2, n * sizeof(Cell));
    std::memcpy(to, rs_head(src), n * sizeof(Cell));
}

Cell* insert_value(Cell* blk, const Cell* value, bool at_head, bool advance) {
    Cell copy = *value;
    collector::Root keep(&copy);
    uint32_t pos = at_head ? 0 : clip_index(blk);
    uint32_t total = abs_length(blk);
    SeriesBuffer* b = buffer_of(blk);
    if (b->tail + sizeof(Cell) > arena::ref(b->end()))
        memory::expand_series(b, 2 * (b->used_bytes() + sizeof(Cell)));
    b = buffer_of(blk);
    Cell* cells = b->cells();
    std::memmove(cells + pos + 1, cells + pos, (total - pos) * sizeof(Cell));
    cells[pos] = copy;
    b->tail += sizeof(Cell);
    hash_inserted(blk, pos, 1, total);
    if (advance) blk->data1 = pos + 1;
    return blk;
}

void insert_block(Cell* blk, const Cell* src) {
    Cell* saved = stack::top;
    insert(blk, stack::push(src), -1, false, 1, false);
    stack::top = saved;
}

namespace {

// Appends a copy of value, putting it into a hash! index. May collect.
void append_hashed(Cell* blk, const Cell* value) {
    ms_append(blk, value);
    hash_put(blk, abs_length(blk) - 1);
}

} // namespace

void insert_last() { insert_value(stack::arguments - 1, stack::arguments, false, false); }

void append_second() { append_hashed(stack::arguments, stack::arguments + 1); }

void append_last() { append_hashed(stack::arguments - 1, stack::arguments); }

Cell* clone(const Cell* blk, bool deep, bool any) {
    uint32_t total = abs_length(blk);
    uint32_t from = std::min(blk->data1, total);
    Cell* out = make_none(stack::push_cell());
    node_t node = copy_cells(blk, from, total - from);
    make_series(out, copy_type(blk), node);
    if (!deep) return out;
    cycles::Scope walk(deep_entry(blk->data2));
    for (uint32_t i = 0; i < abs_length(out); i++) {
        uint32_t t = type_of(ms_abs_at(out, i));
        if (t != TYPE_BLOCK && !(any && (t == TYPE_PAREN || is_any_path(t)))) continue;
        Cell* saved = stack::top;
        Cell* inner = stack::push(ms_abs_at(out, i));
        Cell* copy = clone(inner, true, any);
        Cell* slot = ms_abs_at(out, i);
        uint32_t header = slot->header;
        *slot = *copy;
        slot->header = header;
        stack::top = saved;
    }
    return out;
}

void copy_types(Cell* blk, int32_t from, int32_t end, int32_t step, Cell* types, bool deep) {
    for (int32_t i = from; i < end && i < as_int(abs_length(blk)); i += step) {
        uint32_t t = type_of(ms_abs_at(blk, static_cast<uint32_t>(i)));
        if (!copyable_q(t) || !type_in_q(types, t)) continue;
        replace_by_copy(blk, static_cast<uint32_t>(i), deep, deep ? types : nullptr);
    }
}

// ---------------------------------------------------------------------------
// make, to, copy
// ---------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    Cell* out;
    switch (type_of(spec)) {
    case TYPE_INTEGER:
    case TYPE_FLOAT:
        out = push_only_star(integer::get_int(spec));
        break;
    case TYPE_OBJECT:
    case TYPE_MAP:
        out = push_body(spec);
        break;
    case TYPE_VECTOR:
        out = vector::to_block(spec);
        break;
    default:
        if (!is_any_block(type_of(spec))) fire_bad_make_arg(static_cast<uint32_t>(type), spec);
        out = clone(spec, false, false);
    }
    return set_type(out, static_cast<uint32_t>(type));
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    Cell* out;
    uint32_t t = type_of(spec);
    if (t == TYPE_OBJECT || t == TYPE_MAP) {
        out = push_body(spec);
    } else if (t == TYPE_VECTOR) {
        out = vector::to_block(spec);
    } else if (t == TYPE_STRING) {
        if (!load_text) fire(err::feature_na);
        out = make_none(stack::push_cell());
        load_text(spec, out);
    } else if (t == TYPE_TYPESET) {
        out = push_types(spec);
    } else if (is_any_block(t)) {
        out = clone(spec, false, false);
    } else {
        out = push_only_star(1);
        ms_append(out, spec);
    }
    return set_type(out, static_cast<uint32_t>(type));
}

// The result takes the source's type and new-line marker.
Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types) {
    const uint32_t total = abs_length(value);
    const uint32_t index = std::min(value->data1, total);
    int64_t start = index;
    int64_t count = total - index;
    if (part) {
        if (type_of(part) == TYPE_INTEGER) {
            count = get_integer(part);
        } else if (type_of(part) == TYPE_PAIR) {
            int64_t x = static_cast<int32_t>(part->data2);
            int64_t y = static_cast<int32_t>(part->data3);
            start = std::max<int64_t>(x < 0 ? index + x : index + x - 1, 0);
            count = y < x ? 0 : y - x;
        } else if (same_series_q(part, value)) {
            count = int64_t{std::min(part->data1, total)} - index;
        } else {
            series::fire_refine_arg("part", part);
        }
    }
    if (count < 0) {
        start += count;
        count = -count;
        if (start < 0) {
            start = 0;
            count = index;
        }
    }
    if (start > total) start = total;
    count = std::min<int64_t>(count, total - start);

    node_t node = copy_cells(value, static_cast<uint32_t>(start), static_cast<uint32_t>(count));
    *dest = Cell{copy_type(value) | (value->header & FLAG_NEW_LINE), 0, node, 0};
    if (!deep && !types) return dest;

    std::optional<cycles::Scope> walk;
    if (deep) walk.emplace(deep_entry(value->data2));
    if (types) {
        copy_types(dest, 0, static_cast<int32_t>(count), 1, types, deep);
    } else {
        for (uint32_t i = 0; i < abs_length(dest); i++)
            if (is_series(type_of(ms_abs_at(dest, i)))) replace_by_copy(dest, i, true, nullptr);
    }
    return dest;
}

// ---------------------------------------------------------------------------
// append, insert, change
// ---------------------------------------------------------------------------

namespace {

// Where an append, insert or change goes and how the cell count changes.
// Worked out again after an owner's handler ran, since that runs Mox code
// that may have changed the block.
struct Plan {
    uint32_t index;     // the clipped index of the series
    uint32_t total;     // cells before the change
    uint32_t pos;       // first cell written
    uint32_t count;     // cells taken from the value
    uint32_t removed;   // cells replaced (change)
    uint32_t written;   // count x dup
    uint32_t new_total; // cells after the change
};

Plan plan_insert(Cell* series, const Cell* value, bool block_value, int32_t part, int32_t dup,
                 bool append) {
    Plan p{};
    int32_t count = block_value ? rs_length_q(value) : 1;
    p.count = static_cast<uint32_t>(part < 0 || part > count ? count : part);
    p.index = clip_index(series);
    p.total = abs_length(series);
    p.pos = append ? p.total : p.index;
    p.written = checked_cells(int64_t{p.count} * dup);
    p.new_total = checked_cells(int64_t{p.total} + p.written);
    return p;
}

Plan plan_change(Cell* series, const Cell* value, bool block_value, int32_t part, int32_t dup) {
    Plan p{};
    p.count = static_cast<uint32_t>(block_value ? rs_length_q(value) : 1);
    p.index = clip_index(series);
    p.total = abs_length(series);
    p.pos = p.index;
    p.written = checked_cells(int64_t{p.count} * dup);
    int64_t room = p.total - p.index;
    p.removed = static_cast<uint32_t>(std::min<int64_t>(room, part >= 0 ? part : p.written));
    p.new_total = checked_cells(int64_t{p.total} + p.written - p.removed);
    return p;
}

// Writes p.count cells of value (or value itself) dup times at p.pos over
// p.removed cells. A block value in the series' own buffer is copied out
// first. A buffer that must grow is doubled when asked. May collect.
void splice(Cell* series, const Cell* value, bool block_value, int32_t dup, const Plan& p,
            bool doubled) {
    Cell* saved = stack::top;
    const Cell* src = value;
    if (block_value && value->data2 == series->data2) src = push_copy(value, p.count);
    reserve(series, p.new_total, doubled);

    SeriesBuffer* b = buffer_of(series);
    Cell* at = b->cells() + p.pos;
    if (p.written != p.removed)
        std::memmove(at + p.written, at + p.removed, (p.total - p.pos - p.removed) * sizeof(Cell));
    if (block_value)
        std::memcpy(at, rs_head(src), p.count * sizeof(Cell));
    else if (p.count > 0)
        *at = *value;
    if (dup > 1 && p.count > 0)
        memory::repeat_bytes(reinterpret_cast<uint8_t*>(at), p.count * sizeof(Cell),
                             static_cast<uint32_t>(dup));
    b->tail = b->head + p.new_total * sizeof(Cell);
    stack::top = saved;
}

} // namespace

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    const bool block_value = is_any_block(type_of(value)) && !only;
    if (dup < 1 || part == 0 || (block_value && rs_length_q(value) == 0)) {
        if (append) series->data1 = 0;
        return series;
    }
    Plan p = plan_insert(series, value, block_value, part, dup, append);
    const Change before = append ? Change::append : Change::insert;
    const Change after = append ? Change::appended : Change::inserted;
    bool told = series::notify(series, before, value, as_int(p.pos), as_int(p.written));
    if (told) p = plan_insert(series, value, block_value, part, dup, append);

    splice(series, value, block_value, dup, p, dup < 5);
    hash_inserted(series, p.pos, p.written, p.total);
    if (told) series::notify(series, after, value, as_int(p.pos), as_int(p.written));
    series->data1 = append ? 0 : std::min(p.index + p.written, p.new_total);
    return series;
}

bool append_in_place(Cell* blk, const Cell* value, bool only) {
    if (type_of(blk) != TYPE_BLOCK || (is_any_block(type_of(value)) && !only)) return false;
    SeriesBuffer* b = buffer_of(blk);
    if ((b->flags & memory::SERIES_OWNED) || b->tail + sizeof(Cell) > arena::ref(b->end()) ||
        abs_length(blk) >= MAX_CELLS)
        return false;
    *b->cells_tail() = *value;
    b->tail += sizeof(Cell);
    blk->data1 = 0;
    return true;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    if (dup < 1) return series;
    const bool block_value = is_any_block(type_of(value)) && !only;
    Plan p = plan_change(series, value, block_value, part, dup);
    bool told = series::notify(series, Change::change, value, as_int(p.pos), as_int(p.removed));
    if (told) p = plan_change(series, value, block_value, part, dup);

    splice(series, value, block_value, dup, p, false);
    rehash(series);
    if (told) series::notify(series, Change::changed, value, as_int(p.pos), as_int(p.written));
    series->data1 = std::min(p.pos + p.written, p.new_total);
    return series;
}

// ---------------------------------------------------------------------------
// put, swap, take, trim
// ---------------------------------------------------------------------------

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    int32_t sequence;
    int32_t found =
        search(series, key, nullptr, true, case_, false, nullptr, false, false, false, &sequence);
    int32_t at = found < 0 ? as_int(abs_length(series)) : found + 1;
    bool told = series::notify(series, Change::put, value, at, 1);
    if (found < 0) {
        append_hashed(series, key);
        append_hashed(series, value);
    } else if (static_cast<uint32_t>(at) >= abs_length(series)) {
        append_hashed(series, value);
    } else {
        Cell* saved = stack::top;
        Cell* old = stack::push(ms_abs_at(series, static_cast<uint32_t>(at)));
        bool differs = actions::compare(old, value, COMP_FIND) != 0;
        stack::top = saved;
        if (differs && static_cast<uint32_t>(at) < abs_length(series)) {
            if (hashed_q(series))
                hashtable::delete_(series->data3, ms_abs_at(series, static_cast<uint32_t>(at)));
            *ms_abs_at(series, static_cast<uint32_t>(at)) = *value;
            hash_put(series, static_cast<uint32_t>(at));
        }
    }
    if (told) series::notify(series, Change::put_ed, value, at, 1);
    return value;
}

Cell* swap(Cell* series1, Cell* series2) {
    if (!is_any_block(type_of(series2))) fire(err::invalid_arg, series2);
    if (ms_tail_q(series1) || ms_tail_q(series2)) return series1;
    bool told1 = series::notify(series1, Change::swap, series2, as_int(series1->data1), 1);
    bool told2 = series::notify(series2, Change::swap, series1, as_int(series2->data1), 1);
    uint32_t i1 = series1->data1;
    uint32_t i2 = series2->data1;
    if (i1 >= abs_length(series1) || i2 >= abs_length(series2)) return series1;
    if (series1->data2 == series2->data2 && i1 == i2) return series1;
    if (hashed_q(series1)) hashtable::delete_(series1->data3, ms_abs_at(series1, i1));
    if (hashed_q(series2)) hashtable::delete_(series2->data3, ms_abs_at(series2, i2));
    std::swap(*ms_abs_at(series1, i1), *ms_abs_at(series2, i2));
    hash_put(series1, i1);
    hash_put(series2, i2);
    if (told1) series::notify(series1, Change::swaped, series2, as_int(i1), 1);
    if (told2) series::notify(series2, Change::swaped, series1, as_int(i2), 1);
    return series1;
}

// The series! take moves the cells out; a take without /part answers the
// one value itself.
Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Cell* result = series::take(series, part, deep, last);
    if (type_of(result) == TYPE_NONE) return result;
    if (deep) {
        for (uint32_t i = 0; i < abs_length(result); i++)
            if (is_series(type_of(ms_abs_at(result, i)))) replace_by_copy(result, i, true, nullptr);
        rehash(result);
    }
    if (!part && abs_length(result) == 1) *result = *ms_abs_at(result, 0);
    return result;
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    uint32_t index = clip_index(series);
    bool told = series::notify(series, Change::trim, nullptr, as_int(index),
                               as_int(abs_length(series) - index));
    index = clip_index(series);
    const uint32_t total = abs_length(series);
    SeriesBuffer* b = buffer_of(series);
    Cell* cells = b->cells();
    uint32_t kept = index;
    for (uint32_t i = index; i < total; i++)
        if (type_of(&cells[i]) != TYPE_NONE) cells[kept++] = cells[i];
    b->tail = b->head + kept * sizeof(Cell);
    if (kept != total) rehash(series);
    if (told) series::notify(series, Change::trimmed, nullptr, as_int(index), as_int(kept - index));
    return series;
}

// ---------------------------------------------------------------------------
// Path access
// ---------------------------------------------------------------------------

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    if (type_of(element) == TYPE_INTEGER) {
        int32_t n = get_integer(element);
        return value ? actions::poke(parent, n, value, element) : actions::pick(parent, n, element);
    }
    if (!value) {
        if (type_of(element) == TYPE_WORD && type_of(parent) != TYPE_HASH)
            return select_word(parent, element, case_);
        return select(parent, element, nullptr, true, case_, false, false, nullptr, nullptr, false,
                      false);
    }
    int32_t sequence;
    int32_t found = search(parent, element, nullptr, false, case_, false, nullptr, false, false,
                           false, &sequence);
    if (found < 0) fire(err::bad_path_set, path, element);
    Cell* saved = stack::top;
    Cell* at = stack::push(parent);
    at->data1 = static_cast<uint32_t>(found);
    Cell* key = make_integer(stack::push_cell(), 2);
    actions::poke(at, 2, value, key);
    stack::top = saved;
    return value;
}

// ---------------------------------------------------------------------------
// Set operations
// ---------------------------------------------------------------------------

namespace {

// Whether a value is among the record heads of a block (a hash! over it):
// a block value by a find/only, any other value through the index.
bool member_q(Cell* set, Cell* value, int32_t op, int32_t size) {
    if (is_any_block(type_of(value))) {
        Cell skip;
        make_integer(&skip, size);
        int32_t sequence;
        return search(set, value, nullptr, true, op == COMP_STRICT_EQUAL, false, &skip, false,
                      false, false, &sequence) >= 0;
    }
    return hashtable::find(set->data3, value, as_int(set->data1), size, op, false, false) !=
           nullptr;
}

// One pass over the records of src: each kept record whose head is not in
// the result yet is appended to it. other (nullptr for unique and union) is
// the set looked into for intersect, exclude and difference. May collect.
void set_pass(Cell* result, Cell* src, Cell* other, int32_t op, int32_t compare, int32_t size) {
    Cell* saved = stack::top;
    Cell* lookup = nullptr;
    if (other) {
        lookup = stack::push(other);
        if (!hashed_q(lookup)) {
            *lookup = Cell{TYPE_HASH, other->data1, other->data2, 0};
            lookup->data3 =
                hashtable::init(as_int(abs_length(other)), other->data2, hashtable::KIND_HASH, 0);
        }
    }
    for (uint32_t r = clip_index(src); r < abs_length(src); r += static_cast<uint32_t>(size)) {
        Cell* head = stack::push(ms_abs_at(src, r));
        bool keep = true;
        if (lookup) {
            bool found = member_q(lookup, head, compare, size);
            keep = op == series::SET_INTERSECT ? found : !found;
        }
        if (keep && !member_q(result, head, compare, size)) {
            for (uint32_t k = 0; k < static_cast<uint32_t>(size) && r + k < abs_length(src); k++)
                append_hashed(result, ms_abs_at(src, r + k));
        }
        stack::pop(1);
    }
    stack::top = saved;
}

} // namespace

Cell* do_set_op(Cell* set1, Cell* set2, bool case_, Cell* skip, int32_t op) {
    int32_t size = 1;
    if (skip) {
        if (type_of(skip) != TYPE_INTEGER || get_integer(skip) < 1)
            series::fire_refine_arg("skip", skip);
        size = get_integer(skip);
    }
    const int32_t compare = case_ ? COMP_STRICT_EQUAL : COMP_EQUAL;
    clip_index(set1);
    if (set2) clip_index(set2);
    int64_t room = rs_length_q(set1) + (op == series::SET_UNION ? rs_length_q(set2) : 0);

    Cell* saved = stack::top;
    Cell* result = make_at(make_none(stack::push_cell()), as_int(checked_cells(room)), TYPE_HASH);
    result->data3 =
        hashtable::init(as_int(checked_cells(room)), result->data2, hashtable::KIND_HASH, 0);
    switch (op) {
    case series::SET_UNIQUE:
        set_pass(result, set1, nullptr, op, compare, size);
        break;
    case series::SET_UNION:
        set_pass(result, set1, nullptr, op, compare, size);
        set_pass(result, set2, nullptr, op, compare, size);
        break;
    case series::SET_DIFFERENCE:
        set_pass(result, set1, set2, op, compare, size);
        set_pass(result, set2, set1, op, compare, size);
        break;
    default:
        set_pass(result, set1, set2, op, compare, size);
        break;
    }
    const bool keep_index =
        type_of(set1) == TYPE_HASH || (op != series::SET_UNIQUE && type_of(set2) == TYPE_HASH);
    *set1 = Cell{keep_index ? uint32_t{TYPE_HASH} : type_of(set1), 0, result->data2,
                 keep_index ? result->data3 : 0};
    stack::top = saved;
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
        .set<A_COPY>(&copy)
        .set<A_FIND>(&find)
        .set<A_INSERT>(&insert)
        .set<A_PUT>(&put)
        .set<A_SELECT>(&select)
        .set<A_SORT>(&sort)
        .set<A_SWAP>(&swap)
        .set<A_TAKE>(&take)
        .set<A_TRIM>(&trim)
        .inherit<A_RANDOM>()
        .inherit<A_REFLECT>()
        .inherit<A_AT>()
        .inherit<A_BACK>()
        .inherit<A_CLEAR>()
        .inherit<A_HEAD>()
        .inherit<A_HEAD_Q>()
        .inherit<A_INDEX_Q>()
        .inherit<A_LENGTH_Q>()
        .inherit<A_MOVE>()
        .inherit<A_NEXT>()
        .inherit<A_PICK>()
        .inherit<A_POKE>()
        .inherit<A_REMOVE>()
        .inherit<A_REVERSE>()
        .inherit<A_SKIP>()
        .inherit<A_TAIL>()
        .inherit<A_TAIL_Q>()
        .inherit<A_MODIFY>();
    datatype::register_type(TYPE_BLOCK, TYPE_SERIES, "block!", slots);
}

} // namespace mox::block
