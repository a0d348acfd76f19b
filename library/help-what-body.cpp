// Native body of what.
//
// what walks every word of the global context: the Mox body calls a test
// function per word, then forms each name and molds the spec of each
// function to search it, which is where nearly all its time goes. This body
// evaluates the Mox body's own expressions up to the gathering of the
// words, then keeps the same words in the same order without molding: it
// reads names and spec strings in place, comparing as find does, and molds
// only what reading cannot decide. It sorts them and writes the listing as
// the library's help functions would when those are still the boot's own
// (else the Mox body lists them), and evaluates the rest of the body in the
// call's frame. A system object without a words object leaves everything
// from the gathering on to the Mox body. Nothing is kept from one call to
// the next but copies of symbol names, which never change.
#include "library/help-what-body.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/actions.h"
#include "core/arena.h"
#include "core/cell.h"
#include "core/context.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"

namespace mox::help_what_body {

namespace {

// what's slots: the /with flag, text, the /spec flag, the /buffer flag, the
// /local flag, then words word value.
constexpr int32_t SLOT_WITH = 0;
constexpr int32_t SLOT_TEXT = 1;
constexpr int32_t SLOT_SPEC = 2;
constexpr int32_t SLOT_WORDS = 5;

const Cell* running_function() { return context::owner_of(stack::top_frame()->function_context); }

// The index of the first item of the body's top level of the given type
// and name, or -1.
int32_t find_top(const Cell* body, uint32_t type, uint32_t symbol) {
    int32_t tail = interpreter::tail_of(body);
    for (int32_t i = static_cast<int32_t>(body->data1); i < tail; i++) {
        const Cell* item = block::ms_abs_at(body, static_cast<uint32_t>(i));
        if (type_of(item) == type && symbol::resolve(item->data2) == symbol::resolve(symbol))
            return i;
    }
    return -1;
}

bool any_function_q(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION ||
           t == TYPE_ROUTINE;
}

// Whether string mold writes the character of a string's contents as it
// is: never escaped, and when a brace, never one it may escape. A quote is
// written as it is: a string holding one is molded between braces.
bool molds_as_is(uint32_t c) {
    return c >= 32 && c != '^' && c != '{' && c != '}' && c != 127 && !(c >= 0x80 && c <= 0x9F);
}

// The text searched for, each character upper-cased as find compares
// them, so one comparison per character decides.
class Needle {
  public:
    // An empty needle (what without /with searches nothing).
    Needle() = default;

    explicit Needle(const Cell* text) {
        memory::SeriesBuffer* b = string::buffer_of(text);
        uint32_t unit = b->unit();
        uint32_t length = b->used_bytes() / unit;
        for (uint32_t i = text->data1; i < length; i++)
            folded_.push_back(unicode::to_upper(string::get_char(b->head_ptr() + i * unit, unit)));
        for (uint32_t c : folded_) {
            for (const char* s = " \n[]\"':/"; *s; s++)
                if (c == unicode::to_upper(static_cast<uint8_t>(*s))) plain_ = false;
            for (uint32_t e = 0; e < 256; e++)
                if (!molds_as_is(e) && c == unicode::to_upper(e)) plain_ = false;
        }
        int32_t firsts = 0;
        for (uint32_t c = 0; c < 256; c++) {
            if (!folded_.empty() && unicode::to_upper(c) == folded_[0] && firsts++ < 2)
                first_[firsts - 1] = static_cast<uint8_t>(c);
        }
        // The vector scans look for one or two first bytes.
        if (firsts == 1) first_[1] = first_[0];
        pair_ = firsts <= 2;
#if defined(__SSE2__)
        first_a_ = _mm_set1_epi8(static_cast<char>(first_[0]));
        first_b_ = _mm_set1_epi8(static_cast<char>(first_[1]));
#endif
        for (uint32_t c = 0; c < 256; c++) {
            upper_[c] = unicode::to_upper(c);
            kind_[c] =
                static_cast<uint8_t>((!folded_.empty() && upper_[c] == folded_[0] ? FIRST : 0) |
                                     (molds_as_is(c) ? 0 : ESCAPED));
        }
    }

