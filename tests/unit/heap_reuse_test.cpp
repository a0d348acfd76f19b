// Reuse of released memory: the pages the reference space keeps committed
// after a chunk is released, and the collector's return of freed nodes and
// clearing of marks while it compacts.
#include <cstring>
#include <string>
#include <vector>

#include "core/arena.h"
#include "core/collector.h"
#include "core/memory.h"
#include "core/stack.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

using memory::SeriesBuffer;

class HeapReuseTest : public test::RuntimeTest {};

constexpr size_t kPage = 4096;

bool all_bytes(const uint8_t* p, size_t n, uint8_t value) {
    for (size_t i = 0; i < n; i++)
        if (p[i] != value) return false;
    return true;
}

// A released chunk's pages are kept and handed out again; a chunk asked
// for zero-filled is zero-filled even when made of pages that held data.
TEST_F(HeapReuseTest, ReleasedPagesComeBackZeroFilledOnRequest) {
    if (sizeof(void*) == 4) GTEST_SKIP() << "the 32-bit build keeps no pages";
    const size_t bytes = 5 * kPage;
    auto* p = static_cast<uint8_t*>(arena::alloc_chunk(bytes));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(all_bytes(p, bytes, 0));
    size_t kept = arena::kept();
    std::memset(p, 0xAB, bytes);
    arena::free_chunk(p, bytes);
    EXPECT_EQ(arena::kept(), kept + bytes);

    auto* q = static_cast<uint8_t*>(arena::alloc_chunk(bytes));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(arena::kept(), kept); // taken from the kept pages
    EXPECT_TRUE(all_bytes(q, bytes, 0));
    arena::free_chunk(q, bytes, false); // given back to the system
    EXPECT_EQ(arena::kept(), kept);
}

// The kept pages stay bounded by the bytes in use: releasing far more than
// is in use and trimming leaves at most half the bytes in use plus a 16 MB
// floor, and the chunks carved afterwards (from kept or fresh pages) are
// sound.
TEST_F(HeapReuseTest, KeptPagesAreTrimmedToTheBytesInUse) {
    if (sizeof(void*) == 4) GTEST_SKIP() << "the 32-bit build keeps no pages";
    const size_t chunk = 64 * kPage;
    size_t count = (arena::used() + (48u << 20)) / chunk;
    std::vector<uint8_t*> chunks;
    for (size_t i = 0; i < count; i++) {
        chunks.push_back(static_cast<uint8_t*>(arena::alloc_chunk(chunk, false)));
        ASSERT_NE(chunks.back(), nullptr);
        std::memset(chunks.back(), static_cast<int>(i), chunk);
    }
    size_t used = arena::used();
    for (uint8_t* c : chunks) arena::free_chunk(c, chunk);
    EXPECT_EQ(arena::used(), used - count * chunk);
    arena::trim();
    EXPECT_LE(arena::kept(), arena::used() / 2 + (16u << 20));

    // Both kinds of pages serve again: more than is kept, zero-filled.
    std::vector<uint8_t*> again;
    size_t want = arena::kept() / chunk + 8;
    for (size_t i = 0; i < want; i++) {
        again.push_back(static_cast<uint8_t*>(arena::alloc_chunk(chunk)));
        ASSERT_NE(again.back(), nullptr);
        EXPECT_TRUE(all_bytes(again.back(), chunk, 0)) << "chunk " << i;
        std::memset(again.back(), 0x5A, chunk);
    }
    for (uint8_t* c : again) arena::free_chunk(c, chunk);
    arena::trim();
}

void make_text(Cell* c, const std::string& text) {
    make_series(c, TYPE_STRING, memory::alloc_bytes(static_cast<uint32_t>(text.size())));
    SeriesBuffer* b = memory::buffer_of(c);
    std::memcpy(b->head_ptr(), text.data(), text.size());
    b->tail = b->head + static_cast<uint32_t>(text.size());
}

std::string text_of(const Cell* c) {
    SeriesBuffer* b = memory::buffer_of(c->data2);
    return std::string(reinterpret_cast<char*>(b->head_ptr()), b->used_bytes());
}

