// The routines behind the system object: whether run-time code is being
// evaluated, the float formatter's switches, the command line that start-up
// puts in system/script/args, and the Moxbin codec's encoder and decoder. Each runs in its
// routine's frame: arguments from stack::arguments[0], the result into it.
#include "io/system-state.h"

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "core/actions.h"
#include "core/context.h"
#include "core/memory.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/unicode.h"
#include "core/value.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "evaluator/routines.h"
#include "io/moxbin.h"
#include "platform/platform.h"

namespace mox::system_state {

namespace {

Cell* args() { return stack::arguments; }

bool truthy(const Cell* c) {
    const uint32_t t = type_of(c);
    return t != TYPE_NONE && !(t == TYPE_LOGIC && c->data1 == 0);
}

bool same_symbol(uint32_t a, uint32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

bool block_kind(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || is_any_path(t); }

// Whether the series node is a block somewhere inside body (at any depth).
bool holds_block(node_t body, node_t wanted, std::unordered_set<node_t>& seen) {
    std::vector<node_t> work{body};
    while (!work.empty()) {
        const node_t n = work.back();
        work.pop_back();
        if (n == wanted) return true;
        if (!seen.insert(n).second) continue;
        memory::SeriesBuffer* b = memory::buffer_of(n);
        for (const Cell* c = b->cells(); c < b->cells_tail(); c++)
            if (block_kind(type_of(c))) work.push_back(c->data2);
    }
    return false;
}

// The function whose body a body frame evaluates: the function frame right
// below it owns the context.
const Cell* body_function(const stack::Frame* body_frame) {
    if (body_frame <= stack::frame_bottom) return nullptr;
    const stack::Frame* f = body_frame - 1;
    if (f->type() != stack::FRAME_FUNCTION || !f->function_context) return nullptr;
    const Cell* fn = context::owner_of(f->function_context);
    return type_of(fn) == TYPE_FUNCTION ? fn : nullptr;
}

// Boot functions stand for compiled code: their bodies, and the blocks
// inside them that control natives evaluate, are not interpretation. Any
// other block being evaluated is code made at run time (a script, a line
// typed at the console, a block given to do). Nothing here allocates.
bool interpreted_q() {
    struct Eval {
        const stack::Frame* frame;
        const Cell* block;
    };
    std::vector<Eval> evals;
    std::vector<node_t> boot_bodies;
    Cell* args_of = stack::arguments;
    for (const stack::Frame* f = stack::ctop - 1; f >= stack::frame_bottom; f--) {
        Cell* frame_args = args_of;
        args_of = arena::at<Cell>(f->saved_arguments);
        // A conditional running its block in place keeps it in its first
        // argument cell.
        if (f->flags & stack::FRAME_BRANCH) {
            evals.push_back({f, frame_args});
            continue;
        }
        // A function's body runs in its own evaluation frame, or in place in
        // the function's frame.
        const bool in_place = f->type() == stack::FRAME_FUNCTION && (f->flags & stack::FRAME_BODY);
        if (f->type() != stack::FRAME_EVAL && !in_place) continue;
        if (f->flags & stack::FRAME_BODY) {
            const Cell* fn = body_function(in_place ? f + 1 : f);
            if (!fn) continue;
            if (!(fn->header & function::FLAG_BOOT)) return true;
            const Cell* body = &function::extra_of(fn)[function::EXTRA_BODY];
            if (type_of(body) == TYPE_BLOCK) boot_bodies.push_back(body->data2);
            continue;
        }
        evals.push_back({f, frame_args - 1});
    }
    std::unordered_set<node_t> seen;
    for (const Eval& e : evals) {
        if (!block_kind(type_of(e.block))) continue;
        bool compiled = false;
        for (node_t body : boot_bodies) {
            seen.clear();
            if (holds_block(body, e.block->data2, seen)) {
                compiled = true;
                break;
            }
        }
        // The top level of the boot modules is compiled code too.
        if (!compiled && !(boot::loading && boot_bodies.empty())) return true;
    }
    return false;
}

void interpreted_body() { make_logic(args(), interpreted_q()); }

// float-option word new: the formatter's switch named by the option word.
void float_option_body() {
    const Cell* word = args();
    const bool on = truthy(args() + 1);
    static uint32_t pretty = 0, full = 0;
    if (!pretty) {
        pretty = symbol::make("pretty?");
        full = symbol::make("full?");
    }
    if (same_symbol(word->data2, pretty))
        float_::pretty_print_q = on;
    else if (same_symbol(word->data2, full))
        float_::full_support_q = on;
    make_unset(args());
}

// moxbin-encode* data compact?: the compact or the fixed-width document.
void encode_body() {
    Cell* out = stack::push_cell();
    make_none(out);
    if (truthy(args() + 1))
        moxbin::encode_cp(args(), out);
    else
        moxbin::encode(args(), out);
    *args() = *out;
}

// moxbin-decode data: a file or URL is read first; fewer than eleven bytes
// cannot hold a document. One value comes back alone, several as a block.
void decode_body() {
    Cell* data = args();
    const uint32_t t = type_of(data);
    if (t == TYPE_FILE || t == TYPE_URL) {
        actions::read(data, nullptr, nullptr, true, false, false, nullptr);
        if (stack::pending) return;
    }
    if (type_of(data) != TYPE_BINARY || binary::ms_length_q(data) <= 10)
        fire(err::invalid_data, data);
    Cell* out = stack::push_cell();
    block::make_at(out, 4);
    const int32_t length = binary::ms_length_q(data);
    moxbin::decode(binary::ms_head(data), length, out, true, data);
    *args() = block::rs_length_q(out) == 1 ? *block::rs_head(out) : *out;
}

// script-command-line: the process's whole command line as a string.
void command_line_body() {
    const char16_t* line = platform::command_line();
    uint32_t count = 0;
    while (line && line[count]) count++;
    const node_t node = unicode::load_utf16(line ? line : u"", count, nullptr, false);
    *args() = Cell{TYPE_STRING, 0, node, 0};
}

} // namespace

void register_routines() {
    routines::register_("state-interpreted?", &interpreted_body);
    routines::register_("float-option", &float_option_body);
    routines::register_("moxbin-encode*", &encode_body);
    routines::register_("moxbin-decode", &decode_body);
    routines::register_("script-command-line", &command_line_body);
}

} // namespace mox::system_state
