// The reference space (see arena.h): reservation and the chunk allocator.
#include "core/arena.h"

#include <cassert>
#include <cstring>
#include <map>

#include "core/poison.h"
#include "platform/platform.h"

namespace mox::arena {

uintptr_t base = 0;

namespace {

constexpr bool kWide = sizeof(void*) > 4;
constexpr uint64_t kSpace = 0xFFFF0000ull; // the whole 32-bit range but its last 64 KiB

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

void add_range(std::map<uint64_t, uint64_t>& ranges, uint64_t off, uint64_t bytes) {
    auto next = ranges.lower_bound(off);
    if (next != ranges.end() && off + bytes == next->first) {
        bytes += next->second;
        next = ranges.erase(next);
    }
    if (next != ranges.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == off) {
            prev->second += bytes;
            return;
        }
    }
    ranges.emplace(off, bytes);
}

void give_range(uint64_t off, uint64_t bytes) { add_range(free_ranges, off, bytes); }

// Released chunks whose pages stay committed (offset -> bytes, merged like
// free_ranges). A collection releases frames and big buffers and the work
// after it asks for as much again; taking those pages back saves a system
// call and a page fault for every page. trim() keeps them under half the
// bytes in use plus KEEP_FLOOR, decommitting the excess, highest addresses
// first.
std::map<uint64_t, uint64_t> kept_ranges;
size_t kept_bytes = 0;
constexpr size_t KEEP_FLOOR = 16u << 20;

// The smallest kept range that holds bytes (the lowest of equal ones), cut
// to bytes; nullptr when none does.
void* take_kept(size_t bytes) {
    auto best = kept_ranges.end();
    for (auto it = kept_ranges.begin(); it != kept_ranges.end(); ++it) {
        if (it->second < bytes) continue;
        if (best == kept_ranges.end() || it->second < best->second) best = it;
        if (it->second == bytes) break;
    }
    if (best == kept_ranges.end()) return nullptr;
    uint64_t off = best->first;
    uint64_t rest = best->second - bytes;
    kept_ranges.erase(best);
    if (rest) kept_ranges.emplace(off + bytes, rest);
    kept_bytes -= bytes;
    return reinterpret_cast<void*>(base + off);
}

void trim_kept_to_cap() {
    size_t cap = in_use / 2 + KEEP_FLOOR;
    while (kept_bytes > cap) {
        auto last = std::prev(kept_ranges.end());
        uint64_t cut = std::min<uint64_t>(last->second, round_up(kept_bytes - cap));
        uint64_t off = last->first + last->second - cut;
        if (cut == last->second)
            kept_ranges.erase(last);
        else
            last->second -= cut;
        kept_bytes -= cut;
        platform::decommit(reinterpret_cast<void*>(base + off), cut);
        give_range(off, cut);
    }
}

} // namespace

void init() {
    if (ready) return;
    page = platform::page_size();
    if constexpr (kWide) {
        void* range = platform::reserve(kSpace);
        if (!range) return; // every later chunk request fails: out of memory
        base = reinterpret_cast<uintptr_t>(range);
        bump = page; // reference 0 stays invalid
    }
    ready = true;
}

void* alloc_chunk(size_t bytes, bool zero, bool populate) {
    if (!ready) init();
    bytes = round_up(bytes);
    if constexpr (kWide) {
        if (!base) return nullptr;
        if (void* warm = take_kept(bytes)) {
            in_use += bytes;
            poison::mark_used(warm, bytes);
            if (zero) std::memset(warm, 0, bytes);
            return warm;
        }
        void* p = take_range(bytes);
        if (!p) return nullptr;
        if (!platform::commit(p, bytes)) {
            give_range(reinterpret_cast<uintptr_t>(p) - base, bytes);
            return nullptr;
        }
        if (populate) platform::populate(p, bytes);
        in_use += bytes;
        poison::mark_used(p, bytes); // the pages may have been kept and marked once
        return p;
    } else {
        (void)populate;
        void* p = platform::alloc_virtual(bytes, false);
        if (p) in_use += bytes;
        return p;
    }
}

void free_chunk(void* chunk, size_t bytes, bool keep) {
    bytes = round_up(bytes);
    assert(in_use >= bytes);
    in_use -= bytes;
    if constexpr (kWide) {
        if (keep) {
            poison::mark_free(chunk, bytes);
            add_range(kept_ranges, reinterpret_cast<uintptr_t>(chunk) - base, bytes);
            kept_bytes += bytes;
            return;
        }
        platform::decommit(chunk, bytes);
        give_range(reinterpret_cast<uintptr_t>(chunk) - base, bytes);
    } else {
        platform::free_virtual(chunk, bytes);
    }
}

size_t used() { return in_use; }

size_t kept() { return kept_bytes; }

void trim() {
    if constexpr (kWide) trim_kept_to_cap();
}

} // namespace mox::arena
