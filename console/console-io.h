// Line input for the console engine without a window (see console-io.cpp).
#pragma once

namespace mox::console_io {

void register_routines();

} // namespace mox::console_io
