// Native bodies of the tracer that trace prints through: the collector
// (system/tools/tracers/data/collector), run for every event of a traced
// evaluation, the inspector that prints its lines
// (system/tools/tracers/inspector/inspect) and the tracers' bounded mold
// (system/tools/tracers/mold-part). They keep the bookkeeping of the Mox
// bodies they stand for, cell for cell: guided-trace and the other tracer
// functions read the same data object, and the levels pushed on data/stack
// have the same nine values. Each reaches its objects through the words of
// its own Mox body, as that body does. The cases these bodies do not take
// (a data object whose fields hold values of other types, the collector's
// /debug dump, the inspector's sub-expressions of trace/all) run the Mox
// body, evaluated in the same frame, so the two cannot disagree. The
// interpreter hands each event to the collector without a call (see
// collect_event), and the collector calls the inspector the same way when
// it is the library's. Molds and forms go through one scratch string (the
// common values of a trace are spelled directly), so that an event
// allocates only the texts the data keeps; the inspector builds its lines
// as characters, writes them straight out when they go to print, and skips
// the call for events the library's inspector ignores.
#include "library/trace-body.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/actions.h"
#include "core/arena.h"
#include "core/cell.h"
#include "core/collector.h"
#include "core/console.h"
#include "core/context.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/dyn-print.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives-eval.h"
#include "evaluator/routines.h"
#include "evaluator/trace.h"

