// The word datatypes (see word.h): the stack helpers, reading
// and writing through words, and the actions of the six word kinds.
#include "datatypes/word.h"

#include <string>
#include <unordered_map>

#include "core/collector.h"
#include "core/context.h"
#include "core/datatype.h"
#include "core/evaluator-hooks.h"
#include "core/memory.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/string.h"

namespace mox::word {

namespace {

// Appends the symbol's name, at most limit characters when part was given,
// and returns limit minus the name's length.
int32_t append_name(Cell* buffer, uint32_t symbol, const Cell* part, int32_t limit) {
    size_t length = 0;
    const char* utf8 = symbol::name_utf8(symbol, &length);
    // Appending may collect and move the name's buffer: work on a copy.
    std::string name(utf8, length);
    const auto* begin = reinterpret_cast<const uint8_t*>(name.data());
    const uint8_t* end = begin + name.size();
    auto chars = static_cast<int32_t>(unicode::count_utf8_chars(begin, end));
    size_t bytes = name.size();
    if (part && limit < chars) {
        uint32_t keep = limit > 0 ? static_cast<uint32_t>(limit) : 0;
        bytes = static_cast<size_t>(unicode::skip_utf8_chars(begin, end, keep) - begin);
    }
    string::append_utf8(buffer, name.data(), bytes);
    return limit - chars;
}

int32_t mold_prefixed(Cell* value, Cell* buffer, Cell* part, int32_t limit, uint32_t prefix) {
    string::append_char(buffer, prefix);
    return append_name(buffer, value->data2, part, limit - 1);
}

// The name word of a datatype, made on first use when the start-up has not
// made it yet.
Cell name_word(uint32_t type) {
    datatype::NameEntry& entry = datatype::name_table[type];
    if (type_of(&entry.word) != TYPE_WORD) {
        Cell made = *load(entry.name);
        datatype::name_table[type].word = made;
    }
    return datatype::name_table[type].word;
}

[[noreturn]] void bad_to_arg(int32_t type, const Cell* spec) {
    Cell target;
    make_datatype(&target, static_cast<uint32_t>(type));
    fire(err::bad_to_arg, &target, spec);
}

bool registered(uint32_t type) {
    return type >= 1 && type <= datatype::top_id && datatype::name_table[type].name;
}

inline bool word_and_lit_word(uint32_t a, uint32_t b) {
    return (a == TYPE_WORD && b == TYPE_LIT_WORD) || (a == TYPE_LIT_WORD && b == TYPE_WORD);
}

Cell* push_retyped(const Cell* word, uint32_t type) { return set_type(push(word), type); }

} // namespace

void init() {
    using datatype::ActionSlots;
    datatype::register_type(TYPE_CONTEXT, 0, "context!", ActionSlots::none());
    datatype::register_type(TYPE_WORD, TYPE_SYMBOL, "word!",
                            ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_TO>(&make)
                                .set<A_FORM>(&form)
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare)
                                .set<A_INDEX_Q>(&index_q));
    auto kind = [](auto mold_fn, bool index) {
        ActionSlots s = ActionSlots::none()
                            .inherit<A_MAKE>()
                            .inherit<A_TO>()
                            .inherit<A_FORM>()
                            .inherit<A_COMPARE>()
                            .set<A_MOLD>(mold_fn);
        if (index) s.inherit<A_INDEX_Q>();
        return s;
    };
    datatype::register_type(TYPE_LIT_WORD, TYPE_WORD, "lit-word!", kind(&lit_word::mold, true));
    datatype::register_type(TYPE_SET_WORD, TYPE_WORD, "set-word!", kind(&set_word::mold, true));
    datatype::register_type(TYPE_GET_WORD, TYPE_WORD, "get-word!", kind(&get_word::mold, true));
    datatype::register_type(TYPE_REFINEMENT, TYPE_WORD, "refinement!",
                            kind(&refinement::mold, false));
}

// ---------------------------------------------------------------------------
// Stack helpers
// ---------------------------------------------------------------------------

