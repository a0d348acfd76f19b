// The collector: reachability, compaction, node-frame evacuation, roots and
// callbacks, big frames, and the stress mode.
#include <cstring>
#include <vector>

#include "core/collector.h"
#include "core/memory.h"
#include "core/poison.h"
#include "core/stack.h"
#include "program/startup.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

using memory::SeriesBuffer;

class CollectorTest : public test::RuntimeTest {};

// A string of the given text in a fresh byte series, written to the cell.
void make_text(Cell* c, const char* text) {
    size_t n = std::strlen(text);
    make_series(c, TYPE_STRING, memory::alloc_bytes(static_cast<uint32_t>(n)));
    SeriesBuffer* b = memory::buffer_of(c);
    std::memcpy(b->head_ptr(), text, n);
    b->tail = b->head + static_cast<uint32_t>(n);
}

// Appends a new string to the block held in a cell the collector sees.
void append_text(Cell* block, const char* text) {
    Cell t;
    make_text(&t, text);
    collector::Root keep(&t);
    *memory::alloc_tail(block->data2) = t;
}

std::string text_of(const Cell* c) {
    SeriesBuffer* b = memory::buffer_of(c->data2);
    return std::string(reinterpret_cast<char*>(b->head_ptr()), b->used_bytes());
}

uint32_t used_nodes() {
    uint32_t used = 0;
    for (auto f = memory::record.node_first; f; f = arena::at<memory::NodeFrame>(f)->next)
        used += arena::at<memory::NodeFrame>(f)->used;
    return used;
}

TEST_F(CollectorTest, KeepsWhatIsReachableAndFreesTheRest) {
    collector::do_cycle();
    uint32_t before = used_nodes();

    Cell* kept = stack::push_cell();
    make_series(kept, TYPE_BLOCK, memory::alloc_cells(4));
    for (int i = 0; i < 3; i++) append_text(kept, "kept");
    for (int i = 0; i < 500; i++) memory::alloc_bytes(40); // garbage

    collector::do_cycle();
    EXPECT_EQ(used_nodes(), before + 4); // the block and its three strings
    SeriesBuffer* b = memory::buffer_of(kept);
    ASSERT_EQ(b->used_bytes(), 3 * sizeof(Cell));
    for (int i = 0; i < 3; i++) EXPECT_EQ(text_of(&b->cells()[i]), "kept");
}

// Live buffers slide down over dead ones; values keep their node and see
// the same content at the new place.
TEST_F(CollectorTest, CompactionMovesBuffersAndKeepsContent) {
    Cell* blk = stack::push_cell();
    make_series(blk, TYPE_BLOCK, memory::alloc_cells(64));
    collector::do_cycle(); // the block itself is now packed low
    for (int i = 0; i < 64; i++) {
        memory::alloc_bytes(200); // dead space between the live strings
        char text[16];
        std::snprintf(text, sizeof text, "s%d", i);
        append_text(blk, text);
    }
    std::vector<uint32_t> before;
    SeriesBuffer* b = memory::buffer_of(blk);
    for (int i = 0; i < 64; i++) before.push_back(*arena::at<uint32_t>(b->cells()[i].data2));

    collector::do_cycle();
    b = memory::buffer_of(blk);
    int moved = 0;
    for (int i = 0; i < 64; i++) {
        char text[16];
        std::snprintf(text, sizeof text, "s%d", i);
        EXPECT_EQ(text_of(&b->cells()[i]), text);
        if (*arena::at<uint32_t>(b->cells()[i].data2) != before[i]) moved++;
        SeriesBuffer* s = memory::buffer_of(&b->cells()[i]);
        EXPECT_FALSE(s->flags & memory::SERIES_MARK);
    }
    // (In stress mode the garbage is gone before the strings are made.)
    if (!collector::stress) {
        EXPECT_GT(moved, 0);
    }
}

// Marking uses its own stack: a block nested 100,000 deep is no problem.
TEST_F(CollectorTest, DeepNestingNeedsNoNativeStack) {
    Cell* outer = stack::push_cell();
    make_series(outer, TYPE_BLOCK, memory::alloc_cells(1));
    {
        collector::Hold hold; // build it without collecting at every step
        Cell level = *outer;
        for (int i = 0; i < 100000; i++) {
            Cell inner;
            make_series(&inner, TYPE_BLOCK, memory::alloc_cells(1));
            *memory::alloc_tail(level.data2) = inner;
            level = inner;
        }
    }
    collector::do_cycle();
    int depth = 0;
    Cell c = *outer;
    while (memory::buffer_of(&c)->used_bytes()) {
        c = memory::buffer_of(&c)->cells()[0];
        ASSERT_EQ(type_of(&c), TYPE_BLOCK);
        depth++;
    }
    EXPECT_EQ(depth, 100000);
}

