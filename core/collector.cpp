// The garbage collector (see collector.h): node-frame evacuation planning,
// marking with an explicit mark stack, series-frame compaction and the
// return of freed nodes to their frames.
#include "core/collector.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/externals.h"
#include "core/hashtable.h"
#include "core/memory.h"
#include "core/poison.h"
#include "core/root.h"
#include "core/stack.h"
#include "core/value-pool.h"

namespace mox::collector {

using arena::ref32;
using memory::NodeFrame;
using memory::SeriesBuffer;
using memory::SeriesFrame;

bool active_q = false;
bool in_collection = false;
bool node_compaction = true;
uint32_t history_depth = 5;
Stats stats{0, 0};
bool stress = false;
uint32_t stress_period = 1;
uint32_t stress_tick = 0;
bool owed = false;

namespace {

// The collector's own tables live in ordinary heap memory, never in the
// series frames, so that a cycle never triggers another.
std::vector<MarkCallback>* callbacks;
std::vector<node_t>* mark_stack;  // nodes of cell buffers still to scan
std::vector<node_t>* freed_nodes; // returned to their frames in batches
std::vector<ref32>* node_index;   // node frames sorted by address

struct RootSlot {
    void* slot;
    bool is_cell;
};
std::vector<RootSlot>* roots;

constexpr size_t FREED_BATCH = 20000;

// The node a slot refers to, rewritten when its frame was evacuated: an
// evacuated node's buffer already names the new slot.
inline SeriesBuffer* follow(node_t* slot) {
    node_t n = *slot;
    SeriesBuffer* b = memory::buffer_of(n);
    if (b->node != n && b->node) *slot = b->node;
    return b;
}

void drain() {
    while (!mark_stack->empty()) {
        node_t n = mark_stack->back();
        mark_stack->pop_back();
        SeriesBuffer* b = memory::buffer_of(n);
        mark_values(b->cells(), b->cells_tail());
    }
}

// ---------------------------------------------------------------------------
// Node-frame evacuation
// ---------------------------------------------------------------------------

NodeFrame* first_frame_with_room(NodeFrame* except) {
    for (ref32 f = memory::record.node_first; f; f = arena::at<NodeFrame>(f)->next) {
        auto* frame = arena::at<NodeFrame>(f);
        if (frame != except && frame->free_head && !frame->evacuated) return frame;
    }
    return nullptr;
}

inline bool slot_in_frame(NodeFrame* frame, ref32 value) {
    ref32 lo = arena::ref(frame->slots());
    return value >= lo && value < lo + frame->capacity * 4;
}

// Moves every used slot of the frame to a free slot of another frame and
// points each buffer's node word at its new slot. Marking then rewrites every
// reference it meets (follow above).
void evacuate(NodeFrame* frame) {
    uint32_t* slots = frame->slots();
    for (uint32_t i = 0; i < frame->capacity; i++) {
        ref32 content = slots[i];
        if (!content || slot_in_frame(frame, content)) continue; // a free slot
        NodeFrame* target = arena::at<NodeFrame>(memory::record.node_current);
        if (!target->free_head || target->evacuated || target == frame) {
            target = first_frame_with_room(frame);
            assert(target);
            memory::record.node_current = arena::ref(target);
        }
        node_t fresh = target->free_head;
        target->free_head = *arena::at<uint32_t>(fresh);
        target->used++;
        *arena::at<uint32_t>(fresh) = content;
        arena::at<SeriesBuffer>(content)->node = fresh;
    }
    frame->evacuated = 1;
}

void plan_evacuation() {
    NodeFrame* current = first_frame_with_room(nullptr);
    if (!current) return;
    memory::record.node_current = arena::ref(current);
    uint32_t mask = (1u << (history_depth + 1)) - 1;
    int64_t free = 0;
    for (ref32 f = memory::record.node_first; f; f = arena::at<NodeFrame>(f)->next) {
        auto* frame = arena::at<NodeFrame>(f);
        if (frame->free_head && !frame->evacuated) free += frame->capacity - frame->used;
    }
    bool moved = false;
    for (ref32 f = memory::record.node_last; f; f = arena::at<NodeFrame>(f)->prev) {
        auto* frame = arena::at<NodeFrame>(f);
        if (frame == current || frame->evacuated) continue;
        bool eligible;
        if (stress) {
            int64_t room_elsewhere = free - (frame->capacity - frame->used);
            eligible = frame->used > 0 && room_elsewhere >= frame->used;
        } else {
            eligible = (frame->history & mask) == mask && frame->used < frame->capacity / 2 &&
                       free > memory::NODE_FRAME_SLOTS;
        }
        if (!eligible) continue;
        free -= frame->capacity - frame->used; // its own free slots no longer count
        evacuate(frame);
        free -= frame->used;
        moved = true;
    }
    if (moved) stats.nodes_cycles++;
}

// ---------------------------------------------------------------------------
// Roots
// ---------------------------------------------------------------------------

void mark_external_buffers_roots() {
    // The root block (external) is itself a root: everything in it lives.
    if (type_of(&root) == TYPE_BLOCK) mark_block(&root.data2);
}

void mark_stacks() {
    if (!stack::bottom) return;
    mark_values(stack::bottom, stack::top);
    drain();
    stack::gc_mark_frames();
    drain();
}

// ---------------------------------------------------------------------------
// Compaction
// ---------------------------------------------------------------------------

inline SeriesBuffer* next_buffer(SeriesBuffer* b) {
    return reinterpret_cast<SeriesBuffer*>(b->end() + 4);
}

void release_dead(SeriesBuffer* b) {
    if (b->node) release_node(b->node);
}

// Moves a run of buffers [from, from + length) to dest and fixes each
// buffer's node, head and tail.
void move_run(uint8_t* from, uint32_t length, uint8_t* dest) {
    if (from == dest) return;
    poison::mark_used(dest, length);
    std::memmove(dest, from, length);
    int64_t delta = dest - from;
    uint8_t* p = dest;
    uint8_t* end = dest + length;
    while (p < end) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        b->head = static_cast<ref32>(b->head + delta);
        b->tail = static_cast<ref32>(b->tail + delta);
        *arena::at<ref32>(b->node) = arena::ref(b);
        p = reinterpret_cast<uint8_t*>(next_buffer(b));
    }
}

inline uint32_t frame_free(SeriesFrame* f) { return f->end - f->first_free; }

// The walk over a frame reads each buffer's header to find the next one, so
// the processor cannot run ahead of it; the headers further on are fetched
// while this one is handled.
constexpr ptrdiff_t COMPACT_AHEAD = 2048;

// Slides the live buffers of one frame down over the dead ones; while the
// previous frame has more than FRAME_MIN_FREE bytes free, runs that fit are
// moved into its free tail instead.
void compact_frame(SeriesFrame* frame, SeriesFrame* prev) {
    uint8_t* p = frame->data();
    uint8_t* end = arena::at<uint8_t>(frame->first_free);
    uint8_t* dest = nullptr; // slide destination, set at the first gap
    bool to_prev = prev && frame_free(prev) > memory::FRAME_MIN_FREE;

    while (p < end) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        __builtin_prefetch(p + COMPACT_AHEAD, 1);
        if (!(b->flags & memory::SERIES_MARK)) {
            release_dead(b);
            if (!dest) dest = p;
            p = reinterpret_cast<uint8_t*>(next_buffer(b));
            continue;
        }
        // Gather a run of consecutive live buffers, unmarking them on the
        // way: one pass over their headers instead of two.
        uint8_t* run = p;
        uint32_t prev_room = to_prev ? frame_free(prev) : 0;
        while (p < end) {
            auto* r = reinterpret_cast<SeriesBuffer*>(p);
            __builtin_prefetch(p + COMPACT_AHEAD, 1);
            if (!(r->flags & memory::SERIES_MARK)) break;
            uint8_t* after = reinterpret_cast<uint8_t*>(next_buffer(r));
            if (to_prev && p != run && static_cast<uint32_t>(after - run) > prev_room) break;
            r->flags &= ~memory::SERIES_MARK;
            p = after;
        }
        uint32_t length = static_cast<uint32_t>(p - run);
        if (to_prev && length <= frame_free(prev)) {
            uint8_t* target = arena::at<uint8_t>(prev->first_free);
            move_run(run, length, target);
            prev->first_free += length;
            if (!dest) dest = run;
            to_prev = frame_free(prev) > memory::FRAME_MIN_FREE;
        } else if (dest) {
            move_run(run, length, dest);
            dest += length;
        } else {
            to_prev = false; // no gap before this run: later runs stay in this frame
        }
    }
    if (dest) frame->first_free = arena::ref(dest);
    uint8_t* free_start = arena::at<uint8_t>(frame->first_free);
    poison::mark_free(free_start, static_cast<size_t>(arena::at<uint8_t>(frame->end) - free_start));
}

