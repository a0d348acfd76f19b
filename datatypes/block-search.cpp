// block!: searching, comparing and sorting (see block.h).
//
// Cells are compared through the comparison action of their type, which may
// allocate (ordering words compares their names as strings), so each cell is
// copied onto the evaluation stack before it is handed over: a cell of the
// stack stays put and is seen by the collector, a pointer into a buffer does
// neither. Comparisons of nested blocks go through the cycle stack, which
// bounds the recursion.
//
// A sort never works inside the block: it sorts an array of record numbers
// in system memory against a private copy of the cells (a block held on the
// evaluation stack) and writes the permuted cells back at the end. The
// comparator, a Mox function through sort/compare included, may then
// allocate, raise or change the block without the sort ever reading or
// writing through a stale pointer; an error leaves the block as it was.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <optional>
#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/cycles.h"
#include "core/hashtable.h"
#include "core/sorting.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"

namespace mox::block {

using memory::SeriesBuffer;
using series::Change;

namespace {

// The shared none cell that the lookups return; never written.
Cell none_cell = none_value;

inline int32_t as_int(uint32_t n) { return static_cast<int32_t>(n); }

// Compares cell i of blk with value under op, through a copy on the stack.
int32_t compare_at(const Cell* blk, uint32_t i, const Cell* value, int32_t op) {
    Cell* copy = stack::push(ms_abs_at(blk, i));
    int32_t r = actions::compare(copy, const_cast<Cell*>(value), op);
    stack::pop(1);
    return r;
}

// Compares cell i of a with cell j of b under op, through copies.
int32_t compare_cells(const Cell* a, uint32_t i, const Cell* b, uint32_t j, int32_t op) {
    Cell* saved = stack::top;
    Cell* x = stack::push(ms_abs_at(a, i));
    Cell* y = stack::push(ms_abs_at(b, j));
    int32_t r = actions::compare(x, y, op);
    stack::top = saved;
    return r;
}

inline bool number_q(uint32_t t) {
    return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT;
}

inline bool word_kind_q(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }

enum Mode { MATCH_VALUE, MATCH_TYPE, MATCH_TYPESET, MATCH_SEQUENCE };

// Whether the candidate at p matches; a sequence candidate is known to fit.
bool matches_at(const Cell* series, int64_t p, const Cell* value, Mode mode, int32_t op,
                int32_t length) {
    const uint32_t at = static_cast<uint32_t>(p);
    switch (mode) {
    case MATCH_TYPE:
        return type_of(ms_abs_at(series, at)) == value->data1;
    case MATCH_TYPESET:
        return type_in_q(value, type_of(ms_abs_at(series, at)));
    case MATCH_VALUE:
        return compare_at(series, at, value, op) == 0;
    case MATCH_SEQUENCE: {
        const uint32_t from = std::min(value->data1, abs_length(value));
        for (int32_t k = 0; k < length; k++)
            if (compare_cells(series, at + k, value, from + k, op) != 0) return false;
        return true;
    }
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------
// find and select
// ---------------------------------------------------------------------------

// Candidates lie in [lo, hi): from the position for a forward or /last
// search, before it for /reverse; /skip steps on the grid of records that
// starts at lo, whichever way the scan runs. Positions are 64-bit so that a
// huge skip steps past the end instead of wrapping.
int32_t search(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, Cell* skip,
               bool last, bool reverse, bool match, int32_t* sequence) {
    *sequence = 0;
    const int64_t total = abs_length(series);
    const int64_t pos = std::min<int64_t>(series->data1, total);
    if (total == 0 || (!reverse && pos >= total)) return -1;

    int64_t step = 1;
    if (skip) {
        if (type_of(skip) != TYPE_INTEGER) series::fire_refine_arg("skip", skip);
        step = get_integer(skip);
        if (step < 1) fire(err::out_of_range, skip);
    }
    int64_t lo = reverse ? 0 : pos;
    int64_t hi = reverse ? pos : total;
    if (part) {
        if (type_of(part) == TYPE_INTEGER) {
            const int64_t n = get_integer(part);
            if (n < 1) return -1;
            if (reverse)
                lo = std::max<int64_t>(pos - n, 0);
            else
                hi = std::min(pos + n, total);
        } else if (same_series_q(part, series)) {
            // The limit cell is itself searched.
            const int64_t limit = std::min<int64_t>(part->data1, total - 1);
            if (reverse)
                lo = std::min(limit, pos);
            else
                hi = limit + 1;
        } else {
            series::fire_refine_arg("part", part);
        }
    }

    Mode mode = MATCH_VALUE;
    const uint32_t vt = type_of(value);
    int32_t length = 1;
    if (!only) {
        if (vt == TYPE_DATATYPE) {
            mode = MATCH_TYPE;
        } else if (vt == TYPE_TYPESET) {
            mode = MATCH_TYPESET;
        } else if (is_any_block(vt)) {
            mode = MATCH_SEQUENCE;
            length = rs_length_q(value);
            if (length == 0) return -1;
            *sequence = length;
        }
    }
    const int32_t op = same ? COMP_SAME : case_ ? COMP_STRICT_EQUAL : COMP_FIND;
    if (hi - length < lo) return -1;

    if (type_of(series) == TYPE_HASH && series->data3 && !match && mode == MATCH_VALUE &&
        (!is_any_block(vt) || (only && same)) && !(vt == TYPE_OBJECT && !same)) {
        // The index answers the nearest candidate on the grid, backward ones
        // below a start one past the last record of the range; the range
        // check is left to us.
        Cell* hit;
        if (last || reverse) {
            const int64_t start = lo + 1 + (hi - lo - 1) / step * step;
            hit = hashtable::find(series->data3, value, static_cast<int32_t>(start),
                                  static_cast<int32_t>(step), op, false, true);
        } else {
            hit = hashtable::find(series->data3, value, static_cast<int32_t>(lo),
                                  static_cast<int32_t>(step), op, false, false);
        }
        if (!hit) return -1;
        const int64_t p = hit - buffer_of(series)->cells();
        return p >= lo && p < hi ? static_cast<int32_t>(p) : -1;
    }

    if (last || reverse) {
        for (int64_t p = lo + (hi - length - lo) / step * step; p >= lo; p -= step) {
            if (matches_at(series, p, value, mode, op, length)) return static_cast<int32_t>(p);
            if (match) break;
        }
        return -1;
    }
    for (int64_t p = lo; p + length <= hi; p += step) {
        if (matches_at(series, p, value, mode, op, length)) return static_cast<int32_t>(p);
        if (match) break;
    }
    return -1;
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    int32_t sequence;
    int32_t p =
        search(series, value, part, only, case_, same, skip, last, reverse, match, &sequence);
    if (p < 0) return make_none(stack::push_cell());
    int64_t at = p;
    if (tail) at += sequence ? sequence : (last || reverse || !skip) ? 1 : get_integer(skip);
    Cell* found = stack::push(series);
    found->data1 = static_cast<uint32_t>(std::min<int64_t>(at, abs_length(series)));
    return found;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse) {
    int32_t sequence;
    int32_t p =
        search(series, value, part, only, case_, same, skip, last, reverse, false, &sequence);
    if (p < 0) return make_none(stack::push_cell());
    uint32_t at =
        static_cast<uint32_t>(p) + (sequence && type_of(value) != TYPE_HASH ? sequence : 1);
    if (at >= abs_length(series)) return make_none(stack::push_cell());
    return stack::push(ms_abs_at(series, at));
}

Cell* select_value(Cell* blk, const Cell* value) {
    int32_t sequence;
    int32_t p = search(blk, const_cast<Cell*>(value), nullptr, true, false, false, nullptr, false,
                       false, false, &sequence);
    if (p < 0 || static_cast<uint32_t>(p) + 1 >= abs_length(blk)) return &none_cell;
    return ms_abs_at(blk, static_cast<uint32_t>(p) + 1);
}

Cell* select_word(Cell* blk, const Cell* word, bool case_) {
    const uint32_t wanted = case_ ? word->data2 : symbol::resolve(word->data2);
    const uint32_t total = abs_length(blk);
    for (uint32_t i = std::min(blk->data1, total); i < total; i++) {
        const Cell* c = ms_abs_at(blk, i);
        if (!word_kind_q(type_of(c))) continue;
        if ((case_ ? c->data2 : symbol::resolve(c->data2)) != wanted) continue;
        return i + 1 < total ? ms_abs_at(blk, i + 1) : &none_cell;
    }
    return &none_cell;
}

int32_t remove_value(Cell* blk, const Cell* value, bool from_head) {
    const uint32_t index = std::min(blk->data1, abs_length(blk));
    for (uint32_t i = from_head ? 0 : index; i < abs_length(blk); i++) {
        if (compare_at(blk, i, value, COMP_FIND) != 0) continue;
        SeriesBuffer* b = buffer_of(blk);
        Cell* at = b->cells() + i;
        const uint32_t moved = abs_length(blk) - i - 1;
        std::memmove(at, at + 1, moved * sizeof(Cell));
        b->tail -= sizeof(Cell);
        if (type_of(blk) == TYPE_HASH && blk->data3 &&
            hashtable::refresh(blk->data3, -1, as_int(i + 1), as_int(moved), true))
            hashtable::rehash(blk->data3, as_int(abs_length(blk)));
        return i <= index ? 2 : 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// compare
// ---------------------------------------------------------------------------

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    const uint32_t t1 = type_of(value1);
    const uint32_t t2 = type_of(value2);
    if (t1 != t2) {
        auto plain_path = [](uint32_t t) { return t == TYPE_PATH || t == TYPE_LIT_PATH; };
        bool word_op = op == COMP_STRICT_EQUAL_WORD || op == COMP_EQUAL_WORD;
        if (!(word_op && plain_path(t1) && plain_path(t2))) return COMPARE_NOT_COMPARABLE;
    }
    if (value1->data2 == value2->data2 && value1->data1 == value2->data1) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find(value1->data2)) return cycles::find(value2->data2) ? 0 : -1;

    const int32_t n1 = rs_length_q(value1);
    const int32_t n2 = rs_length_q(value2);
    const bool equality = op <= COMP_STRICT_EQUAL || op >= COMP_STRICT_EQUAL_WORD;
    if (equality && n1 != n2) return 1;

    cycles::Scope walk1(value1->data2);
    cycles::Scope walk2(value2->data2);
    const uint32_t i1 = std::min(value1->data1, abs_length(value1));
    const uint32_t i2 = std::min(value2->data1, abs_length(value2));
    for (int32_t k = 0; k < std::min(n1, n2); k++) {
        const uint32_t a = type_of(ms_abs_at(value1, i1 + k));
        const uint32_t b = type_of(ms_abs_at(value2, i2 + k));
        int32_t r;
        if (a == b || (is_any_word(a) && is_any_word(b)) || (number_q(a) && number_q(b)))
            r = compare_cells(value1, i1 + k, value2, i2 + k, op);
        else
            r = a < b ? -1 : 1;
        if (r != 0) return r;
    }
    return n1 == n2 ? 0 : n1 < n2 ? -1 : 1;
}

// ---------------------------------------------------------------------------
// sort
// ---------------------------------------------------------------------------

namespace {

// Sort flags: bit 0 reverse, bit 1 whole records; bits 2 and up the cell
// offset compared within a record, or with bit 1 the record size.
constexpr uint32_t SORT_REVERSE = 1;
constexpr uint32_t SORT_ALL = 2;
constexpr uint32_t SORT_SHIFT = 2;

// Above this size the two record blocks of sort/compare/all are replaced by
// fresh small ones after a sort.
constexpr uint32_t SCRATCH_TRIM_BYTES = 0x1FFFFF;

// The two blocks that carry records to a user comparator with /all.
Cell scratch[2] = {unset_value, unset_value};
bool scratch_rooted = false;
bool scratch_busy = false;

void mark_scratch() { collector::mark_values(scratch, scratch + 2); }

// The pair of record blocks one sort hands to its comparator: the global
// pair, or for a sort run by a comparator while an outer sort holds that
// pair, two cells of its own on the stack, so that the outer call's records
// stay what its comparator was given.
struct ScratchClaim {
    Cell* cells;
    bool owner;

    ScratchClaim() : cells(scratch), owner(!scratch_busy) {
        if (!scratch_rooted) {
            collector::register_callback(&mark_scratch);
            scratch_rooted = true;
        }
        if (owner) {
            scratch_busy = true;
            return;
        }
        cells = make_unset(stack::push_cell());
        make_unset(stack::push_cell());
    }
    ~ScratchClaim() {
        if (owner) scratch_busy = false;
    }
    ScratchClaim(const ScratchClaim&) = delete;
    ScratchClaim& operator=(const ScratchClaim&) = delete;
};

struct SortContext {
    Cell* cells;    // stack cell: the private copy of the sorted cells
    uint32_t size;  // cells per record
    int32_t op;     // COMP_SORT or COMP_CASE_SORT
    Cell* function; // user comparator, or nullptr
    Cell* records;  // the two record blocks of /all, or nullptr
};

// A user comparator's answer as an ordering.
int32_t ordering_of(const Cell* answer) {
    switch (type_of(answer)) {
    case TYPE_LOGIC:
        return answer->data1 ? 1 : -1;
    case TYPE_INTEGER:
        return get_integer(answer);
    case TYPE_FLOAT: {
        double d = get_float(answer);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    case TYPE_NONE:
        return -1;
    default:
        return 1;
    }
}

// Fills record block which with the cells of a record and pushes it.
// May collect.
Cell* push_record(const SortContext& s, uint32_t which, uint32_t record) {
    Cell* block = &s.records[which];
    if (type_of(block) != TYPE_BLOCK) make_at(block, as_int(s.size));
    block->data1 = 0;
    ms_clear_at(block, 0);
    for (uint32_t k = 0; k < s.size; k++) ms_append(block, ms_abs_at(s.cells, record * s.size + k));
    return stack::push(block);
}

int call_user(const SortContext& s, uint32_t a, uint32_t b, uint32_t flags) {
    if (!call_comparator) fire(err::feature_na);
    Cell* saved = stack::top;
    Cell* x;
    Cell* y;
    if (flags & SORT_ALL) {
        x = push_record(s, 0, a);
        y = push_record(s, 1, b);
    } else {
        x = stack::push(ms_abs_at(s.cells, a * s.size));
        y = stack::push(ms_abs_at(s.cells, b * s.size));
    }
    Cell* answer = (flags & SORT_REVERSE) ? call_comparator(s.function, x, y)
                                          : call_comparator(s.function, y, x);
    int32_t r = ordering_of(answer);
    stack::top = saved;
    return r;
}

int compare_records(const void* ra, const void* rb, void* ctx, uint32_t flags) {
    const auto& s = *static_cast<const SortContext*>(ctx);
    uint32_t a = *static_cast<const uint32_t*>(ra);
    uint32_t b = *static_cast<const uint32_t*>(rb);
    if (s.function) return call_user(s, a, b, flags);
    if (flags & SORT_REVERSE) std::swap(a, b);
    uint32_t first = 0;
    uint32_t count = 1;
    if (flags & SORT_ALL)
        count = flags >> SORT_SHIFT;
    else
        first = flags >> SORT_SHIFT;
    for (uint32_t k = 0; k < count; k++) {
        const uint32_t i = a * s.size + first + k;
        const uint32_t j = b * s.size + first + k;
        int32_t r = compare_cells(s.cells, i, s.cells, j, s.op);
        if (r == COMPARE_NOT_COMPARABLE)
            r = as_int(type_of(ms_abs_at(s.cells, i))) - as_int(type_of(ms_abs_at(s.cells, j)));
        if (r != 0) return r;
    }
    return 0;
}

void trim_scratch() {
    for (Cell& c : scratch) {
        if (type_of(&c) == TYPE_BLOCK && buffer_of(&c)->size > SCRATCH_TRIM_BYTES) make_at(&c, 1);
    }
}

} // namespace

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable) {
    uint32_t index = clip_index(series);
    int64_t n = rs_length_q(series);
    if (n <= 0) return series;
    if (part) {
        int64_t p;
        if (type_of(part) == TYPE_INTEGER)
            p = get_integer(part);
        else if (same_series_q(part, series))
            p = int64_t{part->data1} - index;
        else
            series::fire_refine_arg("part", part);
        if (p < 0) {
            if (-p > index) {
                series->data1 = 0;
                return series;
            }
            index -= static_cast<uint32_t>(-p);
            series->data1 = index;
            n = -p;
        } else if (p < n) {
            n = p;
        }
    }
    if (n == 0) return series;

    uint32_t size = 1;
    if (skip) {
        if (type_of(skip) != TYPE_INTEGER) series::fire_refine_arg("skip", skip);
        int32_t s = get_integer(skip);
        if (s < 1 || n % s != 0 || s > n) series::fire_refine_arg("skip", skip);
        size = static_cast<uint32_t>(s);
    }
    if (all && !skip) fire(err::bad_refines);

    uint32_t flags = reverse ? SORT_REVERSE : 0;
    Cell* function = nullptr;
    if (comparator) {
        switch (type_of(comparator)) {
        case TYPE_FUNCTION:
            function = comparator;
            if (all) flags |= SORT_ALL | size << SORT_SHIFT;
            break;
        case TYPE_INTEGER: {
            if (!skip || all) fire(err::bad_refines);
            int32_t offset = get_integer(comparator);
            if (offset < 1 || static_cast<uint32_t>(offset) > size)
                fire(err::out_of_range, comparator);
            flags |= static_cast<uint32_t>(offset - 1) << SORT_SHIFT;
            break;
        }
        default:
            series::fire_refine_arg("compare", comparator);
        }
    } else if (all) {
        flags |= SORT_ALL | size << SORT_SHIFT;
    }

    bool told =
        series::notify(series, Change::sort, nullptr, as_int(index), static_cast<int32_t>(n));
    if (told) n = std::min<int64_t>(n, rs_length_q(series));
    const uint32_t records = static_cast<uint32_t>(n) / size;
    if (records >= 2) {
        Cell* saved = stack::top;
        Cell* cells = make_at(make_none(stack::push_cell()), static_cast<int32_t>(n));
        SeriesBuffer* cb = buffer_of(cells);
        std::memcpy(cb->cells(), rs_head(series), static_cast<size_t>(n) * sizeof(Cell));
        cb->tail = cb->head + static_cast<uint32_t>(n) * sizeof(Cell);
        std::optional<ScratchClaim> claim;
        if (function && (flags & SORT_ALL)) claim.emplace();
        SortContext ctx{cells, size, case_ ? COMP_CASE_SORT : COMP_SORT, function,
                        claim ? claim->cells : nullptr};
        std::vector<uint32_t> order(records);
        std::iota(order.begin(), order.end(), 0u);
        if (stable)
            sorting::merge_sort(order.data(), records, sizeof(uint32_t), &ctx, flags,
                                &compare_records);
        else
            sorting::quick_sort(order.data(), records, sizeof(uint32_t), &ctx, flags,
                                &compare_records);
        // The comparator may have changed the block: only cells that still
        // exist are written.
        index = std::min(series->data1, abs_length(series));
        const uint32_t total = abs_length(series);
        Cell* to = buffer_of(series)->cells();
        const Cell* from = buffer_of(cells)->cells();
        for (uint32_t r = 0; r < records; r++) {
            for (uint32_t k = 0; k < size; k++) {
                uint32_t dst = index + r * size + k;
                if (dst < total) to[dst] = from[order[r] * size + k];
            }
        }
        stack::top = saved;
        if (type_of(series) == TYPE_HASH && series->data3)
            hashtable::rehash(series->data3, as_int(abs_length(series)));
        if (claim && claim->owner) trim_scratch();
    }
    if (told)
        series::notify(series, Change::sorted, nullptr, as_int(index), static_cast<int32_t>(n));
    return series;
}

} // namespace mox::block
