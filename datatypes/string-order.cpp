// string!: sort (see string.h).
//
// The records are sorted in a copy held in system memory and written back
// afterwards. A user comparator runs Mox code that may allocate (moving the
// buffer) or change the series itself; sorting a copy keeps every access
// inside memory the sort owns, and the write-back re-reads the buffer and
// stores only what still fits.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/sorting.h"
#include "core/stack.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"

namespace mox::string {

namespace {

enum SortFlags : uint32_t { SORT_REVERSE = 1, SORT_ALL = 2 };

struct SortContext {
    uint32_t unit;
    uint32_t size;   // units per record
    uint32_t offset; // unit compared within a record
    bool fold;
    bool floats; // vector! of float! or percent! elements
    Cell* fn;    // user comparator, or null
};

int compare_units(const uint8_t* a, const uint8_t* b, const SortContext& c) {
    if (c.floats) {
        double x, y;
        if (c.unit == 8) {
            std::memcpy(&x, a, 8);
            std::memcpy(&y, b, 8);
        } else {
            float fx, fy;
            std::memcpy(&fx, a, 4);
            std::memcpy(&fy, b, 4);
            x = fx;
            y = fy;
        }
        return x < y ? -1 : x > y ? 1 : 0;
    }
    uint32_t x = get_char(a, c.unit), y = get_char(b, c.unit);
    if (c.fold) {
        x = unicode::to_upper(x);
        y = unicode::to_upper(y);
    }
    return x < y ? -1 : x > y ? 1 : 0;
}

int default_compare(const void* pa, const void* pb, void* ctx, uint32_t flags) {
    const SortContext& c = *static_cast<const SortContext*>(ctx);
    const uint8_t* a = static_cast<const uint8_t*>(pa);
    const uint8_t* b = static_cast<const uint8_t*>(pb);
    if (flags & SORT_REVERSE) std::swap(a, b);
    if (!(flags & SORT_ALL)) return compare_units(a + c.offset * c.unit, b + c.offset * c.unit, c);
    for (uint32_t i = 0; i < c.size; i++)
        if (int r = compare_units(a + i * c.unit, b + i * c.unit, c)) return r;
    return 0;
}

// One record as the comparator's argument: its compared character, or with
// /all a string of the whole record. May collect.
void record_value(Cell* out, const uint8_t* record, const SortContext& c, bool whole) {
    if (!whole) {
        make_char(out, get_char(record + c.offset * c.unit, c.unit));
        return;
    }
    make_at(out, c.size, c.unit);
    memory::SeriesBuffer* b = buffer_of(out);
    std::memcpy(b->head_ptr(), record, c.size * c.unit);
    b->tail = b->head + c.size * c.unit;
}

// Runs the user comparator on the second record then the first (the other
// way round with /reverse) and maps its answer: true before, false after;
// numbers count the other way round.
int user_compare(const void* pa, const void* pb, void* ctx, uint32_t flags) {
    const SortContext& c = *static_cast<const SortContext*>(ctx);
    const uint8_t* first = static_cast<const uint8_t*>(flags & SORT_REVERSE ? pa : pb);
    const uint8_t* second = static_cast<const uint8_t*>(flags & SORT_REVERSE ? pb : pa);
    Cell* saved = stack::top;
    Cell* args = stack::push_cell();
    Cell* arg2 = stack::push_cell();
    make_none(args);
    make_none(arg2);
    record_value(args, first, c, (flags & SORT_ALL) != 0);
    record_value(arg2, second, c, (flags & SORT_ALL) != 0);
    Cell* r = block::call_comparator(c.fn, args, arg2);
    int result;
    switch (type_of(r)) {
    case TYPE_LOGIC:
        result = r->data1 ? 1 : -1;
        break;
    case TYPE_INTEGER: {
        int32_t i = get_integer(r);
        result = i > 0 ? -1 : i < 0 ? 1 : 0;
        break;
    }
    case TYPE_FLOAT: {
        double d = get_float(r);
        result = d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
        break;
    }
    case TYPE_NONE:
        result = -1;
        break;
    default:
        result = 1;
        break;
    }
    stack::top = saved;
    return result;
}

[[noreturn]] void fire_bad_refines() { fire(err::bad_refines); }

} // namespace

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable) {
    int32_t n = ms_length_q(series);
    if (part) {
        int32_t p = series::part_count(series, part);
        if (p < 0) {
            int64_t start = int64_t{series->data1} + p;
            if (start < 0) {
                series->data1 = 0;
                return series;
            }
            series->data1 = static_cast<uint32_t>(start);
            n = -p;
        } else if (p < n) {
            n = p;
        }
    }
    if (n <= 0) return series;
    int32_t size = 1;
    if (skip) {
        if (type_of(skip) != TYPE_INTEGER) series::fire_refine_arg("skip", skip);
        size = get_integer(skip);
        if (size < 1 || size > n || n % size != 0) series::fire_refine_arg("skip", skip);
    } else if (all) {
        fire_bad_refines();
    }
    memory::SeriesBuffer* b = buffer_of(series);
    uint32_t t = type_of(series);
    SortContext c{b->unit(), static_cast<uint32_t>(size), 0, false, false, nullptr};
    c.floats = t == TYPE_VECTOR && (series->data3 == TYPE_FLOAT || series->data3 == TYPE_PERCENT) &&
               (c.unit == 4 || c.unit == 8);
    c.fold = !case_ && is_any_string(t);
    uint32_t flags = reverse ? uint32_t{SORT_REVERSE} : 0u;
    sorting::Compare cmp = &default_compare;
    if (comparator) {
        uint32_t ct = type_of(comparator);
        if (ct == TYPE_FUNCTION) {
            if (!block::call_comparator) fire(err::feature_na);
            cmp = &user_compare;
            c.fn = comparator;
            if (all) flags |= SORT_ALL;
        } else if (ct == TYPE_INTEGER) {
            if (!skip || all) fire_bad_refines();
            int32_t at = get_integer(comparator);
            if (at < 1 || at > size) fire(err::out_of_range, comparator);
            c.offset = static_cast<uint32_t>(at - 1);
        } else {
            series::fire_refine_arg("compare", comparator);
        }
    } else if (all) {
        flags |= SORT_ALL;
    }

    uint32_t index = series->data1;
    bool told =
        series::notify(series, series::Change::sort, nullptr, static_cast<int32_t>(index), n);
    b = buffer_of(series);
    uint32_t width = c.unit * c.size;
    size_t records = static_cast<size_t>(n) / c.size;
    const uint8_t* from = b->head_ptr() + index * c.unit;
    std::vector<uint8_t> copy(from, from + records * width);
    if (stable)
        sorting::merge_sort(copy.data(), records, width, &c, flags, cmp);
    else
        sorting::quick_sort(copy.data(), records, width, &c, flags, cmp);

    b = buffer_of(series);
    uint32_t len = b->used_bytes() / b->unit();
    if (index < len) {
        uint32_t units =
            std::min<uint32_t>(static_cast<uint32_t>(copy.size() / c.unit), len - index);
        uint32_t unit = b->unit();
        uint8_t* to = b->head_ptr() + index * unit;
        if (unit == c.unit) {
            std::memcpy(to, copy.data(), units * unit);
        } else {
            for (uint32_t i = 0; i < units; i++)
                put_char(to + i * unit, unit, get_char(copy.data() + i * c.unit, c.unit));
        }
    }
    if (told)
        series::notify(series, series::Change::sorted, nullptr, static_cast<int32_t>(index), n);
    return series;
}

} // namespace mox::string
