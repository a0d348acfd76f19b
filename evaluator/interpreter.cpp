// The interpreter (see interpreter.h): block and expression evaluation,
// calls with their argument templates, and paths.
//
// Stack discipline. Every expression leaves exactly one new cell where the
// stack's top stood when it began. A call pushes the callee as that cell
// (its result slot) and marks its frame above it, so the frame's arguments
// start right after it; when the callee returns, its result (left in the
// frame's first argument cell) is moved down into the slot. An infix call
// uses the left operand's cell as the frame's first argument, so the
// result lands where the operand was.
//
// Cells a loop here must keep across an allocation live on the evaluation
// stack or in a collector::Root, and are read again through their nodes.
#include "evaluator/interpreter.h"

#include "core/actions-entry.h"
#include "core/actions.h"
#include "core/collector.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/natives.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/word.h"
#include "evaluator/routines.h"
#include "evaluator/trace.h"
#include "platform/platform.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The evaluation loop's small helpers are inlined into it in optimised
// builds. An unoptimised build (the sanitizer build) keeps them as calls:
// inlined there, the locals and redzones of each would stay in the frames
// that every nested evaluation stacks up, and the native stack would hold
// fewer levels than the library's depth limits count on.
#if defined(__OPTIMIZE__)
#define MOX_INLINE [[gnu::always_inline]]
#else
#define MOX_INLINE
#endif

namespace mox::interpreter {

namespace {

// Frame names and words kept in root cells.
Cell* body_word = nullptr;
Cell* anon_word = nullptr;
Cell* set_path_word = nullptr;

// Native recursion stops this far above the end of the C++ stack, leaving
// room to build and report the error.
constexpr uintptr_t kStackReserve = 512 * 1024;
uintptr_t stack_limit = 0;

inline void guard_native_stack() {
    char probe;
    if (reinterpret_cast<uintptr_t>(&probe) < stack_limit) fire(err::stack_overflow);
}

inline Cell* cells_of(const Cell* block) { return memory::buffer_of(block->data2)->cells(); }

// Pushes a copy of a value; near the end of the stack the checked push
// raises the overflow.
constexpr ptrdiff_t kPushSlack = 512;
inline Cell* push_value(const Cell* value) {
    if (stack::cell_limit - stack::top <= kPushSlack) return stack::push(value);
    Cell* c = stack::top++;
    *c = *value;
    return c;
}

// Writes a cell built in registers with one 16-byte store. A cell written
// in pieces and read back soon after as a whole (cells are copied with
// 16-byte loads) stalls the load until the pieces reach the cache; a
// whole-cell store is forwarded to it.
MOX_INLINE inline void store_cell(Cell* dst, Cell value) {
#if defined(__SSE2__)
    uint64_t lo, hi;
    std::memcpy(&lo, &value, sizeof lo);
    std::memcpy(&hi, reinterpret_cast<const char*>(&value) + sizeof lo, sizeof hi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo)));
#else
    *dst = value;
#endif
}

// Pushes a value held in registers, in one store (see store_cell).
[[gnu::noinline]] Cell* push_checked(Cell value) { return stack::push(&value); }
MOX_INLINE inline Cell* push_held(Cell value) {
    if (stack::cell_limit - stack::top <= kPushSlack) return push_checked(value);
    Cell* c = stack::top++;
    store_cell(c, value);
    return c;
}

// The context of the function whose body runs innermost, with its values
// (that call's argument cells), so that its words are read without going
// through the context record. Valid while no collection ran since it was
// set: a collection may give the node to another context.
struct Running {
    node_t context;
    int32_t cycles;
    Cell* values;
};
Running running = {0, -1, nullptr};

// Makes a call's context the running one for a scope, however it ends.
struct RunningScope {
    Running saved;
    RunningScope(node_t context, Cell* values) : saved(running) {
        running = {context, collector::stats.cycles, values};
    }
    ~RunningScope() { running = saved; }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;
};

// The value cells of the running function's context or of the global
// context when the word is bound to one of them, else null. (This and the
// other small readers of the evaluation loop are forced inline: left to
// itself the compiler calls some of them from the hottest paths.)
MOX_INLINE inline Cell* fast_values(node_t ctx) {
    if (ctx == running.context && running.cycles == collector::stats.cycles) return running.values;
    if (ctx == context::global) return context::global_values();
    return nullptr;
}

// Value cell index of a context's values, read from its record: null when
// there is no context or it has no values.
MOX_INLINE inline Cell* stored_value(node_t ctx, int32_t index) {
    if (!ctx) return nullptr;
    const Cell* record = memory::buffer_of(ctx)->cells();
    if (!record->data2) return nullptr;
    if (record->header & FLAG_CONTEXT_ON_STACK) return arena::at<Cell>(record->data2) + index;
    return memory::buffer_of(record->data2)->cells() + index;
}

// The value cell of a bound word, read directly; anything unusual (an
// unbound word, a context without values) takes the checked lookup.
MOX_INLINE inline Cell* word_value(const Cell* word) {
    node_t ctx = word->data1;
    int32_t index = static_cast<int32_t>(word->data3);
    if (index >= 0) {
        if (Cell* values = fast_values(ctx)) return values + index;
        if (Cell* value = stored_value(ctx, index)) return value;
    }
    return context::word_value_ptr(word, ctx);
}
inline int32_t clip_end(const Cell* block, int32_t end) {
    int32_t t = tail_of(block);
    return end < t ? end : t;
}

