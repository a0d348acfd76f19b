// The series and set natives: set operations, complement?, extend, percent
// and base encodings, case changes and new-line markers.
#pragma once

namespace mox::natives {

// Fills the natives table's slots of the series and set natives.
void register_series();

} // namespace mox::natives
