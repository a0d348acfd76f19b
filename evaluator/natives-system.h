// The function makers and the natives that reach the runtime and the clock:
// func, function, does, has, stats, recycle, wait, now, as.
#pragma once

namespace mox::natives {

// Fills the natives table's slots of the function makers and system natives.
void register_system();

} // namespace mox::natives
