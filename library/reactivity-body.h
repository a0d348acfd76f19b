// Native body of system/reactivity/check (see reactivity-body.cpp).
#pragma once

namespace mox::reactivity_body {

// Asks for the body to be bound once the boot source has loaded.
void register_bodies();

} // namespace mox::reactivity_body
