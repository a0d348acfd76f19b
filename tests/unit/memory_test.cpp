// The memory manager: buffer layout, frame choice, expansion and copying,
// statistics.
#include <cstring>

#include "core/collector.h"
#include "core/memory.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

using memory::SeriesBuffer;

class MemoryTest : public test::RuntimeTest {};

TEST_F(MemoryTest, ZeroBytesGiveSixteenBytesOfRoom) {
    node_t n = memory::alloc_bytes(0);
    SeriesBuffer* b = memory::buffer_of(n);
    EXPECT_EQ(b->size, 16u);
    EXPECT_EQ(b->head, b->tail);
    EXPECT_EQ(b->unit(), 1u);
    EXPECT_EQ(b->node, n);
    EXPECT_TRUE(b->flags & memory::SERIES_USED);
    EXPECT_TRUE(b->flags & memory::SERIES_BASE);
}

TEST_F(MemoryTest, HeadOffsetMinusOneStartsInTheMiddle) {
    node_t n = memory::alloc_series(64, 1, -1);
    SeriesBuffer* b = memory::buffer_of(n);
    EXPECT_EQ(b->head_ptr(), b->data() + b->size / 2);
    EXPECT_EQ(b->flags & (memory::SERIES_SHIFTED | memory::SERIES_BASE),
              memory::SERIES_SHIFTED | memory::SERIES_BASE);
}

TEST_F(MemoryTest, SizesRoundToSixteenBytes) {
    struct Case {
        uint32_t units, unit, size;
    } cases[] = {{1, 1, 16}, {16, 1, 16}, {17, 1, 32}, {3, 2, 16},
                 {9, 2, 32}, {5, 4, 32},  {1, 16, 16}, {7, 16, 112}};
    for (const Case& c : cases) {
        SeriesBuffer* b = memory::buffer_of(memory::alloc_series(c.units, c.unit, 0));
        EXPECT_EQ(b->size, c.size) << c.units << " x " << c.unit;
        EXPECT_EQ(b->unit(), c.unit);
    }
}

// A buffer whose room (size + 24) reaches the 2 MB cap goes to a big frame
// of its own; one just below fits a series frame.
TEST_F(MemoryTest, BigFrameThreshold) {
    uint32_t just_below = memory::SERIES_FRAME_CAP - 32; // room 2 MB - 8
    SeriesBuffer* small = memory::buffer_of(memory::alloc_bytes(just_below));
    EXPECT_FALSE(small->flags & memory::SERIES_BIG);
    SeriesBuffer* big = memory::buffer_of(memory::alloc_bytes(just_below + 1));
    EXPECT_TRUE(big->flags & memory::SERIES_BIG);
    EXPECT_EQ(big->size, just_below + 16);
}

TEST_F(MemoryTest, OversizedRequestRaisesNoMemory) {
    EXPECT_MOX_ERROR(err::no_memory, memory::alloc_series(0x40000000, 4, 0));
}

TEST_F(MemoryTest, ExpandSeriesKeepsContentAndLength) {
    Cell s;
    make_series(&s, TYPE_BINARY, memory::alloc_bytes(32));
    collector::Root keep(&s);
    SeriesBuffer* b = memory::buffer_of(&s);
    for (int i = 0; i < 20; i++) b->data()[i] = static_cast<uint8_t>(i * 7);
    b->tail = b->head + 20;
    node_t node = s.data2;

    SeriesBuffer* grown = memory::expand_series(b, 0);
    EXPECT_EQ(grown, memory::buffer_of(&s));
    EXPECT_EQ(s.data2, node);
    EXPECT_EQ(grown->size, 64u);
    EXPECT_EQ(grown->used_bytes(), 20u);
    for (int i = 0; i < 20; i++) EXPECT_EQ(grown->head_ptr()[i], static_cast<uint8_t>(i * 7));
}

// Expanding to a size below the old data area copies only what fits.
TEST_F(MemoryTest, ExpandSeriesToSmallerSizeStaysInBounds) {
    Cell s;
    make_series(&s, TYPE_BINARY, memory::alloc_bytes(256));
    collector::Root keep(&s);
    SeriesBuffer* b = memory::buffer_of(&s);
    std::memset(b->data(), 0xAB, 256);
    b->tail = b->head + 200;
    SeriesBuffer* shrunk = memory::expand_series(b, 32);
    EXPECT_EQ(shrunk->size, 32u);
    EXPECT_EQ(shrunk->used_bytes(), 32u);
    EXPECT_EQ(shrunk->head_ptr()[31], 0xAB);
}

TEST_F(MemoryTest, ExpandBelowOneRaisesNoMemory) {
    node_t n = memory::alloc_bytes(16);
    EXPECT_MOX_ERROR(err::no_memory, memory::expand_series(memory::buffer_of(n), 0x80000000u));
}

