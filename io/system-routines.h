// The bodies of the library's system routines, type and typeset predicates
// and collector statistics (library/system-routines.mox, predicates.mox).
#pragma once

namespace mox::routines {

// Enters every body of this family in the routine table. Called at start-up
// before the boot source loads.
void register_system();

} // namespace mox::routines