inline bool callable_q(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

inline bool truthy(const Cell* c) {
    uint32_t t = type_of(c);
    return !(t == TYPE_NONE || (t == TYPE_LOGIC && c->data1 == 0));
}

// The value of a word when it has one to give without raising: bound, in
// a context that has values.
MOX_INLINE inline Cell* quiet_value(const Cell* word) {
    node_t ctx = word->data1;
    int32_t index = static_cast<int32_t>(word->data3);
    if (index < 0) return nullptr;
    if (Cell* values = fast_values(ctx)) return values + index;
    return stored_value(ctx, index);
}

// The value of a one-value expression that needs no evaluation step: a
// literal, or a word holding neither a function nor an operator nor unset!;
// null for anything else.
MOX_INLINE inline const Cell* plain_value(const Cell* at) {
    switch (type_of(at)) {
    case TYPE_WORD: {
        const Cell* v = quiet_value(at);
        if (!v) return nullptr;
        uint32_t t = type_of(v);
        return t == TYPE_UNSET || t == TYPE_OP || callable_q(t) ? nullptr : v;
    }
    case TYPE_SET_WORD:
    case TYPE_GET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_GET_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_ISSUE:
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
    case TYPE_OP:
        return nullptr;
    default:
        return at;
    }
}

// A cell as the argument fetch first looks at it: a word's value when it
// has one to give without raising (null otherwise), any other cell itself.
MOX_INLINE inline const Cell* looked_value(const Cell* at) {
    return type_of(at) == TYPE_WORD ? quiet_value(at) : at;
}

// plain_value for a cell whose looked_value v was read already.
MOX_INLINE inline bool plain_looked(const Cell* at, const Cell* v) {
    if (type_of(at) != TYPE_WORD) return plain_value(at) != nullptr;
    if (!v) return false;
    uint32_t t = type_of(v);
    return !(t == TYPE_UNSET || t == TYPE_OP || callable_q(t));
}

// The op! a word holds, or null for any other cell.
MOX_INLINE inline const Cell* op_word(const Cell* at) {
    if (type_of(at) != TYPE_WORD) return nullptr;
    const Cell* v = quiet_value(at);
    return v && type_of(v) == TYPE_OP ? v : nullptr;
}

// The word of the running call (for error arguments).
void call_word(Cell* out) {
    stack::Frame* f = stack::ctop - 1;
    *out = *context::resolve_word(f->context, f->symbol());
}

// ---------------------------------------------------------------------------
// Blocks run in place
// ---------------------------------------------------------------------------

// position points at the evaluating block's own copy (a stack cell that
// stays in place while the block runs, its index kept at the expression
// being evaluated), or at no_position (a root cell holding none) when no
// block runs. Pointing at the copy instead of copying it makes an
// expression's bookkeeping one 4-byte store; only an error reads it.
Cell* no_position = nullptr;

struct CurrentBlock {
    Cell* outer;
    ~CurrentBlock() { position = outer; }
};

// See below.
int32_t simple_statement(const Cell* at, int32_t pos, int32_t end, Cell* out);
MOX_INLINE inline int32_t simple_statement_inline(const Cell* at, int32_t pos, int32_t end,
                                                  Cell* out);
MOX_INLINE inline int32_t direct_call(const Cell* block, const Cell* at, int32_t pos, int32_t end);

// Evaluates the block in slot, a cell at the top of the stack that keeps it
// for the collector, from pos to its tail without a frame of its own: the
// frame of the code that runs it (the block around a paren, a function's
// call, a conditional's call) stands for it in reports, and nothing but an
// exit leaves it early. Each expression's value, pushed just above slot,
// replaces the one before; the last (unset! for none) replaces the block in
// slot, top just after it. Untraced evaluation only: traced code shows a
// block's entry and exit. Returns false on a pending exit, the stacks then
// being the exit's.
// simple_inline: the simple statements are tried inline (loop bodies),
// else through a call, which keeps the other copies of this loop small.
template <bool simple_inline = false> MOX_INLINE inline bool run_in_place(Cell* slot, int32_t pos) {
    guard_native_stack();
    Cell* value = slot + 1;
    CurrentBlock scope{position};
    position = slot;
    // As in run_block: a loop or a recursion of work done under holds
    // collects here.
    collector::safe_point();
    Cell r;
    make_unset(&r);
    for (;;) {
        int32_t end = tail_of(slot);
        if (pos >= end) break;
        slot->data1 = static_cast<uint32_t>(pos);
        // The one test of an expression: anything in the trap word (tracing,
        // or the general path asked for; no exit is pending here) sends it
        // down the general path.
        if (!stack::trapped()) {
            Cell v;
            const Cell* at = cells_of(slot) + pos;
            uint32_t t = type_of(at);
            int32_t next = -1;
            if (t == TYPE_SET_WORD || t == TYPE_SET_PATH)
                next = simple_inline ? simple_statement_inline(at, pos, end, &v)
                                     : simple_statement(at, pos, end, &v);
            if (next >= 0) {
                r = v;
                pos = next;
                continue;
            }
            if (t == TYPE_WORD) {
                stack::top = value;
                next = direct_call(slot, at, pos, end);
                if (next >= 0) {
                    if (stack::trapped()) {
                        if (stack::pending) return false;
                        // As eval_expression does when the call switched
                        // tracing on.
                        trace::fire(trace::PUSH, slot, pos, value, nullptr);
                    }
                    r = *value;
                    pos = next;
                    continue;
                }
            }
        }
        stack::top = value;
        pos = eval_expression(slot, pos, end, false, true, false);
        if (stack::pending) return false;
        r = *value;
    }
    *slot = r;
    stack::top = value;
    return true;
}

// ---------------------------------------------------------------------------
// Argument templates
// ---------------------------------------------------------------------------

// Entry kinds, in bits 20-21 of an argument entry's header.
enum Kind : uint32_t { KIND_NORMAL = 0, KIND_GET = 1, KIND_LIT = 2, KIND_RETURN = 3 };
constexpr uint32_t KIND_SHIFT = 20;

inline uint32_t kind_of(const Cell* entry) { return (entry->header >> KIND_SHIFT) & 3; }

// An entry that takes an argument (return: takes none).
inline bool argument_entry(const Cell* entry) {
    return type_of(entry) == TYPE_TYPESET && kind_of(entry) != KIND_RETURN;
}

constexpr uint32_t ORDINAL_SHIFT = 16;
inline int32_t ordinal_of(const Cell* entry) {
    return static_cast<int32_t>((entry->header >> ORDINAL_SHIFT) & 0xFFF);
}

// Argument entry: typeset! header with the kind, the type bits in data1 and
// data2 (type IDs stay below 64), data3 the spec index of the argument's
// word. Refinement entry: refinement! header with its ordinal (from 1) in
// bits 16-27, data1 0 (no context: the collector reads it as one), data2
// its symbol, data3 its slot (the index of its flag among a function's
// argument cells). The last entry is an integer!:
// for function! the /local slots, for the others the refinement count.
inline void set_type_bit(Cell* entry, uint32_t t) {
    if (t < 32)
        entry->data1 |= 0x80000000u >> (t ^ 24);
    else if (t < 64)
        entry->data2 |= 0x80000000u >> ((t - 32) ^ 24);
}

// The bit layout of typeset_has (core/value.h): byte t / 8, mask 0x80 >> t % 8,
// read from the entry's words (which a call holds in registers) when the
// type is below 64.
inline bool entry_has(const Cell* entry, uint32_t t) {
    if (t < 32) return entry->data1 & (0x80000000u >> (t ^ 24));
    if (t < 64) return entry->data2 & (0x80000000u >> ((t - 32) ^ 24));
    return typeset_has(entry, t);
}

void add_types(Cell* entry, const Cell* item) {
    switch (type_of(item)) {
    case TYPE_DATATYPE:
        set_type_bit(entry, item->data1);
        break;
    case TYPE_TYPESET:
        for (uint32_t t = 1; t < TYPE_TOTAL; t++)
            if (typeset_has(item, t)) set_type_bit(entry, t);
        break;
    case TYPE_WORD: {
        const Cell* v = quiet_value(item);
        if (!v) v = context::symbol_value(context::global, item->data2);
        if (v && (type_of(v) == TYPE_DATATYPE || type_of(v) == TYPE_TYPESET)) add_types(entry, v);
        break;
    }
    default:
        break;
    }
}

// The types of the block following spec item i, or every type but unset!
// when none (or an empty one) follows.
void entry_types(Cell* entry, const Cell* spec, int32_t i, int32_t n) {
    if (i + 1 < n && type_of(&spec[i + 1]) == TYPE_BLOCK) {
        memory::SeriesBuffer* b = memory::buffer_of(spec[i + 1].data2);
        const Cell* item = b->cells() + spec[i + 1].data1;
        if (item < b->cells_tail()) {
            for (; item < b->cells_tail(); item++) add_types(entry, item);
            return;
        }
    }
    for (uint32_t t = 1; t < TYPE_TOTAL; t++)
        if (t != TYPE_UNSET) set_type_bit(entry, t);
}

// The template cell's data3 (unused by block cells) sums the template up
// for a call that names no refinement: its leading arguments are plain
// evaluated ones (no get or literal argument before the first
// refinement), so such a call fetches them and passes every refinement as
// unused without walking the entries. Fields: the leading arguments, the
// count of the last entry (a function's /local slots, a native's
// refinements), and whether refinements follow.
constexpr uint32_t SUMMARY_PLAIN = 0x80000000u;
constexpr uint32_t SUMMARY_REFINED = 0x40000000u;
constexpr uint32_t SUMMARY_COUNT_SHIFT = 12;
inline int32_t summary_arguments(uint32_t summary) { return summary & 0xFFF; }
inline int32_t summary_count(uint32_t summary) { return (summary >> SUMMARY_COUNT_SHIFT) & 0xFFF; }

uint32_t summary_of(const Cell* tpl) {
    const Cell* entries = cells_of(tpl);
    int32_t n = tail_of(tpl), arguments = 0, count = 0;
    bool refined = false, returns = false;
    for (int32_t i = 0; i < n; i++) {
        const Cell* e = &entries[i];
        if (type_of(e) == TYPE_REFINEMENT) {
            refined = true;
        } else if (type_of(e) == TYPE_TYPESET) {
            // The leading arguments are the first entries.
            if (kind_of(e) == KIND_RETURN)
                returns = true;
            else if (!refined && (returns || kind_of(e) != KIND_NORMAL))
                return 0;
            else if (!refined)
                arguments++;
        } else if (i == n - 1 && type_of(e) == TYPE_INTEGER) {
            count = get_integer(e);
        } else {
            return 0;
        }
    }
    if (arguments > 0xFFF || count < 0 || count > 0xFFF) return 0;
    return SUMMARY_PLAIN | (refined ? SUMMARY_REFINED : 0) |
           static_cast<uint32_t>(count) << SUMMARY_COUNT_SHIFT | static_cast<uint32_t>(arguments);
}

// Compiles the spec of a callable into its template and caches it in the
// callable's extra block. May collect.
void compile_template(const Cell* callee) {
    Cell* base = stack::top;
    Cell* fn = stack::push(callee);
    Cell* tpl = stack::push_cell();
    bool function = type_of(fn) == TYPE_FUNCTION || type_of(fn) == TYPE_ROUTINE;
    uint32_t local = symbol::resolve(words::refinements::local.data2);
    uint32_t ret = symbol::resolve(words::return_);
    int32_t n = static_cast<int32_t>(memory::buffer_of(fn->data2)->used_bytes() / sizeof(Cell));
    block::make_at(tpl, n + 1);
    int32_t refinements = 0, locals = 0, slots = 0;
    for (int32_t i = 0; i < n; i++) {
        Cell item = cells_of(fn)[i]; // the spec node's buffer, read again after each allocation
        Cell entry{TYPE_TYPESET, 0, 0, static_cast<uint32_t>(i)};
        switch (type_of(&item)) {
        case TYPE_WORD:
        case TYPE_GET_WORD:
        case TYPE_LIT_WORD: {
            uint32_t kind = type_of(&item) == TYPE_WORD       ? KIND_NORMAL
                            : type_of(&item) == TYPE_GET_WORD ? KIND_GET
                                                              : KIND_LIT;
            entry.header |= kind << KIND_SHIFT;
            Cell spec_node{TYPE_BLOCK, 0, fn->data2, 0};
            entry_types(&entry, cells_of(&spec_node), i, n);
            *block::alloc_tail(tpl) = entry;
            slots++;
            break;
        }
        case TYPE_SET_WORD: {
            if (symbol::resolve(item.data2) != ret) fire(err::bad_func_def, &item);
            entry.header |= KIND_RETURN << KIND_SHIFT;
            Cell spec_node{TYPE_BLOCK, 0, fn->data2, 0};
            entry_types(&entry, cells_of(&spec_node), i, n);
            *block::alloc_tail(tpl) = entry;
            break;
        }
        case TYPE_REFINEMENT:
            if (symbol::resolve(item.data2) == local) {
                // /local and the words after it up to the next set-word.
                for (; i < n && type_of(&cells_of(fn)[i]) != TYPE_SET_WORD; i++)
                    if (type_of(&cells_of(fn)[i]) == TYPE_REFINEMENT ||
                        type_of(&cells_of(fn)[i]) == TYPE_WORD)
                        locals++;
                i--;
                break;
            }
            refinements++;
            *block::alloc_tail(tpl) =
                Cell{TYPE_REFINEMENT | static_cast<uint32_t>(refinements) << ORDINAL_SHIFT, 0,
                     item.data2, static_cast<uint32_t>(slots)};
            slots++;
            break;
        default:
            break;
        }
    }
    if (function ? locals > 0 : refinements > 0)
        make_integer(block::alloc_tail(tpl), function ? locals : refinements);
    tpl->data3 = summary_of(tpl);
    function::extra_of(fn)[function::EXTRA_TEMPLATE] = *tpl;
    stack::top = base;
}

// The template block cell of a callable, in its extra block (valid until
// the next allocation); ensure_template compiles it on first use.
inline Cell* tpl_of(const Cell* callee) {
    return &function::extra_of(callee)[function::EXTRA_TEMPLATE];
}
inline void ensure_template(const Cell* callee) {
    if (type_of(tpl_of(callee)) != TYPE_BLOCK) compile_template(callee);
}

// What a call reads of its callable, cached by the node of the callable's
// extra block: its cells, the template's entries and summary. Neither the
// extra block nor a compiled template ever grows, so an entry holds until
// the next collection (which may move them, or give the node to another
// callable).
struct CallData {
    node_t extra;
    int32_t cycles;
    Cell* cells;
    const Cell* entries;
    uint32_t summary;
    int32_t count; // of the entries
};
constexpr uint32_t kCallSlots = 256;
CallData call_cache[kCallSlots];

inline CallData& call_slot(node_t extra) { return call_cache[(extra >> 2) & (kCallSlots - 1)]; }

// May collect (compiling the template).
CallData& fill_call_data(const Cell* callee) {
    ensure_template(callee);
    node_t extra = callee->data3;
    CallData& d = call_slot(extra);
    Cell* cells = memory::buffer_of(extra)->cells();
    const Cell* tpl = &cells[function::EXTRA_TEMPLATE];
    d = {extra, collector::stats.cycles, cells, cells_of(tpl), tpl->data3, tail_of(tpl)};
    return d;
}

// The call data of a callable (a cell the collector sees); the entry's
// pointers hold until the next allocation. May collect.
inline const CallData& call_data(const Cell* callee) {
    const CallData& d = call_slot(callee->data3);
    if (d.extra == callee->data3 && d.cycles == collector::stats.cycles) return d;
    return fill_call_data(callee);
}

// ---------------------------------------------------------------------------
// Argument fetching
// ---------------------------------------------------------------------------

// Where arguments come from: a block being evaluated, or cells given by C++.
struct Source {
    const Cell* block; // null: values
    const Cell* values;
    int32_t count;
    int32_t pos;
    int32_t end;
    uint32_t flags;
    bool infix;
};

inline bool at_end(Source& src) {
    if (!src.block) return src.pos >= src.count;
    return src.pos >= clip_end(src.block, src.end);
}

// The spec word of an argument entry, for error messages.
void entry_word(const Cell* callee_spec_node_holder, const Cell* entry, Cell* out) {
    *out = cells_of(callee_spec_node_holder)[entry->data3];
}

[[noreturn]] void fire_no_arg(const Cell* callee, const Cell* entry) {
    Cell call, word;
    call_word(&call);
    Cell spec{TYPE_BLOCK, 0, callee->data2, 0};
    entry_word(&spec, entry, &word);
    set_type(&word, TYPE_WORD);
    fire(err::no_arg, &call, &word);
}

[[noreturn]] void fire_expect(const Cell* callee, const Cell* entry, uint32_t type) {
    Cell call, datatype, word;
    call_word(&call);
    make_datatype(&datatype, type);
    Cell spec{TYPE_BLOCK, 0, callee->data2, 0};
    entry_word(&spec, entry, &word);
    fire(err::expect_arg, &call, &datatype, &word);
}

// The operators whose integer operands are computed without a call: the
// arithmetic actions and the comparison natives.
enum FastOp : uint8_t {
    FAST_NONE,
    FAST_ADD,
    FAST_SUB,
    FAST_MUL,
    FAST_AND,
    FAST_OR,
    FAST_XOR,
    FAST_EQUAL,
    FAST_NOT_EQUAL,
    FAST_LESSER,
    FAST_GREATER,
    FAST_LESSER_EQUAL,
    FAST_GREATER_EQUAL,
};

// op: an op! cell (its source type tells an action from a native).
MOX_INLINE inline FastOp fast_op(const Cell* op) {
    int32_t id = static_cast<int32_t>(op->data1);
    uint32_t source = native::op_source_type(op);
    if (source == TYPE_ACTION) {
        switch (id) {
        case A_ADD:
            return FAST_ADD;
        case A_SUBTRACT:
            return FAST_SUB;
        case A_MULTIPLY:
            return FAST_MUL;
        case A_AND_T:
            return FAST_AND;
        case A_OR_T:
            return FAST_OR;
        case A_XOR_T:
            return FAST_XOR;
        default:
            return FAST_NONE;
        }
    }
    if (source == TYPE_NATIVE) {
        // equal? not-equal? strict-equal? lesser? greater? lesser-or-equal?
        // greater-or-equal?: natives 25 to 31 (strict equality of two
        // integers is equality).
        static const FastOp codes[] = {FAST_EQUAL,        FAST_NOT_EQUAL, FAST_EQUAL,
                                       FAST_LESSER,       FAST_GREATER,   FAST_LESSER_EQUAL,
                                       FAST_GREATER_EQUAL};
        if (id >= 25 && id <= 31) return codes[id - 25];
    }
    return FAST_NONE;
}

// An operator on two integers, computed into the left one: the results of
// the integer actions and comparisons (a sum, difference or product that
// overflows 32 bits becomes a float!).
MOX_INLINE inline void integer_op(FastOp fast, Cell* left, int32_t b) {
    int32_t a = get_integer(left);
    int32_t r = 0;
    switch (fast) {
    case FAST_ADD:
        if (__builtin_add_overflow(a, b, &r)) {
            make_float(left, double(a) + double(b));
            return;
        }
        break;
    case FAST_SUB:
        if (__builtin_sub_overflow(a, b, &r)) {
            make_float(left, double(a) - double(b));
            return;
        }
        break;
    case FAST_MUL:
        if (__builtin_mul_overflow(a, b, &r)) {
            make_float(left, double(a) * double(b));
            return;
        }
        break;
    case FAST_AND:
        r = a & b;
        break;
    case FAST_OR:
        r = a | b;
        break;
    case FAST_XOR:
        r = a ^ b;
        break;
    case FAST_NOT_EQUAL:
        make_logic(left, a != b);
        return;
    case FAST_LESSER:
        make_logic(left, a < b);
        return;
    case FAST_GREATER:
        make_logic(left, a > b);
        return;
    case FAST_LESSER_EQUAL:
        make_logic(left, a <= b);
        return;
    case FAST_GREATER_EQUAL:
        make_logic(left, a >= b);
        return;
    default:
        make_logic(left, a == b);
        return;
    }
    make_integer(left, r);
}

bool fetch_other_argument(const Cell* callee, Cell entry, Source& src);

// fetch_argument's evaluated case from a block (at: the argument's first
// cell, end: the source's end clipped to the tail, v: its plain value or
// null, op: the op! that follows it or null).
[[gnu::noinline]] bool fetch_evaluated(const Cell* callee, Cell entry, Source& src, const Cell* at,
                                       int32_t end, const Cell* v, const Cell* op) {
    Cell* slot = stack::top;
    FastOp fast = op && v && type_of(v) == TYPE_INTEGER ? fast_op(op) : FAST_NONE;
    if (const Cell* right =
            fast != FAST_NONE && src.pos + 2 < end && !(src.pos + 3 < end && op_word(at + 3))
                ? plain_value(at + 2)
                : nullptr;
        right && type_of(right) == TYPE_INTEGER) {
        // `a op b` on two integers, nothing after it: no expression to set
        // up.
        integer_op(fast, push_value(v), get_integer(right));
        src.pos += 3;
    } else {
        bool one = src.infix || (src.flags & CALL_SAFER);
        src.pos = eval_expression(src.block, src.pos, src.end, one, true, false);
        if (stack::pending) return false;
    }
    if (!entry_has(&entry, type_of(slot))) fire_expect(callee, &entry, type_of(slot));
    return true;
}

// Fetches one argument by its entry and pushes it, checked against the
// entry's types. Returns false when a pending exit interrupted it. The
// common case, a value that needs no evaluation step, is inline in the
// callers' loops.
MOX_INLINE inline bool fetch_argument(const Cell* callee, Cell entry, Source& src) {
    if (src.block && kind_of(&entry) == KIND_NORMAL && !trace::active) {
        // An evaluated argument from a block: the block's cells are read
        // once here, and nothing below allocates before a plain value is
        // pushed.
        memory::SeriesBuffer* b = memory::buffer_of(src.block->data2);
        const Cell* at = b->cells() + src.pos;
        int32_t end = static_cast<int32_t>(b->used_bytes() / sizeof(Cell));
        if (src.end < end) end = src.end;
        if (src.pos < end) {
            bool one = src.infix || (src.flags & CALL_SAFER);
            const Cell* op = !one && src.pos + 1 < end ? op_word(at + 1) : nullptr;
            const Cell* v = plain_value(at);
            if (v && !op) {
                // The type is checked on the value read, not on its copy
                // just stored.
                uint32_t t = type_of(v);
                push_value(v);
                src.pos++;
                if (!entry_has(&entry, t)) fire_expect(callee, &entry, t);
                return true;
            }
            if (v && op && type_of(v) == TYPE_INTEGER && src.pos + 2 < end &&
                !(src.pos + 3 < end && type_of(at + 3) == TYPE_WORD && op_word(at + 3))) {
                // `a op b` on two integers, nothing after it, as
                // fetch_evaluated computes it, without the call.
                FastOp fast = fast_op(op);
                const Cell* right = fast != FAST_NONE ? plain_value(at + 2) : nullptr;
                if (right && type_of(right) == TYPE_INTEGER) {
                    Cell* slot = push_value(v);
                    integer_op(fast, slot, get_integer(right));
                    src.pos += 3;
                    if (!entry_has(&entry, type_of(slot)))
                        fire_expect(callee, &entry, type_of(slot));
                    return true;
                }
            }
            return fetch_evaluated(callee, entry, src, at, end, v, op);
        }
    }
    return fetch_other_argument(callee, entry, src);
}

// fetch_argument's other cases: the end of the source, values given by
// C++, get and literal arguments, traced evaluation.
bool fetch_other_argument(const Cell* callee, Cell entry, Source& src) {
    Cell* slot;
    if (at_end(src)) {
        if (src.flags & (CALL_ALL | CALL_APPLY)) {
            slot = make_none(stack::push_cell());
        } else if (kind_of(&entry) == KIND_LIT && entry_has(&entry, TYPE_UNSET)) {
            slot = make_unset(stack::push_cell());
        } else {
            fire_no_arg(callee, &entry);
        }
    } else if (!src.block) {
        slot = stack::push(&src.values[src.pos++]);
    } else {
        switch (kind_of(&entry)) {
        case KIND_GET:
            slot = stack::push(&cells_of(src.block)[src.pos++]);
            break;
        case KIND_LIT: {
            Cell v = cells_of(src.block)[src.pos++];
            if (type_of(&v) == TYPE_PAREN) {
                Cell* base = stack::top;
                stack::mark_interp_native(anon_word);
                eval_block(&v, false);
                if (stack::pending) return false;
                Cell r = *stack::arguments;
                stack::unwind();
                stack::top = base;
                slot = stack::push(&r);
            } else if (type_of(&v) == TYPE_GET_WORD) {
                slot = stack::push(word::get_value(&v));
            } else {
                slot = stack::push(&v);
            }
            break;
        }
        default: {
            // Traced: every argument is evaluated, so that its events are seen.
            Cell* base = stack::top;
            bool one = src.infix || (src.flags & CALL_SAFER);
            src.pos = eval_expression(src.block, src.pos, src.end, one, true, false);
            if (stack::pending) return false;
            slot = base;
            break;
        }
        }
    }
    if (!entry_has(&entry, type_of(slot))) fire_expect(callee, &entry, type_of(slot));
    return true;
}

// Skips one argument's source without using it (apply/safer's unused
// refinements).
void skip_argument(Source& src) {
    if (!at_end(src)) src.pos++;
}

[[gnu::noinline]] int32_t find_refinement_spelled(const Cell* entries, int32_t n, uint32_t symbol);

// The refinement entry among a callee's n template entries named by
// symbol, or -1.
MOX_INLINE inline int32_t find_refinement(const Cell* entries, int32_t n, uint32_t symbol) {
    // A call usually spells the refinement as its spec does.
    for (int32_t i = 0; i < n; i++)
        if (entries[i].data2 == symbol && type_of(&entries[i]) == TYPE_REFINEMENT) return i;
    return find_refinement_spelled(entries, n, symbol);
}

// find_refinement's other spellings (another case), out of line.
int32_t find_refinement_spelled(const Cell* entries, int32_t n, uint32_t symbol) {
    uint32_t canon = symbol::resolve(symbol);
    for (int32_t i = 0; i < n; i++)
        if (type_of(&entries[i]) == TYPE_REFINEMENT && symbol::resolve(entries[i].data2) == canon)
            return i;
    return -1;
}

// Calls the native code of a native! or action! with its refinement indexes.
// The word naming the running call's frame, as trace events report it.
inline Cell call_name() {
    return Cell{TYPE_WORD, 0, (stack::ctop - 1)->symbol(), static_cast<uint32_t>(-1)};
}

// The epilog event of a function body, named by the function's frame.
void fire_epilog(const Cell* body, const Cell* result) {
    const Cell name = call_name();
    trace::fire(trace::EPILOG, body, -1, result, &name);
}

void call_native(const Cell* callee, const int32_t* refs) {
    int32_t id = static_cast<int32_t>(callee->data1);
    natives::Entry entry = type_of(callee) != TYPE_NATIVE          ? actions_entry::lookup(id)
                           : id >= 1 && id <= natives::TABLE_SLOTS ? natives::table[id]
                                                                   : nullptr;
    if (!entry) fire(err::not_done);
    entry(refs);
}

void eval_function(const Cell* callee);
void run_block(const Cell* block, bool keep_in_caller, uint32_t flags);
MOX_INLINE inline void run_callee(const Cell* callee, bool function, const int32_t* refs);

constexpr int32_t MAX_NATIVE_REFINEMENTS = 32;

// The refinement indexes of a call that names none: every one unused.
constexpr struct UnusedRefs {
    int32_t refs[MAX_NATIVE_REFINEMENTS];
    constexpr UnusedRefs() : refs() {
        for (int32_t& r : refs) r = -1;
    }
} unused_refs;

// Reads a truth value for a refinement under apply (one value). Returns
// false on a pending exit.
bool fetch_truth(Source& src, bool* on) {
    *on = false;
    if (at_end(src)) return true;
    if (!src.block) {
        *on = truthy(&src.values[src.pos++]);
        return true;
    }
    Cell* base = stack::top;
    src.pos = eval_expression(src.block, src.pos, src.end, true, true, false);
    if (stack::pending) return false;
    *on = truthy(base);
    stack::top = base;
    return true;
}

// The state of one call's argument fetching.
struct Fetch {
    const Cell* callee; // a cell the collector sees
    Source& src;
    bool function;
    int32_t refs[MAX_NATIVE_REFINEMENTS]; // natives: the first `count` are set
    uint64_t named;                       // refinements named by the call (by ordinal, up to 64)

    Fetch(const Cell* c, Source& s, bool fn) : callee(c), src(s), function(fn), named(0) {}
};

// Fetches the arguments that follow refinement entry `at`, selected or
// not. A function's arguments go into the slots after the refinement's flag
// slot; a native's are pushed, and dropped again when unselected, so that
// an unselected refinement is passed as unused. Returns false on a pending
// exit.
MOX_INLINE inline bool fetch_refinement(Fetch& f, int32_t at, bool on) {
    const CallData* data = &call_data(f.callee);
    Cell entry = data->entries[at];
    int32_t ordinal = ordinal_of(&entry);
    int32_t n = data->count;
    if (f.function) {
        int32_t slot = static_cast<int32_t>(entry.data3);
        make_logic(stack::arguments + slot, on);
        for (int32_t k = 1; at + k < n; k++) {
            // The entries move only when a collection runs.
            if (data->cycles != collector::stats.cycles || data->extra != f.callee->data3)
                data = &call_data(f.callee);
            Cell arg = data->entries[at + k];
            if (!argument_entry(&arg)) break;
            if (!on && (f.src.flags & CALL_SAFER)) {
                skip_argument(f.src);
                continue;
            }
            Cell* base = stack::top;
            if (!fetch_argument(f.callee, arg, f.src)) return false;
            if (on) stack::arguments[slot + k] = *base;
            stack::top = base;
        }
        return true;
    }
    Cell* base = stack::top;
    for (int32_t k = at + 1; k < n; k++) {
        Cell arg = call_data(f.callee).entries[k];
        if (!argument_entry(&arg)) break;
        if (!on && (f.src.flags & CALL_SAFER)) {
            skip_argument(f.src);
            continue;
        }
        if (!fetch_argument(f.callee, arg, f.src)) return false;
    }
    if (on && ordinal <= MAX_NATIVE_REFINEMENTS)
        f.refs[ordinal - 1] = static_cast<int32_t>(base - stack::arguments);
    else
        stack::top = base;
    return true;
}

// A refinement named by the call (a path element or an apply refinement):
// looked up, checked for a second use, then fetched.
[[noreturn, gnu::noinline]] void fire_no_refine(const Cell* element) {
    Cell call, e = *element;
    call_word(&call);
    set_type(&e, TYPE_WORD);
    fire(err::no_refine, &call, &e);
}

[[noreturn, gnu::noinline]] void fire_dup_refine(const Cell* element, const Cell* path) {
    Cell whole = path ? *path : *element;
    fire(err::dup_refine, &whole);
}

MOX_INLINE inline bool name_refinement(Fetch& f, const Cell* element, bool on, const Cell* path) {
    const CallData& data = call_data(f.callee);
    int32_t at = find_refinement(data.entries, data.count, element->data2);
    if (at < 0) fire_no_refine(element);
    int32_t ordinal = ordinal_of(&data.entries[at]);
    uint64_t bit = ordinal <= 64 ? uint64_t{1} << (ordinal - 1) : 0;
    if (f.named & bit) fire_dup_refine(element, path);
    f.named |= bit;
    return fetch_refinement(f, at, on);
}

// The value of the n cells at `at` (a block from its index) when their
// evaluation can neither fail nor allocate nor reach other code: one plain
// value, or two integers and an operator that computes them itself (`[n]`,
// `[a + 1]`). Written to out; false for any other cells. Untraced
// evaluation only: traced code shows every step.
MOX_INLINE inline bool short_block_value(const Cell* at, int32_t n, Cell* out) {
    if (n == 1) {
        const Cell* v = plain_value(at);
        if (!v) return false;
        *out = *v;
        return true;
    }
    if (n != 3) return false;
    const Cell* left = plain_value(at);
    if (!left || type_of(left) != TYPE_INTEGER) return false;
    const Cell* op = op_word(at + 1);
    FastOp fast = op ? fast_op(op) : FAST_NONE;
    if (fast == FAST_NONE) return false;
    const Cell* right = plain_value(at + 2);
    if (!right || type_of(right) != TYPE_INTEGER) return false;
    *out = *left;
    integer_op(fast, out, get_integer(right));
    return true;
}

// if (native 1), unless (2) and either (3), untraced: the chosen block's
// value becomes the call's result here, as the native would make it,
// without a frame to evaluate the block in. False, with nothing done, when
// the native is to run: another native, traced code, none for a result,
// either's error for unset!. True also when an exit interrupted the block
// (stack::pending tells).
bool run_conditional(const Cell* callee) {
    uint32_t id = callee->data1;
    if (type_of(callee) != TYPE_NATIVE || id < 1 || id > 3 || trace::active) return false;
    Cell* args = stack::arguments;
    if (id == 3 && type_of(args) == TYPE_UNSET) return false;
    bool on = logic::truthy(args);
    const Cell* block = id == 3 ? args + (on ? 1 : 2) : on == (id == 1) ? args + 1 : nullptr;
    if (!block || type_of(block) != TYPE_BLOCK) return false;
    memory::SeriesBuffer* b = memory::buffer_of(block->data2);
    int32_t pos = static_cast<int32_t>(block->data1);
    int32_t n = static_cast<int32_t>(b->used_bytes() / sizeof(Cell)) - pos;
    Cell r;
    if (short_block_value(b->cells() + pos, n, &r)) {
        *args = r;
        return true;
    }
    // A longer block runs in place under the native's frame, which names
    // the call in reports as the native's own evaluation would; the block
    // takes the first argument cell (the result slot), the others being
    // spent.
    *args = *block;
    stack::top = args + 1;
    (stack::ctop - 1)->flags |= stack::FRAME_BRANCH;
    run_in_place(args, pos);
    return true;
}

// The refinements named by a call path from its element path_index on (a
// cell the collector sees, in place for the whole call), fetched in the
// path's order. Returns false on a pending exit.
bool path_refinements(Fetch& f, const Cell* path, int32_t path_index) {
    for (int32_t e = static_cast<int32_t>(path->data1) + path_index; e < tail_of(path); e++) {
        Cell element = cells_of(path)[e];
        bool on = true;
        if (type_of(&element) == TYPE_GET_WORD)
            on = truthy(word::get_value(&element));
        else if (type_of(&element) != TYPE_WORD)
            fire(err::bad_refine, &element);
        if (!name_refinement(f, &element, on, path)) return false;
    }
    return true;
}

// Fetches the plain leading arguments from..n of a call (data: its call
// data, read before anything allocated). The entries move only when a
// collection runs: they are read again then. Returns false on a pending
// exit.
MOX_INLINE inline bool fetch_plain(const Cell* callee, const CallData& data, int32_t from,
                                   int32_t n, Source& src) {
    const Cell* entries = data.entries;
    int32_t cycles = collector::stats.cycles;
    for (int32_t i = from; i < n; i++) {
        if (!fetch_argument(callee, entries[i], src)) return false;
        if (collector::stats.cycles != cycles) {
            entries = call_data(callee).entries;
            cycles = collector::stats.cycles;
        }
    }
    return true;
}

// Pushes a function's cells after its n plain leading arguments for a call
// that names no refinement yet: each refinement's flag false, its arguments
// none (until a path names it), then the /local defaults.
inline void push_unnamed_refinements(const Cell* callee, uint32_t summary, int32_t n) {
    if (summary & SUMMARY_REFINED) {
        const CallData& data = call_data(callee);
        const Cell* entries = data.entries;
        int32_t total = data.count;
        for (int32_t k = n; k < total; k++) {
            if (type_of(&entries[k]) == TYPE_REFINEMENT)
                make_logic(stack::push_cell(), false);
            else if (argument_entry(&entries[k]))
                make_none(stack::push_cell());
        }
    }
    if (int32_t count = summary_count(summary)) function::push_refinement_defaults(count);
}

// eval_arguments for a call of a callable whose template has plain leading
// arguments (see summary_of), called from a block by a word or a path (the
// path names refinements, see eval_arguments), or by C++ without flags.
// data: the callee's call data, read here before anything allocates.
bool plain_arguments(const Cell* callee, Source& src, const CallData& data, const Cell* path,
                     int32_t path_index) {
    uint32_t summary = data.summary;
    int32_t n = summary_arguments(summary);
    int32_t i = 0;
    if (src.infix) {
        const Cell* first = &data.entries[0];
        if (!entry_has(first, type_of(stack::arguments)))
            fire_expect(callee, first, type_of(stack::arguments));
        i = 1;
    }
    if (!fetch_plain(callee, data, i, n, src)) return false;
    bool function = type_of(callee) == TYPE_FUNCTION || type_of(callee) == TYPE_ROUTINE;
    Fetch f(callee, src, function);
    // A native's refinements are all unused unless a path names some.
    const int32_t* refs = unused_refs.refs;
    if (function) {
        push_unnamed_refinements(callee, summary, n);
    } else if (path) {
        int32_t count = summary_count(summary);
        for (int32_t k = 0; k < count && k < MAX_NATIVE_REFINEMENTS; k++) f.refs[k] = -1;
        refs = f.refs;
    }
    if (path && !path_refinements(f, path, path_index)) return false;
    if (trace::active) {
        const Cell name = call_name();
        trace::fire(trace::CALL, src.block, src.pos, callee, &name);
    }
    run_callee(callee, function, refs);
    return !stack::pending;
}

// Fetches the arguments of the call whose frame is on top (stack::arguments
// is its first argument cell) and runs the callee. path/path_index: the
// refinements named by a call path (a cell the collector sees, in place for
// the whole call). Returns false when a pending exit interrupted it.
bool eval_arguments(const Cell* callee, Source& src, const Cell* path, int32_t path_index) {
    const CallData& data = call_data(callee);
    if ((data.summary & SUMMARY_PLAIN) && !src.flags && !trace::active)
        return plain_arguments(callee, src, data, path, path_index);
    // Only the refinement indexes in use are set: a call is too frequent to
    // clear them all.
    Fetch f(callee, src, type_of(callee) == TYPE_FUNCTION || type_of(callee) == TYPE_ROUTINE);
    // The entries are read again after anything that may allocate.
    memory::SeriesBuffer* tb = memory::buffer_of(tpl_of(callee)->data2);
    const Cell* entries = tb->cells();
    int32_t n = static_cast<int32_t>(tb->used_bytes() / sizeof(Cell));
    if (!f.function && n > 0) {
        const Cell* last = &entries[n - 1];
        int32_t count = type_of(last) == TYPE_INTEGER ? get_integer(last) : 0;
        for (int32_t i = 0; i < count && i < MAX_NATIVE_REFINEMENTS; i++) f.refs[i] = -1;
    }
    int32_t i = 0;
    if (src.infix) {
        // The left operand is already the frame's first argument cell.
        Cell entry = entries[0];
        if (!entry_has(&entry, type_of(stack::arguments)))
            fire_expect(callee, &entry, type_of(stack::arguments));
        i = 1;
    }
    bool active = true;
    for (; i < n; i++) {
        Cell entry = entries[i];
        if (type_of(&entry) == TYPE_TYPESET) {
            if (kind_of(&entry) == KIND_RETURN) continue;
            if (active) {
                if (!fetch_argument(callee, entry, src)) return false;
                entries = call_data(callee).entries;
            } else if (f.function) {
                make_none(stack::push_cell());
            }
        } else if (type_of(&entry) == TYPE_REFINEMENT) {
            if (f.function) make_logic(stack::push_cell(), false);
            if (src.flags & CALL_ALL) {
                // apply/all: a truth value, then the refinement's arguments.
                int32_t k = i + 1;
                while (k < n && argument_entry(&call_data(callee).entries[k])) k++;
                if (f.function)
                    for (int32_t j = i + 1; j < k; j++) make_none(stack::push_cell());
                bool on;
                if (!fetch_truth(src, &on)) return false;
                if (!fetch_refinement(f, i, on)) return false;
                entries = call_data(callee).entries;
                i = k - 1;
            } else {
                active = false;
            }
        }
    }

    if (path) {
        // The path cell stays in place for the call (see eval_call).
        if (!path_refinements(f, path, path_index)) return false;
    } else if (src.flags & CALL_APPLY) {
        while (!at_end(src)) {
            Cell element = src.block ? cells_of(src.block)[src.pos] : src.values[src.pos];
            if (type_of(&element) != TYPE_REFINEMENT) {
                Cell last = n > 0 ? call_data(callee).entries[n - 1] : Cell{TYPE_NONE, 0, 0, 0};
                if (!f.function && type_of(&last) != TYPE_INTEGER) break;
                fire(err::bad_refine, &element);
            }
            src.pos++;
            bool on;
            if (!fetch_truth(src, &on)) return false;
            if (!name_refinement(f, &element, on, nullptr)) return false;
        }
    }

    if (trace::active) {
        const Cell name = call_name();
        trace::fire(trace::CALL, src.block, src.pos, callee, &name);
    }
    if (f.function) {
        Cell last = n > 0 ? call_data(callee).entries[n - 1] : Cell{TYPE_NONE, 0, 0, 0};
        if (type_of(&last) == TYPE_INTEGER) function::push_refinement_defaults(get_integer(&last));
        eval_function(callee);
        return !stack::pending;
    }
    call_native(callee, f.refs);
    return !stack::pending;
}

// ---------------------------------------------------------------------------
// Running functions
// ---------------------------------------------------------------------------

// Runs a block as the body of the running call (see eval_body). Returns
// false while an exit not aimed at it is pending.
bool run_body(const Cell* body) {
    Cell* fargs = stack::arguments;
    // The body's own evaluation frame is the one return and exit stop at.
    stack::Frame* body_frame = stack::ctop;
    try {
        run_block(body, true, stack::FRAME_BODY);
    } catch (const stack::Unwind& u) {
        if ((u.code != stack::EXIT_RETURN && u.code != stack::EXIT_EXIT) ||
            stack::ctop != body_frame + 1)
            throw;
        stack::pending = u.code;
    }
    if (stack::pending) {
        if (stack::pending != stack::EXIT_RETURN && stack::pending != stack::EXIT_EXIT)
            return false;
        if (stack::ctop != body_frame + 1) return false;
        stack::pending = 0;
        stack::ctop = body_frame;
        stack::arguments = fargs;
    }
    stack::top = fargs + 1;
    return true;
}

// Runs a function's body, untraced, in the function's own frame (on top):
// the frame takes the body's part for return and exit, whose value lands in
// fargs, the call's first argument cell and result. Returns false while an
// exit not aimed at it is pending.
MOX_INLINE inline bool run_body_in_frame(const Cell* body, Cell* fargs) {
    stack::Frame* frame = stack::ctop - 1;
    frame->flags |= stack::FRAME_BODY;
    Cell* slot = push_value(body);
    try {
        if (run_in_place(slot, static_cast<int32_t>(slot->data1))) {
            *fargs = *slot;
            stack::top = fargs + 1;
            return true;
        }
    } catch (const stack::Unwind& u) {
        if ((u.code != stack::EXIT_RETURN && u.code != stack::EXIT_EXIT) ||
            stack::ctop != frame + 1)
            throw;
        stack::pending = u.code;
    }
    if (stack::pending != stack::EXIT_RETURN && stack::pending != stack::EXIT_EXIT) return false;
    if (stack::ctop != frame + 1) return false;
    stack::pending = 0;
    stack::arguments = fargs;
    stack::top = fargs + 1;
    return true;
}

// Runs a function's body with its context's values on the call's argument
// cells. A return or exit aimed at the body frame ends here, its value the
// call's result.
void eval_function(const Cell* callee) {
    Cell* fargs = stack::arguments;
    node_t ctx = callee->data1;
    context::record_of(ctx)->data2 = arena::ref(fargs);
    RunningScope scope(ctx, fargs);
    // Routines, and library functions given a native body, run C++ code,
    // traced as their Mox bodies would be.
    const Cell* extra = call_data(callee).cells;
    // A traced function made at run time (collect's keep) runs its Mox body
    // when it has one, so that its events are all seen.
    if (type_of(&extra[function::EXTRA_CODE]) == TYPE_INTEGER &&
        !(trace::active && type_of(callee) == TYPE_FUNCTION &&
          !(callee->header & function::FLAG_BOOT) &&
          type_of(&extra[function::EXTRA_BODY]) == TYPE_BLOCK)) {
        trace::FunctionScope tracing(callee->header, (callee->header & function::FLAG_BOOT) != 0);
        routines::run(callee);
        return;
    }
    Cell body = extra[function::EXTRA_BODY];
    if (type_of(&body) != TYPE_BLOCK) {
        make_unset(fargs);
        return;
    }
    // Outside a traced evaluation nothing is traced and no scope is walked.
    if (!trace::session) {
        run_body_in_frame(&body, fargs);
        return;
    }
    // Boot-image functions and no-trace ones run untraced; the scope gives
    // the caller's state back however the body ends.
    trace::FunctionScope tracing(callee->header, (callee->header & function::FLAG_BOOT) != 0);
    if (trace::active) {
        const Cell name = call_name();
        trace::fire(trace::PROLOG, &body, -1, nullptr, &name);
        if (run_body(&body) && trace::active) fire_epilog(&body, fargs);
        return;
    }
    if (run_body_in_frame(&body, fargs) && trace::active) fire_epilog(&body, fargs);
}

// ---------------------------------------------------------------------------
// The call protocol
// ---------------------------------------------------------------------------

// Every call the interpreter makes takes the same steps. begin_call pushes
// the callee as the call's result slot (an infix call's left operand is
// already there, as its first argument) and marks the call's frame, named by
// its frame word; the arguments come from a source (cells read from the
// block, evaluated operands, the operands of an infix operator, values given
// by C++); run_callee runs it; finish_call moves the result down into the
// slot and pops the frame. The paths below differ only in how they fetch
// the arguments.
struct CallSite {
    Cell* slot;
    // Copied: the word may lie in a buffer that a collection moves.
    Cell frame_word;
    bool function; // a function! or routine!, whose frame holds its context
};

inline bool function_q(uint32_t t) { return t == TYPE_FUNCTION || t == TYPE_ROUTINE; }

// Marks the frame of the callee whose slot is on top (an infix call: whose
// left operand is), so that the arguments begin above the slot, or at it.
MOX_INLINE inline void mark_call(const CallSite& site, const Cell* callee) {
    if (site.function)
        stack::mark_interp_func(&site.frame_word, callee->data1);
    else
        stack::mark_interp_native(&site.frame_word);
}

// A prefix call: the callee is pushed as the slot. function: whether the
// callee is a function! or routine! (a constant where the caller knows it).
MOX_INLINE inline CallSite begin_call(const Cell* callee, const Cell* word, bool function) {
    guard_native_stack();
    CallSite site{push_value(callee), *word, function};
    mark_call(site, site.slot);
    return site;
}

// An infix call: the left operand (at slot) becomes the first argument.
MOX_INLINE inline CallSite begin_infix_call(const Cell* op, Cell* slot, const Cell* word,
                                            bool function) {
    guard_native_stack();
    CallSite site{slot, *word, function};
    stack::top = slot;
    mark_call(site, op);
    stack::top = slot + 1;
    return site;
}

// A native or action, whose conditionals may run their branch in place.
MOX_INLINE inline void run_native(const Cell* callee, const int32_t* refs) {
    if (type_of(callee) == TYPE_NATIVE && callee->data1 - 1u < 3u && run_conditional(callee))
        return;
    if (type_of(callee) == TYPE_ACTION) {
        natives::Entry entry = actions_entry::lookup(static_cast<int32_t>(callee->data1));
        if (!entry) fire(err::not_done);
        entry(refs);
        return;
    }
    call_native(callee, refs);
}

// A function: untraced, a Mox body runs in the call's own frame without
// eval_function's checks.
MOX_INLINE inline void run_function(const Cell* callee) {
    const CallData& now = call_data(callee);
    if (!trace::session && type_of(&now.cells[function::EXTRA_CODE]) != TYPE_INTEGER &&
        type_of(&now.cells[function::EXTRA_BODY]) == TYPE_BLOCK) {
        Cell* fargs = stack::arguments;
        node_t ctx = callee->data1;
        context::record_of(ctx)->data2 = arena::ref(fargs);
        RunningScope scope(ctx, fargs);
        Cell body = now.cells[function::EXTRA_BODY];
        run_body_in_frame(&body, fargs);
        return;
    }
    eval_function(callee);
}

// The callee of the call whose frame is on top, its arguments fetched;
// refs: a native's refinement indexes.
MOX_INLINE inline void run_callee(const Cell* callee, bool function, const int32_t* refs) {
    if (function)
        run_function(callee);
    else
        run_native(callee, refs);
}

// Pops the frame and moves the result down (see finish_call).
MOX_INLINE inline void end_call(const CallSite& site) {
    Cell result = *stack::arguments;
    if (site.function)
        stack::unwind_ctx();
    else
        stack::unwind();
    *site.slot = result;
    stack::top = site.slot + 1;
}

// finish_call when the trap word is set (kept out of line): nothing while
// an exit is pending, else the call ends and its return event fires.
[[gnu::noinline]] void finish_trapped(const CallSite& site, const Cell* block, int32_t pos) {
    if (stack::pending) return;
    end_call(site);
    if (trace::active) trace::fire(trace::RETURN, block, pos, site.slot, &site.frame_word);
}

// Ends the call whose frame is on top, unless an exit interrupted it (the
// stacks are then the exit's and nothing is done): the result (the frame's
// first argument cell) moves down into the slot, and the return event fires
// when tracing is on (block, pos: where the call's source stands). One test
// of the trap word decides.
MOX_INLINE inline void finish_call(const CallSite& site, const Cell* block, int32_t pos) {
    if (stack::trapped()) [[unlikely]] {
        finish_trapped(site, block, pos);
        return;
    }
    end_call(site);
}

// ---------------------------------------------------------------------------
// Blocks
// ---------------------------------------------------------------------------

// Evaluates a block in an evaluation frame with the given extra flag bits
// (a function body's frame carries FRAME_BODY). See eval_block.
void run_block(const Cell* block, bool keep_in_caller, uint32_t flags) {
    guard_native_stack();
    Cell* base = stack::top;
    Cell* caller_args = stack::arguments;
    Cell* blk = push_value(block);
    CurrentBlock scope{position};
    position = blk;
    stack::mark_eval(body_word);
    (stack::ctop - 1)->flags |= flags;
    Cell* result = make_unset(stack::push_cell());
    int32_t pos = static_cast<int32_t>(blk->data1);
    // Raising errors and copying contexts allocate under holds, which never
    // collect: a loop or a recursion made of such work collects here.
    collector::safe_point();
    if (trace::active) trace::fire(trace::ENTER, blk, pos, nullptr, nullptr);
    for (;;) {
        int32_t end = tail_of(blk);
        if (pos >= end) break;
        const int32_t here = pos;
        blk->data1 = static_cast<uint32_t>(pos);
        pos = eval_expression(blk, pos, end, false, false, false);
        if (stack::pending) return;
        if (trace::active) trace::fire(trace::EXPR, blk, here, result, nullptr);
    }
    if (trace::active) trace::fire(trace::EXIT, blk, pos, result, nullptr);
    Cell r = *result;
    stack::ctop--;
    stack::arguments = caller_args;
    if (keep_in_caller) {
        *caller_args = r;
        stack::top = base > caller_args ? base : caller_args + 1;
    } else {
        *base = r;
        stack::top = base + 1;
    }
}

// Evaluates a paren met as an operand, untraced, and pushes its value. A
// paren is part of the block around it, whose frame already stands for it,
// so it runs in place.
[[gnu::noinline]] void eval_paren(const Cell* paren) {
    memory::SeriesBuffer* b = memory::buffer_of(paren->data2);
    int32_t pos = static_cast<int32_t>(paren->data1);
    Cell r;
    if (short_block_value(b->cells() + pos,
                          static_cast<int32_t>(b->used_bytes() / sizeof(Cell)) - pos, &r)) {
        push_held(r);
        return;
    }
    run_in_place(push_value(paren), pos);
}

// ---------------------------------------------------------------------------
// Calls
// ---------------------------------------------------------------------------

// The word naming a call's frame: a word, the path element that reached the
// callee, or <anon>.
const Cell* frame_name(const Cell* name, int32_t path_index) {
    if (!name) return anon_word;
    if (is_any_word(type_of(name))) return name;
    if (is_any_path(type_of(name)) && path_index > 0) {
        const Cell* e = &cells_of(name)[name->data1 + path_index - 1];
        if (is_any_word(type_of(e))) return e;
    }
    return anon_word;
}

// The call itself (see eval_call), with the argument source given. The
// callee must be a cell the collector sees. Returns false when a pending
// exit interrupted it.
bool do_call(const Cell* callee, Source& src, const Cell* name, int32_t path_index,
             const Cell* object) {
    uint32_t t = type_of(callee);
    if (!callable_q(t)) fire(err::not_done);
    const Cell* word = frame_name(name, path_index);
    CallSite site = src.infix ? begin_infix_call(callee, stack::top - 1, word, function_q(t))
                              : begin_call(callee, word, function_q(t));
    if (!src.infix) callee = site.slot;
    if (object && site.function) (stack::ctop - 1)->context = object->data1;
    if (trace::active) trace::fire(trace::OPEN, src.block, src.pos, callee, &site.frame_word);
    const Cell* path = name && is_any_path(type_of(name)) ? name : nullptr;
    if (!eval_arguments(callee, src, path, path_index)) return false;
    finish_call(site, src.block, src.pos);
    return true;
}

// The call event of a call begun untraced, when tracing came on during it
// (kept out of line).
[[gnu::noinline]] void fire_call(const Cell* block, int32_t pos, const Cell* callee) {
    const Cell name = call_name();
    trace::fire(trace::CALL, block, pos, callee, &name);
}

MOX_INLINE inline int32_t simple_value(const Cell* at, int32_t pos, int32_t limit, Cell* out);

// if, unless and either called by a word, untraced, whose call data is at
// hand (data, valid: read just before, nothing allocated since) and whose
// arguments are all plain: the call do_call would make, with its frame and
// checks, without the general argument loop. Returns the position after
// the arguments.
[[gnu::noinline]] int32_t call_conditional(const Cell* callee, const CallData& data,
                                           const Cell* block, int32_t pos, int32_t end,
                                           const Cell* word) {
    guard_native_stack();
    {
        // The common form: a simple condition (see simple_value) and literal
        // blocks. Nothing can fail before the chosen block runs, so no
        // argument is fetched: a short block's value is the result without
        // a frame, a longer block runs in place under the frame the call
        // would have made, as run_conditional runs it.
        memory::SeriesBuffer* b = memory::buffer_of(block->data2);
        const Cell* cells = b->cells();
        int32_t limit = static_cast<int32_t>(b->used_bytes() / sizeof(Cell));
        if (end < limit) limit = end;
        uint32_t id = callee->data1;
        int32_t blocks = id == 3 ? 2 : 1;
        Cell cond;
        int32_t next = simple_value(cells + pos + 1, pos + 1, limit, &cond);
        if (next >= 0 && next + blocks <= limit && type_of(&cond) != TYPE_UNSET &&
            type_of(&cells[next]) == TYPE_BLOCK &&
            (blocks == 1 || type_of(&cells[next + 1]) == TYPE_BLOCK) &&
            entry_has(&data.entries[0], type_of(&cond)) &&
            entry_has(&data.entries[1], TYPE_BLOCK) &&
            (blocks == 1 || entry_has(&data.entries[2], TYPE_BLOCK)) &&
            // An operator after the last block makes it an operand.
            !(next + blocks < limit && op_word(&cells[next + blocks]))) {
            bool on = logic::truthy(&cond);
            const Cell* chosen = blocks == 2       ? &cells[next + (on ? 0 : 1)]
                                 : on == (id == 1) ? &cells[next]
                                                   : nullptr;
            next += blocks;
            Cell r;
            if (!chosen) {
                make_none(&r);
                push_held(r);
                return next;
            }
            memory::SeriesBuffer* cb = memory::buffer_of(chosen->data2);
            int32_t at = static_cast<int32_t>(chosen->data1);
            int32_t n = static_cast<int32_t>(cb->used_bytes() / sizeof(Cell)) - at;
            if (short_block_value(cb->cells() + at, n, &r)) {
                push_held(r);
                return next;
            }
            Cell branch = *chosen;
            CallSite site = begin_call(callee, word, false);
            Cell* args = push_held(branch);
            (stack::ctop - 1)->flags |= stack::FRAME_BRANCH;
            run_in_place(args, at);
            finish_call(site, block, next);
            return next;
        }
    }
    CallSite site = begin_call(callee, word, false);
    Source src{block, nullptr, 0, pos + 1, end, 0, false};
    if (!fetch_plain(site.slot, data, 0, summary_arguments(data.summary), src)) return src.pos;
    if (trace::active) fire_call(block, src.pos, site.slot);
    run_native(site.slot, unused_refs.refs);
    finish_call(site, block, src.pos);
    return src.pos;
}

// Whether a call of the native v by a word may take call_conditional: if,
// unless or either, untraced, its call data cached, its arguments plain
// and no refinements.
MOX_INLINE inline const CallData* conditional_data(const Cell* v) {
    if (type_of(v) != TYPE_NATIVE || v->data1 - 1u >= 3u || trace::active) return nullptr;
    const CallData& d = call_slot(v->data3);
    if (d.extra != v->data3 || d.cycles != collector::stats.cycles) return nullptr;
    uint32_t want = SUMMARY_PLAIN | (v->data1 == 3 ? 3u : 2u);
    return d.summary == want ? &d : nullptr;
}

// Whether a call of the native! or action! v may skip the general argument
// loop: untraced, its call data cached, its leading arguments plain, its
// refinements few enough to be passed as unused.
MOX_INLINE inline const CallData* native_data(const Cell* v) {
    if (trace::active) return nullptr;
    const CallData& d = call_slot(v->data3);
    if (d.extra != v->data3 || d.cycles != collector::stats.cycles) return nullptr;
    uint32_t summary = d.summary;
    return (summary & SUMMARY_PLAIN) && summary_count(summary) <= MAX_NATIVE_REFINEMENTS ? &d
                                                                                         : nullptr;
}

// call_native_word's arguments from the i-th on, when one needs more
// than a read (kept out of line: the plain ones are the common case). *at:
// the position of the first, then the position after the last. Returns
// false on a pending exit.
[[gnu::noinline]] bool fetch_rest(const Cell* callee, const CallData& data, int32_t i, int32_t n,
                                  const Cell* block, int32_t* at, int32_t end) {
    Source src{block, nullptr, 0, *at, end, 0, false};
    bool done = fetch_plain(callee, data, i, n, src);
    *at = src.pos;
    return done;
}

// A native! or action! called by a word. Untraced, when its call data is
// cached and its leading arguments are plain, it makes the call do_call
// would make, with the same frame (named by word) and checks, without the
// general argument loop; the call names no refinement, so every refinement
// is passed as unused. Returns the position after the arguments. (Out of
// line, with do_call's case too: the evaluation loop keeps one call here.)
[[gnu::noinline]] int32_t call_native_word(const Cell* callee, const Cell* block, int32_t pos,
                                           int32_t end, const Cell* word) {
    const CallData* found = native_data(callee);
    if (!found) {
        // do_call copies the callee and the word before anything allocates.
        Source src{block, nullptr, 0, pos + 1, end, 0, false};
        do_call(callee, src, word, 0, nullptr);
        return src.pos;
    }
    const CallData& data = *found;
    CallSite site = begin_call(callee, word, false);
    Cell* slot = site.slot;
    int32_t n = summary_arguments(data.summary);
    // Arguments that are plain values with no operator after them are
    // pushed as they are read: nothing allocates until the first one that
    // is not, from which fetch_plain takes over (and raises any error).
    memory::SeriesBuffer* b = memory::buffer_of(block->data2);
    const Cell* cells = b->cells();
    int32_t limit = static_cast<int32_t>(b->used_bytes() / sizeof(Cell));
    if (end < limit) limit = end;
    int32_t at = pos + 1, i = 0;
    if (at < limit) {
        const Cell* v = looked_value(&cells[at]);
        for (; i < n; i++) {
            if (!plain_looked(&cells[at], v)) break;
            const Cell* next = at + 1 < limit ? looked_value(&cells[at + 1]) : nullptr;
            if (next && type_of(next) == TYPE_OP && type_of(&cells[at + 1]) == TYPE_WORD) break;
            if (!entry_has(&data.entries[i], type_of(v))) break;
            push_value(v);
            v = next;
            if (++at >= limit) {
                i++;
                break;
            }
        }
    }
    if (i < n && !fetch_rest(slot, data, i, n, block, &at, end)) return at;
    // An argument's evaluation may have switched tracing on: from then on
    // the events do_call would fire are fired.
    if (trace::active) fire_call(block, at, slot);
    run_native(slot, unused_refs.refs);
    finish_call(site, block, at);
    return at;
}

// A function! called by a word or by a path whose head word holds it,
// untraced, whose call data is at hand (data, valid: read just before,
// nothing allocated since), with plain leading arguments: the call do_call
// would make, without the general argument loop. word: the word naming the
// frame; path: the path (a cell the collector sees, in place for the call)
// naming refinements from its second element, or null. Returns the position
// after the arguments.
[[gnu::noinline]] int32_t call_function(const Cell* callee, const CallData& data, const Cell* block,
                                        int32_t pos, int32_t end, const Cell* word,
                                        const Cell* path) {
    CallSite site = begin_call(callee, word, true);
    Cell* slot = site.slot;
    Source src{block, nullptr, 0, pos + 1, end, 0, false};
    uint32_t summary = data.summary;
    int32_t n = summary_arguments(summary);
    if (!fetch_plain(slot, data, 0, n, src)) return src.pos;
    push_unnamed_refinements(slot, summary, n);
    if (path) {
        Fetch f(slot, src, true);
        if (!path_refinements(f, path, 1)) return src.pos;
    }
    // An argument's evaluation, or later the body, may have switched
    // tracing on: from then on the events do_call would fire are fired.
    if (trace::active) fire_call(block, src.pos, slot);
    run_function(slot);
    finish_call(site, block, src.pos);
    return src.pos;
}

// Whether a call of the function! v may take call_function: untraced, its
// call data cached, its leading arguments plain.
MOX_INLINE inline const CallData* function_data(const Cell* v) {
    if (trace::active) return nullptr;
    const CallData& d = call_slot(v->data3);
    if (d.extra != v->data3 || d.cycles != collector::stats.cycles) return nullptr;
    return (d.summary & SUMMARY_PLAIN) ? &d : nullptr;
}

// A call beginning an expression of a block run in place (at: the word at
// pos, read just before; the stack top where its value goes), made without
// eval_expression's operand dispatch and operator loop when no operator can
// follow it: a direct conditional or a function whose plain leading
// arguments end with an evaluated one (whose evaluation takes any operator
// after it). Untraced. Returns the position after the call, or -1 when the
// expression needs eval_expression (nothing done then).
MOX_INLINE inline int32_t direct_call(const Cell* block, const Cell* at, int32_t pos, int32_t end) {
    const Cell* v = quiet_value(at);
    if (!v) return -1;
    if (type_of(v) == TYPE_NATIVE) {
        if (const CallData* d = conditional_data(v))
            return call_conditional(v, *d, block, pos, end, at);
    } else if (type_of(v) == TYPE_FUNCTION) {
        const CallData* d = function_data(v);
        if (d && summary_arguments(d->summary) > 0)
            return call_function(v, *d, block, pos, end, at, nullptr);
    }
    return -1;
}

// The value of a path element: a get-word's value, a paren's evaluation,
// or the element itself. Returns false on a pending exit.
bool element_value(const Cell* element, Cell* out) {
    switch (type_of(element)) {
    case TYPE_GET_WORD:
        *out = *word::get_value(element);
        return true;
    case TYPE_PAREN: {
        Cell* base = stack::top;
        eval_block(element, false);
        if (stack::pending) return false;
        *out = *base;
        stack::top = base;
        return true;
    }
    default:
        *out = *element;
        return true;
    }
}

// A field of an object read without the eval-path action: the element's
// own symbol among the words of a small object (a path and the object it
// reads usually come from the same source, so the symbols are the same).
// Anything else (another spelling, a big object, an unset field and its
// errors) is left to the action: null.
constexpr int32_t kScannedFields = 16;

// Fields found by that scan, by context node and symbol. A context keeps
// its words and their indexes for its life, so an entry holds until the
// next collection (which may give the node to another context).
struct FieldData {
    node_t context;
    uint32_t symbol;
    int32_t cycles;
    int32_t index; // the value's index
    bool self;     // the word is self
    // The node of the context's word cells and the buffer it had when the
    // entry was made: while the node still has that buffer, the word cell
    // is found without the walk through the word table.
    node_t words;
    arena::ref32 words_buffer;
    // The same for the node of the values (0 when the context keeps them
    // elsewhere): an object's context keeps that node for its life.
    node_t values;
    arena::ref32 values_buffer;
};
constexpr uint32_t kFieldSlots = 256;
FieldData field_cache[kFieldSlots];

// The cache entry of the field symbol of the object context, or null when
// the context is big or has no such word.
inline FieldData& field_slot(node_t ctx, uint32_t symbol) {
    return field_cache[((ctx >> 2) ^ (symbol * 0x9E3779B1u >> 24)) & (kFieldSlots - 1)];
}

// find_field's scan, on a miss of the cache.
[[gnu::noinline]] const FieldData* scan_field(node_t ctx, uint32_t symbol) {
    FieldData& d = field_slot(ctx, symbol);
    int32_t n = context::word_count(ctx);
    if (n > kScannedFields) return nullptr;
    const Cell* words = context::symbol_at(ctx, 0);
    for (int32_t i = 0; i < n; i++) {
        if (words[i].data2 != symbol) continue;
        node_t words_node = context::symbols_node(ctx);
        const Cell* record = context::record_of(ctx);
        node_t values_node = 0;
        if (record->data2 && !(record->header & FLAG_CONTEXT_ON_STACK) &&
            context::kind_of(ctx) == context::KIND_OBJECT)
            values_node = record->data2;
        d = {ctx,
             symbol,
             collector::stats.cycles,
             static_cast<int32_t>(words[i].data3),
             symbol::resolve(symbol) == symbol::resolve(words::self),
             words_node,
             *arena::at<arena::ref32>(words_node),
             values_node,
             values_node ? *arena::at<arena::ref32>(values_node) : 0};
        return &d;
    }
    return nullptr;
}

MOX_INLINE inline const FieldData* find_field(node_t ctx, uint32_t symbol) {
    const FieldData& d = field_slot(ctx, symbol);
    if (d.context == ctx && d.symbol == symbol && d.cycles == collector::stats.cycles) return &d;
    return scan_field(ctx, symbol);
}

// The value cell of a field found by find_field.
MOX_INLINE inline Cell* field_value(node_t ctx, const FieldData* field) {
    if (field->values && *arena::at<arena::ref32>(field->values) == field->values_buffer)
        return arena::at<memory::SeriesBuffer>(field->values_buffer)->cells() + field->index;
    return context::value_ptr(ctx, field->index);
}

inline Cell* object_field(const Cell* object, const Cell* element) {
    if (type_of(object) != TYPE_OBJECT || type_of(element) != TYPE_WORD) return nullptr;
    node_t ctx = object->data1;
    const FieldData* field = find_field(ctx, element->data2);
    if (!field) return nullptr;
    Cell* v = field_value(ctx, field);
    return type_of(v) == TYPE_UNSET ? nullptr : v;
}

// What a path gives without any set-up: its head word's value when the
// word has one to give without raising (else null), and for `word/field` of
// a small object with that field, the field's value when nothing else is to
// be done with it (no call, no error; else null).
struct PathStart {
    const Cell* head;
    Cell* field;
};
MOX_INLINE inline PathStart path_start(const Cell* path, bool get) {
    memory::SeriesBuffer* b = memory::buffer_of(path->data2);
    const Cell* cells = b->cells();
    int32_t tail = static_cast<int32_t>(b->used_bytes() / sizeof(Cell));
    int32_t first = static_cast<int32_t>(path->data1);
    if (first >= tail || type_of(&cells[first]) != TYPE_WORD) return {nullptr, nullptr};
    const Cell* head = quiet_value(&cells[first]);
    if (!head || tail != first + 2) return {head, nullptr};
    Cell* v = object_field(head, &cells[first + 1]);
    if (!v || (!get && (callable_q(type_of(v)) || type_of(v) == TYPE_OP))) return {head, nullptr};
    return {head, v};
}

// Stores the value into the field of an object context, as set_in would
// with notice: a field no one watches is written here directly (marked as
// set, as set_in marks it); a watched one, or an unusual context, goes
// through set_in, whose handler hears of it. May collect.
// Without watched, only an unwatched field is stored: false, with nothing
// done, for the others.
inline bool set_field(node_t ctx, const FieldData* field, Cell copy, const Cell* value,
                      bool watched) {
    Cell* record = context::record_of(ctx);
    int32_t index = field->index;
    if (record->data2 && !(record->header & FLAG_CONTEXT_ON_STACK) &&
        ((record->header & FLAG_CONTEXT_KIND_MASK) >> FLAG_CONTEXT_KIND_SHIFT) ==
            context::KIND_OBJECT &&
        (record[1].data3 == 0 || !context::on_change)) {
        Cell* word = *arena::at<arena::ref32>(field->words) == field->words_buffer
                         ? arena::at<memory::SeriesBuffer>(field->words_buffer)->cells() + index
                         : context::symbol_at(ctx, index);
        if (!(word->header & FLAG_FIELD_SET)) word->header |= FLAG_FIELD_SET;
        *field_value(ctx, field) = copy;
        return true;
    }
    if (!watched) return false;
    Cell w{TYPE_WORD, ctx, field->symbol, static_cast<uint32_t>(index)};
    context::set_in(&w, value, ctx, true);
    return true;
}

// Word lookups for one simple expression or statement (see simple_value):
// nothing allocates while it is computed, so the running function's values
// and the global context's are each found once, not at every word.
struct Lookup {
    node_t run_context;
    Cell* run_values;
    Cell* global = nullptr;
    MOX_INLINE Lookup()
        : run_context(running.cycles == collector::stats.cycles ? running.context : kNoContext),
          run_values(running.values) {}
    static constexpr node_t kNoContext = ~node_t{0};
    MOX_INLINE Cell* values(node_t ctx) {
        if (ctx == run_context) return run_values;
        if (ctx != context::global) return nullptr;
        if (!global) global = context::global_values();
        return global;
    }
    // The value cell of a bound word when it has one to give without
    // raising (see quiet_value).
    MOX_INLINE const Cell* value(const Cell* word) {
        node_t ctx = word->data1;
        int32_t index = static_cast<int32_t>(word->data3);
        if (index < 0) return nullptr;
        if (Cell* v = values(ctx)) return v + index;
        return stored_value(ctx, index);
    }
};

// The types a word's value may not have to be a simple operand: unset!
// (an error) and everything called.
constexpr uint32_t kNotPlain = 1u << TYPE_UNSET | 1u << TYPE_OP | 1u << TYPE_NATIVE |
                               1u << TYPE_ACTION | 1u << TYPE_FUNCTION | 1u << TYPE_ROUTINE;
static_assert(TYPE_ROUTINE < 32 && TYPE_OP < 32);

// Stores the value into the field of a path `word/field:` whose word holds
// a small object with that field, as the eval-path action would (the object
// hears of the change); false, with nothing done, for every other path.
// copy: the value in registers; value: the same where the collector sees
// it (used only when watched). Without watched, an object that hears of
// changes is left to the caller too. May collect.
MOX_INLINE inline bool set_object_path(Lookup& lookup, const Cell* path, Cell copy,
                                       const Cell* value, bool watched) {
    memory::SeriesBuffer* b = memory::buffer_of(path->data2);
    int32_t first = static_cast<int32_t>(path->data1);
    if (static_cast<int32_t>(b->used_bytes() / sizeof(Cell)) != first + 2) return false;
    const Cell* head = b->cells() + first;
    if (type_of(head) != TYPE_WORD || type_of(head + 1) != TYPE_WORD) return false;
    const Cell* object = lookup.value(head);
    if (!object || type_of(object) != TYPE_OBJECT) return false;
    node_t ctx = object->data1;
    uint32_t symbol = head[1].data2;
    const FieldData* field = find_field(ctx, symbol);
    if (!field || field->self) return false;
    return set_field(ctx, field, copy, value, watched);
}

// Stores a value (not unset!) through a set-word when nothing but the store
// is to be done: a word of the global context, of the running function or
// of another context with values that is not an object's (objects may hear
// of the change). False, with nothing done, otherwise.
MOX_INLINE inline bool store_plain(Lookup& lookup, const Cell* word, Cell value) {
    node_t ctx = word->data1;
    int32_t index = static_cast<int32_t>(word->data3);
    if (index < 0) return false;
    if (Cell* values = lookup.values(ctx)) {
        store_cell(values + index, value);
        return true;
    }
    if (!ctx) return false;
    const Cell* record = memory::buffer_of(ctx)->cells();
    uint32_t kind = (record->header & FLAG_CONTEXT_KIND_MASK) >> FLAG_CONTEXT_KIND_SHIFT;
    if (!record->data2 || kind == context::KIND_OBJECT) return false;
    Cell* slot = record->header & FLAG_CONTEXT_ON_STACK
                     ? arena::at<Cell>(record->data2) + index
                     : memory::buffer_of(record->data2)->cells() + index;
    *slot = value;
    return true;
}
MOX_INLINE inline bool store_plain(const Cell* word, Cell value) {
    Lookup lookup;
    return store_plain(lookup, word, value);
}

// Stores the value after the set-word at arguments into it. A word of the
// global context or of a function is written directly; objects (which may
// hear of the change) and everything unusual go through word::set.
inline void set_word_value() {
    Cell* word = stack::arguments;
    Cell* value = word + 1;
    if (type_of(value) != TYPE_UNSET && store_plain(word, *value)) {
        *word = *value;
        return;
    }
    word::set_from_arguments();
}

// One operand of a simple expression: a value that needs no evaluation
// step (see plain_value), or the field of a small object read through a
// two-element path (see path_start); null for anything else.
MOX_INLINE inline const Cell* simple_operand(Lookup& lookup, const Cell* at) {
    uint32_t t = type_of(at);
    if (t == TYPE_INTEGER) return at;
    if (t == TYPE_WORD) {
        const Cell* v = lookup.value(at);
        if (!v) return nullptr;
        uint32_t vt = type_of(v);
        return vt < 32 && (kNotPlain >> vt & 1) ? nullptr : v;
    }
    if (t == TYPE_PATH) {
        memory::SeriesBuffer* b = memory::buffer_of(at->data2);
        const Cell* cells = b->cells();
        int32_t first = static_cast<int32_t>(at->data1);
        if (static_cast<int32_t>(b->used_bytes() / sizeof(Cell)) != first + 2 ||
            type_of(&cells[first]) != TYPE_WORD)
            return nullptr;
        const Cell* head = lookup.value(&cells[first]);
        if (!head || type_of(head) != TYPE_OBJECT || type_of(&cells[first + 1]) != TYPE_WORD)
            return nullptr;
        node_t ctx = head->data1;
        const FieldData* field = find_field(ctx, cells[first + 1].data2);
        if (!field) return nullptr;
        const Cell* v = field_value(ctx, field);
        uint32_t vt = type_of(v);
        return vt < 32 && (kNotPlain >> vt & 1) ? nullptr : v;
    }
    return plain_value(at);
}

// The value of a simple expression at pos (at: its first cell; end: at
// most the block's tail): one simple operand, then
// operators that compute two integers themselves, each with an integer
// operand on its right, up to the end or to a cell that is no operator
// word. Its evaluation can neither fail nor allocate nor reach other code,
// so it needs no frame. Written to out with the position after it; -1,
// with nothing done, for any other expression (an operator left over, a
// sum that widened to float! before another operator). Untraced only.
MOX_INLINE inline int32_t simple_value(Lookup& lookup, const Cell* at, int32_t pos, int32_t limit,
                                       Cell* out) {
    if (pos >= limit) return -1;
    // A word then a paren after the operand (an operator whose operand is
    // not simple, as a rule) is left to the general evaluation before any
    // word is looked up.
    if (pos + 2 < limit && type_of(at + 2) == TYPE_PAREN && type_of(at + 1) == TYPE_WORD) return -1;
    const Cell* v = simple_operand(lookup, at);
    if (!v) return -1;
    Cell r = *v;
    for (pos++, at++; pos < limit; pos += 2, at += 2) {
        if (type_of(at) != TYPE_WORD) break;
        const Cell* op = lookup.value(at);
        if (!op || type_of(op) != TYPE_OP) break;
        if (type_of(&r) != TYPE_INTEGER || pos + 1 >= limit) return -1;
        const Cell* right = simple_operand(lookup, at + 1);
        if (!right || type_of(right) != TYPE_INTEGER) return -1;
        // The commonest operators are computed here in one dispatch.
        if (native::op_source_type(op) == TYPE_ACTION) {
            int32_t a = get_integer(&r), b = get_integer(right), n;
            switch (op->data1) {
            case A_ADD:
                if (__builtin_add_overflow(a, b, &n)) return -1;
                make_integer(&r, n);
                continue;
            case A_SUBTRACT:
                if (__builtin_sub_overflow(a, b, &n)) return -1;
                make_integer(&r, n);
                continue;
            case A_AND_T:
                make_integer(&r, a & b);
                continue;
            default:
                break;
            }
        }
        FastOp fast = fast_op(op);
        if (fast == FAST_NONE) return -1;
        integer_op(fast, &r, get_integer(right));
    }
    *out = r;
    return pos;
}
MOX_INLINE inline int32_t simple_value(const Cell* at, int32_t pos, int32_t limit, Cell* out) {
    Lookup lookup;
    return simple_value(lookup, at, pos, limit, out);
}

// `word/field: a op b ...` (at: the set-path, at pos) with a simple value
// into a small object that no one watches: the field is stored directly
// and the value written to out; returns the position after the statement,
// or -1 with nothing done for any other. (A watched object's handler runs
// under the set-path's frame: see eval_set_path.) Nothing here allocates.
MOX_INLINE inline int32_t simple_set_path(Lookup& lookup, const Cell* at, int32_t pos, int32_t end,
                                          Cell* out) {
    int32_t next = simple_value(lookup, at + 1, pos + 1, end, out);
    if (next < 0 || !set_object_path(lookup, at, *out, nullptr, false)) return -1;
    return next;
}

// A statement that needs no frame and no evaluation step (untraced only):
// `word: a op b ...` with a simple value (see simple_value) into a word
// that takes a plain store, or `word/field: ...` into a small object that
// no one watches (see simple_set_path). The value is written to out;
// returns the position after the statement, or -1 with nothing done for
// anything else. Nothing here allocates or reaches other code.
MOX_INLINE inline int32_t simple_statement_inline(const Cell* at, int32_t pos, int32_t end,
                                                  Cell* out) {
    uint32_t t = type_of(at);
    Lookup lookup;
    if (t == TYPE_SET_WORD) {
        int32_t next = simple_value(lookup, at + 1, pos + 1, end, out);
        return next >= 0 && store_plain(lookup, at, *out) ? next : -1;
    }
    return simple_set_path(lookup, at, pos, end, out);
}
[[gnu::noinline]] int32_t simple_statement(const Cell* at, int32_t pos, int32_t end, Cell* out) {
    return simple_statement_inline(at, pos, end, out);
}

// eval_operand's rarer cases, kept out of the evaluation loop's code.

// A set-path and the expression after it (pos: the set-path's index).
[[gnu::noinline]] int32_t eval_set_path(const Cell* block, Cell* at, int32_t pos, int32_t end) {
    Cell* start = stack::top;
    if (!trace::active) {
        Cell r;
        Lookup lookup;
        int32_t next = simple_set_path(lookup, at, pos, end, &r);
        if (next >= 0) {
            push_held(r);
            return next;
        }
    }
    // The set-path is kept in the expression's own cell, below the
    // frame, which the assigned value replaces at the end.
    Cell* sp = push_value(at);
    stack::mark_native(set_path_word);
    if (pos + 1 >= clip_end(block, end)) fire(err::need_value, sp);
    int32_t next = eval_expression(block, pos + 1, end, false, true, false);
    if (stack::pending) return next;
    if (trace::active) trace::fire(trace::SET, block, pos, stack::top - 1, sp);
    Lookup lookup;
    if (trace::active || !set_object_path(lookup, sp, *(stack::top - 1), stack::top - 1, true)) {
        eval_path(sp, nullptr, 0, 0, true, false, false);
        if (stack::pending) return next;
    }
    Cell r = *(stack::top - 1);
    stack::unwind();
    *start = r;
    stack::top = start + 1;
    return next;
}

// An issue! value; #system and #system-global before a block are refused.
[[gnu::noinline]] int32_t eval_issue(const Cell* block, Cell* at, int32_t pos, int32_t end) {
    if (pos + 1 < clip_end(block, end) && type_of(at + 1) == TYPE_BLOCK) {
        size_t len = 0;
        const char* name = symbol::name_utf8(at->data2, &len);
        auto eq = [&](const char* s) {
            size_t i = 0;
            for (; i < len && s[i]; i++) {
                char a = name[i];
                if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
                if (a != s[i]) return false;
            }
            return i == len && !s[i];
        };
        if (eq("system") || eq("system-global")) fire(err::mox_system);
    }
    stack::push(at);
    return pos + 1;
}

// Evaluates one operand at pos (at: the block's cell there, read just
// before; end: at most the block's tail) and pushes its value. Returns the
// position after it.
int32_t eval_operand(const Cell* block, Cell* at, int32_t pos, int32_t end, bool no_call) {
    switch (type_of(at)) {
    case TYPE_WORD: {
        Cell* v = word_value(at);
        switch (type_of(v)) {
        case TYPE_UNSET: {
            Cell w = *at;
            fire(err::no_value, &w);
        }
        case TYPE_NATIVE:
            if (const CallData* d = conditional_data(v))
                return call_conditional(v, *d, block, pos, end, at);
            [[fallthrough]];
        case TYPE_ACTION:
            return call_native_word(v, block, pos, end, at);
        case TYPE_ROUTINE:
        call : {
            // do_call copies the callee and the word before anything allocates.
            Source src{block, nullptr, 0, pos + 1, end, 0, false};
            do_call(v, src, at, 0, nullptr);
            return src.pos;
        }
        case TYPE_FUNCTION:
            if (const CallData* d = function_data(v))
                return call_function(v, *d, block, pos, end, at, nullptr);
            goto call;
        case TYPE_OP: {
            Cell w = *at;
            fire(err::no_op_arg, &w);
        }
        default:
            push_value(v);
            return pos + 1;
        }
    }
    case TYPE_SET_WORD: {
        if (!trace::active) {
            // `word: a op b ...` needs no frame when its value is simple
            // and the word takes a plain store.
            Cell r;
            int32_t next = simple_value(at + 1, pos + 1, end, &r);
            if (next >= 0 && store_plain(at, r)) {
                push_held(r);
                return next;
            }
        }
        Cell sw = *at;
        const int32_t here = pos;
        stack::mark_native(&sw);
        push_value(&sw);
        if (pos + 1 >= clip_end(block, end)) fire(err::need_value, &sw);
        pos = eval_expression(block, pos + 1, end, false, true, false);
        if (stack::pending) return pos;
        if (trace::active)
            trace::fire(trace::SET, block, here, stack::arguments + 1, stack::arguments);
        set_word_value();
        stack::unwind();
        return pos;
    }
    case TYPE_GET_WORD:
        push_value(word_value(at));
        return pos + 1;
    case TYPE_LIT_WORD: {
        Cell* c = stack::push(at);
        set_type(c, TYPE_WORD);
        return pos + 1;
    }
    case TYPE_PAREN:
        // Traced code shows a paren's entry and exit like a block's.
        if (trace::active)
            eval_block(at, false);
        else
            eval_paren(at);
        return pos + 1;
    case TYPE_PATH:
        return eval_path(at, block, pos, end, false, false, true);
    case TYPE_GET_PATH:
        return eval_path(at, block, pos, end, false, true, true);
    case TYPE_LIT_PATH: {
        Cell* c = stack::push(at);
        set_type(c, TYPE_PATH);
        c->data3 = 0;
        return pos + 1;
    }
    case TYPE_SET_PATH:
        return eval_set_path(block, at, pos, end);
    case TYPE_ISSUE:
        return eval_issue(block, at, pos, end);
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE: {
        if (no_call) {
            stack::push(at);
            return pos + 1;
        }
        Source src{block, nullptr, 0, pos + 1, end, 0, false};
        do_call(at, src, nullptr, 0, nullptr);
        return src.pos;
    }
    case TYPE_OP:
        fire(err::not_done);
    default:
        push_value(at);
        return pos + 1;
    }
}

// infix_call's call of an operator whose source is a native! or action!,
// untraced, its call data at hand (data, valid: read just before, nothing
// allocated since) and its two arguments plain and evaluated: the left one
// below the right one at the top. The call do_call would make, with the
// same frame (named by name) and checks, without the argument loop: the
// operands already lie where the frame wants its argument cells.
[[gnu::noinline]] void call_infix_direct(const Cell* op, const CallData& data, const Cell* name) {
    Cell* right = stack::top - 1;
    Cell* slot = right - 1;
    CallSite site = begin_infix_call(op, slot, name, false);
    stack::top = right + 1;
    const Cell* entries = data.entries;
    if (!entry_has(&entries[0], type_of(slot))) fire_expect(op, &entries[0], type_of(slot));
    if (!entry_has(&entries[1], type_of(right))) fire_expect(op, &entries[1], type_of(right));
    run_native(op, unused_refs.refs);
    // The general call reports the return of an operand given as a value
    // at the end of its one-value source.
    finish_call(site, nullptr, 1);
}

// The operator call of eval_expression's infix loop (every case but two
// integers given in the block): the operator op (at pos) with the left
// operand at the top. fast and operand: whether the operator computes two
// integers itself and a right operand follows. Returns the position after
// the right operand.
[[gnu::noinline]] int32_t infix_call(const Cell* block, int32_t pos, int32_t end, const Cell* v,
                                     FastOp fast, bool operand) {
    Cell op = *v;
    op.header = native::op_source_type(v);
    Cell name = cells_of(block)[pos];
    if (trace::active) trace::fire(trace::FETCH, block, pos, &name, nullptr);
    if (operand) {
        // The right operand first; two integers need no call.
        Cell* right = stack::top;
        if (const Cell* plain = plain_value(&cells_of(block)[pos + 1])) {
            push_value(plain);
            pos += 2;
        } else {
            pos = eval_expression(block, pos + 1, end, true, true, false);
            if (stack::pending) return pos;
        }
        if (type_of(right) == TYPE_INTEGER && type_of(right - 1) == TYPE_INTEGER) {
            integer_op(fast, right - 1, get_integer(right));
            stack::top = right;
            return pos;
        }
        if (const CallData* d = native_data(&op); d && summary_arguments(d->summary) == 2) {
            call_infix_direct(&op, *d, &name);
            return pos;
        }
        Cell r = *right;
        collector::Root k1(&r), k2(&op);
        stack::top = right;
        Source src{nullptr, &r, 1, 0, 1, 0, true};
        do_call(&op, src, &name, 0, nullptr);
        return pos;
    }
    collector::Root k1(&op);
    Source src{block, nullptr, 0, pos + 1, end, 0, true};
    do_call(&op, src, &name, 0, nullptr);
    return src.pos;
}

// The sort comparator hook of block! and string!: the function's result
// is left in a new cell pushed on the stack. May collect.
Cell* call_comparator(Cell* function, Cell* arg1, Cell* arg2) {
    Cell* result = make_unset(stack::push_cell());
    Cell args[2] = {*arg1, *arg2};
    call_value(function, args, 2, result);
    return result;
}

} // namespace

