// Interpreter trace events: while `do/trace` runs, the interpreter reports
// what it does (expressions fetched, values pushed, assignments, calls and
// returns, block entry and exit, errors, throws and catches) to a callback
// function written in the language. The tracer, profiler and debugger of the
// library are built on it.
//
// Every firing site in the interpreter is written
//
//     if (trace::active) trace::fire(trace::PUSH, block, position, value, nullptr);
//
// so that untraced evaluation pays one test per site. The callback runs with
// tracing off, and so do the bodies of boot-image functions and functions
// whose spec carries the no-trace attribute (see FunctionScope).
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/stack.h"

namespace mox::trace {

// Event bits; the callback's mask selects among them.
enum Event : uint32_t {
    INIT = 0x1,     // a traced evaluation starts
    END = 0x2,      // it ends (also by an error)
    PROLOG = 0x4,   // before an interpreted function body runs
    EPILOG = 0x8,   // after it
    ENTER = 0x10,   // entering a block (block or path evaluation)
    EXIT = 0x20,    // leaving it, with the result
    OPEN = 0x40,    // a call begins, before its arguments are fetched
    RETURN = 0x80,  // a call has returned, with its result
    FETCH = 0x100,  // a value is fetched from the code
    PUSH = 0x200,   // a value is produced onto the stack
    SET = 0x400,    // a set-word or set-path is about to be assigned
    CALL = 0x800,   // a call's arguments are complete, the callee runs next
    ERROR = 0x1000, // an error is raised
    THROW = 0x2000, // a throw is raised
    CATCH = 0x4000, // a throw is caught
    EXPR = 0x8000,  // a block-level expression is complete
};
constexpr uint32_t DEFAULT_MASK = 0x0001FFFF;

// Non-zero while events are delivered or the general path is asked for; the
// firing sites and the interpreter's shortcuts test it first. DELIVER: events
// go to the callback. GENERAL: nothing is delivered, but the interpreter
// takes its general path everywhere, as it does for traced code (set from
// the environment variable MOX_GENERAL_EVAL=1 at start-up, so that the tests
// can run every program both ways and compare). The tracer's own switches
// change DELIVER only.
constexpr uint32_t DELIVER = 1;
constexpr uint32_t GENERAL = 2;
inline constexpr uint32_t& active = stack::trap.tracing;
// Non-zero while a do/trace runs (active may be off meanwhile).
extern uint32_t session;

// Makes the event words and the callback's root cell.
// Set by the library's tracer body: delivers an event to the library's own
// collector without an interpreter call, or answers false (fn is another
// function) for the call to go through the interpreter. May collect.
extern bool (*collect_event)(const Cell* fn, Cell* args);

void init();

// The events a callback wants: when its body starts with a block, the bits
// of the event words listed there (other words add nothing); else every
// event.
uint32_t event_mask(const Cell* callback);

// Delivers one event to the callback when its bit is in the mask: the
// event word, the code block at its head (or none), position as the 0-based
// index in it (-1 when code is null or position lies outside it), the value
// (or none), ref
// for the set, prolog, epilog, call and return events (else none), and a
// pair of the stack indexes of the running call's arguments and of the top.
// The traced code sees the stacks as they were. A non-local exit or an error
// of the callback goes on from here. May collect.
void fire(uint32_t event, const Cell* code, int32_t position, const Cell* value, const Cell* ref);

// do/trace: evaluates the block (its value becomes the running call's
// result) with the callback installed, delivering init before and end after
// it, also when the code fails. May collect.
void run(const Cell* code, const Cell* callback);

// Turns event delivery on or off (on only while a session runs) for the
// traced code, up to the do/trace that runs it: the state each scope gives
// back to traced code (code not inside a boot-image function) is changed,
// so that `trace false` still holds once the library call, and the
// functions around it, have returned. Gives whether delivery was on.
bool deliver(bool on);

// Registers the routines of the tracers.
void register_routines();

// Around the body of a function: off for boot-image functions and the
// no-trace attribute, on for the trace attribute while a session runs;
// the previous state comes back when the scope ends, however it ends. The
// scopes form a chain, innermost first, that deliver() walks; do/trace
// starts a scope of its own (session_start), so the walk never crosses a
// traced evaluation.
class FunctionScope {
  public:
    FunctionScope(uint32_t function_header, bool boot_image, bool session_start = false)
        : saved_(active), boot_(boot_image), session_start_(session_start), outer_(innermost) {
        innermost = this;
        if (session) enter(function_header, boot_image);
    }
    ~FunctionScope() {
        active = saved_;
        innermost = outer_;
    }
    FunctionScope(const FunctionScope&) = delete;
    FunctionScope& operator=(const FunctionScope&) = delete;

  private:
    friend bool deliver(bool on);
    static void enter(uint32_t function_header, bool boot_image);
    static inline FunctionScope* innermost = nullptr;
    uint32_t saved_;
    bool boot_;
    bool session_start_;
    FunctionScope* outer_;
};

} // namespace mox::trace