TEST_F(MemoryTest, ExpandSeriesFilledFillsTheNewBytes) {
    Cell s;
    make_series(&s, TYPE_BINARY, memory::alloc_bytes(16));
    collector::Root keep(&s);
    SeriesBuffer* b = memory::expand_series_filled(memory::buffer_of(&s), 64, 0xFF);
    for (uint32_t i = 16; i < 64; i++) EXPECT_EQ(b->data()[i], 0xFF);
}

TEST_F(MemoryTest, AllocTailGrowsACellSeries) {
    Cell blk;
    make_series(&blk, TYPE_BLOCK, memory::alloc_cells(1));
    collector::Root keep(&blk);
    for (int i = 0; i < 100; i++) make_integer(memory::alloc_tail(blk.data2), i);
    SeriesBuffer* b = memory::buffer_of(&blk);
    ASSERT_EQ(b->used_bytes(), 100 * sizeof(Cell));
    for (int i = 0; i < 100; i++) EXPECT_EQ(get_integer(&b->cells()[i]), i);
}

TEST_F(MemoryTest, AllocTailBytesReservesAtTheTail) {
    Cell s;
    make_series(&s, TYPE_BINARY, memory::alloc_bytes(16));
    collector::Root keep(&s);
    uint8_t* p = memory::alloc_tail_bytes(s.data2, 10);
    std::memset(p, 1, 10);
    p = memory::alloc_tail_bytes(s.data2, 100); // does not fit: expands
    std::memset(p, 2, 100);
    SeriesBuffer* b = memory::buffer_of(&s);
    ASSERT_EQ(b->used_bytes(), 110u);
    EXPECT_EQ(b->head_ptr()[9], 1);
    EXPECT_EQ(b->head_ptr()[10], 2);
    EXPECT_EQ(b->head_ptr()[109], 2);
}

TEST_F(MemoryTest, CopySeriesCopiesFlagsContentAndTail) {
    Cell s;
    make_series(&s, TYPE_STRING, memory::alloc_units(8, 2));
    collector::Root keep(&s);
    SeriesBuffer* b = memory::buffer_of(&s);
    auto* u = reinterpret_cast<uint16_t*>(b->data());
    for (int i = 0; i < 5; i++) u[i] = static_cast<uint16_t>(0x400 + i);
    b->tail = b->head + 10;
    node_t copy = memory::copy_series(b);
    SeriesBuffer* c = memory::buffer_of(copy);
    EXPECT_EQ(c->unit(), 2u);
    EXPECT_EQ(c->used_bytes(), 10u);
    EXPECT_EQ(std::memcmp(c->head_ptr(), memory::buffer_of(&s)->head_ptr(), 10), 0);
    EXPECT_NE(copy, s.data2);
}

TEST_F(MemoryTest, RepeatBytes) {
    uint8_t buf[32] = {1, 2, 3};
    EXPECT_EQ(memory::repeat_bytes(buf, 3, 1), buf + 3); // count 1 copies nothing
    EXPECT_EQ(buf[3], 0);
    EXPECT_EQ(memory::repeat_bytes(buf, 3, 7), buf + 21);
    for (int i = 0; i < 21; i++) EXPECT_EQ(buf[i], i % 3 + 1) << i;
    EXPECT_EQ(buf[21], 0);
}

TEST_F(MemoryTest, StatsReportFramesAndTotals) {
    double in_use = memory::gather_stats(0, 1);
    EXPECT_GT(in_use, 0);

    Cell blk;
    make_series(&blk, TYPE_BLOCK, memory::alloc_cells(8));
    collector::Root keep(&blk);
    double total = memory::gather_stats(blk.data2, 2);
    SeriesBuffer* b = memory::buffer_of(&blk);
    ASSERT_EQ(b->used_bytes(), 5 * sizeof(Cell));
    Cell* c = b->cells();
    EXPECT_EQ(type_of(&c[0]), TYPE_BLOCK); // node frames
    EXPECT_EQ(type_of(&c[1]), TYPE_BLOCK); // series frames
    EXPECT_EQ(type_of(&c[2]), TYPE_BLOCK); // big frames
    EXPECT_EQ(type_of(&c[3]), TYPE_INTEGER);
    EXPECT_EQ(get_integer(&c[3]), static_cast<int32_t>(total));
    EXPECT_EQ(type_of(&c[4]), TYPE_INTEGER);

    // Each node frame entry is [free used capacity] on a new line.
    SeriesBuffer* nodes = memory::buffer_of(c[0].data2);
    ASSERT_GE(nodes->used_bytes(), sizeof(Cell));
    Cell* first = nodes->cells();
    EXPECT_TRUE(first->header & FLAG_NEW_LINE);
    Cell* entry = memory::buffer_of(first->data2)->cells();
    EXPECT_EQ(get_integer(&entry[0]) + get_integer(&entry[1]), get_integer(&entry[2]));
    EXPECT_EQ(get_integer(&entry[2]), static_cast<int32_t>(memory::NODE_FRAME_SLOTS));
}

} // namespace
} // namespace mox
