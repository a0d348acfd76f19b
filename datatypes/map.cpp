// map!: key/value pairs in a backing block, indexed by a hash table of kind
// KIND_MAP. A removed entry keeps its pair with the value cell's header 0;
// every walk skips it.
#include "datatypes/map.h"

#include <algorithm>
#include <cstring>

#include "core/actions.h"
#include "core/collector.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/hashtable.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"

namespace mox::map {

using memory::SeriesBuffer;

namespace {

// The cell at position i of the backing block.
inline Cell* pair_cell(const Cell* map, uint32_t i) {
    return memory::buffer_of(map->data2)->cells() + i;
}

bool live_q(const Cell* map, uint32_t key_index) {
    return block::ms_abs_at(map, key_index + 1)->header != 0;
}

// Restores the evaluation stack's top when a scope ends, however it ends.
class StackMark {
  public:
    StackMark() : saved_(stack::top) {}
    ~StackMark() { stack::top = saved_; }
    StackMark(const StackMark&) = delete;
    StackMark& operator=(const StackMark&) = delete;

  private:
    Cell* saved_;
};

// Molds one entry, key and value copied onto the stack first: appending
// may move the backing block.
int32_t mold_entry(Cell* map, uint32_t i, Cell* buffer, bool all, bool flat, Cell* part,
                   int32_t limit, int32_t indent) {
    StackMark mark;
    Cell* key = stack::push(block::ms_abs_at(map, i));
    Cell* value = stack::push(block::ms_abs_at(map, i + 1));
    limit = actions::mold(key, buffer, false, all, flat, part, limit, indent);
    string::append_char(buffer, ' ');
    return actions::mold(value, buffer, false, all, flat, part, limit - 1, indent);
}

// The entries one a line (or separated by spaces when flat); with indent
// each line is indented to that level and ended by a line feed, otherwise
// lines are separated by line feeds. Returns the limit left and sets
// *written when an entry was written.
int32_t mold_entries(Cell* map, Cell* buffer, bool all, bool flat, Cell* part, int32_t limit,
                     int32_t indent, bool indented, bool* written) {
    *written = false;
    for (uint32_t i = 0; i + 1 < block::abs_length(map); i += 2) {
        if (part && limit <= 0) break;
        if (!live_q(map, i)) continue;
        if (flat) {
            if (*written) {
                string::append_char(buffer, ' ');
                limit--;
            }
        } else if (indented) {
            limit = string::append_indent(buffer, indent, limit);
        } else if (*written) {
            string::append_char(buffer, '\n');
            limit--;
        }
        limit = mold_entry(map, i, buffer, all, flat, part, limit, indent);
        if (!flat && indented) {
            string::append_char(buffer, '\n');
            limit--;
        }
        *written = true;
    }
    return limit;
}

// A fresh copy of a string-like or binary key from its index: one buffer
// of the key's own width, its units copied as they are.
void copy_text_key(Cell* key) {
    SeriesBuffer* b = memory::buffer_of(key);
    uint32_t unit = b->unit();
    uint32_t total = b->used_bytes() >> (unit >> 1); // units of 1, 2 or 4 bytes
    uint32_t index = std::min(key->data1, total);
    node_t node = memory::alloc_units(total - index, unit);
    b = memory::buffer_of(key);
    SeriesBuffer* fresh = memory::buffer_of(node);
    uint32_t bytes = (total - index) * unit;
    if (bytes) std::memcpy(fresh->head_ptr(), b->head_ptr() + size_t{index} * unit, bytes);
    fresh->tail = fresh->head + bytes;
    key->data1 = 0;
    key->data2 = node;
    key->data3 = 0;
}

} // namespace

bool valid_key_q(uint32_t type) {
    switch (type) {
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE:
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
    case TYPE_POINT2D:
    case TYPE_POINT3D:
        return true;
    default:
        return false;
    }
}

// Collections are held off, so the key may lie in a series buffer.
void normalize_key(Cell* key) {
    uint32_t t = type_of(key);
    if (!valid_key_q(t)) {
        Cell datatype;
        make_datatype(&datatype, t);
        fire(err::invalid_path, &datatype);
    }
    if (t >= TYPE_WORD && t <= TYPE_GET_WORD) {
        set_type(key, TYPE_SET_WORD);
    } else if (is_any_string(t) || t == TYPE_BINARY) {
        collector::Hold hold;
        copy_text_key(key);
    }
}

Cell* make_cell(Cell* target, Cell* block, int32_t count) {
    Cell data{TYPE_NONE, 0, 0, 0}; // rooted before it holds the block
    collector::Root keep(&data);
    if (block) {
        data = *block;
    } else {
        block::make_at(&data, std::max(count, 2));
    }
    uint32_t n = block::abs_length(&data);
    if (n % 2 != 0) fire(err::invalid_arg, &data);
    for (uint32_t i = 0; i < n; i += 2) normalize_key(block::ms_abs_at(&data, i));
    node_t table = hashtable::init(static_cast<int32_t>(n / 2), data.data2, hashtable::KIND_MAP);
    *target = Cell{TYPE_MAP, 0, data.data2, table};
    return target;
}

int32_t ms_length_q(const Cell* map) { return hashtable::record_of(map->data3)->count; }

int32_t length_q(Cell* map) { return ms_length_q(map); }

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    if (cycles::detect_q(value, buffer, &limit, false, &block::append_ascii)) return limit;
    cycles::Scope walk(value->data2);
    bool written;
    return mold_entries(value, buffer, false, false, part, limit, 0, false, &written);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    if (cycles::detect_q(value, buffer, &limit, true, &block::append_ascii)) return limit;
    cycles::Scope walk(value->data2);
    if (!only) {
        string::concatenate_literal(buffer, "#[");
        limit -= 2;
    }
    bool indented = !only && !flat;
    if (indented && ms_length_q(value) > 0) {
        string::append_char(buffer, '\n');
        limit--;
    }
    bool written;
    limit = mold_entries(value, buffer, all, flat, part, limit, indent + 1, indented, &written);
    if (only) return limit;
    if (written && !flat && indent > 0) limit = string::append_indent(buffer, indent, limit);
    string::append_char(buffer, ']');
    return limit - 1;
}

