// The datatype registry's tables and registration (see datatype.h).
#include <cstring>

#include "core/console.h"
#include "core/datatype.h"
#include "core/global-words.h"
#include "core/root.h"
#include "core/sys-alloc.h"

namespace mox::datatype {

ActionFn* action_table = nullptr;
NameEntry* name_table = nullptr;
uint32_t top_id = 0;
bool words_made = false;

void inherit_marker() {}

ActionSlots ActionSlots::none() {
    ActionSlots s;
    for (auto& f : s.slot) f = nullptr;
    return s;
}

ActionSlots ActionSlots::inherit_all() {
    ActionSlots s;
    for (auto& f : s.slot) f = INHERIT;
    return s;
}

void init_tables() {
    if (action_table) return;
    action_table = static_cast<ActionFn*>(
        sys_alloc_zeroed(sizeof(ActionFn) * (TYPE_TOTAL + 2) * ACTION_STRIDE));
    name_table = static_cast<NameEntry*>(sys_alloc_zeroed(sizeof(NameEntry) * (TYPE_TOTAL + 2)));
    top_id = 0;
}

void register_type(uint32_t id, uint32_t parent, const char* name, const ActionFn* slots,
                   int32_t count) {
    if (id > top_id) top_id = id;
    NameEntry& entry = name_table[id];
    entry.name = name;
    entry.length = static_cast<uint32_t>(std::strlen(name)) - 1;
    // Types registered once the name words exist (event!) get theirs at once.
    if (words_made)
        entry.word = *word::load(name);
    else
        make_unset(&entry.word);
    if (count != static_cast<int32_t>(ACTION_COUNT)) {
        console::write_cstring("*** Datatype Error: invalid actions count for type: ");
        console::print_int(static_cast<int32_t>(id));
        console::write_cstring("\n*** Found: ");
        console::print_int(count);
        console::write_cstring("\n*** Expected: ");
        console::print_int(static_cast<int32_t>(ACTION_COUNT));
        console::write_cstring("\n");
        // A build fault of the runtime itself: end with a failure status.
        sys_quit_status(1);
    }
    ActionFn* row = &action_table[id * ACTION_STRIDE];
    const ActionFn* parent_row = parent ? &action_table[parent * ACTION_STRIDE] : nullptr;
    for (uint32_t k = 0; k < ACTION_COUNT; k++) {
        ActionFn f = slots[k];
        if (f == INHERIT) f = parent_row ? parent_row[k] : nullptr;
        row[k] = f;
    }
}

} // namespace mox::datatype
