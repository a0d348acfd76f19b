// email!: an e-mail address (string cell, type 45, parent string!), molded
// as its bare text, with the path accessors user and host.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::email {

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
// e/user: the text before the first "@" (all of it when there is none);
// e/host: the text after it (empty when there is none). Setting one replaces
// that span in place; an integer! element is string!'s character access.
// May collect.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);

// Registers email! (after string!).
void init();

} // namespace mox::email
