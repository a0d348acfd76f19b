// tag!: a string between angle brackets. Only its text form is its own;
// every other action is string!'s.
#include "datatypes/tag.h"

#include "core/datatype.h"
#include "datatypes/string.h"

namespace mox::tag {

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    string::append_char(buffer, '<');
    limit = string::form(value, buffer, part, limit - 1);
    string::append_char(buffer, '>');
    return limit - 1;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

void init() {
    datatype::ActionSlots slots = datatype::ActionSlots::inherit_all();
    slots.set<A_FORM>(&form).set<A_MOLD>(&mold);
    for (Action a : {A_RANDOM, A_SORT, A_TRIM}) slots.slot[a - 1] = nullptr;
    datatype::register_type(TYPE_TAG, TYPE_STRING, "tag!", slots);
}

} // namespace mox::tag
