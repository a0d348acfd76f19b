// event!: made events, the back end's events, their fields and actions (see
// event.h).
#include "datatypes/event.h"

#include "core/datatype.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/word.h"

namespace mox::event {

namespace {

constexpr const char* kTypeNames[TYPE_COUNT] = {
    "down",   "up",        "mid-down", "mid-up",   "alt-down", "alt-up",   "aux-down", "aux-up",
    "click",  "dbl-click", "wheel",    "over",     "key",      "key-down", "key-up",   "ime",
    "focus",  "unfocus",   "enter",    "zoom",     "pan",      "rotate",   "two-tap",  "press-tap",
    "select", "change",    "menu",     "close",    "move",     "resize",   "moving",   "resizing",
    "time",   "drawing",   "scroll",   "minimize", "maximize", "restore"};

constexpr const char* kFieldNames[FIELD_COUNT] = {
    "type",  "face",      "window",    "offset",    "key",   "picked", "flags",      "away?",
    "down?", "mid-down?", "alt-down?", "aux-down?", "ctrl?", "shift?", "orientation"};

// Flag words in the order flag_mask matches them.
struct FlagName {
    const char* name;
    uint32_t mask;
};
constexpr FlagName kFlagNames[] = {
    {"control", CONTROL},   {"shift", SHIFT},       {"alt", ALT},
    {"command", COMMAND},   {"away", AWAY},         {"down", DOWN},
    {"mid-down", MID_DOWN}, {"alt-down", ALT_DOWN}, {"aux-down", AUX_DOWN}};
// The order in which the flags field lists them: pointer state first, the
// buttons from the main one outwards, then the modifier keys; command, which
// only made events carry, comes last.
constexpr FlagName kFlagsListed[] = {
    {"away", AWAY},         {"down", DOWN},         {"mid-down", MID_DOWN},
    {"alt-down", ALT_DOWN}, {"aux-down", AUX_DOWN}, {"control", CONTROL},
    {"shift", SHIFT},       {"alt", ALT},           {"command", COMMAND}};
constexpr uint32_t kFlagFieldMasks[] = {AWAY, DOWN, MID_DOWN, ALT_DOWN, AUX_DOWN, CONTROL, SHIFT};

uint32_t type_symbols[TYPE_COUNT + 1];
uint32_t field_symbols[FIELD_COUNT + 1];
uint32_t flag_symbols[std::size(kFlagNames)];
uint32_t flag_listed_symbols[std::size(kFlagsListed)];
uint32_t set_symbols[7]; // type key flags face window offset picked
const Accessors* back_end = nullptr;

enum SetField { S_TYPE, S_KEY, S_FLAGS, S_FACE, S_WINDOW, S_OFFSET, S_PICKED };

bool same(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

Cell* block_values(const Cell* event) {
    Cell b{TYPE_BLOCK, 0, event->data2, 0};
    return block::rs_head(&b);
}

// The value a word or get-word stands for when it is bound and set.
const Cell* dereferenced(const Cell* v) {
    uint32_t t = type_of(v);
    if ((t != TYPE_WORD && t != TYPE_GET_WORD) || !v->data1 || static_cast<int32_t>(v->data3) < 0)
        return v;
    Cell* value = word::get_value(v);
    return type_of(value) == TYPE_UNSET ? v : value;
}

} // namespace

void install(const Accessors* accessors) { back_end = accessors; }

int32_t type_number(uint32_t symbol) {
    for (int32_t n = 1; n <= TYPE_COUNT; n++)
        if (same(symbol, type_symbols[n])) return n;
    return 0;
}

Cell* type_word(const Cell* event) {
    auto n = static_cast<int32_t>(event->data1);
    if (n < 1 || n > TYPE_COUNT) return make_none(stack::push_cell());
    return word::push_symbol(type_symbols[n]);
}

void set_type(Cell* event, const Cell* word) {
    int32_t n = type_number(word->data2);
    if (!n) fire(err::not_event_type, word);
    event->data1 = static_cast<uint32_t>(n);
}

uint32_t flag_mask(uint32_t symbol) {
    for (size_t i = 0; i < std::size(kFlagNames); i++)
        if (same(symbol, flag_symbols[i])) return kFlagNames[i].mask;
    return 0;
}

int32_t field_index(uint32_t symbol) {
    for (int32_t i = 1; i <= FIELD_COUNT; i++)
        if (same(symbol, field_symbols[i])) return i;
    return -1;
}

Cell* push_flags(uint32_t flags) {
    Cell* blk = block::make_at(stack::push_cell(), 4);
    for (size_t i = 0; i < std::size(kFlagsListed); i++) {
        if (!(flags & kFlagsListed[i].mask)) continue;
        word::make_at(flag_listed_symbols[i], block::alloc_tail(blk));
    }
    return blk;
}

Cell* get_field(const Cell* event, int32_t field) {
    const bool made = event->header & FLAG_MADE;
    if (made) {
        switch (field) {
        case F_FACE:
        case F_WINDOW:
        case F_OFFSET:
        case F_PICKED:
            if (event->data2) {
                int32_t slot = field == F_PICKED ? 3 : field - F_FACE;
                return stack::push(block_values(event) + slot);
            }
            if (field == F_OFFSET) return pair::make_cell(stack::push_cell(), 0, 0);
            if (field == F_PICKED) return make_integer(stack::push_cell(), 0);
            return make_none(stack::push_cell());
        case F_KEY: {
            uint32_t cp = event->data3 & KEY_MASK;
            return cp ? make_char(stack::push_cell(), cp) : make_none(stack::push_cell());
        }
        case F_ORIENTATION:
            return make_none(stack::push_cell());
        default:
            break;
        }
    }
    switch (field) {
    case F_TYPE:
        return type_word(event);
    case F_FLAGS:
        return push_flags(event->data3);
    case F_FACE:
    case F_WINDOW:
    case F_OFFSET:
    case F_KEY:
    case F_PICKED:
    case F_ORIENTATION: {
        if (!back_end) return make_none(stack::push_cell());
        Cell copy = *event;
        return back_end->get_field(&copy, field);
    }
    default:
        if (field >= F_AWAY_Q && field <= F_SHIFT_Q)
            return make_logic(stack::push_cell(),
                              (event->data3 & kFlagFieldMasks[field - F_AWAY_Q]) != 0);
        return make_none(stack::push_cell());
    }
}

Cell* push(const Cell* event) { return stack::push(event); }

Cell* make_os_cell(Cell* cell, int32_t type, uint32_t reference, uint32_t flags) {
    *cell = Cell{TYPE_EVENT, static_cast<uint32_t>(type), reference, flags};
    return cell;
}

// The spec's pairs are read into locals first; the values block is made last
// so that nothing allocates while the spec is walked.
Cell* make(Cell* proto, Cell* spec, int32_t type) {
    Cell ev{TYPE_EVENT | FLAG_MADE, 0, 0, 0};
    Cell parts[4];
    bool given[4] = {false, false, false, false};
    if (type_of(spec) == TYPE_BLOCK) {
        int32_t n = block::rs_length_q(spec);
        for (int32_t i = 0; i + 1 < n; i++) {
            const Cell* head = block::rs_head(spec);
            const Cell* key = head + i;
            if (type_of(key) != TYPE_SET_WORD) continue;
            const Cell* v = dereferenced(head + i + 1);
            uint32_t vt = type_of(v);
            uint32_t s = key->data2;
            if (same(s, set_symbols[S_TYPE])) {
                if (vt == TYPE_WORD || vt == TYPE_LIT_WORD) set_type(&ev, v);
            } else if (same(s, set_symbols[S_KEY])) {
                if (vt == TYPE_CHAR) ev.data3 |= v->data2 & KEY_MASK;
            } else if (same(s, set_symbols[S_FLAGS])) {
                if (vt == TYPE_BLOCK) {
                    int32_t m = block::rs_length_q(v);
                    const Cell* f = block::rs_head(v);
                    for (int32_t k = 0; k < m; k++)
                        if (type_of(f + k) == TYPE_WORD) ev.data3 |= flag_mask(f[k].data2);
                }
            } else if (same(s, set_symbols[S_FACE]) || same(s, set_symbols[S_WINDOW])) {
                int slot = same(s, set_symbols[S_FACE]) ? 0 : 1;
                if (vt == TYPE_OBJECT) parts[slot] = *v, given[slot] = true;
            } else if (same(s, set_symbols[S_OFFSET])) {
                if (vt == TYPE_PAIR || vt == TYPE_POINT2D) parts[2] = *v, given[2] = true;
            } else if (same(s, set_symbols[S_PICKED])) {
                if (vt == TYPE_INTEGER) parts[3] = *v, given[3] = true;
            } else {
                continue;
            }
            i++;
        }
    }
    if (given[0] || given[1] || given[2] || given[3]) {
        if (!given[0]) make_none(&parts[0]);
        if (!given[1]) make_none(&parts[1]);
        if (!given[2]) pair::make_cell(&parts[2], 0, 0);
        if (!given[3]) make_integer(&parts[3], 0);
        // The parts keep their objects alive only while they sit on the
        // stack: push them before the block is allocated.
        Cell* base = stack::top;
        for (auto& p : parts) stack::push(&p);
        Cell* blk = block::make_at(stack::push_cell(), 4);
        for (int k = 0; k < 4; k++) *block::alloc_tail(blk) = base[k];
        ev.data2 = blk->data2;
        stack::top = base;
    }
    *proto = ev;
    return proto;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    string::concatenate_literal(buffer, "event");
    return limit - 5;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify) {
    int32_t field = is_any_word(type_of(element)) ? field_index(element->data2) : -1;
    if (!value) {
        if (field < 0) fire(err::invalid_path, path, element);
        return get_field(parent, field);
    }
    if (field != F_TYPE) fire(err::bad_path_set, path, element);
    if (type_of(value) != TYPE_WORD) fire(err::bad_path_set, path, value);
    set_type(parent, value);
    time::store_back(parent, gparent, previous, notify);
    return value;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_EVENT) return COMPARE_NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_STRICT_EQUAL:
    case COMP_SORT:
    case COMP_CASE_SORT:
    case COMP_SAME:
    case COMP_FIND:
        return 0;
    default:
        return COMPARE_NOT_COMPARABLE;
    }
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (is_any_word(type_of(boxed))) {
        index = field_index(boxed->data2);
        if (index < 0) fire(err::cannot_use, boxed, value);
    }
    if (index < 1 || index > FIELD_COUNT) fire(err::out_of_range, boxed);
    return get_field(value, index);
}