// ---------------------------------------------------------------------------
// Interfaces
// ---------------------------------------------------------------------------

void init() {
    evaluator::hooks.do_block = &do_block;
    evaluator::hooks.call_value = &call_value;
    Cell none;
    make_none(&none);
    no_position = root_append(&none);
    position = no_position;
    body_word = root_append(word::load("<body>"));
    anon_word = root_append(word::load("<anon>"));
    set_path_word = root_append(word::load("set-path"));
    block::call_comparator = &call_comparator;
    if (!platform::stack_low()) platform::record_stack_bounds();
    if (platform::stack_low()) stack_limit = platform::stack_low() + kStackReserve;
}

int32_t tail_of(const Cell* block) { return static_cast<int32_t>(block::abs_length(block)); }

void eval_block(const Cell* block, bool keep_in_caller) { run_block(block, keep_in_caller, 0); }

void eval_body(const Cell* block) { run_body(block); }

// Runs a loop's body block in place under the loop's frame. The block sits
// in the frame's base cell while it runs, where the frame's flag tells
// system/state/interpreted? to look for it.
MOX_INLINE inline void run_in_loop_frame(stack::Frame* frame, const Cell* block, Cell* base) {
    struct Flag {
        stack::Frame* frame;
        ~Flag() {
            if (frame < stack::ctop) frame->flags &= ~stack::FRAME_BRANCH;
        }
    } flag{frame};
    frame->flags |= stack::FRAME_BRANCH;
    *base = *block;
    stack::top = base + 1;
    run_in_place<true>(base, static_cast<int32_t>(base->data1));
}

