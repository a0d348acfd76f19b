// Routines and native bodies (see routines.h).
#include "evaluator/routines.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/memory.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "evaluator/interpreter.h"

namespace mox::routines {

bool mox_bodies = false;

namespace {

struct Entry {
    std::string name;
    Body body;
};

// Routine bodies and native bodies share one table: a code cell holds an
// index into it.
std::vector<Entry>& table() {
    static std::vector<Entry> t;
    return t;
}

// The bindings asked for, made by bind_native_bodies.
std::vector<Entry>& wanted() {
    static std::vector<Entry> w;
    return w;
}

int32_t bound = 0;

int32_t add(const char* name, Body body) {
    table().push_back(Entry{name, body});
    return static_cast<int32_t>(table().size() - 1);
}

// The function! value a name reaches: a global word, then object fields
// along the slashes; null when any step has no such value.
Cell* function_named(const std::string& name) {
    node_t ctx = context::global;
    Cell* value = nullptr;
    size_t start = 0;
    for (;;) {
        size_t slash = name.find('/', start);
        std::string part = name.substr(start, slash == std::string::npos ? slash : slash - start);
        if (value) {
            if (type_of(value) != TYPE_OBJECT) return nullptr;
            ctx = value->data1;
        }
        value = context::symbol_value(ctx, symbol::make(part.c_str()));
        if (!value) return nullptr;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return type_of(value) == TYPE_FUNCTION ? value : nullptr;
}

void report(const char* what, const std::string& name) {
    std::fprintf(stderr, "mox: C++ body %s: %s\n", name.c_str(), what);
}

} // namespace

// A name registered twice is a fault of the build, not of a program.
void register_(const char* name, Body body) {
    if (find(name, std::strlen(name)) >= 0) {
        report("registered twice", name);
        sys_quit(98, 0);
    }
    add(name, body);
}

void bind_native_body(const char* name, Body body) { wanted().push_back(Entry{name, body}); }

// May collect (interning names).
void bind_native_bodies() {
    const char* env = std::getenv("MOX_MOX_BODIES");
    if (env && std::strcmp(env, "1") == 0) mox_bodies = true;
    std::vector<Entry> asked;
    asked.swap(wanted());
    if (mox_bodies) return;
    for (const Entry& w : asked) {
        Cell* fn = function_named(w.name);
        if (!fn) {
            report("no function of that name", w.name);
            continue;
        }
        Cell* extra = function::extra_of(fn);
        if (type_of(&extra[function::EXTRA_BODY]) != TYPE_BLOCK) {
            report("the function has no body", w.name);
            continue;
        }
        int32_t id = add(w.name.c_str(), w.body);
        // add() allocates no series: the extra block has not moved.
        make_integer(&extra[function::EXTRA_CODE], id);
        bound++;
    }
}

int32_t bound_count() { return bound; }

int32_t find(const char* name, size_t length) {
    const std::vector<Entry>& t = table();
    for (size_t i = 0; i < t.size(); i++)
        if (t[i].name.size() == length && std::memcmp(t[i].name.data(), name, length) == 0)
            return static_cast<int32_t>(i);
    return -1;
}

void run_mox_body() {
    const Cell* fn = context::owner_of(stack::top_frame()->function_context);
    Cell* body = stack::push(&function::extra_of(fn)[function::EXTRA_BODY]);
    interpreter::eval_body(body);
}

void run(const Cell* callee) {
    Cell* args = stack::arguments;
    // Without arguments the result slot lies at the top: reserve it, so that
    // the body's scratch cells go above it.
    if (stack::top == args) stack::push_cell();
    int32_t id = get_integer(&function::extra_of(callee)[function::EXTRA_CODE]);
    table()[static_cast<size_t>(id)].body();
    if (stack::pending) return;
    stack::arguments = args;
    stack::top = args + 1;
}

// May collect.
Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (!boot::loading) fire(err::routines);
    if (type_of(spec) != TYPE_BLOCK || block::rs_length_q(spec) != 2)
        fire_bad_make_arg(static_cast<uint32_t>(type), spec);
    const Cell* items = block::rs_head(spec);
    if (type_of(&items[0]) != TYPE_BLOCK || type_of(&items[1]) != TYPE_WORD)
        fire_bad_make_arg(static_cast<uint32_t>(type), spec);
    size_t length = 0;
    const char* name = symbol::name_utf8(items[1].data2, &length);
    int32_t id = find(name, length);
    if (id < 0) fire_bad_make_arg(static_cast<uint32_t>(type), spec);
    Cell* base = stack::top;
    Cell* fn_spec = stack::push(&items[0]);
    uint32_t flags = function::validate_spec(fn_spec);
    uint32_t arity = 0;
    {
        memory::SeriesBuffer* b = memory::buffer_of(fn_spec->data2);
        for (const Cell* c = b->cells() + fn_spec->data1; c < b->cells_tail(); c++)
            if (type_of(c) == TYPE_WORD) arity++;
    }
    if (arity > 31) fire_bad_make_arg(static_cast<uint32_t>(type), spec);
    Cell* body = block::make_at(stack::push_cell(), 0);
    Cell* fn = function::push(fn_spec, body, flags, nullptr);
    fn->header = (fn->header & ~HEADER_TYPE_MASK) | TYPE_ROUTINE | arity << FLAG_ROUTINE_ARGS_SHIFT;
    make_integer(&function::extra_of(fn)[function::EXTRA_CODE], id);
    *context::owner_of(fn->data1) = *fn;
    *proto = *fn;
    stack::top = base;
    return proto;
}

} // namespace mox::routines
