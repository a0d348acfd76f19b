// Routines and native bodies: C++ code that runs in a function's frame.
//
// A routine! is a function whose body is C++ code of the runtime: the boot
// source gives its spec and the name of a registered body,
//
//     quit-return: make routine! [["Stops ..." status [integer!]] quit-return]
//
// (make routine! works only while the boot source loads; at any other time it
// raises internal `routines`, as the library function `routine` does). The
// routine keeps its spec (for help and reflection) and an empty body block;
// the extra block's code cell holds the body's index in the table here, and
// the header bits 25-29 the number of its word! arguments.
//
// A native body is the same kind of C++ code bound to an ordinary library
// function! that keeps its Mox spec and body (source, body-of): the
// interpreter calls the C++ code instead of evaluating the body. Bindings are
// made by name once the boot source has loaded; with mox-run --mox-bodies (or
// MOX_MOX_BODIES=1 in the environment) none is made and every library
// function runs its Mox body, so tests can hold the two against each other.
//
// Calling convention (both kinds): the call's frame is a function frame.
// stack::arguments[0..] holds the slots of the spec in order: each argument
// word, then for each refinement its flag (logic!) followed by its arguments
// (none when the refinement is unused), then the /local words (none). The
// arguments have been checked against their type blocks. The body writes its
// result into stack::arguments[0] (unset! is there when it writes nothing)
// and may push scratch cells above the slots; stack::top is put back after
// it. Errors are raised with fire(); a body that evaluates Mox code returns
// at once while stack::pending is set, as a native does.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::routines {

using Body = void (*)();

// Enters a routine body under a name (unique; spelled as the boot source's
// make routine! names it). Call before the boot source loads.
void register_(const char* name, Body body);

// Asks for the body to be bound to the library function named by `name`
// (a global word, or "object/field" for an object's function field) when the
// boot source has loaded. Call before the boot source loads.
void bind_native_body(const char* name, Body body);

// Set by the runner (--mox-bodies) before start-up, or by MOX_MOX_BODIES=1:
// no native body is bound.
extern bool mox_bodies;

// Makes the bindings asked for so far (and forgets the requests). A name without a function! value,
// or a function with no Mox body, is a fault in the registration lists: reported on standard error
// and left unbound. Called at the end of start-up. May collect.
void bind_native_bodies();

// Runs the C++ body of a routine or of a function with a native body, the
// call's frame and slots being ready (see above).
void run(const Cell* callee);

// Evaluates the running function's Mox body from its head as the call's
// own body: a native body handing a case over to its reference. A return or
// exit in it ends this call. May collect.
void run_mox_body();

// The index of a registered body by name, or -1.
int32_t find(const char* name, size_t length);

// Number of native bodies bound (0 under --mox-bodies).
int32_t bound_count();

// The make action of routine!: [spec-block body-name] while the boot source
// loads. May collect.
Cell* make(Cell* proto, Cell* spec, int32_t type);

} // namespace mox::routines