    bool empty() const { return folded_.empty(); }

    // Whether the text holds none of the characters a block's mold writes
    // around and between names and string contents (its brackets, spaces,
    // line breaks and indents, the word kinds' marks) and none that string
    // mold escapes or uses as a delimiter. Such a text occurs in the mold of
    // a block exactly when it occurs in one name or one string's contents
    // that mold writes as they are; one found in any string's contents
    // occurs in its mold.
    bool plain() const { return plain_; }

    template <typename Unit> bool in(const Unit* p, size_t n) const {
        size_t m = folded_.size();
        if (m == 0 || n < m) return false;
        for (size_t i = 0; i + m <= n; i++)
            if (upper(p[i]) == folded_[0] && rest_at(p + i)) return true;
        return false;
    }

    // Searches 1-byte units, telling in *as_is whether every character
    // molds as it is (checked up to a match).
    bool in_bytes(const uint8_t* p, size_t n, bool* as_is) const {
        *as_is = true;
        size_t i = 0;
#if defined(__SSE2__)
        // Sixteen bytes at a time, stopping on a possible first character
        // and, while all is as it is, on one that may be escaped.
        if (pair_) {
            const __m128i a = first_a_;
            const __m128i b = first_b_;
            for (; i + 16 <= n; i += 16) {
                __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
                __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b));
                if (*as_is) hit = _mm_or_si128(hit, may_escape(v));
                for (auto mask = static_cast<uint32_t>(_mm_movemask_epi8(hit)); mask;
                     mask &= mask - 1)
                    if (at(p, i + static_cast<size_t>(__builtin_ctz(mask)), n, as_is)) return true;
            }
        }
#endif
        for (; i < n; i++)
            if (kind_[p[i]] && at(p, i, n, as_is)) return true;
        return false;
    }

    // Searches a string's units from p, as in_bytes.
    bool in_units(const uint8_t* p, uint32_t unit, size_t n, bool* as_is) const {
        if (unit == 1) return in_bytes(p, n, as_is);
        bool found = unit == 2 ? in(reinterpret_cast<const uint16_t*>(p), n)
                               : in(reinterpret_cast<const uint32_t*>(p), n);
        if (found) return true;
        *as_is = true;
        for (size_t i = 0; i < n && *as_is; i++)
            *as_is = molds_as_is(string::get_char(p + i * unit, unit));
        return false;
    }

    // Searches UTF-8 text (a word's name) that may be read up to 15 bytes
    // past its end.
    bool in_utf8(const uint8_t* p, size_t n) const {
        size_t m = folded_.size();
#if defined(__SSE2__)
        if (pair_) {
            const __m128i a = first_a_;
            const __m128i b = first_b_;
            for (size_t i = 0; i < n; i += 16) {
                __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
                __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b));
                auto mask = static_cast<uint32_t>(_mm_movemask_epi8(hit) | _mm_movemask_epi8(v));
                if (n - i < 16) mask &= (1u << (n - i)) - 1;
                for (; mask; mask &= mask - 1) {
                    size_t j = i + static_cast<size_t>(__builtin_ctz(mask));
                    if (p[j] >= 0x80) return in_decoded(p, n);
                    if ((kind_[p[j]] & FIRST) && j + m <= n && rest_at(p + j)) return true;
                }
            }
            return false;
        }
#endif
        for (size_t i = 0; i < n; i++) {
            if (p[i] >= 0x80) return in_decoded(p, n);
            if ((kind_[p[i]] & FIRST) && i + m <= n && rest_at(p + i)) return true;
        }
        return false;
    }

  private:
    static constexpr uint8_t FIRST = 1;
    static constexpr uint8_t ESCAPED = 2;

