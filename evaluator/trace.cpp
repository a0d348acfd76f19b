// Interpreter trace events (see trace.h): the session state, the event mask
// of a callback, and the delivery of one event.
#include "evaluator/trace.h"

#include <bit>
#include <cstdlib>
#include <string>

#include "core/actions.h"
#include "core/collector.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/function.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "platform/platform.h"

namespace mox::trace {

uint32_t session = 0;
bool (*collect_event)(const Cell* fn, Cell* args) = nullptr;

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
    return event ? static_cast<int32_t>(std::bit_width(event)) - 1 : 0;
}

// The event word of bit n as word::make_at makes it, its index in the
// global context found once: the context keeps its words in place. The
// index is checked again after each collection (the context's node may
// have moved).
int32_t event_indexes[EVENT_COUNT];
int32_t event_cycles[EVENT_COUNT];

void event_word(int32_t n, Cell* out) {
    const int32_t index = event_indexes[n];
    if (index >= 0 && (event_cycles[n] == collector::stats.cycles ||
                       (index < context::word_count(context::global) &&
                        context::get_word(context::global, index)->data2 == event_symbols[n]))) {
        event_cycles[n] = collector::stats.cycles;
        *out = Cell{TYPE_WORD, context::global, event_symbols[n], static_cast<uint32_t>(index)};
        return;
    }
    word::make_at(event_symbols[n], out);
    event_indexes[n] = static_cast<int32_t>(out->data3);
    event_cycles[n] = -1;
}

// The events that carry ref.
constexpr uint32_t WITH_REF = SET | PROLOG | EPILOG | RETURN | CALL;

} // namespace

void init() {
    if (const char* general = std::getenv("MOX_GENERAL_EVAL"); general && general[0] == '1')
        active = GENERAL;
    stack::trace_error = [](const Cell* error) {
        if (active) fire(ERROR, nullptr, -1, error, nullptr);
    };
    for (int32_t i = 0; i < EVENT_COUNT; i++) {
        event_symbols[i] = symbol::make(event_names[i]);
        event_indexes[i] = -1;
    }
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
    if (!(active & DELIVER) || !(mask & event) || type_of(&callback) != TYPE_FUNCTION) return;
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
    event_word(bit_number(event), args);
    // An exit the traced code has raised waits while the callback runs.
    const uint32_t pending = stack::pending;
    stack::pending = 0;
    {
        struct Off {
            uint32_t saved = active;
            Off() { active &= GENERAL; }
            ~Off() { active = saved; }
        } off;
        // The library's collector does its work without an interpreter
        // call (out is then the slot of its local).
        make_none(out);
        if (!(collect_event && collect_event(fn, args))) interpreter::call_value(fn, args, 6, out);
    }
    stack::pending = pending;
    stack::ctop = saved_ctop;
    stack::top = saved_top;
}

