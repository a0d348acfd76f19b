// Virtual memory on POSIX: the reference space is reserved with no access and
// committed piecewise; decommitted pages lose their contents and fault again
// on any stale access, as they do on Windows.
#include <sys/mman.h>
#include <unistd.h>

#include "platform/platform.h"

namespace mox::platform {

size_t page_size() {
    static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

void* reserve(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool commit(void* address, size_t bytes) {
    return mprotect(address, bytes, PROT_READ | PROT_WRITE) == 0;
}

// Linux 5.14's madvise advice; older kernels refuse it, which costs nothing.
#if defined(__linux__) && !defined(MADV_POPULATE_WRITE)
#define MADV_POPULATE_WRITE 23
#endif

void populate(void* address, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    madvise(address, bytes, MADV_POPULATE_WRITE);
#else
    (void)address;
    (void)bytes;
#endif
}

void decommit(void* address, size_t bytes) {
    // MADV_DONTNEED drops the pages (they read back as zeros); taking the
    // access away makes a use after decommit fault instead of silently
    // reading those zeros.
    madvise(address, bytes, MADV_DONTNEED);
    mprotect(address, bytes, PROT_NONE);
}

void release(void* address, size_t bytes) { munmap(address, bytes); }

void* alloc_virtual(size_t bytes, bool exec) {
    int prot = PROT_READ | PROT_WRITE | (exec ? PROT_EXEC : 0);
    void* p = mmap(nullptr, bytes, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool free_virtual(void* address, size_t bytes) { return munmap(address, bytes) == 0; }

} // namespace mox::platform
