// Allocation churn: many small blocks and strings, one in 64 kept alive in a
// ring of 100,000 slots across collections, the rest dropped at once. The
// same work as alloc-churn.lua, so that the two can be timed side by side
// (bench/run-alloc-churn.sh).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/collector.h"
#include "core/memory.h"
#include "core/stack.h"
#include "program/startup.h"

using namespace mox;

int main(int argc, char** argv) {
    long iterations = argc > 1 ? std::atol(argv[1]) : 5000000;
    const uint32_t ring_size = 100000;
    mox::start();

    auto start = std::chrono::steady_clock::now();
    Cell* ring = stack::push_cell();
    make_series(ring, TYPE_BLOCK, memory::alloc_unset_cells(ring_size));
    memory::buffer_of(ring)->tail = memory::buffer_of(ring)->head + ring_size * sizeof(Cell);

    Cell* item = stack::push_cell();
    Cell* text = stack::push_cell();
    char buf[32];
    for (long i = 0; i < iterations; i++) {
        // A string "item<i>" and a block [i "item<i>" none].
        int n = std::snprintf(buf, sizeof buf, "item%ld", i);
        make_series(text, TYPE_STRING, memory::alloc_bytes(static_cast<uint32_t>(n)));
        memory::SeriesBuffer* s = memory::buffer_of(text);
        std::memcpy(s->head_ptr(), buf, n);
        s->tail = s->head + n;
        make_series(item, TYPE_BLOCK, memory::alloc_cells(3));
        make_integer(memory::alloc_tail(item->data2), static_cast<int32_t>(i));
        *memory::alloc_tail(item->data2) = *text;
        make_none(memory::alloc_tail(item->data2));
        if ((i & 63) == 0) memory::buffer_of(ring)->cells()[(i >> 6) % ring_size] = *item;
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("mox: %ld iterations in %.3f s, %d collections\n", iterations, secs,
                collector::stats.cycles);
    return 0;
}
