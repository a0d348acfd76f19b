// The external-resource registry: operating-system resources that values
// stand for (bitmaps, fonts, COM objects) get a record here, found by a small
// index that the value keeps. The collector releases, through the kind's
// release callback, every resource that no value marked during a cycle.
//
// A value keeps the index together with the record's generation (see
// handle_of): a record removed and reused gets a new generation, so a stale
// value can never mark, replace or release another resource.
#pragma once

#include <cstdint>

namespace mox::externals {

using ReleaseFn = void (*)(uintptr_t object);

constexpr uint32_t FLAG_MARK = 0x80000000;
constexpr uint32_t FLAG_FREE = 0x40000000;
constexpr uint32_t KIND_MASK = 0xFF;
constexpr uint32_t MAX_KINDS = 20;

struct Entry {
    uint32_t flags;      // mark, free, kind number
    uintptr_t object;    // the resource's handle or pointer; 0 when free
    int32_t next;        // next record of the live or the free list, -1 ends it
    uint32_t generation; // bumped each time the record is freed
};

void init();
// Kind numbers count from 1; 0 when the kinds table is full.
uint32_t register_kind(const char* name, ReleaseFn release);
// Returns the handle of the new record: index | (generation mod 2048) << 20,
// never negative as a 32-bit integer.
uint32_t store(uintptr_t object, uint32_t kind);
void replace(uint32_t handle, uintptr_t object);
void remove(uint32_t handle, bool release);
// Marks the record; a non-zero object replaces the stored one without
// releasing. Returns 1 when newly marked, 0 otherwise (also for a stale
// handle).
int mark(uint32_t handle, uintptr_t object);
void for_each(uint32_t kind, void (*callback)(uintptr_t object));
void release_object(uint32_t flags, uintptr_t object);
void sweep();

// Lookup for the owners of handles; nullptr for a stale handle.
Entry* entry(uint32_t handle);
uint32_t capacity();

constexpr uint32_t INDEX_MASK = 0xFFFFF; // up to 1M records
constexpr uint32_t GENERATION_SHIFT = 20;

} // namespace mox::externals