#if defined(__SSE2__)
    // The bytes that may be escaped: below 32 or above 127 (signed, below
    // 32), and the caret, braces and DEL.
    static __m128i may_escape(__m128i v) {
        static const __m128i space = _mm_set1_epi8(32), caret = _mm_set1_epi8('^'),
                             open = _mm_set1_epi8('{'), close = _mm_set1_epi8('}'),
                             del = _mm_set1_epi8(127);
        __m128i e = _mm_or_si128(_mm_cmplt_epi8(v, space), _mm_cmpeq_epi8(v, caret));
        e = _mm_or_si128(e, _mm_or_si128(_mm_cmpeq_epi8(v, open), _mm_cmpeq_epi8(v, close)));
        return _mm_or_si128(e, _mm_cmpeq_epi8(v, del));
    }
#endif

    // Byte i of p stopped a scan: notes a character that may be escaped,
    // and whether a match starts there.
    bool at(const uint8_t* p, size_t i, size_t n, bool* as_is) const {
        uint8_t k = kind_[p[i]];
        if (k & ESCAPED) *as_is = false;
        return (k & FIRST) && i + folded_.size() <= n && rest_at(p + i);
    }

    uint32_t upper(uint32_t c) const { return c < 256 ? upper_[c] : unicode::to_upper(c); }

    // Whether the rest of the needle follows a matching first character.
    template <typename Unit> bool rest_at(const Unit* p) const {
        for (size_t j = 1; j < folded_.size(); j++)
            if (upper(p[j]) != folded_[j]) return false;
        return true;
    }

    bool in_decoded(const uint8_t* p, size_t n) const {
        points_.clear();
        const uint8_t* end = p + n;
        while (p < end) {
            int32_t cp;
            p = unicode::fast_decode_utf8_char(p, &cp);
            points_.push_back(static_cast<uint32_t>(cp));
        }
        return in(points_.data(), points_.size());
    }

    std::vector<uint32_t> folded_;
    bool plain_ = true;
    uint32_t upper_[256] = {};
    uint8_t kind_[256] = {};
    uint8_t first_[2] = {0x80, 0x80}; // no first byte: one that stops anyway
    bool pair_ = false;
#if defined(__SSE2__)
    __m128i first_a_ = _mm_set1_epi8(static_cast<char>(0x80));
    __m128i first_b_ = _mm_set1_epi8(static_cast<char>(0x80));
#endif
    mutable std::vector<uint32_t> points_;
};

// Every symbol's UTF-8 name, copied as symbols appear: a name never changes
// and an ID is never reused, so the copies stay exact. Read in place, a name
// is several dependent loads away; what reads thousands per call.
class Names {
  public:
    // The name, followed by at least 15 readable bytes.
    const uint8_t* get(uint32_t symbol, size_t* length) {
        if (symbol >= ends_.size()) extend();
        uint32_t begin = ends_[symbol - 1];
        *length = ends_[symbol] - begin;
        return reinterpret_cast<const uint8_t*>(bytes_.data()) + begin;
    }

  private:
    static constexpr size_t PADDING = 16;

    void extend() {
        bytes_.resize(ends_.back());
        for (auto id = static_cast<uint32_t>(ends_.size()); id <= symbol::count(); id++) {
            size_t n = 0;
            const char* name = symbol::name_utf8(id, &n);
            bytes_.append(name, n);
            ends_.push_back(static_cast<uint32_t>(bytes_.size()));
        }
        bytes_.append(PADDING, '\0');
    }

    std::string bytes_;
    std::vector<uint32_t> ends_{0};
};

Names names;

// Whether the needle occurs in a symbol's name; the answers of one call are
// kept by symbol (specs name the same words again and again).
class NameSearch {
  public:
    explicit NameSearch(const Needle& needle) : needle_(needle) {}

