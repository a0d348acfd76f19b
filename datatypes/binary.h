// binary!: the byte series (string cell layout, type 41, parent string!,
// unit size 1): the value-to-bytes rule of append, insert, change and to,
// the bitwise actions, and the base-2, 16, 58 and 64 text codecs behind
// binary literals, enbase and debase.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::binary {

// Writes an empty binary with room for capacity bytes into the cell. May
// collect.
Cell* make_cell(Cell* cell, uint32_t capacity);
// Pushes a new binary holding a copy of the bytes (which may lie in a series
// buffer: the copy is made with collections held off). May collect.
Cell* make_from_bytes(const uint8_t* bytes, uint32_t length);
// Bytes from the index to the tail (an index past the tail counts as 0).
int32_t ms_length_q(const Cell* binary);
// The byte at the index (the buffer's tail when the index lies past it);
// valid until the next allocation.
uint8_t* ms_head(const Cell* binary);

// Decoders of text into a new byte series. text holds length characters of
// the given unit size (1, 2 or 4 bytes each). A ";" starts a comment that runs
// to the end of the line. Each returns the node of the new series (head to
// tail the decoded bytes), or 0 for text outside the alphabet or an
// incomplete last byte. The text is read whole before anything is
// allocated, so it may lie in a series buffer. May collect; the new node is
// held by nothing, so the caller puts it in a cell the collector sees before
// allocating again.
//
// base 2: "0"/"1" digits, eight to a byte, most significant first; blanks
// and control characters skipped.
node_t decode_base2(const uint8_t* text, int32_t length, int32_t unit);
// base 16: pairs of hexadecimal digits (either case); blanks and control
// characters skipped; a character above 127 fails.
node_t decode_base16(const uint8_t* text, int32_t length, int32_t unit);
// base 58: the alphabet starting "123456789"; each leading "1" is a zero
// byte.
node_t decode_base58(const uint8_t* text, int32_t length, int32_t unit);
// base 64: the standard alphabet; blanks and apostrophes skipped; "=" ends
// the data, and a last group of 2 or 3 values without it decodes as if it
// were padded (a lone value fails).
node_t decode_base64(const uint8_t* text, int32_t length, int32_t unit);

// Encoders of bytes into text written to out, which has room for
// encode_capacity(base, length) characters; each returns the characters
// written. base 2: eight "0"/"1" a byte, most significant first; base 16:
// two upper-case digits a byte; base 58: the bytes as one big-endian number,
// each leading zero byte a "1"; base 64: the standard alphabet, "=" padded,
// no line breaks.
uint64_t encode_capacity(int32_t base, uint64_t length);
uint32_t encode_base2(char* out, const uint8_t* bytes, uint32_t length);
uint32_t encode_base16(char* out, const uint8_t* bytes, uint32_t length);
uint32_t encode_base58(char* out, const uint8_t* bytes, uint32_t length);
uint32_t encode_base64(char* out, const uint8_t* bytes, uint32_t length);

// Raises invalid-arg unless the value is a char! or an integer! from -128
// to 255 (a negative one stands for its low byte).
void check_byte(const Cell* value);
// check_byte, then stores the value's low byte at the address.
void set_byte(uint8_t* at, const Cell* value);

// append (append set) and insert: the bytes the value stands for (chars as
// UTF-8, integers as one byte, text as UTF-8, binaries and tuples as their
// bytes, blocks value by value), repeated dup times. part: with a block, the
// values taken, or with only the bytes across them; with any other value its
// bytes; -1 without /part. Every check is made before the binary changes.
// May collect.
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
// Replaces part bytes (the written count without /part) by the value's bytes;
// values of other types are formed. May collect.
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
// Strips zero bytes (head and/or tail), every zero byte with all, or every
// byte of with. /auto and /lines raise not-done.
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
// to binary!: pushes the new binary. May collect.
Cell* to(Cell* proto, Cell* spec, int32_t type);
// and~, or~, xor~ on the arguments; complement inverts the bytes in place.
// May collect.
Cell* and_t();
Cell* or_t();
Cell* xor_t();
Cell* complement(Cell* value);

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
// Byte-wise comparison with another binary! (-2 for other types).
int32_t compare(Cell* value1, Cell* value2, int32_t op);

// Registers binary! (after string!).
void init();

} // namespace mox::binary
