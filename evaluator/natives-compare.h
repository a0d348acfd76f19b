// The comparison and logic natives, and the identity test behind same?.
#pragma once

#include "core/cell.h"

namespace mox::natives {

// Fills the natives table's slots of equal?, not-equal?, strict-equal?,
// lesser?, greater?, lesser-or-equal?, greater-or-equal?, same?, not, type?.
void register_compare();

// Whether two values are the same value: the same datatype and the same
// scalar bits, or the same series at the same position, the same context,
// the same function.
bool same_values_q(Cell* value1, Cell* value2);

} // namespace mox::natives
