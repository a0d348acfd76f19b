// Native body of system/reactivity/check.
//
// Every assignment to a reactor's field calls check, and its Mox body spends
// most of a change walking the flat relation table and calling eval-reaction
// and eval/safe for each reaction. This body walks the table and the queue
// with the same moves as the Mox body (the same finds, picks, skips and
// clears, read again after every reaction, since a reaction may change both
// blocks), and evaluates a block reaction, or a linked function through its
// link block, in the frames the Mox path would have (eval-reaction, eval,
// try/all, do), so that an error inside a reaction prints the same report.
// Anything else (a set-word target, values of unexpected types in a record
// or the queue) is left to the matching expression of the Mox body itself,
// evaluated over the slots this body keeps as the Mox body does, so that
// its checks raise the same errors. A table or queue that is no block! on
// entry leaves the whole call to the Mox body; a queue replaced by some
// other value during a propagation raises invalid-arg.
#include "library/reactivity-body.h"

#include <cstdint>

#include "core/actions.h"
#include "core/cell.h"
#include "core/context.h"
#include "core/datatype.h"
#include "core/memory.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives-compare.h"
#include "evaluator/routines.h"

namespace mox::reactivity_body {

namespace {

// check's slots: reactor, the /only flag, field, the /local flag, then
// pos reaction targets q size (used here as scratch cells the collector sees).
constexpr int32_t SLOT_ONLY = 1;
constexpr int32_t SLOT_FIELD = 2;
constexpr int32_t SLOT_POS = 4;
constexpr int32_t SLOT_REACTION = 5;
constexpr int32_t SLOT_TARGETS = 6;
constexpr int32_t SLOT_Q = 7;

struct Symbols {
    uint32_t relations = symbol::make("relations");
    uint32_t queue = symbol::make("queue");
    uint32_t eval_reaction = symbol::make("eval-reaction");
    uint32_t eval = symbol::make("eval");
    uint32_t pending_q = symbol::make("pending?");
    uint32_t print = symbol::make("print");
    uint32_t prin = symbol::make("prin");
    uint32_t mold = symbol::make("mold");
    uint32_t do_ = symbol::make("do");
};

const Symbols& symbols() {
    static const Symbols s;
    return s;
}

const Cell* running_function() { return context::owner_of(stack::top_frame()->function_context); }

using routines::run_mox_body;

// The context the body's words reach the table and the queue through: that
// of its first `relations` word (0 when there is none).
node_t reactivity_context() {
    const Cell* body = &function::extra_of(running_function())[function::EXTRA_BODY];
    if (type_of(body) != TYPE_BLOCK) return 0;
    int32_t tail = interpreter::tail_of(body);
    for (int32_t i = static_cast<int32_t>(body->data1); i < tail; i++) {
        const Cell* item = block::ms_abs_at(body, static_cast<uint32_t>(i));
        if (type_of(item) == TYPE_WORD &&
            symbol::resolve(item->data2) == symbol::resolve(symbols().relations) &&
            static_cast<int32_t>(item->data3) >= 0)
            return item->data1;
    }
    return 0;
}

// A word of the context for symbol (as the Mox body's words are bound);
// none! when the context lacks it.
Cell context_word(node_t ctx, uint32_t symbol) {
    Cell w;
    int32_t index = context::find_word(ctx, symbol, true);
    if (index < 0) {
        make_none(&w);
        return w;
    }
    w = *context::get_word(ctx, index);
    w.data1 = ctx;
    w.data3 = static_cast<uint32_t>(index);
    set_type(&w, TYPE_WORD);
    return w;
}

// The value of a field; valid until the next allocation. Unset! when absent.
Cell* field_of(node_t ctx, uint32_t symbol) {
    static Cell unset_cell;
    int32_t index = context::find_word(ctx, symbol, true);
    if (index < 0) return make_unset(&unset_cell);
    return context::value_ptr(ctx, index);
}

// A block's cell at absolute index i, or none past its tail, as pick gives.
Cell pick_at(const Cell* blk, int64_t i) {
    Cell c;
    if (i < 0 || i >= static_cast<int64_t>(block::abs_length(blk))) {
        make_none(&c);
        return c;
    }
    return *block::ms_abs_at(blk, static_cast<uint32_t>(i));
}

// skip: the index clipped to the tail, moved, and kept within the series.
uint32_t skip_index(const Cell* blk, uint32_t index, int32_t by) {
    int64_t tail = block::abs_length(blk);
    int64_t i = static_cast<int64_t>(index) > tail ? tail : index;
    i += by;
    if (i < 0) i = 0;
    if (i > tail) i = tail;
    return static_cast<uint32_t>(i);
}

// find/same/skip value 4 from index: the absolute index found, or -1.
int64_t find_same(Cell* blk, uint32_t index, Cell* value) {
    uint32_t tail = block::abs_length(blk);
    for (uint32_t i = index; i < tail; i += 4)
        if (natives::same_values_q(block::ms_abs_at(blk, i), value)) return i;
    return -1;
}

// The queue as the body's `queue` word reads it now, copied to slot.
Cell* read_queue(node_t ctx, Cell* slot) {
    *slot = *field_of(ctx, symbols().queue);
    if (type_of(slot) != TYPE_BLOCK) fire(err::invalid_arg, slot);
    return slot;
}

bool queue_empty(const Cell* queue) {
    return static_cast<int64_t>(block::abs_length(queue)) <= static_cast<int64_t>(queue->data1);
}

// The global function a library word names, pushed. May collect.
Cell* push_global(uint32_t symbol) {
    Cell w = *context::resolve_word(0, symbol);
    return stack::push(word::get_checked(&w));
}

// What the Mox body's expressions are found by.
enum Expression { MARKED_RUN, QUEUED_RUN, PENDING };

// Finds the expression in the body (in nested blocks too): the block holding
// it is copied to slot, its position returned; -1 when absent.
int32_t find_expression(const Cell* blk, Expression which, Cell* slot) {
    const Symbols& s = symbols();
    uint32_t wanted = symbol::resolve(which == PENDING ? s.pending_q : s.eval_reaction);
    int32_t tail = interpreter::tail_of(blk);
    for (int32_t i = static_cast<int32_t>(blk->data1); i < tail; i++) {
        const Cell* item = block::ms_abs_at(blk, static_cast<uint32_t>(i));
        uint32_t t = type_of(item);
        const Cell* name = item;
        if (which == MARKED_RUN)
            name =
                t == TYPE_PATH && block::abs_length(item) > 0 ? block::ms_abs_at(item, 0) : nullptr;
        if (name && type_of(name) == TYPE_WORD && symbol::resolve(name->data2) == wanted) {
            *slot = *blk;
            return i;
        }
        if (t == TYPE_BLOCK || t == TYPE_PAREN) {
            int32_t found = find_expression(item, which, slot);
            if (found >= 0) return found;
        }
    }
    return -1;
}

// Evaluates one expression of the running check's own Mox body, which reads
// the slots this body keeps as the Mox body does: `eval-reaction/mark
// reactor :reaction :targets`, `eval-reaction pick q 1 pick q 2 pick q 3`
// or `pending? reactor :reaction`. Values of unexpected types and set-word
// targets take this way, so that checks, errors and their reports are the
// Mox body's own. The value is pushed; returns false when an exit is
// pending. May collect.
bool eval_own(Expression which) {
    Cell* body = stack::push(&function::extra_of(running_function())[function::EXTRA_BODY]);
    Cell* blk = stack::push_cell();
    int32_t at = find_expression(body, which, blk);
    if (at < 0) fire(err::invalid_arg, body);
    interpreter::eval_single(blk, at, interpreter::tail_of(blk), true);
    if (stack::pending) return false;
    *body = *(stack::top - 1);
    stack::top = body + 1;
    return true;
}

// eval/safe's report of an error: the error, then the code it came from.
// May collect.
void report_error(const Cell* error, const Cell* code) {
    const Symbols& s = symbols();
    Cell* out = stack::push_cell();
    Cell* err = stack::push(error);
    interpreter::call_value(push_global(s.print), err, 1, out);
    static const char near[] = "*** Near: ";
    Cell* text = string::load(reinterpret_cast<const uint8_t*>(near), sizeof near - 1,
                              string::ENCODING_UTF8);
    interpreter::call_value(push_global(s.prin), text, 1, out);
    Cell* mold_args = stack::push(code);
    make_logic(stack::push_cell(), false);
    make_logic(stack::push_cell(), false);
    make_logic(stack::push_cell(), true);
    make_logic(stack::push_cell(), true);
    make_integer(stack::push_cell(), 80);
    Cell* molded = stack::push_cell();
    interpreter::call_value(push_global(s.mold), mold_args, 6, molded,
                            interpreter::CALL_ALL | interpreter::CALL_SAFER);
    Cell* line = stack::push(molded);
    interpreter::call_value(push_global(s.print), line, 1, out);
}

// Whether eval-reaction's work can be done here: a block reaction, or a
// function run through its link block, with no set-word target.
bool fast_q(const Cell* reactor, const Cell* reaction, const Cell* target) {
    uint32_t rt = type_of(reaction);
    uint32_t tt = type_of(target);
    return type_of(reactor) == TYPE_OBJECT && tt != TYPE_SET_WORD &&
           (rt == TYPE_BLOCK || (rt == TYPE_FUNCTION && tt == TYPE_BLOCK));
}

// eval-reaction's work for a reaction that fast_q accepts: eval/safe of the
// reaction block or of the link block. Returns false when an exit is
// pending. May collect.
bool eval_fast(node_t ctx, const Cell* reaction, const Cell* target) {
    Cell* mark = stack::top;
    uint32_t rt = type_of(reaction);
    const Symbols& s = symbols();
    Cell eval_reaction_word = context_word(ctx, s.eval_reaction);
    Cell eval_word = context_word(ctx, s.eval);
    Cell do_word = *context::resolve_word(0, s.do_);
    Cell* code = stack::push(rt == TYPE_BLOCK ? reaction : target);
    stack::mark_native(&eval_reaction_word);
    stack::mark_native(&eval_word);
    stack::mark_try_all(&words::global::try_);
    stack::mark_native(&do_word);
    bool failed = false;
    try {
        interpreter::eval_block(code, true);
    } catch (const stack::Unwind& u) {
        if (u.code != stack::EXIT_ERROR) throw;
        stack::set_last_if_error();
        failed = true;
    }
    // The four frames share one arguments cell, just above the code, which
    // holds the result: popping them copies nothing into the caller's slots.
    if (!failed) {
        if (stack::pending) return false;
        stack::unwind();
        stack::unwind();
    }
    if (type_of(stack::arguments) == TYPE_ERROR) {
        Cell* error = stack::push(stack::arguments);
        report_error(error, code);
    }
    stack::unwind();
    stack::unwind();
    stack::top = mark;
    return true;
}

// pending? reactor reaction: 1 when the queue holds the pair, else 0; -1
// when an exit is pending. May collect.
int pending(node_t ctx, Cell* reactor, Cell* reaction) {
    uint32_t rt = type_of(reaction);
    if (rt != TYPE_BLOCK && rt != TYPE_FUNCTION) {
        Cell* mark = stack::top;
        if (!eval_own(PENDING)) return -1;
        bool answer = logic::truthy(stack::top - 1);
        stack::top = mark;
        return answer ? 1 : 0;
    }
    Cell* q = read_queue(ctx, stack::push_cell());
    uint32_t index = q->data1;
    int64_t found;
    bool answer = false;
    while ((found = find_same(q, index, reactor)) >= 0) {
        Cell second = pick_at(q, found + 1);
        if (natives::same_values_q(&second, reaction)) {
            answer = true;
            break;
        }
        index = skip_index(q, static_cast<uint32_t>(found), 4);
    }
    stack::top = q;
    return answer ? 1 : 0;
}

// append queue reduce [reactor :reaction :targets done]. May collect.
void append_entry(Cell* queue, const Cell* reactor, const Cell* reaction, const Cell* targets,
                  bool done) {
    *block::alloc_tail(queue) = *reactor;
    *block::alloc_tail(queue) = *reaction;
    *block::alloc_tail(queue) = *targets;
    make_logic(block::alloc_tail(queue), done);
}

// One complete propagation from the reaction just queued and run: the queue
// is drained last-in first-out; an entry whose run queued more is marked
// done and the newer ones go first. Returns false when an exit is pending.
// May collect.
bool drain(node_t ctx) {
    Cell* args = stack::arguments;
    Cell* q = read_queue(ctx, &args[SLOT_Q]);
    q->data1 = block::abs_length(q);
    for (;;) {
        q->data1 = skip_index(q, q->data1, -4);
        Cell flag = pick_at(q, q->data1 + 3);
        if (logic::truthy(&flag)) {
            block::ms_clear(q);
        } else {
            Cell* queue = read_queue(ctx, stack::push_cell());
            int32_t size = block::ms_length_q(queue);
            Cell* entry = stack::push_cell();
            *entry = pick_at(q, q->data1);
            *stack::push_cell() = pick_at(q, int64_t{q->data1} + 1);
            *stack::push_cell() = pick_at(q, int64_t{q->data1} + 2);
            if (fast_q(entry, entry + 1, entry + 2)) {
                if (!eval_fast(ctx, entry + 1, entry + 2)) return false;
            } else if (!eval_own(QUEUED_RUN)) {
                return false;
            }
            queue = read_queue(ctx, queue);
            if (size == block::ms_length_q(queue)) {
                block::ms_clear(q);
            } else {
                if (q->data1 + 3 >= block::abs_length(q)) fire(err::invalid_arg, q);
                make_logic(block::ms_abs_at(q, q->data1 + 3), true);
                q->data1 = block::abs_length(q);
            }
            stack::top = queue;
        }
        if (q->data1 == 0) break;
    }
    block::ms_clear(read_queue(ctx, q));
    return true;
}

// May collect.
void check_body() {
    Cell* args = stack::arguments;
    node_t ctx = reactivity_context();
    if (!ctx) return run_mox_body();
    const Symbols& s = symbols();
    Cell* pos = &args[SLOT_POS];
    *pos = *field_of(ctx, s.relations);
    if (type_of(pos) != TYPE_BLOCK || type_of(field_of(ctx, s.queue)) != TYPE_BLOCK)
        return run_mox_body();
    Cell* reactor = &args[0];
    bool only = logic::truthy(&args[SLOT_ONLY]);
    Cell* reaction = &args[SLOT_REACTION];
    Cell* targets = &args[SLOT_TARGETS];
    int64_t found;
    while ((found = find_same(pos, pos->data1, reactor)) >= 0) {
        pos->data1 = static_cast<uint32_t>(found);
        *reaction = pick_at(pos, found + 2);
        *targets = pick_at(pos, found + 3);
        bool matches = true;
        if (only) {
            Cell* name = stack::push_cell();
            *name = pick_at(pos, found + 1);
            matches = actions::compare_star(&args[SLOT_FIELD], name, COMP_EQUAL);
            stack::top = name;
        }
        if (matches) {
            Cell* queue = read_queue(ctx, stack::push_cell());
            bool run = queue_empty(queue);
            if (!run) {
                int held = pending(ctx, reactor, reaction);
                if (held < 0) return;
                run = held == 0;
            }
            if (run) {
                queue = read_queue(ctx, queue);
                if (queue_empty(queue)) {
                    if (fast_q(reactor, reaction, targets)) {
                        append_entry(queue, reactor, reaction, targets, true);
                        if (!eval_fast(ctx, reaction, targets)) return;
                    } else if (!eval_own(MARKED_RUN)) {
                        return;
                    }
                    if (!drain(ctx)) return;
                } else {
                    append_entry(queue, reactor, reaction, targets, false);
                }
            }
            stack::top = queue;
        }
        pos->data1 = skip_index(pos, pos->data1, 4);
    }
    make_unset(args);
}

} // namespace

void register_bodies() { routines::bind_native_body("system/reactivity/check", &check_body); }

} // namespace mox::reactivity_body
