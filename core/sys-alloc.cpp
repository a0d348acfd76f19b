// Tracked allocations (see sys-alloc.h).
#include "core/sys-alloc.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/root.h"

namespace mox {

namespace {

struct alignas(16) Header {
    Header* prev;
    Header* next;
    size_t size;
};
static_assert(sizeof(Header) % 16 == 0);

Header* first = nullptr;
Header* last = nullptr;
size_t total = 0;

void link(Header* h) {
    h->prev = last;
    h->next = nullptr;
    if (last)
        last->next = h;
    else
        first = h;
    last = h;
}

void unlink(Header* h) {
    if (h->prev)
        h->prev->next = h->next;
    else
        first = h->next;
    if (h->next)
        h->next->prev = h->prev;
    else
        last = h->prev;
}

} // namespace

void* sys_alloc(size_t size) {
    auto* h = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (!h) sys_quit(94, 0);
    h->size = size;
    link(h);
    total += size + sizeof(Header);
    return h + 1;
}

void* sys_alloc_zeroed(size_t size) {
    void* p = sys_alloc(size);
    std::memset(p, 0, size);
    return p;
}

void* sys_realloc(void* p, size_t size) {
    if (!p) return sys_alloc(size);
    Header* h = static_cast<Header*>(p) - 1;
    unlink(h);
    size_t old = h->size;
    auto* n = static_cast<Header*>(std::realloc(h, sizeof(Header) + size));
    if (!n) {
        link(h);
        sys_quit(94, 0);
    }
    n->size = size;
    link(n);
    total = total - old + size;
    return n + 1;
}

void sys_free(void* p) {
    if (!p) return;
    Header* h = static_cast<Header*>(p) - 1;
    unlink(h);
    total -= h->size + sizeof(Header);
    std::free(h);
}

void sys_free_all() {
    while (first) {
        Header* h = first;
        first = h->next;
        std::free(h);
    }
    last = nullptr;
    total = 0;
}

size_t sys_allocated_bytes() { return total; }

} // namespace mox
