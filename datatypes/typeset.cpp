// typeset! (see typeset.h).
#include "datatypes/typeset.h"

#include "core/collector.h"
#include "core/context.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/word.h"

namespace mox::typeset {

namespace {

inline uint8_t* bytes_of(Cell* typeset) { return reinterpret_cast<uint8_t*>(&typeset->data1); }

inline bool has(const Cell* typeset, uint32_t type) { return typeset_has(typeset, type); }

// The value a word of a type block stands for: its own binding's value, or
// the global one for an unbound word; null when there is none.
const Cell* word_value(const Cell* word) {
    if (static_cast<int32_t>(word->data3) != -1 && word->data1) {
        if (!context::record_of(word->data1)->data2) return nullptr;
        return context::word_value_ptr(word, word->data1);
    }
    return context::symbol_value(context::global, word->data2);
}

void unite(Cell* into, const Cell* other) {
    into->data1 |= other->data1;
    into->data2 |= other->data2;
    into->data3 |= other->data3;
}

// Adds one item of a type block; false when the item is not a type.
bool add_spec_item(Cell* typeset, const Cell* item) {
    const Cell* value = item;
    if (type_of(item) == TYPE_WORD) {
        value = word_value(item);
        if (!value) return false;
        if (type_of(value) == TYPE_WORD) {
            set_bit(typeset, TYPE_OBJECT);
            return true;
        }
    }
    switch (type_of(value)) {
    case TYPE_DATATYPE:
        set_bit(typeset, value->data1);
        return true;
    case TYPE_TYPESET:
        unite(typeset, value);
        return true;
    default:
        return false;
    }
}

// The name of a registered type, or null.
const char* name_of(uint32_t type) {
    return type <= datatype::top_id ? datatype::name_table[type].name : nullptr;
}

} // namespace

Cell* clear(Cell* typeset) {
    *typeset = Cell{TYPE_TYPESET, 0, 0, 0};
    return typeset;
}

void set_bit(Cell* typeset, uint32_t type) {
    if (type < 96) bytes_of(typeset)[type >> 3] |= static_cast<uint8_t>(0x80 >> (type & 7));
}

int32_t count(const Cell* typeset) {
    int32_t n = 0;
    for (uint32_t t = 1; t <= datatype::top_id; t++)
        if (name_of(t) && has(typeset, t)) n++;
    return n;
}

Cell* make_in(node_t block, uint32_t w1, uint32_t w2, uint32_t w3) {
    Cell* c = memory::alloc_tail(block);
    *c = Cell{TYPE_TYPESET, w1, w2, w3};
    return c;
}

Cell* make_default_in(node_t block) {
    Cell ts{TYPE_TYPESET, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    bytes_of(&ts)[TYPE_UNSET >> 3] &= static_cast<uint8_t>(~(0x80 >> (TYPE_UNSET & 7)));
    return make_in(block, ts.data1, ts.data2, ts.data3);
}

Cell* from_spec(Cell* typeset, const Cell* spec) {
    Cell ts;
    clear(&ts);
    memory::SeriesBuffer* b = block::buffer_of(spec);
    for (uint32_t i = spec->data1; i < b->used_bytes() / sizeof(Cell); i++) {
        const Cell* item = b->cells() + i;
        if (type_of(item) == TYPE_BLOCK) continue;
        if (!add_spec_item(&ts, item)) fire(err::invalid_type_spec, item);
    }
    *typeset = ts;
    return typeset;
}

Cell* make_from_spec_in(node_t block, const Cell* spec) {
    Cell ts;
    from_spec(&ts, spec);
    return make_in(block, ts.data1, ts.data2, ts.data3);
}

void add_type(Cell* typeset, const Cell* value) {
    const Cell* v = value;
    if (is_any_word(type_of(value))) {
        v = word_value(value);
        if (!v) fire(err::invalid_arg, value);
    }
    switch (type_of(v)) {
    case TYPE_TYPESET:
        unite(typeset, v);
        break;
    case TYPE_DATATYPE:
        set_bit(typeset, v->data1);
        break;
    default:
        fire(err::invalid_arg, value);
    }
}

Cell* do_bitwise(int32_t op) {
    Cell* a = stack::arguments;
    const Cell* b = stack::arguments + 1;
    Cell other;
    switch (type_of(b)) {
    case TYPE_TYPESET:
        other = *b;
        break;
    case TYPE_DATATYPE:
        clear(&other);
        set_bit(&other, b->data1);
        break;
    default:
        fire(err::invalid_arg, b);
    }
    uint32_t* w = &a->data1;
    const uint32_t* o = &other.data1;
    for (int i = 0; i < 3; i++) {
        switch (op) {
        case 5:
        case 9:
            w[i] |= o[i];
            break;
        case 6:
        case 10:
            w[i] &= o[i];
            break;
        case 7:
        case 12:
            w[i] ^= o[i];
            break;
        case 11:
            w[i] &= ~o[i];
            break;
        default:
            break;
        }
    }
    a->header = TYPE_TYPESET;
    return a;
}

void make_words() {
    // Each row is built from its own datatypes (up to the first 0) and the
    // rows before it that it names (up to the first -1).
    struct Row {
        const char* name;
        uint32_t types[7];
        int rows[6];
    };
    static const Row rows[] = {
        {"internal!", {TYPE_UNSET}, {-1}},                           // 0
        {"external!", {TYPE_EVENT}, {-1}},                           // 1
        {"number!", {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}, {-1}}, // 2
        {"planar!", {TYPE_PAIR, TYPE_POINT2D}, {-1}},                // 3
        {"any-point!", {TYPE_POINT2D, TYPE_POINT3D}, {-1}},          // 4
        {"scalar!",
         {TYPE_MONEY, TYPE_CHAR, TYPE_PAIR, TYPE_TUPLE, TYPE_TIME, TYPE_DATE},
         {2, 4, -1}},                                                                  // 5
        {"any-word!", {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}, {-1}}, // 6
        {"all-word!", {TYPE_REFINEMENT, TYPE_ISSUE}, {6, -1}},                         // 7
        {"any-list!", {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH}, {-1}},                      // 8
        {"any-path!", {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}, {-1}}, // 9
        {"any-block!", {0}, {9, 8, -1}},                                               // 10
        {"any-function!",
         {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE},
         {-1}},                                                      // 11
        {"any-object!", {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}, {-1}}, // 12
        {"any-string!",
         {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF},
         {-1}},                                                            // 13
        {"series!", {TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR}, {10, 13, -1}}, // 14
        {"immediate!",
         {TYPE_NONE, TYPE_LOGIC, TYPE_DATATYPE, TYPE_TYPESET, TYPE_HANDLE, TYPE_DATE},
         {5, 7, -1}},                                                   // 15
        {"default!", {TYPE_MAP, TYPE_BITSET}, {14, 15, 12, 1, 11, -1}}, // 16
        {"any-type!", {0}, {16, 0, -1}},                                // 17
    };
    constexpr int n = sizeof rows / sizeof rows[0];
    Cell sets[n];
    for (int i = 0; i < n; i++) {
        clear(&sets[i]);
        for (uint32_t t : rows[i].types) {
            if (!t) break;
            set_bit(&sets[i], t);
        }
        for (int r : rows[i].rows) {
            if (r < 0) break;
            unite(&sets[i], &sets[r]);
        }
        Cell word = *word::load(rows[i].name);
        context::put(context::global, &word, &sets[i]);
    }
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

// make and to: a typeset is kept, a block gives the union of its items.
Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_TYPESET:
        return copy_cell(spec, proto);
    case TYPE_BLOCK: {
        Cell ts;
        clear(&ts);
        memory::SeriesBuffer* b = block::buffer_of(spec);
        for (uint32_t i = spec->data1; i < b->used_bytes() / sizeof(Cell); i++) {
            Cell item = block::buffer_of(spec)->cells()[i];
            add_type(&ts, &item);
        }
        return copy_cell(&ts, proto);
    }
    default: {
        Cell dt;
        make_datatype(&dt, TYPE_TYPESET);
        fire(err::bad_to_arg, &dt, spec);
    }
    }
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    Cell ts = *value;
    if (!only) {
        string::concatenate_literal(buffer, "make typeset! [");
        limit -= 15;
    }
    bool any = false;
    for (uint32_t t = 1; t <= datatype::top_id; t++) {
        if (part && limit < 1) return limit;
        const char* name = name_of(t);
        if (!name || !has(&ts, t)) continue;
        if (any) {
            string::append_char(buffer, ' ');
            limit--;
        }
        string::concatenate_literal(buffer, name);
        limit -= static_cast<int32_t>(datatype::name_table[t].length + 1);
        any = true;
    }
    if (!only) {
        string::append_char(buffer, ']');
        limit--;
    }
    return limit;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    return mold(value, buffer, false, false, false, part, limit, 0);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_TYPESET) return COMPARE_NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_STRICT_EQUAL:
    case COMP_SAME:
    case COMP_FIND:
        return value1->data1 == value2->data1 && value1->data2 == value2->data2 &&
                       value1->data3 == value2->data3
                   ? 0
                   : 1;
    case COMP_SORT:
    case COMP_CASE_SORT: {
        int32_t a = count(value1), b = count(value2);
        return (a > b) - (a < b);
    }
    default:
        return COMPARE_NOT_COMPARABLE;
    }
}

Cell* and_t() { return do_bitwise(OP_AND); }
Cell* or_t() { return do_bitwise(OP_OR); }
Cell* xor_t() { return do_bitwise(OP_XOR); }

Cell* complement(Cell* value) {
    value->data1 = ~value->data1;
    value->data2 = ~value->data2;
    value->data3 = ~value->data3;
    return value;
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    if (type_of(value) != TYPE_DATATYPE) fire(err::invalid_arg, value);
    Cell answer;
    make_logic(&answer, has(series, value->data1));
    return stack::push(&answer);
}

void init() {
    datatype::register_type(TYPE_TYPESET, 0, "typeset!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_TO>(&make)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare)
                                .set<A_AND_T>(&and_t)
                                .set<A_COMPLEMENT>(&complement)
                                .set<A_OR_T>(&or_t)
                                .set<A_XOR_T>(&xor_t)
                                .set<A_FIND>(&find));
}

} // namespace mox::typeset
