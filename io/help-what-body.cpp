// Native body of what.
//
// what walks every word of the global context: the Mox body calls a test
// function per word, then forms each name and molds the spec of each
// function to search it, which is where nearly all its time goes. This body
// evaluates the Mox body's own expressions up to the gathering of the
// words, gathers and filters them here with the same test, the same form,
// mold and find, in the same order, and evaluates the rest of the Mox body
// (sorting and printing) from there in the call's frame. A system object
// without a words object leaves the gathering to the Mox body.
#include "io/help-what-body.h"

#include <climits>
#include <cstdint>

#include "core/cell.h"
#include "core/context.h"
#include "core/symbol.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"

namespace mox::help_what_body {

namespace {

// what's slots: the /with flag, text, the /spec flag, the /buffer flag, the
// /local flag, then words word value.
constexpr int32_t SLOT_WITH = 0;
constexpr int32_t SLOT_TEXT = 1;
constexpr int32_t SLOT_SPEC = 2;
constexpr int32_t SLOT_WORDS = 5;

const Cell* running_function() {
    return context::owner_of(stack::top_frame()->function_context);
}

// The index of the first item of the body's top level of the given type
// and name, or -1.
int32_t find_top(const Cell* body, uint32_t type, uint32_t symbol) {
    int32_t tail = interpreter::tail_of(body);
    for (int32_t i = static_cast<int32_t>(body->data1); i < tail; i++) {
        const Cell* item = block::ms_abs_at(body, static_cast<uint32_t>(i));
        if (type_of(item) == type && symbol::resolve(item->data2) == symbol::resolve(symbol)) return i;
    }
    return -1;
}

bool any_function_q(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION ||
           t == TYPE_ROUTINE;
}

// find form value text (or find mold value text): whether the text occurs.
// The buffer, one for every value, is emptied first. May collect.
bool occurs_in(Cell* value, Cell* text, bool mold, Cell* buffer) {
    Cell* mark = stack::top;
    string::ms_truncate(buffer, 0);
    if (mold)
        actions::mold(value, buffer, false, false, false, nullptr, INT_MAX, 0);
    else
        actions::form(value, buffer, nullptr, INT_MAX);
    Cell* found = actions::find(buffer, text, nullptr, false, false, false, false, nullptr, nullptr,
                                false, false, false, false);
    bool answer = type_of(found) != TYPE_NONE;
    stack::top = mark;
    return answer;
}

// The global system/words object, or null.
Cell* system_words() {
    static const uint32_t words_symbol = symbol::make("words");
    Cell* system = context::symbol_value(context::global, words::system);
    if (!system || type_of(system) != TYPE_OBJECT) return nullptr;
    Cell* words = context::symbol_value(system->data1, words_symbol);
    return words && type_of(words) == TYPE_OBJECT ? words : nullptr;
}

// The words the Mox body gathers and keeps: those of system/words holding a
// value (with /with, else a function), with /with only those whose name,
// or with /spec the mold of whose function spec, contains the text. May
// collect.
void gather(Cell* words_object, Cell* out) {
    Cell* args = stack::arguments;
    bool with = logic::truthy(&args[SLOT_WITH]);
    bool spec = logic::truthy(&args[SLOT_SPEC]);
    Cell* all = stack::push(actions::reflect(words_object, static_cast<int32_t>(words::words)));
    block::make_at(out, 1000);
    Cell* buffer = string::push_new(256);
    uint32_t tail = block::abs_length(all);
    for (uint32_t i = all->data1; i < tail; i++) {
        Cell* word = stack::push(block::ms_abs_at(all, i));
        Cell* value = stack::push(word::get_value(word));
        uint32_t t = type_of(value);
        bool keep = with ? t != TYPE_UNSET : any_function_q(t);
        if (keep && with) {
            keep = occurs_in(word, &args[SLOT_TEXT], false, buffer);
            if (!keep && spec && any_function_q(t)) {
                Cell* fn_spec = stack::push(actions::reflect(value, static_cast<int32_t>(words::spec)));
                keep = occurs_in(fn_spec, &args[SLOT_TEXT], true, buffer);
            }
        }
        if (keep) block::ms_append(out, word);
        stack::top = word;
    }
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
    if (!words_object) {
        body->data1 = static_cast<uint32_t>(gather_at);
        return interpreter::eval_body(body);
    }
    Cell* kept = stack::push_cell();
    gather(stack::push(words_object), kept);
    args[SLOT_WORDS] = *kept;
    body->data1 = static_cast<uint32_t>(list_at);
    interpreter::eval_body(body);
}

}  // namespace

void register_bodies() { routines::bind_native_body("what", &what_body); }

}  // namespace mox::help_what_body
