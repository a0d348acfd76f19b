// The symbol! datatype (see symbol.h).
#include "datatypes/symbol.h"

#include "core/datatype.h"
#include "datatypes/string.h"

namespace mox::symbol {

void init() {
    datatype::register_type(TYPE_SYMBOL, 0, "symbol!",
                            datatype::ActionSlots::none().set<A_COMPARE>(&compare));
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_SYMBOL) return COMPARE_NOT_COMPARABLE;
    return string::compare_strings(value1, value2, op, false);
}

} // namespace mox::symbol
