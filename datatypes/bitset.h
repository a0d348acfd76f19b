// bitset!: a set of non-negative integers, above all of code points. The
// cell holds the node of a byte series (data2, index data1 always 0); bit n
// is byte n >> 3 under mask 0x80 >> (n & 7). The buffer flag
// SERIES_COMPLEMENT says that every bit beyond the array is set (a "not"
// set); otherwise every bit beyond it is clear.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::bitset {

// The operations of process, and which error an unusable spec value raises.
enum Operation : int32_t { OP_MEASURE = 0, OP_SET = 1, OP_TEST = 2, OP_CLEAR = 3 };
enum Mode : int32_t { MODE_MAKE = 0, MODE_TO = 1, MODE_OTHER = 2 };

// Writes a new bitset holding a copy of the bytes (zeros when bytes is null)
// into the cell; with complement each byte is inverted and the set flagged,
// so that the bytes name the non-members as in the molded text. May
// collect.
Cell* make_from_bytes(Cell* cell, const uint8_t* bytes, uint32_t length, bool complement);
bool complement_q(const Cell* bitset);
// Membership of bit n; a bit beyond the array (or n < 0) answers the flag.
bool test(const Cell* bitset, int64_t n);
// Walks a spec (char!, integer!, float!, string!, or a block of those with
// "a - b" ranges) and measures (the highest bit named, -1 for none), sets,
// tests (1 when every bit named is a member, else 0) or clears the bits.
// Setting or clearing may grow the array. May collect.
int64_t process(const Cell* spec, Cell* bitset, Operation op, Mode mode);
// union (OP_OR 5), intersect (OP_AND 6), difference (OP_XOR 7) and exclude
// (11): a new bitset as long as the longer operand replaces set1. Each
// operand reads past its end as its own flag, and the result's flag is the
// operation on the flags. A set2 that is not a bitset! raises invalid-type.
// May collect.
Cell* do_bitwise(Cell* set1, const Cell* set2, int32_t op);

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* complement(Cell* value);
Cell* negate(Cell* value);
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
// remove/key clears the bits named (membership removed, flagged set or not);
// without /key raises missing-arg.
Cell* remove(Cell* series, Cell* part, Cell* key);
// Empties the set: every byte 0 and the flag cleared.
Cell* clear(Cell* series);
Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
int32_t length_q(Cell* series);
Cell* pick(Cell* series, int32_t index, Cell* boxed);
Cell* poke(Cell* series, int32_t index, Cell* data, Cell* boxed);

// Registers bitset!.
void init();

} // namespace mox::bitset
