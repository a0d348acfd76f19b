// The memory manager (see memory.h): frames, buffer allocation, expansion and
// copying, and the memory statistics.
#include "core/memory.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "core/collector.h"
#include "core/poison.h"
#include "core/sys-alloc.h"
#include "core/value.h"

namespace mox::memory {

Record record;

namespace {

inline uint32_t round16(uint64_t n) { return static_cast<uint32_t>((n + 15) & ~uint64_t{15}); }

inline SeriesBuffer* buffer_at(ref32 r) { return arena::at<SeriesBuffer>(r); }

// Bytes a buffer of this data size takes in a series frame.
inline uint32_t room_for(uint32_t size) { return size + BUFFER_OVERHEAD; }

void init_buffer(SeriesBuffer* b, uint32_t size, uint32_t unit, int32_t head_offset,
                 uint32_t extra_flags) {
    b->size = size;
    b->node = 0;
    b->flags = unit | SERIES_USED | extra_flags;
    uint8_t* head;
    if (head_offset == -1) {
        head = b->data() + size / 2;
        b->flags |= SERIES_SHIFTED | SERIES_BASE;
    } else {
        head = b->data() + head_offset;
        b->flags |= SERIES_BASE;
    }
    b->head = b->tail = arena::ref(head);
}

// Size in bytes of a request, refused with no-memory when it cannot be a
// buffer at all.
uint32_t checked_size(uint32_t units, uint32_t unit) {
    uint64_t bytes = uint64_t{units} * unit;
    if (bytes > 0x7FF00000u) fire(err::no_memory);
    return round16(bytes);
}

// A frame made while collections are held puts a collection owed: when held
// work is what fills each frame, the allocations between holds always find
// room in the fresh frame and would never collect.
inline void note_growth() {
    if (!collector::active_q && !collector::in_collection) collector::owed = true;
}

SeriesFrame* frame_with_room(uint32_t room) {
    for (ref32 f = record.series_first; f; f = arena::at<SeriesFrame>(f)->next) {
        auto* frame = arena::at<SeriesFrame>(f);
        if (frame->first_free + room <= frame->end) return frame;
    }
    return nullptr;
}

// Inserts a series frame into the address-ordered list.
void link_series_frame(SeriesFrame* frame) {
    ref32 me = arena::ref(frame);
    ref32 prev = 0, next = record.series_first;
    while (next && next < me) {
        prev = next;
        next = arena::at<SeriesFrame>(next)->next;
    }
    frame->prev = prev;
    frame->next = next;
    if (prev)
        arena::at<SeriesFrame>(prev)->next = me;
    else
        record.series_first = me;
    if (next)
        arena::at<SeriesFrame>(next)->prev = me;
    else
        record.series_last = me;
}

// External buffers are chunks of their own; the chunk's size is kept in the
// word before the buffer, as for frames.
std::vector<node_t>* external_nodes;

void drop_external_buffer(node_t node) {
    auto& list = *external_nodes;
    list.erase(std::remove(list.begin(), list.end(), node), list.end());
}

} // namespace

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

void init() {
    arena::init();
    record = Record{};
    record.series_first_size = SERIES_FRAME_FIRST;
    record.series_next_size = SERIES_FRAME_FIRST;
    record.series_cap = SERIES_FRAME_CAP;
    if (!external_nodes) external_nodes = new std::vector<node_t>();
    external_nodes->clear();
}

void* alloc_virtual(size_t size, bool zero, bool populate) {
    size_t bytes = size + 4;
    void* chunk = arena::alloc_chunk(bytes, zero, populate);
    if (!chunk) fire(err::no_memory);
    size_t page = 4096;
    bytes = (bytes + page - 1) & ~(page - 1);
    poison::mark_used(chunk, bytes);
    *static_cast<uint32_t*>(chunk) = static_cast<uint32_t>(bytes);
    record.total += bytes;
    return static_cast<uint8_t*>(chunk) + 4;
}

void free_virtual(void* frame) {
    uint8_t* chunk = static_cast<uint8_t*>(frame) - 4;
    uint32_t bytes = *reinterpret_cast<uint32_t*>(chunk);
    record.total -= bytes;
    // Stress mode gives the pages back at once, so that a pointer kept into
    // a released frame faults instead of reading pages kept for reuse.
    arena::free_chunk(chunk, bytes, !collector::stress);
    if (!collector::in_collection) arena::trim();
}

// Node and series frames are filled from their start as soon as they are
// made, and a big buffer is mostly written soon after (a growing series
// copies its contents in at once), so their pages are backed when the
// chunk is made: one system call instead of a fault a page, which under a
// million small allocations was a tenth of the time. A big buffer past
// this size may be room a program fills slowly; its pages come as they
// are first touched.
constexpr uint32_t BIG_POPULATE_LIMIT = 64u << 20;

NodeFrame* new_node_frame(uint32_t slots) {
    auto* frame =
        static_cast<NodeFrame*>(alloc_virtual(sizeof(NodeFrame) + slots * 4u, false, true));
    frame->capacity = slots;
    frame->used = 0;
    frame->cycle = static_cast<uint32_t>(collector::stats.cycles);
    frame->prev_used = 0;
    frame->history = 0;
    frame->evacuated = 0;
    uint32_t* s = frame->slots();
    for (uint32_t i = 0; i + 1 < slots; i++) s[i] = arena::ref(&s[i + 1]);
    s[slots - 1] = 0;
    frame->free_head = arena::ref(s);
    ref32 me = arena::ref(frame);
    frame->next = 0;
    frame->prev = record.node_last;
    if (record.node_last)
        arena::at<NodeFrame>(record.node_last)->next = me;
    else
        record.node_first = me;
    record.node_last = me;
    return frame;
}

node_t alloc_node() {
    auto* frame = record.node_current ? arena::at<NodeFrame>(record.node_current) : nullptr;
    if (!frame || !frame->free_head) {
        frame = nullptr;
        for (ref32 f = record.node_first; f; f = arena::at<NodeFrame>(f)->next) {
            auto* cand = arena::at<NodeFrame>(f);
            if (cand->free_head && !cand->evacuated) {
                frame = cand;
                break;
            }
        }
        if (!frame) frame = new_node_frame(NODE_FRAME_SLOTS);
        record.node_current = arena::ref(frame);
    }
    node_t node = frame->free_head;
    uint32_t* slot = arena::at<uint32_t>(node);
    frame->free_head = *slot;
    *slot = 0;
    frame->used++;
    return node;
}

void free_node(NodeFrame* frame, node_t node) {
    *arena::at<uint32_t>(node) = frame->free_head;
    frame->free_head = node;
    frame->used--;
}

SeriesFrame* new_series_frame() {
    uint32_t size = record.series_next_size;
    auto* frame = static_cast<SeriesFrame*>(alloc_virtual(size + sizeof(SeriesFrame), false, true));
    frame->size = size + sizeof(SeriesFrame);
    frame->first_free = arena::ref(frame->data());
    frame->end = frame->first_free + size;
    poison::mark_free(frame->data(), size);
    link_series_frame(frame);
    if (record.series_next_size < record.series_cap) {
        record.series_next_size = std::min(record.series_next_size * 2, record.series_cap);
    }
    return frame;
}

// After a collection the series frames keep at least as many free bytes as
// the survivors use, big buffers included, adding frames when they do not:
// the next collection is then at least the live size of allocation away, so
// a heap that keeps growing costs a bounded number of collections per byte
// instead of one full mark of everything live every frame's worth of
// allocation. (A million-value block lives in one big buffer; counting only
// the frames, its small strings would be re-marked every few megabytes.)
// The share counted for big buffers is capped, so that a few huge binaries
// do not reserve as much again of the 4 GiB reference space.
//
// Big buffers follow the same rule: they bring a collection on only once
// the big frames made since the last one reach the bytes in use after it.
// Growing a large block or table by doubling then costs a bounded number of
// collections instead of one per step.
namespace {
constexpr uint64_t BIG_RESERVE_CAP = 64u << 20;
uint64_t big_since_cycle = 0;
uint64_t live_after_cycle = 0;
} // namespace

void reserve_after_cycle() {
    uint64_t used = 0, free = 0;
    for (ref32 f = record.series_first; f; f = arena::at<SeriesFrame>(f)->next) {
        auto* frame = arena::at<SeriesFrame>(f);
        used += frame->first_free - arena::ref(frame->data());
        free += frame->end - frame->first_free;
    }
    uint64_t big = 0;
    for (ref32 f = record.big_first; f; f = arena::at<BigFrame>(f)->next)
        big += arena::at<BigFrame>(f)->size;
    live_after_cycle = used + big;
    big_since_cycle = 0;
    uint64_t want = used + std::min<uint64_t>(big, BIG_RESERVE_CAP);
    while (free < want) {
        SeriesFrame* frame = new_series_frame();
        free += frame->end - frame->first_free;
    }
    // The frames and big buffers the cycle released were kept committed for
    // the work up to the next cycle, which asks for about as much again.
    arena::trim();
}

BigFrame* new_big_frame(uint32_t size) {
    // Like a buffer carved from a series frame, a big buffer's data holds
    // whatever it held until its owner writes it: no zero fill.
    auto* frame = static_cast<BigFrame*>(
        alloc_virtual(size + sizeof(BigFrame), false, size <= BIG_POPULATE_LIMIT));
    frame->size = size + sizeof(BigFrame);
    frame->unused = 0;
    frame->next = record.big_first;
    record.big_first = arena::ref(frame);
    return frame;
}

void free_big_frame(SeriesBuffer* buffer) {
    BigFrame* target = reinterpret_cast<BigFrame*>(buffer) - 1;
    ref32 me = arena::ref(target);
    ref32* link = &record.big_first;
    while (*link && *link != me) link = &arena::at<BigFrame>(*link)->next;
    assert(*link == me);
    *link = target->next;
    free_virtual(target);
}

void sweep_big_frames() {
    ref32* link = &record.big_first;
    while (*link) {
        auto* frame = arena::at<BigFrame>(*link);
        SeriesBuffer* b = frame->buffer();
        if (b->flags & SERIES_MARK) {
            b->flags &= ~SERIES_MARK;
            link = &frame->next;
            continue;
        }
        if (b->node) collector::release_node(b->node);
        *link = frame->next;
        free_virtual(frame);
    }
}

// ---------------------------------------------------------------------------
// Buffers
// ---------------------------------------------------------------------------

SeriesBuffer* alloc_buffer(uint32_t units, uint32_t unit, int32_t head_offset) {
    assert(unit >= 1 && unit <= 16);
    uint32_t size = checked_size(units, unit);
    uint32_t room = room_for(size);
    collector::safe_point();

    if (room >= record.series_cap) {
        if (!collector::stress && big_since_cycle + room > live_after_cycle)
            collector::collect_if_active();
        BigFrame* frame = new_big_frame(room);
        big_since_cycle += room;
        if (big_since_cycle > live_after_cycle) note_growth();
        SeriesBuffer* b = frame->buffer();
        init_buffer(b, size, unit, head_offset, SERIES_BIG);
        return b;
    }

    auto* frame = record.series_current ? arena::at<SeriesFrame>(record.series_current) : nullptr;
    if (!frame || frame->first_free + room > frame->end) {
        frame = frame_with_room(room);
        if (!frame) {
            if (collector::active_q && !collector::in_collection) {
                collector::do_cycle();
                frame = frame_with_room(room);
            }
            if (!frame || frame->end - frame->first_free < FRAME_MIN_FREE) {
                if (room >= record.series_next_size) record.series_next_size = record.series_cap;
                frame = new_series_frame();
                note_growth();
            }
        }
        record.series_current = arena::ref(frame);
    }
    auto* b = buffer_at(frame->first_free);
    frame->first_free += room;
    poison::mark_used(b, room);
    init_buffer(b, size, unit, head_offset, 0);
    // The trailing word keeps buffers apart; zero it so the frame walk never
    // reads stale bytes as a header.
    *reinterpret_cast<uint32_t*>(b->end()) = 0;
    return b;
}

node_t alloc_series(uint32_t units, uint32_t unit, int32_t head_offset) {
    SeriesBuffer* b = alloc_buffer(units, unit, head_offset);
    // A collection cannot run between here and the link: alloc_node takes
    // memory for node frames only.
    node_t node = alloc_node();
    *arena::at<ref32>(node) = arena::ref(b);
    b->node = node;
    return node;
}

node_t alloc_external_buffer(uint32_t units, uint32_t unit, int32_t head_offset) {
    uint32_t size = checked_size(units, unit);
    auto* b = static_cast<SeriesBuffer*>(alloc_virtual(sizeof(SeriesBuffer) + size + 4));
    init_buffer(b, size, unit, head_offset, SERIES_EXTERNAL);
    node_t node = alloc_node();
    *arena::at<ref32>(node) = arena::ref(b);
    b->node = node;
    external_nodes->push_back(node);
    return node;
}

const std::vector<node_t>& external_buffers() { return *external_nodes; }

node_t alloc_cells(uint32_t cells) { return alloc_series(cells, 16, 0); }

node_t alloc_unset_cells(uint32_t cells) {
    node_t node = alloc_series(cells, 16, 0);
    SeriesBuffer* b = buffer_of(node);
    auto* c = reinterpret_cast<Cell*>(b->data());
    for (uint32_t i = 0; i < b->size / 16; i++) make_unset(&c[i]);
    return node;
}

node_t alloc_bytes(uint32_t bytes) { return alloc_series(bytes ? bytes : 16, 1, 0); }

node_t alloc_units(uint32_t units, uint32_t unit) {
    return alloc_series(units ? units : 16 / unit, unit, 0);
}

node_t alloc_bytes_filled(uint32_t bytes, uint8_t fill_byte) {
    node_t node = alloc_bytes(bytes);
    SeriesBuffer* b = buffer_of(node);
    std::memset(b->data(), fill_byte, b->size);
    return node;
}

void set_series_flags(node_t node, uint32_t bits) { buffer_of(node)->flags |= bits; }

namespace {

// Replaces a buffer by a fresh one of new_size bytes; with copy, the old data
// from the old head follows, cut to what the new buffer holds.
SeriesBuffer* expand(SeriesBuffer* buffer, uint32_t new_size, bool copy, bool release_old = false) {
    // Doubling an empty buffer gives it room for one cell.
    if (new_size == 0) new_size = buffer->size ? buffer->size * 2 : 16;
    if (static_cast<int32_t>(new_size) < 1) fire(err::no_memory);
    node_t node = buffer->node;
    collector::Root keep(&node);
    uint32_t unit = buffer->unit();
    SeriesBuffer* fresh = alloc_buffer((new_size + unit - 1) / unit, unit, 0);
    buffer = buffer_of(node); // the allocation may have moved it

    uint32_t dropped = SERIES_BIG | SERIES_EXTERNAL | SERIES_SHIFTED | SERIES_MARK;
    fresh->flags = (buffer->flags & ~dropped) | (fresh->flags & SERIES_BIG) | SERIES_BASE;
    fresh->node = node;
    *arena::at<ref32>(node) = arena::ref(fresh);
    uint32_t used = buffer->tail - buffer->head;
    fresh->tail = fresh->head + std::min(used, fresh->size);
    if (copy) {
        uint32_t from_head = static_cast<uint32_t>(buffer->end() - buffer->head_ptr());
        std::memcpy(fresh->head_ptr(), buffer->head_ptr(), std::min(from_head, fresh->size));
    }
    buffer->node = 0;
    buffer->flags &= ~SERIES_USED;
    if (buffer->flags & SERIES_EXTERNAL) {
        drop_external_buffer(node);
        free_virtual(buffer);
    } else if (!(buffer->flags & SERIES_BIG)) {
        poison::mark_free(buffer->data(), buffer->size); // dead until compaction
    } else if (release_old) {
        // Growing a large series by doubling leaves a dead big buffer at
        // each step; given back now, its pages serve the next request and
        // it no longer counts toward the next collection.
        uint64_t bytes = (reinterpret_cast<BigFrame*>(buffer) - 1)->size;
        free_big_frame(buffer);
        big_since_cycle -= std::min(big_since_cycle, bytes);
    }
    return fresh;
}

} // namespace

SeriesBuffer* expand_buffer(SeriesBuffer* buffer, uint32_t new_size) {
    return expand(buffer, new_size, false);
}

SeriesBuffer* expand_series(SeriesBuffer* buffer, uint32_t new_size) {
    return expand(buffer, new_size, true);
}

SeriesBuffer* expand_series_filled(SeriesBuffer* buffer, uint32_t new_size, uint8_t fill_byte) {
    uint32_t old_size = buffer->size;
    SeriesBuffer* fresh = expand_series(buffer, new_size);
    if (fresh->size > old_size)
        std::memset(fresh->data() + old_size, fill_byte, fresh->size - old_size);
    return fresh;
}

node_t copy_series(SeriesBuffer* buffer) {
    node_t src = buffer->node;
    collector::Root keep(&src);
    uint32_t size = buffer->size;
    node_t node = alloc_bytes(size);
    buffer = buffer_of(src);
    SeriesBuffer* fresh = buffer_of(node);
    uint32_t own = fresh->flags & (SERIES_BIG | SERIES_USED | SERIES_BASE);
    fresh->flags =
        (buffer->flags & ~(SERIES_BIG | SERIES_EXTERNAL | SERIES_MARK | SERIES_SHIFTED)) | own;
    fresh->tail = fresh->head + (buffer->tail - buffer->head);
    if (size) {
        uint32_t from_head = static_cast<uint32_t>(buffer->end() - buffer->head_ptr());
        std::memcpy(fresh->head_ptr(), buffer->head_ptr(), from_head);
    }
    return node;
}

void fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, static_cast<size_t>(end - start));
}

