// series!: the abstract parent of every series datatype. No value has type
// 42; its action implementations are registered under it and inherited by
// block!, string! and the other series types that do not register their own.
// They work on a buffer whatever its unit (1, 2 or 4 bytes for text, 1 for
// binary!, the element size for vector!, 16 for cells) and switch on the
// value's type only where one element must become a value or where a hash!
// index must follow the change.
//
// A series value: data1 index in units from the buffer's head (never
// negative, but it may lie past the tail when the buffer was shortened
// through another value), data2 series node, data3 type-specific (vector!
// element type, hash! table node, string conversion buffer).
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/memory.h"

namespace mox::series {

inline memory::SeriesBuffer* buffer_of(const Cell* s) { return memory::buffer_of(s->data2); }

// log2 of a unit of 1, 2, 4, 8 or 16 bytes.
inline uint32_t unit_shift(uint32_t unit) {
    return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : unit == 8 ? 3 : 4;
}

// Whether the value's position is at or past the tail.
bool ms_tail_q(const Cell* s);
// Units of the whole buffer, whatever the index.
uint32_t abs_length(const Cell* s);
// Moves the index by n when the new position is not past the tail; returns
// whether the tried position is at or past the tail.
bool ms_skip(Cell* s, int32_t n);
// Units from the index (from the head with from_head) to the tail. An index
// past the tail is pulled back to it (written into the cell) and 0 returned.
int32_t get_length(Cell* s, bool from_head);

// ---------------------------------------------------------------------------
// Owner notification
// ---------------------------------------------------------------------------

// The change events told to the owner of an owned series (buffer flag
// SERIES_OWNED) before and after an in-place change.
enum class Change : uint8_t {
    append,
    appended,
    insert,
    inserted,
    change,
    changed,
    clear,
    cleared,
    move,
    moved,
    poke,
    poked,
    put,
    put_ed,
    remove,
    removed,
    random,
    randomized,
    reverse,
    reversed,
    sort,
    sorted,
    swap,
    swaped,
    take,
    taken,
    trim,
    trimmed,
    uppercase,
    lowercase,
};

// Tells the owner of the series about a change at index over count units;
// returns whether an owner was told (only then is the after-event sent).
// The owner's handler runs Mox code: may collect, and may change the series
// itself, so callers re-read and re-check it afterwards.
bool notify(Cell* s, Change event, const Cell* value, int32_t index, int32_t count);

// The ownership table's entry points, installed by its module at start-up.
// Until then no series is owned: notify tells nobody, reflect answers none
// for owned, and modify can only unbind (a no-op).
struct OwnershipHooks {
    // Runs the owner's deep-change handler; returns 1 when one ran.
    int32_t (*check)(Cell* value, Change event, const Cell* new_value, int32_t index,
                     int32_t count);
    // The owner cell of a series node (the field word follows it), or null.
    Cell* (*owner_of)(node_t node);
    void (*bind_object)(Cell* value, Cell* owner, Cell* field_word);
    void (*unbind)(Cell* value);
};
extern OwnershipHooks ownership;

// ---------------------------------------------------------------------------
// Helpers shared with the series datatypes
// ---------------------------------------------------------------------------

// A /part argument as a count of units from the series' index: an integer!
// as given, or a position in the same buffer and of the same type as the
// distance from the series' index; anything else raises invalid-refine-arg
// with the word part and the value.
int32_t part_count(const Cell* s, const Cell* part);
// Raises script error invalid-refine-arg naming the refinement and value.
[[noreturn]] void fire_refine_arg(const char* refinement, const Cell* value);

// The operations of union, intersect, unique, difference and exclude, shared
// by the block and the string sides.
enum SetOp : int32_t {
    SET_UNIQUE = 8,
    SET_UNION = 9,
    SET_INTERSECT = 10,
    SET_EXCLUDE = 11,
    SET_DIFFERENCE = 12
};

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* reflect(Cell* value, int32_t field_symbol);
// In place on the running call's arguments.
Cell* at();
Cell* back();
Cell* head();
Cell* head_q();
Cell* index_q();
Cell* next();
Cell* skip();
Cell* tail();
Cell* tail_q();

Cell* clear(Cell* s);
Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types);
int32_t length_q(Cell* s);
Cell* move(Cell* origin, Cell* target, Cell* part);
Cell* pick(Cell* s, int32_t index, Cell* boxed);
Cell* poke(Cell* s, int32_t index, Cell* data, Cell* boxed);
Cell* remove(Cell* s, Cell* part, Cell* key);
Cell* reverse(Cell* s, Cell* part, Cell* skip);
// Takes units out and returns a new series of the same type holding them
// (pushed), or none; the datatypes turn a single element into a value.
Cell* take(Cell* s, Cell* part, bool deep, bool last);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_);

// Registers series! (42), before every series datatype.
void init();

} // namespace mox::series
