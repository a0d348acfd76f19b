// Marks the free space of the series frames unusable for AddressSanitizer:
// a pointer kept into a buffer that the collector has since moved then
// faults at once in the sanitizer builds, where it would otherwise read
// stale data. The marks cost nothing in other builds.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define MOX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MOX_ASAN 1
#endif
#endif

#ifdef MOX_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace mox::poison {

inline void mark_free(const void* start, size_t bytes) {
#ifdef MOX_ASAN
    ASAN_POISON_MEMORY_REGION(start, bytes);
#else
    (void)start, (void)bytes;
#endif
}

inline void mark_used(const void* start, size_t bytes) {
#ifdef MOX_ASAN
    ASAN_UNPOISON_MEMORY_REGION(start, bytes);
#else
    (void)start, (void)bytes;
#endif
}

} // namespace mox::poison
