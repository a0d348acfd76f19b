// The root block, the boot flags and the one way the process ends: what
// every layer may need of the process itself.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox {

// A system-level throw: caught by the root catch frame when nothing inner
// takes it. QUIT_QUIETLY ends the process with status 0; any other code ends
// it with runtime error 95 ("no CATCH for THROW").
struct SystemThrow {
    uint32_t code;
};
constexpr uint32_t QUIT_QUIETLY = 0xBADCAFE;

// The root block: made first, never collected; everything appended to it
// lives for the whole run.
extern Cell root;
constexpr uint32_t ROOT_CELLS = 9764;
// While set, global words made by word::load and its siblings are also
// appended to the root block.
extern bool boot_rooting;

// Appends a copy of the value to the root block and returns the new cell.
// May collect.
Cell* root_append(const Cell* value);

// The exit path: code 0 exits quietly; any other code shows
// "*** Runtime Error %d: %s\n*** at: %08Xh" in an error box captioned
// "Mox App Error", frees every tracked allocation and exits with the code.
[[noreturn]] void sys_quit(int code, uintptr_t address);
// Ends the process with a status and no box (after a message was printed).
// The exit hook, when set, runs first, once.
[[noreturn]] void sys_quit_status(int status);
// Set by a back end that holds system objects to release at a normal exit
// (not on a fault, where releasing could fault again).
extern void (*exit_hook)();
// Set by the Windows back end: lets its drawing device settle before any
// exit, the faulting one included.
extern void (*exit_settle)();
const char* runtime_error_text(int code);

} // namespace mox

namespace mox::boot {

// Set while the boot image loads: the functions it makes are marked as the
// library's own.
extern bool loading;

} // namespace mox::boot
