// The system clipboard for the routines read-clipboard and write-clipboard:
// text, lists of files and images. Data from the clipboard comes from other programs
// and is checked against the size of its block before it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/cell.h"

namespace mox::clipboard {

// What the clipboard holds, into slot: a string!, a block! of file!, an
// image!, none when no usable format is there, false when the clipboard
// cannot be opened or read. May collect.
void read(Cell* slot);
// Puts a string! (LF written as CR LF), a block! of files, an image! (as
// PNG and CF_DIBV5) or none (the clipboard is emptied; so is it for an
// image without pixels) on the clipboard; true when every format was set.
// Any other value raises script invalid-arg. May collect.
bool write(Cell* value);

// The names of a DROPFILES block of size bytes: the file list must start
// inside the block after the 20-byte header; names end at their NUL, the
// list at an empty name. A name cut by the end of the block is dropped.
// Narrow names are widened byte by byte through the system's code page.
std::vector<std::u16string> read_dropfiles(const uint8_t* block, size_t size);
// A DROPFILES block (wide names) listing the paths.
std::vector<uint8_t> make_dropfiles(const std::vector<std::u16string>& paths);

// A device-independent bitmap block (a BITMAPINFOHEADER or a larger
// header, the colour masks, a palette, then the rows) as straight BGRA rows
// top down: 24-bit and 32-bit pixels, uncompressed or with contiguous
// colour masks. Every size, offset and mask is checked against the block;
// a positive height (rows bottom up) is flipped. False for anything else.
// pixel_offset, when not negative, is where the rows start (a BMP file
// says so in its own header); else they follow the masks and palette.
// With pixels null only the checks are made: true for a block read here.
bool read_dib(const uint8_t* block, size_t size, uint32_t* width, uint32_t* height,
              std::vector<uint8_t>* pixels, int64_t pixel_offset = -1);
// A CF_DIBV5 block: the 124-byte header (rows top down, 32 bits, masks
// 0xFF0000, 0xFF00, 0xFF and alpha 0xFF000000), then the BGRA pixels.
std::vector<uint8_t> make_dibv5(const uint8_t* pixels, uint32_t width, uint32_t height);

// The file! spelling of a Windows path: "C:\x" gives /C/x, "\\host\x" gives
// /host/x, other backslashes become slashes.
std::u16string to_mox_file(const std::u16string& path);

} // namespace mox::clipboard
