// The external-resource registry and the value-slot pool.
#include <vector>

#include "core/collector.h"
#include "core/externals.h"
#include "core/value-pool.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

std::vector<uintptr_t> released;
void record_release(uintptr_t object) { released.push_back(object); }

class ExternalsTest : public test::RuntimeTest {
  protected:
    static uint32_t kind() {
        static uint32_t k = externals::register_kind("test", &record_release);
        return k;
    }
    void SetUp() override {
        test::RuntimeTest::SetUp();
        released.clear();
    }
};

TEST_F(ExternalsTest, UnmarkedRecordIsReleasedOnceAndItsIndexReused) {
    uint32_t h = externals::store(0x1111, kind());
    collector::do_cycle();
    EXPECT_EQ(released, std::vector<uintptr_t>{0x1111});
    collector::do_cycle();
    EXPECT_EQ(released.size(), 1u);
    uint32_t h2 = externals::store(0x2222, kind());
    EXPECT_EQ(h2 & externals::INDEX_MASK, h & externals::INDEX_MASK);
    externals::remove(h2, false);
}

TEST_F(ExternalsTest, MarkedByAHandleValueSurvives) {
    Cell* handle = stack::push_cell();
    *handle = Cell{TYPE_HANDLE, 0, 0x3333, externals::store(0x3333, kind())};
    collector::do_cycle();
    collector::do_cycle();
    EXPECT_TRUE(released.empty());
    externals::remove(handle->data3, true);
    EXPECT_EQ(released, std::vector<uintptr_t>{0x3333});
}

// A handle kept after its record was removed and reused can never reach
// the new resource.
TEST_F(ExternalsTest, StaleHandleTouchesNothing) {
    uint32_t old = externals::store(0x4444, kind());
    externals::remove(old, false);
    uint32_t fresh = externals::store(0x5555, kind());
    ASSERT_EQ(old & externals::INDEX_MASK, fresh & externals::INDEX_MASK);
    EXPECT_EQ(externals::mark(old, 0x6666), 0);
    externals::replace(old, 0x7777);
    externals::remove(old, true);
    EXPECT_TRUE(released.empty());
    ASSERT_NE(externals::entry(fresh), nullptr);
    EXPECT_EQ(externals::entry(fresh)->object, 0x5555u);
    externals::remove(fresh, false);
}

TEST_F(ExternalsTest, ReplaceReleasesOnlyADifferentObject) {
    uint32_t h = externals::store(0x10, kind());
    externals::replace(h, 0x10);
    EXPECT_TRUE(released.empty());
    externals::replace(h, 0x20);
    EXPECT_EQ(released, std::vector<uintptr_t>{0x10});
    externals::remove(h, false);
}

TEST_F(ExternalsTest, TableDoublesAndEarlierHandlesStayValid) {
    uint32_t start = externals::capacity();
    std::vector<uint32_t> handles;
    for (uint32_t i = 0; i < start; i++) handles.push_back(externals::store(1000 + i, kind()));
    EXPECT_EQ(externals::capacity(), start * 2);
    for (uint32_t i = 0; i < start; i++) {
        ASSERT_NE(externals::entry(handles[i]), nullptr);
        EXPECT_EQ(externals::entry(handles[i])->object, 1000 + i);
    }
    for (uint32_t h : handles) externals::remove(h, false);
    EXPECT_TRUE(released.empty());
}

TEST_F(ExternalsTest, KindsTableIsBounded) {
    // The program registers three kinds; the table holds twenty.
    uint32_t last = 0;
    for (int i = 0; i < 30; i++) last = externals::register_kind("extra", nullptr);
    EXPECT_EQ(last, 0u);
}

class ValuePoolTest : public test::RuntimeTest {};

TEST_F(ValuePoolTest, SlotsAreReusedLastFreedFirstAndDoubleFreeIsRefused) {
    Cell v;
    make_integer(&v, 42);
    int32_t a = value_pool::alloc(&v);
    int32_t b = value_pool::alloc(&v);
    ASSERT_NE(value_pool::get(a), nullptr);
    EXPECT_EQ(get_integer(value_pool::get(a)), 42);
    value_pool::free(a);
    value_pool::free(a); // refused: already free
    EXPECT_EQ(value_pool::get(a), nullptr);
    EXPECT_EQ(value_pool::alloc(&v), a);
    EXPECT_NE(value_pool::alloc(&v), a);
    value_pool::free(0); // ignored
    value_pool::free(-5);
    value_pool::free(1 << 30);
    EXPECT_EQ(value_pool::get(0), nullptr);
    EXPECT_EQ(value_pool::get(1 << 30), nullptr);
    (void)b;
}

TEST_F(ValuePoolTest, PoolDoublesAndKeepsSlots) {
    uint32_t cap = value_pool::capacity();
    std::vector<int32_t> slots;
    for (uint32_t i = 0; i <= cap; i++) {
        Cell v;
        make_integer(&v, static_cast<int32_t>(i));
        slots.push_back(value_pool::alloc(&v));
    }
    EXPECT_EQ(value_pool::capacity(), cap * 2);
    collector::do_cycle();
    for (uint32_t i = 0; i <= cap; i++) {
        ASSERT_NE(value_pool::get(slots[i]), nullptr);
        EXPECT_EQ(get_integer(value_pool::get(slots[i])), static_cast<int32_t>(i));
    }
    for (int32_t s : slots) value_pool::free(s);
}

} // namespace
} // namespace mox
