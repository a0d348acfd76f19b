// The reference space: where every node frame, series frame, big frame and
// off-frame buffer lives, so that all of them can be named by a 32-bit
// reference.
//
// On the 64-bit build one range of 4 GiB of address space is reserved at
// start-up and a reference is the offset from its base; chunks are carved
// from it page by page and committed on demand. On the 32-bit build the
// base is 0: a reference is the address itself and chunks come straight
// from the system.
//
// Reference 0 is never a valid object (the first page of the range is never
// handed out), so 0 serves as the null reference everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mox::arena {

using ref32 = uint32_t;

extern uintptr_t base;

inline void* ptr(ref32 r) { return reinterpret_cast<void*>(base + r); }
template <typename T> inline T* at(ref32 r) { return reinterpret_cast<T*>(base + r); }
inline ref32 ref(const void* p) {
    return static_cast<ref32>(reinterpret_cast<uintptr_t>(p) - base);
}

// Reserves the range (64-bit build); idempotent.
void init();

// A committed chunk of at least bytes (rounded up to whole pages); nullptr
// when the space or the system's memory is exhausted. It is zero-filled
// unless zero is false, in which case a chunk made of released pages that
// were kept committed holds whatever they held. With populate, fresh pages
// are backed at once (see platform::populate).
void* alloc_chunk(size_t bytes, bool zero = true, bool populate = false);
// Returns a chunk given by alloc_chunk with the same size. With keep (the
// 64-bit build), its pages stay committed for the next chunks until trim.
void free_chunk(void* chunk, size_t bytes, bool keep = true);
// Decommits the pages kept beyond half the bytes in use (plus a floor): a
// burst of releases, such as a collection's, calls it once at its end.
void trim();

// Bytes of the range in use by chunks (page-rounded).
size_t used();
// Bytes released but still committed, waiting for reuse.
size_t kept();

} // namespace mox::arena
