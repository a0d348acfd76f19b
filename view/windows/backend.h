// The Windows view back end as start-up sees it: whether it is wanted and
// the registration of its routine bodies (in place of the null back end's).
#pragma once

namespace mox::gui::win {

// False when the environment asks for the null back end (MOX_NULL_GUI=1):
// the View tables then run under Wine as they do natively.
bool wanted();

// Registers the platform routine bodies under the names the null back end
// uses, so the boot source binds either set the same way.
void register_routines();

} // namespace mox::gui::win
