// The word datatypes: word!, set-word!, lit-word!, get-word!, refinement!
// and issue!, which share one cell layout (data1 context node, data2 symbol
// ID, data3 index in that context or -1 when unbound), and context!, which
// has no action of its own. word! implements the family's actions; the other
// kinds inherit them and differ in how they mold. The global words are
// made in core/global-words.h.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/global-words.h"

namespace mox::word {

// Registers context!, word!, lit-word!, set-word!, get-word! and refinement!.
void init();

inline bool any_word_q(uint32_t type) { return type >= TYPE_WORD && type <= TYPE_ISSUE; }

// ---------------------------------------------------------------------------
// Stack helpers
// ---------------------------------------------------------------------------

Cell* push(const Cell* value);
Cell* push_as_get_word(const Cell* word);
Cell* push_as_refinement(const Cell* word);
Cell* push_as_issue(const Cell* word);
// Pushes the word's name as a new string! of its own. May collect.
Cell* push_name(const Cell* word);

// ---------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------

// The value cell of a word in its own context (see context::word_value_ptr).
Cell* get_value(const Cell* word);
// Pushes a copy of the value; an unset! value raises no-value.
Cell* get(const Cell* word);
Cell* push_value_any(const Cell* word);
// The value cell; an unset! value raises no-value.
Cell* get_checked(const Cell* word);
// Stores through the word in its own context, notifying objects. May collect.
Cell* set(Cell* word, const Cell* value);
// Stores the cell after arguments into the word at arguments (an unset!
// value raises need-value); the value becomes the call's result.
Cell* set_from_arguments();
// Stores the stack's last cell (an unset! one raises need-value); the reset
// form then drops the call's cells.
Cell* set_from_top(Cell* word);
void set_from_top_reset(Cell* word);

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* index_q();

} // namespace mox::word

namespace mox::set_word {
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
} // namespace mox::set_word

namespace mox::lit_word {
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
} // namespace mox::lit_word

namespace mox::get_word {
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
} // namespace mox::get_word

namespace mox::refinement {
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
} // namespace mox::refinement

namespace mox::issue {
// Registers issue!.
void init();
Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
// The issue appended to the root block while the rooting flag is set, else
// pushed on the stack. May collect.
Cell* make_rooted(const char* name);
} // namespace mox::issue
