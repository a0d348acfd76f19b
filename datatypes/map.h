// map!: the key/value dictionary, written #[key value ...]. data1 the
// position in the backing block (0), data2 the backing block's node (pairs
// of cells: key, value; a removed entry keeps its pair with the value
// cell's header 0), data3 the node of its hash table (kind KIND_MAP).
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::map {

// Whether values of the datatype may be map! keys.
bool valid_key_q(uint32_t type);
// Prepares a key cell in place as it enters a map: string-like keys are
// replaced by a copy, word kinds become set-word!, other accepted types stay;
// any other type raises script invalid-path. May collect.
void normalize_key(Cell* key);
// Turns a block into a map! written to target: with a block cell, the map is
// built over that block's buffer (from its head; the keys normalised in
// place, a repeated key keeping the later value); with none (nullptr), over a
// new block of count cells. An odd number of cells raises script
// invalid-arg. target and block must be cells the collector sees (block may
// be target itself). May collect.
Cell* make_cell(Cell* target, Cell* block, int32_t count);
// The count of live entries.
int32_t ms_length_q(const Cell* map);

// Adds the key/value pairs of a block (from its index; an odd count raises
// invalid-arg): an existing key (strict with case_) takes the new value, a
// removed one is revived, a new one is normalised and appended. May
// collect.
Cell* extend(Cell* map, Cell* block, bool case_);

// Actions. make and to push their result; remove takes only /key (a strict
// match first, else an equal one); find gives the key (a set-word! key as a
// word!), select the value. All may collect.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* clear(Cell* series);
// words, values or body (each key on a new line); another field raises
// not-done.
Cell* reflect(Cell* value, int32_t field_symbol);
Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
int32_t length_q(Cell* map);

// Registers map!.
void init();

} // namespace mox::map
