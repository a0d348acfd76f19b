// The hash-table engine (see hashtable.h).
#include "core/hashtable.h"

#include "core/collector.h"
#include "core/memory.h"

namespace mox::hashtable {

Record* record_of(node_t table) {
    return reinterpret_cast<Record*>(memory::buffer_of(table)->head_ptr());
}

void gc_mark(node_t* table) {
    if (!*table || !collector::mark_node(table)) return;
    Record* r = record_of(*table);
    collector::mark_node(&r->flags);
    collector::mark_node(&r->buckets);
    if (r->type == KIND_HASH) {
        node_t keys = static_cast<node_t>(r->keys);
        collector::mark_node(&keys);
        r->keys = static_cast<int32_t>(keys);
        if (r->chains && collector::mark_node(&r->chains)) {
            memory::SeriesBuffer* b = memory::buffer_of(r->chains);
            for (auto* c = reinterpret_cast<node_t*>(b->head_ptr());
                 c < reinterpret_cast<node_t*>(b->tail_ptr()); c++)
                if (*c) collector::mark_node(c);
        }
    }
    if (r->type >= KIND_KEYED) collector::mark_node(&r->data);
    else collector::mark_block(&r->data);
}

void sweep_weak(node_t) {}

}  // namespace mox::hashtable
