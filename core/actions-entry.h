// The entry points of action! values: one per action id (1 .. 62), each
// taking the refinement indexes of the natives' calling convention (see
// core/natives.h) and calling the action's direct form with the
// decoded refinements, so that the result ends in the call's result cell.
#pragma once

#include <cstdint>

#include "core/natives.h"

namespace mox::actions_entry {

constexpr int32_t ACTION_SLOTS = 62;

// The entries by action id (slot 0 unused); filled by init
// (evaluator/actions-entry.cpp).
extern natives::Entry table[ACTION_SLOTS + 1];

// Fills the table (start-up).
void init();
// The entry of an action id, or null for the slots no action! can name (7,
// 8, 9) and ids outside 1 .. 62. Inline: every call of an action reads it.
inline natives::Entry lookup(int32_t id) {
    return static_cast<uint32_t>(id) - 1u < static_cast<uint32_t>(ACTION_SLOTS) ? table[id]
                                                                                : nullptr;
}

} // namespace mox::actions_entry
