// Tracked allocations: every low-level table, record and buffer of the
// runtime that is not a series comes from here. Each block carries a 16-byte
// header linking it into one list, so that the exit path can free them all
// and the memory statistics can count them. Failure to get memory ends the
// process with runtime error 94 ("out of memory").
#pragma once

#include <cstddef>

namespace mox {

void* sys_alloc(size_t size);
void* sys_alloc_zeroed(size_t size);
void* sys_realloc(void* p, size_t size);
void sys_free(void* p);
// Frees every tracked block (the exit path).
void sys_free_all();
// Bytes of all tracked blocks, each counted with its header.
size_t sys_allocated_bytes();

} // namespace mox
