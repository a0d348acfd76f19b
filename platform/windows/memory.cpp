// Virtual memory on Windows: reservations, commits and decommits of the
// reference space, and fresh committed regions.
#include <windows.h>

#include "platform/platform.h"

namespace mox::platform {

size_t page_size() {
    static const size_t size = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return static_cast<size_t>(info.dwPageSize);
    }();
    return size;
}

void* reserve(size_t bytes) { return VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS); }

bool commit(void* address, size_t bytes) {
    return VirtualAlloc(address, bytes, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

// Windows has no call that backs committed private pages ahead of use; they
// come as they are touched.
void populate(void*, size_t) {}

void decommit(void* address, size_t bytes) { VirtualFree(address, bytes, MEM_DECOMMIT); }

void release(void* address, size_t) { VirtualFree(address, 0, MEM_RELEASE); }

void* alloc_virtual(size_t bytes, bool exec) {
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE,
                        exec ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE);
}

bool free_virtual(void* address, size_t) { return VirtualFree(address, 0, MEM_RELEASE) != 0; }

} // namespace mox::platform