void eval_loop_block(const Cell* block, Cell* base) {
    if (trace::active || stack::ctop == stack::frame_bottom ||
        (stack::ctop - 1)->type() != stack::FRAME_LOOP || stack::arguments != base) {
        run_block(block, true, 0);
        return;
    }
    run_in_loop_frame(stack::ctop - 1, block, base);
}

uint32_t run_loop(const Cell* block, Cell* base, LoopStep step, void* data) {
    // The loop's frame stays on top between runs of the body: checked once.
    stack::Frame* frame = stack::ctop - 1;
    const bool framed = stack::ctop != stack::frame_bottom && frame->type() == stack::FRAME_LOOP &&
                        stack::arguments == base;
    while (step(data)) {
        stack::top = base;
        if (trace::active || !framed || type_of(block) != TYPE_BLOCK) {
            run_block(block, true, 0);
        } else {
            run_in_loop_frame(frame, block, base);
        }
        if (stack::pending) return stack::pending;
    }
    return 0;
}

namespace {

// `value op integer op integer ...` with + - * on integers the block holds
// (literals or words), for a left operand whose type takes such a chain in
// one go (its math-chain slot, chain): each operation changes the value in
// place as the action would, so the type may apply them together (a
// vector! crosses a large vector once). at: the first operator's cell, at
// pos; limit: where the expression may end. Returns the position after the
// chain; pos when there is no chain of two or more (then nothing is done).
[[gnu::noinline]] int32_t math_chain(const Cell* at, int32_t pos, int32_t limit, Cell* value,
                                     ActionSig<A_MATH_CHAIN>::type chain) {
    constexpr int32_t kMost = 8;
    int32_t ops[kMost], scalars[kMost], count = 0;
    int32_t p = pos;
    while (count < kMost && p + 1 < limit) {
        const Cell* op = op_word(at);
        FastOp fast = op ? fast_op(op) : FAST_NONE;
        if (fast == FAST_NONE || fast > FAST_MUL) break;
        const Cell* right = plain_value(at + 1);
        if (!right || type_of(right) != TYPE_INTEGER) break;
        ops[count] = fast == FAST_ADD ? OP_ADD : fast == FAST_SUB ? OP_SUB : OP_MUL;
        scalars[count++] = get_integer(right);
        p += 2;
        at += 2;
    }
    if (count < 2) return pos;
    chain(value, ops, scalars, count);
    return p;
}

} // namespace

