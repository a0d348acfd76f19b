// series!: navigation, element access and the in-place reordering actions
// shared by every series datatype (see series.h).
//
// The actions work on byte offsets computed from the unit of the buffer, so
// one implementation serves cells and text alike. A hash! keeps its index in
// step: a poke replaces one entry, clear forgets the cleared ones, and every
// other reordering rebuilds the index from the block.
#include "datatypes/series.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/actions.h"
#include "core/datatype.h"
#include "core/hashtable.h"
#include "core/random.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"

namespace mox {

namespace series {

OwnershipHooks ownership = {nullptr, nullptr, nullptr, nullptr};

using memory::SeriesBuffer;

namespace {

inline uint32_t length_of(const SeriesBuffer* b) { return b->used_bytes() / b->unit(); }

inline uint8_t* unit_ptr(SeriesBuffer* b, uint32_t offset) {
    return b->head_ptr() + offset * b->unit();
}

// Types whose buffer holds value cells.
inline bool cell_series_q(uint32_t t) { return is_any_block(t); }

// Every datatype whose values hold a series buffer that move can work on.
inline bool movable_q(uint32_t t) {
    return is_any_block(t) || is_any_string(t) || t == TYPE_BINARY || t == TYPE_VECTOR ||
           t == TYPE_IMAGE;
}

// A word! cell naming the spelling, for error arguments. May collect.
Cell word_named(const char* name) { return Cell{TYPE_WORD, 0, symbol::make(name), 0xFFFFFFFFu}; }

// An element kind this module cannot turn into a value or store: the
// datatype's own module registers the action.
[[noreturn]] void fire_unsupported(const Cell* s) { fire_expect_arg(0, type_of(s)); }

[[noreturn]] void fire_move_bad(const Cell* a, const Cell* b) {
    Cell ta, tb;
    make_datatype(&ta, type_of(a));
    make_datatype(&tb, type_of(b));
    fire(err::move_bad, &ta, &tb);
}

// The hash! index node, or 0 for any other series.
inline node_t hash_table_of(const Cell* s) { return type_of(s) == TYPE_HASH ? s->data3 : 0; }

void rebuild_index(const Cell* s) {
    if (node_t table = hash_table_of(s))
        hashtable::rehash(table, static_cast<int32_t>(abs_length(s)));
}

// The element at the unit offset as a value: a cell of a block kind is
// returned where it lies (callers copy it at once), any other element is a
// new cell pushed on the stack.
Cell* element_at(Cell* s, uint32_t offset) {
    uint32_t t = type_of(s);
    SeriesBuffer* b = buffer_of(s);
    if (cell_series_q(t)) return b->cells() + offset;
    if (t == TYPE_BINARY) return make_integer(stack::push_cell(), *unit_ptr(b, offset));
    if (t == TYPE_VECTOR) return vector::push_value(unit_ptr(b, offset), s->data3, b->unit());
    if (is_any_string(t))
        return make_char(stack::push_cell(), string::get_char(unit_ptr(b, offset), b->unit()));
    fire_unsupported(s);
}

// count units from start, cut to what the buffer holds now: an owner's
// change handler runs Mox code between the notification and the change.
inline uint32_t units_left(const Cell* s, uint32_t start, uint32_t count) {
    uint32_t len = abs_length(s);
    return start >= len ? 0 : std::min(count, len - start);
}

// Exchanges two records of width bytes inside one buffer.
void swap_records(uint8_t* a, uint8_t* b, uint32_t width) {
    uint8_t tmp[64];
    while (width > 0) {
        uint32_t n = std::min<uint32_t>(width, sizeof tmp);
        std::memcpy(tmp, a, n);
        std::memcpy(a, b, n);
        std::memcpy(b, tmp, n);
        a += n;
        b += n;
        width -= n;
    }
}

// A position (1-based from the index, negative counts back from it) as a
// unit offset, or -1 when it lies outside the buffer.
int64_t pick_offset(const Cell* s, int32_t n) {
    if (n == 0) return -1;
    int64_t pos = static_cast<int64_t>(s->data1) + n - (n > 0 ? 1 : 0);
    if (pos < 0 || pos >= static_cast<int64_t>(abs_length(s))) return -1;
    return pos;
}

Cell* at_skip(bool at) {
    Cell* s = stack::arguments;
    Cell* offset = s + 1;
    if (type_of(offset) != TYPE_INTEGER) fire(err::invalid_arg, offset);
    int32_t n = get_integer(offset);
    int64_t i = static_cast<int64_t>(s->data1) + n - (at && n >= 1 ? 1 : 0);
    s->data1 = static_cast<uint32_t>(std::clamp<int64_t>(i, 0, abs_length(s)));
    return s;
}

// The running generator, or the system's secure source.
int32_t draw_in(int32_t n, bool secure) {
    return mox::random::rand_int(n, secure ? &integer::secure_rand : &mox::random::rand);
}

// Moves n units between two different buffers of the same unit size.
void move_units(Cell* origin, Cell* target, uint32_t n) {
    uint32_t oidx = origin->data1;
    bool told =
        notify(origin, Change::move, nullptr, static_cast<int32_t>(oidx), static_cast<int32_t>(n));
    n = units_left(origin, oidx, n);
    if (n == 0) return;
    if (buffer_of(origin)->unit() != buffer_of(target)->unit()) fire_move_bad(origin, target);
    SeriesBuffer* tb = buffer_of(target);
    uint32_t unit = tb->unit();
    uint32_t bytes = n * unit;
    if (static_cast<uint32_t>(tb->end() - tb->tail_ptr()) < bytes) {
        uint64_t want = (uint64_t{tb->used_bytes()} + bytes) * 2;
        if (want > 0x7FFFFFFF) fire(err::no_memory);
        memory::expand_series(tb, static_cast<uint32_t>(want));
    }
    tb = buffer_of(target);
    SeriesBuffer* ob = buffer_of(origin);
    uint32_t tidx = std::min(target->data1, length_of(tb));
    uint8_t* at = unit_ptr(tb, tidx);
    std::memmove(at + bytes, at, tb->tail_ptr() - at);
    uint8_t* from = unit_ptr(ob, oidx);
    std::memcpy(at, from, bytes);
    tb->tail += bytes;
    std::memmove(from, from + bytes, ob->tail_ptr() - from - bytes);
    ob->tail -= bytes;
    rebuild_index(origin);
    rebuild_index(target);
    if (told)
        notify(target, Change::moved, nullptr, static_cast<int32_t>(tidx), static_cast<int32_t>(n));
}

// Moves n units from the origin's index to the target's index in the same
// buffer; the moved run ends up starting at the target's index (at the end
// when the target is the tail). Returns false when the run does not fit
// before the tail.
bool move_within(Cell* origin, Cell* target, uint32_t n) {
    SeriesBuffer* b = buffer_of(origin);
    uint32_t total = length_of(b);
    uint32_t oidx = origin->data1;
    uint32_t tidx = std::min(target->data1, total);
    if (tidx == oidx) return true;
    if (tidx > oidx && tidx != total && total - tidx < n) return false;
    uint32_t dest = tidx > oidx && tidx == total ? total - n : tidx;
    bool told =
        notify(origin, Change::move, nullptr, static_cast<int32_t>(oidx), static_cast<int32_t>(n));
    if (uint64_t{std::max(dest, oidx)} + n > abs_length(origin)) return true;
    b = buffer_of(origin);
    uint32_t unit = b->unit();
    std::vector<uint8_t> run(unit_ptr(b, oidx), unit_ptr(b, oidx + n));
    if (dest > oidx)
        std::memmove(unit_ptr(b, oidx), unit_ptr(b, oidx + n), (dest - oidx) * unit);
    else
        std::memmove(unit_ptr(b, dest + n), unit_ptr(b, dest), (oidx - dest) * unit);
    std::memcpy(unit_ptr(b, dest), run.data(), run.size());
    rebuild_index(origin);
    if (told)
        notify(target, Change::moved, nullptr, static_cast<int32_t>(dest), static_cast<int32_t>(n));
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

// An image's node holds no pixels: its length is its pixel count.
inline uint32_t image_length(const Cell* s) { return (s->data3 & 0xFFFF) * (s->data3 >> 16); }

bool ms_tail_q(const Cell* s) {
    if (type_of(s) == TYPE_IMAGE) return s->data1 >= image_length(s);
    SeriesBuffer* b = buffer_of(s);
    return uint64_t{s->data1} * b->unit() >= b->used_bytes();
}

uint32_t abs_length(const Cell* s) {
    return type_of(s) == TYPE_IMAGE ? image_length(s) : length_of(buffer_of(s));
}

bool ms_skip(Cell* s, int32_t n) {
    int64_t i = static_cast<int64_t>(s->data1) + n;
    int64_t len = abs_length(s);
    if (i >= 0 && i <= len) s->data1 = static_cast<uint32_t>(i);
    return i < 0 || i >= len;
}

int32_t get_length(Cell* s, bool from_head) {
    uint32_t len = abs_length(s);
    uint32_t start = from_head ? 0 : s->data1;
    if (len >= start) return static_cast<int32_t>(len - start);
    s->data1 = len;
    return 0;
}

bool notify(Cell* s, Change event, const Cell* value, int32_t index, int32_t count) {
    if (!(buffer_of(s)->flags & memory::SERIES_OWNED) || !ownership.check) return false;
    return ownership.check(s, event, value, index, count) != 0;
}

void fire_refine_arg(const char* refinement, const Cell* value) {
    Cell word = word_named(refinement);
    fire(err::invalid_refine_arg, &word, value);
}

int32_t part_count(const Cell* s, const Cell* part) {
    uint32_t t = type_of(part);
    if (t == TYPE_INTEGER) return get_integer(part);
    if (t != type_of(s) || part->data2 != s->data2) fire_refine_arg("part", part);
    return static_cast<int32_t>(part->data1 - s->data1);
}

// ---------------------------------------------------------------------------
// Navigation (in place on the arguments)
// ---------------------------------------------------------------------------

Cell* at() { return at_skip(true); }
Cell* skip() { return at_skip(false); }

Cell* back() {
    Cell* s = stack::arguments;
    if (s->data1 > 0) s->data1--;
    return s;
}

Cell* head() {
    Cell* s = stack::arguments;
    s->data1 = 0;
    return s;
}

Cell* head_q() { return make_logic(stack::arguments, stack::arguments->data1 == 0); }

Cell* index_q() {
    Cell* s = stack::arguments;
    return make_integer(s, static_cast<int32_t>(s->data1 + 1));
}

Cell* next() {
    ms_skip(stack::arguments, 1);
    return stack::arguments;
}

Cell* tail() {
    Cell* s = stack::arguments;
    s->data1 = abs_length(s);
    return s;
}

Cell* tail_q() { return make_logic(stack::arguments, ms_tail_q(stack::arguments)); }

int32_t length_q(Cell* s) { return get_length(s, false); }

// ---------------------------------------------------------------------------
// Elements
// ---------------------------------------------------------------------------

Cell* pick(Cell* s, int32_t index, Cell* boxed) {
    int64_t pos = pick_offset(s, index);
    if (pos < 0) return make_none(stack::push_cell());
    return element_at(s, static_cast<uint32_t>(pos));
}

Cell* poke(Cell* s, int32_t index, Cell* data, Cell* boxed) {
    int64_t found = pick_offset(s, index);
    if (found < 0) fire_int(err::out_of_range, index);
    uint32_t pos = static_cast<uint32_t>(found);
    uint32_t t = type_of(s);
    if (is_any_string(t)) {
        if (type_of(data) != TYPE_CHAR) fire(err::invalid_arg, data);
    } else if (t == TYPE_BINARY) {
        binary::check_byte(data);
    } else if (t == TYPE_VECTOR) {
        vector::check_value(s, data);
    } else if (!cell_series_q(t)) {
        fire_unsupported(s);
    }
    bool told = notify(s, Change::poke, data, static_cast<int32_t>(pos), 1);
    if (units_left(s, pos, 1) == 0) fire_int(err::out_of_range, index);
    if (cell_series_q(t)) {
        // The old value leaves the hash index before the new one enters it,
        // so that no entry is left pointing at a value that is gone.
        node_t table = hash_table_of(s);
        if (table) hashtable::delete_(table, buffer_of(s)->cells() + pos);
        buffer_of(s)->cells()[pos] = *data;
        if (table) hashtable::put(s->data3, buffer_of(s)->cells() + pos);
    } else if (t == TYPE_BINARY) {
        binary::set_byte(unit_ptr(buffer_of(s), pos), data);
    } else if (t == TYPE_VECTOR) {
        vector::store_value(unit_ptr(buffer_of(s), pos), data, buffer_of(s)->unit());
    } else {
        string::overwrite_char_at(s, pos, data->data2);
    }
    if (told) notify(s, Change::poked, data, static_cast<int32_t>(pos), 1);
    return data;
}

// ---------------------------------------------------------------------------
// Removing
// ---------------------------------------------------------------------------

Cell* clear(Cell* s) {
    int32_t n = get_length(s, false);
    if (n < 1) return s;
    int32_t index = static_cast<int32_t>(s->data1);
    bool told = notify(s, Change::clear, nullptr, index, n);
    n = static_cast<int32_t>(units_left(s, s->data1, static_cast<uint32_t>(n)));
    if (n > 0) {
        if (node_t table = hash_table_of(s)) hashtable::clear(table, index, n);
        SeriesBuffer* b = buffer_of(s);
        b->tail = b->head + s->data1 * b->unit();
    }
    if (told) notify(s, Change::cleared, nullptr, index, 0);
    return s;
}

Cell* remove(Cell* s, Cell* part, Cell* key) {
    // 64-bit: /key counts the key cell on top of a part that may be the
    // largest integer.
    int64_t count = part ? part_count(s, part) : 1;
    if (count < 1) return s;
    if (key) {
        Cell* found = actions::find(s, key, nullptr, false, false, false, false, nullptr, nullptr,
                                    false, false, false, false);
        if (type_of(found) == TYPE_NONE) return found;
        s->data1 = found->data1;
        count++;
    }
    uint32_t len = abs_length(s);
    uint32_t index = s->data1;
    if (index >= len) return s;
    uint32_t n = static_cast<uint32_t>(std::min<int64_t>(count, len - index));
    bool told =
        notify(s, Change::remove, nullptr, static_cast<int32_t>(index), static_cast<int32_t>(n));
    n = units_left(s, index, n);
    if (n > 0) {
        SeriesBuffer* b = buffer_of(s);
        uint8_t* at = unit_ptr(b, index);
        uint32_t bytes = n * b->unit();
        std::memmove(at, at + bytes, b->tail_ptr() - at - bytes);
        b->tail -= bytes;
        rebuild_index(s);
    }
    if (told) notify(s, Change::removed, nullptr, static_cast<int32_t>(index), 0);
    return s;
}

Cell* take(Cell* s, Cell* part, bool deep, bool last) {
    int32_t len = get_length(s, false);
    uint32_t index = s->data1;
    int64_t n = 1;
    if (part) {
        if (type_of(part) == TYPE_INTEGER) {
            n = get_integer(part);
        } else {
            if (type_of(part) != type_of(s) || part->data2 != s->data2)
                fire_refine_arg("part", part);
            if (part->data1 < index)
                n = 0;
            else
                n = last ? int64_t{index} + len - part->data1 : int64_t{part->data1} - index;
        }
    }
    // A negative part takes the units just before the position; anything
    // else needs units after it.
    if (n >= 0 && len < 1) return make_none(stack::push_cell());
    uint32_t start = index, count = 0;
    if (n < 0) {
        if (!last) {
            count = static_cast<uint32_t>(std::min<int64_t>(-n, index));
            start = index - count;
        }
    } else {
        count = static_cast<uint32_t>(std::min<int64_t>(n, len));
        if (last) start = abs_length(s) - count;
    }
    bool told =
        notify(s, Change::take, nullptr, static_cast<int32_t>(start), static_cast<int32_t>(count));
    Cell* result = stack::push_cell();
    make_none(result);
    count = units_left(s, start, count);
    uint32_t unit = buffer_of(s)->unit();
    node_t node = memory::alloc_units(count, unit);
    *result = Cell{type_of(s), 0, node, 0};
    if (type_of(s) == TYPE_VECTOR) result->data3 = s->data3;
    if (count > 0) {
        SeriesBuffer* rb = memory::buffer_of(node);
        SeriesBuffer* b = buffer_of(s);
        uint32_t bytes = count * unit;
        uint8_t* from = unit_ptr(b, start);
        std::memcpy(rb->head_ptr(), from, bytes);
        rb->tail = rb->head + bytes;
        std::memmove(from, from + bytes, b->tail_ptr() - from - bytes);
        b->tail -= bytes;
    }
    if (type_of(s) == TYPE_HASH) {
        rebuild_index(s);
        result->data3 =
            hashtable::init(static_cast<int32_t>(count), result->data2, hashtable::KIND_HASH);
    }
    if (told)
        notify(s, Change::taken, nullptr, static_cast<int32_t>(start), static_cast<int32_t>(count));
    return result;
}

// ---------------------------------------------------------------------------
// Reordering
// ---------------------------------------------------------------------------

Cell* reverse(Cell* s, Cell* part, Cell* skip) {
    int32_t len = get_length(s, false);
    if (len < 1) return s;
    int32_t count = part ? std::min(part_count(s, part), len) : len;
    if (count < 1) return s;
    int32_t size = 1;
    if (skip) {
        if (type_of(skip) != TYPE_INTEGER) fire_refine_arg("skip", skip);
        size = get_integer(skip);
        if (size == count) return s;
        if (size < 1) fire(err::out_of_range, skip);
        if (count < size || count % size != 0) fire_refine_arg("skip", skip);
    }
    uint32_t index = s->data1;
    bool told = notify(s, Change::reverse, nullptr, static_cast<int32_t>(index), count);
    uint32_t records =
        units_left(s, index, static_cast<uint32_t>(count)) / static_cast<uint32_t>(size);
    if (records > 1) {
        SeriesBuffer* b = buffer_of(s);
        uint32_t width = b->unit() * static_cast<uint32_t>(size);
        uint8_t* lo = unit_ptr(b, index);
        uint8_t* hi = lo + (records - 1) * width;
        for (; lo < hi; lo += width, hi -= width) swap_records(lo, hi, width);
    }
    rebuild_index(s);
    if (told) notify(s, Change::reversed, nullptr, static_cast<int32_t>(index), count);
    return s;
}

Cell* move(Cell* origin, Cell* target, Cell* part) {
    uint32_t tt = type_of(target), ot = type_of(origin);
    if (!movable_q(tt)) fire_expect_arg(1, tt);
    int32_t len = get_length(origin, false);
    if (len < 1) return target;
    int32_t n = 1;
    if (part) {
        n = std::min(part_count(origin, part), len);
        if (n < 1) return target;
    }
    if (ot == TYPE_IMAGE || tt == TYPE_IMAGE) fire_move_bad(origin, target);
    if (origin->data2 == target->data2) {
        if (!move_within(origin, target, static_cast<uint32_t>(n))) return origin;
        return target;
    }
    if (cell_series_q(ot) != cell_series_q(tt)) fire_move_bad(origin, target);
    uint32_t ou = buffer_of(origin)->unit(), tu = buffer_of(target)->unit();
    if (ou == tu) {
        move_units(origin, target, static_cast<uint32_t>(n));
        return target;
    }
    bool binary_side =
        ot == TYPE_BINARY || ot == TYPE_VECTOR || tt == TYPE_BINARY || tt == TYPE_VECTOR;
    if (binary_side) fire_move_bad(origin, target);
    uint32_t oidx = origin->data1;
    bool told = notify(origin, Change::move, nullptr, static_cast<int32_t>(oidx), n);
    string::move_chars(origin, target, static_cast<uint32_t>(n));
    if (told) notify(target, Change::moved, nullptr, static_cast<int32_t>(target->data1), n);
    return target;
}

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    SeriesBuffer* b = buffer_of(value);
    if (seed) {
        uint32_t from = std::min(value->data1 * b->unit(), b->used_bytes());
        mox::random::seed(hashtable::murmur3(b->head_ptr() + from, b->used_bytes() - from));
        return make_unset(value);
    }
    int32_t len = get_length(value, false);
    if (only) {
        if (len < 1) return make_none(value);
        int32_t k = draw_in(len, secure);
        *value = *element_at(value, value->data1 + static_cast<uint32_t>(k) - 1);
        return value;
    }
    uint32_t index = value->data1;
    bool told = notify(value, Change::random, nullptr, static_cast<int32_t>(index), len);
    for (int32_t c = len; c >= 1; c--) {
        int32_t k = draw_in(c, secure);
        b = buffer_of(value);
        uint32_t at = index + static_cast<uint32_t>(len - c);
        if (k > 1 && units_left(value, at, static_cast<uint32_t>(k)) == static_cast<uint32_t>(k))
            swap_records(unit_ptr(b, at), unit_ptr(b, at + k - 1), b->unit());
    }
    rebuild_index(value);
    if (told) notify(value, Change::randomized, nullptr, static_cast<int32_t>(index), len);
    return value;
}

// ---------------------------------------------------------------------------
// Copying
// ---------------------------------------------------------------------------

Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types) {
    int64_t start = value->data1;
    int64_t count = std::max(get_length(value, false), 0);
    if (part) {
        uint32_t pt = type_of(part);
        if (pt == TYPE_INTEGER) {
            count = get_integer(part);
        } else if (pt == TYPE_PAIR) {
            int64_t x = static_cast<int32_t>(part->data2), y = static_cast<int32_t>(part->data3);
            start = std::max<int64_t>(int64_t{value->data1} + (x < 0 ? x : x - 1), 0);
            count = y < x ? 0 : y - x;
        } else {
            count = part_count(value, part);
        }
    }
    if (count < 0) {
        start += count;
        count = -count;
        if (start < 0) {
            start = 0;
            count = value->data1;
        }
    }
    int64_t len = abs_length(value);
    if (start > len) {
        start = len;
        count = 0;
    }
    count = std::min(count, len - start);
    uint32_t unit = buffer_of(value)->unit();
    node_t node = memory::alloc_units(static_cast<uint32_t>(count), unit);
    SeriesBuffer* nb = memory::buffer_of(node);
    SeriesBuffer* b = buffer_of(value);
    uint32_t bytes = static_cast<uint32_t>(count) * unit;
    std::memcpy(nb->head_ptr(), unit_ptr(b, static_cast<uint32_t>(start)), bytes);
    nb->tail = nb->head + bytes;
    uint32_t header = value->header & (HEADER_TYPE_MASK | FLAG_NEW_LINE);
    uint32_t extra = type_of(value) == TYPE_VECTOR ? value->data3 : 0;
    *dest = Cell{header, 0, node, extra};
    return dest;
}

// ---------------------------------------------------------------------------
// Ownership
// ---------------------------------------------------------------------------

Cell* reflect(Cell* value, int32_t field_symbol) {
    if (symbol::resolve(static_cast<uint32_t>(field_symbol)) != symbol::resolve(words::owned))
        fire(err::not_done);
    Cell* result = stack::push_cell();
    Cell* owner = ownership.owner_of ? ownership.owner_of(value->data2) : nullptr;
    if (owner)
        *result = *owner;
    else
        make_none(result);
    return result;
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool case_) {
    if (!is_any_word(type_of(field)) ||
        symbol::resolve(field->data2) != symbol::resolve(words::owned))
        return value;
    uint32_t vt = type_of(value);
    if (vt == TYPE_NONE) {
        if (ownership.unbind) ownership.unbind(target);
    } else if (vt == TYPE_BLOCK && get_length(value, false) >= 2) {
        if (!ownership.bind_object) fire(err::feature_na);
        Cell* pair = buffer_of(value)->cells() + value->data1;
        if (type_of(&pair[0]) != TYPE_OBJECT || !is_any_word(type_of(&pair[1])))
            fire(err::invalid_arg, value);
        Cell* owner = stack::push(&pair[0]);
        Cell* word = stack::push(&pair[1]);
        ownership.bind_object(target, owner, word);
    }
    return value;
}

// ---------------------------------------------------------------------------
// Registration
// ---------------------------------------------------------------------------

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::none();
    slots.set<A_RANDOM>(&random)
        .set<A_REFLECT>(&reflect)
        .set<A_AT>(&at)
        .set<A_BACK>(&back)
        .set<A_CLEAR>(&clear)
        .set<A_COPY>(&copy)
        .set<A_HEAD>(&head)
        .set<A_HEAD_Q>(&head_q)
        .set<A_INDEX_Q>(&index_q)
        .set<A_LENGTH_Q>(&length_q)
        .set<A_MOVE>(&move)
        .set<A_NEXT>(&next)
        .set<A_PICK>(&pick)
        .set<A_POKE>(&poke)
        .set<A_REMOVE>(&remove)
        .set<A_REVERSE>(&reverse)
        .set<A_SKIP>(&skip)
        .set<A_TAIL>(&tail)
        .set<A_TAIL_Q>(&tail_q)
        .set<A_TAKE>(&take)
        .set<A_MODIFY>(&modify);
    datatype::register_type(TYPE_SERIES, 0, "series!", slots);
}

} // namespace series
} // namespace mox
