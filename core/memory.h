// The memory manager: node frames, series frames, big frames and the series
// buffers carved from them.
//
// Every series (block, string, binary, vector, hash-table storage, context
// storage, image pixels) lives in a series buffer, and every value that
// refers to a series holds a node: a 32-bit slot in a node frame whose
// content is the buffer's reference. The collector slides buffers together
// (collector.h), so C++ code never keeps a pointer into a buffer across
// anything that may allocate: it keeps the value in a cell the collector
// sees and re-reads node and buffer from that cell afterwards. Functions
// that may allocate (and so collect, moving buffers and, when node frames are
// evacuated, nodes) say "may collect".
//
// Frames are chunks of the reference space (arena.h). A chunk's first word
// holds its page-rounded size and the frame begins 4 bytes later.
//
//   node frame    header of nine words, then 10,000 node slots; a free slot
//                 holds the reference of the next free slot (0 ends the list)
//   series frame  header of five words, then buffers packed from the lowest
//                 address: each takes its 20-byte header, its data area and
//                 4 further bytes
//   big frame     header of three words, then exactly one buffer of at
//                 least the series frame cap (2 MB)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/arena.h"
#include "core/cell.h"

namespace mox::memory {

using arena::ref32;

// Series buffer flags (first header word).
constexpr uint32_t SERIES_UNIT_MASK = 0x1F;        // unit size in bytes: 1, 2, 4, 8 or 16
constexpr uint32_t SERIES_OWNED = 0x00020000;      // owned through the ownership table
constexpr uint32_t SERIES_UTF16 = 0x00040000;      // loaded from UTF-16 text
constexpr uint32_t SERIES_COMPLEMENT = 0x00080000; // bitset!: complemented set
constexpr uint32_t SERIES_EXTERNAL = 0x00100000;   // outside the frames, never moves
constexpr uint32_t SERIES_BIG = 0x01000000;        // alone in a big frame
constexpr uint32_t SERIES_MARK = 0x08000000;       // collector mark
constexpr uint32_t SERIES_SHIFTED = 0x10000000;    // head started mid-buffer
constexpr uint32_t SERIES_BASE = 0x20000000;       // set on every buffer
constexpr uint32_t SERIES_USED = 0x80000000;       // in use

struct SeriesBuffer {
    uint32_t flags;
    node_t node;   // the node slot that refers to this buffer; 0 once replaced
    uint32_t size; // bytes of the data area, a multiple of 16
    ref32 head;    // first unit in use
    ref32 tail;    // just past the last unit in use

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this) + sizeof(SeriesBuffer); }
    uint8_t* end() { return data() + size; }
    uint8_t* head_ptr() { return arena::at<uint8_t>(head); }
    uint8_t* tail_ptr() { return arena::at<uint8_t>(tail); }
    uint32_t unit() const { return flags & SERIES_UNIT_MASK; }
    uint32_t used_bytes() const { return tail - head; }
    Cell* cells() { return arena::at<Cell>(head); }
    Cell* cells_tail() { return arena::at<Cell>(tail); }
};
static_assert(sizeof(SeriesBuffer) == 20);

struct NodeFrame {
    ref32 next;
    ref32 prev;
    uint32_t capacity; // slots
    ref32 free_head;   // first free slot, 0 when full
    uint32_t used;
    uint32_t cycle;     // collector cycle count when made
    uint32_t prev_used; // used slots at the previous collection
    uint32_t history;   // bit 0 set when used did not change at a collection
    uint32_t evacuated; // all nodes moved out; released at the end of the cycle

    uint32_t* slots() { return reinterpret_cast<uint32_t*>(this + 1); }
};
static_assert(sizeof(NodeFrame) == 36);

struct SeriesFrame {
    ref32 next;
    ref32 prev;
    uint32_t size;    // frame bytes including this header
    ref32 first_free; // where the next buffer starts
    ref32 end;

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
};
static_assert(sizeof(SeriesFrame) == 20);

struct BigFrame {
    ref32 next;
    uint32_t size; // frame bytes including this header
    uint32_t unused;

    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigFrame) == 12);

constexpr uint32_t NODE_FRAME_SLOTS = 10000;
constexpr uint32_t SERIES_FRAME_FIRST = 1048576;
constexpr uint32_t SERIES_FRAME_CAP = 2097152; // also the big-buffer threshold
constexpr uint32_t FRAME_MIN_FREE = 52428;     // 0xCCCC
constexpr uint32_t BUFFER_OVERHEAD = sizeof(SeriesBuffer) + 4;