void compact_series_frames() {
    SeriesFrame* prev = nullptr;
    ref32 f = memory::record.series_first;
    while (f) {
        auto* frame = arena::at<SeriesFrame>(f);
        ref32 next = frame->next;
        compact_frame(frame, prev);
        bool empty = frame->first_free == arena::ref(frame->data());
        if (empty && next && frame != arena::at<SeriesFrame>(memory::record.series_first)) {
            // Unlink and release the emptied frame.
            if (frame->prev)
                arena::at<SeriesFrame>(frame->prev)->next = frame->next;
            else
                memory::record.series_first = frame->next;
            arena::at<SeriesFrame>(next)->prev = frame->prev;
            if (memory::record.series_current == f) memory::record.series_current = 0;
            memory::free_virtual(frame);
        } else {
            prev = frame;
        }
        f = next;
    }
    if (!memory::record.series_current) memory::record.series_current = memory::record.series_first;
}

// ---------------------------------------------------------------------------
// Node frames
// ---------------------------------------------------------------------------

void rebuild_node_index() {
    node_index->clear();
    for (ref32 f = memory::record.node_first; f; f = arena::at<NodeFrame>(f)->next)
        node_index->push_back(f);
    std::sort(node_index->begin(), node_index->end());
}

NodeFrame* frame_of_node(node_t n) {
    auto it = std::upper_bound(node_index->begin(), node_index->end(), n);
    assert(it != node_index->begin());
    return arena::at<NodeFrame>(*(it - 1));
}

