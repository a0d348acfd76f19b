// Tests of the cycle stack: push, pop and overflow, the placeholders of
// detect?, unwinding through walkers, and the collector's view of the
// entries.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/collector.h"
#include "core/cycles.h"
#include "core/memory.h"
#include "core/value.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

class Cycles : public test::RuntimeTest {
  protected:
    static void SetUpTestSuite() {
        test::RuntimeTest::SetUpTestSuite();
        cycles::init();
    }
    // The tests push made-up node numbers: no collection may look at them
    // on its own (explicit collections still run).
    void SetUp() override {
        test::RuntimeTest::SetUp();
        cycles::reset();
        hold_.emplace();
    }
    void TearDown() override {
        hold_.reset();
        cycles::reset();
        test::RuntimeTest::TearDown();
    }

  private:
    std::optional<collector::Hold> hold_;
};

TEST_F(Cycles, PushPopFind) {
    cycles::push(10);
    cycles::push(20);
    EXPECT_EQ(cycles::depth(), 2u);
    EXPECT_TRUE(cycles::find(10));
    EXPECT_TRUE(cycles::find(20));
    EXPECT_FALSE(cycles::find(30));
    cycles::pop();
    EXPECT_FALSE(cycles::find(20));
    EXPECT_TRUE(cycles::find(10));
    cycles::pop();
    cycles::pop(); // an empty stack is left alone
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_FALSE(cycles::find(10));
}

TEST_F(Cycles, FillingTheLastEntryEmptiesAndRaisesTooDeep) {
    for (node_t n = 1; n < cycles::CAPACITY; n++) cycles::push(n);
    EXPECT_EQ(cycles::depth(), cycles::CAPACITY - 1);
    EXPECT_TRUE(cycles::find(cycles::CAPACITY - 1));
    EXPECT_MOX_ERROR(err::too_deep, cycles::push(cycles::CAPACITY));
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_FALSE(cycles::find(1));
    // Walkers unwinding after the reset pop what they pushed: the stack
    // stays at the bottom and works as before.
    cycles::pop_n(3);
    cycles::pop();
    EXPECT_EQ(cycles::depth(), 0u);
    cycles::push(77);
    EXPECT_EQ(cycles::depth(), 1u);
    EXPECT_TRUE(cycles::find(77));
}

TEST_F(Cycles, PopNNeverGoesBelowTheBottom) {
    struct Row {
        uint32_t pushed, popped, left;
    } rows[] = {{5, 2, 3}, {5, 5, 0}, {2, 7, 0}, {0, 1, 0}, {3, 0, 3}};
    for (const auto& row : rows) {
        cycles::reset();
        for (uint32_t i = 0; i < row.pushed; i++) cycles::push(100 + i);
        cycles::pop_n(row.popped);
        EXPECT_EQ(cycles::depth(), row.left) << row.pushed << " - " << row.popped;
    }
}

// A walker that nests through Scope until something fails.
void walk(uint32_t level, uint32_t fail_at) {
    cycles::Scope scope(500 + level);
    if (level == fail_at) fire(err::invalid_arg);
    if (level < cycles::CAPACITY * 10) walk(level + 1, fail_at);
}

TEST_F(Cycles, ScopesCutBackWhenAnErrorUnwinds) {
    cycles::push(1);
    EXPECT_MOX_ERROR(err::invalid_arg, walk(0, 40));
    EXPECT_EQ(cycles::depth(), 1u);
    EXPECT_TRUE(cycles::find(1));
    EXPECT_FALSE(cycles::find(500));
    {
        cycles::Scope scope(2);
        EXPECT_EQ(cycles::depth(), 2u);
    }
    EXPECT_EQ(cycles::depth(), 1u);
}

TEST_F(Cycles, ScopesUnwindingAnOverflowLeaveTheStackEmpty) {
    cycles::push(1);
    EXPECT_MOX_ERROR(err::too_deep, walk(0, 5000));
    EXPECT_EQ(cycles::depth(), 0u);
}

