// triple!: three integers that only print.
#include "datatypes/triple.h"

#include <string>

#include "core/datatype.h"
#include "datatypes/string.h"

namespace mox::triple {

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
    std::string text = "make triple! [" + std::to_string(static_cast<int32_t>(value->data1)) + " " +
                       std::to_string(static_cast<int32_t>(value->data2)) + " " +
                       std::to_string(static_cast<int32_t>(value->data3)) + "]";
    string::concatenate_literal(buffer, text.c_str());
    return limit - static_cast<int32_t>(text.size());
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return form(value, buffer, part, limit);
}

void init() {
    datatype::register_type(TYPE_TRIPLE, 0, "triple!",
                            datatype::ActionSlots::none().set<A_FORM>(&form).set<A_MOLD>(&mold));
}

} // namespace mox::triple
