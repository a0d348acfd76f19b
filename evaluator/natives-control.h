// The control natives (conditionals and loops) and the loop steps they share
// with set.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::natives {

// Fills the natives table's slots of if, unless, either, any, all, while,
// until, loop, repeat, forever, foreach, forall, remove-each, switch, case.
void register_control();

// Assigns n values to the first n words of the words block (from its
// index): the items of an any-block! or map! source (none past its end)
// unless only, else the source itself. A non-word item raises invalid-arg;
// an unset! item raises need-value unless any; with some, words whose value
// would be none are left alone. words and source must be cells the
// collector sees. May collect.
void set_many(Cell* words, Cell* source, int32_t n, bool any, bool only, bool some);

} // namespace mox::natives