// The nodes come in the order their buffers lay in the series frames, which
// is mostly the order they were taken from their node frames: the frame of
// the previous node is tried first, and the search runs only when it fails.
void return_freed_nodes() {
    if (freed_nodes->empty()) return;
    NodeFrame* frame = nullptr;
    ref32 lo = 0, hi = 0;
    for (node_t n : *freed_nodes) {
        if (n < lo || n >= hi) {
            frame = frame_of_node(n);
            lo = arena::ref(frame->slots());
            hi = lo + frame->capacity * 4;
        }
        if (!frame->evacuated) memory::free_node(frame, n);
    }
    freed_nodes->clear();
}

void maintain_node_frames() {
    ref32 f = memory::record.node_first;
    while (f) {
        auto* frame = arena::at<NodeFrame>(f);
        ref32 next = frame->next;
        bool only = memory::record.node_first == f && !next;
        if (!only && (frame->evacuated || frame->used == 0)) {
            if (frame->prev)
                arena::at<NodeFrame>(frame->prev)->next = frame->next;
            else
                memory::record.node_first = frame->next;
            if (frame->next)
                arena::at<NodeFrame>(frame->next)->prev = frame->prev;
            else
                memory::record.node_last = frame->prev;
            memory::free_virtual(frame);
        } else {
            frame->history <<= 1;
            if (frame->used == frame->prev_used) frame->history |= 1;
            frame->prev_used = frame->used;
        }
        f = next;
    }
    memory::record.node_current = 0;
    for (f = memory::record.node_first; f; f = arena::at<NodeFrame>(f)->next) {
        if (arena::at<NodeFrame>(f)->free_head) {
            memory::record.node_current = f;
            break;
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Public interface
// ---------------------------------------------------------------------------

void init() {
    if (!callbacks) {
        callbacks = new std::vector<MarkCallback>();
        mark_stack = new std::vector<node_t>();
        freed_nodes = new std::vector<node_t>();
        node_index = new std::vector<ref32>();
        roots = new std::vector<RootSlot>();
    }
    stats = Stats{0, 0};
    history_depth = 5;
    const char* env = std::getenv("MOX_GC_STRESS");
    if (env && *env && *env != '0') {
        stress = true;
        char* rest = nullptr;
        long period = std::strtol(env, &rest, 10);
        stress_period = period > 1 ? static_cast<uint32_t>(period) : 1;
        // The shift counts the first K points as already passed.
        long shift = *rest == ':' ? std::strtol(rest + 1, nullptr, 10) : 0;
        stress_tick = static_cast<uint32_t>(shift > 0 ? shift % stress_period : 0);
    }
}

void register_callback(MarkCallback callback) { callbacks->push_back(callback); }

void unregister_callback(MarkCallback callback) {
    for (auto& c : *callbacks) {
        if (c == callback) {
            c = nullptr;
            return;
        }
    }
}

void release_node(node_t node) {
    freed_nodes->push_back(node);
    if (freed_nodes->size() >= FREED_BATCH) return_freed_nodes();
}

bool mark_node(node_t* slot) {
    if (!*slot) return false;
    SeriesBuffer* b = follow(slot);
    if (b->flags & memory::SERIES_MARK) return false;
    b->flags |= memory::SERIES_MARK;
    return true;
}

void mark_block(node_t* slot) {
    if (mark_node(slot)) mark_stack->push_back(*slot);
}

void mark_block_cell(Cell* cell) { mark_block(&cell->data2); }

void mark_context(node_t* slot) { mark_block(slot); }

void mark_series_node(node_t* slot) {
    if (!*slot) return;
    if (mark_node(slot) && memory::buffer_of(*slot)->unit() == 16) mark_stack->push_back(*slot);
}

void mark_values(Cell* first, Cell* end) {
    for (Cell* c = first; c < end; c++) {
        const uint32_t t = type_of(c);
        switch (series_kind(t)) {
        case SeriesKind::cells:
            mark_block(&c->data2);
            if (t == TYPE_HASH) hashtable::gc_mark(&c->data3);
            continue;
        case SeriesKind::text:
            mark_node(&c->data2);
            if (c->data3) mark_node(&c->data3);
            continue;
        case SeriesKind::bytes:
            mark_node(&c->data2);
            if (t == TYPE_IMAGE && image_marker) image_marker(c);
            continue;
        case SeriesKind::none:
            break;
        }
        switch (t) {
        case TYPE_SYMBOL:
            mark_node(&c->data3);
            if (c->data2) mark_node(&c->data2);
            break;
        case TYPE_CONTEXT:
            hashtable::gc_mark(&c->data1);
            if (!(c->header & FLAG_CONTEXT_ON_STACK)) mark_block(&c->data2);
            break;
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
        case TYPE_ISSUE:
            // A context node holds [record owner], so marking it as a block
            // marks the record's tables and the owner alike.
            mark_block(&c->data1);
            break;
        case TYPE_NATIVE:
        case TYPE_ACTION:
            mark_block(&c->data2);
            mark_block(&c->data3);
            break;
        case TYPE_OP: {
            uint32_t source = (c->header >> 16) & 0xFF;
            mark_block(&c->data2);
            mark_block(&c->data3);
            if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) mark_block(&c->data1);
            break;
        }
        case TYPE_FUNCTION:
        case TYPE_ROUTINE:
            mark_block(&c->data1);
            mark_block(&c->data2);
            mark_block(&c->data3);
            break;
        case TYPE_BITSET:
            mark_node(&c->data2);
            break;
        case TYPE_OBJECT:
        case TYPE_ERROR:
        case TYPE_PORT:
            mark_block(&c->data1);
            mark_series_node(&c->data3);
            break;
        case TYPE_MAP:
            mark_block(&c->data2);
            hashtable::gc_mark(&c->data3);
            break;
        case TYPE_HANDLE:
            if (static_cast<int32_t>(c->data3) >= 0) externals::mark(c->data3, 0);
            break;
        case TYPE_EVENT:
            if ((c->header & FLAG_EVENT_BLOCK) && c->data2) mark_block(&c->data2);
            break;
        default:
            break;
        }
    }
}

void (*image_marker)(Cell* image) = nullptr;
std::vector<SweepCallback>* sweepers = nullptr;

void register_sweeper(SweepCallback callback) {
    if (!sweepers) sweepers = new std::vector<SweepCallback>();
    sweepers->push_back(callback);
}

Root::Root(Cell* cell) : slot_(cell), is_cell_(true) { roots->push_back({cell, true}); }
Root::Root(node_t* node) : slot_(node), is_cell_(false) { roots->push_back({node, false}); }
Root::~Root() {
    assert(!roots->empty() && roots->back().slot == slot_);
    roots->pop_back();
}

void mark_roots() {
    for (auto& r : *roots) {
        if (r.is_cell)
            mark_values(static_cast<Cell*>(r.slot), static_cast<Cell*>(r.slot) + 1);
        else
            mark_series_node(static_cast<node_t*>(r.slot));
    }
}

int32_t do_cycle() {
    if (in_collection) return stats.cycles;
    in_collection = true;
    std::atomic_thread_fence(std::memory_order_seq_cst);

    if (node_compaction) plan_evacuation();

    mark_external_buffers_roots();
    drain();
    mark_stacks();
    value_pool::mark();
    drain();
    mark_roots();
    drain();
    for (auto cb : *callbacks) {
        if (cb) {
            cb();
            drain();
        }
    }
    rebuild_node_index();

    externals::sweep();
    if (sweepers)
        for (auto s : *sweepers) s();

    compact_series_frames();
    memory::sweep_big_frames();
    return_freed_nodes();
    maintain_node_frames();
    memory::reserve_after_cycle();

    for (node_t n : memory::external_buffers()) memory::buffer_of(n)->flags &= ~memory::SERIES_MARK;

    stats.cycles++;
    owed = false;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    in_collection = false;
    return stats.cycles;
}

void collect_if_active() {
    if (active_q && !in_collection) do_cycle();
}

} // namespace mox::collector
