// The evaluation stack: a stack of value cells, on which arguments are passed
// and results returned, and a stack of frames, one per active call or
// protected region. Both live in fixed buffers made at start-up that never
// move and never grow, so C++ code may hold pointers to stack cells.
//
// Calling discipline: a caller marks a frame (which sets arguments = top),
// pushes the result slot and the arguments, runs the callee and pops the
// frame keeping the result, so that after any call exactly one new cell, the
// result, lies at the caller's top.
//
// Non-local exits (error, break, continue, return, exit, throw) first put the
// stacks in the state their handler expects, then transfer control to it.
// An error always travels as a C++ exception carrying the exit code
// (stack::Unwind). The other exits are taken in hot loops, where an
// exception would cost too much: when the call that raises one was made by
// the interpreter (its frame carries FRAME_INTERP), the exit is left in
// `pending` and the raising call returns normally; every caller that made
// the call through the interpreter returns at once while `pending` is set,
// up to the handler, which takes the exit whose code is its own. Code that
// calls the interpreter but cannot pass an exit on by returning (a sort
// comparator, a change handler) turns it into the exception with
// raise_pending. Handlers therefore take an exit either way: they test
// `pending` after their calls and catch Unwind, rethrowing what is not
// theirs. No exception may cross a frame of Windows code: window procedures
// and callbacks catch it there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/arena.h"
#include "core/cell.h"
#include "core/memory.h"

namespace mox::stack {

using arena::ref32;

// Exit codes; a handler catches the exits whose code is not above its level.
constexpr uint32_t EXIT_ERROR = 0x7FFFFFFF;
constexpr uint32_t EXIT_BREAK = 0x7FFFFFFE;
constexpr uint32_t EXIT_CONTINUE = 0x7FFFFFFD;
constexpr uint32_t EXIT_RETURN = 0x7FFFFFFC;
constexpr uint32_t EXIT_EXIT = 0x7FFFFFFB;
constexpr uint32_t EXIT_THROW = 0x7FFFFFFA;

struct Unwind {
    uint32_t code;
};

// The code of the exit being handled (kept in the system record).
extern uint32_t exit_code;
// What sends the interpreter off its direct paths, in one word that it
// tests once per expression and once after each call: an exit on its way
// to its handler by return (pending), and the evaluator's trace state
// (trace::active, which core keeps here without reading it).
struct alignas(8) Trap {
    uint32_t pending;
    uint32_t tracing;
};
extern Trap trap;
inline bool trapped() {
    uint64_t word;
    std::memcpy(&word, &trap, sizeof word);
    return word != 0;
}
// The exit on its way to its handler by return, or 0.
inline constexpr uint32_t& pending = trap.pending;

// Takes the pending exit when it has the given code.
inline bool take_pending(uint32_t code) {
    if (pending != code) return false;
    pending = 0;
    return true;
}
// Turns a pending exit into the exception (for callers that cannot return it).
void raise_pending();

// Frame types (bits 24-27 of the flags word).
enum FrameType : uint32_t {
    FRAME_FUNCTION = 1,
    FRAME_NATIVE = 2,
    FRAME_TRY = 4,
    FRAME_TRY_ALL = 5,
    FRAME_CATCH = 6,
    FRAME_EVAL = 7,
    FRAME_LOOP = 8,
};
// return and exit stop here: at a body's own evaluation frame, or at a
// function's frame when its body runs in that frame (the exit's value then
// goes to the function's first argument cell, its result).
constexpr uint32_t FRAME_BODY = 0x10000000;
// A conditional's frame whose chosen block runs in place: the block is in
// the frame's first argument cell.
constexpr uint32_t FRAME_BRANCH = 0x40000000;
constexpr uint32_t FRAME_INTERP = 0x80000000; // pushed by the interpreter

// The frame's name takes the low 24 bits of the flags word, so that any
// symbol of a long run still names its frame.
struct Frame {
    uint32_t flags; // type << 24 | symbol | body and interpreter bits
    ref32 saved_arguments;
    node_t context;          // context of the called word (a block node for self)
    node_t function_context; // function frames only, else 0
    ref32 saved_values;      // values reference of that context, restored on pop

