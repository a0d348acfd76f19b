// Native bodies of the math and timing library functions
// (library/math-time.mox).
#pragma once

namespace mox::math_time_bodies {

// Asks for the body of sum to be bound. Call before the boot source loads.
void register_bodies();

} // namespace mox::math_time_bodies
