// The datatype! datatype (see datatype.h).
#include "datatypes/datatype.h"

#include <cstring>

#include "core/datatype.h"
#include "datatypes/string.h"

namespace mox::datatype {

namespace {

inline const char* name_of(uint32_t type) {
    const char* name = type < TYPE_TOTAL ? name_table[type].name : nullptr;
    return name ? name : "";
}

inline uint32_t length_of(uint32_t type) {
    return type < TYPE_TOTAL && name_table[type].name ? name_table[type].length : 0;
}

} // namespace

void init() {
    register_type(
        TYPE_DATATYPE, 0, "datatype!",
        ActionSlots::none().set<A_FORM>(&form).set<A_MOLD>(&mold).set<A_COMPARE>(&compare));
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    uint32_t type = value->data1;
    string::append_utf8(buffer, name_of(type), length_of(type));
    return limit - static_cast<int32_t>(length_of(type));
}

// The name with its "!"; /all gives the construction syntax #(integer!).
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    const char* name = name_of(value->data1);
    auto length = static_cast<int32_t>(std::strlen(name));
    if (all) string::concatenate_literal(buffer, "#(");
    string::append_utf8(buffer, name, static_cast<size_t>(length));
    if (all) string::concatenate_literal(buffer, ")");
    return limit - length - (all ? 3 : 0);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_STRICT_EQUAL:
    case COMP_SAME:
    case COMP_FIND:
        return type_of(value2) == TYPE_DATATYPE && value2->data1 == value1->data1 ? 0 : 1;
    default:
        return COMPARE_NOT_COMPARABLE;
    }
}

} // namespace mox::datatype