namespace mox::trace_body {

namespace {

using routines::run_mox_body;

bool truthy(const Cell* c) {
    const uint32_t t = type_of(c);
    return t != TYPE_NONE && !(t == TYPE_LOGIC && c->data1 == 0);
}

bool is_any_function(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION ||
           t == TYPE_ROUTINE;
}

// An object field's value cell. The field's index is kept per context and
// name (an object's fields keep their places). Nodes are freed, reused and
// moved only by collections: within one the index stands as found, after one
// it is checked against the word found there. May not collect.
struct FieldSlot {
    node_t ctx;
    uint32_t symbol;
    uint32_t spelled; // the symbol of the word found there
    int32_t index;
    int32_t cycles; // the collection count when found or checked
};
FieldSlot field_slots[256];

Cell* field_value(node_t ctx, uint32_t symbol) {
    FieldSlot& s = field_slots[((ctx * 0x9E3779B1u) ^ (symbol * 0x85EBCA77u)) >> 24];
    if (s.ctx == ctx && s.symbol == symbol) {
        if (s.cycles == collector::stats.cycles) return context::value_ptr(ctx, s.index);
        if (s.index < context::word_count(ctx) &&
            context::get_word(ctx, s.index)->data2 == s.spelled) {
            s.cycles = collector::stats.cycles;
            return context::value_ptr(ctx, s.index);
        }
    }
    const int32_t index = object::find_field(ctx, symbol);
    if (index < 0) return nullptr;
    s = FieldSlot{ctx, symbol, context::get_word(ctx, index)->data2, index,
                  collector::stats.cycles};
    return context::value_ptr(ctx, index);
}

// The value a path of field names reaches from the system object, or null.
Cell* system_field(const uint32_t* symbols, int32_t count) {
    if (!context::global || !words::system) return nullptr;
    Cell* v = field_value(context::global, words::system);
    for (int32_t i = 0; i < count; i++) {
        if (!v || type_of(v) != TYPE_OBJECT) return nullptr;
        v = field_value(v->data1, symbols[i]);
    }
    return v;
}

// ---------------------------------------------------------------------------
// mold-part
// ---------------------------------------------------------------------------

// Counts the calls made that may run Mox code (an interpreter call, an
// action on a value of any type): such code may add fields to an object,
// moving its values.
uint32_t calls_out = 0;

// The string every bounded mold and form is first written into, so that an
// event allocates only the texts it keeps. A collector root.
Cell scratch = {TYPE_NONE, 0, 0, 0};

// Marks scratch and the words the bodies keep (see BodyWords).
void mark_roots();

void register_roots() {
    static bool registered = false;
    if (!registered) collector::register_callback(&mark_roots);
    registered = true;
}

// The scratch string, emptied. May collect.
Cell* empty_scratch() {
    if (type_of(&scratch) != TYPE_STRING) {
        register_roots();
        Cell* made = string::push_new(128);
        scratch = *made;
        stack::top = made;
    }
    scratch.data1 = 0;
    string::ms_truncate(&scratch, 0);
    return &scratch;
}

// The characters of the scratch string, appended to text.
void append_scratch(std::vector<uint32_t>& text) {
    const memory::SeriesBuffer* b = string::buffer_of(&scratch);
    const uint32_t unit = b->unit();
    for (const uint8_t* p = arena::at<uint8_t>(b->head); p < arena::at<uint8_t>(b->tail); p += unit)
        text.push_back(string::get_char(p, unit));
}

// Words' names as code points by symbol, made as met: a symbol's name
// never changes and its number is never given to another.
std::vector<std::vector<uint32_t>> names;

// A word's name as code points, appended to text.
void append_name(uint32_t symbol, std::vector<uint32_t>& text) {
    if (symbol < names.size() && !names[symbol].empty()) {
        text.insert(text.end(), names[symbol].begin(), names[symbol].end());
        return;
    }
    const size_t start = text.size();
    size_t n = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(symbol::name_utf8(symbol, &n));
    const uint8_t* end = p + n;
    while (p < end) {
        if (*p < 0x80) {
            text.push_back(*p++);
            continue;
        }
        int32_t cp;
        p = unicode::fast_decode_utf8_char(p, &cp);
        text.push_back(static_cast<uint32_t>(cp));
    }
    if (symbol >= names.size()) names.resize(symbol + 1);
    names[symbol].assign(text.begin() + static_cast<std::ptrdiff_t>(start), text.end());
}

void append_ascii(const char* chars, std::vector<uint32_t>& text) {
    for (; *chars; chars++) text.push_back(static_cast<unsigned char>(*chars));
}

void append_integer(int32_t n, std::vector<uint32_t>& text) {
    char digits[12];
    int32_t at = 12;
    uint32_t magnitude = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
    do {
        digits[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (n < 0) text.push_back('-');
    for (; at < 12; at++) text.push_back(static_cast<unsigned char>(digits[at]));
}

// How deep mold_simple writes lists in lists. It keeps the lists being
// written, outermost first: a list met again inside itself, like a deeper
// one, is left to the mold action, which marks the cycle.
constexpr int32_t MOLD_DEPTH = 8;

// mold/flat of the common values of a trace (words, integers, logic values,
// none, and blocks and parens of them, paths of words and integers), written
// without the mold action; the writing stops once text holds more than room
// characters, the mold action's /part giving the same first characters.
// False for any other value (text then holds a part of the mold).
bool mold_simple(const Cell* value, size_t room, std::vector<uint32_t>& text, node_t* lists,
                 int32_t depth) {
    const uint32_t type = type_of(value);
    switch (type) {
    case TYPE_WORD:
        append_name(value->data2, text);
        return true;
    case TYPE_SET_WORD:
        append_name(value->data2, text);
        text.push_back(':');
        return true;
    case TYPE_GET_WORD:
        text.push_back(':');
        append_name(value->data2, text);
        return true;
    case TYPE_LIT_WORD:
        text.push_back('\'');
        append_name(value->data2, text);
        return true;
    case TYPE_INTEGER:
        append_integer(get_integer(value), text);
        return true;
    case TYPE_LOGIC:
        append_ascii(value->data1 ? "true" : "false", text);
        return true;
    case TYPE_NONE:
        append_ascii("none", text);
        return true;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
        break;
    default:
        return false;
    }
    if (depth >= MOLD_DEPTH) return false;
    for (int32_t k = 0; k < depth; k++)
        if (lists[k] == value->data2) return false;
    lists[depth] = value->data2;
    const bool path = type == TYPE_PATH;
    if (!path) text.push_back(type == TYPE_BLOCK ? '[' : '(');
    const uint32_t length = block::abs_length(value);
    for (uint32_t i = value->data1; i < length && text.size() <= room; i++) {
        const Cell* item = memory::buffer_of(value->data2)->cells() + i;
        if (path && type_of(item) != TYPE_WORD && type_of(item) != TYPE_INTEGER) return false;
        if (i > value->data1) text.push_back(path ? '/' : ' ');
        if (!mold_simple(item, room, text, lists, depth + 1)) return false;
    }
    if (!path) text.push_back(type == TYPE_BLOCK ? ']' : ')');
    return true;
}

// mold/flat/part of the common values of a trace (see mold_simple), cut to
// n characters, into text. False for any other value, and for a block
// molded /only.
bool mold_direct(const Cell* value, int32_t n, bool only, std::vector<uint32_t>& text) {
    if (cycles::depth() != 0 || (only && is_any_block(type_of(value)))) return false;
    node_t lists[MOLD_DEPTH];
    const auto room = static_cast<size_t>(n);
    if (!mold_simple(value, room, text, lists, 0)) return false;
    if (text.size() > room) text.resize(room);
    return true;
}

// mold/flat/part of the value, cut to n characters (at least 1), into text.
// May collect.
void mold_flat(const Cell* value, int32_t n, bool only, std::vector<uint32_t>& text) {
    text.clear();
    if (mold_direct(value, n, only, text)) return;
    text.clear();
    Cell* v = stack::push(value);
    Cell* limit = make_integer(stack::push_cell(), n);
    Cell* buffer = empty_scratch();
    calls_out++;
    actions::mold(v, buffer, only, false, true, limit, n, 0);
    string::ms_truncate(buffer, static_cast<uint32_t>(n));
    stack::top = v;
    append_scratch(text);
}

// The mold of the value in at most part characters, into text; a cut one
// ends in "..." and, when an opening bracket or quote shows before the cut,
// its closing one. May collect.
void mold_part(const Cell* value, int32_t part, bool only, std::vector<uint32_t>& text) {
    if (part < 4) {
        text.clear();
        if (part > 0) mold_flat(value, part, false, text);
        return;
    }
    mold_flat(value, part + 1, only, text);
    const auto length = static_cast<int32_t>(text.size());
    if (part >= length) return;
    static const char markers[] = "()[]{}<>\"\"";
    uint32_t closing = 0;
    for (int32_t i = 0; i < length - 5 && !closing; i++) {
        const uint32_t cp = text[static_cast<size_t>(i)];
        for (int32_t k = 0; k < 10; k += 2)
            if (cp == static_cast<unsigned char>(markers[k])) {
                closing = static_cast<unsigned char>(markers[k + 1]);
                break;
            }
    }
    text.resize(static_cast<size_t>(length - (closing ? 5 : 4)));
    text.insert(text.end(), {'.', '.', '.'});
    if (closing) text.push_back(closing);
}

// Pushes a new string of the characters. May collect.
Cell* push_text(const std::vector<uint32_t>& text) {
    const auto n = static_cast<uint32_t>(text.size());
    Cell* out = string::push_new(n);
    if (std::all_of(text.begin(), text.end(), [](uint32_t c) { return c < 0x100; })) {
        memory::SeriesBuffer* b = string::buffer_of(out);
        std::copy(text.begin(), text.end(), b->tail_ptr());
        b->tail += n;
    } else {
        string::append_chars(out, text.data(), text.size());
    }
    return out;
}

// Pushes a new string holding the bounded mold (see mold_part). May
// collect.
Cell* push_mold_part(const Cell* value, int32_t part, bool only) {
    static std::vector<uint32_t> text;
    mold_part(value, part, only, text);
    return push_text(text);
}

// Slots: value part /only /local text cut. May collect.
void mold_part_body() {
    Cell* a = stack::arguments;
    *a = *push_mold_part(&a[0], get_integer(&a[1]), truthy(&a[2]));
}

// ---------------------------------------------------------------------------
// The collector
// ---------------------------------------------------------------------------

enum Field {
    F_DEBUG,
    F_INSPECT,
    F_EVENT_FILTER,
    F_SCOPE_FILTER,
    F_SUB_EXPRS,
    F_FUNC_DEPTH,
    F_EXPR_DEPTH,
    F_PATH,
    F_FETCHED,
    F_FETCHED_,
    F_PUSHED,
    F_PUSHED_,
    F_SUBEXPRS,
    F_STACK,
    F_PERIOD,
    F_COUNT
};
const char* const field_names[F_COUNT] = {
    "debug?",     "inspect",    "event-filter", "scope-filter", "inspect-sub-exprs?",
    "func-depth", "expr-depth", "path",         "fetched",      "fetched'",
    "pushed",     "pushed'",    "subexprs",     "stack",        "stack-period"};
// The words a level saves, in order (data/saved).
constexpr Field saved_fields[] = {F_FUNC_DEPTH, F_EXPR_DEPTH, F_FETCHED, F_FETCHED_,
                                  F_PUSHED,     F_PUSHED_,    F_SUBEXPRS};
constexpr int32_t SAVED_COUNT = sizeof saved_fields / sizeof *saved_fields;

enum Event {
    E_INIT,
    E_END,
    E_PROLOG,
    E_EPILOG,
    E_ENTER,
    E_EXIT,
    E_OPEN,
    E_RETURN,
    E_FETCH,
    E_PUSH,
    E_SET,
    E_CALL,
    E_ERROR,
    E_THROW,
    E_CATCH,
    E_EXPR,
    E_COUNT,
    E_OTHER = E_COUNT
};
const char* const event_names[E_COUNT] = {"init",  "end",    "prolog", "epilog", "enter", "exit",
                                          "open",  "return", "fetch",  "push",   "set",   "call",
                                          "error", "throw",  "catch",  "expr"};

struct Symbols {
    bool ready = false;
    uint32_t fields[F_COUNT];
    uint32_t events[E_COUNT];
    uint32_t system_tools, tracers, data, list;
    uint32_t console, size;
    uint32_t free, print;
    uint32_t collector_names[3]; // in the order of CW_...
    uint32_t inspector_names[3]; // in the order of IW_...
};
Symbols sym;

// May collect (interning).
void intern() {
    if (sym.ready) return;
    for (int32_t i = 0; i < F_COUNT; i++)
        sym.fields[i] = symbol::resolve(symbol::make(field_names[i]));
    for (int32_t i = 0; i < E_COUNT; i++)
        sym.events[i] = symbol::resolve(symbol::make(event_names[i]));
    sym.system_tools = symbol::make("tools");
    sym.tracers = symbol::make("tracers");
    sym.list = symbol::make("list");
    sym.data = symbol::make("data");
    sym.console = symbol::make("console");
    sym.size = symbol::make("size");
    sym.free = symbol::make("free");
    sym.print = symbol::make("print");
    const char* const collector_names[] = {"resumed?", "fetched", "mold-size"};
    for (int32_t i = 0; i < 3; i++)
        sym.collector_names[i] = symbol::resolve(symbol::make(collector_names[i]));
    const char* const inspector_names[] = {"fixed-width", "last-path", "emit"};
    for (int32_t i = 0; i < 3; i++)
        sym.inspector_names[i] = symbol::resolve(symbol::make(inspector_names[i]));
    sym.ready = true;
}

// The events of the spellings met, by symbol (a small table: a symbol's
// slot keeps the last met there), to spare resolving them.
struct MetEvent {
    uint32_t symbol;
    Event event;
};
MetEvent met_events[64];

Event event_of(const Cell* word) {
    if (type_of(word) != TYPE_WORD) return E_OTHER;
    MetEvent& met = met_events[word->data2 & 63];
    if (met.symbol == word->data2 && word->data2) return met.event;
    const uint32_t s = symbol::resolve(word->data2);
    for (int32_t i = 0; i < E_COUNT; i++)
        if (sym.events[i] == s) {
            met = MetEvent{word->data2, static_cast<Event>(i)};
            return static_cast<Event>(i);
        }
    return E_OTHER;
}

bool event_in(Event e, std::initializer_list<Event> set) {
    for (Event x : set)
        if (x == e) return true;
    return false;
}

// The data object's field cells. Its values lie in a series buffer, which
// moves when a collection compacts the heap or when Mox code adds fields:
// they are found again after either, through a cell the collector updates
// (an object value or a word bound to the object, on the stack or rooted),
// since a collection may move the object's node too.
struct Data {
    const Cell* holder;
    int32_t index[F_COUNT];
    mutable Cell* values = nullptr;
    mutable int32_t cycles = -1;
    mutable uint32_t calls = 0;
    Cell* operator[](Field f) const {
        if (cycles != collector::stats.cycles || calls != calls_out) {
            values = context::value_ptr(holder->data1, 0);
            cycles = collector::stats.cycles;
            calls = calls_out;
        }
        return values + index[f];
    }
};

// The fields' indexes, found by name once per object and collection (see
// field_value).
struct DataIndexes {
    node_t ctx = 0;
    int32_t cycles = -1;
    int32_t index[F_COUNT];
};
DataIndexes data_indexes;

bool is_block(const Cell* c) { return type_of(c) == TYPE_BLOCK; }
bool is_int(const Cell* c) { return type_of(c) == TYPE_INTEGER; }

// Whether the object holder->data1 (holder a cell the collector updates,
// see Data) has every field the collector needs, of the type it needs; d
// then reaches them.
bool find_data(const Cell* holder, Data& d) {
    const node_t ctx = holder->data1;
    DataIndexes& x = data_indexes;
    if (x.ctx != ctx || x.cycles != collector::stats.cycles) {
        x.ctx = 0;
        for (int32_t i = 0; i < F_COUNT; i++) {
            x.index[i] = object::find_field(ctx, sym.fields[i]);
            if (x.index[i] < 0) return false;
        }
        x.ctx = ctx;
        x.cycles = collector::stats.cycles;
    }
    d.holder = holder;
    std::copy(x.index, x.index + F_COUNT, d.index);
    Cell* values = context::value_ptr(ctx, 0);
    d.values = values;
    d.cycles = collector::stats.cycles;
    d.calls = calls_out;
    const auto at = [&](Field f) { return &values[x.index[f]]; };
    for (Field f : {F_PATH, F_FETCHED, F_FETCHED_, F_PUSHED, F_PUSHED_, F_SUBEXPRS, F_STACK})
        if (!is_block(at(f))) return false;
    for (Field f : {F_FUNC_DEPTH, F_EXPR_DEPTH, F_PERIOD})
        if (!is_int(at(f))) return false;
    if (get_integer(at(F_PERIOD)) != 2 + SAVED_COUNT) return false;
    for (Field f : {F_EVENT_FILTER, F_SCOPE_FILTER}) {
        const uint32_t t = type_of(at(f));
        if (t != TYPE_NONE && !is_any_block(t)) return false;
    }
    return true;
}

uint32_t length_of(const Cell* blk) { return block::abs_length(blk); }
Cell* cells_of(const Cell* blk) { return memory::buffer_of(blk->data2)->cells(); }
bool empty_q(const Cell* blk) { return blk->data1 >= length_of(blk); }

// append/only: the value must not lie in a series buffer. May collect.
void push_value(const Cell* blk, const Cell* value) {
    const Cell copy = *value;
    const node_t node = blk->data2;
    *memory::alloc_tail(node) = copy;
}

// The last cell of a series (none when empty from its index); removes it.
Cell pop_value(const Cell* blk) {
    Cell out;
    make_none(&out);
    const uint32_t length = length_of(blk);
    if (blk->data1 < length) {
        out = cells_of(blk)[length - 1];
        Cell cut = *blk;
        block::ms_clear_at(&cut, length - 1);
    }
    return out;
}

void clear_from(const Cell* blk, uint32_t at) {
    if (at < length_of(blk)) {
        Cell cut = *blk;
        block::ms_clear_at(&cut, at);
    }
}

// The cell a word names when it is bound to a context with values, else null.
const Cell* bound_value(const Cell* word) {
    const auto index = static_cast<int32_t>(word->data3);
    if (index == -1 || !word->data1 || !context::record_of(word->data1)->data2) return nullptr;
    return context::value_ptr(word->data1, index);
}

bool names_op(const Cell* c) {
    if (type_of(c) != TYPE_WORD) return false;
    const Cell* v = bound_value(c);
    return v && type_of(v) == TYPE_OP;
}

// The collector's `resumed?`, a word of the library context around it,
// found in its body.
const Cell* find_word(const Cell* blk, uint32_t symbol, int32_t depth) {
    const uint32_t length = length_of(blk);
    for (uint32_t i = 0; i < length; i++) {
        const Cell* c = &cells_of(blk)[i];
        if (is_any_word(type_of(c)) && symbol::resolve(c->data2) == symbol && bound_value(c))
            return c;
        if (depth < 8 && is_any_block(type_of(c))) {
            if (const Cell* w = find_word(c, symbol, depth + 1)) return w;
        }
    }
    return nullptr;
}

// Words of a library function's body bound outside it (to the objects and
// the library context it was made in), found once per function and
// collection (see field_value): the body reaches its data through them, as
// the Mox body does. The words are marked (mark_roots), so that a
// collection moving their contexts' nodes updates them.
template <int32_t N> struct BodyWords {
    node_t function_context = 0;
    node_t body = 0;
    int32_t cycles = -1;
    Cell words[N];

    BodyWords() {
        for (Cell& w : words) make_none(&w);
    }
    // False when a name is missing from the body of the function whose
    // context is fctx.
    bool load(const uint32_t* canonical_names, node_t fctx) {
        const Cell* b = &function::extra_of(context::owner_of(fctx))[function::EXTRA_BODY];
        if (function_context == fctx && body == b->data2 && cycles == collector::stats.cycles)
            return true;
        function_context = 0;
        if (!is_any_block(type_of(b))) return false;
        for (int32_t i = 0; i < N; i++) {
            const Cell* w = find_word(b, canonical_names[i], 0);
            if (!w) return false;
            words[i] = *w;
        }
        register_roots();
        function_context = fctx;
        body = b->data2;
        cycles = collector::stats.cycles;
        return true;
    }
    void mark() { collector::mark_values(words, words + N); }
    // The value cell of word i (its context's values may move: fetch anew
    // after allocating).
    Cell* value(int32_t i) const { return const_cast<Cell*>(bound_value(&words[i])); }
};

// The collector's words: resumed? (library context), fetched (data),
// mold-size (tracers).
enum { CW_RESUMED, CW_FETCHED, CW_MOLD_SIZE, CW_COUNT };
BodyWords<CW_COUNT> collector_words;
// The inspector's: fixed-width and last-path (inspector), emit (tracers).
enum { IW_FIXED_WIDTH, IW_LAST_PATH, IW_EMIT, IW_COUNT };
BodyWords<IW_COUNT> inspector_words;

void mark_roots() {
    collector::mark_values(&scratch, &scratch + 1);
    collector_words.mark();
    inspector_words.mark();
}

// push of a mold-part of value onto the string block of field f. May
// collect.
void push_mold(const Data& d, Field f, const Cell* value, int32_t size) {
    const Cell* text = push_mold_part(value, size, false);
    push_value(d[f], text);
}

// tracers/free/list (a block, or null), found once for a level's blocks:
// the cell stays in place until a collection runs.
struct FreeList {
    const Cell* cell = nullptr;
    int32_t cycles = -1;
    const Cell* get() {
        if (cycles != collector::stats.cycles) {
            cycles = collector::stats.cycles;
            cell = nullptr;
            const Cell* free = field_value(collector_words.words[CW_MOLD_SIZE].data1, sym.free);
            if (free && type_of(free) == TYPE_OBJECT) cell = field_value(free->data1, sym.list);
            if (cell && !is_any_block(type_of(cell))) cell = nullptr;
        }
        return cell;
    }
};

// data/free/get. May collect.
Cell* push_free_block(FreeList& free) {
    const Cell* list = free.get();
    if (list && !empty_q(list)) {
        Cell taken = pop_value(list);
        return stack::push(&taken);
    }
    return block::make_at(stack::push_cell(), 10);
}

// data/free/put. May collect.
void free_block(FreeList& free, const Cell* blk) {
    Cell head = *blk;
    head.data1 = 0;
    if (length_of(&head) >= 100) return;
    block::ms_clear_at(&head, 0);
    if (const Cell* list = free.get()) push_value(list, &head);
}

void save_level(const Data& d, const Cell* frame) {
    push_value(d[F_STACK], frame);
    Cell n;
    const Cell* path = d[F_PATH];
    make_integer(&n, static_cast<int32_t>(length_of(path)) - static_cast<int32_t>(path->data1));
    push_value(d[F_STACK], &n);
    FreeList free;
    for (Field f : saved_fields) {
        const Cell value = *d[f];
        push_value(d[F_STACK], &value);
        if (is_block(&value)) {
            const Cell* fresh = push_free_block(free);
            *d[f] = *fresh;
        } else {
            make_integer(d[f], 0);
        }
    }
}

void unroll_level(const Data& d) {
    FreeList free;
    for (int32_t i = SAVED_COUNT - 1; i >= 0; i--) {
        const Field f = saved_fields[i];
        if (is_block(d[f])) free_block(free, stack::push(d[f]));
        *d[f] = pop_value(d[F_STACK]);
    }
    const Cell n = pop_value(d[F_STACK]);
    const Cell* path = d[F_PATH];
    clear_from(path,
               is_int(&n) && get_integer(&n) > 0 ? static_cast<uint32_t>(get_integer(&n)) : 0);
    pop_value(d[F_STACK]);
}

// The frame cell of the innermost level, or null.
const Cell* level_start(const Data& d) {
    const Cell* stk = d[F_STACK];
    const uint32_t length = length_of(stk);
    if (stk->data1 >= length) return nullptr;
    const uint32_t period = static_cast<uint32_t>(get_integer(d[F_PERIOD]));
    const Cell* start = &cells_of(stk)[length >= period ? length - period : 0];
    return type_of(start) == TYPE_PAIR ? start : nullptr;
}

// The words of the last event filter met, resolved, kept while the
// filter's cells stay the same (see field_value for the collection count).
struct FilterWords {
    static constexpr uint32_t MAX = 16;
    node_t node = 0;
    uint32_t from = 0, length = 0;
    int32_t cycles = -1;
    uint32_t spelled[MAX]; // symbols of the words, UINT32_MAX for other values
    uint32_t resolved[MAX];
};
FilterWords filter_words;

bool filter_has_event(const Cell* filter, uint32_t event_symbol) {
    const uint32_t length = length_of(filter);
    const uint32_t from = filter->data1;
    const Cell* cells = cells_of(filter);
    const auto spelling = [&](uint32_t i) {
        return type_of(&cells[i]) == TYPE_WORD ? cells[i].data2 : UINT32_MAX;
    };
    if (from >= length) return false;
    FilterWords& f = filter_words;
    if (length - from > FilterWords::MAX) {
        for (uint32_t i = from; i < length; i++)
            if (spelling(i) != UINT32_MAX && symbol::resolve(cells[i].data2) == event_symbol)
                return true;
        return false;
    }
    bool same = f.node == filter->data2 && f.from == from && f.length == length &&
                f.cycles == collector::stats.cycles;
    for (uint32_t i = from; same && i < length; i++) same = spelling(i) == f.spelled[i - from];
    if (!same) {
        f = FilterWords{filter->data2, from, length, collector::stats.cycles, {}, {}};
        for (uint32_t i = from; i < length; i++) {
            f.spelled[i - from] = spelling(i);
            f.resolved[i - from] = spelling(i) == UINT32_MAX ? 0 : symbol::resolve(cells[i].data2);
        }
    }
    for (uint32_t i = 0; i < length - from; i++)
        if (f.spelled[i] != UINT32_MAX && f.resolved[i] == event_symbol) return true;
    return false;
}

bool filter_has_head(const Cell* filter, const Cell* code) {
    const uint32_t length = length_of(filter);
    for (uint32_t i = filter->data1; i < length; i++) {
        const Cell* c = &cells_of(filter)[i];
        if (type_of(c) == type_of(code) && c->data2 == code->data2 && c->data1 == 0) return true;
    }
    return false;
}

bool runs_body(const Cell* fn, const char* name, int32_t& id);

// Whether the function runs the inspector's native body.
bool runs_inspect_body(const Cell* fn) {
    static int32_t id = -2;
    return runs_body(fn, "system/tools/tracers/inspector/inspect", id);
}

bool inspect(Cell* a, node_t fctx);

// Hands the event to data/inspect when it passes the filters. May collect.
void inspect_now(const Data& d, Event event, Cell* a) {
    const Cell* filter = d[F_EVENT_FILTER];
    if (type_of(filter) != TYPE_NONE && !filter_has_event(filter, symbol::resolve(a[0].data2)))
        return;
    filter = d[F_SCOPE_FILTER];
    if (type_of(filter) != TYPE_NONE && type_of(&a[1]) != TYPE_NONE &&
        !filter_has_head(filter, &a[1]))
        return;
    const int32_t depth = get_integer(d[F_EXPR_DEPTH]);
    if (!(truthy(d[F_SUB_EXPRS]) || event == E_ERROR || event == E_THROW || depth == 0 ||
          (depth == 1 && (event == E_CALL || event == E_RETURN))))
        return;
    const uint32_t data_path[] = {sym.system_tools, sym.tracers, sym.data};
    const Cell* data_object = system_field(data_path, 3);
    // The library's inspector writes nothing and changes nothing for other
    // events than these unless sub-expressions are asked for: no call.
    if (!truthy(d[F_SUB_EXPRS]) && event != E_EXPR && event != E_ERROR && event != E_THROW &&
        data_object && type_of(data_object) == TYPE_OBJECT && runs_inspect_body(d[F_INSPECT]))
        return;
    Cell* fn = stack::push(d[F_INSPECT]);
    Cell* args = stack::push(data_object ? data_object : &a[1]);
    for (int32_t i = 0; i < 6; i++) stack::push(&a[i]);
    // The library's inspector needs no interpreter call: its arguments are
    // of the types its spec asks for.
    if (type_of(args) == TYPE_OBJECT && runs_inspect_body(fn)) {
        trace::FunctionScope scope(fn->header, (fn->header & function::FLAG_BOOT) != 0);
        if (inspect(args, fn->data1)) return;
    }
    calls_out++;
    interpreter::call_value(fn, args, 7, stack::push_cell());
}

// The collector's work on the slots a (event code offset value ref frame
// /local start) of the function whose context is fctx; false, with nothing
// done, for the cases its Mox body takes. May collect.
bool collect(Cell* a, node_t fctx) {
    intern();
    if (!collector_words.load(sym.collector_names, fctx)) return false;
    // Held on the stack: Mox code the collector calls may load other words.
    const Cell* fetched_word = stack::push(&collector_words.words[CW_FETCHED]);
    Data d;
    const bool found = bound_value(fetched_word) && find_data(fetched_word, d);
    const Cell* size_cell = collector_words.value(CW_MOLD_SIZE);
    const Cell* resumed = collector_words.value(CW_RESUMED);
    if (!found || !size_cell || !is_int(size_cell) || !resumed || truthy(d[F_DEBUG]) ||
        type_of(&a[5]) != TYPE_PAIR)
        return false;
    const int32_t mold_size = get_integer(size_cell);
    const Event event = event_of(&a[0]);
    const int32_t frame_x = static_cast<int32_t>(a[5].data2);
    const bool code_is_path = type_of(&a[1]) == TYPE_PATH;
    Cell* value = &a[3];

    if (event == E_RETURN || event == E_CATCH) {
        for (const Cell* start = level_start(d);
             start && frame_x < static_cast<int32_t>(start->data2); start = level_start(d))
            unroll_level(d);
    }
    if (event == E_EXPR) {
        Cell* flag = collector_words.value(CW_RESUMED);
        if (flag && truthy(flag)) {
            clear_from(d[F_FETCHED], d[F_FETCHED]->data1);
            clear_from(d[F_FETCHED_], d[F_FETCHED_]->data1);
            make_logic(flag, false);
        }
    }
    const bool inspect_first =
        event_in(event, {E_RETURN, E_EPILOG, E_EXIT, E_EXPR, E_ERROR, E_THROW});
    if (inspect_first) inspect_now(d, event, a);
    const bool sub_exprs = truthy(d[F_SUB_EXPRS]);
    switch (event) {
    case E_PROLOG:
        make_integer(d[F_FUNC_DEPTH], get_integer(d[F_FUNC_DEPTH]) + 1);
        break;
    case E_EPILOG:
        make_integer(d[F_FUNC_DEPTH], get_integer(d[F_FUNC_DEPTH]) - 1);
        break;
    case E_FETCH:
    case E_PUSH:
        if (sub_exprs || !code_is_path) {
            const Field raw = event == E_FETCH ? F_FETCHED : F_PUSHED;
            push_value(d[raw], value);
            push_mold(d, raw == F_FETCHED ? F_FETCHED_ : F_PUSHED_, value, mold_size);
        }
        break;
    case E_OPEN: {
        Cell index;
        make_integer(&index, static_cast<int32_t>(d[F_PUSHED]->data1) + 1);
        push_value(d[F_SUBEXPRS], &index);
        // An infix call opens with the op's function: the word fetched
        // before it tells.
        const Cell* fetched = d[F_FETCHED];
        const Cell* last =
            empty_q(fetched) ? nullptr : stack::push(&cells_of(fetched)[length_of(fetched) - 1]);
        const bool infix = type_of(value) == TYPE_OP || names_op(value) || (last && names_op(last));
        for (Field f : {F_PUSHED, F_PUSHED_}) {
            Cell* s = d[f];
            const uint32_t length = length_of(s);
            s->data1 = infix ? (length ? length - 1 : 0) : length;
        }
        push_value(d[F_PUSHED], value);
        // A call shows as the word or path that named it.
        const Cell* shown = value;
        if (last && is_any_function(type_of(value)) &&
            (is_any_word(type_of(last)) || is_any_path(type_of(last))))
            shown = last;
        push_mold(d, F_PUSHED_, shown, mold_size);
        make_integer(d[F_EXPR_DEPTH], get_integer(d[F_EXPR_DEPTH]) + 1);
        break;
    }
    case E_CALL: {
        const Cell* ref = &a[4];
        Cell name;
        if (type_of(ref) == TYPE_PATH) {
            make_none(&name);
            if (ref->data1 < length_of(ref)) name = cells_of(ref)[ref->data1];
        } else if (is_any_word(type_of(ref))) {
            name = *ref;
        } else {
            Cell* tag = string::make_at(stack::push_cell(), 4, 1, TYPE_TAG);
            string::concatenate_literal(tag, "anon");
            name = *tag;
        }
        push_value(d[F_PATH], &name);
        break;
    }
    case E_RETURN: {
        if (!empty_q(d[F_PATH])) pop_value(d[F_PATH]);
        const int32_t depth = get_integer(d[F_EXPR_DEPTH]) - 1;
        make_integer(d[F_EXPR_DEPTH], depth > 0 ? depth : 0);
        int32_t start = 1;
        if (!empty_q(d[F_SUBEXPRS])) {
            const Cell popped = pop_value(d[F_SUBEXPRS]);
            if (!is_int(&popped)) fire(err::invalid_arg, &popped);
            start = get_integer(&popped);
        }
        for (Field f : {F_PUSHED, F_PUSHED_}) {
            Cell* s = d[f];
            clear_from(s, s->data1);
            const int32_t length = static_cast<int32_t>(length_of(s));
            const int32_t at = start - 1 < 0 ? 0 : start - 1 > length ? length : start - 1;
            s->data1 = static_cast<uint32_t>(at);
        }
        push_value(d[F_PUSHED], value);
        push_mold(d, F_PUSHED_, value, mold_size);
        break;
    }
    case E_ENTER:
        if (!code_is_path) save_level(d, &a[5]);
        break;
    case E_EXIT:
        if (!code_is_path) {
            // The level of a block whose entry went unseen (delivery off)
            // is not this one's.
            const Cell* start = level_start(d);
            if (start && static_cast<int32_t>(start->data2) >= frame_x) unroll_level(d);
            if (type_of(&a[1]) == TYPE_PAREN) {
                push_value(d[F_PUSHED], value);
                push_mold(d, F_PUSHED_, value, mold_size);
            }
        }
        break;
    case E_EXPR:
        for (Field f : {F_FETCHED, F_FETCHED_}) clear_from(d[f], d[f]->data1);
        for (Field f : {F_PUSHED, F_PUSHED_}) {
            Cell* s = d[f];
            s->data1 = 0;
            clear_from(s, 0);
        }
        break;
    default:
        break;
    }
    if (!inspect_first) inspect_now(d, event, a);
    make_none(a);
    return true;
}

// Slots: event code offset value ref frame /local start. May collect.
void collector_body() {
    if (!collect(stack::arguments, stack::top_frame()->function_context)) run_mox_body();
}

// Whether the function runs the native body registered under the name.
bool runs_body(const Cell* fn, const char* name, int32_t& id) {
    if (id == -2) id = routines::find(name, std::strlen(name));
    if (id < 0 || type_of(fn) != TYPE_FUNCTION) return false;
    const Cell* code = &function::extra_of(fn)[function::EXTRA_CODE];
    return type_of(code) == TYPE_INTEGER && get_integer(code) == id;
}

// ---------------------------------------------------------------------------
// The inspector
// ---------------------------------------------------------------------------

// The characters of a string from its index, appended to text.
void append_string(const Cell* str, std::vector<uint32_t>& text) {
    const memory::SeriesBuffer* b = string::buffer_of(str);
    const uint32_t unit = b->unit();
    const uint8_t* tail = arena::at<uint8_t>(b->tail);
    const uint8_t* p = arena::at<uint8_t>(b->head) + size_t{str->data1} * unit;
    for (; p < tail; p += unit) text.push_back(string::get_char(p, unit));
}

// The form of a string, or of a block of strings (the texts the collector
// keeps: their characters with a space between), appended to text. False
// for any other value, text unchanged.
bool append_string_form(const Cell* value, std::vector<uint32_t>& text) {
    if (type_of(value) == TYPE_STRING) {
        append_string(value, text);
        return true;
    }
    if (type_of(value) != TYPE_BLOCK) return false;
    const uint32_t length = length_of(value);
    const Cell* items = cells_of(value);
    for (uint32_t i = value->data1; i < length; i++)
        if (type_of(&items[i]) != TYPE_STRING) return false;
    for (uint32_t i = value->data1; i < length; i++) {
        if (i > value->data1) text.push_back(' ');
        append_string(&items[i], text);
    }
    return true;
}

// Whether two blocks of the same type differ as <> tells, when their
// lengths differ or they hold the same words (1 or 0); -1 when <> has to
// tell.
int32_t paths_differ(const Cell* a, const Cell* b) {
    if (type_of(a) != TYPE_BLOCK || type_of(b) != TYPE_BLOCK) return -1;
    const uint32_t from_a = std::min(a->data1, length_of(a));
    const uint32_t from_b = std::min(b->data1, length_of(b));
    const uint32_t n = length_of(a) - from_a;
    if (n != length_of(b) - from_b) return 1;
    const Cell* x = cells_of(a) + from_a;
    const Cell* y = cells_of(b) + from_b;
    for (uint32_t i = 0; i < n; i++)
        if (type_of(&x[i]) != TYPE_WORD || type_of(&y[i]) != TYPE_WORD || x[i].data2 != y[i].data2)
            return -1;
    return 0;
}

// Whether the string from its index equals the characters as = compares
// strings: upper-cased.
bool same_text(const Cell* str, const std::vector<uint32_t>& text) {
    const memory::SeriesBuffer* b = string::buffer_of(str);
    const uint32_t unit = b->unit();
    const uint8_t* tail = arena::at<uint8_t>(b->tail);
    const uint8_t* p = arena::at<uint8_t>(b->head) + size_t{str->data1} * unit;
    if (p > tail) p = tail;
    if (static_cast<size_t>(tail - p) / unit != text.size()) return false;
    for (size_t i = 0; i < text.size(); i++, p += unit)
        if (unicode::to_upper(string::get_char(p, unit)) != unicode::to_upper(text[i]))
            return false;
    return true;
}

// Whether the value = a string of the characters. May collect.
bool equals_text(Cell* value, const std::vector<uint32_t>& text) {
    if (type_of(value) == TYPE_STRING) return same_text(value, text);
    calls_out++;
    return actions::compare_star(value, push_text(text), COMP_EQUAL);
}

// The form of a value, appended to text. May collect.
void append_form(const Cell* value, std::vector<uint32_t>& text) {
    if (type_of(value) == TYPE_WORD) {
        append_name(value->data2, text);
        return;
    }
    if (append_string_form(value, text)) return;
    Cell* v = stack::push(value);
    calls_out++;
    actions::form(v, empty_scratch(), nullptr, INT32_MAX);
    stack::top = v;
    append_scratch(text);
}

// The bounded mold of a value, appended to text. May collect.
void append_mold_part(const Cell* value, int32_t part, std::vector<uint32_t>& text) {
    static std::vector<uint32_t> molded;
    mold_part(value, part, false, molded);
    text.insert(text.end(), molded.begin(), molded.end());
}

// change at line offset + 1 copy/part text n.
void change_at(std::vector<uint32_t>& line, int32_t offset, const std::vector<uint32_t>& text,
               int32_t n) {
    const size_t count = std::min(text.size(), static_cast<size_t>(n < 0 ? 0 : n));
    const size_t at = std::min(line.size(), static_cast<size_t>(offset < 0 ? 0 : offset));
    if (line.size() < at + count) line.resize(at + count);
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(count),
              line.begin() + static_cast<std::ptrdiff_t>(at));
}

// n copies of a character after a prefix, into line.
void fill(std::vector<uint32_t>& line, const char* prefix, char cp, int32_t n) {
    line.assign(prefix, prefix + std::strlen(prefix));
    if (n > 0) line.insert(line.end(), static_cast<size_t>(n), static_cast<uint8_t>(cp));
}

// A character buffer of the inspector's, reused from call to call: a call
// made while others are in use (from an emit function running Mox code)
// takes others.
class Chars {
  public:
    Chars() {
        if (spare().empty()) {
            v_ = std::make_unique<std::vector<uint32_t>>();
        } else {
            v_ = std::move(spare().back());
            spare().pop_back();
            v_->clear();
        }
    }
    ~Chars() { spare().push_back(std::move(v_)); }
    Chars(const Chars&) = delete;
    Chars& operator=(const Chars&) = delete;
    std::vector<uint32_t>& operator*() { return *v_; }

  private:
    static std::vector<std::unique_ptr<std::vector<uint32_t>>>& spare() {
        static std::vector<std::unique_ptr<std::vector<uint32_t>>> buffers;
        return buffers;
    }
    std::unique_ptr<std::vector<uint32_t>> v_;
};

// The console's column count, or 0 when no console is attached.
int32_t console_columns() {
    const uint32_t path[] = {sym.console, sym.size};
    const Cell* size = system_field(path, 2);
    if (!size || type_of(size) != TYPE_PAIR) return 0;
    const auto x = static_cast<int32_t>(size->data2);
    return x > 0 ? x : 0;
}

// Whether the function is the print native.
bool prints_q(const Cell* fn) {
    const Cell* print = field_value(context::global, sym.print);
    return print && type_of(print) == TYPE_NATIVE && type_of(fn) == TYPE_NATIVE &&
           fn->data1 == print->data1;
}

// Writes a line as print writes a string of its characters: in the
// narrowest unit that holds them.
void print_line(const std::vector<uint32_t>& line) {
    uint32_t bits = 0; // below 0x100 (0x10000) when every character is
    for (uint32_t c : line) bits |= c;
    if (bits < 0x100) {
        static std::vector<uint8_t> bytes;
        bytes.assign(line.begin(), line.end());
        console::write_units(bytes.data(), bytes.size(), 1, true);
    } else if (bits < 0x10000) {
        static std::vector<uint16_t> units;
        units.assign(line.begin(), line.end());
        console::write_units(units.data(), units.size() * 2, 2, true);
    } else {
        console::write_units(line.data(), line.size() * 4, 4, true);
    }
    natives::last_new_line = true;
}

// Whether tracers/emit is the print native with no print hook installed:
// print then keeps nothing of its text (a hook may, as the GUI console's
// keeps its lines), and a line can be written without a string or a call.
bool emit_prints() {
    const Cell* fn = inspector_words.value(IW_EMIT);
    return fn && prints_q(fn) && dyn_print::print_hook_count() == 0;
}

// Hands one line to tracers/emit as a string. May collect.
void emit(const std::vector<uint32_t>& line, Cell* out) {
    Cell* text = push_text(line);
    const Cell* fn = inspector_words.value(IW_EMIT);
    Cell* callee = stack::push(fn ? fn : out);
    calls_out++;
    interpreter::call_value(callee, text, 1, out);
}

// The inspector's work on the slots a (data event code offset value ref
// frame /local word full width left right level expr text line caller
// path-text) of the function whose context is fctx: the lines of
// expressions, errors and throws (with the call path's header line when it
// changed). False, with nothing done, for the cases its Mox body takes
// (sub-expressions asked for: trace/all). May collect.
bool inspect(Cell* a, node_t fctx) {
    intern();
    Data d;
    const bool found = type_of(&a[0]) == TYPE_OBJECT && find_data(&a[0], d);
    const bool loaded = inspector_words.load(sym.inspector_names, fctx);
    const Cell* fixed = loaded ? inspector_words.value(IW_FIXED_WIDTH) : nullptr;
    const Cell* last = loaded ? inspector_words.value(IW_LAST_PATH) : nullptr;
    if (!found || truthy(d[F_SUB_EXPRS]) || !fixed || (truthy(fixed) && !is_int(fixed)) || !last ||
        !is_any_block(type_of(last)) ||
        (!is_any_block(type_of(&a[2])) && type_of(&a[2]) != TYPE_NONE))
        return false;
    const Event event = event_of(&a[1]);
    const uint32_t code_type = type_of(&a[2]);
    bool shown = false;
    if (event == E_EXPR)
        shown =
            get_integer(d[F_EXPR_DEPTH]) == 0 && code_type != TYPE_PAREN && !empty_q(d[F_FETCHED_]);
    else if (event == E_ERROR || event == E_THROW)
        shown = true;
    if (!shown) {
        make_unset(a);
        return true;
    }
    // The saved fetched' of the level around, for the header line.
    const Cell* stk = d[F_STACK];
    const Cell* outer = nullptr;
    if (!empty_q(stk)) {
        const uint32_t length = length_of(stk);
        outer = length >= 4 ? &cells_of(stk)[length - 4] : nullptr;
        if (!outer || !is_any_block(type_of(outer))) return false;
        outer = stack::push(outer);
    }
    const int32_t columns = truthy(fixed) ? 0 : console_columns();
    const int32_t full = truthy(fixed) ? get_integer(fixed) : columns ? columns : 80;
    const int32_t width = full - 7;
    const int32_t left = width / 2 < 60 ? width / 2 : 60;
    const int32_t right = width - left;
    int32_t level =
        static_cast<int32_t>(length_of(stk) - stk->data1) / get_integer(d[F_PERIOD]) - 1;
    level = 2 * (1 + level % 10);

    Chars text_chars, header_chars, line_chars, caller_chars;
    std::vector<uint32_t>& text = *text_chars;
    if (code_type == TYPE_PATH) {
        Cell* parts = stack::push(d[F_FETCHED_]);
        for (uint32_t i = parts->data1; i < length_of(parts); i++) {
            if (i > parts->data1) text.push_back('/');
            append_form(&cells_of(parts)[i], text);
        }
    } else {
        append_form(d[F_FETCHED_], text);
    }
    if (code_type == TYPE_PAREN) {
        text.insert(text.begin(), '[');
        text.push_back(']');
    }
    Cell* path = stack::push(d[F_PATH]);
    const Cell* last_path = inspector_words.value(IW_LAST_PATH);
    if (!last_path) return false;
    Cell* previous = stack::push(last_path);
    Cell* out = stack::push_cell();
    make_unset(out);
    // Written straight out, the header line waits for the value's line, so
    // that the two go out in one write.
    const bool prints = emit_prints();
    std::vector<uint32_t>& header = *header_chars;
    bool held = false;
    int32_t changed = paths_differ(path, previous);
    if (changed < 0) {
        calls_out++;
        changed = actions::compare_star(path, previous, COMP_NOT_EQUAL);
    }
    if (changed) {
        fill(header, "  ", '`', full - 3);
        // The path molded as a path! of the same values.
        const int32_t part = full - 1 - level;
        Cell* as_path = stack::push(path);
        as_path->header = TYPE_PATH;
        std::vector<uint32_t>& caller = *caller_chars;
        append_mold_part(as_path, part, caller);
        for (uint32_t& c : caller)
            c = c >= 0x80 ? unicode::change_case(c, true) : c >= 'a' && c <= 'z' ? c - 32 : c;
        caller.push_back(' ');
        if (outer) {
            // Formed where it lies: nothing changes it before the form.
            Cell* rest = stack::push(outer);
            if (!empty_q(rest) && !empty_q(path)) {
                Cell* first = stack::push(&cells_of(rest)[rest->data1]);
                Chars formed;
                append_form(&cells_of(path)[length_of(path) - 1], *formed);
                if (equals_text(first, *formed)) rest->data1++;
            }
            append_form(rest, caller);
        }
        const int32_t room = full - 1 - level;
        change_at(header, level, caller, room > 0 ? room : 0);
        if (prints) {
            held = true;
        } else {
            emit(header, out);
        }
    }
    try {
        if (changed) {
            Cell* copied = block::clone(stack::push(d[F_PATH]), false, false);
            if (Cell* slot = inspector_words.value(IW_LAST_PATH)) *slot = *copied;
        }
        std::vector<uint32_t>& line = *line_chars;
        fill(line, "", ' ', full - 1);
        change_at(line, level, text, left - level > 0 ? left - level : 0);
        std::vector<uint32_t>& shown_value = text;
        shown_value.assign({' ', '=', '>', ' '});
        append_mold_part(&a[4], right, shown_value);
        change_at(line, left, shown_value, INT32_MAX);
        if (held) {
            held = false;
            header.push_back('\r');
            header.push_back('\n');
            header.insert(header.end(), line.begin(), line.end());
            print_line(header);
        } else if (prints) {
            print_line(line);
        } else {
            emit(line, out);
        }
    } catch (...) {
        if (held) print_line(header);
        throw;
    }
    *a = *out;
    return true;
}

// Slots: data event code offset value ref frame /local word full width left
// right level expr text line caller path-text. May collect.
void inspect_body() {
    if (!inspect(stack::arguments, stack::top_frame()->function_context)) run_mox_body();
}

} // namespace

bool collect_event(const Cell* fn, Cell* args) {
    static int32_t id = -2;
    if (!runs_body(fn, "system/tools/tracers/data/collector", id)) return false;
    trace::FunctionScope scope(fn->header, (fn->header & function::FLAG_BOOT) != 0);
    return collect(args, fn->data1);
}

void register_bodies() {
    trace::collect_event = &collect_event;
    routines::bind_native_body("system/tools/tracers/data/collector", &collector_body);
    routines::bind_native_body("system/tools/tracers/mold-part", &mold_part_body);
    routines::bind_native_body("system/tools/tracers/inspector/inspect", &inspect_body);
}

} // namespace mox::trace_body
