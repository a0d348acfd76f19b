// The ownership table: binding walks nested blocks without recursion (so
// depth is no danger), keeps the first owner, forgets records whose owner
// died, and follows the collector when it moves nodes. The handler calls
// themselves are covered by tests/mox/ownership.mox.
#include "core/collector.h"
#include "core/context.h"
#include "core/memory.h"
#include "datatypes/block.h"
#include "datatypes/ownership.h"
#include "objects_fixture.h"

namespace mox::test {
namespace {

class OwnershipTest : public RuntimeTest {
  protected:
    // An owner object with a field f holding a new block, pushed.
    Cell* make_owner() {
        return eval_text("make object! [f: copy [] on-deep-change*: func [o w t a n i p] []]");
    }
    Cell* field(Cell* owner) { return context::value_ptr(owner->data1, 0); }
    Cell* field_word(Cell* owner) { return context::symbol_at(owner->data1, 0); }
    static bool owned(const Cell* series) {
        return (memory::buffer_of(series->data2)->flags & memory::SERIES_OWNED) != 0;
    }
};

TEST_F(OwnershipTest, DeeplyNestedBlocksBindAndUnbindWithoutRecursion) {
    Cell* owner = make_owner();
    Cell* outer = block::make_at(stack::push_cell(), 1);
    {
        collector::Hold hold;
        Cell* inner = stack::push(outer);
        for (int i = 0; i < 100000; i++) {
            Cell* next = block::make_at(stack::push_cell(), 1);
            block::ms_append(inner, next);
            *inner = *next;
            stack::pop(1);
        }
    }
    Cell* word = stack::push(field_word(owner));
    ownership::bind(outer, owner, word);
    Cell* deepest = stack::push(outer);
    while (block::abs_length(deepest) > 0) *deepest = *block::ms_abs_at(deepest, 0);
    EXPECT_TRUE(owned(deepest));
    Cell* record = ownership::owner_of(deepest->data2);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record[0].data1, owner->data1);
    ownership::unbind(outer);
    EXPECT_FALSE(owned(deepest));
    EXPECT_EQ(ownership::owner_of(deepest->data2), nullptr);
}

TEST_F(OwnershipTest, CyclicBlockAndFirstOwnerWins) {
    Cell* first = make_owner();
    Cell* second = make_owner();
    Cell* b = block::make_at(stack::push_cell(), 2);
    block::ms_append(b, b);
    Cell* w1 = stack::push(field_word(first));
    Cell* w2 = stack::push(field_word(second));
    ownership::bind(b, first, w1);
    ownership::bind(b, second, w2);
    Cell* record = ownership::owner_of(b->data2);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record[0].data1, first->data1);
}

TEST_F(OwnershipTest, RecordsOfDeadOwnersAreDropped) {
    Cell* keep = stack::push_cell();
    {
        Cell* saved = stack::top;
        Cell* owner = make_owner();
        *keep = *field(owner);
        ASSERT_TRUE(owned(keep));
        stack::top = saved;
    }
    collector::do_cycle();
    EXPECT_EQ(ownership::owner_of(keep->data2), nullptr);
    Cell* owner = make_owner();
    Cell* word = stack::push(field_word(owner));
    ownership::bind(keep, owner, word);
    ASSERT_NE(ownership::owner_of(keep->data2), nullptr);
}

TEST_F(OwnershipTest, TableFollowsTheCollector) {
    Cell* owner = make_owner();
    Cell* series = stack::push(field(owner));
    const bool stress = collector::stress;
    collector::stress = true;
    for (int i = 0; i < 3; i++) {
        block::make_at(stack::push_cell(), 64);
        collector::do_cycle();
    }
    collector::stress = stress;
    Cell* record = ownership::owner_of(series->data2);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record[0].data1, owner->data1);
    EXPECT_EQ(record[1].data2, field_word(owner)->data2);
}

} // namespace
} // namespace mox::test
