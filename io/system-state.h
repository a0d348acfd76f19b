// The routines behind the system object (system/state/interpreted?, the
// float options' switches, the Moxbin codec object's encoder and decoder).
#pragma once

namespace mox::system_state {

// Enters the routine bodies; called before the boot source loads.
void register_routines();

} // namespace mox::system_state