int32_t eval_expression(const Cell* block, int32_t pos, int32_t end, bool no_infix, bool push,
                        bool no_call) {
    Cell* start = stack::top;
    memory::SeriesBuffer* b = memory::buffer_of(block->data2);
    int32_t tail = static_cast<int32_t>(b->used_bytes() / sizeof(Cell));
    if (tail < end) end = tail;
    if (trace::active) {
        if (pos < end) trace::fire(trace::FETCH, block, pos, &cells_of(block)[pos], nullptr);
        b = memory::buffer_of(block->data2);
    }
    const int32_t first = pos;
    pos = eval_operand(block, b->cells() + pos, pos, end, no_call);
    if (stack::pending) return pos;
    if (trace::active) trace::fire(trace::PUSH, block, first, start, nullptr);
    if (!no_infix) {
        for (;;) {
            memory::SeriesBuffer* b = memory::buffer_of(block->data2);
            int32_t limit = static_cast<int32_t>(b->used_bytes() / sizeof(Cell));
            if (end < limit) limit = end;
            if (pos >= limit) break;
            const Cell* next = b->cells() + pos;
            if (type_of(next) != TYPE_WORD) break;
            const Cell* v = quiet_value(next);
            if (!v || type_of(v) != TYPE_OP) break;
            // Traced code calls every operator, so that its calls are seen.
            FastOp fast = trace::active ? FAST_NONE : fast_op(v);
            bool operand = fast != FAST_NONE && pos + 1 < limit;
            if (operand && type_of(stack::top - 1) == TYPE_INTEGER) {
                // Two integers need no call (nothing has allocated since the
                // block's cells were read).
                const Cell* plain = plain_value(next + 1);
                if (!plain && type_of(next + 1) == TYPE_PATH)
                    plain = path_start(next + 1, false).field;
                if (plain && type_of(plain) == TYPE_INTEGER) {
                    integer_op(fast, stack::top - 1, get_integer(plain));
                    pos += 2;
                    continue;
                }
            }
            // The commonest left operand, an integer!, takes no chain.
            if (operand && fast <= FAST_MUL && type_of(stack::top - 1) != TYPE_INTEGER) {
                if (auto chain = datatype::get<A_MATH_CHAIN>(type_of(stack::top - 1))) {
                    int32_t after = math_chain(next, pos, limit, stack::top - 1, chain);
                    if (after > pos) {
                        pos = after;
                        continue;
                    }
                }
            }
            pos = infix_call(block, pos, end, v, fast, operand);
            if (stack::pending) return pos;
        }
    }
    if (!push) {
        // The value becomes the running call's result (stack::set_last_keep).
        Cell value = *start;
        *stack::arguments = value;
        stack::top = stack::arguments + 1;
    }
    return pos;
}

