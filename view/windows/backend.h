// The Windows view back end as the choice of back end sees it: whether it
// is wanted and its table of routine bodies.
#pragma once

#include "view/backend.h"

namespace mox::gui::win {

// False when the environment asks for the null back end (MOX_NULL_GUI=1):
// the View tables then run under Wine as they do natively.
bool wanted();

extern const Backend backend;

} // namespace mox::gui::win