uint8_t* repeat_bytes(uint8_t* buffer, uint32_t n, uint32_t count) {
    uint64_t total = uint64_t{n} * count;
    uint64_t filled = n;
    while (filled * 2 <= total) {
        std::memcpy(buffer + filled, buffer, filled);
        filled *= 2;
    }
    if (filled < total) std::memcpy(buffer + filled, buffer, total - filled);
    return buffer + total;
}

Cell* alloc_tail(node_t node) {
    SeriesBuffer* b = buffer_of(node);
    if (b->tail + sizeof(Cell) > arena::ref(b->end())) {
        collector::Root keep(&node);
        b = expand_series(b, 0);
    }
    Cell* c = b->cells_tail();
    b->tail += sizeof(Cell);
    return make_unset(c);
}

uint8_t* alloc_tail_bytes(node_t node, uint32_t n, bool release_old) {
    SeriesBuffer* b = buffer_of(node);
    if (b->tail + n > arena::ref(b->end())) {
        collector::Root keep(&node);
        uint32_t want = b->size < n ? n * 2 : b->size * 2;
        b = expand(b, want, true, release_old);
    }
    uint8_t* p = b->tail_ptr();
    b->tail += n;
    return p;
}

// ---------------------------------------------------------------------------
// Statistics
// ---------------------------------------------------------------------------