// ---------------------------------------------------------------------------
// Comparison
// ---------------------------------------------------------------------------

// Equal maps hold the same live keys with equal values, in any order; under
// strict equality keys and values compare strictly. Only the equality
// operators and sameness compare contents; the sort orders order by the
// backing block.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_MAP) return COMPARE_NOT_COMPARABLE;
    if (op == COMP_SORT || op == COMP_CASE_SORT)
        return (value1->data2 > value2->data2) - (value1->data2 < value2->data2);
    if (op != COMP_EQUAL && op != COMP_NOT_EQUAL && op != COMP_STRICT_EQUAL && op != COMP_SAME &&
        op != COMP_FIND)
        return COMPARE_NOT_COMPARABLE;
    if (value1->data2 == value2->data2 && value1->data1 == value2->data1) return 0;
    if (op == COMP_SAME) return -1;
    bool on1 = cycles::find(value1->data2), on2 = cycles::find(value2->data2);
    if (on1 || on2) return on1 && on2 ? 0 : 1;
    int32_t n1 = ms_length_q(value1), n2 = ms_length_q(value2);
    if (n1 != n2) return 1;
    if (n1 == 0) return 0;
    cycles::Scope walk1(value1->data2);
    cycles::Scope walk2(value2->data2);
    int32_t key_op = op == COMP_STRICT_EQUAL ? COMP_STRICT_EQUAL : COMP_EQUAL;
    for (uint32_t i = 0; i + 1 < block::abs_length(value1); i += 2) {
        if (!live_q(value1, i)) continue;
        StackMark mark;
        Cell* key = stack::push(block::ms_abs_at(value1, i));
        Cell* found = hashtable::find(value2->data3, key, 0, 0, key_op, false, false);
        if (!found || found[1].header == 0) return 1;
        Cell* other = stack::push(&found[1]);
        Cell* mine = stack::push(block::ms_abs_at(value1, i + 1));
        if (actions::compare(mine, other, key_op) != 0) return 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Lookup and change
// ---------------------------------------------------------------------------

namespace {

int32_t match_op(bool case_, bool same) {
    return same ? COMP_SAME : case_ ? COMP_STRICT_EQUAL : COMP_EQUAL;
}

// The position of the key cell matching key (removed entries included), or
// -1.
int32_t lookup(const Cell* map, const Cell* key, int32_t op) {
    Cell* found = hashtable::find(map->data3, key, 0, 0, op, false, false);
    if (!found) return -1;
    return static_cast<int32_t>(found - block::ms_abs_at(map, 0));
}

// The key as a value: a set-word! key is given back as a word!.
Cell* key_value(Cell* key) {
    if (type_of(key) == TYPE_SET_WORD) set_type(key, TYPE_WORD);
    return key;
}

// Stores the value under the key, reviving a removed entry or appending a
// new pair. map, key and value must be cells the collector sees. May
// collect.
void set_value(Cell* map, const Cell* key, const Cell* value, int32_t op) {
    uint32_t hash = hashtable::map_hash(key);
    int64_t empty = -1;
    Cell* found = hashtable::find_map(
        map->data3, key, hash, op, op == COMP_EQUAL || op == COMP_STRICT_EQUAL ? &empty : nullptr);
    int32_t pos = found ? static_cast<int32_t>(found - pair_cell(map, 0)) : -1;
    if (pos < 0) {
        Cell* saved = stack::top;
        Cell* k = stack::push(key);
        normalize_key(k);
        pos = static_cast<int32_t>(memory::buffer_of(map->data2)->used_bytes() / sizeof(Cell));
        // Key and value cell in one step; k is on the stack and map is a
        // cell the collector sees, so both stay current if it collects.
        // Nothing here points into the backing block, so a big buffer it
        // outgrows can be given back at once.
        auto* pair =
            reinterpret_cast<Cell*>(memory::alloc_tail_bytes(map->data2, 2 * sizeof(Cell), true));
        pair[0] = *k;
        make_unset(&pair[1]);
        Cell* entry = hashtable::put_map(map->data3, pos, hash, empty);
        int32_t at = static_cast<int32_t>(entry - pair_cell(map, 0));
        if (at != pos) {
            // A strictly equal key was there already (a /same lookup misses
            // it): the new pair goes and the old entry takes the value.
            SeriesBuffer* b = memory::buffer_of(map->data2);
            b->tail = b->head + static_cast<uint32_t>(pos) * sizeof(Cell);
            pos = at;
        }
        stack::top = saved;
    }
    Cell* slot = pair_cell(map, static_cast<uint32_t>(pos) + 1);
    if (slot->header == 0) hashtable::record_of(map->data3)->count++;
    *slot = *value;
    clear_new_line(slot);
}

// The value cell of the live entry matching key, or null. The lookup goes
// to the table's map! rule at once: a map! table is never stamped (no key
// type hashes by node), so the general find's stamp check has nothing to do.
Cell* live_value(const Cell* map, const Cell* key, int32_t op) {
    if (!valid_key_q(type_of(key))) return nullptr;
    Cell* found = hashtable::find_map(map->data3, key, hashtable::map_hash(key), op);
    if (!found || found[1].header == 0) return nullptr;
    return found + 1;
}

void check_pairs(const Cell* block) {
    if (block::rs_length_q(block) % 2 != 0) fire(err::invalid_arg, block);
}

} // namespace

Cell* make_from_block(Cell* spec) {
    check_pairs(spec);
    Cell* out = block::clone(spec, false, false);
    for (uint32_t i = 0; i < block::abs_length(out); i++) clear_new_line(block::ms_abs_at(out, i));
    return make_cell(out, out, 0);
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        int32_t n = integer::get_int(spec);
        if (n < 0) fire(err::out_of_range, spec);
        Cell* out = make_none(stack::push_cell());
        return make_cell(out, nullptr, std::max(2 * std::min(n, INT32_MAX / 2), 2));
    }
    return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) return make_from_block(spec);
    if (t == TYPE_MAP) return copy(stack::push(spec), nullptr, nullptr, false, nullptr);
    Cell datatype;
    make_datatype(&datatype, TYPE_MAP);
    fire(err::bad_to_arg, &datatype, spec);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    int32_t op = match_op(case_, false);
    if (!value) {
        Cell* found = live_value(parent, element, op);
        Cell* result = make_none(stack::push_cell());
        return found ? copy_cell(found, result) : make_none(result);
    }
    set_value(parent, element, value, op);
    return value;
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    set_value(series, key, value, match_op(case_, false));
    return value;
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    Cell* result = make_none(stack::push_cell());
    Cell* found = live_value(series, value, match_op(case_, same));
    return found ? key_value(copy_cell(found - 1, result)) : result;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse) {
    Cell* result = make_none(stack::push_cell());
    Cell* found = live_value(series, value, match_op(case_, same));
    return found ? copy_cell(found, result) : make_none(result);
}