    bool in(uint32_t symbol) {
        if (symbol >= known_.size()) known_.resize(symbol + 1024, UNKNOWN);
        uint8_t& k = known_[symbol];
        if (k == UNKNOWN) {
            size_t n = 0;
            const uint8_t* name = names.get(symbol, &n);
            k = needle_.in_utf8(name, n) ? FOUND : ABSENT;
        }
        return k == FOUND;
    }

    const Needle& needle() const { return needle_; }

  private:
    static constexpr uint8_t UNKNOWN = 0, ABSENT = 1, FOUND = 2;
    const Needle& needle_;
    std::vector<uint8_t> known_;
};

// What reading a spec in place tells: no match, a match, no match but some
// of its own strings must be molded to tell (escaped characters), or no
// match but the whole spec must be molded to tell.
enum class Seen { NO, STRINGS, UNSURE, YES };

Seen worse(Seen a, Seen b) { return a > b ? a : b; }

// Whether string mold writes the string as it is between its delimiters.
bool molds_as_is(const Cell* str) {
    memory::SeriesBuffer* s = string::buffer_of(str);
    uint32_t unit = s->unit();
    uint32_t length = s->used_bytes() / unit;
    for (uint32_t i = std::min(str->data1, length); i < length; i++)
        if (!molds_as_is(string::get_char(s->head_ptr() + i * unit, unit))) return false;
    return true;
}

constexpr int32_t MAX_DEPTH = 8;

// Whether a plain needle occurs in the mold of the block's values, read in
// place: in a name, in a string's contents or in a nested block. Any other
// value, a nested block met again or nested too deep leaves it UNSURE
// unless a match turns up elsewhere; so does a string mold changes that holds
// no match, or STRINGS when it lies at the top. Never allocates.
Seen in_block_mold(NameSearch& search, const Cell* blk, node_t* path, int32_t depth) {
    Seen seen = Seen::NO;
    memory::SeriesBuffer* b = series::buffer_of(blk);
    const Cell* end = b->cells_tail();
    const Cell* c = b->cells() + std::min<uint32_t>(blk->data1, block::abs_length(blk));
    path[depth] = blk->data2;
    for (; c < end; c++) {
        switch (type_of(c)) {
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
            if (search.in(c->data2)) return Seen::YES;
            break;
        case TYPE_STRING: {
            memory::SeriesBuffer* s = string::buffer_of(c);
            uint32_t unit = s->unit();
            uint32_t length = s->used_bytes() >> (unit >> 1);
            uint32_t from = std::min(c->data1, length);
            bool as_is = true;
            if (search.needle().in_units(s->head_ptr() + from * unit, unit, length - from, &as_is))
                return Seen::YES;
            if (!as_is) seen = worse(seen, depth == 0 ? Seen::STRINGS : Seen::UNSURE);
            break;
        }
        case TYPE_BLOCK: {
            bool again = false;
            for (int32_t d = 0; d <= depth; d++) again = again || path[d] == c->data2;
            if (again || depth + 1 >= MAX_DEPTH) {
                seen = Seen::UNSURE;
                break;
            }
            Seen inner = in_block_mold(search, c, path, depth + 1);
            if (inner == Seen::YES) return inner;
            seen = worse(seen, inner);
            break;
        }
        default:
            seen = Seen::UNSURE;
        }
    }
    return seen;
}

// find mold value text: the mold written into the buffer, searched as find
// searches. May collect.
bool in_mold(Cell* value, const Needle& needle, Cell* buffer) {
    string::ms_truncate(buffer, 0);
    actions::mold(value, buffer, false, false, false, nullptr, INT_MAX, 0);
    const memory::SeriesBuffer* b = string::buffer_of(buffer);
    bool as_is = true;
    return needle.in_units(arena::at<uint8_t>(b->head), b->unit(), b->used_bytes() / b->unit(),
                           &as_is);
}