Cell* push(const Cell* value) { return stack::push(value); }
Cell* push_as_get_word(const Cell* word) { return push_retyped(word, TYPE_GET_WORD); }
Cell* push_as_refinement(const Cell* word) { return push_retyped(word, TYPE_REFINEMENT); }
Cell* push_as_issue(const Cell* word) { return push_retyped(word, TYPE_ISSUE); }

// The symbol's cached name is shared by every word of that spelling, so the
// caller gets a copy it may change freely.
Cell* push_name(const Cell* word) {
    uint32_t symbol = word->data2;
    Cell* out = make_none(stack::push_cell());
    symbol::cache_name(symbol);
    node_t copy = memory::copy_series(memory::buffer_of(symbol::entry(symbol)->data2));
    *out = Cell{TYPE_STRING, 0, copy, 0};
    return out;
}

// ---------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------

Cell* get_value(const Cell* word) { return context::word_value_ptr(word, word->data1); }

Cell* get_checked(const Cell* word) {
    Cell* value = get_value(word);
    if (type_of(value) == TYPE_UNSET) fire(err::no_value, word);
    return value;
}

Cell* get(const Cell* word) { return stack::push(get_checked(word)); }

Cell* push_value_any(const Cell* word) { return stack::push(get_value(word)); }

Cell* set(Cell* word, const Cell* value) { return context::set_in(word, value, word->data1, true); }

Cell* set_from_arguments() {
    Cell* word = stack::arguments;
    Cell* value = word + 1;
    if (type_of(value) == TYPE_UNSET) fire(err::need_value, word);
    set(word, value);
    stack::set_last(value);
    return stack::arguments;
}

Cell* set_from_top(Cell* word) {
    Cell* value = stack::top - 1;
    if (type_of(value) == TYPE_UNSET) fire(err::need_value, word);
    return set(word, value);
}

void set_from_top_reset(Cell* word) {
    set_from_top(word);
    stack::reset();
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

namespace {

// The symbol of the word that text loads as when it is exactly one value of
// a word kind (any word kind with any_word, else word!, set-word!, get-word!
// or lit-word!); 0 for anything else, "two words" and malformed text
// included. May collect.
uint32_t scanned_symbol(const std::string& text, bool any_word) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    auto length = static_cast<int32_t>(text.size());
    int32_t type = evaluator::scan_name(bytes, length);
    if (type < TYPE_WORD || type > (any_word ? TYPE_ISSUE : TYPE_GET_WORD)) return 0;
    Cell* holder = stack::push_cell();
    make_none(holder);
    evaluator::load_utf8(bytes, length, holder);
    uint32_t symbol = 0;
    if (block::rs_length_q(holder) == 1 && any_word_q(type_of(block::ms_head(holder))))
        symbol = block::ms_head(holder)->data2;
    stack::top = holder;
    return symbol;
}

} // namespace

