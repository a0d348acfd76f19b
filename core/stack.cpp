// The evaluation stack (see stack.h): cells, frames, unwinding and the
// non-local exits.
#include "core/stack.h"

#include <cassert>
#include <cstdlib>

#include "core/collector.h"
#include "core/context.h"
#include "core/cycles.h"
#include "core/evaluator-hooks.h"
#include "core/memory.h"
#include "core/root.h"
#include "core/symbol.h"
#include "core/value.h"

namespace mox::stack {

uint32_t exit_code = 0;
Trap trap = {0, 0};
Cell* arguments = nullptr;
Cell* top = nullptr;
Cell* bottom = nullptr;
Cell* cell_limit = nullptr;
Frame* ctop = nullptr;
Frame* frame_bottom = nullptr;
Frame* frame_limit = nullptr;
Frame* throw_position = nullptr;
void (*trace_error)(const Cell* error) = nullptr;

namespace {

uint32_t body_symbol = 0;
uint32_t anon_symbol = 0;

inline ref32 ref_of(Cell* c) { return arena::ref(c); }
inline Cell* cell_at(ref32 r) { return arena::at<Cell>(r); }

// Frames named <body> or <anon>, and frames pushed without a name, are
// never named in reports.
inline bool internal(uint32_t symbol) {
    return symbol == 0 || symbol == body_symbol || symbol == anon_symbol;
}

// The context's values reference (data2 of its record).
inline uint32_t* values_ref(node_t context) { return &memory::buffer_of(context)->cells()->data2; }

// Restores a function context's values when its frame is popped.
inline void restore_context(Frame* f) {
    if (f->type() == FRAME_FUNCTION && f->function_context)
        *values_ref(f->function_context) = f->saved_values;
}

// The room kept back at each stack's end lets the calls that filled the
// stack (a try among them) keep their cells intact while the error is built.
constexpr ptrdiff_t kCellRoom = CELL_ROOM;
constexpr ptrdiff_t kFrameRoom = FRAME_ROOM;
bool overflowing = false;

inline bool cells_full() { return top + 1 >= cell_limit - (overflowing ? 0 : kCellRoom); }
inline bool frames_full() { return ctop >= frame_limit - (overflowing ? 0 : kFrameRoom); }

[[noreturn]] void overflow() {
    // Building the error overflowed the room kept for it.
    if (overflowing) sys_quit(19, 0);
    overflowing = true;
    struct Reset {
        ~Reset() { overflowing = false; }
    } reset;
    cycles::reset();
    fire(err::stack_overflow);
}

inline Frame* push_frame(uint32_t flags, node_t context) {
    if (frames_full()) overflow();
    Frame* f = ctop++;
    f->flags = flags;
    f->saved_arguments = ref_of(arguments);
    f->context = context;
    f->function_context = 0;
    f->saved_values = 0;
    arguments = top;
    return f;
}

inline uint32_t word_symbol(const Cell* word) { return word ? word->data2 & 0xFFFFFF : 0; }
inline node_t word_context(const Cell* word) { return word ? word->data1 : 0; }

Frame* push_function_frame(const Cell* word, node_t function_context, uint32_t bits) {
    Frame* f = push_frame(bits | word_symbol(word), word_context(word));
    f->function_context = function_context;
    f->saved_values = function_context ? *values_ref(function_context) : 0;
    return f;
}

// Pops one frame; a function frame first restores its context's values.
inline Frame* pop_frame() {
    Frame* f = --ctop;
    restore_context(f);
    return f;
}

} // namespace

void init(node_t cells, node_t frames) {
    memory::SeriesBuffer* cb = memory::buffer_of(cells);
    memory::SeriesBuffer* fb = memory::buffer_of(frames);
    bottom = reinterpret_cast<Cell*>(cb->data());
    cell_limit = reinterpret_cast<Cell*>(cb->end());
    arguments = top = bottom;
    frame_bottom = reinterpret_cast<Frame*>(fb->data());
    frame_limit = frame_bottom + fb->size / sizeof(Frame);
    ctop = frame_bottom;
    throw_position = nullptr;
}

void init_symbols() {
    body_symbol = symbol::make("<body>");
    anon_symbol = symbol::make("<anon>");
}

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

Cell* mark_checked(const Cell* word, uint32_t bits) {
    push_frame(bits | word_symbol(word), word_context(word));
    return arguments;
}

Cell* mark_func(const Cell* word, node_t function_context) {
    push_function_frame(word, function_context, FRAME_FUNCTION << 24);
    return arguments;
}

Cell* mark_interp_func_checked(const Cell* word, node_t function_context) {
    push_function_frame(word, function_context, (FRAME_FUNCTION << 24) | FRAME_INTERP);
    return arguments;
}

Cell* mark_func_entry(const Cell* word, node_t function_context) {
    if (function_context) *values_ref(function_context) = ref_of(arguments);
    return mark(word, 0x12000000);
}

void set_ctop(Frame* frame) { ctop = frame; }

uint32_t top_type() { return type_of(top - 1); }

Cell* get_top() { return top > bottom ? top - 1 : bottom; }

bool eval_q(Frame* from, bool single) {
    Frame* f = from ? from : ctop;
    while (f > frame_bottom) {
        f--;
        if (f->flags & FRAME_INTERP) return true;
        if (single) return false;
    }
    return false;
}

void set_body_flag(bool on) {
    Frame* f = ctop - 1;
    if (on)
        f->flags |= FRAME_BODY;
    else
        f->flags &= ~FRAME_BODY;
}

void set_interp_flag() { (ctop - 1)->flags |= FRAME_INTERP; }

Frame* flag_parent_body() {
    if (ctop - 2 < frame_bottom) return nullptr;
    Frame* f = ctop - 2;
    if (f->flags & FRAME_BODY) return nullptr;
    f->flags |= FRAME_BODY;
    return f;
}

void unwind_ctx_drop() {
    Frame* f = pop_frame();
    arguments = cell_at(f->saved_arguments);
    top = arguments;
}

void unwind_drop() {
    Frame* f = --ctop;
    arguments = cell_at(f->saved_arguments);
    top = arguments;
}

void unwind_last() {
    Cell* result = arguments;
    unwind();
    *arguments = *result;
}

void unwind_ctx_last() {
    Cell* result = arguments;
    unwind_ctx();
    *arguments = *result;
}

void unwind_reset() {
    Frame* f = pop_frame();
    if (ctop == frame_bottom) {
        arguments = top = bottom;
    } else {
        top = arguments;
        arguments = cell_at(f->saved_arguments);
    }
}

void unwind_to(uint32_t type, bool keep) {
    Frame* found = nullptr;
    Frame* above = nullptr; // the frame popped last before the one found
    while (ctop > frame_bottom) {
        Frame* f = ctop - 1;
        if (f->type() == type || f->type() == FRAME_TRY_ALL) {
            found = f;
            break;
        }
        pop_frame();
        above = f;
    }
    if (!found) {
        arguments = top = bottom;
        return;
    }
    if (keep && !above) {
        top = arguments + 1;
        return;
    }
    Cell* old_arguments = arguments;
    top = old_arguments + 1;
    arguments = (keep && above) ? cell_at(above->saved_arguments) : cell_at(found->saved_arguments);
}

void unwind_to_last(uint32_t type) {
    Cell* result = arguments;
    Cell saved = *result;
    unwind_to(type, false);
    *arguments = saved;
    top = arguments + 1;
}

// ---------------------------------------------------------------------------
// Cells
// ---------------------------------------------------------------------------

Cell* push_cell_checked() {
    if (cells_full()) overflow();
    top->header = TYPE_UNSET;
    return top++;
}

Cell* push(const Cell* value) {
    Cell copy = *value; // the value may sit in the cell being reused
    Cell* c = push_cell();
    *c = copy;
    return c;
}

void pop(uint32_t n) { top = (top - bottom) < static_cast<ptrdiff_t>(n) ? bottom : top - n; }

Cell* reset() {
    top = arguments;
    return arguments;
}

Cell* keep() {
    top = arguments + 1;
    return arguments;
}

void set_last(const Cell* value) { copy_cell(value, arguments); }

void set_last_keep(const Cell* value) {
    Cell copy = *value;
    top = arguments + 1;
    *arguments = copy;
}

void set_last_if_error() {
    if (top > bottom && type_of(top - 1) == TYPE_ERROR) *arguments = *(top - 1);
    top = arguments + 1;
}

// ---------------------------------------------------------------------------
// Reports
// ---------------------------------------------------------------------------

void get_call(Cell* out) {
    Frame* f = throw_position ? throw_position : ctop;
    throw_position = nullptr;
    while (f > frame_bottom) {
        f--;
        if (!internal(f->symbol())) {
            *out = *context::resolve_word(f->context, f->symbol());
            return;
        }
    }
    *out = *context::resolve_word(0, symbol::make("<not-found>"));
}

bool is_internal(const Frame* frame) { return internal(frame->symbol()); }

void collect_calls(node_t block) {
    collector::Root keep_block(&block);
    for (Frame* f = ctop - 1; f > frame_bottom; f--) {
        if (internal(f->symbol())) continue;
        Cell word = *context::resolve_word(f->context, f->symbol());
        *memory::alloc_tail(block) = word;
        make_integer(memory::alloc_tail(block),
                     static_cast<int32_t>(cell_at(f->saved_arguments) - bottom));
    }
}

bool reported(const Frame* f, int level) {
    if (internal(f->symbol())) return false;
    if (level > 1) return true;
    Cell* value = context::symbol_value(f->context, f->symbol());
    return value && type_of(value) == TYPE_FUNCTION;
}

void collect_frames(int level, node_t block, Frame* end) {
    collector::Root keep_block(&block);
    for (Frame* f = frame_bottom; f < end && f < ctop; f++) {
        if (!reported(f, level)) continue;
        Cell word = *context::resolve_word(0, f->symbol());
        *memory::alloc_tail(block) = word;
    }
}

void gc_mark_frames() {
    for (Frame* f = frame_bottom; f < ctop; f++) {
        if (f->context) collector::mark_block(&f->context);
        if (f->function_context) {
            collector::mark_block(&f->function_context);
            memory::SeriesBuffer* b = memory::buffer_of(f->function_context);
            bool on_stack = b->cells()->header & FLAG_CONTEXT_ON_STACK;
            if (f->saved_values && !on_stack) collector::mark_block(&f->saved_values);
        }
    }
}

// ---------------------------------------------------------------------------
// Non-local exits
// ---------------------------------------------------------------------------

void raise(uint32_t code) {
    exit_code = code;
    throw Unwind{code};
}

void raise_pending() {
    if (!pending) return;
    uint32_t code = pending;
    pending = 0;
    raise(code);
}

namespace {

// Whether the running call was made by the interpreter, which passes an exit
// on by returning.
inline bool by_return() { return ctop > frame_bottom && ((ctop - 1)->flags & FRAME_INTERP); }

// Hands the exit to its handler: by return when the caller takes it that
// way, else as the exception.
void leave(uint32_t code, bool returning) {
    exit_code = code;
    if (returning) {
        pending = code;
        return;
    }
    throw Unwind{code};
}

} // namespace

void throw_error(Cell* error) {
    Cell err = *error;
    collector::Root keep_err(&err);
    if (ctop > frame_bottom) {
        // The calls are named now: unwinding pops their frames, and the
        // collector no longer keeps the contexts of popped frames.
        raising::hooks.locate(&err);
        if (trace_error) trace_error(&err);
        Cell* remembered = top;
        unwind_to(FRAME_TRY, false);
        if (ctop > frame_bottom) {
            Frame* found = ctop - 1;
            if (found->type() == FRAME_TRY || found->type() == FRAME_TRY_ALL) {
                ctop--;
                top = remembered > top ? remembered : top;
                *push_cell() = err;
                raise(EXIT_ERROR);
            }
        }
    }
    // Nothing catches it: the error becomes the result and is shown.
    *arguments = err;
    raising::hooks.report_uncaught(&err);
    std::abort();
}

void throw_break(bool has_value, bool is_continue) {
    bool returning = by_return();
    Cell* saved_args = arguments;
    Cell* saved_top = top;
    Frame* saved_ctop = ctop;
    Cell value;
    if (has_value)
        value = *arguments;
    else
        make_unset(&value);
    for (Frame* f = ctop - 1; f >= frame_bottom; f--) {
        if (f->type() == FRAME_TRY_ALL) break;
        if (f->type() == FRAME_LOOP) {
            while (ctop - 1 > f) pop_frame();
            arguments = cell_at(f->saved_arguments);
            top = arguments;
            *arguments = value;
            top = arguments + 1;
            return leave(is_continue ? EXIT_CONTINUE : EXIT_BREAK, returning);
        }
    }
    arguments = saved_args;
    top = saved_top;
    ctop = saved_ctop;
    fire(is_continue ? err::continue_ : err::break_);
}

void throw_return(bool has_value) {
    bool returning = by_return();
    Cell* saved_args = arguments;
    Cell* saved_top = top;
    Frame* saved_ctop = ctop;
    Cell value;
    if (has_value)
        value = *arguments;
    else
        make_unset(&value);
    for (Frame* f = ctop - 1; f >= frame_bottom; f--) {
        if (f->type() == FRAME_TRY_ALL) break;
        if (f->flags & FRAME_BODY) {
            // A body frame's arguments are the function's, saved when it was
            // pushed; a function frame's own are saved by the frame above.
            Cell* own = f == ctop - 1 ? arguments : cell_at((f + 1)->saved_arguments);
            while (ctop - 1 > f) pop_frame();
            arguments = f->type() == FRAME_FUNCTION ? own : cell_at(f->saved_arguments);
            *arguments = value;
            top = arguments + 1;
            return leave(has_value ? EXIT_RETURN : EXIT_EXIT, returning);
        }
    }
    arguments = saved_args;
    top = saved_top;
    ctop = saved_ctop;
    fire(err::return_);
}

void throw_value(uint32_t code, const Cell* value, const Cell* name) {
    bool returning = by_return();
    Cell v = *value;
    Cell n = name ? *name : Cell{TYPE_NONE, 0, 0, 0};
    if (!throw_position) throw_position = ctop;
    Cell* saved_args = arguments;
    Cell* saved_top = top;
    Frame* saved_ctop = ctop;
    for (Frame* f = ctop - 1; f >= frame_bottom; f--) {
        if (f->type() == FRAME_TRY_ALL) break;
        if (f->type() == FRAME_CATCH) {
            while (ctop - 1 > f) pop_frame();
            arguments = top = cell_at(f->saved_arguments);
            *push_cell() = v;
            *push_cell() = n;
            return leave(code, returning);
        }
    }
    arguments = saved_args;
    top = saved_top;
    ctop = saved_ctop;
    fire(err::throw_, &v);
}

} // namespace mox::stack
