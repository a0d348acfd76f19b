// simple-io: files and directories for the language. The file! actions
// read, write, query, delete and rename, the size? native and the system
// routines create-dir, exists? and write-stdout come here; the operating
// system is reached through the platform layer's file functions.
//
// Text files are UTF-8: a leading byte-order mark is skipped on reading and
// line ends are kept as they are; strings written as text get CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/cell.h"

namespace mox::file {

// The I/O action slots of file! (the result is written into the first
// argument's cell). read and write raise internal not-done for /as and
// write for /allow; /info is ignored. All may collect.
Cell* delete_(Cell* file);
Cell* query(Cell* target);
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* rename(Cell* from, Cell* to);
Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
            Cell* part, Cell* seek, Cell* allow, Cell* as);

} // namespace mox::file

namespace mox::simple_io {

// Part and seek arguments after conversion; -1 stands for "absent".
constexpr int64_t ABSENT = -1;

// Whether the name spells a directory: it ends with "/" or "\", or is "."
// or ".." alone or right after a separator.
bool dir_q(Cell* file);

// Reads the file into slot: a string! (UTF-8), a binary! or a block! of
// line strings. False (slot untouched) when the file cannot be opened or
// read. A file too large for a series raises script too-long; a seek past
// the end gives an empty value. May collect.
bool read_file(const char16_t* path, int64_t part, int64_t seek, bool binary, bool lines,
               Cell* slot);

// Cuts bytes at every LF (a CR before it dropped) into strings appended to
// the block in slot, which is made here. Text after the last LF is one more
// line; a final LF adds none. The bytes must not lie in a series. May
// collect.
void split_lines(const uint8_t* bytes, size_t count, Cell* slot);

// The body of read of a file!: a directory spelling is listed, anything else
// read with read_file; failure raises access cannot-open. The result goes
// into slot. May collect.
void read(Cell* file, Cell* part, Cell* seek, bool binary, bool lines, Cell* slot);
// The body of write: target null writes to standard output. part must be an
// integer! (else script invalid-refine-arg); a negative part writes nothing.
// Failing to open raises cannot-open, a failed or short write no-create,
// both with the file. May collect.
void write(Cell* file, Cell* value, Cell* part, Cell* seek, bool binary, bool append, bool lines);
// The directory's entries as file! values into slot (sub-directories with a
// trailing "/"); "/" alone lists the drives. Raises cannot-open. May
// collect.
void read_dir(Cell* dir, Cell* slot);
// The last-write date (UTC) into slot, or none. May collect.
void query(Cell* file, Cell* slot);
bool delete_(Cell* file);
bool rename(Cell* from, Cell* to);
bool make_dir(Cell* dir);
bool exists_q(Cell* file);

// Fills the natives table's entries of the routines create-dir, exists?,
// write-stdout, read-clipboard and write-clipboard (ids 108-112).
void init();

} // namespace mox::simple_io
