// The function makers (func, function, does, has) and the natives that reach
// the runtime and the clock: stats, recycle, wait, now and as.
#include <cmath>
#include <cstdint>
#include <unordered_set>

#include "core/collector.h"
#include "core/context.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/natives.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives-system.h"
#include "platform/platform.h"

namespace mox::natives {

namespace {

// ---------------------------------------------------------------------------
// Function makers
// ---------------------------------------------------------------------------

// The body every maker ends in: spec and body from the running call's
// first two cells. May collect.
void make_function(Cell* spec, Cell* body) {
    block::clip_index(spec);
    block::clip_index(body);
    const uint32_t flags = function::validate_spec(spec);
    Cell* fn = function::push(spec, body, flags, nullptr);
    *stack::arguments = *fn;
}

void func_star() { make_function(stack::arguments, stack::arguments + 1); }

bool symbol_is(const Cell* c, uint32_t symbol) {
    return symbol::resolve(c->data2) == symbol::resolve(symbol);
}

// The words collected as locals of a function: the symbols to leave out
// (arguments, externals, words already taken) and the block of words
// taken, in the order met.
struct Locals {
    std::unordered_set<uint32_t> ignore;
    Cell* result; // a block! on the evaluation stack

    // The word local itself is never taken. May collect.
    void take(const Cell* word) {
        if (!ignore.insert(symbol::resolve(word->data2)).second) return;
        if (symbol_is(word, words::refinements::local.data2)) return;
        Cell w = *word;
        w.header = TYPE_WORD;
        block::ms_append(result, &w);
    }
};

constexpr int32_t MAX_BODY_DEPTH = 2048;

// Collects from the body's set-words and loop words, into nested blocks and
// parens; a block met again inside itself is not walked twice. May collect.
void collect_body(Locals& locals, Cell* body, int32_t depth) {
    if (depth > MAX_BODY_DEPTH) fire(err::too_deep);
    for (uint32_t i = body->data1; i < block::abs_length(body); i++) {
        Cell* item = block::ms_abs_at(body, i);
        const uint32_t t = type_of(item);
        if (t == TYPE_SET_WORD) {
            locals.take(item);
        } else if (t == TYPE_BLOCK || t == TYPE_PAREN) {
            // The blocks being walked are the stack cells above the result.
            bool cycle = false;
            for (Cell* c = locals.result + 1; c < stack::top; c++)
                if (c->data2 == item->data2) cycle = true;
            if (cycle) continue;
            Cell* inner = stack::push(item);
            inner->data1 = 0;
            collect_body(locals, inner, depth + 1);
            stack::pop(1);
        } else if (t == TYPE_WORD && i + 1 < block::abs_length(body)) {
            const bool each =
                symbol_is(item, words::foreach) || symbol_is(item, words::remove_each);
            const bool repeat = symbol_is(item, words::repeat);
            if (!each && !repeat) continue;
            Cell* next = stack::push(block::ms_abs_at(body, i + 1));
            const uint32_t nt = type_of(next);
            if (nt == TYPE_WORD || (repeat && nt == TYPE_SET_WORD)) {
                locals.take(next);
            } else if (each && nt == TYPE_BLOCK) {
                for (uint32_t k = next->data1; k < block::abs_length(next); k++) {
                    Cell w = *block::ms_abs_at(next, k);
                    uint32_t wt = type_of(&w);
                    if (wt == TYPE_WORD || wt == TYPE_GET_WORD || wt == TYPE_LIT_WORD)
                        locals.take(&w);
                }
            }
            stack::pop(1);
        }
    }
}

// Adds to the spec (a copy the native owns) the body's set-words and loop
// words as /local words, leaving out the spec's own words and those named
// after /extern, which is cut from the spec. May collect.
void collect_locals(Cell* spec, Cell* body) {
    Locals locals;
    locals.result = block::make_at(stack::push_cell(), 8);
    const uint32_t tail = block::abs_length(spec);
    int32_t extern_at = -1;
    for (uint32_t i = 0; i < tail && extern_at < 0; i++) {
        const Cell* item = block::ms_abs_at(spec, i);
        if (type_of(item) == TYPE_REFINEMENT && symbol_is(item, words::refinements::extern_.data2))
            extern_at = static_cast<int32_t>(i);
    }
    for (uint32_t i = 0; i < tail; i++) {
        const Cell* item = block::ms_abs_at(spec, i);
        const uint32_t t = type_of(item);
        const bool word = t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD ||
                          t == TYPE_GET_WORD || t == TYPE_REFINEMENT;
        if (extern_at >= 0 && !word && t != TYPE_BLOCK && t != TYPE_STRING)
            fire(err::bad_func_extern, item);
        if (word) locals.ignore.insert(symbol::resolve(item->data2));
    }
    if (extern_at >= 0) {
        bool after_local = false;
        for (uint32_t i = static_cast<uint32_t>(extern_at) + 1; i < tail; i++) {
            Cell item = *block::ms_abs_at(spec, i);
            if (type_of(&item) == TYPE_REFINEMENT &&
                symbol_is(&item, words::refinements::local.data2)) {
                after_local = true;
            } else if (after_local && type_of(&item) == TYPE_WORD) {
                locals.ignore.erase(symbol::resolve(item.data2));
                locals.take(&item);
            }
        }
        memory::SeriesBuffer* b = block::buffer_of(spec);
        b->tail = b->head + static_cast<uint32_t>(extern_at) * sizeof(Cell);
    }
    Cell* walk = stack::push(body);
    collect_body(locals, walk, 0);
    stack::pop(1);

    bool has_local = false;
    for (uint32_t i = 0; i < block::abs_length(spec); i++) {
        const Cell* item = block::ms_abs_at(spec, i);
        if (type_of(item) == TYPE_REFINEMENT && symbol_is(item, words::refinements::local.data2))
            has_local = true;
    }
    const uint32_t taken = block::abs_length(locals.result);
    if (taken == 0) return;
    if (!has_local) block::ms_append(spec, &words::refinements::local);
    for (uint32_t i = 0; i < taken; i++) {
        Cell w = *block::ms_abs_at(locals.result, i);
        block::ms_append(spec, &w);
    }
}

// Refinement order: /extern (the words to leave out are named in the spec).
void function_star(int32_t) {
    Cell* spec = stack::arguments;
    block::clip_index(spec);
    block::clip_index(spec + 1);
    *spec = *block::clone(spec, false, false);
    collect_locals(spec, spec + 1);
    make_function(spec, spec + 1);
}

void does_star() {
    Cell* a = stack::arguments;
    Cell* body = stack::push(a);
    block::make_at(a, 1);
    make_function(a, body);
}

void has_star() {
    Cell* a = stack::arguments;
    block::clip_index(a);
    *a = *block::clone(a, false, false);
    block::insert_value(a, &words::refinements::local, true, false);
    make_function(a, a + 1);
}

// ---------------------------------------------------------------------------
// Memory and the collector
// ---------------------------------------------------------------------------

// The bytes in use: an integer! while it fits, else a float!.
void memory_in_use(Cell* out) {
    const double bytes = memory::gather_stats(0, 1);
    if (bytes <= 2147483647.0)
        make_integer(out, static_cast<int32_t>(bytes));
    else
        make_float(out, bytes);
}

// Refinement order: /show, /info. /show prints through the library's
// show-memory-stats and gives unset.
void stats_star(int32_t show, int32_t info) {
    Cell* a = stack::arguments;
    if (show < 0 && info < 0) {
        memory_in_use(a);
        return;
    }
    Cell* report = block::make_at(stack::push_cell(), 5);
    memory::gather_stats(report->data2, 2);
    if (show < 0) {
        *a = *report;
        return;
    }
    Cell* name = stack::push_cell();
    *name = Cell{TYPE_WORD, context::global, symbol::make("show-memory-stats"),
                 static_cast<uint32_t>(-1)};
    const Cell* printer = context::symbol_value(context::global, name->data2);
    if (!printer || type_of(printer) == TYPE_UNSET) fire(err::no_value, name);
    Cell* fn = stack::push(printer);
    Cell* out = stack::push_cell();
    interpreter::call_value(fn, report, 1, out);
    make_unset(a);
}

// Refinement order: /on, /off (/on wins).
void recycle_star(int32_t on, int32_t off) {
    Cell* a = stack::arguments;
    if (on >= 0 || off >= 0) {
        collector::active_q = on >= 0;
        make_unset(a);
        return;
    }
    collector::do_cycle();
    memory_in_use(a);
}

// ---------------------------------------------------------------------------
// Time
// ---------------------------------------------------------------------------

// After a sleep, one pass of the GUI's message loop without waiting
// (system/view/platform/do-event-loop true) handles the window events that
// came meanwhile; nothing when the View engine is not there. May collect.
void pump_gui_events() {
    static const uint32_t view = symbol::make("view"), platform = symbol::make("platform"),
                          loop = symbol::make("do-event-loop");
    Cell* system = word::get_value(word::load("system"));
    if (type_of(system) != TYPE_OBJECT) return;
    Cell* v = object::find_value(system->data1, view);
    if (!v || type_of(v) != TYPE_OBJECT) return;
    Cell* p = object::find_value(v->data1, platform);
    if (!p || type_of(p) != TYPE_OBJECT) return;
    Cell* fn = object::find_value(p->data1, loop);
    if (!fn || (type_of(fn) != TYPE_ROUTINE && type_of(fn) != TYPE_FUNCTION)) return;
    Cell* base = stack::top;
    Cell* saved_args = stack::arguments;
    Cell* callee = stack::push(fn);
    Cell* no_wait = make_logic(stack::push_cell(), true);
    Cell* out = stack::push_cell();
    interpreter::call_value(callee, no_wait, 1, out);
    stack::arguments = saved_args;
    stack::top = base;
}

// Refinement order: /all (unused).
void wait_star(int32_t) {
    Cell* a = stack::arguments;
    double seconds;
    switch (type_of(a)) {
    case TYPE_INTEGER:
        seconds = get_integer(a);
        break;
    case TYPE_FLOAT:
    case TYPE_TIME:
        seconds = get_float(a);
        break;
    default:
        fire(err::invalid_arg, a);
    }
    make_none(a);
    platform::wait(seconds);
    pump_gui_events();
    make_none(stack::arguments);
}

// Refinement order: /year /month /day /time /zone /date /weekday /yearday
// /precise /utc.
void now_star(int32_t year, int32_t month, int32_t day, int32_t time, int32_t zone, int32_t date,
              int32_t weekday, int32_t yearday, int32_t precise, int32_t utc) {
    const int32_t picks[] = {year, month, day, time, zone, date, weekday, yearday, precise};
    int32_t used = 0;
    for (int32_t r : picks) used += r >= 0;
    if (used > 1 && !(time >= 0 && precise >= 0)) fire(err::bad_refines);

    // The UTC day and time are read until the day is the same on both sides
    // of the clock reading, so that a reading at midnight cannot pair one
    // day's time with the next day's date.
    uint32_t utc_word = platform::get_date(true);
    double t = platform::get_time(precise >= 0);
    for (uint32_t again = platform::get_date(true); again != utc_word;
         again = platform::get_date(true)) {
        utc_word = again;
        t = platform::get_time(precise >= 0);
    }
    const uint32_t z = utc >= 0 ? 0 : platform::get_date(false) & 0x7F;
    const double zs = date::zone_seconds(z);
    const double utc_seconds = date::to_days(utc_word) * 86400.0 + t;
    const auto local_days = static_cast<int32_t>(std::floor((utc_seconds + zs) / 86400.0));
    const double stored = utc_seconds - local_days * 86400.0;

    Cell* a = stack::arguments;
    if (date >= 0) {
        *a = Cell{TYPE_DATE, date::from_days(local_days, 0, false), 0, 0};
        set_float(a, 0.0);
        return;
    }
    const uint32_t word = date::from_days(local_days, z, true);
    if (year >= 0)
        make_integer(a, date::year_of(word));
    else if (month >= 0)
        make_integer(a, date::month_of(word));
    else if (day >= 0)
        make_integer(a, date::day_of(word));
    else if (time >= 0)
        make_float(a, stored + zs, TYPE_TIME);
    else if (zone >= 0)
        make_float(a, zs, TYPE_TIME);
    else if (weekday >= 0)
        make_integer(a, date::weekday_of(local_days));
    else if (yearday >= 0)
        make_integer(a, date::year_day(word));
    else {
        *a = Cell{TYPE_DATE, word, 0, 0};
        set_float(a, stored);
    }
}

// ---------------------------------------------------------------------------
// as
// ---------------------------------------------------------------------------

// 1 the list class, 2 the string class, 0 neither.
int32_t coerce_class(uint32_t t) {
    switch (t) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
        return 1;
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
        return 2;
    default:
        return 0;
    }
}

void as_star() {
    Cell* a = stack::arguments;
    const uint32_t target = type_of(a) == TYPE_DATATYPE ? a->data1 : type_of(a);
    const uint32_t from = type_of(a + 1);
    const int32_t k = coerce_class(target);
    if (k == 0 || k != coerce_class(from)) {
        Cell spec_type, target_type;
        make_datatype(&spec_type, from);
        make_datatype(&target_type, target);
        fire(err::not_same_class, &spec_type, &target_type);
    }
    *a = a[1];
    set_type(a, target);
}

} // namespace

void register_system() { MOX_NATIVES_SYSTEM(MOX_NATIVE_REGISTER) }

} // namespace mox::natives
