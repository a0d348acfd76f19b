// Work done while collections are held (raising an error, copying or making
// an object's context) must still be collected when it is all a run does:
// the heap stays near its size however many times the work repeats, and a
// collection gives back everything the work left behind.
#include <algorithm>
#include <cstdint>
#include <string>

#include "core/collector.h"
#include "core/memory.h"
#include "core/value.h"
#include "objects_fixture.h"

namespace mox {
namespace {

// Each case below, without the collections it owes, grows the heap by well
// over this: 50,000 errors take about 85 MB, 50,000 object contexts 20 MB.
constexpr int64_t kGrowthBound = int64_t{8} << 20;
constexpr int kRepeats = 50000;

int64_t growth_since(size_t heap) {
    return static_cast<int64_t>(memory::record.total) - static_cast<int64_t>(heap);
}

class HeapGrowthTest : public test::RuntimeTest {
  protected:
    // The schedule of ordinary runs is what is measured: stress mode would
    // collect at every step.
    void SetUp() override {
        RuntimeTest::SetUp();
        saved_stress_ = collector::stress;
        collector::stress = false;
        collector::do_cycle();
        heap_before_ = memory::record.total;
        used_before_ = memory::gather_stats(0, 1);
    }
    void TearDown() override {
        collector::stress = saved_stress_;
        RuntimeTest::TearDown();
    }

    // The heap grew by less than the bound, and a collection brings the bytes
    // in use back to about where they were.
    void expect_bounded(const std::string& what) {
        EXPECT_LT(growth_since(heap_before_), kGrowthBound) << what;
        collector::do_cycle();
        EXPECT_LT(memory::gather_stats(0, 1) - used_before_, 64.0 * 1024) << what;
    }

  private:
    bool saved_stress_ = false;
    size_t heap_before_ = 0;
    double used_before_ = 0;
};

TEST_F(HeapGrowthTest, RaisingUnderATryFrame) {
    for (int i = 0; i < kRepeats; i++)
        ASSERT_EQ(test::run_catching([] { fire(err::invalid); }), err::invalid);
    expect_bounded("fire");
}

// A raise may collect before it builds the error: arguments only a C++ cell
// refers to must outlive it (stress mode collects at every such point).
TEST_F(HeapGrowthTest, ArgumentsOutliveTheCollectionOfARaise) {
    collector::stress = true;
    for (int i = 0; i < 100; i++) {
        Cell* top = stack::top;
        test::Raised r = test::raised_by([] {
            Cell* made = string::push_new(40);
            string::concatenate_literal(made, "kept");
            Cell text = *made;
            stack::pop(1);
            fire(err::invalid_arg, &text);
        });
        ASSERT_EQ(r.code, err::invalid_arg);
        ASSERT_EQ(test::formed(error::field(r.error, error::FIELD_ARG1)), "kept");
        stack::top = top;
    }
}

// The same work done by Mox code: each loop's body is the whole run.
TEST_F(HeapGrowthTest, LoopsOfHeldWork) {
    const std::string n = std::to_string(kRepeats);
    const char* const bodies[] = {
        "[try [1 / 0]]",
        "[try [make error! \"x\"]]",
        "[make object! [a: 1]]",
        "[copy o]",
        "[catch [throw make object! [a: 1]]]",
        "[while [true] [break/return make object! [a: 1]]]",
    };
    EXPECT_MOX_OK(test::eval_text("o: make object! [a: 1 b: 2]"));
    for (const char* body : bodies) {
        collector::do_cycle();
        const size_t heap = memory::record.total;
        Cell* top = stack::top;
        EXPECT_MOX_OK(test::eval_text("loop " + n + " " + body)) << body;
        stack::top = top;
        EXPECT_LT(growth_since(heap), kGrowthBound) << body;
    }
    EXPECT_MOX_OK(test::eval_text("o: none"));
    expect_bounded("loops");
}

// A large block filled by doubling, rebuilt round after round so that the
// previous round's block is the only garbage (a table refilled under one
// word). The buffers each doubling leaves behind must be collected as the
// rounds go, without a collection for every cell: the heap stays within a
// few copies of the block, and a collection gives it all back.
TEST_F(HeapGrowthTest, RebuildingALargeBlock) {
    constexpr int kRounds = 8;
    constexpr uint32_t kCells = 1u << 21; // 32 MB of cells
    constexpr size_t kBlockBytes = size_t{kCells} * sizeof(Cell);
    collector::do_cycle();
    const int32_t cycles_before = collector::stats.cycles;
    const size_t heap = memory::record.total;
    size_t peak = heap;
    Cell* blk = stack::push_cell();
    for (int round = 0; round < kRounds; round++) {
        make_series(blk, TYPE_BLOCK, memory::alloc_cells(1));
        for (uint32_t i = 0; i < kCells; i++) {
            make_integer(memory::alloc_tail(blk->data2), static_cast<int32_t>(i));
            peak = std::max(peak, memory::record.total);
        }
        ASSERT_EQ(memory::buffer_of(blk)->used_bytes(), kBlockBytes);
    }
    stack::pop(1);
    const int32_t cycles = collector::stats.cycles - cycles_before;
    EXPECT_GE(cycles, kRounds / 2);
    EXPECT_LE(cycles, 8 * kRounds);
    EXPECT_LT(peak - heap, 5 * kBlockBytes);
    collector::do_cycle();
    EXPECT_LT(growth_since(heap), static_cast<int64_t>(kBlockBytes / 4));
}

// A big buffer grown a little at a time: every step leaves a copy of nearly
// the whole buffer behind, so each step must count toward the next
// collection, or the copies pile up uncollected.
TEST_F(HeapGrowthTest, GrowingABigBufferInSmallSteps) {
    constexpr uint32_t kStart = 4u << 20;
    constexpr uint32_t kStep = 64u << 10;
    constexpr int kSteps = 200; // about 1.4 GB of copies left behind
    collector::do_cycle();
    const size_t heap = memory::record.total;
    size_t peak = heap;
    Cell* bin = stack::push_cell();
    make_series(bin, TYPE_BINARY, memory::alloc_bytes(kStart));
    for (int i = 1; i <= kSteps; i++) {
        memory::expand_series(memory::buffer_of(bin), kStart + i * kStep);
        peak = std::max(peak, memory::record.total);
    }
    EXPECT_EQ(memory::buffer_of(bin)->size, kStart + kSteps * kStep);
    stack::pop(1);
    EXPECT_LT(peak - heap, size_t{128} << 20);
}

} // namespace
} // namespace mox