// The memory record: one per process.
struct Record {
    size_t total; // bytes of all frame chunks
    ref32 node_first, node_last, node_current;
    ref32 series_first, series_current, series_last; // series frames in address order
    uint32_t series_first_size, series_next_size, series_cap;
    ref32 big_first;
};
extern Record record;

// ---------------------------------------------------------------------------
// Reaching buffers
// ---------------------------------------------------------------------------

inline SeriesBuffer* buffer_of(node_t node) {
    return arena::at<SeriesBuffer>(*arena::at<ref32>(node));
}
// The buffer of a series value (data2 holds its node).
inline SeriesBuffer* buffer_of(const Cell* value) { return buffer_of(value->data2); }

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

void init();
// A chunk of at least size + 4 bytes (page-rounded); returns the frame start.
// Zero-filled unless zero is false (node and series frames set every byte
// they read). With populate its fresh pages are backed at once (see
// platform::populate). Raises internal error no-memory when the system
// refuses.
void* alloc_virtual(size_t size, bool zero = true, bool populate = false);
void free_virtual(void* frame);

NodeFrame* new_node_frame(uint32_t slots);
node_t alloc_node();
void free_node(NodeFrame* frame, node_t node);
SeriesFrame* new_series_frame();
// Called at the end of a collection: see memory.cpp.
void reserve_after_cycle();
BigFrame* new_big_frame(uint32_t size);
void free_big_frame(SeriesBuffer* buffer);
// After marking: unmarked big buffers give their node back and their frame
// is released; marked ones are unmarked.
void sweep_big_frames();

// ---------------------------------------------------------------------------
// Buffers (all may collect)
// ---------------------------------------------------------------------------

// head_offset -1 starts the head in the middle of the data area.
SeriesBuffer* alloc_buffer(uint32_t units, uint32_t unit, int32_t head_offset);
node_t alloc_series(uint32_t units, uint32_t unit, int32_t head_offset);
// A buffer that never moves: outside the series frames, not reclaimed.
node_t alloc_external_buffer(uint32_t units, uint32_t unit, int32_t head_offset);
// The nodes of the external buffers in use (the collector clears their marks).
const std::vector<node_t>& external_buffers();
node_t alloc_cells(uint32_t cells);
node_t alloc_unset_cells(uint32_t cells);
node_t alloc_bytes(uint32_t bytes); // 0 gives 16 bytes of room
node_t alloc_units(uint32_t units, uint32_t unit);
node_t alloc_bytes_filled(uint32_t bytes, uint8_t fill);

void set_series_flags(node_t node, uint32_t bits);

// Replaces the buffer by a new one of new_size bytes (0 doubles it; below 1
// raises no-memory) and points the node at it; the old buffer loses its node
// and is reclaimed by the next collection. expand_buffer copies nothing;
// expand_series copies the data (no more than the new buffer holds);
// expand_series_filled also fills the bytes beyond the old size.
SeriesBuffer* expand_buffer(SeriesBuffer* buffer, uint32_t new_size);
SeriesBuffer* expand_series(SeriesBuffer* buffer, uint32_t new_size);
SeriesBuffer* expand_series_filled(SeriesBuffer* buffer, uint32_t new_size, uint8_t fill);
// A new byte series of the same size with flags, content and tail offset.
node_t copy_series(SeriesBuffer* buffer);

void fill(uint8_t* start, uint8_t* end, uint8_t byte);
// Repeats the first n bytes until n x count bytes are filled; returns the end.
uint8_t* repeat_bytes(uint8_t* buffer, uint32_t n, uint32_t count);

// Reserves one cell at the tail (expanding the buffer when full), sets it to
// unset! and returns it. May collect.
Cell* alloc_tail(node_t node);
// Reserves n bytes at the tail and returns where they start. May collect.
// With release_old, a big buffer the series outgrows is given back at once
// instead of at the next collection: only for series no pointer reaches
// into across the call (the caller writes the new bytes from elsewhere).
uint8_t* alloc_tail_bytes(node_t node, uint32_t n, bool release_old = false);

// ---------------------------------------------------------------------------
// Statistics
// ---------------------------------------------------------------------------

// Mode 1: the bytes in use. Mode 2 or more: also fills the block with the
// per-frame statistics and the totals. Collection is held off meanwhile.
double gather_stats(node_t block, int mode);

} // namespace mox::memory
