// The math natives: sign tests, max and min, shift, to-hex, trigonometry,
// logarithms and the constructors of pairs, points and money.
#pragma once

namespace mox::natives {

// Fills the natives table's slots of the math natives.
void register_math();

} // namespace mox::natives
