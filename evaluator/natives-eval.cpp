// The evaluation natives: do, reduce, compose, get, set, value?, unset, in,
// bind, context?, construct, apply, transcode, try, catch, throw, break,
// continue, exit, return, print and prin.
//
// Natives that evaluate code hand non-local exits on by returning while
// stack::pending is set; the handlers among them (try, catch) take their own
// exits whether they arrive that way or as the exception.
#include "evaluator/natives-eval.h"

#include <algorithm>
#include <climits>

#include "core/actions.h"
#include "core/console.h"
#include "core/context.h"
#include "core/cycles.h"
#include "core/datatype.h"
#include "core/dyn-print.h"
#include "core/natives.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives-control.h"
#include "evaluator/trace.h"

namespace mox::natives {

bool last_new_line = false;

namespace {

// ---------------------------------------------------------------------------
// Shared helpers
// ---------------------------------------------------------------------------

int32_t tail_of(const Cell* blk) { return interpreter::tail_of(blk); }
int32_t start_of(const Cell* blk) {
    return std::min(static_cast<int32_t>(blk->data1), tail_of(blk));
}

bool function_type_q(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION ||
           t == TYPE_ROUTINE;
}

// Pushes a one-value block holding a copy of the value (a stack cell), so
// that the value can be evaluated as one expression. May collect.
Cell* push_single(const Cell* value) {
    Cell* blk = block::make_at(stack::push_cell(), 1);
    block::ms_append(blk, value);
    return blk;
}

// Adds a copy of the value to target: at its tail (append, keeping a
// hash!'s index), or at its index, which then moves past the new value.
// May collect.
void add_value(Cell* target, Cell* value, bool append) {
    Cell* mark = stack::top;
    if (!append)
        block::insert_value(target, value, false, true);
    else if (type_of(target) == TYPE_HASH)
        actions::append(target, value, -1, true, 1);
    else
        block::ms_append(target, value);
    stack::top = mark;
}

// A result block: out itself, or a new block with room for size cells.
Cell* target_block(Cell* out, int32_t size) {
    return out ? out : block::make_at(stack::push_cell(), size);
}
bool append_mode(const Cell* target) { return block::ms_tail_q(target); }

// Evaluates the block's expressions one at a time and adds each value, its
// new-line marker cleared, to target. Returns early while an exit is
// pending. May collect.
void reduce_block(Cell* src, Cell* target, bool append) {
    Cell* mark = stack::top;
    for (int32_t pos = start_of(src); pos < tail_of(src);) {
        pos = interpreter::eval_single(src, pos, tail_of(src), true);
        if (stack::pending) return;
        add_value(target, clear_new_line(stack::top - 1), append);
        stack::top = mark;
    }
}

// ---------------------------------------------------------------------------
// do, reduce, compose
// ---------------------------------------------------------------------------

// do/next: one expression, the position word getting the block after it;
// at the tail the value is unset! and the position stays.
void do_next(Cell* blk, Cell* position) {
    Cell* args = stack::arguments;
    Cell* word = stack::push(position);
    int32_t pos = start_of(blk);
    if (pos < tail_of(blk)) {
        pos = interpreter::eval_single(blk, pos, tail_of(blk), true);
        if (stack::pending) return;
        *args = *(stack::top - 1);
    } else {
        make_unset(args);
    }
    blk->data1 = static_cast<uint32_t>(pos);
    word::set(word, blk);
    stack::top = args + 1;
}

void run_code(Cell* blk, int32_t next) {
    if (next >= 0)
        do_next(stack::push(blk), stack::arguments + next);
    else
        interpreter::eval_block(blk, true);
}

// A function of the library that do hands work to: a global word, or a
// field of a global object; pushed on the stack. May collect.
Cell* library_function(const char* object, const char* name) {
    const uint32_t name_symbol = symbol::make(name);
    const uint32_t object_symbol = object ? symbol::make(object) : 0;
    Cell* value = context::symbol_value(context::global, object ? object_symbol : name_symbol);
    if (value && object)
        value = type_of(value) == TYPE_OBJECT ? context::symbol_value(value->data1, name_symbol)
                                              : nullptr;
    if (!value || type_of(value) != TYPE_FUNCTION) fire(err::not_done);
    return stack::push(value);
}

// Refinement order: /expand, /args arg, /next position, /trace callback.
// Scripts (file! and url!) run through the library's do-file, which expands
// their directives itself; /expand passes a block through the preprocessor
// first.
void do_star(int32_t expand, int32_t with_args, int32_t next, int32_t trace) {
    Cell* args = stack::arguments;
    if (type_of(args) == TYPE_FILE || type_of(args) == TYPE_URL) {
        Cell* fn = library_function(nullptr, "do-file");
        Cell* call = stack::push(args);
        make_none(stack::push_cell());
        Cell* script_args = stack::push_cell();
        if (with_args >= 0)
            *script_args = args[with_args];
        else
            make_none(script_args);
        interpreter::call_value(fn, call, 3, args);
        return;
    }
    // A string is loaded first; from then on it is the block it loads to,
    // so /expand, /next and /trace treat it as any block.
    if (type_of(args) == TYPE_STRING) {
        Cell* loaded = stack::push_cell();
        lexer::scan_string(loaded, args, -1, false, true, true, true, nullptr, nullptr, nullptr);
        *args = *loaded;
    }
    const bool code_block =
        type_of(args) == TYPE_BLOCK || type_of(args) == TYPE_PAREN || type_of(args) == TYPE_HASH;
    if (code_block) block::clip_index(args);
    if (expand >= 0 && code_block) {
        Cell* fn = library_function("preprocessor", "expand");
        Cell* call = stack::push(args);
        make_none(stack::push_cell());
        interpreter::call_value(fn, call, 2, stack::push_cell());
    }
    if (trace >= 0) {
        // Any other value is traced as the one expression it is evaluated as.
        if (code_block) return trace::run(args, args + trace);
        if (type_of(args) == TYPE_ERROR) stack::throw_error(args);
        return trace::run(push_single(args), args + trace);
    }
    switch (type_of(args)) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
        return run_code(args, next);
    case TYPE_ERROR:
        stack::throw_error(args);
    default:
        interpreter::eval_block(push_single(args), true);
    }
}

// reduce/into appends to a block without the append action, which would
// tell the block's owner of the new cells; so it is told here, once for them
// all. A hash!'s appends go through the action. May collect.
void tell_appended(Cell* out, bool append, int32_t old_length) {
    if (!append || type_of(out) == TYPE_HASH) return;
    const auto added = static_cast<int32_t>(block::abs_length(out)) - old_length;
    if (added > 0) series::notify(out, series::Change::appended, nullptr, old_length, added);
}

// Refinement order: /into out.
void reduce_star(int32_t into) {
    Cell* args = stack::arguments;
    Cell* out = into >= 0 ? args + into : nullptr;
    if (type_of(args) == TYPE_BLOCK) {
        Cell* target = target_block(out, block::rs_length_q(args));
        const bool append = !out || append_mode(out);
        const auto old_length = static_cast<int32_t>(block::abs_length(target));
        reduce_block(args, target, append);
        if (stack::pending) return;
        if (out) tell_appended(out, append, old_length);
        stack::set_last_keep(target);
        return;
    }
    if (!function_type_q(type_of(args))) {
        interpreter::eval_block(push_single(args), true);
        if (stack::pending) return;
    }
    if (!out) return;
    const bool append = append_mode(out);
    const auto old_length = static_cast<int32_t>(block::abs_length(out));
    add_value(out, stack::push(args), append);
    tell_appended(out, append, old_length);
    stack::set_last_keep(out);
}

// Adds the composed values of src to target. Nested blocks are entered with
// deep, each on the cycle stack, so that a block that contains itself ends
// in too-deep instead of recursing without end. May collect.
void compose_block(Cell* src, Cell* target, bool append, bool deep, bool only) {
    Cell* mark = stack::top;
    for (int32_t i = start_of(src); i < tail_of(src); i++) {
        Cell* item = stack::push(block::ms_abs_at(src, static_cast<uint32_t>(i)));
        switch (type_of(item)) {
        case TYPE_BLOCK:
            if (deep) {
                Cell* sub = block::make_at(stack::push_cell(), block::rs_length_q(item));
                cycles::Scope walking(item->data2);
                compose_block(item, sub, true, deep, only);
                if (stack::pending) return;
                item = sub;
            }
            add_value(target, item, append);
            break;
        case TYPE_PAREN: {
            if (block::rs_length_q(item) == 0) break;
            interpreter::eval_block(item, false);
            if (stack::pending) return;
            Cell* value = stack::top - 1;
            if (type_of(value) == TYPE_UNSET) break;
            if (only || type_of(value) != TYPE_BLOCK) {
                add_value(target, value, append);
                break;
            }
            for (int32_t j = start_of(value); j < tail_of(value); j++) {
                Cell* spliced = stack::push(block::ms_abs_at(value, static_cast<uint32_t>(j)));
                add_value(target, spliced, append);
                stack::top = spliced;
            }
            break;
        }
        default:
            add_value(target, item, append);
        }
        stack::top = mark;
    }
}

// Refinement order: /deep, /only, /into out.
void compose_star(int32_t deep, int32_t only, int32_t into) {
    Cell* args = stack::arguments;
    Cell* out = into >= 0 ? args + into : nullptr;
    Cell* target = target_block(out, block::rs_length_q(args));
    compose_block(args, target, !out || append_mode(out), deep >= 0, only >= 0);
    if (stack::pending) return;
    stack::set_last_keep(target);
}

// ---------------------------------------------------------------------------
// Words and contexts
// ---------------------------------------------------------------------------

// A path given to get or set is evaluated from a one-value block; for set,
// the value to store is the last cell when the path is evaluated.
void path_value(Cell* path, const Cell* value) {
    Cell* blk = push_single(path);
    if (value) stack::push(value);
    interpreter::eval_path(path, blk, 0, 1, value != nullptr, value == nullptr, true);
    if (stack::pending) return;
    stack::set_last_keep(stack::top - 1);
}

// Refinement order: /any, /case.
void get_star(int32_t any, int32_t) {
    Cell* args = stack::arguments;
    uint32_t t = type_of(args);
    if (is_any_path(t)) return path_value(args, nullptr);
    if (t == TYPE_OBJECT) {
        stack::set_last_keep(actions::reflect(args, static_cast<int32_t>(words::values)));
        return;
    }
    Cell value = *word::get_value(args);
    if (type_of(&value) == TYPE_UNSET && any < 0) fire(err::no_value, args);
    stack::set_last_keep(&value);
}

// Refinement order: /any, /case, /only, /some.
void set_star(int32_t any, int32_t, int32_t only, int32_t some) {
    Cell* args = stack::arguments;
    Cell* value = args + 1;
    if (type_of(value) == TYPE_UNSET && any < 0) fire(err::need_value, args);
    uint32_t t = type_of(args);
    if (t == TYPE_BLOCK) {
        set_many(args, value, block::rs_length_q(args), any >= 0, only >= 0, some >= 0);
    } else if (is_any_path(t)) {
        path_value(args, value);
        if (stack::pending) return;
    } else if (t == TYPE_OBJECT) {
        object::set_many(args, value, any >= 0, only >= 0, some >= 0);
    } else {
        word::set(args, value);
    }
    stack::set_last_keep(args + 1);
}

// An unbound word has no value.
void value_q_star() {
    Cell* args = stack::arguments;
    bool has;
    if (is_any_word(type_of(args)))
        has =
            static_cast<int32_t>(args->data3) >= 0 && type_of(word::get_value(args)) != TYPE_UNSET;
    else
        has = type_of(args) != TYPE_UNSET;
    make_logic(args, has);
}

void unset_star() {
    Cell* args = stack::arguments;
    Cell unset;
    make_unset(&unset);
    if (type_of(args) == TYPE_WORD) {
        word::set(args, &unset);
    } else {
        Cell* mark = stack::top;
        for (int32_t i = start_of(args); i < tail_of(args); i++) {
            Cell* item = stack::push(block::ms_abs_at(args, static_cast<uint32_t>(i)));
            if (type_of(item) == TYPE_WORD) word::set(item, &unset);
            stack::top = mark;
        }
    }
    stack::set_last_keep(&unset);
}

void in_star() {
    Cell* args = stack::arguments;
    Cell* word = args + 1;
    if (context::bind_word(args->data1, word) < 0) {
        stack::set_last_keep(&none_value);
        return;
    }
    if (type_of(word) == TYPE_REFINEMENT) set_type(word, TYPE_WORD);
    stack::set_last_keep(word);
}

// The target context: an object's or function's own, or a word's binding.
// Refinement order: /copy.
void bind_star(int32_t copy) {
    Cell* args = stack::arguments;
    Cell* target = args + 1;
    node_t ctx = target->data1;
    if (!ctx) return stack::set_last_keep(args);
    if (is_any_word(type_of(args))) {
        context::bind_word(ctx, args);
    } else {
        if (copy >= 0) *args = *block::clone(args, true, true);
        context::bind(args, target->data1, type_of(target) == TYPE_OBJECT);
    }
    stack::set_last_keep(args);
}

void context_q_star() {
    Cell* args = stack::arguments;
    Cell owner = none_value;
    if (args->data1) {
        owner = *context::owner_of(args->data1);
        if (type_of(&owner) == TYPE_UNSET) make_none(&owner);
    }
    stack::set_last_keep(&owner);
}

// Refinement order: /with object, /only.
void construct_star(int32_t with, int32_t only) {
    Cell* args = stack::arguments;
    Cell* prototype = with >= 0 ? args + with : make_none(stack::push_cell());
    stack::set_last_keep(object::make_from_spec(args, prototype, only >= 0));
}

// The function comes from a word, from the head of a path (whose further
// elements name refinements) or is given as it is. An op! is called as the
// function it wraps. Refinement order: /all, /safer.
void apply_star(int32_t all, int32_t safer) {
    Cell* args = stack::arguments;
    Cell* callee = stack::push_cell();
    const Cell* name = &words::global::applied;
    int32_t path_index = 0;
    uint32_t t = type_of(args);
    if (t == TYPE_WORD) {
        *callee = *word::get_value(args);
        name = args;
    } else if (t == TYPE_PATH) {
        if (block::rs_length_q(args) > 0) {
            Cell* head = stack::push(block::rs_head(args));
            if (type_of(head) == TYPE_WORD) *callee = *word::get_value(head);
            stack::top = callee + 1;
        }
        name = args;
        path_index = static_cast<int32_t>(args->data1) + 1;
    } else {
        *callee = *args;
    }
    uint32_t ct = type_of(callee);
    if (!function_type_q(ct)) fire(err::invalid_arg, args);
    if (ct == TYPE_OP) set_type(callee, (callee->header >> 16) & 0xFF);
    uint32_t flags = (all >= 0 ? interpreter::CALL_ALL : interpreter::CALL_APPLY) |
                     (safer >= 0 ? interpreter::CALL_SAFER : 0);
    Cell* blk = args + 1;
    interpreter::eval_call(callee, blk, start_of(blk), tail_of(blk), flags, false, name, path_index,
                           nullptr);
    if (stack::pending) return;
    stack::set_last_keep(stack::top - 1);
}

// ---------------------------------------------------------------------------
// transcode
// ---------------------------------------------------------------------------

// The text to scan from the source's index: all of it, or the /part: a
// count, or the position of another value of the source's type.
int32_t scan_length(Cell* src, const Cell* part) {
    uint32_t length = series::abs_length(src);
    if (src->data1 > length) src->data1 = length;
    if (!part) return static_cast<int32_t>(length - src->data1);
    int64_t n;
    if (type_of(part) == TYPE_INTEGER)
        n = get_integer(part);
    else if (type_of(part) == type_of(src))
        n = int64_t{part->data1} - src->data1;
    else
        fire(err::not_same_type);
    return static_cast<int32_t>(std::clamp<int64_t>(n, 0, INT32_MAX));
}

// A UTF-8 byte-order mark at the start of a binary! is skipped.
void skip_byte_order_mark(Cell* src, int32_t* length) {
    if (*length <= 2) return;
    const uint8_t* p = memory::buffer_of(src->data2)->head_ptr() + src->data1;
    if (p[0] != 0xEF || p[1] != 0xBB || p[2] != 0xBF) return;
    src->data1 += 3;
    *length -= 3;
}

// Refinement order: /next, /one, /prescan, /scan, /part length, /into dst,
// /trace callback.
void transcode_star(int32_t next, int32_t one, int32_t prescan, int32_t scan, int32_t part,
                    int32_t into, int32_t trace) {
    Cell* args = stack::arguments;
    bool single = next >= 0 || one >= 0 || scan >= 0;
    bool scanning = prescan >= 0 || scan >= 0;
    bool pair = next >= 0 && (one < 0 || scan >= 0);
    Cell* out = stack::push_cell();
    int32_t length = scan_length(args, part >= 0 ? args + part : nullptr);
    if (type_of(args) == TYPE_BINARY) skip_byte_order_mark(args, &length);
    if (scanning && length == 0) return stack::set_last_keep(&none_value);
    Cell* dst = into >= 0 ? args + into : nullptr;
    int32_t consumed = 0;
    int32_t code = lexer::scan_string(out, args, length, single, !scanning, !scanning, !single,
                                      &consumed, trace >= 0 ? args + trace : nullptr, dst);
    if (scanning) {
        if (code < 0)
            make_datatype(out, TYPE_ERROR);
        else if (code == 0)
            make_none(out);
        else
            make_datatype(out, static_cast<uint32_t>(code));
    }
    if (pair) {
        Cell* blk = block::make_at(stack::push_cell(), 2);
        block::ms_append(blk, out);
        Cell* rest = stack::push(args);
        rest->data1 += static_cast<uint32_t>(consumed);
        block::ms_append(blk, rest);
        *out = *blk;
    }
    stack::set_last_keep(dst ? dst : out);
}

// ---------------------------------------------------------------------------
// Non-local exits and their handlers
// ---------------------------------------------------------------------------

// An error stops at the try frame, which the error's unwinding pops before
// leaving the error on top. Other exits pass: without /all they have
// already left through the frame; with /all they cannot cross it and come
// back as errors. Refinement order: /all, /keep.
void try_star(int32_t all, int32_t keep) {
    Cell* args = stack::arguments;
    if (all >= 0)
        stack::mark_try_all(&words::global::try_);
    else
        stack::mark_try(&words::global::try_);
    try {
        interpreter::eval_block(args, true);
    } catch (const stack::Unwind& u) {
        if (u.code != stack::EXIT_ERROR) throw;
        stack::set_last_if_error();
        if (keep >= 0) error::capture_stack(args);
        return;
    }
    if (stack::pending) return;
    stack::unwind_last();
}

// Whether a throw's name (a word, else no name) is one of the names the
// catch takes: a word or a block of words.
bool name_matches(const Cell* thrown, const Cell* names) {
    if (type_of(thrown) != TYPE_WORD) return false;
    uint32_t symbol = symbol::resolve(thrown->data2);
    if (type_of(names) == TYPE_WORD) return symbol::resolve(names->data2) == symbol;
    bool found = false;
    for (int32_t i = start_of(names); i < tail_of(names); i++) {
        const Cell* item = block::ms_abs_at(names, static_cast<uint32_t>(i));
        if (type_of(item) != TYPE_WORD) fire(err::invalid_refine_arg, &words::global::name, names);
        found = found || symbol::resolve(item->data2) == symbol;
    }
    return found;
}

// A throw leaves the catch frame in place with the thrown value and its name
// in the native's first two cells. A throw whose name is not taken goes on
// to an outer catch. Refinement order: /name word.
void catch_star(int32_t name) {
    Cell* args = stack::arguments;
    Cell* names = name >= 0 ? stack::push(args + name) : nullptr;
    stack::mark_catch(&words::global::catch_);
    uint32_t code;
    try {
        interpreter::eval_block(args, true);
        code = stack::pending;
    } catch (const stack::Unwind& u) {
        if (u.code != stack::EXIT_THROW) throw;
        code = u.code;
    }
    if (code == 0) return stack::unwind_last();
    if (code != stack::EXIT_THROW) return;
    stack::pending = 0;
    stack::unwind();
    if (names && !name_matches(args + 1, names)) {
        Cell value = args[0];
        Cell thrown_name = args[1];
        stack::throw_value(stack::EXIT_THROW, &value, &thrown_name);
    }
    // Handled: a later error must not report the place of this throw.
    stack::throw_position = nullptr;
    if (trace::active) trace::fire(trace::CATCH, nullptr, -1, args, nullptr);
}

// Refinement order: /name word.
void throw_star(int32_t name) {
    Cell* args = stack::arguments;
    Cell unset;
    make_unset(&unset);
    if (trace::active) trace::fire(trace::THROW, nullptr, -1, args, nullptr);
    stack::throw_value(stack::EXIT_THROW, args, name >= 0 ? args + name : &unset);
}

// Refinement order: /return value.
void break_star(int32_t return_) { stack::throw_break(return_ >= 0, false); }
void continue_star() { stack::throw_break(false, true); }
void exit_star() { stack::throw_return(false); }
void return_star() { stack::throw_return(true); }

// ---------------------------------------------------------------------------
// print and prin
// ---------------------------------------------------------------------------

// A printed block is reduced into its own stretch at the scratch block's
// tail (a print nested in the block takes the stretch after it); the
// stretch goes and the index comes back however the print ends.
class ScratchStretch {
  public:
    ScratchStretch() : index_(scratch->data1), from_(block::abs_length(scratch)) {
        scratch->data1 = from_;
    }
    ~ScratchStretch() {
        block::ms_clear_at(scratch, from_);
        scratch->data1 = index_;
    }
    ScratchStretch(const ScratchStretch&) = delete;
    ScratchStretch& operator=(const ScratchStretch&) = delete;

