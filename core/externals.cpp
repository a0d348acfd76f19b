// The external-resource registry (see externals.h).
#include "core/externals.h"

#include "core/root.h"
#include "core/sys-alloc.h"

namespace mox::externals {

namespace {

struct Kind {
    const char* name;
    ReleaseFn release;
};

Kind* kinds = nullptr;
uint32_t kind_count = 0;
Entry* records = nullptr;
uint32_t record_count = 0;
int32_t live_head = -1;
int32_t free_head = 0;

void chain_free(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; i++) {
        records[i] = Entry{FLAG_FREE, 0, static_cast<int32_t>(i + 1), records[i].generation};
    }
    records[to - 1].next = -1;
}

uint32_t handle_of(uint32_t index) {
    return index | ((records[index].generation & 0x7FF) << GENERATION_SHIFT);
}

// Frees a live record: it leaves no trace a stale handle could match.
void make_free(uint32_t index) {
    Entry& e = records[index];
    e.flags = FLAG_FREE;
    e.object = 0;
    e.generation++;
    e.next = free_head;
    free_head = static_cast<int32_t>(index);
}

void unlink_live(uint32_t index) {
    if (live_head == static_cast<int32_t>(index)) {
        live_head = records[index].next;
        return;
    }
    for (int32_t i = live_head; i != -1; i = records[i].next) {
        if (records[i].next == static_cast<int32_t>(index)) {
            records[i].next = records[index].next;
            return;
        }
    }
}

} // namespace

void init() {
    kinds = static_cast<Kind*>(sys_alloc_zeroed(sizeof(Kind) * MAX_KINDS));
    kind_count = 0;
    record_count = 1000;
    records = static_cast<Entry*>(sys_alloc_zeroed(sizeof(Entry) * record_count));
    chain_free(0, record_count);
    live_head = -1;
    free_head = 0;
}

uint32_t register_kind(const char* name, ReleaseFn release) {
    if (kind_count >= MAX_KINDS) return 0;
    kinds[kind_count] = Kind{name, release};
    return ++kind_count;
}

Entry* entry(uint32_t handle) {
    uint32_t index = handle & INDEX_MASK;
    if (index >= record_count) return nullptr;
    Entry& e = records[index];
    if (e.flags & FLAG_FREE) return nullptr;
    if ((e.generation & 0x7FF) != (handle >> GENERATION_SHIFT)) return nullptr;
    return &e;
}

uint32_t store(uintptr_t object, uint32_t kind) {
    if (records[free_head].next == -1) {
        uint32_t old = record_count;
        if (old * 2 > INDEX_MASK + 1) sys_quit(94, 0);
        record_count = old * 2;
        records = static_cast<Entry*>(sys_realloc(records, sizeof(Entry) * record_count));
        for (uint32_t i = old; i < record_count; i++) records[i].generation = 0;
        chain_free(old, record_count);
        records[free_head].next = static_cast<int32_t>(old);
    }
    uint32_t index = static_cast<uint32_t>(free_head);
    Entry& e = records[index];
    free_head = e.next;
    e.flags = kind & KIND_MASK;
    e.object = object;
    e.next = live_head;
    live_head = static_cast<int32_t>(index);
    return handle_of(index);
}

void release_object(uint32_t flags, uintptr_t object) {
    uint32_t kind = flags & KIND_MASK;
    if (kind == 0 || kind > kind_count || !kinds[kind - 1].release) return;
    kinds[kind - 1].release(object);
}

void replace(uint32_t handle, uintptr_t object) {
    Entry* e = entry(handle);
    if (!e) return;
    uintptr_t old = e->object;
    e->object = object;
    if (old != object) release_object(e->flags, old);
}

void remove(uint32_t handle, bool release) {
    Entry* e = entry(handle);
    if (!e) return;
    if (release) release_object(e->flags, e->object);
    uint32_t index = handle & INDEX_MASK;
    unlink_live(index);
    make_free(index);
}

int mark(uint32_t handle, uintptr_t object) {
    Entry* e = entry(handle);
    if (!e) return 0;
    if (object) e->object = object;
    if (e->flags & FLAG_MARK) return 0;
    e->flags |= FLAG_MARK;
    return 1;
}

void for_each(uint32_t kind, void (*callback)(uintptr_t object)) {
    for (int32_t i = live_head; i != -1; i = records[i].next) {
        if ((records[i].flags & KIND_MASK) == kind) callback(records[i].object);
    }
}

void sweep() {
    int32_t prev = -1;
    int32_t i = live_head;
    while (i != -1) {
        Entry& e = records[i];
        int32_t next = e.next;
        if (e.flags & FLAG_MARK) {
            e.flags &= ~FLAG_MARK;
            prev = i;
        } else {
            release_object(e.flags, e.object);
            if (prev == -1)
                live_head = next;
            else
                records[prev].next = next;
            make_free(static_cast<uint32_t>(i));
        }
        i = next;
    }
}

uint32_t capacity() { return record_count; }

} // namespace mox::externals
