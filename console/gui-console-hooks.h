// The GUI console's routines: the output hooks that route printed text into
// its terminal, the caret blink time and the process console's title.
#pragma once

namespace mox::gui_console {

void register_routines();

} // namespace mox::gui_console
