// Start-up: the process entry and the order in which the runtime's tables
// are made (mox::init). The root block and the exit path are in core/root.h.
#pragma once

#include <cstdint>

#include "core/root.h"

namespace mox {

// Runtime initialisation: every table in order, up to the boot image.
void init();

// init, then the state programs run in: the collector on, and new global
// words no longer rooted as the boot image's are. Once a process: a later
// call does nothing, so that test drivers may call it for every input.
// May collect.
void start();

// The process entry: start-up, then the hand-over; returns the exit status.
int run(int argc, char** argv);

} // namespace mox
