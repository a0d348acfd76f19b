// Native body of what (see help-what-body.cpp).
#pragma once

namespace mox::help_what_body {

// Asks for the body to be bound once the boot source has loaded.
void register_bodies();

} // namespace mox::help_what_body