// The end event may come while an exit goes to its handler. A throw, break
// or return has its value (and a throw's name) in the first cells of the
// handler's frame, which lies below this do/trace and may still read cells
// above the stack top (the names a catch compares): the callback runs above
// every cell of the frames outside, that is above floor, the code cell
// pushed when the evaluation began. An error waits on the top cell, maybe at
// the stack's limit (a stack overflow): it moves down to floor, the cells
// between belonging to frames already unwound, and the callback runs above
// it.
void fire_end(uint32_t exit, Cell* floor) {
    if (exit == stack::EXIT_ERROR) {
        if (stack::top > floor) {
            const Cell error = *(stack::top - 1);
            stack::top = floor;
            stack::push(&error);
        }
        fire(END, nullptr, -1, nullptr, nullptr);
        return;
    }
    Cell* top = stack::top;
    if (exit && stack::top < floor) stack::top = floor;
    fire(END, nullptr, -1, nullptr, nullptr);
    stack::top = top;
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
    FunctionScope boundary(0, false, true);
    session = 1;
    active |= DELIVER;
    Cell* block = stack::push(code);
    try {
        fire(INIT, nullptr, -1, nullptr, nullptr);
        interpreter::eval_block(block, true);
        active |= DELIVER;
        fire_end(stack::pending, block + 1);
    } catch (const stack::Unwind& u) {
        active |= DELIVER;
        try {
            fire_end(u.code, block + 1);
        } catch (...) {
            finish();
            throw;
        }
        finish();
        throw;
    } catch (...) {
        active |= DELIVER;
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

bool deliver(bool on) {
    const uint32_t state = on && session ? 1 : 0;
    FunctionScope* scope = FunctionScope::innermost;
    if (!scope || !scope->boot_) {
        const bool was = (active & DELIVER) != 0;
        active = state | (active & GENERAL);
        return was;
    }
    FunctionScope* caller = scope;
    while (caller->outer_ && caller->outer_->boot_) caller = caller->outer_;
    const bool was = (caller->saved_ & DELIVER) != 0;
    // A scope gives its state back to the code of the scope around it.
    for (; scope && !scope->session_start_; scope = scope->outer_)
        if (!scope->outer_ || !scope->outer_->boot_)
            scope->saved_ = state | (scope->saved_ & GENERAL);
    return was;
}

namespace {

void deliver_body() { make_logic(stack::arguments, deliver(stack::arguments[0].data1 != 0)); }

// ---------------------------------------------------------------------------
// The profiler's native body
//
// The same bookkeeping as system/tools/profiler's Mox body, which it stands
// for: the table in system/tools/profiling (name, count, cumulative time!),
// and per active call in system/tools/fun-stk its name (none for a call of a
// type not profiled), its start and its end (none until the body ends),
// kept here as time! readings of the clock in seconds.
// ---------------------------------------------------------------------------

uint32_t sym_tools, sym_profiling, sym_fun_stk, sym_options, sym_profile, sym_types, sym_anon;
int32_t anon_count = 0;

Cell* tools_field(const uint32_t* path, int32_t count) { return time::system_field(path, count); }

// Seconds of the UTC clock, the day read on both sides of the time.
double precise_seconds() {
    uint32_t day = platform::get_date(true);
    double t = platform::get_time(true);
    for (uint32_t again = platform::get_date(true); again != day;
         again = platform::get_date(true)) {
        day = again;
        t = platform::get_time(true);
    }
    return date::to_days(day) * 86400.0 + t;
}

// Appends a copy of the cell; value must not lie in a series buffer. May
// collect.
void append_cell(const Cell* block, const Cell* value) {
    Cell* slot = memory::alloc_tail(block->data2);
    *slot = *value;
}

Cell* cells_of(const Cell* block) { return memory::buffer_of(block->data2)->cells(); }

bool is_event(uint32_t symbol, uint32_t event) {
    return symbol::resolve(symbol) == symbol::resolve(event_symbols[bit_number(event)]);
}

// The index of the name's entry in the table (from its position), or -1.
int32_t find_entry(const Cell* table, const Cell* name) {
    const uint32_t length = block::abs_length(table);
    const Cell* cells = cells_of(table);
    for (uint32_t i = table->data1; i < length; i += 3) {
        const Cell* c = &cells[i];
        if (type_of(name) == TYPE_WORD ? type_of(c) == TYPE_WORD && symbol::resolve(c->data2) ==
                                                                        symbol::resolve(name->data2)
                                       : type_of(c) == type_of(name) && c->data2 == name->data2)
            return static_cast<int32_t>(i);
    }
    return -1;
}

// Slots: event code offset value ref frame /local name entry. May collect.
void profiler_body() {
    if (!sym_tools) {
        sym_tools = symbol::make("tools");
        sym_profiling = symbol::make("profiling");
        sym_fun_stk = symbol::make("fun-stk");
        sym_options = symbol::make("options");
        sym_profile = symbol::make("profile");
        sym_types = symbol::make("types");
        sym_anon = symbol::make("<anon>");
    }
    Cell* a = stack::arguments;
    make_unset(a + 7);
    const uint32_t table_path[] = {sym_tools, sym_profiling};
    const uint32_t stack_path[] = {sym_tools, sym_fun_stk};
    const uint32_t types_path[] = {sym_tools, sym_options, sym_profile, sym_types};
    const Cell* table_field = tools_field(table_path, 2);
    const Cell* stack_field = tools_field(stack_path, 2);
    if (!table_field || !stack_field || type_of(table_field) != TYPE_BLOCK ||
        type_of(stack_field) != TYPE_BLOCK) {
        make_unset(a);
        return;
    }
    Cell* table = stack::push(table_field);
    Cell* calls = stack::push(stack_field);
    const uint32_t event = a[0].data2;
    const auto depth = [&] { return block::abs_length(calls) - calls->data1; };
    if (is_event(event, INIT)) {
        actions::clear(table);
        actions::clear(calls);
    } else if (is_event(event, CALL)) {
        const Cell* types = tools_field(types_path, 4);
        Cell* name = a + 6;
        make_none(name);
        if (types && type_of(types) == TYPE_TYPESET && typeset_has(types, type_of(&a[3]))) {
            int32_t entry = -1;
            if (type_of(&a[4]) == TYPE_WORD &&
                symbol::resolve(a[4].data2) != symbol::resolve(sym_anon)) {
                *name = a[4];
                entry = find_entry(table, name);
            } else {
                const std::string text = "anon" + std::to_string(++anon_count);
                string::make_at(name, static_cast<uint32_t>(text.size()), 1, TYPE_TAG);
                string::append_utf8(name, text.data(), text.size());
            }
            if (entry >= 0) {
                Cell* count = &cells_of(table)[entry + 1];
                make_integer(count, get_integer(count) + 1);
            } else {
                Cell one, zero;
                make_integer(&one, 1);
                make_integer(&zero, 0);
                append_cell(table, name);
                append_cell(table, &one);
                append_cell(table, &zero);
            }
        }
        Cell start, none;
        time::box(&start, precise_seconds());
        make_none(&none);
        append_cell(calls, name);
        append_cell(calls, &start);
        append_cell(calls, &none);
    } else if (is_event(event, PROLOG) || is_event(event, EPILOG)) {
        if (depth() >= 3) {
            const uint32_t at = block::abs_length(calls) - (is_event(event, PROLOG) ? 2 : 1);
            time::box(&cells_of(calls)[at], precise_seconds());
        }
    } else if (is_event(event, RETURN)) {
        if (depth() >= 3) {
            const uint32_t at = block::abs_length(calls) - 3;
            const Cell* entry = &cells_of(calls)[at];
            const Cell name = entry[0];
            if (type_of(&name) != TYPE_NONE) {
                const double end =
                    type_of(&entry[2]) == TYPE_TIME ? get_float(&entry[2]) : precise_seconds();
                const double took = end - get_float(&cells_of(calls)[at + 1]);
                const int32_t found = find_entry(table, &name);
                if (found >= 0) {
                    Cell* total = &cells_of(table)[found + 2];
                    const double before = type_of(total) == TYPE_TIME      ? get_float(total)
                                          : type_of(total) == TYPE_INTEGER ? get_integer(total)
                                                                           : 0.0;
                    time::box(total, before + took);
                }
            }
            Cell* cut = stack::push(calls);
            cut->data1 = at;
            actions::clear(cut);
        }
    }
    make_unset(a);
}

} // namespace

void register_routines() {
    routines::register_("trace-deliver", &deliver_body);
    routines::bind_native_body("system/tools/profiler", &profiler_body);
}

void FunctionScope::enter(uint32_t function_header, bool boot_image) {
    if (boot_image || (function_header & function::FLAG_NO_TRACE))
        active &= GENERAL;
    else if (function_header & function::FLAG_TRACE)
        active |= DELIVER;
}

} // namespace mox::trace