// Whether the text occurs in the mold of the function's spec, read in
// place; UNSURE when the spec must be molded to tell (the cycle stack in
// use means a walk is under way whose placeholders the mold would show).
// Never allocates.
Seen in_spec(NameSearch& search, const Cell* fn) {
    if (!search.needle().plain() || cycles::depth() != 0) return Seen::UNSURE;
    Cell spec{};
    make_series(&spec, TYPE_BLOCK, fn->data2);
    node_t path[MAX_DEPTH];
    return in_block_mold(search, &spec, path, 0);
}

// The global system/words object, or null.
Cell* system_words() {
    static const uint32_t words_symbol = symbol::make("words");
    Cell* system = context::symbol_value(context::global, words::system);
    if (!system || type_of(system) != TYPE_OBJECT) return nullptr;
    Cell* words = context::symbol_value(system->data1, words_symbol);
    return words && type_of(words) == TYPE_OBJECT ? words : nullptr;
}

// The words the Mox body gathers and keeps, in the order of words-of: those
// of system/words holding a value (with /with, else a function), with /with
// only those whose name, or with /spec the mold of whose function spec,
// contains the text. May collect.
void gather(Cell* words_object, Cell* out) {
    Cell* args = stack::arguments;
    bool with = logic::truthy(&args[SLOT_WITH]);
    bool spec = logic::truthy(&args[SLOT_SPEC]);
    block::make_at(out, 16);
    Cell* buffer = make_none(stack::push_cell()); // made when a mold needs it
    Needle needle = with ? Needle(&args[SLOT_TEXT]) : Needle();
    if (with && needle.empty()) return;
    NameSearch search(needle);
    int32_t count = context::word_count(words_object->data1);
    int32_t i = 0;
    while (i < count) {
        // The raw pointers hold until a word is kept or a spec is molded.
        node_t ctx = words_object->data1;
        const Cell* words = context::get_word(ctx, 0);
        const Cell* values = context::value_ptr(ctx, 0);
        bool keep = false;
        Seen seen = Seen::NO;
        for (; i < count && !keep && seen == Seen::NO; i++) {
            uint32_t t = type_of(&values[i]);
            keep = with ? t != TYPE_UNSET : any_function_q(t);
            if (!keep || !with || search.in(words[i].data2)) continue;
            keep = false;
            if (!spec || !any_function_q(t)) continue;
            seen = in_spec(search, &values[i]);
            keep = seen == Seen::YES;
        }
        if (seen == Seen::UNSURE || seen == Seen::STRINGS) {
            Cell* spec_block = stack::push_cell();
            make_series(spec_block, TYPE_BLOCK,
                        context::value_ptr(words_object->data1, i - 1)->data2);
            if (type_of(buffer) != TYPE_STRING) *buffer = *string::push_new(64);
            if (seen == Seen::UNSURE) keep = in_mold(spec_block, needle, buffer);
            // Only the strings that do not mold as they are remain to be read.
            for (uint32_t k = 0;
                 seen == Seen::STRINGS && !keep && k < block::abs_length(spec_block); k++) {
                Cell* item = stack::push(block::ms_abs_at(spec_block, k));
                if (type_of(item) == TYPE_STRING && !molds_as_is(item))
                    keep = in_mold(item, needle, buffer);
                stack::top = item;
            }
            stack::top = spec_block;
        }
        if (keep) {
            Cell word = *context::get_word(words_object->data1, i - 1);
            word.header = TYPE_WORD;
            block::ms_append(out, &word);
        }
    }
}

// The listing's pieces of help-ctx, on the stack: the output buffer, the
// two separators, the form-value function, then the column sizes.
struct Listing {
    Cell* cells; // output-buffer DENT_1 DEF_SEP form-value
    int32_t col_1;
    int32_t type_col;
    int32_t width;       // where a line is cut: the console's columns (else
                         // NON_CONSOLE_SIZE) less RT_MARGIN
    int32_t value_limit; // VAL_FORM_LIMIT
};