int32_t eval_next(const Cell* block) {
    int32_t pos = static_cast<int32_t>(block->data1);
    if (pos >= tail_of(block)) {
        make_unset(stack::arguments);
        return pos;
    }
    return eval_single(block, pos, tail_of(block), false);
}

int32_t eval_single(const Cell* block, int32_t pos, int32_t end, bool push) {
    Cell* base = stack::top;
    Cell* caller_args = stack::arguments;
    Cell blk = *block;
    collector::Root keep(&blk);
    stack::mark_interp_native(body_word);
    make_unset(stack::push_cell());
    pos = eval_expression(&blk, pos, end, false, false, false);
    if (stack::pending) return pos;
    Cell r = *stack::arguments;
    stack::ctop--;
    stack::arguments = caller_args;
    if (push) {
        *base = r;
        stack::top = base + 1;
    } else {
        *caller_args = r;
        stack::top = base > caller_args ? base : caller_args + 1;
    }
    return pos;
}

int32_t eval_call(const Cell* callee, const Cell* block, int32_t position, int32_t end,
                  uint32_t call_flags, bool infix, const Cell* name, int32_t path_index,
                  const Cell* object) {
    Cell c = *callee;
    if (type_of(&c) == TYPE_OP) c.header = native::op_source_type(callee);
    collector::Root keep(&c);
    Source src{block, nullptr, 0, position, end, call_flags, infix};
    do_call(&c, src, name, path_index, object);
    return src.pos;
}

