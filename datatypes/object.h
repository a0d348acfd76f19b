// object!: a context of named fields with a class ID and, optionally, change
// handlers (the fields on-change* and on-deep-change*). error! and port!
// derive from it.
//
// An object cell: data1 the context node (an object context, see
// core/context.h), data2 the class ID, data3 the node of the event record or
// 0. The object cell is also the context's owner cell, so that a context can
// find its object (and `self` its value).
//
// Class IDs: objects made from a prototype without new words keep its class;
// any other object gets a new one from a global counter. Class 0 is a bare
// context, class 1 an error.
//
// Event record: a block of two pair! cells, one for on-change* and one for
// on-deep-change*: x = the handler's field index << 16 | the number of its
// /local slots (the refinement and its words), y = the handler's spec node
// when that count was taken. An index of 0xFFFF (x >= 0xFFFF0000) means no
// handler. An object has a record only when it has one of the two fields.
//
// Setting a field through the object marks its word cell with
// FLAG_FIELD_SET; reflect changed lists the marked words.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::object {

constexpr uint32_t CLASS_ERROR = 1;

uint32_t new_class_id();

// ---------------------------------------------------------------------------
// Construction (all may collect)
// ---------------------------------------------------------------------------

// Writes a new empty object for n words (class 0, no record) into the cell.
Cell* make_at(Cell* cell, int32_t n);
// Gives the object its event record from its handler fields (none when it
// has neither); a handler field holding anything but a function! or
// routine! raises bad-field-set.
void init_events(Cell* object);
// Replaces each series value of the context by a deep copy, rebinding copied
// blocks, parens, hashes and paths to the context; function! values are
// rebound to the object.
void clone_series(Cell* object);
// Rebinds a function! value to the object's context: a new function with a
// copy of the function's context and its body deep-copied and bound to the
// object (self included), then to the new function context. Writes the new
// function over the value.
void rebind_function(Cell* function, node_t object_context);

// construct: a copy of the prototype (an object! or none) or a new object,
// filled from the spec's set-words without evaluation (see object.cpp);
// unless only, the words true/yes/on, false/no/off and none stand for their
// values. Pushes the result.
Cell* make_from_spec(Cell* spec, Cell* prototype, bool only);

// ---------------------------------------------------------------------------
// Lookup
// ---------------------------------------------------------------------------

// The field's value (case-insensitive), or a shared none cell not to be
// written.
Cell* find_value(node_t context, uint32_t symbol);
// The index of the field, or -1.
int32_t find_field(node_t context, uint32_t symbol);
Cell* get_word(node_t context, int32_t index);
Cell* get_values(node_t context);
int32_t field_count(node_t context);
// Clears the new-line marker on the cells of a cell series.
void clear_value_marks(node_t series);

// ---------------------------------------------------------------------------
// Notification and assignment (run Mox code: may collect)
// ---------------------------------------------------------------------------

// Calls the object's on-change* with the field word, the old and the new
// value; nothing when it has none. A handler that is no function raises
// invalid-obj-evt.
void call_on_change(Cell* object, Cell* word, Cell* old, Cell* value);

// The object target of set: assigns the fields in word order from a block
// (item by item), an object (field by name) or any other value (all
// fields). any: unset! values allowed; only: the value as a whole; some:
// none values skipped. With an event record, the handler fields are left
// alone and every other assignment notifies.
void set_many(Cell* object, Cell* value, bool any, bool only, bool some);

// The field lines of form and mold for objects, errors and ports; returns
// the remaining limit. May collect.
int32_t serialize(Cell* object, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                  int32_t limit, bool mold, int32_t indent);
// The mold of an object-like value: the header (such as "make object! [")
// unless only, the field lines, and the closing bracket. May collect.
int32_t mold_framed(Cell* object, const char* header, Cell* buffer, bool only, bool all, bool flat,
                    Cell* part, int32_t limit, int32_t indent);

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* reflect(Cell* value, int32_t field_symbol);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_);

// Registers object! (32) and installs the change notification of contexts.
void init();

} // namespace mox::object