// A strict match is removed first; only when there is none does the key
// match as select matches it, so that remove/key m 'A takes A: before a:.
Cell* remove(Cell* series, Cell* part, Cell* key) {
    if (!key) {
        Cell word, none;
        stack::get_call(&word);
        fire(err::missing_arg, &word, make_none(&none));
    }
    if (!valid_key_q(type_of(key))) return series;
    int32_t pos = -1;
    for (int32_t op : {int32_t{COMP_STRICT_EQUAL}, int32_t{COMP_EQUAL}}) {
        int32_t at = lookup(series, key, op);
        if (at >= 0 && block::ms_abs_at(series, static_cast<uint32_t>(at) + 1)->header != 0) {
            pos = at;
            break;
        }
    }
    if (pos >= 0) hashtable::delete_at(series->data3, pos);
    return series;
}

Cell* clear(Cell* series) {
    hashtable::clear(series->data3, 0, static_cast<int32_t>(block::abs_length(series)));
    SeriesBuffer* b = memory::buffer_of(series);
    b->tail = b->head;
    return series;
}

Cell* extend(Cell* map, Cell* block, bool case_) {
    check_pairs(block);
    int32_t op = match_op(case_, false);
    Cell* saved = stack::top;
    Cell* src = stack::push(block);
    for (uint32_t i = block::clip_index(src); i + 1 < block::abs_length(src); i += 2) {
        Cell* key = stack::push(block::ms_abs_at(src, i));
        Cell* value = stack::push(block::ms_abs_at(src, i + 1));
        set_value(map, key, value, op);
        stack::top = key;
    }
    stack::top = saved;
    return map;
}

