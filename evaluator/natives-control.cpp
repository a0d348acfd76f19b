// The control natives: the conditionals (if, unless, either, any, all,
// switch, case) and the loops (while, until, loop, repeat, forever, foreach,
// forall, remove-each).
//
// A loop first pushes copies of the cells it needs for its whole run (its
// blocks, the series cursor, the words), then a loop frame, so that break
// and continue find it. Those exits cut the stack back to the native's
// first argument cell (its result slot) and write it; the copies lie above
// that cell, below the loop frame, and nothing is pushed before the loop
// takes the exit, so they survive it. A loop takes break and continue
// whether they arrive by return (stack::pending, the interpreter's way,
// which costs no C++ exception) or as the exception (raised by C++ helpers
// that cannot return them); every other exit passes through untouched.
#include "evaluator/natives-control.h"

#include <algorithm>

#include "core/actions.h"
#include "core/context.h"
#include "core/natives.h"
#include "core/stack.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"

namespace mox::natives {

namespace {

// ---------------------------------------------------------------------------
// Shared helpers
// ---------------------------------------------------------------------------

// The strict truth test: an unset! value means the expression returned
// nothing to test.
bool strict_true(const Cell* value) {
    if (type_of(value) == TYPE_UNSET) fire(err::no_return);
    return logic::truthy(value);
}

void result_none() {
    Cell none;
    stack::set_last_keep(make_none(&none));
}

// The block's index clipped to its tail, and its tail, as absolute
// positions.
int32_t tail_of(const Cell* blk) { return interpreter::tail_of(blk); }
int32_t start_of(const Cell* blk) {
    return std::min(static_cast<int32_t>(blk->data1), tail_of(blk));
}

bool series_type_q(uint32_t t) {
    return is_any_block(t) || is_any_string(t) || t == TYPE_BINARY || t == TYPE_VECTOR ||
           t == TYPE_IMAGE;
}

// Pushes a copy of `pick series i` (from 1): none past either end. May
// collect.
Cell* push_pick(Cell* series, int32_t i) {
    Cell* slot = stack::push_cell();
    if (is_any_block(type_of(series))) {
        int64_t at = int64_t{series->data1} + i - 1;
        if (at >= 0 && at < block::abs_length(series))
            *slot = *block::ms_abs_at(series, static_cast<uint32_t>(at));
        else
            make_none(slot);
        return slot;
    }
    Cell picked = *actions::pick(series, i, nullptr);
    stack::top = slot + 1;
    *slot = picked;
    return slot;
}

// Pushes a copy of item i (from 0) of a words block; an item that is no
// settable word raises invalid-arg.
Cell* push_word(const Cell* words, int32_t i) {
    Cell* w = stack::push(block::ms_abs_at(words, words->data1 + static_cast<uint32_t>(i)));
    uint32_t t = type_of(w);
    if (t < TYPE_WORD || t > TYPE_GET_WORD) fire(err::invalid_arg, w);
    return w;
}

// ---------------------------------------------------------------------------
// Loop frames and body runs
// ---------------------------------------------------------------------------

// How one evaluation of a loop body ended.
enum class Turn { normal, continued, broke, passed };

// Pushes the loop frame and its result cell (unset! until a body has run);
// returns the frame's base, that cell.
Cell* open_loop() {
    Cell* base = stack::mark_loop(&words::global::body);
    stack::push_cell();
    return base;
}

// Takes the loop's own exit. After continue the stack is put back on the
// loop frame, the iteration's value being unset!.
Turn take_exit(uint32_t code, Cell* base) {
    switch (code) {
    case 0:
        return Turn::normal;
    case stack::EXIT_BREAK:
        stack::pending = 0;
        return Turn::broke;
    case stack::EXIT_CONTINUE:
        stack::pending = 0;
        stack::arguments = base;
        make_unset(base);
        stack::top = base + 1;
        return Turn::continued;
    default:
        return Turn::passed;
    }
}

// Evaluates a block of the loop (a cell below its frame) from a stack cut
// back to the frame's base, which receives the block's value.
#if defined(__OPTIMIZE__)
[[gnu::always_inline]]
#endif
inline Turn
run_block(const Cell* blk, Cell* base) {
    uint32_t code;
    try {
        stack::top = base;
        if (type_of(blk) == TYPE_BLOCK)
            interpreter::eval_loop_block(blk, base);
        else
            interpreter::eval_block(blk, true);
        code = stack::pending;
    } catch (const stack::Unwind& u) {
        if (u.code != stack::EXIT_BREAK && u.code != stack::EXIT_CONTINUE) throw;
        code = u.code;
    }
    return take_exit(code, base);
}

// The state a loop's steps share with run_steps. A break or continue
// raised by code a step runs (a watched word's handler) is the loop's as
// much as one raised by the body: the stacks are already back on the loop's
// frame when it arrives.
struct Steps {};

// Runs the loop's body (a cell below its frame) after each step until a
// step ends the loop or an exit other than continue does (see
// interpreter::run_loop). S: the steps' state, derived from Steps.
template <class S> Turn run_steps(const Cell* body, Cell* base, bool (*step)(void*), S* steps) {
    for (;;) {
        uint32_t code;
        try {
            code = interpreter::run_loop(body, base, step, steps);
        } catch (const stack::Unwind& u) {
            if (u.code != stack::EXIT_BREAK && u.code != stack::EXIT_CONTINUE) throw;
            code = u.code;
        }
        Turn turn = take_exit(code, base);
        if (turn != Turn::continued) return turn;
    }
}

// Pops the loop frame. After break the native's result slot already holds
// the break value; otherwise the frame's result cell becomes the result.
void close_loop(Turn turn) {
    if (turn == Turn::broke)
        stack::unwind();
    else
        stack::unwind_last();
}

// ---------------------------------------------------------------------------
// Loop steps
// ---------------------------------------------------------------------------

// One step of foreach with one word: the value at the cursor (a block's
// cell, any other series' `pick series 1`), then the cursor moves on.
// False at the end. May collect.
bool foreach_next(Cell* cursor, Cell* word) {
    if (is_any_block(type_of(cursor))) {
        // A block's cell is the value itself; a word of a context that is
        // no object's takes it with a plain store.
        uint32_t at = cursor->data1;
        if (at >= block::abs_length(cursor)) return false;
        const Cell* cell = block::ms_abs_at(cursor, at);
        // Two lines ahead: a body that touches memory all over (a large
        // map!, fresh strings) otherwise stalls on the block every fourth
        // value. A prefetch past the tail reads nothing.
        __builtin_prefetch(cell + 8);
        Cell value = *cell;
        // The cursor moves on before the word is set: a break or continue
        // raised by a watched word's handler leaves the step done.
        cursor->data1 = at + 1;
        if (!context::set_plain(word, &value)) {
            Cell* mark = stack::top;
            word::set(word, stack::push(&value));
            stack::top = mark;
        }
        return true;
    }
    if (series::ms_tail_q(cursor)) return false;
    Cell* mark = stack::top;
    Cell* value = push_pick(cursor, 1);
    cursor->data1++;
    word::set(word, value);
    stack::top = mark;
    return true;
}

// For i = 1 .. n sets word i of the block to `pick series i`.
void set_many_picks(Cell* words, Cell* series, int32_t n) {
    Cell* mark = stack::top;
    for (int32_t i = 0; i < n; i++) {
        Cell* value = push_pick(series, i + 1);
        word::set(push_word(words, i), value);
        stack::top = mark;
    }
}

// A map! step: the next live entry's key (a word key as word!) and value;
// false when none is left.
bool map_next(Cell* cursor, Cell* words) {
    uint32_t at = cursor->data1;
    uint32_t length = block::abs_length(cursor);
    while (at + 1 < length && block::ms_abs_at(cursor, at + 1)->header == TYPE_NONE_ID) at += 2;
    if (at + 1 >= length) return false;
    Cell* mark = stack::top;
    Cell* key = stack::push(block::ms_abs_at(cursor, at));
    if (type_of(key) == TYPE_SET_WORD) set_type(key, TYPE_WORD);
    Cell* value = stack::push(block::ms_abs_at(cursor, at + 1));
    cursor->data1 = at + 2;
    word::set(push_word(words, 0), key);
    word::set(push_word(words, 1), value);
    stack::top = mark;
    return true;
}

// One step of foreach with a block of n words. May collect.
bool foreach_next_block(Cell* cursor, Cell* words, int32_t n) {
    if (series::ms_tail_q(cursor)) return false;
    uint32_t t = type_of(cursor);
    if (t == TYPE_MAP) return map_next(cursor, words);
    // The words are set from a copy at the chunk, the cursor having moved
    // on (see foreach_next).
    Cell* mark = stack::top;
    Cell* from = stack::push(cursor);
    cursor->data1 += static_cast<uint32_t>(n);
    if (is_any_block(t))
        set_many(words, from, n, false, false, false);
    else
        set_many_picks(words, from, n);
    stack::top = mark;
    return true;
}

bool next_chunk(Cell* cursor, Cell* words, int32_t n) {
    if (type_of(words) == TYPE_BLOCK) return foreach_next_block(cursor, words, n);
    return foreach_next(cursor, words);
}

// The number of words a step assigns: a block's length, at least 1 and
// exactly 2 over a map!; a single word cannot take a map!'s entries.
int32_t chunk_size(const Cell* words, const Cell* series) {
    bool map = type_of(series) == TYPE_MAP;
    if (type_of(words) != TYPE_BLOCK) {
        if (map) fire(err::invalid_arg, words);
        return 1;
    }
    int32_t n = block::rs_length_q(words);
    if (n < 1 || (map && n != 2)) fire(err::invalid_arg, words);
    return n;
}

// After a remove-each body whose value was true: the chunk just visited
// goes, and the cursor stays where the next chunk now begins.
void remove_chunk(Cell* cursor, int32_t n) {
    Cell* mark = stack::top;
    cursor->data1 -= static_cast<uint32_t>(n);
    Cell* part = n == 1 ? nullptr : make_integer(stack::push_cell(), n);
    uint32_t index = actions::remove(cursor, part, nullptr)->data1;
    cursor->data1 = index;
    stack::top = mark;
}

// ---------------------------------------------------------------------------
// Conditionals
// ---------------------------------------------------------------------------

void if_star() {
    Cell* args = stack::arguments;
    if (logic::truthy(args))
        interpreter::eval_block(args + 1, true);
    else
        result_none();
}

void unless_star() {
    Cell* args = stack::arguments;
    if (logic::truthy(args))
        result_none();
    else
        interpreter::eval_block(args + 1, true);
}

void either_star() {
    Cell* args = stack::arguments;
    interpreter::eval_block(args + (strict_true(args) ? 1 : 2), true);
}

// any and all evaluate one expression at a time, each value pushed above
// the block argument, which stays in place until the result replaces it.
void any_star() {
    Cell* conds = stack::arguments;
    for (int32_t pos = start_of(conds); pos < tail_of(conds);) {
        pos = interpreter::eval_single(conds, pos, tail_of(conds), true);
        if (stack::pending) return;
        Cell* value = stack::top - 1;
        if (logic::truthy(value)) {
            stack::set_last_keep(value);
            return;
        }
        stack::top = value;
    }
    result_none();
}

void all_star() {
    Cell* conds = stack::arguments;
    int32_t pos = start_of(conds);
    if (pos >= tail_of(conds)) return result_none();
    while (pos < tail_of(conds)) {
        stack::top = conds + 1;
        pos = interpreter::eval_single(conds, pos, tail_of(conds), true);
        if (stack::pending) return;
        if (!logic::truthy(stack::top - 1)) return result_none();
    }
    stack::set_last_keep(stack::top - 1);
}

// A match needs the value's exact datatype (1 never matches 1.0) and the
// compare action's equality; the first block after the matching item is
// evaluated. A match with no block after it gives none, /default unused.
void switch_star(int32_t default_) {
    Cell* args = stack::arguments;
    uint32_t t = type_of(args);
    Cell* cases = args + 1;
    if (t != TYPE_BLOCK) {
        for (int32_t i = start_of(cases); i < tail_of(cases); i++) {
            if (type_of(block::ms_abs_at(cases, i)) != t) continue;
            Cell* item = stack::push(block::ms_abs_at(cases, i));
            bool equal = actions::compare_star(args, item, COMP_EQUAL);
            stack::top = item;
            if (!equal) continue;
            for (int32_t j = i + 1; j < tail_of(cases); j++) {
                if (type_of(block::ms_abs_at(cases, j)) != TYPE_BLOCK) continue;
                interpreter::eval_block(stack::push(block::ms_abs_at(cases, j)), true);
                return;
            }
            return result_none();
        }
    }
    if (default_ >= 0)
        interpreter::eval_block(args + default_, true);
    else
        result_none();
}

// Condition / body pairs; a body that is not a block is evaluated as one
// expression. With /all every pair is tried, and the result is that of the
// last condition tested: its body's value when it was true, else none.
void case_star(int32_t all) {
    Cell* args = stack::arguments;
    Cell* cases = stack::push(args);
    bool matched = false;
    for (int32_t pos = start_of(cases); pos < tail_of(cases);) {
        if (all >= 0) matched = false;
        stack::top = cases + 1;
        pos = interpreter::eval_single(cases, pos, tail_of(cases), true);
        if (stack::pending) return;
        if (pos >= tail_of(cases))
            fire(err::need_value, stack::push(word::from_symbol(words::case_)));
        if (!strict_true(stack::top - 1)) {
            pos++;
            continue;
        }
        stack::top = cases + 1;
        Cell* next = block::ms_abs_at(cases, pos);
        if (type_of(next) == TYPE_BLOCK) {
            interpreter::eval_block(stack::push(next), false);
            pos++;
        } else {
            pos = interpreter::eval_single(cases, pos, tail_of(cases), true);
        }
        if (stack::pending) return;
        *args = *(stack::top - 1);
        if (all < 0) {
            stack::top = args + 1;
            return;
        }
        matched = true;
    }
    if (!matched) make_none(args);
    stack::top = args + 1;
}

// ---------------------------------------------------------------------------
// Loops
// ---------------------------------------------------------------------------

// The condition block runs under the loop frame too, but break and continue
// may not leave it.
void while_star() {
    Cell* args = stack::arguments;
    Cell* cond = stack::push(args);
    Cell* body = stack::push(args + 1);
    Cell* base = open_loop();
    for (;;) {
        Turn turn = run_block(cond, base);
        if (turn == Turn::broke || turn == Turn::continued) fire(err::while_cond);
        if (turn == Turn::passed) return;
        if (!strict_true(base)) break;
        turn = run_block(body, base);
        if (turn == Turn::passed) return;
        if (turn == Turn::broke) break;
    }
    stack::unwind();
    Cell unset;
    stack::set_last_keep(make_unset(&unset));
}

void until_star() {
    Cell* body = stack::push(stack::arguments);
    Cell* base = open_loop();
    Turn turn;
    do {
        turn = run_block(body, base);
        if (turn == Turn::passed) return;
        if (turn == Turn::broke) break;
    } while (turn == Turn::continued || !strict_true(base));
    close_loop(turn);
}

// Counts are integers; a float! is truncated toward zero, and one outside
// the 32-bit range (NaN and the infinities included) raises out-of-range
// instead of being cast.
struct LoopSteps : Steps {
    int32_t left;
};
bool loop_step(void* data) {
    auto* s = static_cast<LoopSteps*>(data);
    return s->left-- > 0;
}

void loop_star() {
    Cell* args = stack::arguments;
    int32_t count = integer::get_int(args);
    if (count < 1) return result_none();
    Cell* body = stack::push(args + 1);
    Cell* base = open_loop();
    LoopSteps steps;
    steps.left = count;
    Turn turn = run_steps(body, base, loop_step, &steps);
    if (turn == Turn::passed) return;
    close_loop(turn);
}

// The word is set in its own context (it is not local to the loop) and
// keeps the last count afterwards.
struct RepeatSteps : Steps {
    Cell* word;
    Cell* counter;
    int64_t next;
    int64_t last;
};
bool repeat_step(void* data) {
    auto* s = static_cast<RepeatSteps*>(data);
    if (s->next > s->last) return false;
    // The count is built in a local cell and stored from registers: a
    // store through the stack cell followed by its 16-byte reload stalls
    // on every step. The stack cell serves the general setter, which may
    // run Mox code.
    Cell n;
    make_integer(&n, static_cast<int32_t>(s->next++));
    if (!context::set_plain(s->word, &n)) word::set(s->word, &(*s->counter = n));
    return true;
}

void repeat_star() {
    Cell* args = stack::arguments;
    int32_t count = integer::get_int(args + 1);
    if (count < 1) return result_none();
    Cell* word = stack::push(args);
    Cell* body = stack::push(args + 2);
    Cell* counter = stack::push_cell();
    Cell* base = open_loop();
    RepeatSteps steps;
    steps.word = word;
    steps.counter = counter;
    steps.next = 1;
    steps.last = count;
    Turn turn = run_steps(body, base, repeat_step, &steps);
    if (turn == Turn::passed) return;
    close_loop(turn);
}

void forever_star() {
    Cell* body = stack::push(stack::arguments);
    Cell* base = open_loop();
    Turn turn;
    do {
        turn = run_block(body, base);
        if (turn == Turn::passed) return;
    } while (turn != Turn::broke);
    close_loop(turn);
}

struct ForeachSteps : Steps {
    Cell* cursor;
    Cell* words;
    int32_t n;
};
bool foreach_step(void* data) {
    auto* s = static_cast<ForeachSteps*>(data);
    return next_chunk(s->cursor, s->words, s->n);
}

void foreach_star() {
    Cell* args = stack::arguments;
    int32_t n = chunk_size(args, args + 1);
    Cell* cursor = stack::push(args + 1);
    Cell* words = stack::push(args);
    Cell* body = stack::push(args + 2);
    Cell* base = open_loop();
    ForeachSteps steps;
    steps.cursor = cursor;
    steps.words = words;
    steps.n = n;
    Turn turn = run_steps(body, base, foreach_step, &steps);
    if (turn == Turn::passed) return;
    close_loop(turn);
}

// The word's own value moves through the series; the body may move it too,
// but not onto another series. Unless the loop was broken, the word is put
// back at the starting position.
void forall_star() {
    Cell* args = stack::arguments;
    Cell* word = stack::push(args);
    Cell* start = stack::push(word::get_checked(word));
    if (!series_type_q(type_of(start))) fire_expect_arg(0, type_of(start));
    Cell* body = stack::push(args + 1);
    Cell* base = open_loop();
    Turn turn = Turn::normal;
    if (!series::ms_tail_q(start)) {
        for (;;) {
            turn = run_block(body, base);
            if (turn == Turn::passed) return;
            if (turn == Turn::broke) break;
            Cell* now = word::get_value(word);
            if (!series_type_q(type_of(now)) || now->data2 != start->data2)
                fire(err::bad_loop_series, stack::push(now));
            now->data1++;
            if (series::ms_tail_q(now)) break;
        }
    }
    if (turn != Turn::broke) word::set(word, start);
    close_loop(turn);
}

// The result is the series at its starting position, however the loop
// ended.
void remove_each_star() {
    Cell* args = stack::arguments;
    int32_t n = chunk_size(args, args + 1);
    Cell* cursor = stack::push(args + 1);
    uint32_t start = cursor->data1;
    Cell* words = stack::push(args);
    Cell* body = stack::push(args + 2);
    Cell* base = open_loop();
    for (;;) {
        // A break or continue from a watched word's handler is the loop's
        // (see Steps).
        bool more;
        try {
            more = next_chunk(cursor, words, n);
        } catch (const stack::Unwind& u) {
            if (u.code != stack::EXIT_BREAK && u.code != stack::EXIT_CONTINUE) throw;
            if (take_exit(u.code, base) == Turn::broke) break;
            continue;
        }
        if (!more) break;
        Turn turn = run_block(body, base);
        if (turn == Turn::passed) return;
        if (turn == Turn::broke) break;
        if (turn == Turn::normal && logic::truthy(base)) remove_chunk(cursor, n);
    }
    Cell data = *cursor;
    stack::unwind();
    data.data1 = start;
    stack::set_last_keep(&data);
}

} // namespace

// ---------------------------------------------------------------------------
// Shared with set
// ---------------------------------------------------------------------------

void set_many(Cell* words, Cell* source, int32_t n, bool any, bool only, bool some) {
    Cell* mark = stack::top;
    uint32_t t = type_of(source);
    bool sequence = !only && (is_any_block(t) || t == TYPE_MAP);
    // Every word and value is checked before the first assignment.
    if (sequence) {
        for (int32_t i = 0; i < n; i++) {
            Cell* word = push_word(words, i);
            if (!any && type_of(push_pick(source, i + 1)) == TYPE_UNSET)
                fire(err::need_value, word);
            stack::top = mark;
        }
    }
    for (int32_t i = 0; i < n; i++) {
        Cell* value = sequence ? push_pick(source, i + 1) : source;
        if (!some || type_of(value) != TYPE_NONE) word::set(push_word(words, i), value);
        stack::top = mark;
    }
}

void register_control() { MOX_NATIVES_CONTROL(MOX_NATIVE_REGISTER) }

} // namespace mox::natives
