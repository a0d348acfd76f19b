// The boot source: the Mox files of library/boot, embedded in the
// executable at build time in the order library/order.txt lists them,
// loaded by the lexer and evaluated in the global context at the end of
// start-up. They define the natives, actions, operators and the parts of
// the system object the runtime reads.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::boot {

struct File {
    const char* name;
    const unsigned char* data;
    int32_t size;
};
// Generated at build time (boot-source.cpp).
extern const File files[];
extern const int file_count;

// True while the boot source is being evaluated: functions made meanwhile
// are marked as the image's own (function::FLAG_BOOT).
extern bool loading;

// Loads and evaluates every boot file in order. A boot file that fails
// prints its error and the file's name and ends the process with runtime
// error 98. May collect.
void load();

// Writes the report of an error! value (its form) and a line break to
// standard output. May collect.
void write_report(const Cell* error);

}  // namespace mox::boot
