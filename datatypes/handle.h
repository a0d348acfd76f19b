// handle!: an operating-system handle carried by a value (type 46, parent
// integer!, none of whose actions it takes). data1 the class (0 null, 1 fd,
// 2 monitor, 3 window, 4 font, 5 rich-text), data2 the handle's index in
// the handle table, data3 a registry record index or -1.
//
// A cell never holds a machine pointer: the native value (a pointer, HWND
// or descriptor) is entered in the handle table, which interns each value
// once, and the cell keeps its 32-bit index. Index 0 is the null handle.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::handle {

enum Class : uint32_t {
    CLASS_NULL = 0,
    CLASS_FD = 1,
    CLASS_MONITOR = 2,
    CLASS_WINDOW = 3,
    CLASS_FONT = 4,
    CLASS_RICH_TEXT = 5
};

// The native value of a handle! cell.
uintptr_t value_of(const Cell* handle);

// Writers: into a cell, into the running call's result slot, appended to a
// block (may collect), pushed on the evaluation stack.
Cell* make_cell(Cell* cell, uintptr_t value, uint32_t cls);
Cell* box(uintptr_t value, uint32_t cls);
Cell* make_in_block(Cell* block, uintptr_t value, uint32_t cls);
Cell* push(uintptr_t value, uint32_t cls);
Cell* push_null();

// The value as upper-case hexadecimal digits (8, or 16 for a value that
// needs them) followed by "h".
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
// "handle!"; with all "#[handle! " the form, the class name when above 0,
// and "]".
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
// By native value as signed numbers; a non-handle is different (1).
int32_t compare(Cell* value1, Cell* value2, int32_t op);

// Registers handle! (after integer!).
void init();

} // namespace mox::handle