  private:
    uint32_t index_;
    uint32_t from_;
};

// Hands the text to the print hooks; while no host has installed one, it
// goes to standard output.
void emit(Cell* text, bool new_line) {
    dyn_print::call_print_hooks(text, new_line);
    if (dyn_print::print_hook_count()) return;
    int32_t units = string::ms_length_q(text);
    uint32_t unit = string::buffer_of(text)->unit();
    console::write_units(string::ms_head(text), static_cast<size_t>(units) * unit, unit, new_line);
}

void output(bool new_line) {
    Cell* args = stack::arguments;
    if (type_of(args) == TYPE_BLOCK) {
        ScratchStretch stretch;
        reduce_block(args, scratch, true);
        if (stack::pending) return;
        Cell* text = string::push_new(64);
        actions::form(stack::push(scratch), text, nullptr, INT32_MAX);
        emit(text, new_line);
    } else if (type_of(args) == TYPE_STRING) {
        emit(args, new_line);
    } else {
        Cell* text = string::push_new(64);
        actions::form(args, text, nullptr, INT32_MAX);
        emit(text, new_line);
    }
    last_new_line = new_line;
    Cell unset;
    stack::set_last_keep(make_unset(&unset));
}

void print_star() { output(true); }
void prin_star() { output(false); }

} // namespace

void register_eval() { MOX_NATIVES_EVAL(MOX_NATIVE_REGISTER) }

} // namespace mox::natives