bool find_flag(const Cell* facet, uint32_t flag_symbol) {
    uint32_t t = type_of(facet);
    if (t == TYPE_WORD) return same(facet->data2, flag_symbol);
    if (t != TYPE_BLOCK) return false;
    int32_t n = block::rs_length_q(facet);
    const Cell* v = block::rs_head(facet);
    for (int32_t i = 0; i < n; i++) {
        uint32_t vt = type_of(v + i);
        if ((vt == TYPE_WORD || vt == TYPE_LIT_WORD) && same(v[i].data2, flag_symbol)) return true;
    }
    return false;
}

void event_q_star() {
    Cell* args = stack::arguments;
    make_logic(args, type_of(args) == TYPE_EVENT);
}

void find_flag_q_star() {
    Cell* args = stack::arguments;
    bool found = find_flag(args, args[1].data2);
    make_logic(args, found);
}

void init() {
    for (int32_t n = 1; n <= TYPE_COUNT; n++) type_symbols[n] = symbol::make(kTypeNames[n - 1]);
    for (int32_t i = 1; i <= FIELD_COUNT; i++) field_symbols[i] = symbol::make(kFieldNames[i - 1]);
    for (size_t i = 0; i < std::size(kFlagNames); i++)
        flag_symbols[i] = symbol::make(kFlagNames[i].name);
    for (size_t i = 0; i < std::size(kFlagsListed); i++)
        flag_listed_symbols[i] = symbol::make(kFlagsListed[i].name);
    const char* set_names[] = {"type", "key", "flags", "face", "window", "offset", "picked"};
    for (int i = 0; i < 7; i++) set_symbols[i] = symbol::make(set_names[i]);
    datatype::register_type(TYPE_EVENT, 0, "event!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_EVAL_PATH>(&eval_path)
                                .set<A_COMPARE>(&compare)
                                .set<A_PICK>(&pick));
}

} // namespace mox::event
