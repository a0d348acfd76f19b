// Start-up: the process entry and the order in which the runtime's tables
// are made (mox::init). The root block and the exit path are in core/root.h.
#pragma once

#include <cstdint>

#include "core/root.h"

namespace mox {

// Runtime initialisation: every table in order, up to the boot image.
void init();

// The process entry: start-up, then the hand-over; returns the exit status.
int run(int argc, char** argv);

} // namespace mox
