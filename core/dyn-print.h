// Output hooks: two lists of callbacks through which a host (the GUI
// console) receives everything printed. Print hooks get the formed text of
// each print and prin with a newline flag; write hooks get every low-level
// write of the runtime as UTF-8 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cell.h"

namespace mox::dyn_print {

using PrintHook = void (*)(Cell* text, bool new_line);
using WriteHook = void (*)(const char* utf8, size_t length, int flag);

void init();
void add(PrintHook print, WriteHook write);
void remove(PrintHook print, WriteHook write);
void call_print_hooks(Cell* value, bool new_line);
void call_write_hooks(const char* utf8, size_t length, int flag);
size_t print_hook_count();
size_t write_hook_count();
size_t print_hook_capacity();

} // namespace mox::dyn_print
