// port!: the language's handle on an external resource reached through a
// scheme (type 48, parent object!). A port is an object whose fields are, in
// this order, spec, scheme, actor, awake, state, data and extra (the object
// system/standard/port); class ID 2. The port! type builds ports, molds them
// and forwards every series and I/O action to the port's actor:
//
// - an object! actor: the actor's field named after the action holds a
//   function!, called with the port and then the action's arguments and
//   refinements in the order of the action's spec (a refinement as logic!,
//   its argument as given or none); the forwarders below do this;
// - a handle! actor: the handle names a native actor table, registered here,
//   whose entries the action dispatcher calls instead of the forwarders.
//
// read and write are not forwarded as such: they open the port, insert (for
// write), copy and close it; a failing insert or copy closes the port before
// its error goes on.
#pragma once

#include <array>
#include <cstdint>

#include "core/cell.h"
#include "core/datatype.h"

namespace mox::port {

constexpr uint32_t CLASS_PORT = 2;

// Field indexes of a port's context.
enum Field : int32_t {
    FIELD_SPEC = 0,
    FIELD_SCHEME = 1,
    FIELD_ACTOR = 2,
    FIELD_AWAKE = 3,
    FIELD_STATE = 4,
    FIELD_DATA = 5,
    FIELD_EXTRA = 6,
    FIELD_COUNT = 7
};

// A native actor: one entry for each action from append (25) to write (62)
// in slot order, each with that action's signature (core/datatype.h); a
// null entry means the scheme does not support the action.
constexpr uint32_t NATIVE_ACTIONS = A_WRITE - A_APPEND + 1;
using NativeActor = std::array<ActionFn, NATIVE_ACTIONS>;

// Enters a native actor table (which lives as long as the process) and
// returns the number that a handle! names it by.
uint32_t register_native_actor(const NativeActor* table);
// Writes the handle! naming a registered native actor into the cell.
Cell* make_actor_handle(Cell* cell, uint32_t id);
// The entry of a native actor (a handle! cell) for an action from 25 to 62;
// an empty entry, or a handle that names no native actor, raises access
// no-port-action.
ActionFn native_action(const Cell* handle, uint32_t action);

// make port! from a url-parts object or a block for one: the spec's first
// field names the scheme, which system/schemes must hold with an object! or
// handle! actor. Pushes the port. May collect.
Cell* make(Cell* proto, Cell* spec, int32_t type);
// "make port! [" then the fields as an object molds them, then "]".
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);

// Registers port! (after date!).
void init();

} // namespace mox::port
