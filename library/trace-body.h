// Native bodies of the tracer that trace prints through (library/tools.mox).
#pragma once

#include "core/cell.h"

namespace mox::trace_body {

// Asks for the bodies of the collector, the inspector and mold-part to be
// bound. Call before the boot source loads.
void register_bodies();

// Runs the collector's native body for one trace event without an
// interpreter call, when fn is a function with that body: args are the six
// arguments the event gives it, on the evaluation stack, with room for its
// local above. False, with nothing done, when the call must go through the
// interpreter (fn is another function, or its data is not what the native
// body takes). May collect.
bool collect_event(const Cell* fn, Cell* args);

} // namespace mox::trace_body