Cell* field_of(const Cell* object, uint32_t symbol) {
    int32_t i = object::find_field(object->data1, symbol);
    return i < 0 ? nullptr : context::value_ptr(object->data1, i);
}

bool boot_function_q(const Cell* value) {
    return value && type_of(value) == TYPE_FUNCTION && (value->header & function::FLAG_BOOT);
}

// Pushes the listing's pieces when help-ctx and the functions a line goes
// through are still the boot's own, so that writing the lines here gives
// what they give; false (nothing pushed) otherwise. May collect.
bool prepare_listing(Listing* out) {
    static const uint32_t help_ctx = symbol::make("help-ctx");
    static const uint32_t pad = symbol::make("pad");
    static const uint32_t ellipsize_at = symbol::make("ellipsize-at");
    static const uint32_t console = symbol::make("console");
    static const uint32_t size = symbol::make("size");
    static const char* const functions[] = {"_print",      "_prin",      "as-col-1",
                                            "as-type-col", "form-value", "doc-string",
                                            "dot-str",     "fmt",        "VAL_FORM_LIMIT"};
    static const char* const strings[] = {"output-buffer", "DENT_1", "DEF_SEP"};
    static const char* const numbers[] = {"HELP_COL_1_SIZE", "HELP_TYPE_COL_SIZE", "RT_MARGIN",
                                          "NON_CONSOLE_SIZE"};
    static uint32_t function_symbols[9], string_symbols[3], number_symbols[4];
    if (!function_symbols[0]) {
        for (int i = 0; i < 9; i++) function_symbols[i] = symbol::make(functions[i]);
        for (int i = 0; i < 3; i++) string_symbols[i] = symbol::make(strings[i]);
        for (int i = 0; i < 4; i++) number_symbols[i] = symbol::make(numbers[i]);
    }
    const Cell* ctx = context::symbol_value(context::global, help_ctx);
    if (!ctx || type_of(ctx) != TYPE_OBJECT) return false;
    if (!boot_function_q(context::symbol_value(context::global, pad)) ||
        !boot_function_q(context::symbol_value(context::global, ellipsize_at)))
        return false;
    for (uint32_t f : function_symbols)
        if (!boot_function_q(field_of(ctx, f))) return false;
    int32_t n[4];
    for (int i = 0; i < 4; i++) {
        const Cell* v = field_of(ctx, number_symbols[i]);
        if (!v || type_of(v) != TYPE_INTEGER) return false;
        n[i] = get_integer(v);
    }
    for (uint32_t f : string_symbols) {
        const Cell* v = field_of(ctx, f);
        if (!v || type_of(v) != TYPE_STRING) return false;
    }
    int32_t columns = 0;
    const Cell* system = context::symbol_value(context::global, words::system);
    const Cell* con =
        system && type_of(system) == TYPE_OBJECT ? field_of(system, console) : nullptr;
    if (con && type_of(con) == TYPE_OBJECT) {
        const Cell* sz = field_of(con, size);
        if (sz && type_of(sz) == TYPE_PAIR) columns = static_cast<int32_t>(sz->data2);
    }
    out->col_1 = n[0];
    out->type_col = n[1];
    out->width = (columns > 0 ? columns : n[3]) - n[2];
    out->value_limit = columns > 0 ? std::max(0, columns - n[0] - n[2]) : n[3];
    out->cells = stack::push(field_of(ctx, string_symbols[0]));
    for (int i = 1; i < 3; i++) stack::push(field_of(ctx, string_symbols[i]));
    stack::push(field_of(ctx, function_symbols[4]));
    return true;
}

// Appends n blanks less the characters already written. May collect.
void pad_to(Cell* buffer, int32_t written, int32_t n) {
    for (int32_t i = written; i < n; i++) string::append_char(buffer, ' ');
}

