// file!: a file name (string cell, type 8, parent url!). Molds as %name, or
// %"name" when the name holds a character a bare file token cannot carry.
#pragma once

#include <cstdint>
#include <string>

#include "core/cell.h"

namespace mox::file {

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);

// The Windows form of a file name (a file! or string!) from its index,
// appended to the string out (a cell the collector sees): a leading /x/
// gives x:\, a leading /name/ gives \\name\, a leading // gives \, and
// every / becomes \; with full, a relative name gets the current directory
// (with its trailing \) in front. Defined with the I/O services
// (io/local-path.cpp). May collect.
void to_local_path(Cell* file, Cell* out, bool full);

// The path the operating system is given for a file! (from its index): its
// Windows form on the product, the name as written on the native test
// build. May collect.
std::u16string to_OS_path(Cell* file);

// The process's current directory in the system's own form, ending in its
// separator (one is added when missing), written into slot as a string!;
// none when the system does not tell it. May collect.
Cell* get_current_dir(Cell* slot);

// Registers file! (after url!).
void init();

} // namespace mox::file
