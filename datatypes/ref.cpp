// ref!: a reference written @name; the rest is string!'s, without the
// actions that would make no sense on a name.
#include "datatypes/ref.h"

#include "core/datatype.h"
#include "datatypes/string.h"

namespace mox::ref {

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    string::append_char(buffer, '@');
    return string::form(value, buffer, part, limit - 1);
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::inherit_all();
    slots.set<A_MOLD>(&mold);
    for (Action a : {A_RANDOM, A_APPEND, A_EVAL_PATH, A_PUT, A_SORT, A_TRIM})
        slots.slot[a - 1] = nullptr;
    datatype::register_type(TYPE_REF, TYPE_STRING, "ref!", slots);
}

} // namespace mox::ref