// One line of the listing, as _print/fit writes the block the Mox body
// gives it: the indent, the name and the type padded to their columns, the
// separator and form-value's text, joined by single blanks and cut to the
// width. May collect.
void list_word(const Listing& l, Cell* word) {
    Cell* buffer = &l.cells[0];
    Cell* mark = stack::top;
    Cell* value = stack::push(word::get_value(word));
    string::concatenate(buffer, &l.cells[1]);
    string::append_char(buffer, ' ');
    size_t n = 0;
    const uint8_t* name = names.get(word->data2, &n);
    std::string copy(reinterpret_cast<const char*>(name), n);
    string::append_utf8(buffer, copy.data(), n);
    pad_to(buffer, static_cast<int32_t>(unicode::count_utf8_chars(name, name + n)), l.col_1);
    string::append_char(buffer, ' ');
    const char* type = datatype::name_table[type_of(value)].name;
    string::concatenate_literal(buffer, type);
    pad_to(buffer, static_cast<int32_t>(std::strlen(type)), l.type_col);
    string::append_char(buffer, ' ');
    string::concatenate(buffer, &l.cells[2]);
    string::append_char(buffer, ' ');
    // form-value of a function whose spec starts with its doc string: the
    // doc string ended by a dot.
    const Cell* doc = nullptr;
    if (any_function_q(type_of(value))) {
        memory::SeriesBuffer* spec = memory::buffer_of(value->data2);
        if (spec->cells() < spec->cells_tail() && type_of(spec->cells()) == TYPE_STRING)
            doc = stack::push(spec->cells());
    }
    if (doc) {
        int32_t length = string::ms_length_q(const_cast<Cell*>(doc));
        bool dot = length > 0 && string::abs_char_at(doc, doc->data1 + length - 1) == '.';
        string::concatenate(buffer, doc);
        if (!dot) string::append_char(buffer, '.');
    } else if (any_function_q(type_of(value))) {
        // Else its spec: mold/flat/part spec-of value VAL_FORM_LIMIT + 1.
        Cell* spec = stack::push_cell();
        make_series(spec, TYPE_BLOCK, value->data2);
        Cell* limit = make_integer(stack::push_cell(), l.value_limit + 1);
        const uint32_t start = static_cast<uint32_t>(string::total_length(buffer));
        actions::mold(spec, buffer, false, false, true, limit, l.value_limit + 1, 0);
        string::ms_truncate(buffer, start + static_cast<uint32_t>(l.value_limit + 1));
    } else {
        Cell* formed = stack::push_cell();
        interpreter::call_value(&l.cells[3], value, 1, formed);
        if (type_of(formed) == TYPE_STRING)
            string::concatenate(buffer, formed);
        else
            actions::form(formed, buffer, nullptr, INT_MAX);
    }
    int32_t total = string::ms_length_q(buffer);
    int32_t start = total;
    while (start > 0 && string::abs_char_at(buffer, buffer->data1 + start - 1) != '\n') start--;
    if (l.width < total - start) {
        string::ms_truncate(buffer, buffer->data1 +
                                        static_cast<uint32_t>(start + std::max(0, l.width - 3)));
        string::concatenate_literal(buffer, "...");
    }
    string::append_char(buffer, '\n');
    stack::top = mark;
}

