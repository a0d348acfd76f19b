// typeset!: a set of datatypes, used by function specs to say what each
// argument accepts and by scripts through the bitwise and set operations.
//
// A typeset cell holds a 96-bit set in its three payload words: type ID t
// is the bit 0x80 >> (t mod 8) of byte t / 8 of those twelve bytes (see
// typeset_has in core/value.h). Only the IDs of registered datatypes are
// shown or counted; the other bits are carried along unchanged.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::typeset {

// Zeroes the 96 bits.
Cell* clear(Cell* typeset);
void set_bit(Cell* typeset, uint32_t type);
// The number of registered types in the set.
int32_t count(const Cell* typeset);

// Appends a typeset to a block: with the three bit words given, the default
// argument typeset (every bit but unset!'s), or one built from a type block
// (datatypes, typesets and words holding either; a word holding a word!
// adds object!; a nested block is skipped). May collect.
Cell* make_in(node_t block, uint32_t w1, uint32_t w2, uint32_t w3);
Cell* make_default_in(node_t block);
Cell* make_from_spec_in(node_t block, const Cell* spec);
// Writes into the cell the typeset of a type block (as make_from_spec_in).
Cell* from_spec(Cell* typeset, const Cell* spec);

// Adds a value to the set: a word stands for its value, a typeset! is
// united in, a datatype! sets its bit; anything else raises invalid-arg.
void add_type(Cell* typeset, const Cell* value);

// Combines the running call's two arguments into its result: 5 or 9 union,
// 6 or 10 intersection, 7 or 12 symmetric difference, 11 the first minus
// the second, 8 the first unchanged. The second may be a datatype!.
Cell* do_bitwise(int32_t op);

// Sets the global typeset words (any-type!, number!, series! ...) once the
// datatype name words exist. May collect.
void make_words();

// Actions.
Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* and_t();
Cell* or_t();
Cell* xor_t();
Cell* complement(Cell* value);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);

// Registers typeset! (33).
void init();

} // namespace mox::typeset