    uint32_t type() const { return (flags >> 24) & 0xF; }
    uint32_t symbol() const { return flags & 0xFFFFFF; }
};
static_assert(sizeof(Frame) == 20);

extern Cell* arguments; // first argument of the running call, also its result
extern Cell* top;       // next free cell
extern Cell* bottom;
extern Cell* cell_limit;
extern Frame* ctop; // next free frame
extern Frame* frame_bottom;
extern Frame* frame_limit;
extern Frame* throw_position; // first unhandled throw's ctop, or null

constexpr uint32_t CELL_CAPACITY = 20000;
constexpr uint32_t FRAME_BUFFER_CELLS = 15000; // room for 12,000 frames

// Takes the two stack buffers (block nodes made at start-up).
void init(node_t cells, node_t frames);
// Caches the symbols of the internal frame names <body> and <anon> (once
// the symbol table exists).
void init_symbols();

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

// The last cells and frames of each stack are kept back for building and
// raising the stack-overflow error itself; the inline pushes below leave
// the checks near the ends to the out-of-line ones.
constexpr ptrdiff_t CELL_ROOM = 256;
constexpr ptrdiff_t FRAME_ROOM = 32;

// Pushes a frame named by the word's symbol, carrying its context; sets
// arguments = top and returns it. Overflow raises internal stack-overflow.
Cell* mark_checked(const Cell* word, uint32_t bits);
inline Cell* mark(const Cell* word, uint32_t bits) {
    if (ctop >= frame_limit - FRAME_ROOM) return mark_checked(word, bits);
    Frame* f = ctop++;
    f->flags = bits | (word ? word->data2 & 0xFFFFFF : 0);
    f->saved_arguments = arena::ref(arguments);
    f->context = word ? word->data1 : 0;
    f->function_context = 0;
    f->saved_values = 0;
    arguments = top;
    return arguments;
}
inline Cell* mark_native(const Cell* word) { return mark(word, 0x02000000); }
inline Cell* mark_try(const Cell* word) { return mark(word, 0x04000000); }
inline Cell* mark_try_all(const Cell* word) { return mark(word, 0x05000000); }
inline Cell* mark_catch(const Cell* word) { return mark(word, 0x06000000); }
inline Cell* mark_eval(const Cell* word) { return mark(word, 0x87000000); }
inline Cell* mark_loop(const Cell* word) { return mark(word, 0x08000000); }
inline Cell* mark_interp_native(const Cell* word) { return mark(word, 0x82000000); }
Cell* mark_interp_func_checked(const Cell* word, node_t function_context);
// The function context's values reference is saved in the frame and given
// back when the frame is popped.
inline Cell* mark_interp_func(const Cell* word, node_t function_context) {
    if (!function_context || ctop >= frame_limit - FRAME_ROOM)
        return mark_interp_func_checked(word, function_context);
    uint32_t saved = memory::buffer_of(function_context)->cells()->data2;
    mark(word, (FRAME_FUNCTION << 24) | FRAME_INTERP);
    (ctop - 1)->function_context = function_context;
    (ctop - 1)->saved_values = saved;
    return arguments;
}
Cell* mark_func(const Cell* word, node_t function_context);
// The body frame of a compiled function: the function context's values
// are pointed at the current arguments first.
Cell* mark_func_entry(const Cell* word, node_t function_context);

void set_ctop(Frame* frame);
inline Frame* top_frame() { return ctop - 1; }
uint32_t top_type();
Cell* get_top();
// True when a frame from the given one (ctop when null) down is an
// interpreter frame; with single, only the first frame below is tested.
bool eval_q(Frame* from, bool single);

void set_body_flag(bool on);
void set_interp_flag();
Frame* flag_parent_body();

// Popping frames.
inline void unwind() {
    Frame* f = --ctop;
    top = arguments + 1;
    arguments = arena::at<Cell>(f->saved_arguments);
}
// Pops a frame; a function frame first gives its context's values back.
inline void unwind_ctx() {
    Frame* f = --ctop;
    if (f->type() == FRAME_FUNCTION && f->function_context)
        memory::buffer_of(f->function_context)->cells()->data2 = f->saved_values;
    top = arguments + 1;
    arguments = arena::at<Cell>(f->saved_arguments);
}
void unwind_ctx_drop();
void unwind_drop();
void unwind_last();
void unwind_ctx_last();
void unwind_reset();
void unwind_to(uint32_t type, bool keep);
void unwind_to_last(uint32_t type);
inline void unwind_to_loop(bool keep) { unwind_to(FRAME_LOOP, keep); }

// ---------------------------------------------------------------------------
// Cells
// ---------------------------------------------------------------------------

// Reserves one cell at top (set to unset!) and returns it. The new cell is
// never stale: the collector may look at it before the caller fills it.
Cell* push_cell_checked();
inline Cell* push_cell() {
    if (top + 1 >= cell_limit - CELL_ROOM) return push_cell_checked();
    top->header = TYPE_UNSET;
    return top++;
}
Cell* push(const Cell* value);
void pop(uint32_t n);
Cell* reset();
Cell* keep();
void set_last(const Cell* value);
void set_last_keep(const Cell* value);
void set_last_if_error();

// ---------------------------------------------------------------------------
// Reports
// ---------------------------------------------------------------------------

// The word of the innermost call that is not internal (writes it to out).
void get_call(Cell* out);
// Frames named <body> or <anon> are internal and never named in reports.
bool is_internal(const Frame* frame);
// Whether reports of the given level name a frame: level 1 names function!
// calls only, higher levels every named call.
bool reported(const Frame* frame, int level);
void collect_calls(node_t block);
void collect_frames(int level, node_t block, Frame* end);
void gc_mark_frames();

// ---------------------------------------------------------------------------
// Non-local exits
// ---------------------------------------------------------------------------

[[noreturn]] void raise(uint32_t code);
// Records the error's where, near and active calls while their frames still
// exist, then unwinds to the nearest try frame.
[[noreturn]] void throw_error(Cell* error);
// Set by the tracer: sees every error thrown inside a call, before the
// unwinding.
extern void (*trace_error)(const Cell* error);
// These return (with the exit pending) when the raising call was made by
// the interpreter; otherwise they throw. Errors for a missing loop, function
// or catch are raised where the call was made.
void throw_break(bool has_value, bool is_continue);
void throw_return(bool has_value);
void throw_value(uint32_t code, const Cell* value, const Cell* name);

// ---------------------------------------------------------------------------
// Protected calls
// ---------------------------------------------------------------------------

// The frame a protected call runs under: a try frame stops errors only (the
// other exits pass it on their way to their handlers); a try-all frame
// stops everything: every exit, one that body leaves pending, and any C++
// exception besides (no exception may leave a window procedure or another
// callback of the system, and these run under try-all frames).
enum class Guard : uint8_t { errors, all };

// What a try-all guard returns for a C++ exception that is no exit.
constexpr uint32_t EXIT_FOREIGN = 0xFFFFFFFF;

// Runs body under a frame of its own, for C++ that runs language code and
// must get the stacks back whatever it did: afterwards top, arguments and
// the frames are as they were. An exit that reaches the frame ends body
// there; on_exit then runs with its code while the stacks are still as the
// raise left them (an error's value at top - 1) and may rethrow (throw;) to
// pass the exit on. Returns the code caught (EXIT_FOREIGN for another
// exception, on_exit not called), 0 when body ran to its end. May collect.
template <typename Body, typename OnExit>
uint32_t protect(Guard guard, Body&& body, OnExit&& on_exit) {
    Cell* saved_top = top;
    Cell* saved_arguments = arguments;
    Frame* saved_ctop = ctop;
    uint32_t code = 0;
    try {
        if (guard == Guard::all)
            mark_try_all(nullptr);
        else
            mark_try(nullptr);
        body();
    } catch (const Unwind& u) {
        code = u.code;
        on_exit(code);
    } catch (...) {
        if (guard != Guard::all) throw;
        code = EXIT_FOREIGN;
    }
    if (guard == Guard::all) pending = 0;
    set_ctop(saved_ctop);
    arguments = saved_arguments;
    top = saved_top;
    return code;
}

} // namespace mox::stack