// sort words, when sort is the library's action: the words ordered by name
// as it compares them (upper-cased code points, then length). Two names it
// finds equal would leave their order to its algorithm: false then, with
// the block unchanged.
bool sort_words(Cell* words) {
    static const uint32_t sort_symbol = symbol::make("sort");
    const Cell* sort = context::symbol_value(context::global, sort_symbol);
    if (!sort || type_of(sort) != TYPE_ACTION || sort->data1 != A_SORT) return false;
    const uint32_t from = words->data1;
    const uint32_t count = block::abs_length(words) > from ? block::abs_length(words) - from : 0;
    std::vector<std::vector<uint32_t>> keys(count);
    for (uint32_t i = 0; i < count; i++) {
        const Cell* w = block::ms_abs_at(words, from + i);
        if (type_of(w) != TYPE_WORD) return false;
        size_t n = 0;
        const uint8_t* p = names.get(w->data2, &n);
        const uint8_t* end = p + n;
        while (p < end) {
            int32_t cp;
            p = unicode::fast_decode_utf8_char(p, &cp);
            keys[i].push_back(unicode::to_upper(static_cast<uint32_t>(cp)));
        }
    }
    std::vector<uint32_t> order(count);
    for (uint32_t i = 0; i < count; i++) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
    for (uint32_t i = 1; i < count; i++)
        if (keys[order[i - 1]] == keys[order[i]]) return false;
    std::vector<Cell> cells(count);
    for (uint32_t i = 0; i < count; i++) cells[i] = *block::ms_abs_at(words, from + order[i]);
    for (uint32_t i = 0; i < count; i++) *block::ms_abs_at(words, from + i) = cells[i];
    return true;
}

// Whether the body lists its words with foreach word sort words [...].
bool listing_layout_q(const Cell* body, int32_t list_at) {
    static const uint32_t sort_symbol = symbol::make("sort");
    static const uint32_t words_symbol = symbol::make("words");
    if (list_at + 5 > interpreter::tail_of(body)) return false;
    const Cell* c = block::ms_abs_at(body, static_cast<uint32_t>(list_at));
    return type_of(&c[1]) == TYPE_WORD && type_of(&c[2]) == TYPE_WORD &&
           symbol::resolve(c[2].data2) == symbol::resolve(sort_symbol) &&
           type_of(&c[3]) == TYPE_WORD &&
           symbol::resolve(c[3].data2) == symbol::resolve(words_symbol) &&
           type_of(&c[4]) == TYPE_BLOCK;
}

// May collect.
void what_body() {
    Cell* args = stack::arguments;
    static const uint32_t words_symbol = symbol::make("words");
    static const uint32_t foreach_symbol = symbol::make("foreach");
    Cell* body = stack::push(&function::extra_of(running_function())[function::EXTRA_BODY]);
    int32_t gather_at = find_top(body, TYPE_SET_WORD, words_symbol);
    int32_t list_at = find_top(body, TYPE_WORD, foreach_symbol);
    if (gather_at < 0 || list_at < gather_at) return interpreter::eval_body(body);
    int32_t pos = static_cast<int32_t>(body->data1);
    while (pos < gather_at) {
        Cell* mark = stack::top;
        pos = interpreter::eval_single(body, pos, interpreter::tail_of(body), true);
        if (stack::pending) return;
        stack::top = mark;
    }
    Cell* words_object = system_words();
    if (!words_object ||
        (logic::truthy(&args[SLOT_WITH]) && type_of(&args[SLOT_TEXT]) != TYPE_STRING)) {
        body->data1 = static_cast<uint32_t>(gather_at);
        return interpreter::eval_body(body);
    }
    Cell* kept = stack::push_cell();
    gather(stack::push(words_object), kept);
    args[SLOT_WORDS] = *kept;
    body->data1 = static_cast<uint32_t>(list_at);
    Listing listing{};
    if (!listing_layout_q(body, list_at) || !prepare_listing(&listing))
        return interpreter::eval_body(body);
    // foreach word sort words [...]: the sort as written, the lines here,
    // then the rest of the body.
    Cell* sorted = stack::push(&args[SLOT_WORDS]);
    if (!sort_words(sorted)) {
        stack::top = sorted;
        interpreter::eval_single(body, list_at + 2, list_at + 4, true);
        if (stack::pending) return;
    }
    for (uint32_t i = sorted->data1; i < block::abs_length(sorted); i++)
        list_word(listing, stack::push(block::ms_abs_at(sorted, i)));
    body->data1 = static_cast<uint32_t>(list_at + 5);
    interpreter::eval_body(body);
}

} // namespace

void register_bodies() { routines::bind_native_body("what", &what_body); }

} // namespace mox::help_what_body