TEST_F(CollectorTest, RootKeepsACppLocalAlive) {
    Cell local;
    make_text(&local, "local");
    {
        collector::Root keep(&local);
        for (int i = 0; i < 3; i++) collector::do_cycle();
        EXPECT_EQ(text_of(&local), "local");
    }
    node_t bare = memory::alloc_bytes(16);
    collector::Root keep_bare(&bare);
    collector::do_cycle();
    EXPECT_EQ(memory::buffer_of(bare)->node, bare);
}

Cell callback_cell;
void mark_callback_cell() { collector::mark_values(&callback_cell, &callback_cell + 1); }

TEST_F(CollectorTest, MarkCallbacksKeepTheirValues) {
    make_text(&callback_cell, "from a callback");
    collector::register_callback(&mark_callback_cell);
    collector::do_cycle();
    collector::do_cycle();
    EXPECT_EQ(text_of(&callback_cell), "from a callback");
    collector::unregister_callback(&mark_callback_cell);
    uint32_t before = used_nodes();
    collector::do_cycle();
    EXPECT_EQ(used_nodes(), before - 1);
}

// Bytes of the big frames alone: a collection also adds series frames to
// keep free room in proportion to what survived, big buffers included.
size_t big_frame_bytes() {
    size_t total = 0;
    for (arena::ref32 f = memory::record.big_first; f; f = arena::at<memory::BigFrame>(f)->next)
        total += arena::at<memory::BigFrame>(f)->size;
    return total;
}

TEST_F(CollectorTest, BigFramesAreReleasedWhenUnreachable) {
    collector::do_cycle();
    size_t before = memory::record.total;
    size_t big_before = big_frame_bytes();
    Cell* kept = stack::push_cell();
    make_series(kept, TYPE_BINARY, memory::alloc_bytes(3 * 1024 * 1024));
    memory::alloc_bytes(3 * 1024 * 1024); // dropped at once
    EXPECT_GE(memory::record.total, before + 6 * 1024 * 1024);
    collector::do_cycle();
    EXPECT_LT(big_frame_bytes(), big_before + 4 * 1024 * 1024);
    EXPECT_GE(big_frame_bytes(), big_before + 3 * 1024 * 1024);
    EXPECT_TRUE(memory::buffer_of(kept)->flags & memory::SERIES_BIG);
    EXPECT_FALSE(memory::buffer_of(kept)->flags & memory::SERIES_MARK);
}

// A million small strings kept in one big block must not be re-marked
// every few megabytes of allocation: after a collection the series frames
// keep free room for at least the live big buffers too, so small garbage
// up to that size never brings the next collection on (stress mode aside).
TEST_F(CollectorTest, FreeRoomAfterCollectionCountsLiveBigBuffers) {
    if (collector::stress) GTEST_SKIP() << "stress mode collects at every allocation";
    Cell* kept = stack::push_cell();
    make_series(kept, TYPE_BINARY, memory::alloc_bytes(8 * 1024 * 1024));
    collector::do_cycle();
    size_t free = 0;
    for (arena::ref32 f = memory::record.series_first; f;
         f = arena::at<memory::SeriesFrame>(f)->next) {
        auto* frame = arena::at<memory::SeriesFrame>(f);
        free += frame->end - frame->first_free;
    }
    EXPECT_GE(free, size_t{8 * 1024 * 1024});
    int32_t cycles = collector::stats.cycles;
    for (int i = 0; i < 100000; i++) memory::alloc_bytes(40); // 6.4 MB of garbage
    EXPECT_EQ(collector::stats.cycles, cycles);
    EXPECT_TRUE(memory::buffer_of(kept)->flags & memory::SERIES_BIG);
}

TEST_F(CollectorTest, InactiveCollectorNeverRunsOnItsOwn) {
    int32_t cycles = collector::stats.cycles;
    {
        collector::Hold hold;
        for (int i = 0; i < 20000; i++) memory::alloc_bytes(256); // several frames' worth
        EXPECT_EQ(collector::stats.cycles, cycles);
        collector::do_cycle(); // an explicit collection still runs
        EXPECT_EQ(collector::stats.cycles, cycles + 1);
    }
}

