// The path family and paren!: their molds and forms, making and converting,
// and the block actions they share or lack. The test notation and helpers
// come from block_test.cpp.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/actions.h"
#include "core/datatype.h"
#include "core/stack.h"
#include "datatypes/block.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/word.h"

#include "block_fixture.h"
#include "runtime_fixture.h"

namespace mox::test {

namespace {

class PathTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() { setup_blocks(); }
};

TEST_F(PathTest, MoldsAndForms) {
    struct {
        const char* values;
        uint32_t type;
        uint32_t index;
        const char* mold;
        const char* form;
    } cases[] = {
        {"a b c", TYPE_PATH, 0, "a/b/c", "a/b/c"},
        {"a b c", TYPE_LIT_PATH, 0, "'a/b/c", "a/b/c"},
        {"a b", TYPE_SET_PATH, 0, "a/b:", "a/b"},
        {"a b", TYPE_GET_PATH, 0, ":a/b", "a/b"},
        {"a b c", TYPE_PATH, 1, "b/c", "b/c"},
        {"", TYPE_PATH, 0, "", ""},
        {"a 1 \"s\"", TYPE_PATH, 0, "a/1/\"s\"", "a/1/s"},
        {"a (b c)", TYPE_PATH, 0, "a/(b c)", "a/b c"},
        {"a b/c", TYPE_PATH, 0, "a/b/c", "a/b/c"},
    };
    for (auto& c : cases) {
        Cell* saved = stack::top;
        Cell* p = read_values(c.values, c.type);
        p->data1 = c.index;
        int32_t left = 0;
        std::string text = mold_of(p, false, false, -1, &left);
        EXPECT_EQ(text, c.mold) << c.values;
        EXPECT_EQ(left, INT32_MAX - static_cast<int32_t>(text.size())) << c.values;
        EXPECT_EQ(form_of(p), c.form) << c.values;
        stack::top = saved;
    }
}

TEST_F(PathTest, PartLimitStopsAfterAValue) {
    Cell* p = read_values("abc def ghi", TYPE_PATH);
    int32_t left = 0;
    // The allowance is checked after each value; a value's own mold stops at
    // the allowance.
    EXPECT_EQ(mold_of(p, false, false, 5, &left), "abc/d");
    EXPECT_LT(left, 1);
    Cell* lit = read_values("abc def ghi", TYPE_LIT_PATH);
    EXPECT_EQ(mold_of(lit, false, false, 4, &left), "'abc");
    EXPECT_EQ(left, 0);
}

TEST_F(PathTest, SelfContainingPath) {
    Cell* p = read_values("a", TYPE_PATH);
    block::ms_append(p, p);
    EXPECT_EQ(mold_of(p), "a/...");
    Cell* holder = read_values("x", TYPE_BLOCK);
    block::ms_append(holder, p);
    EXPECT_EQ(mold_of(holder), "[x a/...]");
}

TEST_F(PathTest, Paren) {
    Cell* p = read_values("a b", TYPE_PAREN);
    EXPECT_EQ(mold_of(p), "(a b)");
    EXPECT_EQ(mold_of(p, true, false, -1, nullptr), "a b");
    EXPECT_EQ(form_of(p), "a b");
    Cell* lines = read_values("\na [\nb]", TYPE_PAREN);
    EXPECT_EQ(mold_of(lines), "(\n    a [\n        b\n    ]\n)");
    EXPECT_EQ(mold_of(lines, false, true, -1, nullptr), "(a [b])");
}

TEST_F(PathTest, MakeAndTo) {
    Cell dt;
    Cell* proto = stack::push(make_datatype(&dt, TYPE_PATH));
    Cell* zero = make_integer(stack::push_cell(), 0);
    Cell* empty = path::make(proto, zero, TYPE_PATH);
    EXPECT_EQ(type_of(empty), TYPE_PATH);
    EXPECT_EQ(block::abs_length(empty), 0u);
    EXPECT_GE(block::buffer_of(empty)->size, sizeof(Cell));
    EXPECT_EQ(mold_of(empty), "");
    Cell* room = path::make(proto, make_float(stack::push_cell(), 3.9), TYPE_PATH);
    EXPECT_GE(block::buffer_of(room)->size, 3 * sizeof(Cell));

    Cell* src = read_values("a b", TYPE_BLOCK);
    Cell* set = path::make(proto, src, TYPE_SET_PATH);
    EXPECT_EQ(mold_of(set), "a/b:");
    EXPECT_NE(set->data2, src->data2);
    EXPECT_MOX_ERROR(err::bad_make_arg, path::make(proto, stack::push(word::load("x")), TYPE_PATH));

    Cell* typeset = stack::push_cell();
    *typeset = Cell{TYPE_TYPESET, 0, 0, 0};
    Cell* one = path::to(proto, typeset, TYPE_PATH);
    EXPECT_EQ(block::abs_length(one), 1u);
    EXPECT_EQ(type_of(block::ms_abs_at(one, 0)), TYPE_TYPESET);
    EXPECT_EQ(mold_of(path::to(proto, make_integer(stack::push_cell(), 5), TYPE_PATH)), "5");
    EXPECT_EQ(mold_of(path::to(proto, src, TYPE_LIT_PATH)), "'a/b");
}

TEST_F(PathTest, SlotsOfTheFamily) {
    for (uint32_t t : {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}) {
        for (Action a : {A_RANDOM, A_SORT, A_TRIM})
            EXPECT_EQ(datatype::slot_of(t, a), nullptr) << t;
        for (Action a : {A_FIND, A_APPEND, A_PICK, A_COPY, A_COMPARE, A_EVAL_PATH, A_MAKE})
            EXPECT_NE(datatype::slot_of(t, a), nullptr) << t << " " << a;
    }
    EXPECT_EQ(datatype::slot_of(TYPE_PAREN, A_TRIM), nullptr);
    EXPECT_NE(datatype::slot_of(TYPE_PAREN, A_SORT), nullptr);
    EXPECT_NE(datatype::slot_of(TYPE_PAREN, A_RANDOM), nullptr);

    Cell* p = read_values("b a", TYPE_PATH);
    Cell* word = stack::push(word::load("sort"));
    EXPECT_MOX_ERROR(err::expect_arg, {
        stack::mark_native(word);
        actions::sort(p, false, nullptr, nullptr, nullptr, false, false, false);
    });
    Cell* paren = read_values("b a", TYPE_PAREN);
    actions::sort(paren, false, nullptr, nullptr, nullptr, false, false, false);
    EXPECT_EQ(mold_of(paren), "(a b)");
}

TEST_F(PathTest, SharedBlockActions) {
    Cell* p = read_values("a b c", TYPE_GET_PATH);
    Cell* b = stack::push(word::load("b"));
    Cell* found = actions::find(p, b, nullptr, false, false, false, false, nullptr, nullptr, false,
                                false, false, false);
    EXPECT_EQ(type_of(found), TYPE_GET_PATH);
    EXPECT_EQ(found->data1, 1u);
    actions::append(p, stack::push(word::load("d")), -1, false, 1);
    EXPECT_EQ(mold_of(p), ":a/b/c/d");
    Cell* dest = make_unset(stack::push_cell());
    actions::copy(p, dest, nullptr, false, nullptr);
    EXPECT_EQ(mold_of(dest), ":a/b/c/d");
    EXPECT_NE(dest->data2, p->data2);
    Cell* r =
        actions::eval_path(p, b, nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false);
    EXPECT_EQ(mold_of(stack::push(r)), "c");
}

TEST_F(PathTest, PushRoutines) {
    Cell* blk = read_values("a b", TYPE_BLOCK);
    Cell* before = stack::top;
    Cell* pushed = lit_path::push(blk);
    EXPECT_EQ(pushed, before);
    EXPECT_EQ(type_of(blk), TYPE_LIT_PATH);
    EXPECT_EQ(mold_of(pushed), "'a/b");
    EXPECT_EQ(mold_of(get_path::push(blk)), ":a/b");
    EXPECT_EQ(mold_of(set_path::push(blk)), "a/b:");
    EXPECT_EQ(mold_of(path::push(blk)), "a/b");
    EXPECT_EQ(mold_of(paren::push(blk)), "(a b)");
    Cell* slot = make_unset(stack::push_cell());
    path::make_at(slot, 4);
    EXPECT_EQ(type_of(slot), TYPE_PATH);
    EXPECT_EQ(block::abs_length(slot), 0u);
}

} // namespace
} // namespace mox::test
