// The value-slot pool (see value-pool.h). A free slot is an integer! cell
// whose data3 holds the 0-based index of the next free cell (-1 ends the
// list); the cell's data1 holds a tag that tells a free cell from a stored
// integer!, so a double free is refused. The block's tail is kept at its
// capacity so that the collector marks every slot.
#include "core/value-pool.h"

#include "core/collector.h"
#include "core/memory.h"

namespace mox::value_pool {

namespace {

Cell pool;                                // block! over the slots
int32_t free_head = -1;                   // 0-based index of the first free cell
constexpr uint32_t FREE_TAG = 0x46524545; // marks a free slot's cell

memory::SeriesBuffer* buffer() { return memory::buffer_of(pool.data2); }
Cell* cells() { return buffer()->cells(); }
uint32_t cap() { return buffer()->size / sizeof(Cell); }

bool is_free(const Cell* c) { return type_of(c) == TYPE_INTEGER && c->data1 == FREE_TAG; }

} // namespace

void init() {
    make_series(&pool, TYPE_BLOCK, memory::alloc_cells(100));
    link_free(0);
}

void link_free(int32_t first) {
    memory::SeriesBuffer* b = buffer();
    uint32_t n = cap();
    Cell* c = b->cells();
    for (uint32_t i = static_cast<uint32_t>(first); i < n; i++) {
        c[i] = Cell{TYPE_INTEGER, FREE_TAG, 0, i + 1 < n ? i + 1 : static_cast<uint32_t>(-1)};
    }
    free_head = first < static_cast<int32_t>(n) ? first : -1;
    b->tail = b->head + n * sizeof(Cell);
}

int32_t alloc(const Cell* value) {
    Cell copy = *value;
    if (free_head == -1) {
        collector::Root keep(&copy);
        uint32_t old = cap();
        memory::expand_series(buffer(), old * 2 * sizeof(Cell));
        link_free(static_cast<int32_t>(old));
    }
    int32_t index = free_head;
    Cell* c = &cells()[index];
    free_head = static_cast<int32_t>(c->data3);
    *c = copy;
    return index + 1;
}

Cell* get(int32_t slot) {
    if (slot < 1 || static_cast<uint32_t>(slot) > cap()) return nullptr;
    Cell* c = &cells()[slot - 1];
    return is_free(c) ? nullptr : c;
}

void free(int32_t slot) {
    Cell* c = get(slot);
    if (!c) return;
    *c = Cell{TYPE_INTEGER, FREE_TAG, 0, static_cast<uint32_t>(free_head)};
    free_head = slot - 1;
}

uint32_t capacity() { return pool.data2 ? cap() : 0; }

void mark() {
    if (pool.data2) collector::mark_block(&pool.data2);
}

} // namespace mox::value_pool