// make and to: a word kind is retyped; a datatype gives its name word, a
// logic! the word true or false; text, a char!, a refinement or an issue is
// scanned and must be exactly one word.
Cell* make(Cell* proto, Cell* spec, int32_t type) {
    Cell result;
    switch (type_of(spec)) {
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
        result = *spec;
        break;
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: {
        size_t length = 0;
        const char* name = symbol::name_utf8(spec->data2, &length);
        uint32_t symbol = scanned_symbol(std::string(name, length), false);
        if (!symbol) bad_to_arg(type, spec);
        make_at(symbol, &result);
        break;
    }
    case TYPE_STRING:
    case TYPE_CHAR: {
        std::string text;
        if (type_of(spec) == TYPE_CHAR) {
            uint8_t bytes[4];
            text.assign(reinterpret_cast<char*>(bytes), unicode::cp_to_utf8(spec->data2, bytes));
        } else {
            int32_t length = -1;
            const char* p = unicode::to_utf8(spec, &length);
            text.assign(p, static_cast<size_t>(length));
        }
        uint32_t symbol = scanned_symbol(text, true);
        if (!symbol) fire(err::invalid_chars, spec);
        make_at(symbol, &result);
        break;
    }
    case TYPE_DATATYPE:
        if (!registered(spec->data1)) bad_to_arg(type, spec);
        result = name_word(spec->data1);
        break;
    case TYPE_LOGIC:
        result = *from_symbol(symbol::make(spec->data1 ? "true" : "false"));
        break;
    default:
        bad_to_arg(type, spec);
    }
    result.header = static_cast<uint32_t>(type);
    *proto = result;
    return proto;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    return append_name(buffer, value->data2, part, limit);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

// Equality ignores the word kinds and the letter case (canonical symbols);
// strict equality needs the same kind and spelling, sameness also the same
// context. Operators 10 and 11 treat word! and lit-word! as one kind. The
// orderings compare the names as strings.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint32_t a = type_of(value1);
    uint32_t b = type_of(value2);
    if (!any_word_q(b) || (b == TYPE_ISSUE && a != TYPE_ISSUE)) return COMPARE_NOT_COMPARABLE;
    uint32_t s1 = value1->data2;
    uint32_t s2 = value2->data2;
    bool same_kind = a == b;
    bool equal;
    switch (op) {
    case COMP_SAME:
        equal = same_kind && s1 == s2 && value1->data1 == value2->data1;
        break;
    case COMP_STRICT_EQUAL_WORD:
        equal = word_and_lit_word(a, b) ? s1 == s2 : same_kind && s1 == s2;
        break;
    case COMP_STRICT_EQUAL:
        equal = same_kind && s1 == s2;
        break;
    case COMP_EQUAL_WORD:
        equal =
            (word_and_lit_word(a, b) || same_kind) && symbol::resolve(s1) == symbol::resolve(s2);
        break;
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_FIND:
        equal = symbol::resolve(s1) == symbol::resolve(s2);
        break;
    default:
        return string::compare_strings(value1, value2, op, false);
    }
    return equal ? 0 : 1;
}

Cell* index_q() {
    Cell* word = stack::arguments;
    auto index = static_cast<int32_t>(word->data3);
    if (index == -1)
        make_none(word);
    else
        make_integer(word, index + 1);
    return word;
}

} // namespace mox::word

// ---------------------------------------------------------------------------
// The other kinds
// ---------------------------------------------------------------------------

namespace mox::set_word {
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    int32_t left = word::form(value, buffer, part, limit);
    string::append_char(buffer, ':');
    return left - 1;
}
} // namespace mox::set_word

namespace mox::lit_word {
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return word::mold_prefixed(value, buffer, part, limit, '\'');
}
} // namespace mox::lit_word

namespace mox::get_word {
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return word::mold_prefixed(value, buffer, part, limit, ':');
}
} // namespace mox::get_word

namespace mox::refinement {
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return word::mold_prefixed(value, buffer, part, limit, '/');
}

} // namespace mox::refinement

namespace mox::issue {

void init() {
    datatype::register_type(TYPE_ISSUE, TYPE_WORD, "issue!",
                            datatype::ActionSlots::none()
                                .set<A_MAKE>(&make)
                                .set<A_TO>(&make)
                                .inherit<A_FORM>()
                                .set<A_MOLD>(&mold)
                                .set<A_COMPARE>(&compare));
}

// A string (from its index) or a char! becomes the issue's name as it is,
// without scanning; a word kind is retyped; anything else goes as for words.
Cell* make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t symbol;
    switch (type_of(spec)) {
    case TYPE_STRING:
        symbol = symbol::from_string(spec);
        break;
    case TYPE_CHAR: {
        uint8_t utf8[4];
        uint32_t n = unicode::cp_to_utf8(spec->data2, utf8);
        symbol = symbol::make_sized(reinterpret_cast<const char*>(utf8), n);
        break;
    }
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: {
        Cell result = *spec;
        result.header = static_cast<uint32_t>(type);
        *proto = result;
        return proto;
    }
    default:
        return word::make(proto, spec, type);
    }
    *proto = Cell{static_cast<uint32_t>(type), context::global, symbol, static_cast<uint32_t>(-1)};
    return proto;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return word::mold_prefixed(value, buffer, part, limit, '#');
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_ISSUE) return COMPARE_NOT_COMPARABLE;
    return word::compare(value1, value2, op);
}

Cell* make_rooted(const char* name) {
    Cell value;
    make_at(&value, name);
    return boot_rooting ? root_append(&value) : stack::push(&value);
}

} // namespace mox::issue
