// string! and the string storage routines used everywhere text is built.
//
// A string value: header type 7 (or a child type), data1 head index in
// units, data2 buffer node, data3 node of a cached conversion buffer or 0.
// The buffer's unit is 1 (Latin-1), 2 (UCS-2) or 4 (UCS-4) bytes; appending
// a character widens a unit-1 string at code point 128 (to unit 4 from
// 0x10000), writing or inserting at an index keeps unit 1 up to 255; a string
// never narrows except when reset.
//
// Routines that take a string cell read its node from the cell; those that
// may collect re-read it afterwards, so the cell must be one the collector
// sees (evaluation stack, a block, a collector::Root). Unit offsets named
// "offset" count from the buffer's head, not from the value's index.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/cell.h"
#include "core/memory.h"

namespace mox::string {

// ---------------------------------------------------------------------------
// Making strings
// ---------------------------------------------------------------------------

// Writes an empty string of the type with room for units characters of the
// given unit into the cell. May collect.
Cell* make_at(Cell* slot, uint32_t units, uint32_t unit, uint32_t type = TYPE_STRING);
// As make_at; 0 units gives room for one unit-1 character.
Cell* ms_make_at(Cell* slot, uint32_t units, uint32_t unit);
// Pushes a new empty string on the evaluation stack. May collect.
Cell* push_new(uint32_t units, uint32_t unit = 1);
// Pushes a copy of the string value (the same buffer) on the evaluation stack.
Cell* push(const Cell* str);

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

inline memory::SeriesBuffer* buffer_of(const Cell* str) { return memory::buffer_of(str->data2); }

// Units from the index to the tail; an index past the tail is pulled back
// to it (written into the cell).
int32_t ms_length_q(Cell* str);
// Units from the buffer's head to its tail.
int32_t total_length(const Cell* str);
// The unit at the index (the index clipped to the tail and written back).
uint8_t* ms_head(Cell* str);
uint8_t* ms_tail(const Cell* str);
bool ms_tail_q(const Cell* str);

inline uint32_t get_char(const uint8_t* p, uint32_t unit) {
    switch (unit) {
    case 1:
        return *p;
    case 2: {
        uint16_t u;
        std::memcpy(&u, p, 2);
        return u;
    }
    default: {
        uint32_t u;
        std::memcpy(&u, p, 4);
        return u;
    }
    }
}
inline void put_char(uint8_t* p, uint32_t unit, uint32_t cp) {
    switch (unit) {
    case 1:
        *p = static_cast<uint8_t>(cp);
        break;
    case 2: {
        uint16_t u = static_cast<uint16_t>(cp);
        std::memcpy(p, &u, 2);
        break;
    }
    default:
        std::memcpy(p, &cp, 4);
        break;
    }
}
// The code point at unit offset i; the caller keeps i below the length.
uint32_t abs_char_at(const Cell* str, uint32_t offset);

// Offset from the index of the first occurrence of cp, or -1.
int32_t find_char(Cell* str, uint32_t cp);
// Whether cp occurs from the index, testing every step-th unit; both sides
// are mapped to upper case unless case_sensitive.
bool has_char_q(Cell* str, uint32_t cp, bool case_sensitive, int32_t step = 1);
// Whether the string at its index starts with the bytes of the NUL-terminated
// text, each byte taken as a code point.
bool match_literal_q(Cell* str, const char* text);

// ---------------------------------------------------------------------------
// Changing (those that may grow or widen the buffer say so)
// ---------------------------------------------------------------------------

// Empties the buffer and sets its unit back to 1; index 0.
void ms_reset(Cell* str);
// Shortens the buffer to n units from its head when it is longer.
void ms_truncate(Cell* str, uint32_t n);
void remove_char(Cell* str, uint32_t offset);
// Removes up to n units at the offset; the rest moves down.
void remove_chars(Cell* str, uint32_t offset, uint32_t n);

// Appends one code point, widening the buffer as needed. May collect.
void append_char(Cell* str, uint32_t cp);
// Writes cp at the offset; an offset at or past the tail extends the string
// by one unit. May collect.
void overwrite_char(Cell* str, uint32_t offset, uint32_t cp);
// Writes cp over the unit at the offset, which lies before the tail. May
// collect.
void overwrite_char_at(Cell* str, uint32_t offset, uint32_t cp);
// Inserts cp before the unit at the offset (at most the tail). May collect.
void insert_char(Cell* str, uint32_t offset, uint32_t cp);
// Inserts n characters of from (at its index) at to's index, one by one and
// widening to as needed, then removes them from from. May collect.
void move_chars(Cell* from, Cell* to, uint32_t n);

// Converts the string's buffer in place to a wider unit (1 to 2 or 4, 2 to
// 4) and returns it. May collect.
memory::SeriesBuffer* widen_unit(Cell* str, uint32_t unit);
// A copy of the units of the node's buffer (from its head) in a new buffer,
// or into target when that is not 0, in the wider unit; returns the node
// written. May collect.
node_t convert_unit(node_t source, uint32_t unit, node_t target = 0);

// Appends the characters of a string-like value from its index (a symbol!
// entry or word gives its name text), at most part of them when part >= 0.
// The value is read, never changed; a value in the target's own buffer is
// copied first. May collect.
void concatenate(Cell* str, const Cell* value, int32_t part = -1);
// Writes the characters of a string-like value over str from the offset,
// extending the tail when they run past it. May collect.
void overwrite(Cell* str, const Cell* value, uint32_t offset);
// Appends n code points (append rule for the unit); the points may lie
// anywhere but in a series buffer. May collect.
void append_chars(Cell* str, const uint32_t* points, size_t n);
// Appends each byte of a NUL-terminated byte string as a code point. May
// collect.
void concatenate_literal(Cell* str, const char* text);
// Appends n bytes (at least 1) as code points. May collect.
void append_bytes(Cell* str, const uint8_t* bytes, uint32_t n);
// Appends UTF-8 text; malformed bytes raise access invalid-utf8 before
// anything is appended, and a sequence cut by the end is dropped. May
// collect.
void append_utf8(Cell* str, const char* utf8, size_t length);
// Moves the last n units of the buffer to just before the unit at the
// offset (units from the offset on move up behind them).
void rotate(Cell* str, uint32_t offset, uint32_t n);
// Appends n times four blanks; returns limit - 4n. May collect.
int32_t append_indent(Cell* str, int32_t n, int32_t limit);
// Appends cp in its molded form (a caret escape or the character itself):
// the escape table, "^~" for 127, "^(hex)" for 0x1E and 0x80-0x9F, and for
// every code point above 127 when all is set. Returns the characters
// appended. May collect.
int32_t append_escaped_char(Cell* str, uint32_t cp, bool all);

// uppercase / lowercase: a char! is mapped in place; a string from its index
// (up to the /part limit: an integer or a position in the same series) is
// mapped character by character. May collect.
Cell* change_case(Cell* value, Cell* part, bool upper);

// ---------------------------------------------------------------------------
// Numbers and hexadecimal text
// ---------------------------------------------------------------------------

// The two upper-case hexadecimal digits of a byte, NUL-terminated.
std::array<char, 3> byte_to_hex(uint8_t byte);
// Eight upper-case hexadecimal digits of n (negative numbers fill with F);
// in the short form the digits without leading zeros, "00" for zero.
std::array<char, 9> to_hex(int32_t n, bool short_form);
// The double value of the decimal text in [start, end).
double to_float(const uint8_t* start, const uint8_t* end);

// ---------------------------------------------------------------------------
// Loading text from bytes
// ---------------------------------------------------------------------------

enum Encoding : int32_t { ENCODING_UTF8 = 0, ENCODING_UTF16LE = -1 };

// Loads encoded text into a new string in the slot (a newly pushed cell when
// slot is null) and returns the cell. size counts bytes for UTF-8 and 16-bit
// units for UTF-16LE; any other encoding prints a loading error and ends the
// process. May collect.
Cell* load_at(const uint8_t* src, uint32_t size, Cell* slot, int32_t encoding);
// The same into a new tail cell of the block. May collect.
Cell* load_in(const uint8_t* src, uint32_t size, node_t block, int32_t encoding);
// The same onto the stack. May collect.
Cell* load(const uint8_t* src, uint32_t size, int32_t encoding);
// A new string from the UTF-8 of a binary! (from its index), written into
// slot; invalid UTF-8 raises access invalid-utf8. May collect.
Cell* decode_utf8(const Cell* binary, Cell* slot);

// ---------------------------------------------------------------------------
// Comparison and matching (string-search.cpp)
// ---------------------------------------------------------------------------

// Compares two string-like values from their indexes (a word or symbol by its
// name). Equality operators answer 0 or non-zero; ordering ones -1, 0 or 1.
// In match mode: whether s1 at its index starts with s2 (0 when it does).
int32_t compare_strings(const Cell* s1, const Cell* s2, int32_t op, bool match);
// Whether the value matches the string at its index (the PARSE and find
// test of one position): text, a char!, or a tag! with its brackets.
bool match_value_q(const Cell* str, const Cell* value, int32_t op);
// Whether the character at the index is in the bitset!; a code point beyond
// the bitset's bits is in it exactly when the bitset is complemented.
bool char_in_bitset_q(const Cell* str, const Cell* bitset);
// "<" at the index and ">" right after length characters.
bool tag_bracketed_q(const Cell* str, int32_t length);

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
// append and insert (append set: at the tail). part: units of the value to
// add, -1 for all; dup: repetitions (at least 1).
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
// append without /part and /dup when it is a bare copy: a string! that
// nobody watches, with room at its tail for the text of another string
// (file!, url!, email!, ref!) of the same unit held in another buffer.
// Copies it and moves the string's index to its head as append does; false
// (nothing done) otherwise. Never allocates.
bool append_in_place(Cell* str, Cell* value);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse);
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable);
Cell* swap(Cell* series1, Cell* series2);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

// The string side of the set operations (op a series::SetOp): the result
// replaces set1's value (a new buffer at index 0). skip: the record size cell
// or null. May collect.
Cell* do_set_op(Cell* set1, Cell* set2, bool case_, Cell* skip, int32_t op);

// Registers string! (after series!).
void init();

} // namespace mox::string