std::string appended;
void append_to_test_string(Cell*, const char* text) { appended += text; }

TEST_F(Cycles, DetectWritesThePlaceholderOfTheType) {
    const node_t walked = 4000;
    cycles::push(walked);
    struct Row {
        uint32_t type;
        const char* molded;
    } rows[] = {
        {TYPE_BLOCK, "[...]"},
        {TYPE_HASH, "[...]"},
        {TYPE_PAREN, "(...)"},
        {TYPE_MAP, "#[...]"},
        {TYPE_OBJECT, "make object! [...]"},
        {TYPE_PATH, "..."},
        {TYPE_LIT_PATH, "..."},
        {TYPE_SET_PATH, "..."},
        {TYPE_GET_PATH, "..."},
        {TYPE_STRING, "..."},
        {TYPE_BINARY, "..."},
    };
    for (const auto& row : rows) {
        // An object is found through its context (word 1), anything else
        // through its series node (word 2).
        Cell value =
            row.type == TYPE_OBJECT ? Cell{row.type, walked, 0, 0} : Cell{row.type, 0, walked, 0};
        for (bool mold : {true, false}) {
            appended.clear();
            int32_t part = 100;
            EXPECT_TRUE(cycles::detect_q(&value, nullptr, &part, mold, append_to_test_string));
            const std::string expected = mold ? row.molded : "...";
            EXPECT_EQ(appended, expected) << "type " << row.type;
            EXPECT_EQ(part, 100 - static_cast<int32_t>(expected.size())) << "type " << row.type;
        }
    }
}

TEST_F(Cycles, DetectLeavesValuesNotBeingWalkedAlone) {
    cycles::push(4000);
    const Cell values[] = {
        {TYPE_BLOCK, 4000, 4001, 0},  // the head index is not the node
        {TYPE_OBJECT, 4001, 4000, 0}, // an object's word 2 is not its context
        {TYPE_MAP, 0, 17, 0},
    };
    for (const Cell& value : values) {
        appended.clear();
        int32_t part = 9;
        EXPECT_FALSE(cycles::detect_q(&value, nullptr, &part, true, append_to_test_string));
        EXPECT_EQ(appended, "");
        EXPECT_EQ(part, 9);
    }
}

// The entries are roots: a block reached only from the cycle stack survives
// a collection.
TEST_F(Cycles, EntriesKeepTheirSeriesAlive) {
    bool saved_stress = collector::stress;
    collector::stress = false;
    node_t block = memory::alloc_cells(4);
    make_integer(memory::alloc_tail(block), 4242);
    cycles::push(block);
    collector::do_cycle();
    collector::stress = saved_stress;
    ASSERT_TRUE(cycles::find(block));
    EXPECT_EQ(memory::buffer_of(block)->node, block);
    EXPECT_EQ(get_integer(memory::buffer_of(block)->cells()), 4242);
}

// An entry whose node frame is evacuated is rewritten to the node's new
// slot, the one a root holding the same node receives.
TEST_F(Cycles, EntriesFollowAnEvacuatedNode) {
    bool saved_stress = collector::stress;
    collector::stress = false;
    memory::NodeFrame* frame = memory::new_node_frame(64);
    memory::record.node_current = arena::ref(frame);
    node_t block = memory::alloc_cells(4);
    make_integer(memory::alloc_tail(block), 4242);
    cycles::push(block);
    node_t held = block;
    {
        collector::Root root(&held);
        collector::stress = true; // evacuates every node frame it can
        collector::do_cycle();
        collector::stress = saved_stress;
    }
    ASSERT_NE(held, block);
    EXPECT_TRUE(cycles::find(held));
    EXPECT_FALSE(cycles::find(block));
    EXPECT_EQ(get_integer(memory::buffer_of(held)->cells()), 4242);
}

} // namespace
} // namespace mox
