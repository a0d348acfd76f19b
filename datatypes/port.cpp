// port!: making ports from url-parts specs, their mold, the forwarders that
// hand every series and I/O action to the port's actor, and the registry of
// native actor tables.
#include "datatypes/port.h"

#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/context.h"
#include "core/cycles.h"
#include "core/evaluator-hooks.h"
#include "core/stack.h"
#include "core/symbol.h"
#include "core/value.h"
#include "core/words.h"
#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/string.h"

namespace mox::port {

namespace {

// ---------------------------------------------------------------------------
// The system objects ports are made from
// ---------------------------------------------------------------------------

bool object_q(const Cell* c) { return c && type_of(c) == TYPE_OBJECT; }

// A field of an object by symbol, or null.
Cell* field_of(const Cell* object, uint32_t symbol) {
    if (!object_q(object)) return nullptr;
    const int32_t i = object::find_field(object->data1, symbol);
    return i < 0 ? nullptr : context::value_ptr(object->data1, i);
}

// system/<group>/<name>, or null. The symbols are made first: making one
// may collect, and the fields are read after.
Cell* system_field(const char* group, const char* name) {
    const uint32_t group_symbol = group ? symbol::make(group) : 0;
    const uint32_t name_symbol = symbol::make(name);
    Cell* holder = context::symbol_value(context::global, words::system);
    if (group) holder = field_of(holder, group_symbol);
    return field_of(holder, name_symbol);
}

// The port prototype: its actor must sit where the dispatcher reads it.
Cell* port_prototype() {
    const uint32_t actor = symbol::make("actor");
    Cell* proto = system_field("standard", "port");
    if (!object_q(proto) || object::field_count(proto->data1) < FIELD_COUNT ||
        object::find_field(proto->data1, actor) != FIELD_ACTOR)
        fire(err::invalid_port);
    return proto;
}

bool same_word_q(const Cell* a, const Cell* b) {
    return symbol::resolve(a->data2) == symbol::resolve(b->data2);
}

// The scheme object that system/schemes pairs with the word, or null.
Cell* find_scheme(const Cell* word) {
    Cell* schemes = system_field(nullptr, "schemes");
    if (!schemes || type_of(schemes) != TYPE_BLOCK) return nullptr;
    const int32_t n = block::ms_length_q(schemes);
    for (int32_t i = 0; i + 1 < n; i += 2) {
        Cell* name = block::ms_head(schemes) + i;
        if (is_any_word(type_of(name)) && same_word_q(name, word)) return name + 1;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Native actors
// ---------------------------------------------------------------------------

std::vector<const NativeActor*>& native_actors() {
    static std::vector<const NativeActor*> tables;
    return tables;
}

// ---------------------------------------------------------------------------
// Forwarding to an object actor
// ---------------------------------------------------------------------------

// The action words, by action ID from append on.
constexpr const char* kActionNames[NATIVE_ACTIONS] = {
    "append", "at",     "back",    "change",  "clear",  "copy",   "find",   "head",
    "head?",  "index?", "insert",  "length?", "move",   "next",   "pick",   "poke",
    "put",    "remove", "reverse", "select",  "sort",   "skip",   "swap",   "tail",
    "tail?",  "take",   "trim",    "create",  "close",  "delete", "modify", "open",
    "open?",  "query",  "read",    "rename",  "update", "write"};

// The values an actor function gets, pushed on the evaluation stack: the
// port, then the action's arguments and refinements in spec order.
class ActorCall {
  public:
    explicit ActorCall(const Cell* port) : saved_(stack::top), base_(stack::push(port)) {}

    ActorCall& arg(const Cell* value) {
        if (value)
            stack::push(value);
        else
            make_none(stack::push_cell());
        return *this;
    }
    ActorCall& flag(bool on) {
        make_logic(stack::push_cell(), on);
        return *this;
    }
    // A refinement with one argument, used when the argument is given.
    ActorCall& refine(const Cell* value) { return flag(value).arg(value); }
    // A refinement whose argument is a count the dispatcher worked out;
    // used unless the count is the one meaning "not given".
    ActorCall& count(int32_t n, int32_t absent) {
        if (n == absent) return flag(false).arg(nullptr);
        flag(true);
        make_integer(stack::push_cell(), n);
        return *this;
    }

    // Calls the actor's function for the action and writes its result into
    // out. The actor must be an object! (else invalid-port) whose field of
    // the action's name holds a function! (else no-port-action with the
    // word). May collect.
    Cell* call(Action action, Cell* out) {
        const uint32_t symbol = symbol::make(kActionNames[action - A_APPEND]);
        Cell* actor_cell = stack::push(context::value_ptr(base_->data1, FIELD_ACTOR));
        if (type_of(actor_cell) != TYPE_OBJECT) fire(err::invalid_port);
        Cell* fn = object::find_value(actor_cell->data1, symbol);
        if (type_of(fn) != TYPE_FUNCTION) {
            Cell word{TYPE_WORD, 0, symbol, static_cast<uint32_t>(-1)};
            fire(err::no_port_action, &word);
        }
        Cell* callee = stack::push(fn);
        Cell* result = stack::push_cell();
        evaluator::call_value(callee, base_, static_cast<int32_t>(actor_cell - base_), result,
                              interpreter::CALL_ALL | interpreter::CALL_SAFER);
        *out = *result;
        stack::top = saved_;
        return out;
    }

  private:
    Cell* saved_;
    Cell* base_;
};

inline Cell* arg(int32_t i) { return stack::arguments + i; }

// ---------------------------------------------------------------------------
// The forwarders, in action order
// ---------------------------------------------------------------------------

Cell* insert(Cell* port, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    return ActorCall(port).arg(value).count(part, -1).flag(only).count(dup, 1).call(
        append ? A_APPEND : A_INSERT, port);
}

// The actions of the running call that take the port and at most one more
// argument from the stack and leave their result in its first cell.
template <Action A, int32_t Args> Cell* in_place() {
    ActorCall call(arg(0));
    if (Args > 1) call.arg(arg(1));
    return call.call(A, arg(0));
}

Cell* change(Cell* port, Cell* value, int32_t part, bool only, int32_t dup) {
    return ActorCall(port).arg(value).count(part, -1).flag(only).count(dup, 1).call(A_CHANGE, port);
}

template <Action A> Cell* port_only(Cell* port) { return ActorCall(port).call(A, port); }

Cell* copy(Cell* port, Cell* dest, Cell* part, bool deep, Cell* types) {
    return ActorCall(port).refine(part).flag(deep).refine(types).call(A_COPY, dest);
}

Cell* find(Cell* port, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    return ActorCall(port)
        .arg(value)
        .refine(part)
        .flag(only)
        .flag(case_)
        .flag(same)
        .flag(any)
        .refine(with)
        .refine(skip)
        .flag(last)
        .flag(reverse)
        .flag(tail)
        .flag(match)
        .call(A_FIND, port);
}

// A result that is no integer counts as none (no length).
int32_t length_q(Cell* port) {
    Cell* result = stack::push_cell();
    ActorCall(port).call(A_LENGTH_Q, result);
    const int32_t n = type_of(result) == TYPE_INTEGER ? get_integer(result) : -1;
    stack::pop(1);
    return n < 0 ? -1 : n;
}

Cell* move(Cell* port, Cell* target, Cell* part) {
    return ActorCall(port).arg(target).refine(part).call(A_MOVE, port);
}

// The index as the call gave it.
Cell* pick(Cell* port, int32_t index, Cell* boxed) {
    Cell key;
    if (boxed)
        key = *boxed;
    else
        make_integer(&key, index);
    return ActorCall(port).arg(&key).call(A_PICK, port);
}

Cell* poke(Cell* port, int32_t index, Cell* data, Cell* boxed) {
    Cell key;
    if (boxed)
        key = *boxed;
    else
        make_integer(&key, index);
    return ActorCall(port).arg(&key).arg(data).call(A_POKE, port);
}

Cell* put(Cell* port, Cell* key, Cell* value, bool case_) {
    return ActorCall(port).arg(key).arg(value).flag(case_).call(A_PUT, port);
}

Cell* remove(Cell* port, Cell* part, Cell* key) {
    return ActorCall(port).refine(part).refine(key).call(A_REMOVE, port);
}

Cell* reverse(Cell* port, Cell* part, Cell* skip) {
    return ActorCall(port).refine(part).refine(skip).call(A_REVERSE, port);
}

Cell* select(Cell* port, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse) {
    return ActorCall(port)
        .arg(value)
        .refine(part)
        .flag(only)
        .flag(case_)
        .flag(same)
        .flag(any)
        .refine(with)
        .refine(skip)
        .flag(last)
        .flag(reverse)
        .call(A_SELECT, port);
}

Cell* sort(Cell* port, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable) {
    return ActorCall(port)
        .flag(case_)
        .refine(skip)
        .refine(comparator)
        .refine(part)
        .flag(all)
        .flag(reverse)
        .flag(stable)
        .call(A_SORT, port);
}

Cell* swap(Cell* port, Cell* other) { return ActorCall(port).arg(other).call(A_SWAP, port); }

Cell* take(Cell* port, Cell* part, bool deep, bool last) {
    return ActorCall(port).refine(part).flag(deep).flag(last).call(A_TAKE, port);
}

Cell* trim(Cell* port, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    return ActorCall(port)
        .flag(head)
        .flag(tail)
        .flag(auto_)
        .flag(lines)
        .flag(all)
        .refine(with)
        .call(A_TRIM, port);
}

Cell* modify(Cell* port, Cell* field, Cell* value, bool case_) {
    return ActorCall(port).arg(field).arg(value).flag(case_).call(A_MODIFY, port);
}

Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return ActorCall(port).flag(new_).flag(read).flag(write).flag(seek).refine(allow).call(A_OPEN,
                                                                                           port);
}

Cell* rename(Cell* port, Cell* to) { return ActorCall(port).arg(to).call(A_RENAME, port); }

// ---------------------------------------------------------------------------
// read and write: open, (insert,) copy, close
// ---------------------------------------------------------------------------

// Runs step; when it raises an error, the port is closed first and the
// error then goes on unchanged. May collect.
template <typename Step> void closing_on_error(Cell* port, Step step) {
    Cell* saved_top = stack::top;
    Cell* saved_arguments = stack::arguments;
    stack::Frame* saved_ctop = stack::ctop;
    stack::mark_try(nullptr);
    try {
        step();
    } catch (const stack::Unwind& u) {
        if (u.code != stack::EXIT_ERROR) throw;
        Cell error = stack::top[-1];
        collector::Root keep(&error);
        stack::ctop = saved_ctop;
        stack::arguments = saved_arguments;
        stack::top = saved_top;
        actions::close(stack::push(port));
        stack::throw_error(&error);
    }
    stack::ctop = saved_ctop;
    stack::arguments = saved_arguments;
    stack::top = saved_top;
}

Cell* read(Cell* port, Cell* part, Cell* seek, bool, bool, bool, Cell*) {
    Cell* saved = stack::top;
    Cell* result = stack::push_cell();
    actions::open(stack::push(port), false, false, false, seek != nullptr, nullptr);
    closing_on_error(port, [&] {
        Cell* copied = stack::push_cell();
        actions::copy(stack::push(port), copied, part, false, nullptr);
        *result = *copied;
    });
    actions::close(stack::push(port));
    *port = *result;
    stack::top = saved;
    return port;
}

Cell* write(Cell* port, Cell* data, bool, bool, bool, bool, Cell* part, Cell* seek, Cell*, Cell*) {
    Cell* saved = stack::top;
    Cell* result = stack::push_cell();
    actions::open(stack::push(port), false, false, false, seek != nullptr, nullptr);
    closing_on_error(port, [&] {
        const int32_t count = part && type_of(part) == TYPE_INTEGER ? get_integer(part) : -1;
        actions::insert(stack::push(port), data, count, false, 1);
        Cell* copied = stack::push_cell();
        actions::copy(stack::push(port), copied, part, false, nullptr);
        *result = *copied;
    });
    actions::close(stack::push(port));
    *port = *result;
    stack::top = saved;
    return port;
}

} // namespace

// ---------------------------------------------------------------------------
// Native actors
// ---------------------------------------------------------------------------

uint32_t register_native_actor(const NativeActor* table) {
    native_actors().push_back(table);
    return static_cast<uint32_t>(native_actors().size());
}

Cell* make_actor_handle(Cell* cell, uint32_t id) {
    return handle::make_cell(cell, id, handle::CLASS_NULL);
}

namespace {

// The actor of a port: the third value of its object context.
const Cell* port_actor(const Cell* port) {
    const Cell* record = context::record_of(port->data1);
    return memory::buffer_of(record->data2)->cells() + 2;
}

// A port whose actor is a handle! serves the port actions through the
// native actor table the handle names.
ActionFn handle_action(const Cell* port, uint32_t action) {
    return type_of(port_actor(port)) == TYPE_HANDLE ? native_action(port_actor(port), action)
                                                    : nullptr;
}

} // namespace

// Only null-class handles name actors: a handle of any other class holds a
// system value that must never be taken for a table number.
ActionFn native_action(const Cell* handle, uint32_t action) {
    const uintptr_t id = handle->data1 == handle::CLASS_NULL ? handle::value_of(handle) : 0;
    const auto& tables = native_actors();
    ActionFn fn = id >= 1 && id <= tables.size() && action >= A_APPEND && action <= A_WRITE
                      ? (*tables[id - 1])[action - A_APPEND]
                      : nullptr;
    if (!fn) fire(err::no_port_action);
    return fn;
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, int32_t) {
    Cell* spec_object = stack::push_cell();
    if (type_of(spec) == TYPE_OBJECT) {
        object::copy(spec, spec_object, nullptr, false, nullptr);
    } else {
        Cell* parts = system_field("standard", "url-parts");
        if (!object_q(parts)) fire(err::no_scheme, spec);
        *spec_object = *object::make(stack::push(parts), spec, TYPE_OBJECT);
    }
    if (object::field_count(spec_object->data1) < 1 ||
        type_of(context::value_ptr(spec_object->data1, 0)) != TYPE_WORD)
        fire(err::no_scheme, spec);
    Cell* scheme_word = stack::push(context::value_ptr(spec_object->data1, 0));

    Cell* port = stack::push_cell();
    *port = *object::copy(stack::push(port_prototype()), port, nullptr, false, nullptr);
    set_type(port, TYPE_PORT);
    port->data2 = CLASS_PORT;
    *context::owner_of(port->data1) = *port;
    *context::value_ptr(port->data1, FIELD_SPEC) = *spec_object;
    *context::value_ptr(port->data1, FIELD_SCHEME) = *scheme_word;

    const uint32_t actor_symbol = symbol::make("actor");
    Cell* scheme = find_scheme(scheme_word);
    if (!object_q(scheme)) fire(err::unknown_scheme, spec);
    Cell* actor = field_of(scheme, actor_symbol);
    if (!actor || (type_of(actor) != TYPE_OBJECT && type_of(actor) != TYPE_HANDLE))
        fire(err::invalid_actor);
    *context::value_ptr(port->data1, FIELD_ACTOR) = *actor;
    return stack::push(port);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    return mold(value, buffer, false, false, false, part, limit, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    if (cycles::find(value->data1)) {
        string::concatenate_literal(buffer, "make port! [...]");
        return limit - 16;
    }
    return object::mold_framed(value, "make port! [", buffer, only, all, flat, part, limit, indent);
}

void init() {
    actions::port_action = &handle_action;
    datatype::ActionSlots slots = datatype::ActionSlots::none();
    slots.set<A_MAKE>(&make)
        .inherit<A_REFLECT>()
        .set<A_FORM>(&form)
        .set<A_MOLD>(&mold)
        .inherit<A_EVAL_PATH>()
        .inherit<A_COMPARE>()
        .set<A_APPEND>(&insert)
        .set<A_AT>(&in_place<A_AT, 2>)
        .set<A_BACK>(&in_place<A_BACK, 1>)
        .set<A_CHANGE>(&change)
        .set<A_CLEAR>(&port_only<A_CLEAR>)
        .set<A_COPY>(&copy)
        .set<A_FIND>(&find)
        .set<A_HEAD>(&in_place<A_HEAD, 1>)
        .set<A_HEAD_Q>(&in_place<A_HEAD_Q, 1>)
        .set<A_INDEX_Q>(&in_place<A_INDEX_Q, 1>)
        .set<A_INSERT>(&insert)
        .set<A_LENGTH_Q>(&length_q)
        .set<A_MOVE>(&move)
        .set<A_NEXT>(&in_place<A_NEXT, 1>)
        .set<A_PICK>(&pick)
        .set<A_POKE>(&poke)
        .set<A_PUT>(&put)
        .set<A_REMOVE>(&remove)
        .set<A_REVERSE>(&reverse)
        .set<A_SELECT>(&select)
        .set<A_SORT>(&sort)
        .set<A_SKIP>(&in_place<A_SKIP, 2>)
        .set<A_SWAP>(&swap)
        .set<A_TAIL>(&in_place<A_TAIL, 1>)
        .set<A_TAIL_Q>(&in_place<A_TAIL_Q, 1>)
        .set<A_TAKE>(&take)
        .set<A_TRIM>(&trim)
        .set<A_CREATE>(&port_only<A_CREATE>)
        .set<A_CLOSE>(&port_only<A_CLOSE>)
        .set<A_DELETE>(&port_only<A_DELETE>)
        .set<A_MODIFY>(&modify)
        .set<A_OPEN>(&open)
        .set<A_QUERY>(&port_only<A_QUERY>)
        .set<A_READ>(&read)
        .set<A_RENAME>(&rename)
        .set<A_UPDATE>(&port_only<A_UPDATE>)
        .set<A_WRITE>(&write);
    datatype::register_type(TYPE_PORT, TYPE_OBJECT, "port!", slots);
}

} // namespace mox::port
