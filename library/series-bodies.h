// Native bodies of the series library functions (library/series.mox).
#pragma once

namespace mox::series_bodies {

// Asks for the bodies to be bound to split, replace, extract, pad and
// rejoin. Call before the boot source loads.
void register_bodies();

} // namespace mox::series_bodies
