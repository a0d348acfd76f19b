// Interpreter trace events (see trace.h): the session state, the event mask
// of a callback, and the delivery of one event.
#include "evaluator/trace.h"

#include "core/collector.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/pair.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"

namespace mox::trace {

uint32_t active = 0;
uint32_t session = 0;

namespace {

// Event words by bit number.
const char* const event_names[] = {"init",  "end",    "prolog", "epilog", "enter", "exit",
                                   "open",  "return", "fetch",  "push",   "set",   "call",
                                   "error", "throw",  "catch",  "expr"};
constexpr int32_t EVENT_COUNT = sizeof event_names / sizeof *event_names;
uint32_t event_symbols[EVENT_COUNT];

// The callback of the running session (none outside one), a collector root.
Cell callback = {TYPE_NONE, 0, 0, 0};
uint32_t mask = 0;

void mark_callback() { collector::mark_values(&callback, &callback + 1); }

int32_t bit_number(uint32_t event) {
    int32_t n = 0;
    while (event > 1) {
        event >>= 1;
        n++;
    }
    return n;
}

// The events that carry ref.
constexpr uint32_t WITH_REF = SET | PROLOG | EPILOG | RETURN | CALL;

} // namespace

void init() {
    for (int32_t i = 0; i < EVENT_COUNT; i++) event_symbols[i] = symbol::make(event_names[i]);
    collector::register_callback(&mark_callback);
}

uint32_t event_mask(const Cell* fn) {
    if (type_of(fn) != TYPE_FUNCTION) return DEFAULT_MASK;
    const Cell body = function::extra_of(fn)[function::EXTRA_BODY];
    if (type_of(&body) != TYPE_BLOCK || body.data1 >= block::abs_length(&body)) return DEFAULT_MASK;
    const Cell first = *block::ms_abs_at(&body, body.data1);
    if (type_of(&first) != TYPE_BLOCK) return DEFAULT_MASK;
    uint32_t bits = 0;
    for (uint32_t i = first.data1; i < block::abs_length(&first); i++) {
        const Cell* w = block::ms_abs_at(&first, i);
        if (type_of(w) != TYPE_WORD) continue;
        for (int32_t k = 0; k < EVENT_COUNT; k++)
            if (symbol::resolve(w->data2) == symbol::resolve(event_symbols[k])) bits |= 1u << k;
    }
    return bits;
}

// The cells are copied onto the stack before anything allocates: value and
// ref may lie in a series buffer. The code block is given at its head, the
// offset being the position's index in its buffer.
void fire(uint32_t event, const Cell* code, int32_t position, const Cell* value, const Cell* ref) {
    if (!(mask & event) || type_of(&callback) != TYPE_FUNCTION) return;
    Cell* saved_top = stack::top;
    stack::Frame* saved_ctop = stack::ctop;
    const auto args_index = static_cast<int32_t>(stack::arguments - stack::bottom);
    const auto top_index = static_cast<int32_t>(stack::top - stack::bottom);
    Cell* fn = stack::push(&callback);
    Cell* args = make_unset(stack::push_cell());
    Cell* c = make_none(stack::push_cell());
    int32_t offset = -1;
    if (code && is_any_block(type_of(code))) {
        *c = *code;
        c->data1 = 0;
        if (position >= 0 && static_cast<uint32_t>(position) < block::abs_length(code))
            offset = position;
    }
    make_integer(stack::push_cell(), offset);
    if (value)
        stack::push(value);
    else
        make_none(stack::push_cell());
    if (ref && (event & WITH_REF))
        stack::push(ref);
    else
        make_none(stack::push_cell());
    pair::make_cell(stack::push_cell(), args_index, top_index);
    Cell* out = stack::push_cell();
    word::make_at(event_symbols[bit_number(event)], args);
    // An exit the traced code has raised waits while the callback runs.
    const uint32_t pending = stack::pending;
    stack::pending = 0;
    {
        struct Off {
            uint32_t saved = active;
            Off() { active = 0; }
            ~Off() { active = saved; }
        } off;
        interpreter::call_value(fn, args, 6, out);
    }
    stack::pending = pending;
    stack::ctop = saved_ctop;
    stack::top = saved_top;
}

// A nested do/trace (from code a callback runs) saves the session it
// interrupts and gives it back when it ends.
void run(const Cell* code, const Cell* fn) {
    Cell saved_callback = callback;
    collector::Root keep(&saved_callback);
    const uint32_t saved_mask = mask, saved_session = session, saved_active = active;
    auto finish = [&] {
        active = saved_active;
        session = saved_session;
        mask = saved_mask;
        callback = saved_callback;
    };
    callback = *fn;
    mask = event_mask(fn);
    FunctionScope boundary(0, false);
    session = 1;
    active = 1;
    Cell* block = stack::push(code);
    try {
        fire(INIT, nullptr, -1, nullptr, nullptr);
        interpreter::eval_block(block, true);
        active = 1;
        fire(END, nullptr, -1, nullptr, nullptr);
    } catch (...) {
        active = 1;
        try {
            fire(END, nullptr, -1, nullptr, nullptr);
        } catch (...) {
            finish();
            throw;
        }
        finish();
        throw;
    }
    finish();
}

void deliver(bool on) {
    const uint32_t state = on && session ? 1 : 0;
    FunctionScope* scope = FunctionScope::innermost;
    if (!scope || !scope->boot_) {
        active = state;
        return;
    }
    while (scope->outer_ && scope->outer_->boot_) scope = scope->outer_;
    scope->saved_ = state;
}

namespace {

void deliver_body() {
    deliver(stack::arguments[0].data1 != 0);
    make_unset(stack::arguments);
}

} // namespace

void register_routines() { routines::register_("trace-deliver", &deliver_body); }

void FunctionScope::enter(uint32_t function_header, bool boot_image) {
    if (boot_image || (function_header & function::FLAG_NO_TRACE))
        active = 0;
    else if (function_header & function::FLAG_TRACE)
        active = 1;
}

} // namespace mox::trace