namespace {

void append_number(node_t block, double n) {
    Cell* c = alloc_tail(block);
    if (n <= 2147483647.0)
        make_integer(c, static_cast<int32_t>(n));
    else
        make_float(c, n);
}

// A new block of 8 cells appended to block; returns its node.
node_t append_block(node_t block, bool new_line) {
    node_t inner = alloc_cells(8);
    collector::Root keep(&inner);
    Cell* c = alloc_tail(block);
    make_series(c, TYPE_BLOCK, inner);
    if (new_line) c->header |= FLAG_NEW_LINE;
    return inner;
}

} // namespace

double gather_stats(node_t block, int mode) {
    collector::Hold hold;
    collector::Root keep(&block);
    if (mode <= 1) {
        double bytes = 0;
        for (ref32 f = record.node_first; f; f = arena::at<NodeFrame>(f)->next)
            bytes += arena::at<NodeFrame>(f)->used * 4.0;
        for (ref32 f = record.series_first; f; f = arena::at<SeriesFrame>(f)->next) {
            auto* frame = arena::at<SeriesFrame>(f);
            bytes += frame->first_free - arena::ref(frame->data());
        }
        for (ref32 f = record.big_first; f; f = arena::at<BigFrame>(f)->next)
            bytes += arena::at<BigFrame>(f)->buffer()->size;
        return bytes;
    }

    double total = 0;
    node_t nodes = append_block(block, false);
    collector::Root keep_nodes(&nodes);
    for (ref32 f = record.node_first; f; f = arena::at<NodeFrame>(f)->next) {
        node_t entry = append_block(nodes, true);
        collector::Root keep_entry(&entry);
        auto* frame = arena::at<NodeFrame>(f);
        append_number(entry, frame->capacity - frame->used);
        append_number(entry, frame->used);
        append_number(entry, frame->capacity);
        total += frame->capacity * 4.0 + sizeof(NodeFrame);
    }
    node_t series = append_block(block, false);
    collector::Root keep_series(&series);
    for (ref32 f = record.series_first; f; f = arena::at<SeriesFrame>(f)->next) {
        node_t entry = append_block(series, true);
        collector::Root keep_entry(&entry);
        auto* frame = arena::at<SeriesFrame>(f);
        ref32 data = arena::ref(frame->data());
        append_number(entry, frame->end - frame->first_free);
        append_number(entry, frame->first_free - data);
        append_number(entry, frame->end - data);
        total += frame->size;
    }
    node_t bigs = append_block(block, false);
    collector::Root keep_bigs(&bigs);
    for (ref32 f = record.big_first; f; f = arena::at<BigFrame>(f)->next) {
        auto* frame = arena::at<BigFrame>(f);
        Cell* c = alloc_tail(bigs);
        make_integer(c, static_cast<int32_t>(frame->buffer()->size));
        c->header |= FLAG_NEW_LINE;
        total += frame->size;
    }
    double tracked = static_cast<double>(sys_allocated_bytes());
    append_number(block, total + tracked);
    append_number(block, tracked);
    return total + tracked;
}

} // namespace mox::memory