// Every node frame's free list holds only its own slots, capacity - used of
// them, with no slot twice.
void expect_node_frames_consistent() {
    for (auto f = memory::record.node_first; f; f = arena::at<memory::NodeFrame>(f)->next) {
        auto* frame = arena::at<memory::NodeFrame>(f);
        arena::ref32 lo = arena::ref(frame->slots());
        arena::ref32 hi = lo + frame->capacity * 4;
        std::vector<bool> seen(frame->capacity, false);
        uint32_t free = 0;
        for (node_t n = frame->free_head; n; n = *arena::at<uint32_t>(n)) {
            ASSERT_TRUE(n >= lo && n < hi) << "a free slot of another frame";
            ASSERT_FALSE(seen[(n - lo) / 4]) << "a slot on the free list twice";
            seen[(n - lo) / 4] = true;
            ASSERT_LE(++free, frame->capacity);
        }
        EXPECT_EQ(free, frame->capacity - frame->used);
    }
}

// No buffer in the series frames or big frames keeps the collector's mark
// after a collection (a kept mark would keep it alive through the next).
void expect_no_marks() {
    for (auto f = memory::record.series_first; f; f = arena::at<memory::SeriesFrame>(f)->next) {
        auto* frame = arena::at<memory::SeriesFrame>(f);
        uint8_t* p = frame->data();
        uint8_t* end = arena::at<uint8_t>(frame->first_free);
        while (p < end) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            ASSERT_FALSE(b->flags & memory::SERIES_MARK);
            p = b->end() + 4;
        }
    }
    for (auto f = memory::record.big_first; f; f = arena::at<memory::BigFrame>(f)->next)
        EXPECT_FALSE(arena::at<memory::BigFrame>(f)->buffer()->flags & memory::SERIES_MARK);
}

uint32_t used_nodes() {
    uint32_t used = 0;
    for (auto f = memory::record.node_first; f; f = arena::at<memory::NodeFrame>(f)->next)
        used += arena::at<memory::NodeFrame>(f)->used;
    return used;
}

// Strings spread over several node frames die in an order unlike the order
// of their nodes (the second round takes the nodes the first freed, which
// come back in reverse): every node goes back to its own frame, the
// survivors keep their text, marks are all cleared, and once they are
// dropped too the node count is back where it started.
TEST_F(HeapReuseTest, FreedNodesGoBackToTheirFramesInAnyOrder) {
    collector::do_cycle();
    uint32_t before = used_nodes();
    const int n = 30000; // three node frames; more than one batch of freed nodes
    Cell* keep = stack::push_cell();
    make_series(keep, TYPE_BLOCK, memory::alloc_cells(n));
    for (int round = 0; round < 3; round++) {
        {
            collector::Hold hold;
            SeriesBuffer* b = memory::buffer_of(keep);
            b->tail = b->head;
            for (int i = 0; i < n; i++) {
                Cell text;
                make_text(&text, "r" + std::to_string(round) + "-" + std::to_string(i));
                Cell* slot = memory::alloc_tail(keep->data2);
                *slot = text;
                // Garbage between the survivors: runs and gaps to compact.
                if (i % 3 == 0) memory::alloc_bytes(24);
            }
            // Drop every other string and a long stretch in the middle.
            b = memory::buffer_of(keep);
            for (int i = 0; i < n; i++) {
                if (i % 2 == 1 || (i > n / 3 && i < n / 2)) make_none(b->cells() + i);
            }
        }
        collector::do_cycle();
        expect_node_frames_consistent();
        expect_no_marks();
        SeriesBuffer* b = memory::buffer_of(keep);
        for (int i = 0; i < n; i += 2) {
            if (i > n / 3 && i < n / 2) continue;
            ASSERT_EQ(text_of(b->cells() + i),
                      "r" + std::to_string(round) + "-" + std::to_string(i));
        }
    }
    stack::pop(1);
    collector::do_cycle();
    expect_node_frames_consistent();
    expect_no_marks();
    EXPECT_EQ(used_nodes(), before);
}

} // namespace
} // namespace mox
