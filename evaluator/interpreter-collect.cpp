// The native body of collect: collect's own Mox body runs as written, but
// the keep function it makes runs C++ code, since a collect over a big
// series calls keep once per item.
//
// The body is evaluated one expression at a time until the locals object
// holds keep; keep then gets its C++ body (its Mox body stays for source
// and body-of), and the rest of collect's body (the user's block and the
// result) runs as the call's body, so return and exit inside the user's
// block end collect as they do with the Mox body. keep appends to the
// block or string in `collected` as `append` does; any other buffer, or an
// owned one (its owner hears of changes through append's own frame), takes
// keep's Mox body instead, as does a traced call (see eval_function).
#include <cstring>

#include "core/actions.h"
#include "core/cell.h"
#include "core/collector.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"

namespace mox::interpreter {

namespace {

constexpr char kKeepBody[] = "collect-keep";

// collect's slots: body, into, collected, the /local flag, locals.
constexpr int32_t SLOT_LOCALS = 4;
// keep's slots: v, only.
constexpr int32_t SLOT_ONLY = 1;

// The function of the running call.
const Cell* running_function() { return context::owner_of(stack::top_frame()->function_context); }

using routines::run_mox_body;

// The value of a field of an object, or null; valid until the next
// allocation.
Cell* field_of(const Cell* object, uint32_t symbol) {
    if (type_of(object) != TYPE_OBJECT) return nullptr;
    int32_t index = context::find_word(object->data1, symbol, true);
    return index < 0 ? nullptr : context::value_ptr(object->data1, index);
}

// The index of `collected` in the locals object of the last collect that
// kept, found once by name: a context keeps its words and their indexes for
// its life, so it holds until the next collection (which may give the node
// to another context).
struct CollectedSlot {
    node_t context;
    int32_t cycles;
    int32_t index;
};
CollectedSlot collected_slot = {0, -1, -1};

// The value of the locals object's `collected`, or null; valid until the
// next allocation.
Cell* collected_of(const Cell* locals) {
    if (type_of(locals) != TYPE_OBJECT) return nullptr;
    node_t context = locals->data1;
    if (collected_slot.context != context || collected_slot.cycles != collector::stats.cycles) {
        static const uint32_t collected_word = symbol::make("collected");
        int32_t index = context::find_word(context, collected_word, true);
        if (index < 0) return nullptr;
        collected_slot = {context, collector::stats.cycles, index};
    }
    return context::value_ptr(context, collected_slot.index);
}

// May collect.
void keep_body() {
    Cell* args = stack::arguments;
    Cell* locals = stack::push(&function::extra_of(running_function())[function::EXTRA_OBJECT]);
    Cell* collected = collected_of(locals);
    if (!collected || (type_of(collected) != TYPE_BLOCK && type_of(collected) != TYPE_STRING) ||
        (memory::buffer_of(collected->data2)->flags & memory::SERIES_OWNED))
        return run_mox_body();
    Cell* series = stack::push(collected);
    Cell* value = stack::push(&args[0]);
    actions::append(series, value, -1, logic::truthy(&args[SLOT_ONLY]), 1);
    // keep's value is v, which its slot still holds.
}

// May collect.
void collect_body() {
    Cell* args = stack::arguments;
    static const uint32_t keep_word = symbol::make("keep");
    Cell* body = stack::push(&function::extra_of(running_function())[function::EXTRA_BODY]);
    int32_t pos = static_cast<int32_t>(body->data1);
    for (;;) {
        if (pos >= tail_of(body)) return eval_body(body);
        Cell* mark = stack::top;
        pos = eval_single(body, pos, tail_of(body), true);
        if (stack::pending) return;
        stack::top = mark;
        Cell* keep = field_of(&args[SLOT_LOCALS], keep_word);
        if (keep && type_of(keep) == TYPE_FUNCTION) {
            Cell* extra = function::extra_of(keep);
            if (type_of(&extra[function::EXTRA_CODE]) == TYPE_UNSET &&
                type_of(&extra[function::EXTRA_BODY]) == TYPE_BLOCK) {
                static const int32_t keep_id = routines::find(kKeepBody, std::strlen(kKeepBody));
                make_integer(&extra[function::EXTRA_CODE], keep_id);
                extra[function::EXTRA_OBJECT] = args[SLOT_LOCALS];
            }
            break;
        }
    }
    body->data1 = static_cast<uint32_t>(pos);
    eval_body(body);
}

} // namespace

void register_collect_body() {
    routines::register_(kKeepBody, &keep_body);
    routines::bind_native_body("collect", &collect_body);
}

} // namespace mox::interpreter
