// The output-hook lists: growth, removal, calling order, and what a print
// hook receives.
#include "core/dyn-print.h"

#include <gtest/gtest.h>

#include <string>

#include "core/memory.h"
#include "runtime_fixture.h"

namespace mox {
namespace {

std::string calls; // which hooks ran, in order

template <int N> void print_hook(Cell*, bool new_line) {
    calls += "p" + std::to_string(N) + (new_line ? "n " : " ");
}

template <int N> void write_hook(const char* utf8, size_t length, int flag) {
    calls += "w" + std::to_string(N) + ":" + std::string(utf8, length) + ":" +
             std::to_string(flag) + " ";
}

class HookLists : public testing::Test {
  protected:
    void SetUp() override {
        dyn_print::init();
        calls.clear();
    }
    void TearDown() override { dyn_print::init(); }

    std::string write(const char* text) {
        calls.clear();
        dyn_print::call_write_hooks(text, std::char_traits<char>::length(text), 0);
        return calls;
    }
};

TEST_F(HookLists, GrowByFive) {
    EXPECT_EQ(dyn_print::print_hook_capacity(), 5u);
    dyn_print::add(print_hook<1>, nullptr);
    dyn_print::add(print_hook<2>, nullptr);
    dyn_print::add(print_hook<3>, nullptr);
    EXPECT_EQ(dyn_print::print_hook_count(), 3u);
    EXPECT_EQ(dyn_print::print_hook_capacity(), 5u);
    dyn_print::add(print_hook<4>, nullptr);
    dyn_print::add(print_hook<5>, nullptr);
    EXPECT_EQ(dyn_print::print_hook_capacity(), 5u);
    dyn_print::add(print_hook<6>, nullptr);
    EXPECT_EQ(dyn_print::print_hook_capacity(), 10u);
    EXPECT_EQ(dyn_print::print_hook_count(), 6u);
    EXPECT_EQ(dyn_print::write_hook_count(), 0u);

    // The entries survive the move to the larger array, in order.
    Cell none{TYPE_NONE, 0, 0, 0};
    dyn_print::call_print_hooks(&none, true);
    EXPECT_EQ(calls, "p1n p2n p3n p4n p5n p6n ");
}

TEST_F(HookLists, CalledInRegistrationOrder) {
    dyn_print::add(nullptr, write_hook<2>);
    dyn_print::add(nullptr, write_hook<1>);
    dyn_print::add(nullptr, write_hook<3>);
    EXPECT_EQ(write("hi"), "w2:hi:0 w1:hi:0 w3:hi:0 ");
    EXPECT_EQ(dyn_print::print_hook_count(), 0u);
}

TEST_F(HookLists, Removal) {
    dyn_print::add(print_hook<1>, write_hook<1>);
    dyn_print::add(print_hook<2>, write_hook<2>);
    dyn_print::add(nullptr, write_hook<3>);
    dyn_print::add(nullptr, write_hook<1>); // a second registration of the same hook

    struct Case {
        const char* name;
        dyn_print::WriteHook remove;
        const char* left;
    } cases[] = {
        {"never added", write_hook<4>, "w1:x:0 w2:x:0 w3:x:0 w1:x:0 "},
        {"null", nullptr, "w1:x:0 w2:x:0 w3:x:0 w1:x:0 "},
        {"middle entry, later ones move down", write_hook<2>, "w1:x:0 w3:x:0 w1:x:0 "},
        {"first of two equal entries", write_hook<1>, "w3:x:0 w1:x:0 "},
        {"the other", write_hook<1>, "w3:x:0 "},
        {"again: no longer there", write_hook<1>, "w3:x:0 "},
    };
    for (const Case& c : cases) {
        dyn_print::remove(nullptr, c.remove);
        EXPECT_EQ(write("x"), c.left) << c.name;
    }
    EXPECT_EQ(dyn_print::write_hook_count(), 1u);
    EXPECT_EQ(dyn_print::print_hook_count(), 2u);

    dyn_print::remove(print_hook<1>, nullptr);
    calls.clear();
    Cell none{TYPE_NONE, 0, 0, 0};
    dyn_print::call_print_hooks(&none, false);
    EXPECT_EQ(calls, "p2 ");
}

// ---------------------------------------------------------------------------
// What a print hook sees of a string
// ---------------------------------------------------------------------------

Cell seen;
void keep_seen(Cell* text, bool) { seen = *text; }

class PrintHookText : public test::RuntimeTest {};

TEST_F(PrintHookText, StringPositionIsClampedToItsTail) {
    node_t node = memory::alloc_series(16, 1, 0);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->tail_ptr(), "abc", 3);
    b->tail += 3;
    Cell text;
    make_series(&text, TYPE_STRING, node, 10);
    collector::Root keep(&text);

    dyn_print::init();
    dyn_print::add(keep_seen, nullptr);
    struct Case {
        uint32_t index;
        uint32_t seen;
    } cases[] = {{0, 0}, {2, 2}, {3, 3}, {4, 3}, {10, 3}};
    for (const Case& c : cases) {
        text.data1 = c.index;
        dyn_print::call_print_hooks(&text, true);
        EXPECT_EQ(seen.data1, c.seen) << "index " << c.index;
        EXPECT_EQ(seen.data2, text.data2);
        EXPECT_EQ(type_of(&seen), TYPE_STRING);
    }
    EXPECT_EQ(text.data1, 10u) << "the caller's value is left alone";
    dyn_print::init();
}

} // namespace
} // namespace mox