TEST_F(CollectorTest, AllocationTriggersCollectionWhenActive) {
    // Past the free room an earlier collection reserved (it grows with what
    // survived, so it depends on the tests run before this one).
    size_t free = 0;
    for (arena::ref32 f = memory::record.series_first; f;
         f = arena::at<memory::SeriesFrame>(f)->next) {
        auto* frame = arena::at<memory::SeriesFrame>(f);
        free += frame->end - frame->first_free;
    }
    int32_t cycles = collector::stats.cycles;
    for (size_t i = 0; i < free / 256 + 40000; i++) memory::alloc_bytes(256);
    EXPECT_GT(collector::stats.cycles, cycles);
}

// The root block and the stack buffers live outside the frames; their mark
// bits are cleared after each cycle, so the next cycle scans them again.
TEST_F(CollectorTest, ExternalBuffersAreScannedEveryCycle) {
    Cell text;
    make_text(&text, "rooted");
    Cell* in_root = root_append(&text);
    Cell copy = *in_root;
    for (int i = 0; i < 3; i++) {
        collector::do_cycle();
        EXPECT_FALSE(memory::buffer_of(root.data2)->flags & memory::SERIES_MARK);
    }
    EXPECT_EQ(text_of(&copy), "rooted");
}

// Values referring to nodes of a sparse, stable node frame are moved to
// another frame and every reference is rewritten.
TEST_F(CollectorTest, EvacuatedNodeFramesRewriteEveryReference) {
    Cell* blk = stack::push_cell();
    make_series(blk, TYPE_BLOCK, memory::alloc_cells(16));
    // Fill whole node frames so that later frames hold mostly garbage.
    collector::Hold hold;
    for (uint32_t i = 0; i < memory::NODE_FRAME_SLOTS * 3; i++) {
        node_t n = memory::alloc_bytes(16);
        if (i % 2000 == 1999) {
            Cell t;
            make_series(&t, TYPE_STRING, n);
            SeriesBuffer* b = memory::buffer_of(n);
            std::memcpy(b->head_ptr(), "evac", 4);
            b->tail = b->head + 4;
            *memory::alloc_tail(blk->data2) = t;
        }
    }
    int32_t evacuations = collector::stats.nodes_cycles;
    for (int i = 0; i < 10 && collector::stats.nodes_cycles == evacuations; i++) {
        collector::do_cycle();
    }
    EXPECT_GT(collector::stats.nodes_cycles, evacuations);
    SeriesBuffer* b = memory::buffer_of(blk);
    int count = static_cast<int>(b->used_bytes() / sizeof(Cell));
    EXPECT_EQ(count, 15);
    for (int i = 0; i < count; i++) {
        Cell* s = &b->cells()[i];
        EXPECT_EQ(memory::buffer_of(s)->node, s->data2);
        EXPECT_EQ(text_of(s), "evac");
    }
}

// Stress mode collects at every allocation and evacuates eagerly; values
// kept in cells the collector sees stay intact.
TEST_F(CollectorTest, StressModeKeepsRootedValues) {
    bool saved = collector::stress;
    collector::stress = true;
    Cell* blk = stack::push_cell();
    make_series(blk, TYPE_BLOCK, memory::alloc_cells(1));
    for (int i = 0; i < 200; i++) {
        char text[16];
        std::snprintf(text, sizeof text, "v%d", i);
        append_text(blk, text);
        memory::alloc_bytes(64);
    }
    collector::stress = saved;
    SeriesBuffer* b = memory::buffer_of(blk);
    ASSERT_EQ(b->used_bytes(), 200 * sizeof(Cell));
    for (int i = 0; i < 200; i++) {
        char text[16];
        std::snprintf(text, sizeof text, "v%d", i);
        EXPECT_EQ(text_of(&b->cells()[i]), text);
    }
}

#ifdef MOX_ASAN
// In the sanitizer builds the space a collection frees is marked unusable:
// a pointer kept into a buffer the collector moved faults at once.
TEST(CollectorDeathTest, StalePointerIntoAMovedBufferFaults) {
    test::boot();
    EXPECT_DEATH(
        {
            collector::Hold hold;
            memory::alloc_bytes(4000); // garbage before the buffer
            Cell* kept = stack::push_cell();
            make_series(kept, TYPE_BINARY, memory::alloc_bytes(64));
            volatile uint8_t* stale = memory::buffer_of(kept)->head_ptr();
            collector::do_cycle(); // the buffer slides down over the garbage
            (void)*stale;
        },
        "AddressSanitizer");
}
#endif

} // namespace
} // namespace mox