int32_t eval_path(const Cell* path_in, const Cell* block, int32_t pos, int32_t end, bool set,
                  bool get, bool push) {
    if (!set && !trace::active) {
        PathStart start = path_start(path_in, get);
        if (start.field) {
            if (push)
                push_value(start.field);
            else
                stack::set_last_keep(start.field);
            return pos + 1;
        }
        if (start.head && !get && callable_q(type_of(start.head))) {
            // A call through the head word (`f/refinement ...`), as the
            // general way below makes it.
            Cell* base = stack::top;
            Cell p = *path_in;
            collector::Root k(&p);
            int32_t next;
            const CallData* d =
                type_of(start.head) == TYPE_FUNCTION ? function_data(start.head) : nullptr;
            if (d) {
                next = call_function(start.head, *d, block, pos, end, &cells_of(&p)[p.data1], &p);
            } else {
                Source src{block, nullptr, 0, pos + 1, end, 0, false};
                do_call(start.head, src, &p, 1, nullptr);
                next = src.pos;
            }
            if (stack::pending) return next;
            if (!push) stack::set_last_keep(base);
            return next;
        }
    }
    Cell* base = stack::top;
    Cell* value = set ? stack::top - 1 : nullptr; // the value to store
    Cell* path = push_value(path_in);
    int32_t first = static_cast<int32_t>(path->data1);
    int32_t n = tail_of(path);
    if (first >= n) fire(err::empty_path, path);
    Cell head = cells_of(path)[first];
    if (type_of(&head) != TYPE_WORD) fire(err::word_first, path);
    int32_t next = pos + 1;
    Cell* gparent = make_none(stack::push_cell());
    Cell* current = push_value(word_value(&head));
    Cell* previous = stack::push(&head);
    Cell* element = make_none(stack::push_cell());
    if (type_of(current) == TYPE_UNSET) fire(err::unset_path, path, &head);
    uint32_t t = type_of(current);
    if (callable_q(t) || t == TYPE_OP) {
        if (set) fire(err::invalid_path_set, path);
        if (get) fire(err::invalid_path_get, path);
        if (t == TYPE_OP) current->header = native::op_source_type(current);
        // do_call copies the callee before anything allocates; the path is
        // read again after the arguments.
        Cell callee = *current;
        stack::top = base;
        Source src{block, nullptr, 0, next, end, 0, false};
        Cell p = *path;
        collector::Root k(&p);
        do_call(&callee, src, &p, 1, nullptr);
        if (stack::pending) return src.pos;
        if (!push) stack::set_last_keep(base);
        return src.pos;
    }
    for (int32_t i = first + 1; i < tail_of(path); i++) {
        if (!element_value(&cells_of(path)[i], element)) return next;
        if (type_of(element) == TYPE_UNSET) {
            Cell e = cells_of(path)[i];
            fire(err::invalid_path, path, &e);
        }
        bool last = i + 1 >= tail_of(path);
        Cell* r = last && set ? nullptr : object_field(current, element);
        if (!r)
            r = actions::eval_path(current, element, last && set ? value : nullptr, path, gparent,
                                   previous, i - first, false, get, last, true);
        Cell got = *r;
        *gparent = *current;
        *current = got;
        *previous = *element;
        uint32_t rt = type_of(current);
        if (!set && !get && (callable_q(rt) || rt == TYPE_OP)) {
            if (rt == TYPE_OP) current->header = native::op_source_type(current);
            Cell callee = *current;
            Cell object = *gparent;
            Cell p = *path;
            collector::Root k(&p);
            stack::top = base;
            Source src{block, nullptr, 0, next, end, 0, false};
            do_call(&callee, src, &p, i + 1 - first,
                    type_of(&object) == TYPE_OBJECT ? &object : nullptr);
            if (stack::pending) return src.pos;
            if (!push) stack::set_last_keep(base);
            return src.pos;
        }
    }
    Cell r = set ? *value : *current;
    if (set) {
        stack::top = base;
        *(base - 1) = r;
        return next;
    }
    stack::top = base;
    if (push)
        stack::push(&r);
    else
        stack::set_last_keep(&r);
    return next;
}

