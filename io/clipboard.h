// The system clipboard for the routines read-clipboard and write-clipboard:
// text and lists of files. Data from the clipboard comes from other programs
// and is checked against the size of its block before it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/cell.h"

namespace mox::clipboard {

// What the clipboard holds, into slot: a string!, a block! of file!, none
// when no usable format is there, false when the clipboard cannot be opened
// or read. May collect.
void read(Cell* slot);
// Puts a string! (LF written as CR LF), a block! of files or none (the
// clipboard is emptied) on the clipboard; true when every format was set.
// Any other value raises script invalid-arg. May collect.
bool write(Cell* value);

// The names of a DROPFILES block of size bytes: the file list must start
// inside the block after the 20-byte header; names end at their NUL, the
// list at an empty name. A name cut by the end of the block is dropped.
// Narrow names are widened byte by byte through the system's code page.
std::vector<std::u16string> read_dropfiles(const uint8_t* block, size_t size);
// A DROPFILES block (wide names) listing the paths.
std::vector<uint8_t> make_dropfiles(const std::vector<std::u16string>& paths);

// The file! spelling of a Windows path: "C:\x" gives /C/x, "\\host\x" gives
// /host/x, other backslashes become slashes.
std::u16string to_mox_file(const std::u16string& path);

} // namespace mox::clipboard
