// The reference space (see arena.h): reservation and the chunk allocator.
#include "core/arena.h"

#include <cassert>
#include <map>

#include "platform/platform.h"

namespace mox::arena {

uintptr_t base = 0;

namespace {

constexpr bool kWide = sizeof(void*) > 4;
constexpr uint64_t kSpace = 0xFFFF0000ull;  // the whole 32-bit range but its last 64 KiB

size_t page = 4096;
size_t in_use = 0;
bool ready = false;

// 64-bit build only: the reserved range is handed out from a bump offset;
// released chunks go to a free map (offset -> bytes), merged with their
// neighbours and reused first-fit in address order, so that frames stay
// low and dense.
uint64_t bump = 0;
std::map<uint64_t, uint64_t> free_ranges;

size_t round_up(size_t n) { return (n + page - 1) & ~(page - 1); }

void* take_range(size_t bytes) {
    for (auto it = free_ranges.begin(); it != free_ranges.end(); ++it) {
        if (it->second < bytes) continue;
        uint64_t off = it->first;
        uint64_t rest = it->second - bytes;
        free_ranges.erase(it);
        if (rest) free_ranges.emplace(off + bytes, rest);
        return reinterpret_cast<void*>(base + off);
    }
    if (bump + bytes > kSpace) return nullptr;
    uint64_t off = bump;
    bump += bytes;
    return reinterpret_cast<void*>(base + off);
}

void give_range(uint64_t off, uint64_t bytes) {
    auto next = free_ranges.lower_bound(off);
    if (next != free_ranges.end() && off + bytes == next->first) {
        bytes += next->second;
        next = free_ranges.erase(next);
    }
    if (next != free_ranges.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == off) {
            prev->second += bytes;
            return;
        }
    }
    free_ranges.emplace(off, bytes);
}

}  // namespace

void init() {
    if (ready) return;
    page = platform::page_size();
    if constexpr (kWide) {
        void* range = platform::reserve(kSpace);
        if (!range) return;  // every later chunk request fails: out of memory
        base = reinterpret_cast<uintptr_t>(range);
        bump = page;  // reference 0 stays invalid
    }
    ready = true;
}

void* alloc_chunk(size_t bytes) {
    if (!ready) init();
    bytes = round_up(bytes);
    if constexpr (kWide) {
        if (!base) return nullptr;
        void* p = take_range(bytes);
        if (!p) return nullptr;
        if (!platform::commit(p, bytes)) {
            give_range(reinterpret_cast<uintptr_t>(p) - base, bytes);
            return nullptr;
        }
        in_use += bytes;
        return p;
    } else {
        void* p = platform::alloc_virtual(bytes, false);
        if (p) in_use += bytes;
        return p;
    }
}

void free_chunk(void* chunk, size_t bytes) {
    bytes = round_up(bytes);
    assert(in_use >= bytes);
    in_use -= bytes;
    if constexpr (kWide) {
        platform::decommit(chunk, bytes);
        give_range(reinterpret_cast<uintptr_t>(chunk) - base, bytes);
    } else {
        platform::free_virtual(chunk, bytes);
    }
}

size_t used() { return in_use; }

}  // namespace mox::arena
