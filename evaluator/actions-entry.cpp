// The action! entry points (see actions-entry.h): refinements decoded into
// flags and argument cells, a few arguments normalised, then the action's
// direct form or its in-place implementation.
#include "core/actions-entry.h"

#include <climits>

#include "core/actions.h"
#include "core/stack.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"

namespace mox::actions_entry {

constexpr natives::Named actions_named[] = {MOX_ACTIONS(MOX_NAMED)};
static_assert(natives::sound(actions_named, ACTION_SLOTS),
              "core/natives-table.h gives two actions one id or one name, or an id past the table");

namespace {

inline Cell* arg(int32_t i) { return stack::arguments + i; }
// The argument cell of a refinement, or null when it is unused.
inline Cell* ref_arg(int32_t r) { return r < 0 ? nullptr : stack::arguments + r; }
inline bool used(int32_t r) { return r != -1; }

// Stores a direct form's returned cell as the call's result.
inline void result(Cell* c) { stack::set_last(c); }

template <Action A> void in_place() { reinterpret_cast<InPlaceFn>(actions::lookup_arg(A))(); }

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

// form and mold: an empty string for a /part limit of 0 or less; else the
// value is written into a new string, cut to the limit with /part. May
// collect.
template <bool Mold> void form_or_mold(bool only, bool all, bool flat, int32_t part) {
    Cell* limit_cell = ref_arg(part);
    int32_t limit = INT_MAX;
    if (limit_cell) {
        limit = type_of(limit_cell) == TYPE_INTEGER ? get_integer(limit_cell) : 0;
        if (limit <= 0) {
            string::make_at(arg(0), 0, 1);
            stack::keep();
            return;
        }
    }
    Cell* buffer = string::push_new(0);
    if (Mold)
        actions::mold(arg(0), buffer, only, all, flat, limit_cell, limit, 0);
    else
        actions::form(arg(0), buffer, limit_cell, limit);
    if (limit_cell) string::ms_truncate(buffer, static_cast<uint32_t>(limit));
    stack::set_last(buffer);
    stack::keep();
}

void form_star(int32_t part) { form_or_mold<false>(false, false, false, part); }
void mold_star(int32_t only, int32_t all, int32_t flat, int32_t part) {
    form_or_mold<true>(used(only), used(all), used(flat), part);
}

// ---------------------------------------------------------------------------
// append, insert, change: /part and /dup
// ---------------------------------------------------------------------------

bool buffered_series_q(uint32_t t) { return is_series(t) || t == TYPE_MAP; }

// Pulls a series index lying past its tail back to it.
void clip(Cell* s) { series::get_length(s, false); }

// The /part count against the reference series, or -1 without /part; false
// when the call must do nothing.
bool part_count(Cell* reference, Cell* limit, bool change, int32_t* count) {
    *count = -1;
    if (!limit) return true;
    uint32_t rt = type_of(reference);
    bool positional = rt != TYPE_PORT && !(change && rt == TYPE_IMAGE);
    int32_t n;
    if (type_of(limit) == TYPE_INTEGER) {
        n = get_integer(limit);
    } else {
        if (!positional || type_of(limit) != rt || limit->data2 != reference->data2) {
            Cell word = words::refinements::part;
            set_type(&word, TYPE_WORD);
            fire(err::invalid_refine_arg, &word, limit);
        }
        clip(limit);
        n = static_cast<int32_t>(limit->data1) - static_cast<int32_t>(reference->data1);
    }
    if (n < 0) {
        if (!positional) {
            n = 0;
        } else {
            int64_t index = static_cast<int64_t>(reference->data1) + n;
            if (index < 0) index = 0;
            n = static_cast<int32_t>(reference->data1 - index);
            reference->data1 = static_cast<uint32_t>(index);
            if (!change && n < 1) return false;
        }
    }
    if (!change && n == 0) return false;
    *count = n;
    return true;
}

// append and insert share the normalisation.
void insert_entry(bool append, int32_t part, int32_t only, int32_t dup) {
    Cell* series = arg(0);
    Cell* value = arg(1);
    if (!append && type_of(series) != TYPE_PORT) clip(series);
    Cell* limit = ref_arg(part);
    if (limit) {
        if (!buffered_series_q(type_of(value))) fire(err::invalid_part, limit);
        clip(value);
    }
    int32_t count;
    if (!part_count(value, limit, false, &count)) return;
    int32_t times = 1;
    if (Cell* d = ref_arg(dup)) {
        times = type_of(d) == TYPE_INTEGER ? get_integer(d) : 0;
        if (times < 1) return;
    }
    Cell* r = append ? actions::append(series, value, count, used(only), times)
                     : actions::insert(series, value, count, used(only), times);
    result(r);
}

// A plain append onto a block! or string! with room at its tail is a store
// or a copy: no action dispatch, no plan, no growth.
void append_star(int32_t part, int32_t only, int32_t dup) {
    if (!used(part) && !used(dup)) {
        uint32_t t = type_of(arg(0));
        if (t == TYPE_BLOCK ? block::append_in_place(arg(0), arg(1), used(only))
                            : t == TYPE_STRING && string::append_in_place(arg(0), arg(1)))
            return; // the series, moved to its head, is the result cell already
    }
    insert_entry(true, part, only, dup);
}
void insert_star(int32_t part, int32_t only, int32_t dup) { insert_entry(false, part, only, dup); }

void change_star(int32_t part, int32_t only, int32_t dup) {
    Cell* series = arg(0);
    uint32_t t = type_of(series);
    if (t != TYPE_PORT && t != TYPE_IMAGE) clip(series);
    int32_t count;
    part_count(series, ref_arg(part), true, &count);
    int32_t times = 1;
    if (Cell* d = ref_arg(dup)) {
        times = type_of(d) == TYPE_INTEGER ? get_integer(d) : 0;
        if (times < 1) return;
    }
    result(actions::change(series, arg(1), count, used(only), times));
}

// ---------------------------------------------------------------------------
// The other entries
// ---------------------------------------------------------------------------

void make_star() { result(actions::make(arg(0), arg(1))); }
void random_star(int32_t seed, int32_t secure, int32_t only) {
    actions::random(arg(0), used(seed), used(secure), used(only));
}
void reflect_star() {
    Cell* field = arg(1);
    if (!is_any_word(type_of(field))) fire_expect_arg(1, type_of(field));
    result(actions::reflect(arg(0), static_cast<int32_t>(field->data2)));
}
void to_star() { result(actions::to(arg(0), arg(1))); }
void negate_star() { actions::negate(arg(0)); }
void round_star(int32_t to, int32_t even, int32_t down, int32_t half_down, int32_t floor,
                int32_t ceiling, int32_t half_ceiling) {
    actions::round(arg(0), ref_arg(to), used(even), used(down), used(half_down), used(floor),
                   used(ceiling), used(half_ceiling));
}
void even_q_star() { make_logic(arg(0), actions::even_q(arg(0))); }
void odd_q_star() { make_logic(arg(0), actions::odd_q(arg(0))); }
void complement_star() { result(actions::complement(arg(0))); }
void clear_star() { actions::clear(arg(0)); }
void copy_star(int32_t part, int32_t deep, int32_t types) {
    Cell* kind = ref_arg(types);
    if (kind && type_of(kind) != TYPE_DATATYPE && type_of(kind) != TYPE_TYPESET)
        fire_expect_arg(5, type_of(kind));
    Cell* dest = stack::push_cell();
    result(actions::copy(arg(0), dest, ref_arg(part), used(deep), kind));
    stack::keep();
}
void find_star(int32_t part, int32_t only, int32_t case_, int32_t same, int32_t any, int32_t with,
               int32_t skip, int32_t last, int32_t reverse, int32_t tail, int32_t match) {
    result(actions::find(arg(0), arg(1), ref_arg(part), used(only), used(case_), used(same),
                         used(any), ref_arg(with), ref_arg(skip), used(last), used(reverse),
                         used(tail), used(match)));
}
void length_q_star() {
    int32_t n = actions::length_q(arg(0));
    if (n < 0)
        make_none(arg(0));
    else
        make_integer(arg(0), n);
}
void move_star(int32_t part) { result(actions::move(arg(0), arg(1), ref_arg(part))); }

// The index of pick and poke: integer! and char! their number, true 1,
// false 2, any other key 0 (the implementation reads the key cell itself).
int32_t get_index(const Cell* key) {
    switch (type_of(key)) {
    case TYPE_INTEGER:
        return get_integer(key);
    case TYPE_CHAR:
        return static_cast<int32_t>(key->data2);
    case TYPE_LOGIC:
        return key->data1 ? 1 : 2;
    default:
        return 0;
    }
}
void pick_star() { result(actions::pick(arg(0), get_index(arg(1)), arg(1))); }
void poke_star() {
    actions::poke(arg(0), get_index(arg(1)), arg(2), arg(1));
    stack::set_last(arg(2));
}
void put_star(int32_t case_) { result(actions::put(arg(0), arg(1), arg(2), used(case_))); }
// A missing /key answers none, not the series.
void remove_star(int32_t part, int32_t key) {
    result(actions::remove(arg(0), ref_arg(part), ref_arg(key)));
}
void reverse_star(int32_t part, int32_t skip) {
    actions::reverse(arg(0), ref_arg(part), ref_arg(skip));
}
void select_star(int32_t part, int32_t only, int32_t case_, int32_t same, int32_t any, int32_t with,
                 int32_t skip, int32_t last, int32_t reverse) {
    result(actions::select(arg(0), arg(1), ref_arg(part), used(only), used(case_), used(same),
                           used(any), ref_arg(with), ref_arg(skip), used(last), used(reverse)));
}
void sort_star(int32_t case_, int32_t skip, int32_t compare, int32_t part, int32_t all,
               int32_t reverse, int32_t stable) {
    result(actions::sort(arg(0), used(case_), ref_arg(skip), ref_arg(compare), ref_arg(part),
                         used(all), used(reverse), used(stable)));
}
void swap_star() { actions::swap(arg(0), arg(1)); }
void take_star(int32_t part, int32_t deep, int32_t last) {
    result(actions::take(arg(0), ref_arg(part), used(deep), used(last)));
}
void trim_star(int32_t head, int32_t tail, int32_t auto_, int32_t lines, int32_t all,
               int32_t with) {
    actions::trim(arg(0), used(head), used(tail), used(auto_), used(lines), used(all),
                  ref_arg(with));
}
void create_star() { result(actions::create(arg(0))); }
void close_star() { result(actions::close(arg(0))); }
void delete_star() { result(actions::delete_(arg(0))); }
void modify_star(int32_t case_) { result(actions::modify(arg(0), arg(1), arg(2), used(case_))); }
void open_star(int32_t new_, int32_t read, int32_t write, int32_t seek, int32_t allow) {
    result(actions::open(arg(0), used(new_), used(read), used(write), used(seek), ref_arg(allow)));
}
void open_q_star() { result(actions::open_q(arg(0))); }
void query_star() { result(actions::query(arg(0))); }
void read_star(int32_t part, int32_t seek, int32_t binary, int32_t lines, int32_t info,
               int32_t as) {
    result(actions::read(arg(0), ref_arg(part), ref_arg(seek), used(binary), used(lines),
                         used(info), ref_arg(as)));
}
void rename_star() { result(actions::rename(arg(0), arg(1))); }
void update_star() { result(actions::update(arg(0))); }
void write_star(int32_t binary, int32_t lines, int32_t info, int32_t append, int32_t part,
                int32_t seek, int32_t allow, int32_t as) {
    result(actions::write(arg(0), arg(1), used(binary), used(lines), used(info), used(append),
                          ref_arg(part), ref_arg(seek), ref_arg(allow), ref_arg(as)));
}

template <auto Body> constexpr natives::Entry e = &natives::entry<Body>;

} // namespace

void init() {
#define MOX_ACTION_ENTRY(id, name, body) table[id] = e<&body>;
    MOX_ACTIONS(MOX_ACTION_ENTRY)
#undef MOX_ACTION_ENTRY
}

} // namespace mox::actions_entry