Cell* reflect(Cell* value, int32_t field_symbol) {
    uint32_t field = symbol::resolve(static_cast<uint32_t>(field_symbol));
    bool keys = field == symbol::resolve(words::words);
    bool values = field == symbol::resolve(words::values);
    bool body = field == symbol::resolve(words::body);
    if (!keys && !values && !body) fire(err::not_done);
    int32_t n = ms_length_q(value);
    Cell* out = block::push_only_star(std::max(body ? 2 * n : n, 1));
    for (uint32_t i = 0; i + 1 < block::abs_length(value); i += 2) {
        if (!live_q(value, i)) continue;
        if (keys || body) {
            Cell* key = block::ms_append(out, block::ms_abs_at(value, i));
            key_value(key);
            if (body) key->header |= FLAG_NEW_LINE;
        }
        if (values || body) block::ms_append(out, block::ms_abs_at(value, i + 1));
    }
    return out;
}

Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types) {
    Cell* saved = stack::top;
    Cell* map = stack::push(value);
    if (deep && cycles::find(map->data2)) fire(err::no_cycle);
    cycles::Scope walk(map->data2);
    Cell* data = stack::push(map);
    set_type(data, TYPE_BLOCK);
    data->data3 = 0;
    Cell* out = block::clone(data, false, false);
    node_t table = hashtable::copy(map->data3, out->data2);
    // The map cell holds the new table before anything else may collect.
    Cell* result = dest ? dest : saved;
    *result = Cell{TYPE_MAP, 0, out->data2, table};
    if (types || deep) {
        Cell all = Cell{TYPE_TYPESET, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
        block::copy_types(out, 1, static_cast<int32_t>(block::abs_length(out)), 2,
                          types ? types : &all, deep);
    }
    stack::top = dest ? saved : saved + 1;
    return result;
}

void init() {
    datatype::register_type(TYPE_MAP, 0, "map!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_REFLECT>(&reflect)
                                .set<A_TO>(&to)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_EVAL_PATH>(&eval_path)
                                .set<A_COMPARE>(&compare)
                                .set<A_CLEAR>(&clear)
                                .set<A_COPY>(&copy)
                                .set<A_FIND>(&find)
                                .set<A_LENGTH_Q>(&length_q)
                                .set<A_PUT>(&put)
                                .set<A_REMOVE>(&remove)
                                .set<A_SELECT>(&select));
}

} // namespace mox::map
