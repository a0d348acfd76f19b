// The natives table and the natives' scratch block (see natives.h).
#include "evaluator/natives.h"

#include "core/startup.h"
#include "datatypes/block.h"

namespace mox::natives {

static_assert(sound(named, TABLE_SLOTS),
              "core/natives-table.h gives two natives one id or one name, or an id past the table");

Entry table[TABLE_SLOTS + 1] = {};
Cell* scratch = nullptr;

void init() {
    for (Entry& e : table) e = nullptr;
    Cell holder;
    block::make_fixed(&holder, SCRATCH_CELLS, true);
    scratch = root_append(&holder);
}

// A wrong registration list is a fault of the build, not of a program.
void register_(int32_t id, Entry entry) {
    if (id < 1 || id > TABLE_SLOTS || table[id]) sys_quit(98, 0);
    table[id] = entry;
}

Entry lookup(int32_t id) { return id >= 1 && id <= TABLE_SLOTS ? table[id] : nullptr; }

}  // namespace mox::natives
