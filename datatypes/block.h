// block!: the cell series of Mox, and the storage routines through which the
// whole runtime builds, reads and changes blocks. paren!, the path family and
// hash! share the storage and most actions (paren.h, path.h).
//
// A block value: header type 5 (or a child type), data1 head index in cells
// (it may lie past the tail after the buffer shrank through another value:
// readers clip it, and the routines marked "clips" write the clipped index
// back), data2 the node of the cell buffer, data3 the hash table of a hash!,
// else 0.
//
// Cell arguments named blk, series or value must be cells the collector sees
// and that do not move while the routine runs: evaluation-stack cells, a
// collector::Root'ed local, a cell of the root block. Routines that may
// collect re-read nodes and buffers from those cells afterwards. A cell
// pointer returned into a buffer is valid only until the next allocation.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/memory.h"

namespace mox::block {

// ---------------------------------------------------------------------------
// Reading (none of these allocates)
// ---------------------------------------------------------------------------

inline memory::SeriesBuffer* buffer_of(const Cell* blk) { return memory::buffer_of(blk->data2); }
// Cells from the buffer head to the tail, ignoring the index.
inline uint32_t abs_length(const Cell* blk) { return buffer_of(blk)->used_bytes() / sizeof(Cell); }
// Cells from the index to the tail; negative when the index lies past it.
int32_t ms_length_q(const Cell* blk);
// Cells from the index to the tail, 0 when the index lies past it.
int32_t rs_length_q(const Cell* blk);
// Moves the index on by one unless that passes the tail; returns whether the
// block is now at its tail.
bool ms_next(Cell* blk);
// The cell at the index (clips).
Cell* ms_head(Cell* blk);
// The cell at the index clipped to the tail, the value left as it is.
Cell* rs_head(const Cell* blk);
Cell* ms_tail(const Cell* blk);
bool ms_tail_q(const Cell* blk);
// Cell i counted from the buffer head.
Cell* ms_abs_at(const Cell* blk, uint32_t i);
// Clips the index to the tail and returns it.
uint32_t clip_index(Cell* blk);

// ---------------------------------------------------------------------------
// Cutting (no allocation)
// ---------------------------------------------------------------------------

// Drops the cells from the index (clips) / from cell i of the buffer.
void ms_clear(Cell* blk);
void ms_clear_at(Cell* blk, uint32_t i);
// Drops the last cell, if any, and clips the index.
void ms_remove_last(Cell* blk);

// ---------------------------------------------------------------------------
// Building (all may collect)
// ---------------------------------------------------------------------------

// Writes an empty block of the type with room for size cells (below 1 counts
// as 1) into slot.
Cell* make_at(Cell* slot, int32_t size, uint32_t type = TYPE_BLOCK);
// As make_at, with every cell of the capacity preset to unset!, or with a
// buffer outside the frames that never moves (and is never reclaimed).
Cell* make_fixed(Cell* slot, int32_t size, bool external);
// Appends a new empty block of size cells (1 for make_fixed_in) to parent
// (an any-block or map!) and returns the new cell; with no parent the block
// goes into the module's rooted scratch cell.
Cell* make_in(Cell* parent, int32_t size);
Cell* make_fixed_in(Cell* parent);
// Pushes a copy of a value / a new empty block with room for size cells.
Cell* push(const Cell* value);
Cell* push_only_star(int32_t size);
// Reserves an unset! cell at the tail and returns it.
Cell* alloc_tail(Cell* blk);
// Appends a copy of value and returns the new cell (no hash index kept).
Cell* ms_append(Cell* blk, const Cell* value);
// Appends copies of the cells of src from its index.
void ms_append_block(Cell* blk, const Cell* src);
// Inserts a copy of value at the index (clips) or at the buffer head, keeping
// a hash! index; with advance the index moves past the new cell. Returns blk.
Cell* insert_value(Cell* blk, const Cell* value, bool at_head, bool advance);
// Inserts the cells of src from its index at blk's index and moves blk's
// index past them (a source in blk's own buffer is copied first).
void insert_block(Cell* blk, const Cell* src);
// Stack routines for compiled code: insert arguments into the block in the
// cell before it; append a copy of arguments + 1 to the block in arguments;
// append a copy of arguments to the block in the cell before it. The
// appends keep a hash! index.
void insert_last();
void append_second();
void append_last();
// Pushes a copy of blk from its index with at least one cell of room, of
// blk's type (a hash! gives a block!). With deep every nested block! (with
// any also paren! and the path family) is cloned too, header flags kept.
// Raises internal no-cycle on a block that contains itself and too-deep on
// nesting beyond the cycle stack.
Cell* clone(const Cell* blk, bool deep, bool any);
// Replaces every cell i = from, from + step ... below end whose type is in
// types (a typeset! or a datatype!) and that is of a copyable type by its
// copy (action copy, deep when asked; the filter goes on only when deep).
void copy_types(Cell* blk, int32_t from, int32_t end, int32_t step, Cell* types, bool deep);

// ---------------------------------------------------------------------------
// Lookup
// ---------------------------------------------------------------------------

// The cell after the first one (from the index) equal to value under find
// equality, or a shared none cell when nothing matches or the match is last.
// The none cell must not be written.
Cell* select_value(Cell* blk, const Cell* value);
// The cell after the first word, set-word, lit-word or get-word (from the
// index) naming word's symbol (exact spelling with case_), or the none cell.
Cell* select_word(Cell* blk, const Cell* word, bool case_);
// Removes the first cell equal to value under find equality, from the index
// or from the head. Returns 0 when nothing matched, 2 when the removed cell
// was at or before the index, 1 when after it.
int32_t remove_value(Cell* blk, const Cell* value, bool from_head);

// The search behind find, select, put and path setters (refinements as for
// find; nullptr for an absent one). Returns the position of the match in
// cells from the buffer head, or -1; *sequence receives the length of the
// matched run when value was searched as a sequence of cells, else 0.
int32_t search(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, Cell* skip,
               bool last, bool reverse, bool match, int32_t* sequence);

// ---------------------------------------------------------------------------
// Helpers shared with paren!, the path family and hash!
// ---------------------------------------------------------------------------

// Whether position is a series of value's type over value's buffer (a /part
// given as a position).
inline bool same_series_q(const Cell* position, const Cell* value) {
    return type_of(position) == type_of(value) && position->data2 == value->data2;
}
// Whether type is in types: a typeset!, or a datatype! naming it.
bool type_in_q(const Cell* types, uint32_t type);

// ---------------------------------------------------------------------------
// Text (may collect)
// ---------------------------------------------------------------------------

// Molds the values from the index between open and close (nothing written
// for 0), with the new-line and indentation rules of block molds; returns the
// remaining allowance.
int32_t mold_values(Cell* blk, Cell* buffer, bool only, bool all, bool flat, Cell* part,
                    int32_t limit, int32_t indent, char open, char close);
// Appends NUL-terminated ASCII text to a string (cycle placeholders).
void append_ascii(Cell* string, const char* text);

// ---------------------------------------------------------------------------
// Hooks set by later subsystems
// ---------------------------------------------------------------------------

// Loads source text into a new block written to out (the lexer).
using LoadText = void (*)(Cell* text, Cell* out);
extern LoadText load_text;
// Runs a function! with two arguments and returns its result cell (the
// interpreter). May collect; may raise.
using CallFunction2 = Cell* (*)(Cell* function, Cell* arg1, Cell* arg2);
extern CallFunction2 call_comparator;

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

// make, to, find, select and take push their result; the modifying actions
// return the series argument, changed in place.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
// append and insert: part is the count of the value's cells (-1 without
// /part), dup the repeat count.
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
// append without /part and /dup when it is a bare store: a block! (not a
// hash!, whose index must follow) that nobody watches, with room for one
// more cell at its tail, and a value added as one cell. Stores it and moves the block's index to
// its head as append does; false (nothing done) otherwise. Never allocates.
bool append_in_place(Cell* blk, const Cell* value, bool only);
Cell* copy(Cell* value, Cell* dest, Cell* part, bool deep, Cell* types);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse);
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable);
Cell* swap(Cell* series1, Cell* series2);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

// The block side of union, intersect, unique, difference and exclude (op a
// series::SetOp): the result replaces set1 (a new buffer at index 0). set2
// is unused for unique. skip is the /skip size cell or nullptr.
Cell* do_set_op(Cell* set1, Cell* set2, bool case_, Cell* skip, int32_t op);

// Registers block! (parent series!, which must be registered first) and the
// module's mark callback.
void init();

} // namespace mox::block