// ---------------------------------------------------------------------------
// C++ helpers
// ---------------------------------------------------------------------------

void do_block(const Cell* block, Cell* out) {
    Cell* base = stack::top;
    eval_block(block, false);
    stack::raise_pending();
    *out = *base;
    stack::top = base;
}

void call_value(const Cell* callable, const Cell* args, int32_t count, Cell* out, uint32_t flags,
                Cell* back) {
    Cell* base = stack::top;
    Cell c = *callable;
    if (type_of(&c) == TYPE_OP) c.header = native::op_source_type(callable);
    if (!callable_q(type_of(&c))) {
        Cell dt;
        make_datatype(&dt, type_of(&c));
        fire(err::invalid_type, &dt);
    }
    collector::Root keep(&c);
    // The arguments are copied where the collector sees them before the
    // call may allocate (compiling the callee's template).
    Cell* values = stack::top;
    for (int32_t i = 0; i < count; i++) stack::push(&args[i]);
    Source src{nullptr, values, count, 0, count, flags, false};
    Cell* slot = stack::top;
    do_call(&c, src, nullptr, 0, nullptr);
    stack::raise_pending();
    // The frame's cells are still above the result: the first argument
    // became the result, the others hold what the callee left in them.
    // Nothing has allocated since, so they are copied before anything can.
    if (back && count > 1) std::memcpy(back + 1, slot + 2, (count - 1) * sizeof(Cell));
    *out = *slot;
    stack::top = base;
}

} // namespace mox::interpreter
