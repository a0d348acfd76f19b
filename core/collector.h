// The garbage collector: a stop-the-world mark-and-compact collector.
//
// Marking starts from the roots (the root block, the evaluation stacks, the
// registered mark callbacks and the C++ roots below) and follows every
// reference by datatype, with an explicit mark stack so that deep nesting
// costs no native stack. Compaction slides live buffers together inside the
// series frames (and into the free tail of the frame before); nodes keep
// their slots, except that node frames that stayed sparse and unchanged for
// several cycles are evacuated: their nodes move to other frames and every
// reference reached while marking is rewritten to the new slot.
//
// C++ code therefore keeps the values it works on in cells the collector sees
// (the evaluation stack, the root block, a Root below) and re-reads nodes and
// buffers from those cells after anything that may collect.
#pragma once

#include <cstdint>

#include "core/cell.h"

namespace mox::collector {

extern bool active_q; // automatic collections enabled (0 at load)
extern bool in_collection;
extern bool node_compaction; // node-frame evacuation may be planned
extern uint32_t history_depth;

struct Stats {
    int32_t cycles;       // collections run
    int32_t nodes_cycles; // collections that evacuated at least one node frame
};
extern Stats stats;

// Stress mode (environment variable MOX_GC_STRESS=1, or set by tests): every
// buffer allocation collects while collections are enabled, and every
// collection evacuates every node frame it can, so that a pointer or node
// kept across an allocation is caught at once.
extern bool stress;
// MOX_GC_STRESS=N collects at every N-th point instead (the long language
// tables run that way; N=1 is every point), and MOX_GC_STRESS=N:K shifts
// those points by K, so that N runs with K = 0..N-1 between them reach every
// point once.
extern uint32_t stress_period;
extern uint32_t stress_tick;
inline bool stress_due() {
    if (!stress) return false;
    if (++stress_tick < stress_period) return false;
    stress_tick = 0;
    return true;
}

// Set by the memory manager when the heap grew while collections were held.
// Work under a Hold never collects, so a run made mostly of such work (copying
// contexts, raising errors) would grow the heap without bound; the next
// allocation or safe point that may collect runs the collection instead.
extern bool owed;

void init();
int32_t do_cycle();
void collect_if_active();
// A point where every value in use is where the collector sees it: runs the
// collection owed (in stress mode, one every time) when collections are
// enabled. May collect.
inline void safe_point() {
    if (stress_due() || owed) collect_if_active();
}

// Mark callbacks run during marking, in registration order.
using MarkCallback = void (*)();
void register_callback(MarkCallback callback);
void unregister_callback(MarkCallback callback);

// Holds collections off for a scope (work that must not be interrupted).
struct Hold {
    bool saved;
    Hold() : saved(active_q) { active_q = false; }
    ~Hold() { active_q = saved; }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};

// Marking, for mark callbacks and the modules that own structured nodes.
// Each takes the address of the slot holding the node so that a relocated
// node is written back. They return true when the buffer was newly marked.
bool mark_node(node_t* slot);
void mark_block(node_t* slot);
void mark_block_cell(Cell* cell);
void mark_context(node_t* slot);
void mark_values(Cell* first, Cell* end);
// Marks a node whose buffer is a cell series with all its cells, and any
// other buffer alone.
void mark_series_node(node_t* slot);

// A C++ root: keeps a cell (or a bare node) reachable for the life of the
// object and receives the new node when its frame is evacuated. Roots nest
// like the C++ scopes that make them.
class Root {
  public:
    explicit Root(Cell* cell);
    explicit Root(node_t* node);
    ~Root();
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

  private:
    void* slot_;
    bool is_cell_;
};

// The image! module marks an image's store and drops a stale render cache.
extern void (*image_marker)(Cell* image);

// Sweep callbacks run after marking, before compaction (weak tables drop the
// entries whose key was not marked).
using SweepCallback = void (*)();
void register_sweeper(SweepCallback callback);

// Queues a node for return to its frame at the end of the cycle (used by the
// sweeps while a collection runs).
void release_node(node_t node);

// Visits the C++ roots (the collector's marking uses it).
void mark_roots();

} // namespace mox::collector
