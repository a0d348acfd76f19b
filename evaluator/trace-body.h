// Native bodies of the tracer that trace prints through (library/tools.mox).
#pragma once

namespace mox::trace_body {

// Asks for the bodies of the collector, the inspector and mold-part to be
// bound. Call before the boot source loads.
void register_bodies();

} // namespace mox::trace_body
