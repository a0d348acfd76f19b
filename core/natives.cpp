// The natives table, the actions' entry table and the natives' scratch
// block (see natives.h, actions-entry.h).
#include "core/natives.h"

#include "core/actions-entry.h"
#include "core/memory.h"
#include "core/root.h"
#include "core/value.h"

namespace mox::natives {

static_assert(sound(named, TABLE_SLOTS),
              "core/natives-table.h gives two natives one id or one name, or an id past the table");

Entry table[TABLE_SLOTS + 1] = {};
Cell* scratch = nullptr;

void init() {
    for (Entry& e : table) e = nullptr;
    Cell holder;
    make_series(&holder, TYPE_BLOCK, memory::alloc_external_buffer(SCRATCH_CELLS, sizeof(Cell), 0));
    scratch = root_append(&holder);
}

// A wrong registration list is a fault of the build, not of a program.
void register_(int32_t id, Entry entry) {
    if (id < 1 || id > TABLE_SLOTS || table[id]) sys_quit(98, 0);
    table[id] = entry;
}

Entry lookup(int32_t id) { return id >= 1 && id <= TABLE_SLOTS ? table[id] : nullptr; }

} // namespace mox::natives

namespace mox::actions_entry {

natives::Entry table[ACTION_SLOTS + 1] = {};

} // namespace mox::actions_entry
