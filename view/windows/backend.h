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

// Starts making the graphics device on a thread of its own, so that it is
// ready by the first drawing; called first thing when the back end is
// wanted, before the library loads.
void dx_start_device();
// Lets that thread finish before the process ends (a no-op once the device
// was taken over, and on the thread itself).
void dx_settle_start();

} // namespace mox::gui::win
